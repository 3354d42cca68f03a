#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QSaveFile>
#include <QString>

namespace torvane {

inline const QLatin1String NoCodecMessage("この環境の Qt には Shift_JIS (CP932) の変換器 (windows-31j) がありません");

// Encodes a file's text (its line breaks as the file is to hold them) as CP932. Throws TFailure naming the
// first character CP932 cannot represent and its line, or saying that this Qt has no CP932 converter.
QByteArray encodeCp932(const QString& fileText);

// The refusal for the character at `pos` of a file's text that CP932 cannot represent: the character and
// its line (1-based).
QString unrepresentableMessage(const QString& fileText, qsizetype pos);

// What a save says when its bytes could not be written.
QString writeFailedMessage();

// A file replaced atomically: written to a temporary file beside it, which takes the file's place on
// commit(). Every write is checked; a failure throws TFailure("ストリームへの書き込みに失敗しました") and
// drops the temporary file, and so does destroying the object without commit(): the old file stays as it
// was either way.
class TAtomicFile {
public:
    // Throws TFailure("ファイル <name> を作成できません") when the file cannot be created, or when the name is
    // taken by something other than a regular file its owner may write (a FIFO, a device, a folder, a
    // read-only file).
    explicit TAtomicFile(const QString& fileName);
    void write(QByteArrayView bytes);
    void commit();

private:
    [[noreturn]] void fail();

    QSaveFile m_file;
};

// Replaces `fileName` by `bytes` atomically, as TAtomicFile does.
void writeFileAtomically(const QString& fileName, const QByteArray& bytes);

} // namespace torvane
