#include "TPacketFile.h"

#include "TFailure.h"
#include "TLineBreaks.h"
#include "TPacketCodec.h"

#include <QFile>
#include <QSaveFile>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace torvane {

namespace {

// Linux input methods and pasted text give these code points for JIS characters whose CP932 forms are
// others; without the mapping they could not be saved at all.
char16_t toCp932Form(char16_t c)
{
    switch (c) {
    case 0x301C: return 0xFF5E; // WAVE DASH -> FULLWIDTH TILDE
    case 0x2016: return 0x2225; // DOUBLE VERTICAL LINE -> PARALLEL TO
    case 0x2212: return 0xFF0D; // MINUS SIGN -> FULLWIDTH HYPHEN-MINUS
    case 0x2014: return 0x2015; // EM DASH -> HORIZONTAL BAR
    case 0x00A2: return 0xFFE0; // CENT SIGN -> FULLWIDTH CENT SIGN
    case 0x00A3: return 0xFFE1; // POUND SIGN -> FULLWIDTH POUND SIGN
    case 0x00AC: return 0xFFE2; // NOT SIGN -> FULLWIDTH NOT SIGN
    default: return c;
    }
}

// The text as the file holds it: every line break CR LF, JIS characters in their CP932 forms.
QString toFileText(const QString& viewText)
{
    QString out(viewText.size() + viewText.count(u'\n') + 1, Qt::Uninitialized);
    char16_t* dst = reinterpret_cast<char16_t*>(out.data());
    const auto* src = reinterpret_cast<const char16_t*>(viewText.utf16());
    const qsizetype n = viewText.size();
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t c = src[i];
        if (c < 0x80) {
            if (c == u'\n' || c == u'\r') {
                // A lone CR ends a line as well; write it as CR LF like any other break.
                if (c == u'\r' && i + 1 < n && src[i + 1] == u'\n') {
                    ++i;
                }
                *dst++ = u'\r';
                *dst++ = u'\n';
            } else {
                *dst++ = c;
            }
        } else {
            *dst++ = toCp932Form(c);
        }
    }
    out.truncate(dst - reinterpret_cast<char16_t*>(out.data()));
    return out;
}

QString hexCode(char32_t c)
{
    return QString::number(static_cast<uint>(c), 16).toUpper().rightJustified(4, u'0');
}

// The refusal for the character at `pos` of the file text, with its line (1-based).
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

const QLatin1String NoCodecMessage(
    "この環境の Qt には Shift_JIS (CP932) の変換器 (windows-31j) がありません");

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
    return value.startsWith(QLatin1StringView("UTF-8"), Qt::CaseInsensitive) && value.size() > 5
           && value[5] == quote;
}
} // namespace

QByteArray encodePacketFile(const QString& viewText)
{
    const TPacketCodec& codec = TPacketCodec::cp932();
    if (!codec.available()) {
        throw TFailure(NoCodecMessage);
    }
    const QString fileText = toFileText(viewText);
    QByteArray bytes;
    bytes.reserve(fileText.size() * 2);
    const qsizetype bad = codec.encode(fileText, bytes);
    if (bad >= 0) {
        throw TFailure(unrepresentableMessage(fileText, bad));
    }
    return bytes;
}

void savePacketFile(const QString& fileName, const QString& viewText)
{
    // Encode first, so that a text that cannot be saved never touches the file.
    const QByteArray bytes = encodePacketFile(viewText);
    const QString cannotCreate = QStringLiteral("ファイル %1 を作成できません").arg(fileName);
    const QString cannotWrite = QStringLiteral("ストリームへの書き込みに失敗しました");

    // The save replaces the target by a new file. Over a FIFO, a device or a folder that would destroy
    // what they are (or, as root, replace /dev/null); a file its owner may not write is read-only on
    // purpose, and root, whom the system lets write anything, must not overwrite it either.
    struct stat target {};
    if (::stat(QFile::encodeName(fileName).constData(), &target) == 0
        && (!S_ISREG(target.st_mode) || (target.st_mode & S_IWUSR) == 0)) {
        throw TFailure(cannotCreate);
    }

    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly)) {
        throw TFailure(cannotCreate);
    }
    // QSaveFile keeps up to 16 KB in its buffer and writes it only in commit(), which does not notice
    // when that write fails (a full disk, a file-size limit) and puts the empty or cut-short file in the
    // old one's place. So every byte is written, flushed and synced here, where each failure is seen; the
    // temporary file is then dropped and the old file stays as it was.
    const bool written = file.write(bytes) == bytes.size() && file.flush()
                         && (::fsync(file.handle()) == 0 || errno == EINVAL || errno == ENOTSUP);
    if (!written || file.error() != QFileDevice::NoError) {
        file.cancelWriting();
        file.commit();
        throw TFailure(cannotWrite);
    }
    if (!file.commit()) {
        throw TFailure(cannotWrite);
    }
}

QString decodePacketFile(QByteArrayView bytes)
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
    QString text;
    if (utf8) {
        text = QString::fromUtf8(bytes);
    } else {
        const TPacketCodec& codec = TPacketCodec::cp932();
        if (!codec.available() && nonAscii >= 0) {
            throw TFailure(NoCodecMessage);
        }
        text = codec.decode(bytes);
    }
    return toViewText(std::move(text));
}

QString loadPacketFile(const QString& fileName)
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
    QFile file;
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)
        || !file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        throw TFailure(cannotOpen);
    }
    // What could be read is taken; a failure while reading is not reported.
    const QByteArray bytes = file.readAll();
    file.close();
    return decodePacketFile(bytes);
}

} // namespace torvane
