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
        throw TFailure(NoCodecMessage);
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
            throw TFailure(unrepresentableMessage(m_text, bad, m_lines + 1));
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
    return decodeFileText(bytes);
}

} // namespace torvane
