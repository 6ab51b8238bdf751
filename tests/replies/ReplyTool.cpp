// orvo_reply_tool DESCRIPTION OUTPUT: writes the binary status reply that a reply description
// file stands for (the format is described in ReplyBuilder.h).  Used to make the fuzz seed corpus
// and handy for feeding a hand-written reply to anything that reads raw replies.

#include "tests/replies/ReplyBuilder.h"

#include <QFile>
#include <QString>

#include <cstdio>

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s DESCRIPTION OUTPUT\n", argv[0]);
        return 2;
    }
    ReplyBuilder builder;
    QString error;
    if (!ReplyBuilder::fromDescriptionFile(QString::fromLocal8Bit(argv[1]), &builder, &error)) {
        std::fprintf(stderr, "%s: %s\n", argv[1], qPrintable(error));
        return 1;
    }
    QFile out(QString::fromLocal8Bit(argv[2]));
    const QByteArray reply = builder.build();
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate) || out.write(reply) != reply.size()) {
        std::fprintf(stderr, "cannot write %s: %s\n", argv[2], qPrintable(out.errorString()));
        return 1;
    }
    return 0;
}
