#include "TPacketFile.h"

#include "TFailure.h"
#include "TFileBytes.h"
#include "TLineBreaks.h"
#include "TPacketCodec.h"

#include <QFile>

#include <cstring>

namespace torvane {

namespace {

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
    // Encode first, so that a text that cannot be saved never touches the file.
    writeFileAtomically(fileName, encodeCp932(toFileText(viewText)));
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
