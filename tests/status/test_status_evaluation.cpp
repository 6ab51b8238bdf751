#include "protocol/StatusCodeTables.h"
#include "service/FixedPaths.h"
#include "status/StatusEvaluator.h"
#include "status/TrdGetPrinterStatus.h"
#include "tests/replies/ReplyBuilder.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

namespace {
ino_t Inode(const QString& path)
{
    struct stat st = {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_ino : 0;
}

QByteArray ReadAll(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return QByteArray("<missing>");
    }
    return file.readAll();
}

void WriteAll(const QString& path, const QByteArray& data)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(data), qint64(data.size()));
}

int Evaluate(TrdGetPrinterStatus& worker, QByteArray reply)
{
    return worker.CheckPrinterStatus(reinterpret_cast<unsigned char*>(reply.data()),
                                     static_cast<unsigned long>(reply.size()));
}

QByteArray ReadyReply()
{
    return ReplyBuilder()
        .setInfo1("Orvo Q7020DN")
        .setInfo2("firmware 1.2")
        .setInfo3("Büro")
        .setStatusCode(3)
        .setStatusText("Bereit")
        .addSupply(0x0000, "Toner")
        .addSupplyValue(0x1000, 80, 2)
        .build();
}

// A state that no reply of these tests produces, to see what a reply replaces.
stPrinterState EarlierState()
{
    stPrinterState state;
    state.strInfo1 = QStringLiteral("earlier info 1");
    state.strInfo2 = QStringLiteral("earlier info 2");
    state.strInfo3 = QStringLiteral("earlier info 3");
    state.iStatus = 11;
    state.strStatusText = QStringLiteral("earlier");
    state.iErrorCount1 = 2;
    state.iErrorCount2 = 1;
    state.listError1 = {ERROR_STATUS_1, ERROR_STATUS_4};
    state.listError2 = {ERROR_STATUS_3};
    state.strSuppliesText = QStringLiteral("earlier toner");
    state.iTonerType = 7;
    state.ulSupply1000 = 1;
    state.ulSupply1001 = 2;
    state.ulSupply1002 = 3;
    state.ulSupply1003 = 4;
    state.ulSupply1004 = 5;
    state.ulSupply1100 = 6;
    state.ulSupply1101 = 7;
    state.ulSupply1102 = 8;
    state.iFailCount = 4;
    return state;
}

void CompareStates(const stPrinterState& a, const stPrinterState& b)
{
    QCOMPARE(a.strInfo1, b.strInfo1);
    QCOMPARE(a.strInfo2, b.strInfo2);
    QCOMPARE(a.strInfo3, b.strInfo3);
    QCOMPARE(a.iStatus, b.iStatus);
    QCOMPARE(a.strStatusText, b.strStatusText);
    QCOMPARE(a.iErrorCount1, b.iErrorCount1);
    QCOMPARE(a.iErrorCount2, b.iErrorCount2);
    QCOMPARE(a.listError1, b.listError1);
    QCOMPARE(a.listError2, b.listError2);
    QCOMPARE(a.strSuppliesText, b.strSuppliesText);
    QCOMPARE(a.iTonerType, b.iTonerType);
    QCOMPARE(a.ulSupply1000, b.ulSupply1000);
    QCOMPARE(a.ulSupply1001, b.ulSupply1001);
    QCOMPARE(a.ulSupply1002, b.ulSupply1002);
    QCOMPARE(a.ulSupply1003, b.ulSupply1003);
    QCOMPARE(a.ulSupply1004, b.ulSupply1004);
    QCOMPARE(a.ulSupply1100, b.ulSupply1100);
    QCOMPARE(a.ulSupply1101, b.ulSupply1101);
    QCOMPARE(a.ulSupply1102, b.ulSupply1102);
    QCOMPARE(a.iFailCount, b.iFailCount);
}
} // namespace

Q_DECLARE_METATYPE(QList<enErrorStatus>)

class TestStatusEvaluation : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir* m_root = nullptr;
    TrdGetPrinterStatus* m_worker = nullptr;
    QString m_strFile;

private slots:
    void init()
    {
        m_root = new QTemporaryDir;
        QVERIFY(m_root->isValid());
        FixedPaths::SetRootForTesting(m_root->path());
        m_worker = new TrdGetPrinterStatus;
        m_worker->Printer().stInfo.strName = QStringLiteral("Büro-Q7020");
        m_strFile = FixedPaths::CfgDir() + QStringLiteral("Büro-Q7020.dat");
    }

    void cleanup()
    {
        delete m_worker;
        m_worker = nullptr;
        FixedPaths::SetRootForTesting(QString());
        delete m_root;
        m_root = nullptr;
    }

    void statusFilePath()
    {
        QCOMPARE(StatusEvaluator::StatusFilePath(QStringLiteral("Q")),
                 m_root->path() + QStringLiteral("/opt/orvo/q70_series_printer/cfg/Q.dat"));
    }

    void firstReplyRewritesOldFile_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<int>("result");
        QTest::newRow("decoded reply") << ReadyReply() << 0;
        QTest::newRow("undecodable reply") << QByteArray(20, '\x5a') << -1;
        QTest::newRow("header only") << QByteArray(7, '\0') << -1;
        QTest::newRow("empty reply") << QByteArray() << -1;
    }
    void firstReplyRewritesOldFile()
    {
        QFETCH(QByteArray, reply);
        QFETCH(int, result);
        QVERIFY(QDir().mkpath(FixedPaths::CfgDir()));
        WriteAll(m_strFile, QByteArray("status file of an earlier run"));
        QCOMPARE(Evaluate(*m_worker, reply), result);
        QCOMPARE(ReadAll(m_strFile), reply);
    }

    void firstReplyCreatesDirectoryAndFile()
    {
        QVERIFY(!QDir(FixedPaths::CfgDir()).exists());
        QCOMPARE(Evaluate(*m_worker, ReadyReply()), 0);
        QCOMPARE(ReadAll(m_strFile), ReadyReply());
    }

    // The file is tampered with after a reply: it keeps the tampered content exactly when the
    // next reply is not written. A file from an earlier run makes the first reply go through
    // the comparison, so it is remembered.
    void secondReplyWrittenOnlyWhenChanged_data()
    {
        QTest::addColumn<QByteArray>("first");
        QTest::addColumn<QByteArray>("second");
        QTest::addColumn<bool>("written");
        const QByteArray ready = ReadyReply();
        QByteArray lastByteChanged = ready;
        lastByteChanged[lastByteChanged.size() - 1] = char(lastByteChanged.back() ^ 1);
        QTest::newRow("identical decoded") << ready << ready << false;
        QTest::newRow("identical undecodable")
            << QByteArray(20, 'x') << QByteArray(20, 'x') << false;
        QTest::newRow("last byte differs") << ready << lastByteChanged << true;
        QTest::newRow("shorter, same start") << ready << ready.left(ready.size() - 1) << true;
        QTest::newRow("longer, same start") << ready.left(20) << ready << true;
        QTest::newRow("empty after reply") << ready << QByteArray() << true;
    }
    void secondReplyWrittenOnlyWhenChanged()
    {
        QFETCH(QByteArray, first);
        QFETCH(QByteArray, second);
        QFETCH(bool, written);
        QVERIFY(QDir().mkpath(FixedPaths::CfgDir()));
        WriteAll(m_strFile, QByteArray("status file of an earlier run"));
        Evaluate(*m_worker, first);
        QCOMPARE(ReadAll(m_strFile), first);
        // Same size: only the comparison with the remembered reply can tell it apart.
        const QByteArray tampered(first.size(), 't');
        WriteAll(m_strFile, tampered);
        const ino_t inode = Inode(m_strFile);
        Evaluate(*m_worker, second);
        QCOMPARE(ReadAll(m_strFile), written ? second : tampered);
        // Rewritten in place: a reader watching the file stays attached to it.
        QCOMPARE(Inode(m_strFile), inode);
    }

    // A reply written because the file was missing is remembered all the same.
    void missingFileIsWrittenAndRemembered()
    {
        const QByteArray reply = ReadyReply();
        Evaluate(*m_worker, reply);
        QCOMPARE(ReadAll(m_strFile), reply);
        WriteAll(m_strFile, QByteArray(reply.size(), 't'));
        Evaluate(*m_worker, reply);
        QCOMPARE(ReadAll(m_strFile), QByteArray(reply.size(), 't'));
    }

    // A worker that takes up another queue (one ahead of it in the list went) does not take its
    // former queue's reply for what the new queue's file holds.
    void otherQueueAtPositionIsWritten()
    {
        const QByteArray reply = ReadyReply();
        Evaluate(*m_worker, reply);
        const QString other = FixedPaths::CfgDir() + QStringLiteral("C.dat");
        WriteAll(other, QByteArray(reply.size(), 't'));
        m_worker->Printer().stInfo.strName = QStringLiteral("C");
        Evaluate(*m_worker, reply);
        QCOMPARE(ReadAll(other), reply);
    }

    // An empty reply (a USB time-out) after a worker's first reply empties the file: the
    // first reply is what it is compared with, not an empty memory.
    void emptyReplyAfterFirstReplyEmptiesFile()
    {
        Evaluate(*m_worker, ReadyReply());
        QCOMPARE(Evaluate(*m_worker, QByteArray()), -1);
        QCOMPARE(ReadAll(m_strFile), QByteArray());
    }

    // A file whose size does not fit the remembered reply does not hold it.
    void fileOfOtherSizeIsRewritten_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QByteArray>("outside");
        QTest::newRow("reply, file cut") << ReadyReply() << ReadyReply().left(10);
        QTest::newRow("empty reply, file not empty") << QByteArray() << QByteArray("old");
    }
    void fileOfOtherSizeIsRewritten()
    {
        QFETCH(QByteArray, reply);
        QFETCH(QByteArray, outside);
        Evaluate(*m_worker, reply);
        WriteAll(m_strFile, outside);
        Evaluate(*m_worker, reply);
        QCOMPARE(ReadAll(m_strFile), reply);
    }

    void fileDeletedBetweenIdenticalRepliesIsWrittenAgain_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::newRow("decoded") << ReadyReply();
        QTest::newRow("undecodable") << QByteArray(20, 'x');
    }
    void fileDeletedBetweenIdenticalRepliesIsWrittenAgain()
    {
        QFETCH(QByteArray, reply);
        QVERIFY(QDir().mkpath(FixedPaths::CfgDir()));
        WriteAll(m_strFile, QByteArray("status file of an earlier run"));
        Evaluate(*m_worker, reply);
        WriteAll(m_strFile, QByteArray(reply.size(), 't'));
        Evaluate(*m_worker, reply);
        QCOMPARE(ReadAll(m_strFile), QByteArray(reply.size(), 't')); // identical: not written
        QVERIFY(QFile::remove(m_strFile));
        Evaluate(*m_worker, reply);
        QCOMPARE(ReadAll(m_strFile), reply);
        // The remembered reply was not disturbed: the same reply again is not written.
        WriteAll(m_strFile, QByteArray(reply.size(), 't'));
        Evaluate(*m_worker, reply);
        QCOMPARE(ReadAll(m_strFile), QByteArray(reply.size(), 't'));
    }

    void undecodableReplyKeepsState_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::newRow("20 bytes of noise") << QByteArray(20, '\x7f');
        QTest::newRow("decodable reply cut to 20 bytes") << ReadyReply().left(20);
        QTest::newRow("decodable reply cut by one byte")
            << ReadyReply().left(ReadyReply().size() - 1);
        QTest::newRow("empty") << QByteArray();
    }
    void undecodableReplyKeepsState()
    {
        QFETCH(QByteArray, reply);
        m_worker->Printer().stState = EarlierState();
        QCOMPARE(Evaluate(*m_worker, reply), -1);
        QCOMPARE(ReadAll(m_strFile), reply);
        CompareStates(m_worker->Printer().stState, EarlierState());
    }

    void decodedReplyReplacesErrorsAndFailCount_data()
    {
        QTest::addColumn<QVector<quint16>>("codes1");
        QTest::addColumn<QVector<quint16>>("codes2");
        QTest::addColumn<QList<enErrorStatus>>("errors1");
        QTest::addColumn<QList<enErrorStatus>>("errors2");
        QTest::newRow("no codes") << QVector<quint16>() << QVector<quint16>()
                                  << QList<enErrorStatus>() << QList<enErrorStatus>();
        QTest::newRow("codes in list 1 only")
            << QVector<quint16>{0x1200} << QVector<quint16>()
            << QList<enErrorStatus>{ERROR_STATUS_1} << QList<enErrorStatus>();
        QTest::newRow("codes in both, one unknown")
            << QVector<quint16>{0x110D, 0x0001} << QVector<quint16>{0x2200}
            << QList<enErrorStatus>{ERROR_STATUS_11, ERROR_STATUS_NONE}
            << QList<enErrorStatus>{ERROR_STATUS_3};
    }
    void decodedReplyReplacesErrorsAndFailCount()
    {
        QFETCH(QVector<quint16>, codes1);
        QFETCH(QVector<quint16>, codes2);
        QFETCH(QList<enErrorStatus>, errors1);
        QFETCH(QList<enErrorStatus>, errors2);
        m_worker->Printer().stState = EarlierState();
        const QByteArray reply =
            ReplyBuilder().setStatusCode(1).setErrorCodes1(codes1).setErrorCodes2(codes2).build();
        QCOMPARE(Evaluate(*m_worker, reply), 0);
        const stPrinterState& state = m_worker->Printer().stState;
        QCOMPARE(state.iFailCount, 0);
        QCOMPARE(state.listError1, errors1);
        QCOMPARE(state.listError2, errors2);
        QCOMPARE(state.iErrorCount1, errors1.size());
        QCOMPARE(state.iErrorCount2, errors2.size());
        QCOMPARE(state.iStatus, GetPrinterStatusEnum(1));
    }

    void decodedReplyWithoutSuppliesZeroesThem()
    {
        m_worker->Printer().stState = EarlierState();
        QCOMPARE(Evaluate(*m_worker, ReplyBuilder().build()), 0);
        stPrinterState expected; // every field as a reply without content decodes
        expected.iStatus = GetPrinterStatusEnum(0);
        CompareStates(m_worker->Printer().stState, expected);
    }

    void decodedReplyFillsEveryField()
    {
        m_worker->Printer().stState = EarlierState();
        const QByteArray reply = ReplyBuilder()
                                     .setInfo1("Orvo Q7020DN")
                                     .setInfo2("v2")
                                     .setInfo3(QByteArray("Büro\0rest", 10))
                                     .setStatusCode(17)
                                     .setStatusText("打印中")
                                     .setErrorCodes1({0x1203})
                                     .addSupply(0x0000, "Toner TN-7")
                                     .addSupplyValue(0x0001, 2, 4)
                                     .addSupplyValue(0x1000, 10, 2)
                                     .addSupplyValue(0x1001, 11, 2)
                                     .addSupplyValue(0x1002, 12, 2)
                                     .addSupplyValue(0x1003, 13, 4)
                                     .addSupplyValue(0x1004, 14, 4)
                                     .addSupplyValue(0x1100, 15, 2)
                                     .addSupplyValue(0x1101, 16, 4)
                                     .addSupplyValue(0x1102, 17, 4)
                                     .build();
        QCOMPARE(Evaluate(*m_worker, reply), 0);
        const stPrinterState& state = m_worker->Printer().stState;
        QCOMPARE(state.strInfo1, QStringLiteral("Orvo Q7020DN"));
        QCOMPARE(state.strInfo2, QStringLiteral("v2"));
        QCOMPARE(state.strInfo3, QStringLiteral("Büro")); // up to the first zero byte
        QCOMPARE(state.iStatus, GetPrinterStatusEnum(17));
        QCOMPARE(state.strStatusText, QStringLiteral("打印中"));
        QCOMPARE(state.listError1, QList<enErrorStatus>{ERROR_STATUS_2});
        QCOMPARE(state.strSuppliesText, QStringLiteral("Toner TN-7"));
        QCOMPARE(state.iTonerType, GetTonerTypeEnum(2));
        QCOMPARE(state.ulSupply1000, quint64(10));
        QCOMPARE(state.ulSupply1001, quint64(11));
        QCOMPARE(state.ulSupply1002, quint64(12));
        QCOMPARE(state.ulSupply1003, quint64(13));
        QCOMPARE(state.ulSupply1004, quint64(14));
        QCOMPARE(state.ulSupply1100, quint64(15));
        QCOMPARE(state.ulSupply1101, quint64(16));
        QCOMPARE(state.ulSupply1102, quint64(17));
        QCOMPARE(state.iFailCount, 0);
    }

    // The install root cannot hold directories: no status file, but the state still updates.
    void unwritableCfgDirStillDecodes()
    {
        WriteAll(m_root->path() + QStringLiteral("/opt"), "a file where a directory belongs");
        m_worker->Printer().stState = EarlierState();
        QCOMPARE(Evaluate(*m_worker, ReadyReply()), 0);
        QVERIFY(!QFile::exists(m_strFile));
        QCOMPARE(m_worker->Printer().stState.strStatusText, QStringLiteral("Bereit"));
        QCOMPARE(m_worker->Printer().stState.iFailCount, 0);
    }

    void recvBufChange_data()
    {
        QTest::addColumn<QByteArray>("first");
        QTest::addColumn<QByteArray>("second");
        QTest::addColumn<bool>("firstChanged");
        QTest::addColumn<bool>("secondChanged");
        QTest::newRow("empty twice") << QByteArray() << QByteArray() << false << false;
        QTest::newRow("same bytes") << QByteArray("abc") << QByteArray("abc") << true << false;
        QTest::newRow("same length, other bytes")
            << QByteArray("abc") << QByteArray("abd") << true << true;
        QTest::newRow("zero bytes of other length")
            << QByteArray(7, '\0') << QByteArray(6, '\0') << true << true;
        QTest::newRow("largest reply twice")
            << QByteArray(2048, 'r') << QByteArray(2048, 'r') << true << false;
    }
    void recvBufChange()
    {
        QFETCH(QByteArray, first);
        QFETCH(QByteArray, second);
        QFETCH(bool, firstChanged);
        QFETCH(bool, secondChanged);
        QCOMPARE(m_worker->CheckRecvBufChange(reinterpret_cast<unsigned char*>(first.data()),
                                              static_cast<unsigned long>(first.size())),
                 firstChanged);
        QCOMPARE(m_worker->CheckRecvBufChange(reinterpret_cast<unsigned char*>(second.data()),
                                              static_cast<unsigned long>(second.size())),
                 secondChanged);
    }

    // Larger than anything the channels deliver: never remembered, so never "unchanged".
    void oversizedReplyIsAlwaysChanged()
    {
        QByteArray big(4096, 'b');
        for (int i = 0; i < 2; ++i) {
            QVERIFY(m_worker->CheckRecvBufChange(reinterpret_cast<unsigned char*>(big.data()),
                                                 static_cast<unsigned long>(big.size())));
        }
    }
};

QTEST_GUILESS_MAIN(TestStatusEvaluation)
#include "test_status_evaluation.moc"
