#include "TFileBytes.h"

#include "TFailure.h"
#include "TPacketCodec.h"

#include <QFile>
#include <QSaveFile>

#include <cerrno>

#include <sys/stat.h>
#include <unistd.h>

namespace torvane {

namespace {

QString hexCode(char32_t c)
{
    return QString::number(static_cast<uint>(c), 16).toUpper().rightJustified(4, u'0');
}

} // namespace

QString unrepresentableMessage(const QString& fileText, qsizetype pos)
{
    const qsizetype line = QStringView(fileText).left(pos).count(u'\n') + 1;
    const QChar c = fileText[pos];
    if (c.isHighSurrogate() && pos + 1 < fileText.size() && fileText[pos + 1].isLowSurrogate()) {
        const char32_t code = QChar::surrogateToUcs4(c, fileText[pos + 1]);
        return QStringLiteral("%1 行目の文字「%2」(U+%3) は Shift_JIS (CP932) で表せないため、保存できません")
            .arg(line)
            .arg(fileText.mid(pos, 2), hexCode(code));
    }
    if (c.isSurrogate()) {
        // Half of a pair cannot be shown on its own.
        return QStringLiteral("%1 行目の文字 (U+%2) は Shift_JIS (CP932) で表せないため、保存できません")
            .arg(line)
            .arg(hexCode(c.unicode()));
    }
    return QStringLiteral("%1 行目の文字「%2」(U+%3) は Shift_JIS (CP932) で表せないため、保存できません")
        .arg(line)
        .arg(QString(c), hexCode(c.unicode()));
}

QByteArray encodeCp932(const QString& fileText)
{
    const TPacketCodec& codec = TPacketCodec::cp932();
    if (!codec.available()) {
        throw TFailure(NoCodecMessage);
    }
    QByteArray bytes;
    bytes.reserve(fileText.size() * 2);
    const qsizetype bad = codec.encode(fileText, bytes);
    if (bad >= 0) {
        throw TFailure(unrepresentableMessage(fileText, bad));
    }
    return bytes;
}

QString writeFailedMessage()
{
    return QStringLiteral("ストリームへの書き込みに失敗しました");
}

TAtomicFile::TAtomicFile(const QString& fileName) : m_file(fileName)
{
    // The save replaces the target by a new file. Over a FIFO, a device or a folder that would destroy
    // what they are (or, as root, replace /dev/null); a file its owner may not write is read-only on
    // purpose, and root, whom the system lets write anything, must not overwrite it either.
    const QString cannotCreate = QStringLiteral("ファイル %1 を作成できません").arg(fileName);
    struct stat target {};
    if (::stat(QFile::encodeName(fileName).constData(), &target) == 0 &&
        (!S_ISREG(target.st_mode) || (target.st_mode & S_IWUSR) == 0)) {
        throw TFailure(cannotCreate);
    }
    if (!m_file.open(QIODevice::WriteOnly)) {
        throw TFailure(cannotCreate);
    }
}

void TAtomicFile::fail()
{
    m_file.cancelWriting();
    m_file.commit();
    throw TFailure(writeFailedMessage());
}

void TAtomicFile::write(QByteArrayView bytes)
{
    if (m_file.write(bytes.data(), bytes.size()) != bytes.size()) {
        fail();
    }
}

void TAtomicFile::commit()
{
    // QSaveFile keeps up to 16 KB in its buffer and writes it only in commit(), which does not notice
    // when that write fails (a full disk, a file-size limit) and puts the empty or cut-short file in the
    // old one's place. So every byte is flushed and synced here, where each failure is seen.
    const bool written = m_file.flush() && (::fsync(m_file.handle()) == 0 || errno == EINVAL || errno == ENOTSUP);
    if (!written || m_file.error() != QFileDevice::NoError) {
        fail();
    }
    if (!m_file.commit()) {
        throw TFailure(writeFailedMessage());
    }
}

void writeFileAtomically(const QString& fileName, const QByteArray& bytes)
{
    TAtomicFile file(fileName);
    file.write(bytes);
    file.commit();
}

} // namespace torvane
