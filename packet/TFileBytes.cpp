#include "TFileBytes.h"

#include "TFailure.h"
#include "TMessageLanguage.h"
#include "TPacketCodec.h"

namespace torvane {

namespace {

QString hexCode(char32_t c)
{
    return QString::number(static_cast<uint>(c), 16).toUpper().rightJustified(4, u'0');
}

} // namespace

QString noCodecMessage()
{
    return say(u"この環境の Qt には Shift_JIS (CP932) の変換器 (windows-31j) がありません",
               u"the Qt of this system has no Shift_JIS (CP932) converter (windows-31j)");
}

QString unrepresentableMessage(QStringView fileText, qsizetype pos, const QString& encoding, qsizetype firstLine)
{
    const qsizetype line = fileText.left(pos).count(u'\n') + firstLine;
    const QChar c = fileText[pos];
    if (c.isHighSurrogate() && pos + 1 < fileText.size() && fileText[pos + 1].isLowSurrogate()) {
        const char32_t code = QChar::surrogateToUcs4(c, fileText[pos + 1]);
        return say(u"%1 行目の文字「%2」(U+%3) は %4 で表せないため、保存できません",
                   u"%4 cannot hold the character \"%2\" (U+%3) on line %1")
            .arg(line)
            .arg(fileText.mid(pos, 2).toString(), hexCode(code), encoding);
    }
    if (c.isSurrogate()) {
        // Half of a pair cannot be shown on its own.
        return say(u"%1 行目の文字 (U+%2) は %3 で表せないため、保存できません",
                   u"%3 cannot hold the character U+%2 on line %1")
            .arg(line)
            .arg(hexCode(c.unicode()), encoding);
    }
    return say(u"%1 行目の文字「%2」(U+%3) は %4 で表せないため、保存できません",
               u"%4 cannot hold the character \"%2\" (U+%3) on line %1")
        .arg(line)
        .arg(QString(c), hexCode(c.unicode()), encoding);
}

QByteArray encodeCp932(const QString& fileText)
{
    const TPacketCodec& codec = TPacketCodec::cp932();
    if (!codec.available()) {
        throw TFailure(noCodecMessage());
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
    return say(u"ストリームへの書き込みに失敗しました", u"writing to the stream failed");
}

} // namespace torvane
