#include "tests/replies/ReplyBuilder.h"

#include <QFile>
#include <QRegularExpression>
#include <QStringList>

namespace {

const int c_iMaxByteLength = 0xFF;
const int c_iMaxWordLength = 0xFFFF;

class ReplyWriter
{
public:
    explicit ReplyWriter(QVector<ReplyBuilder::Field>* fields) : m_fields(fields) {}

    void bytes(const QString& name, const QByteArray& data)
    {
        if (m_fields != nullptr) {
            m_fields->append({name, m_reply.size(), data.size()});
        }
        m_reply.append(data);
    }
    void byte(const QString& name, quint8 value) { bytes(name, QByteArray(1, char(value))); }
    void word(const QString& name, quint16 value)
    {
        QByteArray data;
        data.append(char(value >> 8));
        data.append(char(value & 0xFF));
        bytes(name, data);
    }
    QByteArray reply() const { return m_reply; }

private:
    QVector<ReplyBuilder::Field>* m_fields;
    QByteArray m_reply;
};

bool parseNumber(const QString& text, quint64 maximum, quint64* value)
{
    bool ok = false;
    const QString trimmed = text.trimmed();
    const quint64 parsed = trimmed.startsWith(QLatin1String("0x"), Qt::CaseInsensitive)
                               ? trimmed.mid(2).toULongLong(&ok, 16)
                               : trimmed.toULongLong(&ok, 10);
    if (!ok || parsed > maximum) {
        return false;
    }
    *value = parsed;
    return true;
}

bool parseQuoted(const QString& text, QByteArray* out, QString* error)
{
    const QByteArray utf8 = text.toUtf8();
    if (utf8.size() < 2 || !utf8.endsWith('"')) {
        *error = QStringLiteral("unterminated quoted text");
        return false;
    }
    QByteArray result;
    for (int i = 1; i < utf8.size() - 1; ++i) {
        const char c = utf8.at(i);
        if (c != '\\') {
            result.append(c);
            continue;
        }
        if (++i >= utf8.size() - 1) {
            *error = QStringLiteral("escape at end of quoted text");
            return false;
        }
        switch (utf8.at(i)) {
        case '\\':
            result.append('\\');
            break;
        case '"':
            result.append('"');
            break;
        case 'n':
            result.append('\n');
            break;
        case 't':
            result.append('\t');
            break;
        case '0':
            result.append('\0');
            break;
        case 'x': {
            // The last content byte sits at size() - 2, in front of the closing quote.
            bool ok = false;
            const int code = i + 2 <= utf8.size() - 2 ? utf8.mid(i + 1, 2).toInt(&ok, 16) : 0;
            if (!ok) {
                *error = QStringLiteral("bad \\x escape");
                return false;
            }
            result.append(char(code));
            i += 2;
            break;
        }
        default:
            *error = QStringLiteral("unknown escape \\%1").arg(QChar::fromLatin1(utf8.at(i)));
            return false;
        }
    }
    *out = result;
    return true;
}

bool parseText(const QString& text, QByteArray* out, QString* error)
{
    if (text.startsWith(QLatin1Char('"'))) {
        return parseQuoted(text, out, error);
    }
    *out = text.toUtf8();
    return true;
}

bool parseBytes(const QString& text, QByteArray* out, QString* error)
{
    if (text.startsWith(QLatin1Char('"'))) {
        return parseQuoted(text, out, error);
    }
    QString hex = text;
    hex.remove(QRegularExpression(QStringLiteral("\\s+")));
    if (hex.size() % 2 != 0 ||
        !QRegularExpression(QStringLiteral("^[0-9A-Fa-f]*$")).match(hex).hasMatch()) {
        *error = QStringLiteral("expected hex bytes or a quoted text");
        return false;
    }
    *out = QByteArray::fromHex(hex.toLatin1());
    return true;
}

bool parseCodes(const QString& text, QVector<quint16>* out, QString* error)
{
    QVector<quint16> codes;
    const QStringList words =
        text.split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
    for (const QString& word : words) {
        quint64 code = 0;
        if (!parseNumber(word, 0xFFFF, &code)) {
            *error = QStringLiteral("bad error code \"%1\"").arg(word);
            return false;
        }
        codes.append(quint16(code));
    }
    *out = codes;
    return true;
}

} // namespace

ReplyBuilder::ReplyBuilder() : m_header(7, '\0') {}

ReplyBuilder& ReplyBuilder::setHeader(const QByteArray& header)
{
    m_header = header.left(7);
    m_header.append(QByteArray(7 - m_header.size(), '\0'));
    return *this;
}

ReplyBuilder& ReplyBuilder::setByte7(quint8 value)
{
    m_byte7 = value;
    return *this;
}

ReplyBuilder& ReplyBuilder::setBytes8To9(quint16 value)
{
    m_bytes8To9 = value;
    return *this;
}

ReplyBuilder& ReplyBuilder::setBytes10To11(quint16 value)
{
    m_bytes10To11 = value;
    return *this;
}

ReplyBuilder& ReplyBuilder::setInfo1(const QByteArray& text)
{
    m_info1 = text.left(c_iMaxWordLength);
    return *this;
}

ReplyBuilder& ReplyBuilder::setInfo2(const QByteArray& text)
{
    m_info2 = text.left(c_iMaxWordLength);
    return *this;
}

ReplyBuilder& ReplyBuilder::setInfo3(const QByteArray& text)
{
    m_info3 = text.left(c_iMaxWordLength);
    return *this;
}

ReplyBuilder& ReplyBuilder::setBytesBehindInfo3(quint16 value)
{
    m_bytesBehindInfo3 = value;
    return *this;
}

ReplyBuilder& ReplyBuilder::setStatusCode(quint8 code)
{
    m_statusCode = code;
    return *this;
}

ReplyBuilder& ReplyBuilder::setStatusText(const QByteArray& text)
{
    m_statusText = text.left(c_iMaxByteLength);
    return *this;
}

ReplyBuilder& ReplyBuilder::setOpaqueBlock(const QByteArray& block)
{
    m_block = block.left(c_iMaxByteLength);
    return *this;
}

ReplyBuilder& ReplyBuilder::setErrorCodes1(const QVector<quint16>& codes)
{
    m_errorCodes1 = codes.mid(0, c_iMaxByteLength);
    return *this;
}

ReplyBuilder& ReplyBuilder::setErrorCodes2(const QVector<quint16>& codes)
{
    m_errorCodes2 = codes.mid(0, c_iMaxByteLength);
    return *this;
}

ReplyBuilder& ReplyBuilder::setByteU(quint8 value)
{
    m_byteU = value;
    return *this;
}

ReplyBuilder& ReplyBuilder::setBytesU1To2(quint16 value)
{
    m_bytesU1To2 = value;
    return *this;
}

ReplyBuilder& ReplyBuilder::setBytesU3To4(quint16 value)
{
    m_bytesU3To4 = value;
    return *this;
}

ReplyBuilder& ReplyBuilder::addSupply(quint16 type, const QByteArray& value)
{
    if (m_supplies.size() < c_iMaxByteLength) {
        m_supplies.append({type, value.left(c_iMaxByteLength)});
    }
    return *this;
}

ReplyBuilder& ReplyBuilder::addSupplyValue(quint16 type, quint64 value, int width)
{
    width = qBound(1, width, 8);
    QByteArray bytes;
    for (int i = width - 1; i >= 0; --i) {
        bytes.append(char((value >> (8 * i)) & 0xFF));
    }
    return addSupply(type, bytes);
}

ReplyBuilder& ReplyBuilder::clearSupplies()
{
    m_supplies.clear();
    return *this;
}

ReplyBuilder& ReplyBuilder::setExtraBytes(const QByteArray& extra)
{
    m_extra = extra;
    return *this;
}

ReplyBuilder& ReplyBuilder::setCutAt(int length)
{
    m_cutAt = length;
    return *this;
}

QByteArray ReplyBuilder::assemble(QVector<Field>* fields) const
{
    ReplyWriter w(fields);
    w.bytes(QStringLiteral("header"), m_header);
    w.byte(QStringLiteral("byte7"), m_byte7);
    w.word(QStringLiteral("bytes8"), m_bytes8To9);
    w.word(QStringLiteral("bytes10"), m_bytes10To11);
    w.word(QStringLiteral("L1"), quint16(m_info1.size()));
    w.bytes(QStringLiteral("info1"), m_info1);
    w.word(QStringLiteral("L2"), quint16(m_info2.size()));
    w.bytes(QStringLiteral("info2"), m_info2);
    w.word(QStringLiteral("L3"), quint16(m_info3.size()));
    w.bytes(QStringLiteral("info3"), m_info3);
    w.word(QStringLiteral("bytesq"), m_bytesBehindInfo3);
    w.byte(QStringLiteral("status"), m_statusCode);
    w.byte(QStringLiteral("L4"), quint8(m_statusText.size()));
    w.bytes(QStringLiteral("statustext"), m_statusText);
    w.byte(QStringLiteral("L5"), quint8(m_block.size()));
    w.bytes(QStringLiteral("block"), m_block);
    const QVector<quint16>* lists[] = {&m_errorCodes1, &m_errorCodes2};
    for (int l = 0; l < 2; ++l) {
        const QString name = QStringLiteral("error%1").arg(l + 1);
        w.byte(QStringLiteral("N%1").arg(l + 1), quint8(lists[l]->size()));
        for (int i = 0; i < lists[l]->size(); ++i) {
            w.word(QStringLiteral("%1[%2]").arg(name).arg(i), lists[l]->at(i));
        }
    }
    w.byte(QStringLiteral("byteu"), m_byteU);
    w.word(QStringLiteral("bytesu1"), m_bytesU1To2);
    w.word(QStringLiteral("bytesu3"), m_bytesU3To4);
    w.byte(QStringLiteral("N3"), quint8(m_supplies.size()));
    for (int i = 0; i < m_supplies.size(); ++i) {
        const QString name = QStringLiteral("supply[%1]").arg(i);
        w.word(name + QStringLiteral(".type"), m_supplies.at(i).type);
        w.byte(name + QStringLiteral(".length"), quint8(m_supplies.at(i).value.size()));
        w.bytes(name + QStringLiteral(".value"), m_supplies.at(i).value);
    }
    w.bytes(QStringLiteral("extra"), m_extra);
    return w.reply();
}

QByteArray ReplyBuilder::build() const
{
    const QByteArray reply = assemble(nullptr);
    return m_cutAt < 0 ? reply : reply.left(m_cutAt);
}

QVector<ReplyBuilder::Field> ReplyBuilder::fields() const
{
    QVector<Field> result;
    assemble(&result);
    return result;
}

bool ReplyBuilder::fromDescription(const QString& text, ReplyBuilder* builder, QString* error)
{
    ReplyBuilder b;
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (int n = 0; n < lines.size(); ++n) {
        const QString line = lines.at(n).trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#'))) {
            continue;
        }
        QString why;
        auto fail = [&](const QString& reason) {
            if (error != nullptr) {
                *error = QStringLiteral("line %1: %2: %3").arg(n + 1).arg(reason, line);
            }
            return false;
        };
        const int eq = line.indexOf(QLatin1Char('='));
        if (eq < 0) {
            return fail(QStringLiteral("expected key = value"));
        }
        const QStringList keyWords =
            line.left(eq).trimmed().toLower().split(QLatin1Char(' '), Qt::SkipEmptyParts);
        const QString value = line.mid(eq + 1).trimmed();
        const QString key = keyWords.value(0);
        quint64 number = 0;
        QByteArray bytes;
        QVector<quint16> codes;

        if (keyWords.size() == 2 && key == QLatin1String("supply")) {
            quint64 type = 0;
            if (!parseNumber(keyWords.at(1), 0xFFFF, &type)) {
                return fail(QStringLiteral("bad supplies type"));
            }
            if (!parseBytes(value, &bytes, &why)) {
                return fail(why);
            }
            if (bytes.size() > c_iMaxByteLength) {
                return fail(QStringLiteral("supplies value longer than 255 bytes"));
            }
            b.addSupply(quint16(type), bytes);
            continue;
        }
        if (keyWords.size() != 1) {
            return fail(QStringLiteral("unknown key"));
        }

        // Numbers: key -> (largest value, setter)
        struct NumberKey
        {
            const char* name;
            quint64 maximum;
            void (*apply)(ReplyBuilder&, quint64);
        };
        static const NumberKey numberKeys[] = {
            {"byte7", 0xFF, [](ReplyBuilder& r, quint64 v) { r.setByte7(quint8(v)); }},
            {"bytes8", 0xFFFF, [](ReplyBuilder& r, quint64 v) { r.setBytes8To9(quint16(v)); }},
            {"bytes10", 0xFFFF, [](ReplyBuilder& r, quint64 v) { r.setBytes10To11(quint16(v)); }},
            {"bytesq", 0xFFFF,
             [](ReplyBuilder& r, quint64 v) { r.setBytesBehindInfo3(quint16(v)); }},
            {"status", 0xFF, [](ReplyBuilder& r, quint64 v) { r.setStatusCode(quint8(v)); }},
            {"byteu", 0xFF, [](ReplyBuilder& r, quint64 v) { r.setByteU(quint8(v)); }},
            {"bytesu1", 0xFFFF, [](ReplyBuilder& r, quint64 v) { r.setBytesU1To2(quint16(v)); }},
            {"bytesu3", 0xFFFF, [](ReplyBuilder& r, quint64 v) { r.setBytesU3To4(quint16(v)); }},
            {"cut", 0x7FFFFFFF, [](ReplyBuilder& r, quint64 v) { r.setCutAt(int(v)); }},
        };
        bool handled = false;
        for (const NumberKey& k : numberKeys) {
            if (key == QLatin1String(k.name)) {
                if (!parseNumber(value, k.maximum, &number)) {
                    return fail(QStringLiteral("bad number"));
                }
                k.apply(b, number);
                handled = true;
                break;
            }
        }
        if (handled) {
            continue;
        }

        if (key == QLatin1String("info1") || key == QLatin1String("info2") ||
            key == QLatin1String("info3") || key == QLatin1String("statustext")) {
            if (!parseText(value, &bytes, &why)) {
                return fail(why);
            }
            const int limit =
                key == QLatin1String("statustext") ? c_iMaxByteLength : c_iMaxWordLength;
            if (bytes.size() > limit) {
                return fail(QStringLiteral("text longer than its length field allows"));
            }
            if (key == QLatin1String("info1")) {
                b.setInfo1(bytes);
            } else if (key == QLatin1String("info2")) {
                b.setInfo2(bytes);
            } else if (key == QLatin1String("info3")) {
                b.setInfo3(bytes);
            } else {
                b.setStatusText(bytes);
            }
        } else if (key == QLatin1String("header") || key == QLatin1String("block") ||
                   key == QLatin1String("extra")) {
            if (!parseBytes(value, &bytes, &why)) {
                return fail(why);
            }
            if (key == QLatin1String("header")) {
                if (bytes.size() != 7) {
                    return fail(QStringLiteral("the header has 7 bytes"));
                }
                b.setHeader(bytes);
            } else if (key == QLatin1String("block")) {
                if (bytes.size() > c_iMaxByteLength) {
                    return fail(QStringLiteral("block longer than 255 bytes"));
                }
                b.setOpaqueBlock(bytes);
            } else {
                b.setExtraBytes(bytes);
            }
        } else if (key == QLatin1String("error1") || key == QLatin1String("error2")) {
            if (!parseCodes(value, &codes, &why)) {
                return fail(why);
            }
            if (codes.size() > c_iMaxByteLength) {
                return fail(QStringLiteral("more than 255 error codes"));
            }
            if (key == QLatin1String("error1")) {
                b.setErrorCodes1(codes);
            } else {
                b.setErrorCodes2(codes);
            }
        } else {
            return fail(QStringLiteral("unknown key"));
        }
    }
    *builder = b;
    return true;
}

bool ReplyBuilder::fromDescriptionFile(const QString& path, ReplyBuilder* builder, QString* error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error != nullptr) {
            *error = QStringLiteral("cannot open %1: %2").arg(path, file.errorString());
        }
        return false;
    }
    return fromDescription(QString::fromUtf8(file.readAll()), builder, error);
}
