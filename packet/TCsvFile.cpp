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
