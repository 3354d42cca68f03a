#include "TCsvFile.h"

#include "TAtomicFile.h"
#include "TDelimitedText.h"
#include "TFailure.h"
#include "TFileBytes.h"
#include "TPacketCodec.h"
#include "TPacketFile.h"

#include <QStringEncoder>

namespace torvane {

namespace {

// Text is encoded and written once this much of it has gathered.
constexpr qsizetype PieceLength = 256 * 1024;

const QString& checkedFileName(const QString& fileName, TCsvEncoding encoding)
{
    // Refused before anything is created.
    if (encoding == TCsvEncoding::Cp932 && !TPacketCodec::cp932().available()) {
        throw TFailure(noCodecMessage());
    }
    return fileName;
}

} // namespace

TCsvFileWriter::TCsvFileWriter(const QString& fileName, TCsvEncoding encoding)
    : m_encoding(encoding), m_file(checkedFileName(fileName, encoding))
{
    m_text.reserve(PieceLength + PieceLength / 4);
    if (m_encoding == TCsvEncoding::Utf8WithBom) {
        m_file.write(QByteArrayView("\xEF\xBB\xBF", 3));
    }
}

void TCsvFileWriter::writeRecord(const QStringView* values, int count)
{
    appendCsvRecord(m_text, values, count);
    if (m_text.size() >= PieceLength) {
        flush();
    }
}

void TCsvFileWriter::writeText(QStringView text)
{
    m_text += text;
    flush();
}

void TCsvFileWriter::flush()
{
    m_bytes.truncate(0);
    if (m_encoding == TCsvEncoding::Cp932) {
        for (QChar& c : m_text) {
            c = QChar(toCp932Form(c.unicode()));
        }
        const qsizetype bad = TPacketCodec::cp932().encode(m_text, m_bytes);
        if (bad >= 0) {
            // The temporary file goes with the writer; the old file was never touched.
            throw TFailure(unrepresentableMessage(m_text, bad, QStringLiteral("Shift_JIS (CP932)"), m_lines + 1));
        }
    } else {
        // Into the same buffer each time: a new one a piece, as large as the allocator maps afresh, cost a
        // page fault every few kilobytes.
        QStringEncoder encoder(QStringEncoder::Utf8);
        m_bytes.resize(encoder.requiredSpace(m_text.size()));
        char* end = encoder.appendToBuffer(m_bytes.data(), m_text);
        m_bytes.truncate(end - m_bytes.constData());
    }
    m_file.write(m_bytes);
    if (m_encoding == TCsvEncoding::Cp932) {
        m_lines += m_text.count(u'\n');
    }
    m_text.truncate(0);
}

void TCsvFileWriter::commit()
{
    flush();
    m_file.commit();
}

void saveCsvFile(const QString& fileName, const QString& csvText, TCsvEncoding encoding)
{
    TCsvFileWriter file(fileName, encoding);
    file.writeText(csvText);
    file.commit();
}

QString loadCsvFile(const QString& fileName)
{
    // Read and decoded as a packet file is, so that a file of this program's comes back unchanged.
    return decodeFileText(readRegularFile(fileName));
}

namespace {

// The first stretch of text around the first non-ASCII byte, between the separators or line breaks around
// it and no longer than a few words: where the two readings of an undecided file differ.
QByteArrayView firstDifference(QByteArrayView bytes)
{
    qsizetype at = 0;
    while (at < bytes.size() && static_cast<unsigned char>(bytes[at]) < 0x80) {
        ++at;
    }
    const auto ends = [](char c) { return c == ',' || c == ';' || c == '\t' || c == '\r' || c == '\n' || c == '"'; };
    qsizetype start = at;
    while (start > 0 && at - start < 16 && !ends(bytes[start - 1])) {
        --start;
    }
    qsizetype end = at;
    while (end < bytes.size() && end - at < 24 && !ends(bytes[end])) {
        ++end;
    }
    // Never half of a two-byte sequence: every non-ASCII byte here belongs to one.
    qsizetype nonAscii = 0;
    for (qsizetype i = at; i < end; ++i) {
        nonAscii += static_cast<unsigned char>(bytes[i]) >= 0x80;
    }
    if (nonAscii % 2 != 0) {
        --end;
    }
    return bytes.sliced(start, end - start);
}

} // namespace

QString decodeCsvText(QByteArrayView bytes, TCsvEncodingChoice encoding)
{
    switch (encoding) {
    case TCsvEncodingChoice::Utf8:
        return QString::fromUtf8(bytes.startsWith("\xEF\xBB\xBF") ? bytes.sliced(3) : bytes);
    case TCsvEncodingChoice::Cp932:
        if (!TPacketCodec::cp932().available()) {
            // Read as the automatic choice reads it, which refuses with its own message when it must.
            return decodeFileText(bytes);
        }
        return TPacketCodec::cp932().decode(bytes);
    case TCsvEncodingChoice::Automatic:
        break;
    }
    // Accented Latin letters in UTF-8 without a byte-order mark ("é" C3 A9) are half-width katakana in CP932
    // ("ﾃｩ"), and both kinds of file are common: no rule can tell them, the user can.
    if (isKatakanaOrUtf8(bytes)) {
        const QByteArrayView sample = firstDifference(bytes);
        throw TFailure(QStringLiteral("このファイルは UTF-8 としても Shift_JIS（CP932）としても読めます"
                                      "（UTF-8 では「%1」、Shift_JIS（CP932）では「%2」）。"
                                      "文字コードを選んでください")
                           .arg(QString::fromUtf8(sample), TPacketCodec::cp932().decode(sample)));
    }
    return decodeFileText(bytes);
}

} // namespace torvane
