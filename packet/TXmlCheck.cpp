#include "TXmlCheck.h"

#include "TMessageLanguage.h"
#include "TSimd.h"

#include <QStringList>

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

namespace torvane {

namespace {

using Ptr = const char16_t*;

bool isSpace(char16_t c)
{
    return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n';
}

// XML 1.0 (fifth edition) NameStartChar and NameChar, on code points.
constexpr bool isNameStart(char32_t c)
{
    if (c < 0x80) {
        return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || c == u'_' || c == u':';
    }
    return (c >= 0xC0 && c <= 0xD6) || (c >= 0xD8 && c <= 0xF6) || (c >= 0xF8 && c <= 0x2FF) ||
           (c >= 0x370 && c <= 0x37D) || (c >= 0x37F && c <= 0x1FFF) || (c >= 0x200C && c <= 0x200D) ||
           (c >= 0x2070 && c <= 0x218F) || (c >= 0x2C00 && c <= 0x2FEF) || (c >= 0x3001 && c <= 0xD7FF) ||
           (c >= 0xF900 && c <= 0xFDCF) || (c >= 0xFDF0 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0xEFFFF);
}

constexpr bool isNameChar(char32_t c)
{
    if (c < 0x80) {
        return isNameStart(c) || (c >= u'0' && c <= u'9') || c == u'-' || c == u'.';
    }
    return isNameStart(c) || c == 0xB7 || (c >= 0x300 && c <= 0x36F) || (c >= 0x203F && c <= 0x2040);
}

// The ASCII name characters as bits, 1 for a NameStartChar and 2 for a NameChar, looked up rather than
// compared: names are a good part of a packet's markup.
struct TAsciiNames {
    unsigned char bits[128] = {};
    constexpr TAsciiNames()
    {
        for (int c = 0; c < 128; ++c) {
            bits[c] =
                static_cast<unsigned char>((isNameStart(char32_t(c)) ? 1 : 0) | (isNameChar(char32_t(c)) ? 2 : 0));
        }
    }
};
constexpr TAsciiNames AsciiNames;

bool isLegalChar(char32_t c)
{
    return (c >= 0x20 && c <= 0xD7FF) || c == 0x9 || c == 0xA || c == 0xD || (c >= 0xE000 && c <= 0xFFFD) ||
           (c >= 0x10000 && c <= 0x10FFFF);
}

// The first character from `p` on that is `a`, `b` or `c`, or needs a closer look (below U+0020, a
// surrogate or beyond), else `end`. Eight characters at a time where SSE2 is there (every x86-64).
Ptr skipPlain(Ptr p, Ptr end, char16_t a, char16_t b, char16_t c)
{
#ifdef TORVANE_SSE2
    const __m128i va = _mm_set1_epi16(static_cast<short>(a));
    const __m128i vb = _mm_set1_epi16(static_cast<short>(b));
    const __m128i vc = _mm_set1_epi16(static_cast<short>(c));
    const __m128i low = _mm_set1_epi16(0x20);
    const __m128i flip = _mm_set1_epi16(static_cast<short>(0x8000));
    // c - 0x20, compared without sign: at or past 0xD800 - 0x20 is outside the plain range.
    const __m128i limit = _mm_set1_epi16(static_cast<short>((0xD800 - 0x20 - 1) ^ 0x8000));
    while (end - p >= 8) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const __m128i special =
            _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi16(v, va), _mm_cmpeq_epi16(v, vb)), _mm_cmpeq_epi16(v, vc));
        const __m128i outside = _mm_cmpgt_epi16(_mm_xor_si128(_mm_sub_epi16(v, low), flip), limit);
        const int mask = _mm_movemask_epi8(_mm_or_si128(special, outside));
        if (mask != 0) {
            return p + __builtin_ctz(static_cast<unsigned>(mask)) / 2;
        }
        p += 8;
    }
#endif
    while (p < end && *p >= 0x20 && *p < 0xD800 && *p != a && *p != b && *p != c) {
        ++p;
    }
    return p;
}

// Two names alike unit for unit (XML names are case-sensitive), compared inline: QStringView's == is a call, and this runs for every attribute.
bool sameNameExactly(QStringView a, QStringView b)
{
    if (a.size() != b.size()) {
        return false;
    }
    return std::memcmp(a.utf16(), b.utf16(), static_cast<std::size_t>(a.size()) * sizeof(char16_t)) == 0;
}

QString codePointText(char32_t c)
{
    return QStringLiteral("U+") + QString::number(c, 16).toUpper().rightJustified(4, u'0');
}

// One pass over the text. Every step returns false once a fault is found, leaving it in `m_at` and `m_what`.
class TChecker {
public:
    explicit TChecker(QStringView text, TXmlEvents* events = nullptr)
        : m_begin(text.utf16()), m_p(text.utf16()), m_end(text.utf16() + text.size()), m_events(events)
    {
    }

    bool run()
    {
        if (m_p < m_end && *m_p == 0xFEFF) {
            ++m_p;
        }
        if (startsWith(u"<?xml") && m_p + 5 < m_end && (isSpace(m_p[5]) || m_p[5] == u'?')) {
            if (!xmlDeclaration()) {
                return false;
            }
        }
        bool rootSeen = false;
        bool doctypeSeen = false;
        for (;;) {
            skipSpace();
            if (m_p == m_end) {
                return rootSeen || fail(m_p, say(u"ルート要素がありません", u"no root element"));
            }
            if (*m_p != u'<') {
                return fail(m_p, rootSeen ? say(u"ルート要素の後に文字があります", u"text after the root element")
                                          : say(u"ルート要素の前に文字があります", u"text before the root element"));
            }
            if (startsWith(u"<?")) {
                if (!processingInstruction()) {
                    return false;
                }
            } else if (startsWith(u"<!--")) {
                if (!comment()) {
                    return false;
                }
            } else if (startsWith(u"<!DOCTYPE")) {
                if (rootSeen || doctypeSeen) {
                    return fail(m_p, say(u"文書型宣言はルート要素の前に一つだけ置けます",
                                         u"only one document type declaration is allowed, before the root element"));
                }
                doctypeSeen = true;
                if (!doctype()) {
                    return false;
                }
            } else if (startsWith(u"<!")) {
                return fail(m_p, say(u"ルート要素の外に置けないものがあります",
                                     u"markup that is not allowed outside the root element"));
            } else if (rootSeen) {
                return fail(m_p, say(u"ルート要素の後に別の要素があります", u"another element after the root element"));
            } else {
                if (!element()) {
                    return false;
                }
                rootSeen = true;
            }
        }
    }

    Ptr faultAt() const { return m_at; }
    const QString& what() const { return m_what; }

private:
    bool fail(Ptr at, QString what)
    {
        m_at = at;
        m_what = std::move(what);
        return false;
    }

    template <std::size_t N> bool startsWith(const char16_t (&s)[N]) const
    {
        const std::size_t n = N - 1;
        if (static_cast<std::size_t>(m_end - m_p) < n) {
            return false;
        }
        for (std::size_t i = 0; i < n; ++i) {
            if (m_p[i] != s[i]) {
                return false;
            }
        }
        return true;
    }

    void skipSpace()
    {
        while (m_p < m_end && isSpace(*m_p)) {
            ++m_p;
        }
    }

    // The code point at `p` (a surrogate pair read as one), and how many units it takes; 0 units for a lone
    // surrogate.
    std::pair<char32_t, int> codePointAt(Ptr p) const
    {
        const char16_t c = *p;
        if (c < 0xD800 || c > 0xDFFF) {
            return {c, 1};
        }
        if (c <= 0xDBFF && p + 1 < m_end && p[1] >= 0xDC00 && p[1] <= 0xDFFF) {
            return {0x10000 + ((char32_t(c) - 0xD800) << 10) + (char32_t(p[1]) - 0xDC00), 2};
        }
        return {c, 0};
    }

    // Steps over one character at m_p that the fast paths did not take: false when XML does not allow it.
    bool legalChar()
    {
        const auto [c, units] = codePointAt(m_p);
        if (units == 0 || !isLegalChar(c)) {
            return fail(m_p, say(u"XML では使えない文字 %1 があります", u"character %1 is not allowed in XML")
                                 .arg(codePointText(c)));
        }
        m_p += units;
        return true;
    }

    // A name at m_p; `what` and `whatInEnglish` say what it names, for the message.
    bool name(QStringView* out, const char16_t* what, const char16_t* whatInEnglish)
    {
        const Ptr start = m_p;
        if (m_p < m_end && *m_p < 0x80 && (AsciiNames.bits[*m_p] & 1) != 0) {
            ++m_p;
            while (m_p < m_end && *m_p < 0x80 && (AsciiNames.bits[*m_p] & 2) != 0) {
                ++m_p;
            }
        }
        while (m_p < m_end) {
            const char16_t c = *m_p;
            if (c < 0x80) {
                const bool ok = m_p == start ? isNameStart(c) : isNameChar(c);
                if (!ok) {
                    break;
                }
                ++m_p;
                continue;
            }
            const auto [cp, units] = codePointAt(m_p);
            if (units == 0 || !(m_p == start ? isNameStart(cp) : isNameChar(cp))) {
                break;
            }
            m_p += units;
        }
        if (m_p == start) {
            const QStringView named(englishMessages() ? whatInEnglish : what);
            if (m_p == m_end) {
                return fail(m_p, say(u"%1がありません", u"missing %1").arg(named));
            }
            const auto [cp, units] = codePointAt(m_p);
            return fail(m_p, say(u"%1に使えない文字「%2」(%3) があります", u"invalid character '%2' (%3) in %1")
                                 .arg(named, units == 0 ? QString() : QString::fromUcs4(&cp, 1), codePointText(cp)));
        }
        if (out) {
            *out = QStringView(start, m_p - start);
        }
        return true;
    }

    // The message is made only when it is needed: this runs for every attribute of every row.
    template <typename Message> bool expect(char16_t c, Message&& message)
    {
        if (m_p < m_end && *m_p == c) {
            ++m_p;
            return true;
        }
        return fail(m_p, message());
    }

    // A quoted literal whose characters need only be legal (system and public ids, declaration values).
    bool quoted(QStringView* out = nullptr)
    {
        if (m_p == m_end || (*m_p != u'"' && *m_p != u'\'')) {
            return fail(m_p, say(u"引用符 \" か ' がありません", u"expected a quote, \" or '"));
        }
        const char16_t quote = *m_p++;
        const Ptr start = m_p;
        while (m_p < m_end && *m_p != quote) {
            if (*m_p >= 0x20 && *m_p < 0xD800) {
                ++m_p;
            } else if (!legalChar()) {
                return false;
            }
        }
        if (m_p == m_end) {
            return fail(start - 1, say(u"引用符が閉じられていません", u"the quote is not closed"));
        }
        if (out) {
            *out = QStringView(start, m_p - start);
        }
        ++m_p;
        return true;
    }

    bool xmlDeclaration()
    {
        const Ptr start = m_p;
        m_p += 5;
        const auto pseudoAttribute = [this](const char16_t* name, QStringView* value) {
            const Ptr at = m_p;
            QStringView found;
            if (!this->name(&found, u"XML 宣言の項目名", u"XML declaration attribute name")) {
                return false;
            }
            if (found != QStringView(name)) {
                return fail(at, say(u"XML 宣言に %1 は置けません", u"%1 is not allowed in the XML declaration")
                                    .arg(found.toString()));
            }
            skipSpace();
            if (!expect(u'=', [&] {
                    return say(u"XML 宣言の %1 の後に = がありません", u"missing = after %1 in the XML declaration")
                        .arg(found.toString());
                })) {
                return false;
            }
            skipSpace();
            return quoted(value);
        };
        Ptr before = m_p;
        skipSpace();
        QStringView value;
        if (m_p == before || !startsWith(u"version")) {
            return fail(m_p, say(u"XML 宣言に version がありません", u"the XML declaration has no version"));
        }
        Ptr at = m_p;
        if (!pseudoAttribute(u"version", &value)) {
            return false;
        }
        // XML 1.1 has rules of its own (control characters allowed as references), which readers of XML 1.0
        // do not follow.
        if (value != u"1.0") {
            return fail(
                at,
                say(u"XML の版「%1」は 1.0 ではありません", u"XML version \"%1\" is not 1.0").arg(value.toString()));
        }
        if (m_events) {
            m_events->xmlDeclaration(value);
        }
        before = m_p;
        skipSpace();
        if (m_p != before && startsWith(u"encoding")) {
            at = m_p;
            if (!pseudoAttribute(u"encoding", &value)) {
                return false;
            }
            const bool named =
                !value.isEmpty() && value.front().isLetter() && value.front().unicode() < 0x80 &&
                std::all_of(value.begin(), value.end(), [](QChar c) {
                    return c.unicode() < 0x80 && (c.isLetterOrNumber() || c == u'.' || c == u'_' || c == u'-');
                });
            if (!named) {
                return fail(
                    at, say(u"文字コード名「%1」は名前の形ではありません", u"encoding name \"%1\" is not a valid name")
                            .arg(value.toString()));
            }
            before = m_p;
            skipSpace();
        }
        if (m_p != before && startsWith(u"standalone")) {
            at = m_p;
            if (!pseudoAttribute(u"standalone", &value)) {
                return false;
            }
            if (value != u"yes" && value != u"no") {
                return fail(at, say(u"standalone は yes か no です", u"standalone must be yes or no"));
            }
            skipSpace();
        }
        if (!startsWith(u"?>")) {
            return fail(m_p, m_p == m_end ? say(u"XML 宣言が閉じられていません", u"the XML declaration is not closed")
                                          : say(u"XML 宣言に余分なものがあります",
                                                u"unexpected content in the XML declaration"));
        }
        Q_UNUSED(start);
        m_p += 2;
        return true;
    }

    bool processingInstruction()
    {
        const Ptr start = m_p;
        m_p += 2;
        QStringView target;
        if (!name(&target, u"処理命令の名前", u"processing instruction name")) {
            return false;
        }
        if (target.compare(u"xml", Qt::CaseInsensitive) == 0) {
            return fail(start, say(u"XML 宣言は文書の先頭にしか置けません",
                                   u"the XML declaration is allowed only at the start of the document"));
        }
        if (startsWith(u"?>")) {
            m_p += 2;
            return true;
        }
        if (m_p == m_end || !isSpace(*m_p)) {
            return fail(m_p, say(u"処理命令の名前の後に空白がありません",
                                 u"missing white space after the processing instruction's name"));
        }
        while (m_p < m_end) {
            const char16_t c = *m_p;
            if (c == u'?' && m_p + 1 < m_end && m_p[1] == u'>') {
                m_p += 2;
                return true;
            }
            if (c >= 0x20 && c < 0xD800) {
                ++m_p;
            } else if (!legalChar()) {
                return false;
            }
        }
        return fail(start, say(u"処理命令が閉じられていません", u"the processing instruction is not closed"));
    }

    bool comment()
    {
        const Ptr start = m_p;
        m_p += 4;
        while (m_p < m_end) {
            const char16_t c = *m_p;
            if (c == u'-' && m_p + 1 < m_end && m_p[1] == u'-') {
                if (m_p + 2 < m_end && m_p[2] == u'>') {
                    m_p += 3;
                    return true;
                }
                return fail(m_p, say(u"コメントの中に -- は使えません", u"-- is not allowed inside a comment"));
            }
            if (c >= 0x20 && c < 0xD800) {
                ++m_p;
            } else if (!legalChar()) {
                return false;
            }
        }
        return fail(start, say(u"コメントが閉じられていません", u"the comment is not closed"));
    }

    bool externalId(bool systemOptional)
    {
        if (startsWith(u"SYSTEM")) {
            m_p += 6;
        } else if (startsWith(u"PUBLIC")) {
            m_p += 6;
            if (!spaceRequired() || !quoted()) {
                return false;
            }
            const Ptr before = m_p;
            skipSpace();
            if (systemOptional && (m_p == before || m_p == m_end || (*m_p != u'"' && *m_p != u'\''))) {
                return true;
            }
            if (m_p == before) {
                return fail(m_p, say(u"空白がありません", u"missing white space"));
            }
            return quoted();
        } else {
            return fail(m_p, say(u"SYSTEM か PUBLIC がありません", u"expected SYSTEM or PUBLIC"));
        }
        return spaceRequired() && quoted();
    }

    bool spaceRequired()
    {
        if (m_p == m_end || !isSpace(*m_p)) {
            return fail(m_p, say(u"空白がありません", u"missing white space"));
        }
        skipSpace();
        return true;
    }

    // The document type declaration. Its markup declarations are checked for their outline (names, quoted
    // literals, comments and processing instructions in their places); the general entities declared are
    // remembered, so that references to them count as declared.
    bool doctype()
    {
        m_p += 9;
        if (!spaceRequired() || !name(nullptr, u"文書型の名前", u"document type name")) {
            return false;
        }
        Ptr before = m_p;
        skipSpace();
        if (m_p != before && (startsWith(u"SYSTEM") || startsWith(u"PUBLIC"))) {
            if (!externalId(false)) {
                return false;
            }
            // Entities may be declared outside the text, where this check cannot look.
            m_anyEntity = true;
            skipSpace();
        }
        if (m_p < m_end && *m_p == u'[') {
            ++m_p;
            if (!internalSubset()) {
                return false;
            }
            skipSpace();
        }
        return expect(u'>', [&] {
            return say(u"文書型宣言が > で閉じられていません", u"the document type declaration is not closed with >");
        });
    }

    bool internalSubset()
    {
        for (;;) {
            skipSpace();
            if (m_p == m_end) {
                return fail(m_p, say(u"文書型宣言の内部サブセットが閉じられていません",
                                     u"the internal subset of the document type declaration is not closed"));
            }
            if (*m_p == u']') {
                ++m_p;
                return true;
            }
            if (*m_p == u'%') {
                ++m_p;
                if (!name(nullptr, u"パラメタ実体の名前", u"parameter entity name") || !expect(u';', [&] {
                        return say(u"パラメタ実体参照が ; で終わっていません",
                                   u"the parameter entity reference does not end with ;");
                    })) {
                    return false;
                }
                m_anyEntity = true;
                continue;
            }
            if (startsWith(u"<!--")) {
                if (!comment()) {
                    return false;
                }
            } else if (startsWith(u"<?")) {
                if (!processingInstruction()) {
                    return false;
                }
            } else if (startsWith(u"<!ENTITY")) {
                if (!entityDeclaration()) {
                    return false;
                }
            } else if (startsWith(u"<!ELEMENT") || startsWith(u"<!ATTLIST") || startsWith(u"<!NOTATION")) {
                if (!markupDeclaration()) {
                    return false;
                }
            } else {
                return fail(m_p, say(u"文書型宣言の中に置けないものがあります",
                                     u"markup that is not allowed in the document type declaration"));
            }
        }
    }

    bool entityDeclaration()
    {
        m_p += 8;
        if (!spaceRequired()) {
            return false;
        }
        bool parameter = false;
        if (*m_p == u'%') {
            parameter = true;
            ++m_p;
            if (!spaceRequired()) {
                return false;
            }
        }
        QStringView entity;
        if (!name(&entity, u"実体の名前", u"entity name") || !spaceRequired()) {
            return false;
        }
        if (m_p < m_end && (*m_p == u'"' || *m_p == u'\'')) {
            if (!quoted()) {
                return false;
            }
        } else {
            if (!externalId(false)) {
                return false;
            }
            const Ptr before = m_p;
            skipSpace();
            if (!parameter && m_p != before && startsWith(u"NDATA")) {
                m_p += 5;
                if (!spaceRequired() || !name(nullptr, u"記法の名前", u"notation name")) {
                    return false;
                }
            }
        }
        if (!parameter) {
            m_entities.push_back(entity);
        }
        skipSpace();
        return expect(u'>', [&] {
            return say(u"実体宣言が > で閉じられていません", u"the entity declaration is not closed with >");
        });
    }

    // ELEMENT, ATTLIST and NOTATION: a name, then names, quoted literals and punctuation up to ">".
    bool markupDeclaration()
    {
        m_p += 2;
        if (!name(nullptr, u"宣言の名前", u"declaration name") || !spaceRequired()) {
            return false;
        }
        while (m_p < m_end && *m_p != u'>') {
            const char16_t c = *m_p;
            if (c == u'"' || c == u'\'') {
                if (!quoted()) {
                    return false;
                }
            } else if (c == u'<' || c == u'&') {
                return fail(
                    m_p, say(u"宣言の中に「%1」は使えません", u"\"%1\" is not allowed in a declaration").arg(QChar(c)));
            } else if (c >= 0x20 && c < 0xD800) {
                ++m_p;
            } else if (!legalChar()) {
                return false;
            }
        }
        return expect(u'>',
                      [&] { return say(u"宣言が > で閉じられていません", u"the declaration is not closed with >"); });
    }

    // A reference at m_p ("&"): predefined, declared, or a character reference to a legal character.
    bool reference()
    {
        const Ptr start = m_p++;
        if (m_p < m_end && *m_p == u'#') {
            ++m_p;
            const bool hex = m_p < m_end && *m_p == u'x';
            if (hex) {
                ++m_p;
            }
            const Ptr digits = m_p;
            char32_t value = 0;
            bool tooBig = false;
            while (m_p < m_end) {
                const char16_t c = *m_p;
                int digit = -1;
                if (c >= u'0' && c <= u'9') {
                    digit = c - u'0';
                } else if (hex && c >= u'a' && c <= u'f') {
                    digit = c - u'a' + 10;
                } else if (hex && c >= u'A' && c <= u'F') {
                    digit = c - u'A' + 10;
                }
                if (digit < 0) {
                    break;
                }
                value = value * (hex ? 16 : 10) + static_cast<char32_t>(digit);
                if (value > 0x10FFFF) {
                    tooBig = true;
                    value = 0x110000;
                }
                ++m_p;
            }
            if (m_p == digits || m_p == m_end || *m_p != u';') {
                return fail(start, say(u"文字参照の形が正しくありません", u"malformed character reference"));
            }
            ++m_p;
            if (tooBig || !isLegalChar(value)) {
                return fail(start, say(u"文字参照 %1 は XML で使えない文字を指しています",
                                       u"character reference %1 refers to a character XML does not allow")
                                       .arg(QStringView(start, m_p - start)));
            }
            return true;
        }
        QStringView entity;
        if (m_p == m_end || *m_p == u';' || !name(&entity, u"実体の名前", u"entity name")) {
            return fail(start, say(u"& の後が実体参照や文字参照になっていません (& は &amp; と書きます)",
                                   u"& does not start an entity or character reference (write & as &amp;)"));
        }
        if (m_p == m_end || *m_p != u';') {
            return fail(start, say(u"& の後が実体参照や文字参照になっていません (& は &amp; と書きます)",
                                   u"& does not start an entity or character reference (write & as &amp;)"));
        }
        ++m_p;
        if (entity == u"lt" || entity == u"gt" || entity == u"amp" || entity == u"apos" || entity == u"quot" ||
            m_anyEntity || std::find(m_entities.begin(), m_entities.end(), entity) != m_entities.end()) {
            return true;
        }
        return fail(start, say(u"実体「%1」は宣言されていません", u"entity \"%1\" is not declared").arg(entity));
    }

    // An attribute value at m_p (the opening quote).
    bool attributeValue()
    {
        if (m_p == m_end || (*m_p != u'"' && *m_p != u'\'')) {
            return fail(m_p, say(u"属性値が引用符で囲まれていません", u"the attribute value is not in quotes"));
        }
        const Ptr open = m_p;
        const char16_t quote = *m_p++;
        for (;;) {
            // The fast path: everything that is neither markup nor a character needing a closer look.
            m_p = skipPlain(m_p, m_end, quote, u'<', u'&');
            if (m_p == m_end) {
                return fail(open,
                            say(u"属性値の引用符が閉じられていません", u"the attribute value's quote is not closed"));
            }
            const char16_t c = *m_p;
            if (c == quote) {
                ++m_p;
                return true;
            }
            if (c == u'<') {
                return fail(m_p, say(u"属性値の中に < は使えません (&lt; と書きます)",
                                     u"< is not allowed in an attribute value (write &lt;)"));
            }
            if (c == u'&') {
                if (!reference()) {
                    return false;
                }
            } else if (!legalChar()) {
                return false;
            }
        }
    }

    // The root element and everything in it, without recursion: a stack of open element names.
    bool element()
    {
        std::vector<QStringView> open;
        std::vector<std::pair<QStringView, Ptr>> attributes;
        for (;;) {
            // m_p is at "<" of a start tag.
            const Ptr tagStart = m_p;
            ++m_p;
            QStringView tag;
            if (!name(&tag, u"要素名", u"element name")) {
                return false;
            }
            attributes.clear();
            m_eventAttributes.clear();
            // Whether the names so far are those of the last element whose names were found unique, in the
            // same order: rows mostly repeat the row before, whose names need no second look.
            bool asBefore = true;
            bool empty = false;
            for (;;) {
                const Ptr before = m_p;
                skipSpace();
                if (m_p == m_end) {
                    return fail(m_p,
                                say(u"開始タグ <%1> が閉じられていません", u"start tag <%1> is not closed").arg(tag));
                }
                if (*m_p == u'>') {
                    ++m_p;
                    break;
                }
                if (*m_p == u'/') {
                    ++m_p;
                    if (!expect(u'>', [&] { return say(u"/ の後に > がありません", u"missing > after /"); })) {
                        return false;
                    }
                    empty = true;
                    break;
                }
                if (m_p == before) {
                    return fail(m_p, say(u"属性の前に空白がありません", u"missing white space before an attribute"));
                }
                const Ptr at = m_p;
                QStringView attribute;
                asBefore = asBefore && attributes.size() < m_lastUnique.size() &&
                           startsWithName(m_lastUnique[attributes.size()]);
                if (asBefore) {
                    attribute = QStringView(m_p, m_lastUnique[attributes.size()].size());
                    m_p += attribute.size();
                } else if (!name(&attribute, u"属性名", u"attribute name")) {
                    return false;
                }
                skipSpace();
                if (!expect(u'=', [&] {
                        return say(u"属性名「%1」の後に = がありません", u"missing = after attribute name \"%1\"")
                            .arg(attribute);
                    })) {
                    return false;
                }
                skipSpace();
                const Ptr valueAt = m_p;
                if (!attributeValue()) {
                    return false;
                }
                attributes.emplace_back(attribute, at);
                if (m_events) {
                    m_eventAttributes.push_back({attribute, QStringView(valueAt + 1, m_p - valueAt - 2)});
                }
            }
            if (!(asBefore && attributes.size() == m_lastUnique.size()) && !uniqueAttributes(attributes, tag)) {
                return false;
            }
            if (m_events) {
                m_events->startElement(tag, m_eventAttributes, tagStart - m_begin, m_p - m_begin, empty);
            }
            if (!empty) {
                open.push_back(tag);
            }
            // Content, until the next start tag or the end of the root.
            for (;;) {
                if (open.empty()) {
                    return true;
                }
                if (!characterData()) {
                    return false;
                }
                if (m_p == m_end) {
                    return fail(m_p,
                                say(u"要素 <%1> が閉じられていません", u"element <%1> is not closed").arg(open.back()));
                }
                // At "<" or "&".
                if (*m_p == u'&') {
                    if (!reference()) {
                        return false;
                    }
                    continue;
                }
                if (m_p + 1 < m_end && m_p[1] == u'/') {
                    const Ptr at = m_p;
                    m_p += 2;
                    QStringView closing;
                    if (!name(&closing, u"終了タグの要素名", u"element name in the end tag")) {
                        return false;
                    }
                    if (closing != open.back()) {
                        return fail(at, say(u"終了タグ </%1> が開始タグ <%2> と対応していません",
                                            u"end tag </%1> does not match start tag <%2>")
                                            .arg(closing, open.back()));
                    }
                    skipSpace();
                    if (!expect(u'>', [&] {
                            return say(u"終了タグ </%1> が > で閉じられていません",
                                       u"end tag </%1> is not closed with >")
                                .arg(closing);
                        })) {
                        return false;
                    }
                    open.pop_back();
                    if (m_events) {
                        m_events->endElement(closing, at - m_begin, m_p - m_begin);
                    }
                    continue;
                }
                if (startsWith(u"<!--")) {
                    if (!comment()) {
                        return false;
                    }
                    continue;
                }
                if (startsWith(u"<![CDATA[")) {
                    if (!cdata()) {
                        return false;
                    }
                    continue;
                }
                if (startsWith(u"<?")) {
                    if (!processingInstruction()) {
                        return false;
                    }
                    continue;
                }
                if (m_p + 1 < m_end && m_p[1] == u'!') {
                    return fail(m_p, say(u"要素の中に置けない宣言があります",
                                         u"a declaration that is not allowed inside an element"));
                }
                break; // a start tag
            }
        }
    }

    // Character data from m_p up to the next "<" or "&" (or the end).
    bool characterData()
    {
        for (;;) {
            m_p = skipPlain(m_p, m_end, u'<', u'&', u']');
            if (m_p == m_end || *m_p == u'<' || *m_p == u'&') {
                return true;
            }
            if (*m_p == u']') {
                if (startsWith(u"]]>")) {
                    return fail(m_p,
                                say(u"文字データの中に ]]> は使えません", u"]]> is not allowed in character data"));
                }
                ++m_p;
            } else if (!legalChar()) {
                return false;
            }
        }
    }

    bool cdata()
    {
        const Ptr start = m_p;
        m_p += 9;
        while (m_p < m_end) {
            const char16_t c = *m_p;
            if (c == u']' && startsWith(u"]]>")) {
                m_p += 3;
                return true;
            }
            if (c >= 0x20 && c < 0xD800) {
                ++m_p;
            } else if (!legalChar()) {
                return false;
            }
        }
        return fail(start, say(u"CDATA セクションが閉じられていません", u"the CDATA section is not closed"));
    }

    // Whether the text at m_p is `known`, a name already checked, and the name ends there.
    bool startsWithName(QStringView known) const
    {
        const qsizetype n = known.size();
        if (m_end - m_p <= n || !sameNameExactly(QStringView(m_p, n), known)) {
            return false;
        }
        const char16_t next = m_p[n];
        return next < 0x80 && (AsciiNames.bits[next] & 2) == 0;
    }

    // A start tag's attribute names are unique: a few are compared pairwise, many are sorted.
    bool uniqueAttributes(std::vector<std::pair<QStringView, Ptr>>& attributes, QStringView tag)
    {
        Ptr second = nullptr;
        QStringView repeated;
        if (attributes.size() <= 16) {
            for (std::size_t i = 1; i < attributes.size() && !second; ++i) {
                for (std::size_t j = 0; j < i; ++j) {
                    if (sameNameExactly(attributes[i].first, attributes[j].first)) {
                        second = attributes[i].second;
                        repeated = attributes[i].first;
                        break;
                    }
                }
            }
        } else {
            std::sort(attributes.begin(), attributes.end(), [](const auto& a, const auto& b) {
                const int order = a.first.compare(b.first);
                return order < 0 || (order == 0 && a.second < b.second);
            });
            for (std::size_t i = 1; i < attributes.size(); ++i) {
                if (attributes[i].first == attributes[i - 1].first && (!second || attributes[i].second < second)) {
                    second = attributes[i].second;
                    repeated = attributes[i].first;
                }
            }
        }
        if (second) {
            return fail(second, say(u"要素 <%1> に属性「%2」が二つあります", u"element <%1> has attribute \"%2\" twice")
                                    .arg(tag, repeated));
        }
        if (attributes.size() <= 16) {
            m_lastUnique.clear();
            for (const auto& attribute : attributes) {
                m_lastUnique.push_back(attribute.first);
            }
        }
        return true;
    }

    Ptr m_begin;
    Ptr m_p;
    Ptr m_end;
    Ptr m_at = nullptr;
    QString m_what;
    std::vector<QStringView> m_entities;
    std::vector<QStringView> m_lastUnique;
    bool m_anyEntity = false;
    TXmlEvents* m_events = nullptr;
    std::vector<TXmlAttribute> m_eventAttributes;
};

std::optional<TXmlFault> faultOf(QStringView text, const TChecker& checker)
{
    TXmlFault fault;
    fault.position = checker.faultAt() - text.utf16();
    fault.message = checker.what();
    qsizetype lineStart = 0;
    for (qsizetype i = 0; i < fault.position; ++i) {
        const char16_t c = text[i].unicode();
        if (c == u'\n' || (c == u'\r' && (i + 1 >= text.size() || text[i + 1] != u'\n'))) {
            ++fault.line;
            lineStart = i + 1;
        }
    }
    fault.column = fault.position - lineStart + 1;
    return fault;
}

} // namespace

std::optional<TXmlFault> firstXmlFault(QStringView text)
{
    TChecker checker(text);
    if (checker.run()) {
        return std::nullopt;
    }
    return faultOf(text, checker);
}

std::optional<TXmlFault> readXml(QStringView text, TXmlEvents& events)
{
    TChecker checker(text, &events);
    if (checker.run()) {
        return std::nullopt;
    }
    return faultOf(text, checker);
}

QString packetPlaceOf(QStringView text, qsizetype position)
{
    qsizetype lineStart = position;
    while (lineStart > 0 && text[lineStart - 1] != u'\n' && text[lineStart - 1] != u'\r') {
        --lineStart;
    }
    qsizetype lineEnd = position;
    while (lineEnd < text.size() && text[lineEnd] != u'\n' && text[lineEnd] != u'\r') {
        ++lineEnd;
    }
    const QStringView line = text.mid(lineStart, lineEnd - lineStart);
    const QLatin1String fieldStart("<FIELD attrname=\"");
    if (line.startsWith(fieldStart)) {
        const QStringView rest = line.mid(fieldStart.size());
        const qsizetype end = rest.indexOf(QLatin1String("\" fieldtype=\""));
        return end < 0 ? QString() : say(u"フィールド「%1」", u"field \"%1\"").arg(rest.left(end));
    }
    if (!line.startsWith(QLatin1String("<ROW ")) && !line.startsWith(QLatin1String("<ROW/"))) {
        return QString();
    }
    // The row's number: the ROW lines from the data's start up to this one.
    const qsizetype data = text.left(lineStart).lastIndexOf(QLatin1String("<ROWDATA>"));
    if (data < 0) {
        return QString();
    }
    qsizetype row = 1;
    for (qsizetype at = text.indexOf(QLatin1String("\n<ROW"), data); at >= 0 && at + 1 < lineStart;
         at = text.indexOf(QLatin1String("\n<ROW"), at + 5)) {
        ++row;
    }
    // The writer escapes every quote in a value and an "=" that ends one, so `="` follows a field's name
    // and nothing else; a value runs to the next quote.
    qsizetype at = 4;
    const qsizetype offset = position - lineStart;
    while (at < line.size()) {
        const qsizetype equals = line.indexOf(QLatin1String("=\""), at);
        if (equals < 0) {
            break;
        }
        const qsizetype close = line.indexOf(u'"', equals + 2);
        if (offset <= (close < 0 ? line.size() : close)) {
            QStringView field = line.mid(at, equals - at);
            while (!field.isEmpty() && field.front() == u' ') {
                field = field.mid(1);
            }
            return say(u"データ %1 行目、フィールド「%2」", u"record %1, field \"%2\"").arg(row).arg(field);
        }
        at = close + 1;
    }
    return say(u"データ %1 行目", u"record %1").arg(row);
}

QString describeXmlFault(QStringView text, const TXmlFault& fault)
{
    QString description =
        say(u"%1 行 %2 列: %3", u"line %1, column %2: %3").arg(fault.line).arg(fault.column).arg(fault.message);
    const QString place = packetPlaceOf(text, fault.position);
    if (!place.isEmpty()) {
        description += QStringLiteral(" (%1)").arg(place);
    }
    return description;
}

} // namespace torvane
