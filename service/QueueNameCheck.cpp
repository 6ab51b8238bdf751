#include "service/QueueNameCheck.h"

#include "service/ShellCommand.h"

#include <QList>
#include <QTextCodec>

QString QueueNameCheck::Problem(const QByteArray& name)
{
    if (!IsUtf8(name)) {
        return QStringLiteral("the queue name is not valid UTF-8");
    }
    // Qt 5's INI writer puts each half of a surrogate pair through the codec on its own and
    // loses both, so such a name would reach the printer list as another queue's name (and
    // that queue's status file would be read for it).
    const QString text = QString::fromUtf8(name);
    for (const QChar c : text) {
        if (c.isSurrogate()) {
            return QStringLiteral("the queue name has a character beyond U+FFFF, which the printer "
                                  "list cannot hold");
        }
    }
    // The CUPS commands would take such a name for an option, so it is refused whatever its
    // length.
    if (name.startsWith('-')) {
        return QStringLiteral("the queue name begins with \"-\", which the CUPS commands would "
                              "take for an option");
    }
    if (!ShellCommand::Build(CANCEL_FORMAT, QList<QByteArray>{name}).bOk) {
        return QStringLiteral("the queue name is too long for the CUPS commands (%1 bytes)")
            .arg(name.size());
    }
    return QString();
}

bool QueueNameCheck::IsUtf8(const QByteArray& bytes)
{
    QTextCodec::ConverterState state;
    QTextCodec::codecForName("UTF-8")->toUnicode(bytes.constData(), bytes.size(), &state);
    return state.invalidChars == 0 && state.remainingChars == 0;
}

bool QueueNameCheck::UsableAsFileName(const QByteArray& name)
{
    return !name.isEmpty() && name != "." && name != ".." && !name.contains('/') &&
           !name.contains('\0');
}

bool QueueNameCheck::UsableAsFileName(const QString& name)
{
    // UTF-8 keeps ".", "/" and NUL as the single bytes the rule looks for.
    return UsableAsFileName(name.toUtf8());
}

QByteArray QueueNameCheck::Escaped(const QByteArray& name)
{
    QByteArray out;
    int i = 0;
    while (i < name.size()) {
        const uchar byte = uchar(name.at(i));
        int length = 0;
        if (byte >= 0x20 && byte != 0x7f) {
            // Longest valid UTF-8 sequence starting here (at most four bytes).
            for (int n = 1; n <= 4 && i + n <= name.size(); ++n) {
                if (IsUtf8(name.mid(i, n))) {
                    length = n;
                    break;
                }
            }
        }
        if (length == 0) {
            out += "\\x" + QByteArray::number(byte, 16).rightJustified(2, '0');
            ++i;
        } else {
            out += name.mid(i, length);
            i += length;
        }
    }
    return out;
}
