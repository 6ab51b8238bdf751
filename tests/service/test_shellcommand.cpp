#include "service/CupsTool.h"
#include "service/ShellCommand.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/wait.h>

// Every value the service puts into a shell command must reach the tool as exactly one
// argument with exactly its bytes, and nothing else may run.
class TestShellCommand : public QObject
{
    Q_OBJECT
private slots:
    void valueArrivesUnchanged_data();
    void valueArrivesUnchanged();
    void refusedValues_data();
    void refusedValues();
    void lengthLimit();
    void plainValuesStayUnquoted();
    void splitIntoWords_data();
    void splitIntoWords();
    void directRunKeepsValues();
};

void TestShellCommand::valueArrivesUnchanged_data()
{
    QTest::addColumn<QByteArray>("value");
    const QByteArray marker = "@MARK@";
    QTest::newRow("plain") << QByteArray("Office");
    QTest::newRow("space") << QByteArray("two words");
    QTest::newRow("command substitution") << QByteArray("x$(touch${IFS}" + marker + ")");
    QTest::newRow("backquote") << QByteArray("x`touch " + marker + "`");
    QTest::newRow("double quote breakout") << QByteArray("x\";touch${IFS}" + marker + ";\"");
    QTest::newRow("single quote breakout") << QByteArray("x';touch " + marker + ";'");
    QTest::newRow("backslash") << QByteArray("a\\b\\");
    QTest::newRow("escaped quote") << QByteArray("a\\\"b");
    QTest::newRow("operators") << QByteArray("a;b|c&d<e>f");
    QTest::newRow("glob") << QByteArray("*?[a]");
    QTest::newRow("newline") << QByteArray("line1\nline2");
    QTest::newRow("non-ascii") << QString::fromUtf8("Büro-打印机").toUtf8();
    QTest::newRow("dollar brace") << QByteArray("${HOME}$HOME");
    QTest::newRow("history bang") << QByteArray("a!b");
}

void TestShellCommand::valueArrivesUnchanged()
{
    QFETCH(QByteArray, value);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QByteArray marker = QFile::encodeName(dir.filePath("pwned"));
    value.replace("@MARK@", marker);

    for (const char* format : {"printf '%%s' \"%s\" > %s", "printf '%%s' %s > %s"}) {
        const QString out = dir.filePath("out");
        const ShellCommand::Result built =
            ShellCommand::Build(format, QList<QByteArray>{value, QFile::encodeName(out)});
        QVERIFY2(built.bOk, qPrintable(built.strError));
        QVERIFY(built.command.size() <= ShellCommand::MAX_LENGTH);
        QCOMPARE(CupsTool::RunShell(built.command), 0);
        QFile file(out);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), value);
        QVERIFY2(!QFile::exists(QString::fromLocal8Bit(marker)), format);
    }
}

void TestShellCommand::refusedValues_data()
{
    QTest::addColumn<QByteArray>("value");
    QTest::newRow("leading dash") << QByteArray("-rf");
    QTest::newRow("NUL byte") << QByteArray("a\0b", 3);
}

void TestShellCommand::refusedValues()
{
    QFETCH(QByteArray, value);
    const ShellCommand::Result built = ShellCommand::Build("cancel %s", QList<QByteArray>{value});
    QVERIFY(!built.bOk);
    QVERIFY(built.command.isEmpty());
    QVERIFY(!built.strError.isEmpty());
}

void TestShellCommand::lengthLimit()
{
    // "cancel " is 7 bytes: 248 bytes of value fit exactly, one more is refused, never cut.
    const QByteArray fits(248, 'q');
    QVERIFY(ShellCommand::Build("cancel %s", QList<QByteArray>{fits}).bOk);
    QCOMPARE(ShellCommand::Build("cancel %s", QList<QByteArray>{fits}).command.size(), 255);
    QVERIFY(!ShellCommand::Build("cancel %s", QList<QByteArray>{fits + "q"}).bOk);
    // Escaping counts: 124 quotes become 248 bytes inside the double quotes.
    const QByteArray quotes(124, '"');
    QVERIFY(ShellCommand::Build("x \"%s\"", QList<QByteArray>{quotes}).bOk);
    QVERIFY(!ShellCommand::Build("x \"%s\"", QList<QByteArray>{quotes + quotes}).bOk);
}

void TestShellCommand::plainValuesStayUnquoted()
{
    // The commands CUPS sees keep their documented shape for ordinary values.
    const ShellCommand::Result built = ShellCommand::Build(
        "lpstat -p \"%s\"> %s",
        QStringList{QStringLiteral("Office"),
                    QStringLiteral("/opt/orvo/q70_series_printer/cfg/printer_0.tmp")});
    QVERIFY(built.bOk);
    QCOMPARE(built.command,
             QByteArray("lpstat -p \"Office\"> /opt/orvo/q70_series_printer/cfg/printer_0.tmp"));
}

void TestShellCommand::splitIntoWords_data()
{
    QTest::addColumn<QByteArray>("format");
    QTest::addColumn<QList<QByteArray>>("values");
    QTest::addColumn<bool>("simple");
    QTest::addColumn<QList<QByteArray>>("argv");
    QTest::addColumn<QByteArray>("redirect");
    using L = QList<QByteArray>;
    QTest::newRow("lpstat -v") << QByteArray("lpstat -v > %s") << L{"/c/p.1"} << true
                               << L{"lpstat", "-v"} << QByteArray("/c/p.1");
    QTest::newRow("quote then redirect") << QByteArray("lpstat -p \"%s\"> %s") << L{"Q", "/c/o"}
                                         << true << L{"lpstat", "-p", "Q"} << QByteArray("/c/o");
    QTest::newRow("job query") << QByteArray("lpstat -u \"%s\" -W all -l -o \"%s\" > %s")
                               << L{"", "a b", "/o"} << true
                               << L{"lpstat", "-u", "", "-W", "all", "-l", "-o", "a b"}
                               << QByteArray("/o");
    QTest::newRow("value with shell characters")
        << QByteArray("cancel %s") << L{"x$(y);`z` |"} << true << L{"cancel", "x$(y);`z` |"}
        << QByteArray();
    QTest::newRow("model path") << QByteArray("lpadmin -p \"%s\" -E -v \"%s\" -m \"%s/%s\"")
                                << L{"Q", "usb://O/K?serial=1", "Orvo", "Orvo_K.ppd"} << true
                                << L{"lpadmin", "-p",
                                     "Q",       "-E",
                                     "-v",      "usb://O/K?serial=1",
                                     "-m",      "Orvo/Orvo_K.ppd"}
                                << QByteArray();
    QTest::newRow("errors into the output file") << QByteArray("lpstat -r > %s 2>&1") << L{"/c/o"}
                                                 << true << L{"lpstat", "-r"} << QByteArray("/c/o");
    QTest::newRow("pipe needs the shell")
        << QByteArray("ps -A | grep %s > %s") << L{"a", "b"} << false << L{} << QByteArray();
    QTest::newRow("expansion needs the shell")
        << QByteArray("echo \"$X\" > %s") << L{"b"} << false << L{} << QByteArray();
    QTest::newRow("two redirects")
        << QByteArray("a > %s > %s") << L{"b", "c"} << false << L{} << QByteArray();
    QTest::newRow("open quote") << QByteArray("a \"%s") << L{"b"} << false << L{} << QByteArray();
}

void TestShellCommand::splitIntoWords()
{
    QFETCH(QByteArray, format);
    QFETCH(QList<QByteArray>, values);
    QFETCH(bool, simple);
    QFETCH(QList<QByteArray>, argv);
    QFETCH(QByteArray, redirect);
    const ShellCommand::Words words = ShellCommand::Split(format.constData(), values);
    QCOMPARE(words.bSimple, simple);
    if (simple) {
        QCOMPARE(words.argv, argv);
        QCOMPARE(words.redirect, redirect);
    }
}

void TestShellCommand::directRunKeepsValues()
{
    // Started without a shell, a value reaches the tool unchanged and runs nothing.
    QTemporaryDir dir;
    const QString marker = dir.filePath("pwned");
    const QString out = dir.filePath("out");
    const QString value = QStringLiteral("x$(touch %1)`touch %1`\";touch %1;\"").arg(marker);
    int status = -1;
    QVERIFY(CupsTool::Run("printf %%s \"%s\" > %s", {value, out}, "test", &status));
    QCOMPARE(status, 0);
    QFile file(out);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(QString::fromLocal8Bit(file.readAll()), value);
    QVERIFY(!QFile::exists(marker));
    // A tool that does not exist: the status the shell gives for a command it cannot start.
    QVERIFY(CupsTool::Run("no-such-tool-orvo > %s", {dir.filePath("none")}, "test", &status));
    QCOMPARE(WEXITSTATUS(status), 127);
}

QTEST_GUILESS_MAIN(TestShellCommand)
#include "test_shellcommand.moc"
