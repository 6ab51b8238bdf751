#pragma once

#include <QByteArray>
#include <QString>
#include <QVector>

// Builds printer status replies from readable fields, for tests and benchmarks.
//
// A fresh builder makes the smallest valid reply: seven zero header bytes, empty texts, status
// code 0, no error codes, no supplies entries (31 bytes).  Every length and count on the wire is
// taken from the content given, so a reply is always self-consistent unless it is cut; contents
// longer than their length field can express (65535 for texts, 255 elsewhere) are cut on entry.
//
// A reply can also be described as text, one "key = value" per line, '#' starting a comment:
//
//   header = 00 00 00 00 00 00 00      hex bytes (or a quoted text), padded or cut to 7
//   byte7 = 1                          bytes8 = 0x0102      bytes10 = 0x0304
//   info1 = Orvo Q7020DN               bare text to the end of the line, or "quoted\x00text"
//   info2 = ...                        info3 = ...          bytesq = 0
//   status = 3                         statustext = Ready
//   block = "..." or hex bytes         opaque block
//   error1 = 0x1200 0x110D             error2 = 0x2200      (numbers, decimal or 0x hex)
//   byteu = 0                          bytesu1 = 0          bytesu3 = 0
//   supply 0x1000 = 012C               one supplies entry: type, then hex bytes or "text"
//   extra = DE AD                      bytes behind the last supplies entry
//   cut = 30                           keep only the first 30 bytes of the built reply
//
// Quoted texts know the escapes \\ \" \n \t \0 and \xNN.
class ReplyBuilder
{
public:
    // One field of a built reply, for tests that cut a reply inside a given field.
    struct Field
    {
        QString strName;
        int iOffset;
        int iSize;
    };

    ReplyBuilder();

    ReplyBuilder& setHeader(const QByteArray& header);
    ReplyBuilder& setByte7(quint8 value);
    ReplyBuilder& setBytes8To9(quint16 value);
    ReplyBuilder& setBytes10To11(quint16 value);
    ReplyBuilder& setInfo1(const QByteArray& text);
    ReplyBuilder& setInfo2(const QByteArray& text);
    ReplyBuilder& setInfo3(const QByteArray& text);
    ReplyBuilder& setBytesBehindInfo3(quint16 value);
    ReplyBuilder& setStatusCode(quint8 code);
    ReplyBuilder& setStatusText(const QByteArray& text);
    ReplyBuilder& setOpaqueBlock(const QByteArray& block);
    ReplyBuilder& setErrorCodes1(const QVector<quint16>& codes);
    ReplyBuilder& setErrorCodes2(const QVector<quint16>& codes);
    ReplyBuilder& setByteU(quint8 value);
    ReplyBuilder& setBytesU1To2(quint16 value);
    ReplyBuilder& setBytesU3To4(quint16 value);
    // One supplies entry with any type and any value bytes (at most 255).
    ReplyBuilder& addSupply(quint16 type, const QByteArray& value);
    // One supplies entry holding value big-endian in width bytes (1 to 8).
    ReplyBuilder& addSupplyValue(quint16 type, quint64 value, int width);
    ReplyBuilder& clearSupplies();
    ReplyBuilder& setExtraBytes(const QByteArray& extra);
    // Keep only the first length bytes of the built reply; a negative length keeps it whole.
    ReplyBuilder& setCutAt(int length);

    QByteArray build() const;
    // The fields of the reply that build() makes, in wire order (before any cut).
    QVector<Field> fields() const;

    static QByteArray cutAt(const QByteArray& reply, int length) { return reply.left(length); }

    // Parses a reply description (see above).  On failure returns false and names the line.
    static bool fromDescription(const QString& text, ReplyBuilder* builder, QString* error);
    static bool fromDescriptionFile(const QString& path, ReplyBuilder* builder, QString* error);

private:
    struct Supply
    {
        quint16 type;
        QByteArray value;
    };

    QByteArray assemble(QVector<Field>* fields) const;

    QByteArray m_header;
    quint8 m_byte7 = 0;
    quint16 m_bytes8To9 = 0;
    quint16 m_bytes10To11 = 0;
    QByteArray m_info1;
    QByteArray m_info2;
    QByteArray m_info3;
    quint16 m_bytesBehindInfo3 = 0;
    quint8 m_statusCode = 0;
    QByteArray m_statusText;
    QByteArray m_block;
    QVector<quint16> m_errorCodes1;
    QVector<quint16> m_errorCodes2;
    quint8 m_byteU = 0;
    quint16 m_bytesU1To2 = 0;
    quint16 m_bytesU3To4 = 0;
    QVector<Supply> m_supplies;
    QByteArray m_extra;
    int m_cutAt = -1;
};
