#include "TFileBytes.h"

#include "TFailure.h"
#include "TPacketCodec.h"

namespace torvane {

namespace {

QString hexCode(char32_t c)
{
    return QString::number(static_cast<uint>(c), 16).toUpper().rightJustified(4, u'0');
}

} // namespace

QString unrepresentableMessage(QStringView fileText, qsizetype pos, const QString& encoding, qsizetype firstLine)
{
    const qsizetype line = fileText.left(pos).count(u'\n') + firstLine;
    const QChar c = fileText[pos];
    if (c.isHighSurrogate() && pos + 1 < fileText.size() && fileText[pos + 1].isLowSurrogate()) {
        const char32_t code = QChar::surrogateToUcs4(c, fileText[pos + 1]);
        return QStringLiteral("%1 行目の文字「%2」(U+%3) は %4 で表せないため、保存できません")
            .arg(line)
            .arg(fileText.mid(pos, 2).toString(), hexCode(code), encoding);
    }
    if (c.isSurrogate()) {
        // Half of a pair cannot be shown on its own.
        return QStringLiteral("%1 行目の文字 (U+%2) は %3 で表せないため、保存できません")
            .arg(line)
            .arg(hexCode(c.unicode()), encoding);
    }
    return QStringLiteral("%1 行目の文字「%2」(U+%3) は %4 で表せないため、保存できません")
        .arg(line)
        .arg(QString(c), hexCode(c.unicode()), encoding);
}

QByteArray encodeCp932(const QString& fileText)
{
    const TPacketCodec& codec = TPacketCodec::cp932();
    if (!codec.available()) {
        throw TFailure(NoCodecMessage);
    }
    QByteArray bytes;
    bytes.reserve(fileText.size() * 2);
    const qsizetype bad = codec.encode(fileText, bytes);
    if (bad >= 0) {
        throw TFailure(unrepresentableMessage(fileText, bad));
    }
    return bytes;
}

QString writeFailedMessage()
{
    return QStringLiteral("ストリームへの書き込みに失敗しました");
}

} // namespace torvane
