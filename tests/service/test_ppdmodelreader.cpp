#include "service/PpdModelReader.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QTextCodec>

#include <sys/stat.h>

// The model a queue's PPD names, from fixtures under tests/data/ppd and from hostile files built
// here (too long, unterminated, too big, not a regular file).
class TestPpdModelReader : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void fixture_data();
    void fixture();
    void hostile_data();
    void hostile();
    void notARegularFile();
    void matchLine_data();
    void matchLine();

private:
    QTextCodec* m_pCodec = nullptr;
    QTemporaryDir m_dir;
};

void TestPpdModelReader::initTestCase()
{
    m_pCodec = QTextCodec::codecForName("utf-8");
    QVERIFY(m_pCodec);
    QVERIFY(m_dir.isValid());
}

void TestPpdModelReader::fixture_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("model"); // empty: no match
    QTest::newRow("quoted") << "quoted.ppd"
                            << "Orvo Q7020DN";
    QTest::newRow("lower-case value keeps its case") << "lowercase.ppd"
                                                     << "orvo q7020dn";
    QTest::newRow("unquoted") << "unquoted.ppd"
                              << "Orvo Q7030DW";
    QTest::newRow("only a leading quote") << "leading-quote.ppd"
                                          << "Orvo QM7068FDW";
    QTest::newRow("NUL after the value") << "nul.ppd"
                                         << "Orvo Q7040DN";
    QTest::newRow("CR LF") << "crlf.ppd"
                           << "Orvo Q7045DW";
    QTest::newRow("unknown model") << "unknown-model.ppd"
                                   << "";
    QTest::newRow("first line in the table wins") << "several-lines.ppd"
                                                  << "Orvo Q7032DN";
    QTest::newRow("long comment before") << "long-comment.ppd"
                                         << "Orvo Q7020D";
    QTest::newRow("byte 0xFF in the value") << "not-utf8.ppd"
                                            << "";
    QTest::newRow("overlong UTF-8 space") << "overlong-utf8.ppd"
                                          << "";
    QTest::newRow("invalid bytes after the value") << "not-utf8-tail.ppd"
                                                   << "";
    QTest::newRow("no-break space in the value") << "nbsp.ppd"
                                                 << "";
    QTest::newRow("full-width letter") << "fullwidth.ppd"
                                       << "";
    QTest::newRow("lower-case keyword") << "keyword-lowercase.ppd"
                                        << "Orvo Q7045DW";
    QTest::newRow("empty values") << "empty-values.ppd"
                                  << "";
    QTest::newRow("missing file") << "no-such.ppd"
                                  << "";
}

void TestPpdModelReader::fixture()
{
    QFETCH(QString, file);
    QFETCH(QString, model);
    QString found = QStringLiteral("untouched");
    const bool ok = PpdModelReader::FindModel(QStringLiteral(ORVO_TEST_DATA_DIR "/ppd/") + file,
                                              m_pCodec, found);
    QCOMPARE(ok, !model.isEmpty());
    QCOMPARE(found, model.isEmpty() ? QStringLiteral("untouched") : model);
}

void TestPpdModelReader::hostile_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("model");
    const QByteArray header("*PPD-Adobe: \"4.3\"\n");
    const QByteArray good("*ModelName: \"Orvo Q7020DN\"\n");
    const int limit = PpdModelReader::MAX_LINE_BYTES;

    // The cut of an overlong line must not let its tail pass for a line of its own.
    QTest::newRow("model name in the tail of an overlong line")
        << header + "*% " + QByteArray(limit - 3, 'x') + good << "";
    QTest::newRow("model name after an overlong line")
        << header + "*% " + QByteArray(3 * limit, 'x') + "\n" + good << "Orvo Q7020DN";
    QTest::newRow("line of exactly the limit")
        << header + "*% " + QByteArray(limit - 4, 'x') + "\n" + good << "Orvo Q7020DN";
    QTest::newRow("overlong model name line")
        << header + "*ModelName: \"Orvo Q7020DN" + QByteArray(limit, ' ') + "\"\n"
        << "";
    QTest::newRow("unterminated 1 MiB value without line end")
        << header + "*ModelName: \"Orvo Q7020DN" + QByteArray(1 << 20, 'y') << "";
    QTest::newRow("unterminated value at the end of the file")
        << header + "*ModelName: \"Orvo Q7020DN"
        << "Orvo Q7020DN";
    QByteArray filler;
    const QByteArray comment = "*% " + QByteArray(1000, 'z') + "\n";
    while (filler.size() <= PpdModelReader::MAX_TOTAL_BYTES) {
        filler += comment;
    }
    QTest::newRow("model name beyond the read limit") << header + filler + good << "";
    QTest::newRow("only NUL bytes") << QByteArray(100000, '\0') << "";
    QTest::newRow("random binary")
        << QByteArray::fromHex("ffd8ffe000104a464946") + QByteArray(70000, '\x80') << "";
}

void TestPpdModelReader::hostile()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, model);
    const QString path = m_dir.filePath(QStringLiteral("hostile.ppd"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(content), qint64(content.size()));
    file.close();
    QString found;
    QCOMPARE(PpdModelReader::FindModel(path, m_pCodec, found), !model.isEmpty());
    QCOMPARE(found, model);
}

void TestPpdModelReader::notARegularFile()
{
    // A FIFO would block the whole cycle on open; a directory cannot be read.
    const QString fifo = m_dir.filePath(QStringLiteral("fifo.ppd"));
    QCOMPARE(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    QString found;
    QVERIFY(!PpdModelReader::FindModel(fifo, m_pCodec, found));
    QVERIFY(!PpdModelReader::FindModel(m_dir.path(), m_pCodec, found));
    QVERIFY(found.isEmpty());
}

void TestPpdModelReader::matchLine_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QString>("model");
    QTest::newRow("every table row, upper case")
        << QByteArray("*MODELNAME: \"ORVO QM7065FDW\"") << "ORVO QM7065FDW";
    QTest::newRow("value seen up to a colon inside it")
        << QByteArray("*ModelName: \"Orvo Q7020DN:extra\"") << "Orvo Q7020DN";
    QTest::newRow("prefix of a longer key")
        << QByteArray("*ModelName: \"Orvo Q7020\"") << "Orvo Q7020";
    QTest::newRow("key without the series letters") << QByteArray("*ModelName: \"Orvo Q70\"") << "";
    QTest::newRow("other keyword") << QByteArray("*NickName: \"Orvo Q7020DN\"") << "";
    QTest::newRow("leading space before the keyword")
        << QByteArray(" *ModelName: \"Orvo Q7020DN\"") << "";
    QTest::newRow("tabs around the value")
        << QByteArray("*ModelName:\t\"Orvo Q7020DW\"\t\r\n") << "Orvo Q7020DW";
    QTest::newRow("truncated UTF-8 at the end")
        << QByteArray("*ModelName: \"Orvo Q7020DN\xc3") << "";
}

void TestPpdModelReader::matchLine()
{
    QFETCH(QByteArray, line);
    QFETCH(QString, model);
    QString found;
    QCOMPARE(PpdModelReader::MatchLine(line, m_pCodec, found), !model.isEmpty());
    QCOMPARE(found, model);
}

QTEST_GUILESS_MAIN(TestPpdModelReader)
#include "test_ppdmodelreader.moc"
