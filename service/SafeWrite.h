#pragma once

#include <QByteArray>
#include <QString>

// The one way the service and orvo-add-printer write files in the cfg directory. That directory
// is root's in an install, but an administrator may have handed it to a user; root must then never
// write through a symbolic link (or into a hard link) planted there, which would overwrite any
// file of the machine. A refused path is told in the log once, until a write of it succeeds.
class SafeWrite
{
public:
    // Replaces the file at `path` with `data` as a whole: written to a new file beside it, then
    // renamed over it, so a reader sees the old content or the new one, never a part. Refused when
    // a symbolic link or anything but a regular file stands at `path`, or when its directory is a
    // symbolic link. False when refused or when the data did not reach the disk whole.
    static bool ReplaceFile(const QString& path, const QByteArray& data);

    // Rewrites the file at `path` in place with `data`: cut to nothing, then written. The file
    // keeps its inode, so a reader that watches it stays attached; a reader may briefly find it
    // empty or short, as the desktop application expects of the status and heartbeat files.
    // Refused like OpenOutput. False when refused or when the data did not reach the file whole.
    static bool RewriteFile(const QString& path, const QByteArray& data);

    // Opens `path` for a tool's output: created, or an existing regular file cut to nothing.
    // Refused like ReplaceFile, and also for a file with another name elsewhere (a hard link).
    // The descriptor (close-on-exec), or -1.
    static int OpenOutput(const QString& path);

    // The temporary names ReplaceFile gives its new files: a crash between writing and renaming
    // leaves one behind.
    static bool IsTemporaryName(const QString& fileName);
};
