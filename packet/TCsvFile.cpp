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

} // namespace torvane
