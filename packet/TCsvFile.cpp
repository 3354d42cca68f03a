#include "TCsvFile.h"

#include "TAtomicFile.h"
#include "TFailure.h"
#include "TFileBytes.h"
#include "TPacketCodec.h"
#include "TPacketFile.h"

namespace torvane {

void saveCsvFile(const QString& fileName, const QString& csvText, TCsvEncoding encoding)
{
    QByteArray bytes;
    if (encoding == TCsvEncoding::Cp932) {
        QString fileText = csvText;
        for (QChar& c : fileText) {
            c = QChar(toCp932Form(c.unicode()));
        }
        bytes = encodeCp932(fileText);
    } else {
        bytes = QByteArrayLiteral("\xEF\xBB\xBF") + csvText.toUtf8();
    }
    writeFileAtomically(fileName, bytes);
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
