#include "TCsvFile.h"

#include "TFailure.h"
#include "TFileBytes.h"
#include "TPacketCodec.h"

#include <QFile>
#include <QStringDecoder>

#include <algorithm>

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
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        throw TFailure(QStringLiteral("ファイル %1 は開けません").arg(fileName));
    }
    const QByteArray bytes = file.readAll();
    QByteArrayView content(bytes);
    if (content.startsWith("\xEF\xBB\xBF")) {
        return QString::fromUtf8(content.sliced(3));
    }
    const bool ascii = std::all_of(content.begin(), content.end(), [](char b) { return (b & 0x80) == 0; });
    if (!ascii) {
        QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        QString text = utf8(content);
        if (!utf8.hasError()) {
            return text;
        }
        const TPacketCodec& codec = TPacketCodec::cp932();
        if (!codec.available()) {
            throw TFailure(NoCodecMessage);
        }
    }
    return TPacketCodec::cp932().decode(content);
}

} // namespace torvane
