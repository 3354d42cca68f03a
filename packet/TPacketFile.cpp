#include "TPacketFile.h"

#include "TFailure.h"
#include "TLineBreaks.h"
#include "TPacketCodec.h"

#include <QFile>
#include <QSaveFile>

#include <cstring>

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

// Whether `bytes` from `from` on is well-formed UTF-8 (no overlong forms, surrogates or code points past
// U+10FFFF). Stops at the first fault, so that a CP932 file is told apart at once.
bool isUtf8(QByteArrayView bytes, qsizetype from)
{
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
            return false;
        }
        if (i + length > n || p[i + 1] < low || p[i + 1] > high) {
            return false;
        }
        for (int k = 2; k < length; ++k) {
            if ((p[i + k] & 0xC0) != 0x80) {
                return false;
            }
        }
        i += length;
    }
    return true;
}

} // namespace

void savePacketFile(const QString& fileName, const QString& viewText)
{
    const TPacketCodec& codec = TPacketCodec::cp932();
    if (!codec.available()) {
        throw TFailure(NoCodecMessage);
    }
    // Encode first, so that a text that cannot be saved never touches the file.
    const QString fileText = toFileText(viewText);
    QByteArray bytes;
    bytes.reserve(fileText.size() * 2);
    const qsizetype bad = codec.encode(fileText, bytes);
    if (bad >= 0) {
        throw TFailure(unrepresentableMessage(fileText, bad));
    }

    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly)) {
        throw TFailure(QStringLiteral("ファイル %1 を作成できません").arg(fileName));
    }
    if (file.write(bytes) != bytes.size()) {
        file.cancelWriting();
        throw TFailure(QStringLiteral("ストリームへの書き込みに失敗しました"));
    }
    if (!file.commit()) {
        throw TFailure(QStringLiteral("ストリームへの書き込みに失敗しました"));
    }
}

QString loadPacketFile(const QString& fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        throw TFailure(QStringLiteral("ファイル %1 は開けません").arg(fileName));
    }
    // What could be read is taken; a failure while reading is not reported.
    const QByteArray bytes = file.readAll();
    file.close();

    QByteArrayView content(bytes);
    const bool bom = content.startsWith("\xEF\xBB\xBF");
    if (bom) {
        content = content.sliced(3);
    }
    const qsizetype nonAscii = firstNonAscii(content);
    QString text;
    if (bom || (nonAscii >= 0 && isUtf8(content, nonAscii))) {
        text = QString::fromUtf8(content);
    } else {
        const TPacketCodec& codec = TPacketCodec::cp932();
        if (!codec.available() && nonAscii >= 0) {
            throw TFailure(NoCodecMessage);
        }
        text = codec.decode(content);
    }
    return toViewText(std::move(text));
}

} // namespace torvane
