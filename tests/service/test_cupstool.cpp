#include "service/CupsTool.h"
#include "service/FixedPaths.h"
#include "service/UtilLog.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <cstdio>
#include <unistd.h>

class TestCupsTool : public QObject
{
    Q_OBJECT
private slots:
    void toolsRunInTheCLocale();
    void readAndRemove_data();
    void readAndRemove();
    void missingFileReportsNotOpened();
    void refusedCommandRunsNothing();
    void toolErrorOutputStaysOffOurStderr_data();
    void toolErrorOutputStaysOffOurStderr();
};

void TestCupsTool::toolsRunInTheCLocale()
{
    // A German or Chinese desktop must not change the words the parsers look for.
    qputenv("LC_ALL", "de_DE.UTF-8");
    qputenv("LANG", "de_DE.UTF-8");
    QTemporaryDir dir;
    const QString out = dir.filePath("env");
    QVERIFY(CupsTool::Run("echo \"$LC_ALL\" > %s", {out}, "test"));
    // The environment of the tools is fixed when they first run; the service's own stays.
    QCOMPARE(CupsTool::ReadAndRemove(out), QStringList{QStringLiteral("C\n")});
    QCOMPARE(qgetenv("LC_ALL"), QByteArray("de_DE.UTF-8"));
}

void TestCupsTool::readAndRemove_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QStringList>("lines");
    QTest::newRow("empty") << QByteArray() << QStringList();
    QTest::newRow("two lines") << QByteArray("a b\nc\n") << QStringList{"a b\n", "c\n"};
    QTest::newRow("no final line end") << QByteArray("a\nb") << QStringList{"a\n", "b"};
    QTest::newRow("NUL ends the line")
        << QByteArray("abc\0def\nnext\n", 13) << QStringList{"abc", "next\n"};
    QTest::newRow("utf-8") << QByteArray("device for B\xc3\xbcro: usb://x\n")
                           << QStringList{QString::fromUtf8("device for Büro: usb://x\n")};
    QTest::newRow("invalid utf-8")
        << QByteArray("\xff\xfe ok\n") << QStringList{QString::fromUtf8("\xff\xfe ok\n")};
}

void TestCupsTool::readAndRemove()
{
    QFETCH(QByteArray, content);
    QFETCH(QStringList, lines);
    QTemporaryDir dir;
    const QString path = dir.filePath("out.tmp");
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
    file.close();
    bool opened = false;
    QCOMPARE(CupsTool::ReadAndRemove(path, &opened), lines);
    QVERIFY(opened);
    QVERIFY(!QFile::exists(path));
}

void TestCupsTool::missingFileReportsNotOpened()
{
    QTemporaryDir dir;
    bool opened = true;
    QVERIFY(CupsTool::ReadAndRemove(dir.filePath("absent"), &opened).isEmpty());
    QVERIFY(!opened);
}

void TestCupsTool::refusedCommandRunsNothing()
{
    QTemporaryDir dir;
    const QString marker = dir.filePath("ran");
    int status = 0;
    QVERIFY(!CupsTool::Run("touch %s; cancel %s", {marker, QStringLiteral("-a")}, "test", &status));
    QCOMPARE(status, -1);
    QVERIFY(!QFile::exists(marker));
}

void TestCupsTool::toolErrorOutputStaysOffOurStderr_data()
{
    QTest::addColumn<QByteArray>("format");
    QTest::addColumn<bool>("logOn");
    QTest::addColumn<bool>("passThrough");
    QTest::newRow("tool, log off") << QByteArray("ls %s > %s") << false << false;
    QTest::newRow("tool, log on") << QByteArray("ls %s > %s") << true << false;
    QTest::newRow("shell, log off") << QByteArray("ls %s | cat > %s") << false << false;
    QTest::newRow("shell, log on") << QByteArray("ls %s | cat > %s") << true << false;
    QTest::newRow("passed through") << QByteArray("ls %s > %s") << true << true;
}

void TestCupsTool::toolErrorOutputStaysOffOurStderr()
{
    // The service's standard error is the journal: "lpstat: No destinations added." on every
    // empty cycle must not end up there.
    QFETCH(QByteArray, format);
    QFETCH(bool, logOn);
    QFETCH(bool, passThrough);
    QTemporaryDir dir;
    FixedPaths::SetRootForTesting(dir.path());
    UtilLog::SetLogEnable(logOn);
    CupsTool::PassToolErrorsThrough(passThrough);
    const QString missing = dir.filePath("no-such-file");

    QFile ours(dir.filePath("stderr"));
    QVERIFY(ours.open(QIODevice::ReadWrite));
    std::fflush(stderr);
    const int saved = dup(STDERR_FILENO);
    dup2(ours.handle(), STDERR_FILENO);
    const bool ran = CupsTool::Run(format.constData(), {missing, dir.filePath("out")}, "probe");
    dup2(saved, STDERR_FILENO);
    close(saved);

    QString log;
    for (const QFileInfo& file : QDir(FixedPaths::LogDir()).entryInfoList(QDir::Files)) {
        QFile in(file.filePath());
        QVERIFY(in.open(QIODevice::ReadOnly));
        log += QString::fromLocal8Bit(in.readAll());
    }
    UtilLog::SetLogEnable(false);
    CupsTool::PassToolErrorsThrough(false);
    FixedPaths::SetRootForTesting(QString());

    QVERIFY(ran);
    QFile written(ours.fileName());
    QVERIFY(written.open(QIODevice::ReadOnly));
    QCOMPARE(QString::fromLocal8Bit(written.readAll()).contains(missing), passThrough);
    QCOMPARE(log.contains(missing), logOn && !passThrough);
    QCOMPARE(log.contains(QStringLiteral("probe")), logOn && !passThrough);
}

QTEST_GUILESS_MAIN(TestCupsTool)
#include "test_cupstool.moc"
