#include "TPacketFile.h"

#include "TAtomicFile.h"
#include "TFailure.h"
#include "TFileBytes.h"
#include "TLineBreaks.h"
#include "TMessageLanguage.h"
#include "TPacketCodec.h"

#include <QFile>
#include <QScopeGuard>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <limits>
#include <system_error>
#include <thread>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace torvane {

namespace {

// Gives the pages wholly inside [from, to) of this program's own memory back to the system, which reads
// them as zeros from then on.
void releasePages(const void* from, const void* to)
{
    const auto page = static_cast<quintptr>(::sysconf(_SC_PAGESIZE));
    const quintptr begin = (reinterpret_cast<quintptr>(from) + page - 1) & ~(page - 1);
    const quintptr end = reinterpret_cast<quintptr>(to) & ~(page - 1);
    if (begin < end) {
        ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_DONTNEED);
    }
}

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
        const int length = utf8SequenceLength(p, i, n);
        if (length == 0) {
            scan.valid = false;
            return scan;
        }
        // A two-byte lead is always in A1..DF; its second byte decides.
        if (length > 2 || p[i + 1] < 0xA1) {
            scan.beyondKatakana = true;
        }
        i += length;
    }
    return scan;
}

// The line (1-based) that the unit at `offset` stands on: a CR LF pair, a lone LF and a lone CR each end
// one.
template <typename Unit> qsizetype lineAt(const Unit* p, qsizetype offset)
{
    qsizetype line = 1;
    for (qsizetype i = 0; i < offset; ++i) {
        line += p[i] == '\n' || (p[i] == '\r' && (i + 1 >= offset || p[i + 1] != '\n'));
    }
    return line;
}

// The UTF-8 text of bytes that may hold faults: well-formed ones (the common case, checked by the scan
// that stops at the first fault) take Qt's decoder, others the one that counts what it replaces.
QString decodeUtf8Counted(QByteArrayView bytes, TDecodeFaults* faults)
{
    const qsizetype nonAscii = firstNonAscii(bytes);
    if (nonAscii < 0 || scanUtf8(bytes, nonAscii).valid) {
        return QString::fromUtf8(bytes);
    }
    return decodeUtf8(bytes, faults);
}

// The file's text for `encoding`: line breaks as it holds them.
QString fileTextFor(const QString& text, const TTextEncoding& encoding)
{
    QString fileText = toCrLf(text);
    if (encoding.lineBreaks == TLineBreakStyle::Lf) {
        return toLfBreaks(std::move(fileText));
    }
    return fileText;
}

} // namespace

QByteArray encodePacketFile(const QString& text, const TTextEncoding& loaded)
{
    // The XML view holds CR LF line breaks only, so its text goes through the encoder whole, in one pass
    // into a buffer of the largest size it can take; the CP932 codec writes JIS characters in their CP932
    // forms on the way. Text from elsewhere has its lone line breaks made CR LF first. A packet of a
    // million rows is some hundred million characters.
    const TTextEncoding target = saveEncodingFor(text, loaded);
    if (target.kind == TEncodingKind::Cp932 && !TPacketCodec::cp932().available()) {
        throw TFailure(noCodecMessage());
    }
    const QString fileText = fileTextFor(text, target);
    QByteArray bytes = target.byteOrderMark ? byteOrderMarkOf(target.kind) : QByteArray();
    bytes.reserve(bytes.size() + fileText.size() * (target.kind == TEncodingKind::Utf8 ? 3 : 2));
    const qsizetype bad = encodeText(fileText, target.kind, bytes);
    if (bad >= 0) {
        throw TFailure(unrepresentableMessage(fileText, bad, encodingDisplayName(target.kind)));
    }
    return bytes;
}

TTextEncoding savePacketFile(const QString& fileName, const QString& text, const TTextEncoding& loaded)
{
    const TTextEncoding target = saveEncodingFor(text, loaded);
    if (target.kind == TEncodingKind::Cp932 && !TPacketCodec::cp932().available()) {
        writeFileAtomically(fileName, encodePacketFile(text, loaded));
        return target;
    }
    // Encoded and written a piece at a time into one small buffer: a packet of a million rows is two
    // hundred megabytes, which need not be held a second time. A character that cannot be saved drops
    // the temporary file; the old file is replaced only once all is written.
    const QString fileText = fileTextFor(text, target);
    TAtomicFile file(fileName);
    constexpr qsizetype PieceLength = 256 * 1024;
    QByteArray piece;
    piece.reserve(3 * PieceLength + 3);
    if (target.byteOrderMark) {
        piece = byteOrderMarkOf(target.kind);
    }
    for (qsizetype at = 0; at < fileText.size();) {
        qsizetype length = std::min(PieceLength, fileText.size() - at);
        // A surrogate pair is encoded whole, in one piece.
        if (at + length < fileText.size() && fileText[at + length - 1].isHighSurrogate()) {
            ++length;
        }
        const qsizetype bad = encodeText(QStringView(fileText).mid(at, length), target.kind, piece);
        if (bad >= 0) {
            // The refusal names the character the encoder stopped at and its line; an incomplete piece
            // is never written.
            throw TFailure(unrepresentableMessage(fileText, at + bad, encodingDisplayName(target.kind)));
        }
        file.write(piece);
        piece.truncate(0);
        at += length;
    }
    if (!piece.isEmpty()) {
        // A byte-order mark and no text.
        file.write(piece);
    }
    file.commit();
    return target;
}

TDecodedText decodeText(QByteArrayView bytes, QString* room)
{
    TDecodedText decoded;
    TTextEncoding& encoding = decoded.encoding;
    TDecodeFaults* faults = &decoded.faults;
    // The start of the file tells UTF-16 and a UTF-8 byte-order mark; nothing else needs a scan.
    // Without a mark, a first character that is ASCII beside a NUL ("<?" is 3C 00 3F 00 or 00 3C 00 3F,
    // a line break or a space before it the same) can only be UTF-16: no text in another encoding holds a
    // NUL there.
    const bool nulSecond = bytes.size() >= 2 && bytes[0] != 0 && bytes[1] == 0;
    const bool nulFirst = bytes.size() >= 2 && bytes[0] == 0 && bytes[1] != 0;
    bool utf16 = true;
    if (bytes.startsWith("\xFF\xFE") || nulSecond) {
        encoding.kind = TEncodingKind::Utf16Le;
        encoding.byteOrderMark = bytes.startsWith("\xFF\xFE");
    } else if (bytes.startsWith("\xFE\xFF") || nulFirst) {
        encoding.kind = TEncodingKind::Utf16Be;
        encoding.byteOrderMark = bytes.startsWith("\xFE\xFF");
    } else {
        utf16 = false;
        encoding.byteOrderMark = bytes.startsWith("\xEF\xBB\xBF");
    }
    const QByteArrayView body = encoding.byteOrderMark ? bytes.sliced(utf16 ? 2 : 3) : bytes;
    bool faultInText = false;
    if (utf16) {
        decoded.text = decodeUtf16(body, encoding.kind == TEncodingKind::Utf16Be, faults);
        decoded.declaredName =
            declaredEncodingName(QStringView(decoded.text).first(std::min<qsizetype>(decoded.text.size(), 1024)));
        const std::optional<TEncodingKind> declared = encodingKindNamed(decoded.declaredName);
        decoded.followsDeclaration =
            declared && (*declared == TEncodingKind::Utf16Le || *declared == TEncodingKind::Utf16Be);
    } else {
        // The declaration is honoured, but one naming UTF-16 in bytes that read as ASCII is wrong.
        decoded.declaredName = declaredEncodingName(body);
        std::optional<TEncodingKind> declared = encodingKindNamed(decoded.declaredName);
        if (declared == TEncodingKind::Utf16Le || declared == TEncodingKind::Utf16Be) {
            declared.reset();
        }
        // Set where the guess below has scanned the bytes whole as well-formed UTF-8.
        bool wellFormedUtf8 = false;
        if (encoding.byteOrderMark) {
            encoding.kind = TEncodingKind::Utf8;
            decoded.followsDeclaration = declared == TEncodingKind::Utf8;
        } else if (declared) {
            encoding.kind = *declared;
            decoded.followsDeclaration = true;
        } else {
            const qsizetype nonAscii = firstNonAscii(body);
            bool utf8 = false;
            if (nonAscii >= 0) {
                const TUtf8Scan scan = scanUtf8(body, nonAscii);
                utf8 = scan.valid && scan.beyondKatakana;
            }
            encoding.kind = utf8 ? TEncodingKind::Utf8 : TEncodingKind::Cp932;
            wellFormedUtf8 = utf8;
        }
        switch (encoding.kind) {
        case TEncodingKind::Utf8:
            decoded.text = wellFormedUtf8 ? QString::fromUtf8(body) : decodeUtf8Counted(body, faults);
            break;
        case TEncodingKind::Latin1:
            decoded.text = decodeLatin1(body);
            break;
        case TEncodingKind::Windows1252:
            decoded.text = decodeWindows1252(body);
            break;
        default: {
            const TPacketCodec& codec = TPacketCodec::cp932();
            if (!codec.available() && firstNonAscii(body) >= 0) {
                throw TFailure(noCodecMessage());
            }
            // In place where the bytes stand far enough into `room`.
            const auto* roomStart = room ? reinterpret_cast<const char*>(room->constData()) : nullptr;
            if (room && body.data() - roomStart >= body.size() + TPacketCodec::DecodeInPlaceGap &&
                body.data() + body.size() <= roomStart + 2 * room->size()) {
                const qsizetype roomSize = room->size();
                room->truncate(
                    codec.decodeInto(body.data(), body.size(), reinterpret_cast<char16_t*>(room->data()), faults));
                // The room past the text still holds bytes that were read, in memory of its own: a Japanese
                // text is shorter than its bytes, and those pages go back. The room stays, so that the writer
                // can write the packet over the text without taking fresh memory.
                releasePages(room->constData() + room->size() + 1, room->constData() + roomSize);
                decoded.text = std::move(*room);
            } else {
                decoded.text = codec.decode(body, faults);
            }
            // The bytes may be gone: the first fault's line is counted in the text, where each line break
            // stands as it did in the bytes.
            faultInText = true;
            break;
        }
        }
    }
    if (!decoded.followsDeclaration && encodingKindNamed(decoded.declaredName)) {
        encoding.overruledDeclaration = decoded.declaredName;
    }
    const QString& text = decoded.text;
    if (!text.contains(u'\r') && text.contains(u'\n')) {
        encoding.lineBreaks = TLineBreakStyle::Lf;
    }
    if (faults->count > 0) {
        decoded.firstFaultLine = faultInText ? lineAt(text.utf16(), faults->firstTextOffset)
                                 : utf16     ? lineAt(text.utf16(), faults->firstOffset / 2)
                                             : lineAt(body.data(), faults->firstOffset);
    }
    return decoded;
}

QString decodeFileText(QByteArrayView bytes)
{
    return decodeText(bytes).text;
}

bool isKatakanaOrUtf8(QByteArrayView bytes)
{
    if (bytes.startsWith("\xEF\xBB\xBF") || bytes.startsWith("\xFF\xFE") || bytes.startsWith("\xFE\xFF")) {
        return false;
    }
    const qsizetype nonAscii = firstNonAscii(bytes);
    if (nonAscii < 0) {
        return false;
    }
    const TUtf8Scan scan = scanUtf8(bytes, nonAscii);
    return scan.valid && !scan.beyondKatakana;
}

QString undecodableMessage(const QString& fileName, const TDecodedText& decoded)
{
    const QString encoding = encodingDisplayName(decoded.encoding.kind);
    QString message = say(u"ファイル %1 には、%2 として読めないバイトが %3 か所あります（最初は %4 行目）。"
                          u"読めないところは「\uFFFD」(U+FFFD) になります。\n",
                          u"the file %1 has bytes that %2 cannot decode (%3 in all, the first on line %4); each is "
                          u"read as \"\uFFFD\" (U+FFFD).\n")
                          .arg(fileName, encoding)
                          .arg(decoded.faults.count)
                          .arg(decoded.firstFaultLine);
    const bool byStart = decoded.encoding.byteOrderMark || decoded.encoding.kind == TEncodingKind::Utf16Le ||
                         decoded.encoding.kind == TEncodingKind::Utf16Be;
    if (decoded.followsDeclaration) {
        message += say(u"文字コードは XML 宣言の「%1」に従いました。",
                       u"The encoding is the one the XML declaration names, \"%1\".")
                       .arg(decoded.declaredName);
    } else if (byStart) {
        message += say(u"文字コードはファイルの先頭のバイトから判断しました。",
                       u"The encoding was told from the bytes at the start of the file.");
    } else if (!decoded.declaredName.isEmpty()) {
        message += say(u"XML 宣言の文字コード「%1」には対応していないため、%2 と判断しました。",
                       u"The encoding the XML declaration names, \"%1\", is not supported, so the file was read as %2.")
                       .arg(decoded.declaredName, encoding);
    } else {
        message += say(u"XML 宣言に文字コードがないため、%1 と判断しました。XML 宣言に正しい文字コード"
                       u"（encoding=\"windows-1252\" など）を書くと、その文字コードで読み込みます。",
                       u"The XML declaration names no encoding, so the file was read as %1. Name the right encoding "
                       u"in the XML declaration (encoding=\"windows-1252\", for example) to have it read as that.")
                       .arg(encoding);
    }
    return message;
}

namespace {

TFileStamp stampOf(const struct stat& info)
{
    TFileStamp stamp;
    stamp.device = info.st_dev;
    stamp.inode = info.st_ino;
    stamp.size = info.st_size;
    stamp.modified = qint64(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
    stamp.statusChanged = qint64(info.st_ctim.tv_sec) * 1000000000 + info.st_ctim.tv_nsec;
    return stamp;
}

} // namespace

TFileStamp fileStampOf(const QString& fileName)
{
    struct stat info {};
    const bool regular = ::stat(QFile::encodeName(fileName).constData(), &info) == 0 && S_ISREG(info.st_mode);
    return regular ? stampOf(info) : TFileStamp();
}

namespace {

// Where a regular file's bytes are read to: a byte array grown as they come, or, for a file that tells its
// size and whose first bytes `inPlace` finds fit, the far end of a text buffer they are decoded into in place.
struct TReadTarget {
    QByteArray* bytes = nullptr;
    QString* room = nullptr;
    bool (*inPlace)(QByteArrayView head) = nullptr;
};

// A file this large has the pages of its buffer taken beside the reading.
constexpr qint64 TakerFrom = 4 * 1024 * 1024;

// Takes the pages of a load's buffer from the system before they are first used, beside the thread that reads
// the file to [reading, to): first those of [from, reading), where the text will be decoded, by writing to
// them; then those the reading has not reached yet, from the end backwards a megabyte at a time, without
// touching what they hold, until `stop` is set once the reading is done.
void takePages(char* from, char* reading, char* to, const std::atomic<bool>* stop)
{
    const auto page = static_cast<quintptr>(::sysconf(_SC_PAGESIZE));
    for (volatile char* p = from; p < reading; p += page) {
        *p = 0;
    }
    constexpr quintptr Step = 1024 * 1024;
    const auto first = reinterpret_cast<quintptr>(reading);
    for (auto end = reinterpret_cast<quintptr>(to); end > first && !stop->load(std::memory_order_relaxed);
         end = end - first > Step ? end - Step : first) {
        const quintptr begin = (std::max(first, end > Step ? end - Step : 0) + page - 1) & ~(page - 1);
        if (begin < end && ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_POPULATE_WRITE) != 0) {
            // A system without it: the reading takes them.
            break;
        }
    }
}

// Reads the file as readRegularFile() does, into `target`; returns the bytes read.
QByteArrayView readRegular(const QString& fileName, TFileStamp* stamp, TReadTarget target)
{
    const QString cannotOpen = say(u"ファイル %1 は開けません", u"the file %1 cannot be opened").arg(fileName);
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
    QByteArray grown;
    QByteArray& bytes = target.bytes ? *target.bytes : grown;
    char* into = nullptr;
    qint64 room = 0;
    qint64 got = 0;
    // Stopped and joined however the reading ends.
    std::thread taker;
    std::atomic<bool> readingDone{false};
    const auto joinTaker = qScopeGuard([&] {
        if (taker.joinable()) {
            readingDone = true;
            taker.join();
        }
    });
    try {
        // The first bytes tell whether the text will likely be decoded in place; a read that fails here is
        // left to the reads below to report.
        char head[1024];
        const ssize_t headSize = sized && target.room ? ::pread(fd, head, sizeof head, 0) : -1;
        if (headSize > 0 && target.inPlace(QByteArrayView(head, headSize))) {
            // The text's characters, and the bytes behind them at the distance the in-place decoder needs.
            const qint64 characters = limit + TPacketCodec::DecodeInPlaceGap / 2;
            if (characters > std::numeric_limits<qsizetype>::max() / 2) {
                throw std::bad_alloc();
            }
            *target.room = QString(static_cast<qsizetype>(characters), Qt::Uninitialized);
            into = reinterpret_cast<char*>(target.room->data()) + 2 * characters - limit;
            room = limit;
            // Each fresh page costs the system about as much as reading a page of the file: while this thread
            // reads, another takes pages for it, so that a second processor does part of that.
            if (limit >= TakerFrom) {
                try {
                    taker = std::thread(takePages, reinterpret_cast<char*>(target.room->data()), into, into + limit,
                                        &readingDone);
                } catch (const std::system_error&) {
                    // No thread: the reading and the decoder take the pages themselves.
                }
            }
        } else {
            bytes.resize(sized ? limit : 64 * 1024);
            into = bytes.data();
            room = bytes.size();
        }
        while (got < limit) {
            if (got == room) {
                bytes.resize(std::min<qint64>(limit, 2 * got));
                into = bytes.data();
                room = bytes.size();
            }
            const ssize_t done = ::read(fd, into + got, static_cast<size_t>(room - got));
            if (done < 0 && errno == EINTR) {
                continue;
            }
            if (done < 0) {
                const int error = errno;
                ::close(fd);
                throw TFailure(say(u"ファイル %1 を読み込めません（%2）", u"the file %1 cannot be read (%2)")
                                   .arg(fileName, qt_error_string(error)));
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
        throw TFailure(say(u"ファイル %1 は大きさを示さず、%2 MB を超えても終わらないため読み込みません",
                           u"the file %1 is not read: it does not tell its size and goes on past %2 MB")
                           .arg(fileName)
                           .arg(UnsizedFileLimit / (1024 * 1024)));
    }
    if (stamp) {
        *stamp = stampOf(info);
    }
    if (into != bytes.constData()) {
        return QByteArrayView(into, got);
    }
    bytes.truncate(got);
    return bytes;
}

// Whether decodeText() will read a text beginning with `head` as CP932, unless the whole turns out to be UTF-8.
bool readsAsCp932(QByteArrayView head)
{
    if (head.startsWith("\xEF\xBB\xBF") || head.startsWith("\xFF\xFE") || head.startsWith("\xFE\xFF") ||
        (head.size() >= 2 && (head[0] == 0) != (head[1] == 0))) {
        return false;
    }
    const std::optional<TEncodingKind> declared = encodingKindNamed(declaredEncodingName(head));
    return !declared || *declared == TEncodingKind::Cp932 || *declared == TEncodingKind::Utf16Le ||
           *declared == TEncodingKind::Utf16Be;
}

} // namespace

QByteArray readRegularFile(const QString& fileName, TFileStamp* stamp)
{
    QByteArray bytes;
    readRegular(fileName, stamp, {&bytes, nullptr});
    return bytes;
}

TDecodedText loadPacketText(const QString& fileName, TFileStamp* stamp)
{
    // The bytes are read into the far end of the buffer their text is decoded into: CP932, each byte of
    // which gives at most one character, is decoded there in place, so that the bytes take no memory of their
    // own and the memory the load touches is a third less. Text in another encoding is decoded into a buffer
    // of its own.
    QByteArray bytes;
    QString room;
    const QByteArrayView read = readRegular(fileName, stamp, {&bytes, &room, readsAsCp932});
    return decodeText(read, room.isEmpty() ? nullptr : &room);
}

QString loadPacketFile(const QString& fileName, TFileStamp* stamp)
{
    return loadPacketText(fileName, stamp).text;
}

} // namespace torvane
