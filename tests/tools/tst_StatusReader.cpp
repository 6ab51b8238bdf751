// The printer list read again and again in one process, as orvo-status --watch reads it.

#include "tools/status/StatusReader.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

class TestStatusReader : public QObject
{
    Q_OBJECT

private slots:
    void listOfSameSizeReadAgain();
};

// The in-memory copy behind each read reuses fd numbers, and QSettings keeps a parsed file by
// path: a list rewritten with the same size within the same millisecond must not come back as the
// earlier one.
void TestStatusReader::listOfSameSizeReadAgain()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const StatusReader reader(dir.path());
    for (int i = 0; i < 50; ++i) {
        const QString name = i % 2 ? QStringLiteral("Office") : QStringLiteral("Lab123");
        QFile list(dir.filePath(QStringLiteral("printerlist.ini")));
        QVERIFY(list.open(QIODevice::WriteOnly | QIODevice::Truncate));
        list.write("[Main]\nCount=1\n\n[printer_0]\nConnectType=2\nName=" + name.toUtf8() + '\n');
        list.close();
        const StatusSnapshot snapshot = reader.Read();
        QVERIFY2(snapshot.stList.bRead, qPrintable(snapshot.stList.strProblem));
        QCOMPARE(snapshot.listPrinters.size(), 1);
        QCOMPARE(snapshot.listPrinters.at(0).strName, name);
    }
}

QTEST_GUILESS_MAIN(TestStatusReader)
#include "tst_StatusReader.moc"
