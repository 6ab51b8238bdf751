// The ring between our CUPS notifier and the service: bytes from a socket, taken only whole.
#include "protocol/DoorbellMessage.h"

#include <QtTest>

class tst_DoorbellMessage : public QObject
{
    Q_OBJECT

private slots:
    void decode_data();
    void decode();
    void encodeRefuses_data();
    void encodeRefuses();
};

void tst_DoorbellMessage::decode_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<QByteArray>("queue");

    QTest::newRow("job event") << QByteArray("orvo-doorbell 1 event 7 12 345\njob-completed\nQ")
                               << true << QByteArray("Q");
    QTest::newRow("server event, no queue")
        << QByteArray("orvo-doorbell 1 event 7 1 345\nserver-started\n") << true << QByteArray();
    QTest::newRow("end") << QByteArray("orvo-doorbell 1 end 7 0 345\n\n") << true << QByteArray();
    QTest::newRow("queue with spaces and bytes of any kind")
        << QByteArray("orvo-doorbell 1 event 1 2 3\nprinter-modified\nB\xc3\xbcro ;&$") << true
        << QByteArray("B\xc3\xbcro ;&$");
    QTest::newRow("empty") << QByteArray() << false << QByteArray();
    QTest::newRow("another version")
        << QByteArray("orvo-doorbell 2 event 1 2 3\ne\nQ") << false << QByteArray();
    QTest::newRow("unknown kind") << QByteArray("orvo-doorbell 1 ring 1 2 3\ne\nQ") << false
                                  << QByteArray();
    QTest::newRow("cut in the numbers")
        << QByteArray("orvo-doorbell 1 event 1 2") << false << QByteArray();
    QTest::newRow("cut before the queue line")
        << QByteArray("orvo-doorbell 1 event 1 2 3\ne") << false << QByteArray();
    QTest::newRow("negative number")
        << QByteArray("orvo-doorbell 1 event -1 2 3\ne\nQ") << false << QByteArray();
    QTest::newRow("number beyond int")
        << QByteArray("orvo-doorbell 1 event 9999999999 2 3\ne\nQ") << false << QByteArray();
    QTest::newRow("third line") << QByteArray("orvo-doorbell 1 event 1 2 3\ne\nQ\nR") << false
                                << QByteArray();
    QTest::newRow("longer than any ring")
        << QByteArray("orvo-doorbell 1 event 1 2 3\ne\n") + QByteArray(600, 'q') << false
        << QByteArray();
}

void tst_DoorbellMessage::decode()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, valid);
    QFETCH(QByteArray, queue);
    stDoorbellMessage message;
    QCOMPARE(stDoorbellMessage::Decode(bytes.constData(), std::size_t(bytes.size()), message),
             valid);
    if (valid) {
        QCOMPARE(QByteArray::fromStdString(message.strQueue), queue);
        // What the notifier encodes is what the service decodes.
        QCOMPARE(QByteArray::fromStdString(message.Encode()), bytes);
    }
}

void tst_DoorbellMessage::encodeRefuses_data()
{
    QTest::addColumn<QByteArray>("queue");
    QTest::newRow("line break in the name") << QByteArray("A\nB");
    QTest::newRow("longer than a datagram") << QByteArray(600, 'q');
}

void tst_DoorbellMessage::encodeRefuses()
{
    QFETCH(QByteArray, queue);
    stDoorbellMessage message;
    message.strEvent = "job-completed";
    message.strQueue = queue.toStdString();
    QVERIFY(message.Encode().empty());
}

QTEST_APPLESS_MAIN(tst_DoorbellMessage)
#include "tst_DoorbellMessage.moc"
