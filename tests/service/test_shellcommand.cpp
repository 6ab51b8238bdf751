#include "CupsTool.h"
#include "ShellCommand.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

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

QTEST_GUILESS_MAIN(TestShellCommand)
#include "test_shellcommand.moc"
