#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

namespace torvane {

// A file saved whole or not at all. Usually written to a temporary file beside it which takes the file's
// place on commit(), with the old file's owner, group, mode and extended attributes. Where a new file
// cannot keep those (the user may not give it the owner or group, the file has more than one link, the
// folder cannot be written), the file is written in place instead, after a copy of its bytes was made; a
// failure then writes the copy back.
//
// Every write is checked; a failure throws TFailure("ストリームへの書き込みに失敗しました") and leaves the
// old file as it was, and so does destroying the object without commit(). Temporary files that an earlier
// save left behind (killed before it could rename its file) are removed when the next save of the same
// file starts.
class TAtomicFile {
public:
    // Throws TFailure("ファイル <name> を作成できません") when the file cannot be created, or when the name is
    // taken by something other than a regular file its owner may write (a FIFO, a device, a folder, a
    // read-only file).
    explicit TAtomicFile(const QString& fileName);
    ~TAtomicFile();
    TAtomicFile(const TAtomicFile&) = delete;
    TAtomicFile& operator=(const TAtomicFile&) = delete;

    void write(QByteArrayView bytes);
    void commit();

private:
    // The file being replaced, when there is one.
    struct TTarget {
        bool exists = false;
        uint owner = 0;
        uint group = 0;
        uint mode = 0;
    };

    // Cleans up what earlier saves left, then opens a temporary file that has the target's owner, group, mode
    // and attributes; false when it cannot have them (nothing is left behind then).
    enum class TOpened { Yes, CannotKeep, CannotCreate };
    TOpened openReplacement(const TTarget& target);
    void openInPlace();
    void removeStaleTemporaries() const;
    // Drops what was written: the temporary file, or the old bytes written back from the copy. False when
    // the copy could not be written back (it is kept then).
    bool abandon();
    [[noreturn]] void fail();

    QString m_fileName;
    QByteArray m_path;
    int m_fd = -1;
    int m_backupFd = -1;
    bool m_inPlace = false;
    bool m_written = false;
    QByteArray m_tempPath;
    QByteArray m_backupPath;
    qint64 m_oldSize = 0;
    qint64 m_size = 0;
};

// Replaces `fileName` by `bytes` as TAtomicFile does.
void writeFileAtomically(const QString& fileName, const QByteArray& bytes);

} // namespace torvane
