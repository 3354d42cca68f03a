#include "TFileBytes.h"

#include "TFailure.h"
#include "TPacketCodec.h"

namespace torvane {

namespace {

QString hexCode(char32_t c)
{
    return QString::number(static_cast<uint>(c), 16).toUpper().rightJustified(4, u'0');
}

// The refusal for the character at `pos` of the file text, with its line (1-based).
QString unrepresentableMessage(const QString& fileText, qsizetype pos)
{
    const qsizetype line = QStringView(fileText).left(pos).count(u'\n') + 1;
    const QChar c = fileText[pos];
    if (c.isHighSurrogate() && pos + 1 < fileText.size() && fileText[pos + 1].isLowSurrogate()) {
        const char32_t code = QChar::surrogateToUcs4(c, fileText[pos + 1]);
        return QStringLiteral("%1 行目の文字「%2」(U+%3) は Shift_JIS (CP932) で表せないため、保存できません")
            .arg(line)
            .arg(fileText.mid(pos, 2), hexCode(code));
    }
    if (c.isSurrogate()) {
        // Half of a pair cannot be shown on its own.
        return QStringLiteral("%1 行目の文字 (U+%2) は Shift_JIS (CP932) で表せないため、保存できません")
            .arg(line)
            .arg(hexCode(c.unicode()));
    }
    return QStringLiteral("%1 行目の文字「%2」(U+%3) は Shift_JIS (CP932) で表せないため、保存できません")
        .arg(line)
        .arg(QString(c), hexCode(c.unicode()));
}

} // namespace

// Linux input methods and pasted text give these code points for JIS characters whose CP932 forms are
// others; without the mapping they could not be saved at all.
char16_t toCp932Form(char16_t c)
{
    switch (c) {
    case 0x301C:
        return 0xFF5E; // WAVE DASH -> FULLWIDTH TILDE
    case 0x2016:
        return 0x2225; // DOUBLE VERTICAL LINE -> PARALLEL TO
    case 0x2212:
        return 0xFF0D; // MINUS SIGN -> FULLWIDTH HYPHEN-MINUS
    case 0x2014:
        return 0x2015; // EM DASH -> HORIZONTAL BAR
    case 0x00A2:
        return 0xFFE0; // CENT SIGN -> FULLWIDTH CENT SIGN
    case 0x00A3:
        return 0xFFE1; // POUND SIGN -> FULLWIDTH POUND SIGN
    case 0x00AC:
        return 0xFFE2; // NOT SIGN -> FULLWIDTH NOT SIGN
    default:
        return c;
    }
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
