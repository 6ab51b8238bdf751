#include "service/FixedPaths.h"
#include "service/UtilLog.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <thread>

class TestUtilLog : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void offCreatesNothing();
    void lineFormat();
    void longMessageIsCut();
    void rollOverOnlyBeyondLimit();
    void twoThreadsWriteWholeLines();
    void sameSecondReusesStem();

private:
    QStringList LogFiles() const;
    QByteArray ReadAll(const QString& name) const;
    QTemporaryDir* m_dir = nullptr;
};

void TestUtilLog::init()
{
    m_dir = new QTemporaryDir;
    FixedPaths::SetRootForTesting(m_dir->path());
}

void TestUtilLog::cleanup()
{
    UtilLog::SetLogEnable(false);
    FixedPaths::SetRootForTesting(QString());
    delete m_dir;
}

QStringList TestUtilLog::LogFiles() const
{
    return QDir(FixedPaths::LogDir()).entryList(QDir::Files, QDir::Name);
}

QByteArray TestUtilLog::ReadAll(const QString& name) const
{
    QFile file(FixedPaths::LogDir() + name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void TestUtilLog::offCreatesNothing()
{
    for (int i = 0; i < 100; ++i) {
        ORVO_LOG("line %d", i);
    }
    QVERIFY(!QDir(FixedPaths::LogDir()).exists());
    QVERIFY(!QDir(FixedPaths::InstallRoot()).exists());
}

void TestUtilLog::lineFormat()
{
    UtilLog::SetLogEnable(true);
    WriteStringLog("src/x.cpp", 42, "SlotTaskStart", QStringLiteral("connect %s fail, ret = %d"),
                   "Office", -5);
    const QStringList files = LogFiles();
    QCOMPARE(files.size(), 1);
    QVERIFY2(QRegularExpression(QStringLiteral("^log_srv_\\d{8}_\\d{6}_0\\.log$"))
                 .match(files.first())
                 .hasMatch(),
             qPrintable(files.first()));
    const QByteArray text = ReadAll(files.first());
    QVERIFY2(QRegularExpression(
                 QStringLiteral("^\\[\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3}\\] "
                                "\\(src/x\\.cpp@42 SlotTaskStart\\) connect Office "
                                "fail, ret = -5\\n$"))
                 .match(QString::fromUtf8(text))
                 .hasMatch(),
             text.constData());
}

void TestUtilLog::longMessageIsCut()
{
    UtilLog::SetLogEnable(true);
    const QByteArray big(3000, 'x');
    ORVO_LOG("%s", big.constData());
    const QByteArray text = ReadAll(LogFiles().first());
    const int start = text.indexOf(") ") + 2;
    QCOMPARE(text.size() - start, 1023 + 1);
    QVERIFY(text.endsWith(QByteArray(1023, 'x') + '\n'));
}

void TestUtilLog::rollOverOnlyBeyondLimit()
{
    UtilLog::SetLogEnable(true);
    ORVO_LOG("first");
    const QString first = LogFiles().first();
    {
        QFile file(FixedPaths::LogDir() + first);
        QVERIFY(file.resize(UtilLog::ROLL_OVER_SIZE));
    }
    ORVO_LOG("at the limit: same file");
    QCOMPARE(LogFiles().size(), 1);
    QVERIFY(ReadAll(first).endsWith("at the limit: same file\n"));
    ORVO_LOG("beyond the limit: next file");
    const QStringList files = LogFiles();
    QCOMPARE(files.size(), 2);
    QString second = first;
    second.replace(QStringLiteral("_0.log"), QStringLiteral("_1.log"));
    QCOMPARE(files.last(), second);
    QVERIFY(ReadAll(second).endsWith("beyond the limit: next file\n"));
}

void TestUtilLog::twoThreadsWriteWholeLines()
{
    UtilLog::SetLogEnable(true);
    constexpr int LINES = 500;
    // std::thread, whose join ThreadSanitizer sees (QThread::wait goes through Qt internals).
    auto writer = [](const char* tag) {
        for (int i = 0; i < LINES; ++i) {
            ORVO_LOG("%s %d end", tag, i);
        }
    };
    std::thread a(writer, "alpha");
    std::thread b(writer, "beta");
    a.join();
    b.join();
    const QList<QByteArray> lines = ReadAll(LogFiles().first()).split('\n');
    QCOMPARE(lines.size(), 2 * LINES + 1); // last element: empty after the final line feed
    const QRegularExpression whole(QStringLiteral("\\) (alpha|beta) \\d+ end$"));
    for (int i = 0; i < 2 * LINES; ++i) {
        QVERIFY2(whole.match(QString::fromUtf8(lines.at(i))).hasMatch(), lines.at(i).constData());
    }
}

void TestUtilLog::sameSecondReusesStem()
{
    // Switching on twice within one second starts the series again at index 0 and appends.
    for (int attempt = 0; attempt < 5; ++attempt) {
        const QDateTime before = QDateTime::currentDateTime();
        UtilLog::SetLogEnable(true);
        ORVO_LOG("one");
        UtilLog::SetLogEnable(true);
        ORVO_LOG("two");
        if (QDateTime::currentDateTime().toSecsSinceEpoch() != before.toSecsSinceEpoch()) {
            QDir(FixedPaths::LogDir()).removeRecursively();
            continue; // crossed a second boundary: not the case under test
        }
        const QStringList files = LogFiles();
        QCOMPARE(files.size(), 1);
        QCOMPARE(ReadAll(files.first()).count('\n'), 2);
        return;
    }
    QSKIP("could not stay within one second");
}

QTEST_GUILESS_MAIN(TestUtilLog)
#include "test_utillog.moc"
