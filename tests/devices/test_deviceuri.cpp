// The host discovery takes from a socket queue's device URI: the printer it asks.

#include "devices/DeviceUri.h"

#include <QtTest>

class TestDeviceUri : public QObject
{
    Q_OBJECT

private slots:
    void hostOf_data();
    void hostOf();
};

void TestDeviceUri::hostOf_data()
{
    QTest::addColumn<QString>("uri");
    QTest::addColumn<QString>("host");
    QTest::addColumn<bool>("found");

    QTest::newRow("port") << "socket://10.0.0.5:9100"
                          << "10.0.0.5" << true;
    QTest::newRow("query") << "socket://10.0.0.5?waiteof=false"
                           << "10.0.0.5" << true;
    QTest::newRow("path") << "orvosocket://printer.lan/x"
                          << "printer.lan" << true;
    QTest::newRow("IPv6") << "socket://[fe80::1%25eth0]:9100"
                          << "fe80::1%25eth0" << true;
    QTest::newRow("IPv6 unclosed") << "socket://[fe80::1"
                                   << "fe80::1" << true;
    QTest::newRow("empty host") << "socket://:9100"
                                << "" << true;
    QTest::newRow("no scheme separator") << "socket:10.0.0.5"
                                         << "" << false;
}

void TestDeviceUri::hostOf()
{
    QFETCH(QString, uri);
    QFETCH(QString, host);
    QFETCH(bool, found);
    bool wasFound = !found;
    QCOMPARE(DeviceUri::HostOf(uri, 0, &wasFound), host);
    QCOMPARE(wasFound, found);
}

QTEST_APPLESS_MAIN(TestDeviceUri)
#include "test_deviceuri.moc"
