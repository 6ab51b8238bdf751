#pragma once

#include <QByteArray>
#include <QString>

class QTextCodec;

// Finds the printer model a queue's PPD file names. A PPD is untrusted text: lines and files
// are read only up to fixed sizes, a line that is not valid UTF-8 or is cut by the line limit is
// never examined, and only a value that is exactly (ignoring ASCII letter case) the display
// name of a model table row counts.
class PpdModelReader
{
public:
    // Longest line examined, line end included. The PPD format itself allows 255 characters;
    // the excess of a longer line is skipped up to its end, so that no tail of it can pose as
    // a line of its own.
    static constexpr int MAX_LINE_BYTES = 4096;
    // How much of a file is read at most. Real PPDs name their model in the first few lines.
    static constexpr qint64 MAX_TOTAL_BYTES = 4 * 1024 * 1024;

    // Reads the file at `path` up to the first "*ModelName" line whose value is in the model
    // table; true then, with the value (in the PPD's own letter case) in `model`. False when the
    // file is missing, not a regular file, unreadable or names no known model; `model` is left
    // untouched then. `codec` decodes the lines (UTF-8).
    static bool FindModel(const QString& path, QTextCodec* codec, QString& model);

    // FindModel for the PPD of the queue named `name` (its bytes as CUPS keeps them) in `ppdDir`:
    // "<name>.ppd". The file is opened by the name's bytes and read through its descriptor, as a
    // name that is not UTF-8 has no QString that leads back to the file. False without opening
    // anything for a name that cannot name a file (QueueNameCheck); `denied` (when given) tells
    // whether the file was there but not readable for this user.
    static bool FindModelOfQueue(const QString& ppdDir, const QByteArray& name, QTextCodec* codec,
                                 QString& model, bool* denied = nullptr);

    // One raw line (with or without its line end): true when it is a "*ModelName" line whose
    // value names a model of the table.
    static bool MatchLine(const QByteArray& line, QTextCodec* codec, QString& model);
};
