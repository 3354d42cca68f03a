#include "TAtomicFile.h"

#include "TFailure.h"
#include "TFileBytes.h"
#include "TMessageLanguage.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <algorithm>
#include <cerrno>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace torvane {

namespace {

QString cannotCreateMessage(const QString& fileName)
{
    return say(u"ファイル %1 を作成できません", u"the file %1 cannot be created").arg(fileName);
}

// Where this program's temporary files for a save of `path` go: hidden beside it, named after it.
QByteArray temporaryPrefix(const QFileInfo& path)
{
    return QFile::encodeName(path.absolutePath() + QStringLiteral("/.") + path.fileName() +
                             QStringLiteral(".torvane-"));
}

constexpr int RandomLength = 6;
// The copy of the old bytes may lie in the shared folder for temporary files: only the user may read it.
constexpr mode_t BackupMode = 0600;

// Creates a new file named `prefix` and six random letters or digits, with `mode` as the umask lets a new
// file have it. Returns its descriptor (or -1 with errno set) and its name in `path`.
int createUnique(const QByteArray& prefix, QByteArray* path, mode_t mode)
{
    static const char letters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    for (int attempt = 0; attempt < 100; ++attempt) {
        QByteArray name = prefix;
        for (int i = 0; i < RandomLength; ++i) {
            name += letters[QRandomGenerator::global()->bounded(int(sizeof letters - 1))];
        }
        const int fd = ::open(name.constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd >= 0 || errno != EEXIST) {
            *path = name;
            return fd;
        }
    }
    errno = EEXIST;
    return -1;
}

bool writeAll(int fd, const char* data, qint64 size, qint64 offset)
{
    while (size > 0) {
        const ssize_t done = ::pwrite(fd, data, static_cast<size_t>(size), offset);
        if (done < 0 && errno == EINTR) {
            continue;
        }
        if (done <= 0) {
            return false;
        }
        data += done;
        size -= done;
        offset += done;
    }
    return true;
}

// Copies the first `size` bytes of `from` to the start of `to`.
bool copyBytes(int from, int to, qint64 size)
{
    QByteArray buffer(1 << 20, Qt::Uninitialized);
    for (qint64 at = 0; at < size;) {
        const ssize_t got =
            ::pread(from, buffer.data(), static_cast<size_t>(std::min<qint64>(buffer.size(), size - at)), at);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0 || !writeAll(to, buffer.constData(), got, at)) {
            return false;
        }
        at += got;
    }
    return true;
}

// A file system that cannot sync (a pipe-like or some network file systems) says so; that is no failure.
bool sync(int fd)
{
    return ::fsync(fd) == 0 || errno == EINVAL || errno == ENOTSUP;
}

// Gives `fd` every extended attribute of `path` (access lists, labels, user attributes); false when one of
// them could not be read or set.
bool copyAttributes(const QByteArray& path, int fd)
{
    ssize_t length = ::listxattr(path.constData(), nullptr, 0);
    if (length < 0) {
        return errno == ENOTSUP;
    }
    QByteArray names(length, Qt::Uninitialized);
    length = ::listxattr(path.constData(), names.data(), static_cast<size_t>(names.size()));
    if (length < 0) {
        return false;
    }
    names.truncate(length);
    for (const QByteArray& name : names.split('\0')) {
        if (name.isEmpty()) {
            continue;
        }
        const ssize_t size = ::getxattr(path.constData(), name.constData(), nullptr, 0);
        if (size < 0) {
            return false;
        }
        QByteArray value(size, Qt::Uninitialized);
        if (::getxattr(path.constData(), name.constData(), value.data(), static_cast<size_t>(value.size())) != size ||
            ::fsetxattr(fd, name.constData(), value.constData(), static_cast<size_t>(value.size()), 0) != 0) {
            return false;
        }
    }
    return true;
}

} // namespace

TAtomicFile::TAtomicFile(const QString& fileName) : m_fileName(fileName)
{
    // A link is followed: the file it names is saved, and the link stays a link.
    const QFileInfo given(fileName);
    QString path = given.absoluteFilePath();
    if (given.isSymLink()) {
        path = given.exists() ? given.canonicalFilePath() : given.symLinkTarget();
    }
    m_path = QFile::encodeName(path);

    // The save replaces the target by a new file or writes into it. Over a FIFO, a device or a folder that
    // would destroy what they are (or, as root, replace /dev/null); a file its owner may not write is
    // read-only on purpose, and root, whom the system lets write anything, must not overwrite it either.
    const QString cannotCreate = cannotCreateMessage(fileName);
    struct stat info {};
    TTarget target;
    if (::stat(m_path.constData(), &info) == 0) {
        if (!S_ISREG(info.st_mode) || (info.st_mode & S_IWUSR) == 0 || ::access(m_path.constData(), W_OK) != 0) {
            throw TFailure(cannotCreate);
        }
        target = {true, info.st_uid, info.st_gid, static_cast<uint>(info.st_mode & 07777)};
    }
    removeStaleTemporaries();
    // A new file would leave the other names of the old one with the old bytes.
    const bool linked = target.exists && info.st_nlink > 1;
    const TOpened opened = linked ? TOpened::CannotKeep : openReplacement(target);
    if (opened == TOpened::Yes) {
        return;
    }
    if (opened == TOpened::CannotCreate || !target.exists) {
        throw TFailure(cannotCreate);
    }
    openInPlace();
}

TAtomicFile::~TAtomicFile()
{
    abandon();
}

void TAtomicFile::removeStaleTemporaries() const
{
    // A temporary file is in use while its save holds a lock on it; one that nobody locks was left by a save
    // that was killed. Only the user's own regular files of this program's naming are looked at.
    const QFileInfo path(QFile::decodeName(m_path));
    const QString prefix = QFile::decodeName(temporaryPrefix(path)).section(u'/', -1);
    const QDir folder(path.absolutePath());
    for (const QString& name : folder.entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::NoSort)) {
        if (name.size() != prefix.size() + RandomLength || !name.startsWith(prefix)) {
            continue;
        }
        const QByteArray stale = QFile::encodeName(folder.filePath(name));
        const int fd = ::open(stale.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            continue;
        }
        struct stat info {};
        if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_uid == ::geteuid() &&
            ::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            ::unlink(stale.constData());
        }
        ::close(fd);
    }
}

TAtomicFile::TOpened TAtomicFile::openReplacement(const TTarget& target)
{
    const int fd = createUnique(temporaryPrefix(QFileInfo(QFile::decodeName(m_path))), &m_tempPath, 0666);
    if (fd < 0) {
        // A folder the user may not write: the file itself may still be written.
        return errno == EACCES || errno == EPERM ? TOpened::CannotKeep : TOpened::CannotCreate;
    }
    ::flock(fd, LOCK_EX);
    if (target.exists) {
        // The owner first: changing it clears the set-user-ID and set-group-ID bits, which the mode then
        // gives back, and the attributes last, since a new owner drops file capabilities.
        struct stat made {};
        const bool kept = ::fstat(fd, &made) == 0 &&
                          ((made.st_uid == target.owner && made.st_gid == target.group) ||
                           ::fchown(fd, target.owner, target.group) == 0) &&
                          ::fchmod(fd, target.mode) == 0 && copyAttributes(m_path, fd);
        if (!kept) {
            ::close(fd);
            ::unlink(m_tempPath.constData());
            return TOpened::CannotKeep;
        }
    }
    m_fd = fd;
    return TOpened::Yes;
}

void TAtomicFile::openInPlace()
{
    const QString cannotCreate = cannotCreateMessage(m_fileName);
    const int fd = ::open(m_path.constData(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    struct stat info {};
    if (fd < 0 || ::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        if (fd >= 0) {
            ::close(fd);
        }
        throw TFailure(cannotCreate);
    }
    // The old bytes are copied first, beside the file where the folder lets us, else into the folder for
    // temporary files; a write that fails halfway puts them back.
    m_inPlace = true;
    m_fd = fd;
    m_oldSize = info.st_size;
    const QFileInfo path(QFile::decodeName(m_path));
    m_backupFd = createUnique(QFile::encodeName(path.absoluteFilePath() + QStringLiteral(".torvane-backup-")),
                              &m_backupPath, BackupMode);
    if (m_backupFd < 0) {
        m_backupFd = createUnique(QFile::encodeName(QDir::tempPath() + QStringLiteral("/torvane-backup-")),
                                  &m_backupPath, BackupMode);
    }
    if (m_backupFd < 0) {
        m_backupPath.clear();
        abandon();
        throw TFailure(cannotCreate);
    }
    if (!copyBytes(m_fd, m_backupFd, m_oldSize) || !sync(m_backupFd)) {
        abandon();
        throw TFailure(writeFailedMessage());
    }
}

bool TAtomicFile::abandon()
{
    bool restored = true;
    if (m_inPlace && m_fd >= 0 && m_written) {
        restored = m_backupFd >= 0 && copyBytes(m_backupFd, m_fd, m_oldSize) && ::ftruncate(m_fd, m_oldSize) == 0 &&
                   sync(m_fd);
    }
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
        if (!m_inPlace) {
            ::unlink(m_tempPath.constData());
        }
    }
    if (m_backupFd >= 0) {
        ::close(m_backupFd);
        m_backupFd = -1;
        if (restored) {
            ::unlink(m_backupPath.constData());
        }
    }
    return restored;
}

void TAtomicFile::fail()
{
    if (abandon()) {
        throw TFailure(writeFailedMessage());
    }
    // The old bytes could not be put back: say where they are.
    throw TFailure(writeFailedMessage() + say(u"。元の内容は %1 に残してあります", u"; the old contents are kept in %1")
                                              .arg(QFile::decodeName(m_backupPath)));
}

void TAtomicFile::write(QByteArrayView bytes)
{
    if (m_fd < 0) {
        fail();
    }
    m_written = true;
    if (!writeAll(m_fd, bytes.data(), bytes.size(), m_size)) {
        fail();
    }
    m_size += bytes.size();
}

void TAtomicFile::commit()
{
    // Every byte is synced before the file takes the old one's place, so that a full disk or a file-size
    // limit is seen here and not after the old file is gone.
    if (m_fd < 0 || (m_inPlace && ::ftruncate(m_fd, m_size) != 0) || !sync(m_fd)) {
        fail();
    }
    if (m_inPlace) {
        ::close(m_fd);
        m_fd = -1;
        abandon();
        return;
    }
    const int fd = m_fd;
    m_fd = -1;
    if (::close(fd) != 0 || ::rename(m_tempPath.constData(), m_path.constData()) != 0) {
        ::unlink(m_tempPath.constData());
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
