#include "TPacketScan.h"

#include "TSimd.h"

#include <algorithm>
#include <array>

// The plain road: texts in the plain form the writer and the dataset library write, where reading by the
// markers gives what an XML reader gives, are read without the XML pass.

namespace torvane {

namespace {

// A character of an attribute or element name in the plain form of a tag: anything but white space, control
// characters and the characters that end a name or open a value.
struct TPlainNameChars {
    bool ascii[128] = {};
    constexpr TPlainNameChars()
    {
        for (int c = u' ' + 1; c < 128; ++c) {
            ascii[c] = c != u'=' && c != u'"' && c != u'\'' && c != u'<' && c != u'>' && c != u'/' && c != u'&' &&
                       c != u'?' && c != 127;
        }
    }
};
constexpr TPlainNameChars PlainNameChars;

bool isPlainNameChar(char16_t c)
{
    return c >= 128 || PlainNameChars.ascii[c];
}

// The attributes of a start tag in the plain form that the writer and the dataset library write, from `k`
// (right after the tag's name): each one space, a name, `="`, a value and `"`. A value holds no "<", ">",
// tab or line break and does not end in "=", and holds "&" only where `references` allows. Calls
// `take(name, value)` for each attribute in turn. Returns the position right after the last value (where "/>",
// ">" or "?>" should follow), or NotFound for any other form.
template <class Take> qsizetype forEachPlainAttribute(QStringView text, qsizetype k, bool references, Take&& take)
{
    const char16_t* s = text.utf16();
    const qsizetype length = text.size();
    for (;;) {
        if (k >= length) {
            return NotFound;
        }
        if (s[k] != u' ') {
            return k;
        }
        ++k;
        const qsizetype nameStart = k;
        while (k < length && isPlainNameChar(s[k])) {
            ++k;
        }
        if (k == nameStart || k + 1 >= length || s[k] != u'=' || s[k + 1] != u'"') {
            return NotFound;
        }
        const qsizetype nameEnd = k;
        k += 2;
        const qsizetype v = k;
        while (k < length && s[k] != u'"') {
            const char16_t c = s[k];
            if (c == u'<' || c == u'>' || c == u'\t' || c == u'\n' || c == u'\r' || (c == u'&' && !references)) {
                return NotFound;
            }
            ++k;
        }
        if (k >= length || (k > v && s[k - 1] == u'=')) {
            return NotFound;
        }
        take(text.mid(nameStart, nameEnd - nameStart), text.mid(v, k - v));
        ++k;
    }
}

// The same, with the attributes appended to `out` when it is given.
qsizetype plainAttributes(QStringView text, qsizetype k, bool references, std::vector<TXmlAttribute>* out)
{
    return forEachPlainAttribute(text, k, references, [out](QStringView name, QStringView value) {
        if (out) {
            out->push_back({name, value});
        }
    });
}

// The first position in [k, end) holding `a`, `b`, `c` or `d`, or a character below `low`; `end` when there is
// none. Eight characters at a time where SSE2 is there: rows are most of a packet.
inline qsizetype findStop(const char16_t* s, qsizetype k, qsizetype end, char16_t a, char16_t b, char16_t c, char16_t d,
                          char16_t low)
{
#if defined(TORVANE_SSE2)
    const __m128i va = _mm_set1_epi16(static_cast<short>(a));
    const __m128i vb = _mm_set1_epi16(static_cast<short>(b));
    const __m128i vc = _mm_set1_epi16(static_cast<short>(c));
    const __m128i vd = _mm_set1_epi16(static_cast<short>(d));
    // Compared without sign: both sides flipped at their top bit.
    const __m128i flip = _mm_set1_epi16(static_cast<short>(0x8000));
    const __m128i vlow = _mm_set1_epi16(static_cast<short>(low ^ 0x8000));
    while (end - k >= 8) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + k));
        const __m128i hit = _mm_or_si128(_mm_or_si128(_mm_or_si128(_mm_cmpeq_epi16(v, va), _mm_cmpeq_epi16(v, vb)),
                                                      _mm_or_si128(_mm_cmpeq_epi16(v, vc), _mm_cmpeq_epi16(v, vd))),
                                         _mm_cmplt_epi16(_mm_xor_si128(v, flip), vlow));
        const int mask = _mm_movemask_epi8(hit);
        if (mask != 0) {
            return k + __builtin_ctz(static_cast<unsigned>(mask)) / 2;
        }
        k += 8;
    }
#endif
    while (k < end && s[k] != a && s[k] != b && s[k] != c && s[k] != d && s[k] >= low) {
        ++k;
    }
    return k;
}

} // namespace

TPlainField plainField(QStringView text, qsizetype k)
{
    TPlainField field;
    std::array<bool, 3> exact{};
    const auto consider = [](QStringView name, QStringView value, QStringView wanted, QStringView& slot,
                             bool& exactSlot) {
        if (exactSlot || name.size() != wanted.size()) {
            return;
        }
        // Compared unit by unit, as the library's comparison costs a call for each of a hundred thousand.
        if (std::equal(name.begin(), name.end(), wanted.begin())) {
            slot = value;
            exactSlot = true;
        } else if (slot.isNull() && sameNameIgnoringCase(name, wanted)) {
            slot = value;
        }
    };
    field.end = forEachPlainAttribute(text, k, false, [&](QStringView name, QStringView value) {
        consider(name, value, u"attrname", field.name, exact[0]);
        consider(name, value, u"fieldtype", field.type, exact[1]);
        consider(name, value, u"WIDTH", field.width, exact[2]);
    });
    return field;
}

bool TPacketScan::plainHead()
{
    const char16_t* s = m_text.utf16();
    std::vector<TXmlAttribute> attributes;
    qsizetype k = 0;
    if (m_text.startsWith(u"<?xml ")) {
        k = plainAttributes(m_text, 5, false, nullptr);
        if (k == NotFound || k + 1 >= m_length || s[k] != u'?' || s[k + 1] != u'>') {
            return false;
        }
        k += 2;
    }
    enum class TPhase { Before, In, After };
    TPhase fields = TPhase::Before;
    std::vector<QStringView> open;
    size_t fieldsDepth = 0;
    // While a field element's content is open, its depth: what lies in it is kept as written, not read.
    size_t fieldDepth = 0;
    qsizetype lastFieldEnd = NotFound;
    qsizetype params = NotFound;
    std::vector<TXmlAttribute> paramsAttributes;
    qsizetype fieldCount = 0;
    for (;;) {
        const qsizetype lt = m_text.indexOf(u'<', k);
        if (lt == NotFound) {
            break;
        }
        if (lt + 1 >= m_length || s[lt + 1] == u'!' || s[lt + 1] == u'?') {
            return false;
        }
        if (s[lt + 1] == u'/') {
            qsizetype e = lt + 2;
            while (e < m_length && isPlainNameChar(s[e])) {
                ++e;
            }
            if (e >= m_length || s[e] != u'>' || open.empty() || m_text.mid(lt + 2, e - lt - 2) != open.back()) {
                return false;
            }
            open.pop_back();
            k = e + 1;
            if (fieldDepth != 0 && open.size() < fieldDepth) {
                fieldDepth = 0;
                lastFieldEnd = k;
            } else if (fields == TPhase::In && open.size() < fieldsDepth) {
                fields = TPhase::After;
            }
            continue;
        }
        qsizetype e = lt + 1;
        while (e < m_length && isPlainNameChar(s[e])) {
            ++e;
        }
        const QStringView name = m_text.mid(lt + 1, e - lt - 1);
        attributes.clear();
        const bool isField = sameNameIgnoringCase(name, u"FIELD");
        TPlainField field;
        if (isField) {
            field = plainField(m_text, e);
            e = field.end;
        } else {
            e = plainAttributes(m_text, e, false, &attributes);
        }
        if (name.isEmpty() || e == NotFound) {
            return false;
        }
        const bool empty = s[e] == u'/';
        if (empty ? e + 1 >= m_length || s[e + 1] != u'>' : s[e] != u'>') {
            return false;
        }
        k = empty ? e + 2 : e + 1;
        if (name.startsWith(u"ROWDATA", Qt::CaseInsensitive)) {
            // The rows, read on by the scan in their plain form: the first such tag must be theirs.
            if (!sameNameIgnoringCase(name, u"ROWDATA") || open.size() != 1 || fields != TPhase::After || !attributes.empty() ||
                empty) {
                return false;
            }
            break;
        }
        if (open.empty()) {
            if (!sameNameIgnoringCase(name, u"DATAPACKET") || attributes.size() != 1 || !sameNameIgnoringCase(attributes[0].name, u"Version") ||
                empty) {
                return false;
            }
        } else if (fieldDepth == 0) {
            const bool inMetadata = open.size() == 2 && sameNameIgnoringCase(open[1], u"METADATA");
            if (name.startsWith(u"FIELDS", Qt::CaseInsensitive)) {
                if (!sameNameIgnoringCase(name, u"FIELDS") || fields != TPhase::Before || !inMetadata || !attributes.empty() ||
                    empty) {
                    return false;
                }
                fields = TPhase::In;
                fieldsDepth = open.size() + 1;
                lastFieldEnd = k;
            } else if (isField) {
                if (fields != TPhase::In || open.size() != fieldsDepth || field.name.isEmpty()) {
                    return false;
                }
                ++fieldCount;
                if (empty) {
                    lastFieldEnd = k;
                } else {
                    fieldDepth = open.size() + 1;
                }
            } else if (name.startsWith(u"PARAMS", Qt::CaseInsensitive)) {
                if (!sameNameIgnoringCase(name, u"PARAMS") || fields != TPhase::After || !inMetadata) {
                    return false;
                }
                if (params == NotFound) {
                    params = lt;
                    paramsAttributes = attributes;
                }
            }
        }
        if (!empty) {
            open.push_back(name);
        }
    }
    if (fields == TPhase::In) {
        return false;
    }
    if (fields == TPhase::After) {
        // The field scan and the settings' search run on from the last field to the end of the text: they must
        // find no other field or settings element there.
        qsizetype f = m_field.find(lastFieldEnd);
        if (f == NotFound) {
            // The scan's own search after its last field need not run to the end again.
            m_field.knownAbsentFrom(lastFieldEnd);
        }
        for (; f != NotFound; f = m_field.find(f + 1)) {
            if (isStartTagAt(m_text, f, u"FIELD")) {
                return false;
            }
        }
        if (params == NotFound && m_params.find(lastFieldEnd) != NotFound) {
            return false;
        }
        const qsizetype s0 = keysFrom(params);
        if (!plainKey(paramsAttributes, DefaultOrderMarker.chopped(2), m_defaultOrder, s0) ||
            !plainKey(paramsAttributes, PrimaryKeyMarker.chopped(2), m_primaryKey, s0)) {
            return false;
        }
    }
    m_plainHead = true;
    m_plainFieldCount = fieldCount;
    return true;
}

bool TPacketScan::plainKey(const std::vector<TXmlAttribute>& attributes, QStringView key, TMarkerFinder& finder,
                           qsizetype s0)
{
    // The scan takes the first name ending in the key; XML the attribute of that name.
    int endings = 0;
    const TXmlAttribute* ending = nullptr;
    for (const TXmlAttribute& a : attributes) {
        if (a.name.endsWith(key, Qt::CaseInsensitive)) {
            ++endings;
            ending = &a;
        }
    }
    if (endings == 0) {
        return finder.find(s0) == NotFound;
    }
    return endings == 1 && ending->name.size() == key.size();
}

void TPacketScan::addPlainField(qsizetype tag, const TPlainField& field, QString& lastType, QString& lastWidth)
{
    // Each attribute is one space, its name (as long as the marker's, in whatever letter case), `="`, its value
    // and `"`: what the other settings leave out of the tag runs from that space to the closing quote.
    const auto span = [this](QStringView value, QStringView marker) {
        const qsizetype at = value.utf16() - m_text.utf16();
        return TSpan{at - marker.size() - 1, at + value.size() + 1};
    };
    std::array<TSpan, 3> taken{};
    size_t takenCount = 0;
    taken[takenCount++] = span(field.name, NameAttribute);
    QString type;
    if (!field.type.isNull()) {
        type = sharedText(lastType, field.type);
        taken[takenCount++] = span(field.type, TypeAttribute);
    }
    QString width;
    if (!field.width.isNull()) {
        width = sharedText(lastWidth, field.width);
        taken[takenCount++] = span(field.width, WidthAttribute);
    }
    const QString etc = otherSettings(m_text, tag + FieldMarker.size(), field.end, taken.data(), takenCount);
    addFieldRow(m_ws, m_dialogs, field.name.toString(), type, etc, width, QString());
}

bool TPacketScan::plainBetweenRows(qsizetype from, qsizetype next) const
{
    // Between rows only text: a comment, CDATA section, processing instruction or other element there (a row
    // element without the space among them) is read as XML reads it. After the last row, end tags only.
    const char16_t* chars = m_text.utf16();
    for (qsizetype k = from, end = next == NotFound ? m_length : next; k < end; ++k) {
        if (chars[k] == u'<' && (next != NotFound || k + 1 >= m_length || chars[k + 1] != u'/')) {
            return false;
        }
    }
    return true;
}

bool TPacketScan::readPlainRowValues(qsizetype begin, qsizetype end)
{
    m_rows.beginRow();
    const char16_t* s = m_text.utf16();
    // The attributes begin right after the marker's space and are each separated by one space.
    for (qsizetype k = begin; k < end;) {
        // The name runs to its "=": a name in a well-formed text holds no other character that matters here,
        // and white space before the "=" is another form. (In a text that is not well-formed the name reads
        // as readRowValues reads it.)
        const qsizetype nameStart = k;
        k = findStop(s, k, end, u'=', u'=', u'=', u'=', u' ' + 1);
        if (k == nameStart || k + 1 >= end || s[k] != u'=' || s[k + 1] != u'"') {
            return false;
        }
        const qsizetype length = k - nameStart;
        k += 2;
        const qsizetype v = k;
        bool reference = false;
        for (;;) {
            // To the closing quote; markup, tabs and line breaks (which XML reads as spaces) are another form.
            k = findStop(s, k, end, u'"', u'&', u'<', u'>', u' ');
            if (k >= end) {
                return false;
            }
            if (s[k] == u'"') {
                break;
            }
            if (s[k] != u'&') {
                return false;
            }
            reference = true;
            ++k;
        }
        // A value ending in "=" would let the scan take a key inside it.
        if (k > v && s[k - 1] == u'=') {
            return false;
        }
        const int key = m_rows.keyOf(m_text.mid(nameStart, length));
        if (key >= 0) {
            // With no tab or line break in the value, its references are all XML would decode.
            m_rows.take(key, m_text.mid(v, k - v), reference ? TRowValueForm::References : TRowValueForm::Plain);
        }
        ++k;
        if (k < end && (s[k] != u' ' || k + 1 >= end)) {
            return false;
        }
        ++k;
    }
    return true;
}

} // namespace torvane
