#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QImage>
#include <QSize>
#include <QString>
#include <QStringView>

#include <optional>

namespace torvane {

// How the value window shows a value.
enum class TValueView { Text, Image, Hex };

// What the value's field says about reading it: its type code (bin.hex values are base64 text) and its
// other-settings text (SUBTYPE="Graphics" marks pictures).
struct TValueField {
    QString typeCode;
    QString etc;

    // Values are base64 text: a bin.hex field that is no memo.
    bool isBinary() const;
    bool isGraphics() const;
    // A memo is a bin.hex field with SUBTYPE="Text": the dataset library writes its values as the text itself,
    // as any string's, not as base64.
    bool isMemo() const;
};

// The bytes of base64 text; white space between the characters is passed over. nullopt when the text is
// not base64 (a character outside its alphabet, padding in the middle, a length no whole bytes give).
std::optional<QByteArray> decodeBase64(QStringView text);
QString encodeBase64(QByteArrayView bytes);

// Pictures that the dataset library writes into Graphics fields begin with 8 bytes of their own: 4 bytes,
// then the picture's length as a little-endian 32-bit number. Returns 8 when `bytes` start that way (the
// length is exactly what follows), else 0.
qsizetype graphicsHeaderLength(QByteArrayView bytes);
// The header for a picture of `length` bytes, with the first 4 bytes of `model` (01 00 00 01 when it has none).
QByteArray graphicsHeader(qsizetype length, QByteArrayView model = {});

// One line of a hex dump: the offset, 16 bytes in hex and the same bytes as characters (printable ASCII, else
// "."), for the bytes from `offset` on. Lines are built on demand, so a dump of any size costs nothing until
// shown.
QString hexDumpLine(QByteArrayView bytes, qsizetype offset);
constexpr qsizetype HexBytesPerLine = 16;
inline qsizetype hexDumpLineCount(qsizetype size)
{
    return (size + HexBytesPerLine - 1) / HexBytesPerLine;
}

// What a picture's bytes are: its format ("PNG", "BMP", ...) and size, as QImageReader reads them from the
// header alone. An empty format when Qt cannot read them as a picture.
struct TImageInfo {
    QByteArray format;
    QSize size;
    qsizetype bytes = 0;

    bool isImage() const { return !format.isEmpty(); }
    // "画像 BMP 320×240, 151 KB"
    QString description() const;
};
TImageInfo probeImage(const QByteArray& bytes);

// One cell's value read for the value window: decoded once, shown as text, picture or hex, and turned back
// into a cell value from edited text or a file's bytes. A large value is held whole.
class TCellValue {
public:
    TCellValue() = default;
    TCellValue(QString text, TValueField field);

    const QString& text() const { return m_text; }
    const TValueField& field() const { return m_field; }
    // The value is base64 text: a bin.hex field's value, or another field's value that decodes to a picture.
    bool isBinary() const { return m_binary; }
    // A bin.hex value that is not base64; it is shown as the text it is and left as it is.
    bool decodeFailed() const { return m_failed; }
    // What the window says about it.
    QString statusText() const;

    // The decoded bytes, header included; for a text value, the text's bytes in the packet's encoding
    // (UTF-8 for what CP932 cannot hold).
    const QByteArray& bytes() const { return m_bytes; }
    QByteArrayView header() const { return QByteArrayView(m_bytes).first(m_headerLength); }
    QByteArrayView payload() const { return QByteArrayView(m_bytes).sliced(m_headerLength); }

    const TImageInfo& imageInfo() const { return m_image; }
    QImage image() const;

    // What the text view shows (line breaks as LF) and whether editing it can be written back exactly.
    QString displayText() const;
    bool isTextEditable() const;
    TValueView preferredView() const;

    // The cell value for text edited in the text view. Throws TFailure when the packet's encoding cannot
    // hold a character of a binary value's text.
    QString valueForText(const QString& edited) const;
    // The cell value holding a file's bytes: base64 (the picture header kept as it was) for binary values,
    // else the file's text, refused with TFailure when it holds what CP932 cannot.
    QString valueForFile(const QByteArray& fileBytes) const;
    // What writing the value to a file writes: the decoded bytes without the picture header, or the text
    // in the packet's encoding.
    QByteArray fileBytes() const;

private:
    QString m_text;
    TValueField m_field;
    bool m_binary = false;
    bool m_failed = false;
    QByteArray m_bytes;
    qsizetype m_headerLength = 0;
    TImageInfo m_image;
    // A binary value's bytes read as text, found out when first asked (a large value is not read twice):
    // whether that text gives the same bytes back, and whether they were UTF-8 (else CP932).
    void readBytesAsText() const;
    mutable std::optional<QString> m_bytesText;
    mutable bool m_textEditable = false;
    mutable bool m_textUtf8 = false;
    // The value's line breaks are CR LF: the text view's LF go back as CR LF.
    mutable bool m_crlf = false;
};

} // namespace torvane
