#include "TTextEncoding.h"

#include <QtEndian>

#include <array>
#include <cstring>

namespace torvane {

namespace {

constexpr char16_t Replacement = 0xFFFD;

// What windows-1252 puts at 0x80..0x9F; the five bytes it leaves undefined stand for themselves.
constexpr std::array<char16_t, 32> Windows1252High = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                                      0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                                      0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                                      0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

bool isXmlSpace(QChar c)
{
    return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n';
}

bool isUtf16Name(QStringView name)
{
    return name.compare(QLatin1StringView("UTF-16"), Qt::CaseInsensitive) == 0 ||
           name.compare(QLatin1StringView("UTF16"), Qt::CaseInsensitive) == 0;
}

// Where the first unpaired surrogate of `text` stands, or -1.
qsizetype firstLoneSurrogate(QStringView text)
{
    const char16_t* p = text.utf16();
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t c = p[i];
        if ((c & 0xF800) != 0xD800) {
            continue;
        }
        if (c >= 0xDC00 || i + 1 == n || (p[i + 1] & 0xFC00) != 0xDC00) {
            return i;
        }
        ++i;
    }
    return -1;
}

} // namespace

QString encodingDisplayName(TEncodingKind kind)
{
    switch (kind) {
    case TEncodingKind::Cp932:
        return QStringLiteral("Shift_JIS (CP932)");
    case TEncodingKind::Utf8:
        return QStringLiteral("UTF-8");
    case TEncodingKind::Utf16Le:
        return QStringLiteral("UTF-16LE");
    case TEncodingKind::Utf16Be:
        return QStringLiteral("UTF-16BE");
    case TEncodingKind::Latin1:
        return QStringLiteral("ISO-8859-1");
    case TEncodingKind::Windows1252:
        return QStringLiteral("Windows-1252");
    }
    return QString();
}

std::optional<TEncodingKind> encodingKindNamed(QStringView name)
{
    struct TName {
        const char* name;
        TEncodingKind kind;
    };
    static constexpr TName Names[] = {
        {"UTF-8", TEncodingKind::Utf8},         {"UTF8", TEncodingKind::Utf8},
        {"Shift_JIS", TEncodingKind::Cp932},    {"Shift-JIS", TEncodingKind::Cp932},
        {"SJIS", TEncodingKind::Cp932},         {"CP932", TEncodingKind::Cp932},
        {"MS932", TEncodingKind::Cp932},        {"windows-31j", TEncodingKind::Cp932},
        {"x-sjis", TEncodingKind::Cp932},       {"MS_Kanji", TEncodingKind::Cp932},
        {"csShiftJIS", TEncodingKind::Cp932},   {"csWindows31J", TEncodingKind::Cp932},
        {"UTF-16", TEncodingKind::Utf16Le},     {"UTF16", TEncodingKind::Utf16Le},
        {"UTF-16LE", TEncodingKind::Utf16Le},   {"UTF-16BE", TEncodingKind::Utf16Be},
        {"ISO-8859-1", TEncodingKind::Latin1},  {"ISO8859-1", TEncodingKind::Latin1},
        {"ISO_8859-1", TEncodingKind::Latin1},  {"latin1", TEncodingKind::Latin1},
        {"latin-1", TEncodingKind::Latin1},     {"l1", TEncodingKind::Latin1},
        {"CP819", TEncodingKind::Latin1},       {"IBM819", TEncodingKind::Latin1},
        {"csISOLatin1", TEncodingKind::Latin1}, {"windows-1252", TEncodingKind::Windows1252},
        {"CP1252", TEncodingKind::Windows1252}, {"x-cp1252", TEncodingKind::Windows1252},
    };
    for (const TName& known : Names) {
        if (name.compare(QLatin1StringView(known.name), Qt::CaseInsensitive) == 0) {
            return known.kind;
        }
    }
    return std::nullopt;
}

QString declaredEncodingName(QStringView text)
{
    qsizetype i = 0;
    while (i < text.size() && isXmlSpace(text[i])) {
        ++i;
    }
    if (!text.sliced(i).startsWith(QLatin1StringView("<?xml")) || i + 5 >= text.size() || !isXmlSpace(text[i + 5])) {
        return QString();
    }
    // The declaration ends at its first ">"; an encoding named after it is no declaration's.
    const qsizetype end = text.indexOf(u'>', i);
    const QStringView declaration = text.sliced(i, (end < 0 ? text.size() : end) - i);
    const qsizetype at = declaration.indexOf(QLatin1StringView("encoding"), 0, Qt::CaseInsensitive);
    if (at < 0) {
        return QString();
    }
    qsizetype k = at + 8;
    const auto skipSpaces = [&] {
        while (k < declaration.size() && isXmlSpace(declaration[k])) {
            ++k;
        }
    };
    skipSpaces();
    if (k >= declaration.size() || declaration[k] != u'=') {
        return QString();
    }
    ++k;
    skipSpaces();
    if (k >= declaration.size() || (declaration[k] != u'"' && declaration[k] != u'\'')) {
        return QString();
    }
    const qsizetype close = declaration.indexOf(declaration[k], k + 1);
    if (close < 0) {
        return QString();
    }
    return declaration.sliced(k + 1, close - k - 1).trimmed().toString();
}

QString declaredEncodingName(QByteArrayView bytes)
{
    const QByteArrayView head = bytes.first(std::min<qsizetype>(bytes.size(), 1024));
    return declaredEncodingName(QString::fromLatin1(head));
}

TTextEncoding saveEncodingFor(QStringView text, const TTextEncoding& loaded)
{
    const QString name = declaredEncodingName(text.first(std::min<qsizetype>(text.size(), 1024)));
    const std::optional<TEncodingKind> declared = encodingKindNamed(name);
    if (!declared || (!loaded.overruledDeclaration.isEmpty() &&
                      name.compare(loaded.overruledDeclaration, Qt::CaseInsensitive) == 0)) {
        return loaded;
    }
    const bool loadedUtf16 = loaded.kind == TEncodingKind::Utf16Le || loaded.kind == TEncodingKind::Utf16Be;
    TTextEncoding target = loaded;
    if (loadedUtf16 && isUtf16Name(name)) {
        // "UTF-16" says nothing of the byte order: the file's stays.
        return target;
    }
    target.kind = *declared;
    target.overruledDeclaration.clear();
    if (target.kind == loaded.kind) {
        return target;
    }
    // Only UTF-8 and UTF-16 have a byte-order mark; UTF-16 must have one when its file is to be read as
    // XML. A UTF-8 file keeps the mark it had as UTF-16.
    switch (target.kind) {
    case TEncodingKind::Utf16Le:
    case TEncodingKind::Utf16Be:
        target.byteOrderMark = true;
        break;
    case TEncodingKind::Utf8:
        target.byteOrderMark = loaded.byteOrderMark;
        break;
    default:
        target.byteOrderMark = false;
        break;
    }
    return target;
}

QString decodeUtf8(QByteArrayView bytes, TDecodeFaults* faults)
{
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const qsizetype n = bytes.size();
    QString out;
    out.reserve(n);
    qsizetype run = 0;
    qsizetype i = 0;
    while (i < n) {
        const int length = utf8SequenceLength(p, i, n);
        if (length > 0) {
            i += length;
            continue;
        }
        out += QString::fromUtf8(bytes.sliced(run, i - run));
        out += QChar(Replacement);
        if (faults) {
            faults->add(i);
        }
        run = ++i;
    }
    out += QString::fromUtf8(bytes.sliced(run));
    return out;
}

QString decodeUtf16(QByteArrayView bytes, bool bigEndian, TDecodeFaults* faults)
{
    const qsizetype units = bytes.size() / 2;
    QString out(units + bytes.size() % 2, Qt::Uninitialized);
    char16_t* dst = reinterpret_cast<char16_t*>(out.data());
    const auto* src = reinterpret_cast<const uchar*>(bytes.data());
    for (qsizetype i = 0; i < units; ++i) {
        dst[i] = bigEndian ? qFromBigEndian<quint16>(src + 2 * i) : qFromLittleEndian<quint16>(src + 2 * i);
    }
    for (qsizetype i = 0; i < units; ++i) {
        const char16_t c = dst[i];
        if ((c & 0xF800) != 0xD800) {
            continue;
        }
        if (c < 0xDC00 && i + 1 < units && (dst[i + 1] & 0xFC00) == 0xDC00) {
            ++i;
            continue;
        }
        dst[i] = Replacement;
        if (faults) {
            faults->add(2 * i);
        }
    }
    if (bytes.size() % 2 != 0) {
        dst[units] = Replacement;
        if (faults) {
            faults->add(bytes.size() - 1);
        }
    }
    return out;
}

QString decodeLatin1(QByteArrayView bytes)
{
    return QString::fromLatin1(bytes);
}

QString decodeWindows1252(QByteArrayView bytes)
{
    QString out = QString::fromLatin1(bytes);
    for (QChar& c : out) {
        if (c.unicode() >= 0x80 && c.unicode() < 0xA0) {
            c = QChar(Windows1252High[c.unicode() - 0x80]);
        }
    }
    return out;
}

qsizetype encodeText(QStringView text, TEncodingKind kind, QByteArray& out)
{
    switch (kind) {
    case TEncodingKind::Cp932:
        return TPacketCodec::cp932().encode(text, out);
    case TEncodingKind::Utf8: {
        const qsizetype bad = firstLoneSurrogate(text);
        out += (bad < 0 ? text : text.first(bad)).toUtf8();
        return bad;
    }
    case TEncodingKind::Utf16Le:
    case TEncodingKind::Utf16Be: {
        const qsizetype bad = firstLoneSurrogate(text);
        const QStringView good = bad < 0 ? text : text.first(bad);
        const qsizetype start = out.size();
        out.resize(start + 2 * good.size());
        uchar* dst = reinterpret_cast<uchar*>(out.data() + start);
        for (qsizetype i = 0; i < good.size(); ++i) {
            if (kind == TEncodingKind::Utf16Be) {
                qToBigEndian<quint16>(good[i].unicode(), dst + 2 * i);
            } else {
                qToLittleEndian<quint16>(good[i].unicode(), dst + 2 * i);
            }
        }
        return bad;
    }
    case TEncodingKind::Latin1:
    case TEncodingKind::Windows1252: {
        const qsizetype start = out.size();
        out.resize(start + text.size());
        char* dst = out.data() + start;
        for (qsizetype i = 0; i < text.size(); ++i) {
            const char16_t c = text[i].unicode();
            int byte = c <= 0xFF ? int(c) : -1;
            if (kind == TEncodingKind::Windows1252 && (c >= 0x80 || byte < 0)) {
                // 0x80..0x9F hold other characters there, apart from the five that stand for themselves.
                byte = -1;
                if (c >= 0xA0 && c <= 0xFF) {
                    byte = c;
                } else {
                    for (int k = 0; k < 32; ++k) {
                        if (Windows1252High[k] == c) {
                            byte = 0x80 + k;
                            break;
                        }
                    }
                }
            }
            if (byte < 0) {
                out.truncate(start + i);
                return i;
            }
            dst[i] = static_cast<char>(byte);
        }
        return -1;
    }
    }
    return text.isEmpty() ? -1 : 0;
}

QByteArray byteOrderMarkOf(TEncodingKind kind)
{
    switch (kind) {
    case TEncodingKind::Utf8:
        return QByteArrayLiteral("\xEF\xBB\xBF");
    case TEncodingKind::Utf16Le:
        return QByteArrayLiteral("\xFF\xFE");
    case TEncodingKind::Utf16Be:
        return QByteArrayLiteral("\xFE\xFF");
    default:
        return QByteArray();
    }
}

} // namespace torvane
