#include "TCellValue.h"

#include "TFailure.h"
#include "TFileBytes.h"
#include "TPacketCodec.h"
#include "TPacketFile.h"
#include "TValueRules.h"

#include <QBuffer>
#include <QImageReader>
#include <QLocale>

#include <array>

namespace torvane {

namespace {

constexpr qsizetype GraphicsHeaderSize = 8;
// Enough of a binary value to tell text from other bytes without reading all of a large one.
constexpr qsizetype TextSniffLength = 4096;
// A value in a field of another type is looked at as a picture only when it is long enough to be one.
constexpr qsizetype MinPictureText = 64;

constexpr std::array<signed char, 128> base64Table()
{
    std::array<signed char, 128> table{};
    for (auto& v : table) {
        v = -1;
    }
    for (int i = 0; i < 26; ++i) {
        table[static_cast<size_t>('A' + i)] = static_cast<signed char>(i);
        table[static_cast<size_t>('a' + i)] = static_cast<signed char>(26 + i);
    }
    for (int i = 0; i < 10; ++i) {
        table[static_cast<size_t>('0' + i)] = static_cast<signed char>(52 + i);
    }
    table['+'] = 62;
    table['/'] = 63;
    return table;
}
constexpr std::array<signed char, 128> Base64 = base64Table();

bool isSpace(char16_t c)
{
    return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n';
}

bool looksLikeText(QByteArrayView bytes)
{
    for (const char ch : bytes.first(std::min(bytes.size(), TextSniffLength))) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x20 && c != '\t' && c != '\r' && c != '\n') {
            return false;
        }
    }
    return true;
}

// The bytes of a text value as a file holds it in the packet's encoding: CP932, or UTF-8 when CP932 cannot
// hold one of its characters.
QByteArray textBytes(const QString& text, bool* utf8 = nullptr)
{
    QByteArray out;
    const bool cp932 = TPacketCodec::cp932().available() && TPacketCodec::cp932().encode(text, out) < 0;
    if (utf8) {
        *utf8 = !cp932;
    }
    return cp932 ? out : text.toUtf8();
}

QString withLineBreaks(const QString& text, bool crlf)
{
    if (!crlf) {
        return text;
    }
    QString out = text;
    out.replace(u'\n', QStringLiteral("\r\n"));
    return out;
}

} // namespace

bool TValueField::isBinary() const
{
    return typeCode.compare(QLatin1String("bin.hex"), Qt::CaseInsensitive) == 0 && !isMemo();
}

bool TValueField::isMemo() const
{
    // Read as the value check reads it, so that the table and the value window agree on what a memo is.
    return settingOf(etc, u"SUBTYPE").compare(u"Text", Qt::CaseInsensitive) == 0;
}

bool TValueField::isGraphics() const
{
    return etc.contains(QLatin1String("SUBTYPE=\"Graphics\""), Qt::CaseInsensitive);
}

std::optional<QByteArray> decodeBase64(QStringView text)
{
    QByteArray out;
    out.reserve(text.size() / 4 * 3 + 3);
    quint32 bits = 0;
    int count = 0;
    int padding = 0;
    for (const QChar qc : text) {
        const char16_t c = qc.unicode();
        if (isSpace(c)) {
            continue;
        }
        if (c == u'=') {
            ++padding;
            continue;
        }
        const int v = c < 128 ? Base64[c] : -1;
        if (v < 0 || padding > 0) {
            return std::nullopt;
        }
        bits = (bits << 6) | static_cast<quint32>(v);
        if (++count == 4) {
            out.append(static_cast<char>(bits >> 16));
            out.append(static_cast<char>(bits >> 8));
            out.append(static_cast<char>(bits));
            bits = 0;
            count = 0;
        }
    }
    // What is left over: 2 characters give a byte, 3 two; one alone gives none. Padding fills to 4.
    if (count == 1 || padding > 2 || (padding > 0 && count + padding != 4) || (count == 0 && padding > 0)) {
        return std::nullopt;
    }
    if (count == 2) {
        out.append(static_cast<char>(bits >> 4));
    } else if (count == 3) {
        out.append(static_cast<char>(bits >> 10));
        out.append(static_cast<char>(bits >> 2));
    }
    return out;
}

QString encodeBase64(QByteArrayView bytes)
{
    return QString::fromLatin1(bytes.toByteArray().toBase64());
}

qsizetype graphicsHeaderLength(QByteArrayView bytes)
{
    if (bytes.size() < GraphicsHeaderSize) {
        return 0;
    }
    const auto* b = reinterpret_cast<const unsigned char*>(bytes.data());
    const quint32 length = b[4] | (quint32(b[5]) << 8) | (quint32(b[6]) << 16) | (quint32(b[7]) << 24);
    return qsizetype(length) == bytes.size() - GraphicsHeaderSize ? GraphicsHeaderSize : 0;
}

QByteArray graphicsHeader(qsizetype length, QByteArrayView model)
{
    QByteArray header = model.size() >= 4 ? model.first(4).toByteArray() : QByteArray::fromHex("01000001");
    const auto n = static_cast<quint32>(length);
    for (int shift = 0; shift < 32; shift += 8) {
        header.append(static_cast<char>((n >> shift) & 0xFF));
    }
    return header;
}

QString hexDumpLine(QByteArrayView bytes, qsizetype offset)
{
    static const char Digits[] = "0123456789ABCDEF";
    const QByteArrayView line = bytes.sliced(offset, std::min(HexBytesPerLine, bytes.size() - offset));
    QString out = QStringLiteral("%1 ").arg(offset, 8, 16, QLatin1Char('0')).toUpper();
    QString chars;
    for (qsizetype i = 0; i < HexBytesPerLine; ++i) {
        out += i == 8 ? QStringLiteral("  ") : QStringLiteral(" ");
        if (i < line.size()) {
            const auto c = static_cast<unsigned char>(line[i]);
            out += QLatin1Char(Digits[c >> 4]);
            out += QLatin1Char(Digits[c & 15]);
            chars += c >= 0x20 && c < 0x7F ? QLatin1Char(static_cast<char>(c)) : QLatin1Char('.');
        } else {
            out += QStringLiteral("  ");
        }
    }
    return out + QStringLiteral("  ") + chars;
}

QString TImageInfo::description() const
{
    return QStringLiteral("画像 %1 %2×%3, %4 KB")
        .arg(QString::fromLatin1(format).toUpper())
        .arg(size.width())
        .arg(size.height())
        .arg((bytes + 512) / 1024);
}

TImageInfo probeImage(const QByteArray& bytes)
{
    TImageInfo info;
    if (bytes.isEmpty()) {
        return info;
    }
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    // A picture's kind is told by its first bytes; the reader's guess from a bare extension is not asked.
    reader.setDecideFormatFromContent(true);
    if (!reader.canRead()) {
        return info;
    }
    info.format = reader.format();
    info.size = reader.size();
    info.bytes = bytes.size();
    if (info.format.isEmpty() || !info.size.isValid()) {
        return {};
    }
    return info;
}

TCellValue::TCellValue(QString text, TValueField field) : m_text(std::move(text)), m_field(std::move(field))
{
    m_crlf = m_text.contains(QLatin1String("\r\n"));
    std::optional<QByteArray> decoded;
    if (m_field.isBinary()) {
        decoded = decodeBase64(m_text);
        m_failed = !decoded;
    } else if (m_text.size() >= MinPictureText) {
        // A picture in a field typed otherwise (a bare type code typed by hand) is still shown as one.
        decoded = decodeBase64(m_text);
        if (decoded && !probeImage(decoded->sliced(graphicsHeaderLength(*decoded))).isImage()) {
            decoded.reset();
        }
    }
    if (decoded) {
        m_binary = true;
        m_bytes = std::move(*decoded);
        m_headerLength = graphicsHeaderLength(m_bytes);
        m_image = probeImage(m_headerLength > 0 ? m_bytes.sliced(m_headerLength) : m_bytes);
    } else {
        m_bytes = textBytes(m_text);
    }
}

QString TCellValue::statusText() const
{
    if (m_failed) {
        return QStringLiteral("この値は base64 として読めません（%1 "
                              "文字）。そのままの文字列として表示します。値は変更していません。")
            .arg(m_text.size());
    }
    QString status;
    if (m_image.isImage()) {
        status = m_image.description();
    } else if (m_binary) {
        status = QStringLiteral("バイナリ %1 バイト")
                     .arg(QLocale(QLocale::Japanese, QLocale::Japan).toString(payload().size()));
    } else {
        status =
            QStringLiteral("文字列 %1 文字").arg(QLocale(QLocale::Japanese, QLocale::Japan).toString(m_text.size()));
    }
    if (m_headerLength > 0) {
        status += QStringLiteral("（先頭 %1 バイトのヘッダー付き）").arg(m_headerLength);
    }
    return status;
}

QImage TCellValue::image() const
{
    if (!m_image.isImage()) {
        return {};
    }
    QImage image;
    image.loadFromData(payload(), m_image.format.constData());
    return image;
}

void TCellValue::readBytesAsText() const
{
    if (m_bytesText) {
        return;
    }
    const QByteArrayView bytes = payload();
    m_bytesText = decodeFileText(bytes);
    m_textUtf8 = false;
    if (bytes.contains('\0')) {
        m_textEditable = false;
    } else if (QByteArray out; TPacketCodec::cp932().encode(*m_bytesText, out) < 0 && out == bytes) {
        m_textEditable = true;
    } else {
        m_textUtf8 = m_bytesText->toUtf8() == bytes;
        m_textEditable = m_textUtf8;
    }
    m_crlf = m_bytesText->contains(QLatin1String("\r\n"));
}

bool TCellValue::isTextEditable() const
{
    if (!m_binary) {
        return true;
    }
    readBytesAsText();
    return m_textEditable;
}

QString TCellValue::displayText() const
{
    QString text;
    if (m_binary) {
        readBytesAsText();
        text = *m_bytesText;
    } else {
        text = m_text;
    }
    if (text.contains(u'\r')) {
        text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
        text.replace(u'\r', u'\n');
    }
    return text;
}

TValueView TCellValue::preferredView() const
{
    if (m_image.isImage()) {
        return TValueView::Image;
    }
    if (!m_binary || looksLikeText(payload())) {
        return TValueView::Text;
    }
    return TValueView::Hex;
}

QString TCellValue::valueForText(const QString& edited) const
{
    if (!m_binary) {
        return withLineBreaks(edited, m_crlf);
    }
    readBytesAsText();
    const QString text = withLineBreaks(edited, m_crlf);
    QByteArray bytes = m_textUtf8 ? text.toUtf8() : encodeCp932(text);
    if (m_headerLength > 0) {
        bytes.prepend(graphicsHeader(bytes.size(), header()));
    }
    return encodeBase64(bytes);
}

QString TCellValue::valueForFile(const QByteArray& fileBytes) const
{
    if (m_binary || m_field.isBinary()) {
        if (m_headerLength > 0) {
            return encodeBase64(graphicsHeader(fileBytes.size(), header()) + fileBytes);
        }
        // An empty Graphics field gets the header its library writes before a picture.
        if (m_field.isGraphics() && m_bytes.isEmpty() && probeImage(fileBytes).isImage()) {
            return encodeBase64(graphicsHeader(fileBytes.size()) + fileBytes);
        }
        return encodeBase64(fileBytes);
    }
    const QString text = decodeFileText(fileBytes);
    const TPacketCodec& codec = TPacketCodec::cp932();
    qsizetype line = 1;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c == u'\n') {
            ++line;
        }
        if (!codec.canEncode(toCp932Form(c)) || c == 0xFFFD) {
            char32_t code = c;
            if (QChar::isHighSurrogate(c) && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
                code = QChar::surrogateToUcs4(c, text[i + 1].unicode());
            }
            throw TFailure(
                QStringLiteral(
                    "%1 行目の文字 U+%2 は Shift_JIS (CP932) で表せないため、このファイルを文字列として読み込めません")
                    .arg(line)
                    .arg(QString::number(code, 16).rightJustified(4, u'0').toUpper()));
        }
    }
    return text;
}

QByteArray TCellValue::fileBytes() const
{
    if (m_binary) {
        return payload().toByteArray();
    }
    return encodeCp932(m_text);
}

} // namespace torvane
