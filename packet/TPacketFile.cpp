#include "TPacketFile.h"

#include "TAtomicFile.h"
#include "TFailure.h"
#include "TFileBytes.h"
#include "THugePages.h"
#include "TLineBreaks.h"
#include "TPacketCodec.h"

#include <QFile>

#include <algorithm>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace torvane {

namespace {

// Where the first byte of 0x80 or above stands; -1 for ASCII alone, which reads the same either way.
qsizetype firstNonAscii(QByteArrayView bytes)
{
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const qsizetype n = bytes.size();
    qsizetype i = 0;
    for (; i + 8 <= n; i += 8) {
        quint64 word;
        std::memcpy(&word, p + i, 8);
        if (word & 0x8080808080808080ULL) {
            break;
        }
    }
    for (; i < n; ++i) {
        if (p[i] >= 0x80) {
            return i;
        }
    }
    return -1;
}

// What a scan of the bytes as UTF-8 found.
struct TUtf8Scan {
    // Well-formed UTF-8 throughout (no overlong forms, surrogates or code points past U+10FFFF).
    bool valid = true;
    // At least one sequence that CP932 cannot read as two half-width katakana: three or four bytes, or two
    // bytes of which one lies outside A1..DF. CP932 text whose only non-ASCII characters are half-width
    // katakana is often well-formed UTF-8 as well (ﾐｷ is D0 B7, "з"); only such a sequence tells UTF-8.
    bool beyondKatakana = false;
};

// Scans `bytes` from `from` on. Stops at the first fault, so that a CP932 file is told apart at once.
TUtf8Scan scanUtf8(QByteArrayView bytes, qsizetype from)
{
    TUtf8Scan scan;
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const qsizetype n = bytes.size();
    qsizetype i = from;
    while (i < n) {
        const unsigned char b = p[i];
        if (b < 0x80) {
            ++i;
            // The markup between the text is passed over eight bytes at a time.
            quint64 word;
            while (i + 8 <= n && (std::memcpy(&word, p + i, 8), (word & 0x8080808080808080ULL) == 0)) {
                i += 8;
            }
            continue;
        }
        int length = 0;
        unsigned char low = 0x80;
        unsigned char high = 0xBF;
        if (b >= 0xC2 && b <= 0xDF) {
            length = 2;
        } else if (b >= 0xE0 && b <= 0xEF) {
            length = 3;
            low = b == 0xE0 ? 0xA0 : 0x80;
            high = b == 0xED ? 0x9F : 0xBF;
        } else if (b >= 0xF0 && b <= 0xF4) {
            length = 4;
            low = b == 0xF0 ? 0x90 : 0x80;
            high = b == 0xF4 ? 0x8F : 0xBF;
        } else {
            scan.valid = false;
            return scan;
        }
        if (i + length > n || p[i + 1] < low || p[i + 1] > high) {
            scan.valid = false;
            return scan;
        }
        for (int k = 2; k < length; ++k) {
            if ((p[i + k] & 0xC0) != 0x80) {
                scan.valid = false;
                return scan;
            }
        }
        // A two-byte lead is always in A1..DF; its second byte decides.
        if (length > 2 || p[i + 1] < 0xA1) {
            scan.beyondKatakana = true;
        }
        i += length;
    }
    return scan;
}

bool isXmlSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// Whether the file begins with an XML declaration whose encoding is UTF-8 (letter case ignored, as in
// hand-typed declarations). Looks no further than the declaration's first ">".
bool declaresUtf8(QByteArrayView bytes)
{
    qsizetype i = 0;
    while (i < bytes.size() && isXmlSpace(bytes[i])) {
        ++i;
    }
    if (!bytes.sliced(i).startsWith("<?xml") || i + 5 >= bytes.size() || !isXmlSpace(bytes[i + 5])) {
        return false;
    }
    const qsizetype end = bytes.indexOf('>', i);
    const QByteArrayView declaration = bytes.sliced(i, (end < 0 ? bytes.size() : end) - i);
    const QLatin1StringView text(declaration.data(), declaration.size());
    const qsizetype at = text.indexOf(QLatin1StringView("encoding"), 0, Qt::CaseInsensitive);
    if (at < 0) {
        return false;
    }
    qsizetype k = at + 8;
    const auto skipSpaces = [&] {
        while (k < text.size() && isXmlSpace(text[k].toLatin1())) {
            ++k;
        }
    };
    skipSpaces();
    if (k >= text.size() || text[k] != u'=') {
        return false;
    }
    ++k;
    skipSpaces();
    if (k >= text.size() || (text[k] != u'"' && text[k] != u'\'')) {
        return false;
    }
    const QChar quote = text[k];
    const QLatin1StringView value = text.sliced(k + 1);
    return value.startsWith(QLatin1StringView("UTF-8"), Qt::CaseInsensitive) && value.size() > 5 && value[5] == quote;
}
} // namespace

QByteArray encodePacketFile(const QString& text)
{
    // The XML view holds CR LF line breaks only, so its text goes through the codec whole, in one pass into
    // a buffer of the largest size it can take; the codec writes JIS characters in their CP932 forms on
    // the way. Text from elsewhere has its lone line breaks made CR LF first. A packet of a million rows is
    // some hundred million characters.
    const QString fileText = toCrLf(text);
    const TPacketCodec& codec = TPacketCodec::cp932();
    QByteArray bytes;
    bytes.reserve(fileText.size() * 2);
    if (!codec.available()) {
        throw TFailure(NoCodecMessage);
    }
    const qsizetype bad = codec.encode(fileText, bytes);
    if (bad >= 0) {
        throw TFailure(unrepresentableMessage(fileText, bad));
    }
    return bytes;
}

void savePacketFile(const QString& fileName, const QString& text)
{
    const TPacketCodec& codec = TPacketCodec::cp932();
    if (!codec.available()) {
        writeFileAtomically(fileName, encodePacketFile(text));
        return;
    }
    // Encoded and written a piece at a time into one small buffer: a packet of a million rows is two
    // hundred megabytes, which need not be held a second time. A character that cannot be saved drops
    // the temporary file; the old file is replaced only once all is written.
    const QString fileText = toCrLf(text);
    TAtomicFile file(fileName);
    constexpr qsizetype PieceLength = 256 * 1024;
    QByteArray piece;
    piece.reserve(2 * PieceLength);
    for (qsizetype at = 0; at < fileText.size(); at += PieceLength) {
        piece.truncate(0);
        const qsizetype bad = codec.encode(QStringView(fileText).mid(at, PieceLength), piece);
        if (bad >= 0) {
            // The refusal names the character the codec stopped at and its line; an incomplete piece is
            // never written.
            throw TFailure(unrepresentableMessage(fileText, at + bad));
        }
        file.write(piece);
    }
    file.commit();
}

QString decodeFileText(QByteArrayView bytes)
{
    const bool bom = bytes.startsWith("\xEF\xBB\xBF");
    if (bom) {
        bytes = bytes.sliced(3);
    }
    const qsizetype nonAscii = firstNonAscii(bytes);
    bool utf8 = bom;
    if (!utf8 && nonAscii >= 0) {
        const TUtf8Scan scan = scanUtf8(bytes, nonAscii);
        utf8 = scan.valid && (scan.beyondKatakana || declaresUtf8(bytes));
    }
    if (utf8) {
        return QString::fromUtf8(bytes);
    }
    const TPacketCodec& codec = TPacketCodec::cp932();
    if (!codec.available() && nonAscii >= 0) {
        throw TFailure(NoCodecMessage);
    }
    return codec.decode(bytes);
}

namespace {

TFileStamp stampOf(const struct stat& info)
{
    TFileStamp stamp;
    stamp.device = info.st_dev;
    stamp.inode = info.st_ino;
    stamp.size = info.st_size;
    stamp.modified = qint64(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
    return stamp;
}

} // namespace

TFileStamp fileStampOf(const QString& fileName)
{
    struct stat info {};
    const bool regular = ::stat(QFile::encodeName(fileName).constData(), &info) == 0 && S_ISREG(info.st_mode);
    return regular ? stampOf(info) : TFileStamp();
}

QByteArray readRegularFile(const QString& fileName, TFileStamp* stamp)
{
    const QString cannotOpen = QStringLiteral("ファイル %1 は開けません").arg(fileName);
    // Regular files only: a FIFO would wait for a writer (O_NONBLOCK keeps the open itself from waiting),
    // a device such as /dev/zero would be read until memory runs out, and a folder has no text. The type
    // is checked on the opened descriptor, so that the file cannot be swapped in between.
    const int fd = ::open(QFile::encodeName(fileName).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        throw TFailure(cannotOpen);
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        throw TFailure(cannotOpen);
    }
    // The file is read up to the size it has, so that one that keeps growing cannot hold the window. Files
    // of /proc and /sys tell no size and some of them never end (/proc/self/pagemap): those are read up to
    // a bound. A failed read is never taken for the end of the file: that would make a failing disk's
    // file an empty packet, which the next save would write over the file.
    const bool sized = info.st_size > 0;
    // (Past the bound by a whole page, since some of them take reads of whole records only.)
    const qint64 limit = sized ? qint64(info.st_size) : qint64(UnsizedFileLimit) + 4096;
    QByteArray bytes;
    qint64 got = 0;
    try {
        bytes.resize(sized ? limit : 64 * 1024);
        preferHugePages(bytes.data(), bytes.size());
        while (got < limit) {
            if (got == bytes.size()) {
                bytes.resize(std::min<qint64>(limit, 2 * got));
            }
            const ssize_t done = ::read(fd, bytes.data() + got, static_cast<size_t>(bytes.size() - got));
            if (done < 0 && errno == EINTR) {
                continue;
            }
            if (done < 0) {
                const int error = errno;
                ::close(fd);
                throw TFailure(
                    QStringLiteral("ファイル %1 を読み込めません（%2）").arg(fileName, qt_error_string(error)));
            }
            if (done == 0) {
                break;
            }
            got += done;
        }
    } catch (const std::bad_alloc&) {
        ::close(fd);
        throw;
    }
    ::close(fd);
    if (got > UnsizedFileLimit && !sized) {
        throw TFailure(QStringLiteral("ファイル %1 は大きさを示さず、%2 MB を超えても終わらないため読み込みません")
                           .arg(fileName)
                           .arg(UnsizedFileLimit / (1024 * 1024)));
    }
    bytes.truncate(got);
    if (stamp) {
        *stamp = stampOf(info);
    }
    return bytes;
}

QString loadPacketFile(const QString& fileName, TFileStamp* stamp)
{
    return decodeFileText(readRegularFile(fileName, stamp));
}

} // namespace torvane
