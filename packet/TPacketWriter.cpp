#include "TPacketWriter.h"

#include "TRowValue.h"
#include "TSimd.h"

#include <algorithm>
#include <cstring>
#include <type_traits>

namespace torvane {

namespace {

const QLatin1String CrLf("\r\n");

// The first character from `p` on that mayNeedEscape(), or `end`. A row's cells lie one after another, so
// one scan over the row finds the few values that need the character-by-character road; the rest are
// copied whole. Eight characters at a time where SSE2 is there (every x86-64).
const char16_t* firstEscapable(const char16_t* p, const char16_t* end)
{
#ifdef TORVANE_SSE2
    const __m128i zero = _mm_setzero_si128();
    const auto inRange = [&](__m128i v, short low, short span) {
        // (v - low) as unsigned is at most span only for v in [low, low + span].
        return _mm_cmpeq_epi16(_mm_subs_epu16(_mm_sub_epi16(v, _mm_set1_epi16(low)), _mm_set1_epi16(span)), zero);
    };
    for (; end - p >= 8; p += 8) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const __m128i hits = _mm_or_si128(_mm_or_si128(inRange(v, '\t', 1), inRange(v, '<', 2)),
                                          _mm_or_si128(_mm_cmpeq_epi16(v, _mm_set1_epi16('\r')),
                                                       _mm_or_si128(_mm_cmpeq_epi16(v, _mm_set1_epi16('"')),
                                                                    _mm_cmpeq_epi16(v, _mm_set1_epi16('&')))));
        if (const int mask = _mm_movemask_epi8(hits)) {
            return p + __builtin_ctz(static_cast<unsigned>(mask)) / 2;
        }
    }
#endif
    while (p < end && !mayNeedEscape(*p)) {
        ++p;
    }
    return p;
}

void appendPositions(QString& out, const std::vector<int>& positions)
{
    for (size_t i = 0; i < positions.size(); ++i) {
        if (i > 0) {
            out += u' ';
        }
        out += QString::number(positions[i]);
    }
}

// Writes the rows straight into the text's buffer: a large packet is millions of small pieces, and
// QString::append's checks on each of them cost more than the copying itself.
class TRowBuilder {
public:
    explicit TRowBuilder(QString& out) : m_out(out)
    {
        const qsizetype used = out.size();
        out.resize(out.capacity() > used ? out.capacity() : used);
        m_base = reinterpret_cast<char16_t*>(out.data());
        m_p = m_base + used;
        m_end = m_base + out.size();
    }
    ~TRowBuilder() { m_out.resize(m_p - m_base); }

    // Makes room for `n` more characters.
    void ensure(qsizetype n)
    {
        if (m_end - m_p >= n) {
            return;
        }
        const qsizetype used = m_p - m_base;
        m_out.resize(std::max(used + n, m_out.size() + m_out.size() / 2));
        m_base = reinterpret_cast<char16_t*>(m_out.data());
        m_p = m_base + used;
        m_end = m_base + m_out.size();
    }
    void put(char16_t c) { *m_p++ = c; }
    void put(QStringView s)
    {
        std::memcpy(m_p, s.utf16(), static_cast<size_t>(s.size()) * sizeof(char16_t));
        m_p += s.size();
    }
    // A value of a few characters: a call to memcpy for each would cost more than the copy.
    void putShort(QStringView s)
    {
        const char16_t* src = s.utf16();
        for (qsizetype i = 0, n = s.size(); i < n; ++i) {
            m_p[i] = src[i];
        }
        m_p += s.size();
    }
    // Copies [src, src + n) eight characters at a time and may write up to seven characters past them
    // (the room asked for covers that, and the next write overwrites them); may read up to seven past
    // them as well, so `readable` is where the source may be read up to.
    void putChunked(const char16_t* src, qsizetype n, const char16_t* readable)
    {
#ifdef TORVANE_SSE2
        if (src + ((n + 7) & ~qsizetype(7)) <= readable) {
            for (qsizetype i = 0; i < n; i += 8) {
                _mm_storeu_si128(reinterpret_cast<__m128i*>(m_p + i),
                                 _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i)));
            }
            m_p += n;
            return;
        }
#endif
        (void)readable;
        putShort(QStringView(src, n));
    }
    template <size_t N> void put(const char (&latin1)[N])
    {
        for (size_t i = 0; i + 1 < N; ++i) {
            *m_p++ = static_cast<char16_t>(latin1[i]);
        }
    }
    // A row value as it stands between the quotes of its attribute; needs room for LongestEscape characters
    // per character.
    void putEscaped(QStringView value)
    {
        const char16_t* s = value.utf16();
        const qsizetype last = value.size() - 1;
        for (qsizetype i = 0; i <= last; ++i) {
            const char16_t c = s[i];
            const char* escaped = mayNeedEscape(c) ? escapeOf(c, i == last) : nullptr;
            if (!escaped) {
                *m_p++ = c;
                continue;
            }
            while (*escaped) {
                *m_p++ = static_cast<char16_t>(*escaped++);
            }
        }
    }
    // Text kept from the packet, written as it was read.
    void putRaw(const QString& text)
    {
        ensure(text.size());
        put(text);
    }

private:
    QString& m_out;
    char16_t* m_base;
    char16_t* m_p;
    char16_t* m_end;
};

} // namespace

QString BuildParamsLine(const TWorkspace& workspace)
{
    const int n = static_cast<int>(workspace.FieldList().size());
    QString line = QStringLiteral("<PARAMS DEFAULT_ORDER=\"");
    appendPositions(line, workspace.LB_DefOrder().selectedPositions(n));
    line += QLatin1String("\" PRIMARY_KEY=\"");
    appendPositions(line, workspace.LB_PriKey().selectedPositions(n));
    line += QLatin1String("\" LCID=\"");
    line += workspace.Ed_LCID();
    line += u'"';
    if (!workspace.paramsAttributes().isEmpty()) {
        line += u' ';
        line += workspace.paramsAttributes();
    }
    line += QLatin1String("/>");
    return line;
}

QString escapeRowValue(const QString& value)
{
    QString out;
    {
        TRowBuilder builder(out);
        builder.ensure(LongestEscape * value.size());
        builder.putEscaped(value);
    }
    return out;
}

QString writePacket(const TWorkspace& ws, QString spare)
{
    const TStringGrid& data = ws.SG_Data();
    const int columns = ws.FieldCount();

    // The text's size is estimated from each row's characters and every column written, so that a packet
    // of millions of cells is built without reallocating and without a pass over every cell: the columns
    // of empty cells are never written, and room beyond what is written is never touched. Escapes past the
    // slack make the buffer grow as any string does.
    // Each column's ` NAME="`, followed by seven characters of padding so that it can be copied eight
    // characters at a time.
    std::vector<std::u16string> openings(static_cast<size_t>(columns));
    std::vector<qsizetype> openingLengths(static_cast<size_t>(columns));
    qsizetype nameRoom = 0;
    for (int c = 0; c < columns; ++c) {
        const QString& name = ws.FieldList()[c];
        std::u16string& opening = openings[static_cast<size_t>(c)];
        opening += u' ';
        opening.append(reinterpret_cast<const char16_t*>(name.utf16()), static_cast<size_t>(name.size()));
        opening += u"=\"";
        openingLengths[static_cast<size_t>(c)] = static_cast<qsizetype>(opening.size());
        nameRoom += static_cast<qsizetype>(opening.size()) + 1;
        opening.append(7, u'\0');
    }
    qsizetype size = 512;
    for (int r = 1; r < data.rowCount(); ++r) {
        const TGridRow& row = data.gridRow(r);
        size += 8 + row.chars().size() + row.content.size() + (row.size() > 0 ? nameRoom : 0);
    }
    std::vector<QStringView> cells(static_cast<size_t>(columns));
    // The text is written over the spare's characters when they have room: tens of megabytes of memory
    // already in use cost nothing, where fresh memory costs a page fault every 4 KB. Without the room the
    // spare goes first, so that the two never take memory together.
    const qsizetype room = size + size / 16;
    QString out = std::move(spare);
    if (out.isDetached() && out.capacity() >= room) {
        out.truncate(0);
    } else {
        out = QString();
        out.reserve(room);
    }

    out += QLatin1String("<?xml version=\"");
    out += ws.Ed_xmlVersion();
    if (!ws.xmlEncoding().isEmpty()) {
        out += QLatin1String("\" encoding=\"");
        out += ws.xmlEncoding();
    }
    out += QLatin1String("\" standalone=\"yes\"?>\r\n<DATAPACKET Version=\"");
    out += ws.Ed_PacketVersion();
    out += QLatin1String("\">\r\n<METADATA>\r\n<FIELDS>\r\n");

    for (int r = 1; r <= ws.FieldCount(); ++r) {
        out += QLatin1String("<FIELD attrname=\"");
        out += ws.FieldList()[r - 1];
        out += QLatin1String("\" fieldtype=\"");
        out += TypeCodeOf(ws, r);
        out += u'"';
        const QString& etc = ws.SG_Field().cell(FieldEtcColumn, r);
        if (!etc.isEmpty()) {
            out += u' ';
            out += etc;
        }
        const QString& width = ws.SG_Field().cell(FieldWidthColumn, r);
        if (!width.isEmpty()) {
            out += QLatin1String(" WIDTH=\"");
            out += width;
            out += u'"';
        }
        const QString& content = ws.SG_Field().rowContent(r);
        if (content.isEmpty()) {
            out += QLatin1String("/>\r\n");
        } else {
            out += u'>';
            out += content;
            out += QLatin1String("</FIELD>\r\n");
        }
    }

    out += QLatin1String("</FIELDS>\r\n");
    out += BuildParamsLine(ws);
    out += QLatin1String("\r\n</METADATA>\r\n<ROWDATA>\r\n");

    // The blank row that stands in for a packet read without records is no record.
    const bool noRecords =
        ws.standInRow() && data.rowCount() == 2 && ws.isBlankDataRow(1) && data.rowContent(1).isEmpty();
    {
        TRowBuilder rows(out);
        for (int r = noRecords ? 2 : 1; r < data.rowCount(); ++r) {
            const TGridRow& row = data.gridRow(r);
            row.views(cells.data(), columns);
            const QStringView rowChars = row.chars();
            const char16_t* rowEnd = rowChars.utf16() + rowChars.size();
            const char16_t* escapable = firstEscapable(rowChars.utf16(), rowEnd);
            // Room for the row at its longest (every character escaped), asked for once.
            rows.ensure(8 + nameRoom + LongestEscape * rowChars.size() + 8);
            rows.put("<ROW");
            bool anyValue = false;
            // An empty cell is no attribute, unless it holds an empty string: that is `NAME=""`, which the
            // dataset library reads as a string, where a missing attribute is null. Rows without one (nearly
            // all) take a loop that never asks: asking costs the loop over millions of cells its tightness.
            const auto putCells = [&](auto holdsEmptyString) {
                for (int c = 0; c < columns; ++c) {
                    const QStringView value = cells[static_cast<size_t>(c)];
                    if (value.isEmpty() && !(decltype(holdsEmptyString)::value && row.isEmptyString(c))) {
                        continue;
                    }
                    anyValue = true;
                    const std::u16string& opening = openings[static_cast<size_t>(c)];
                    rows.putChunked(opening.data(), openingLengths[static_cast<size_t>(c)],
                                    opening.data() + opening.size());
                    const char16_t* valueEnd = value.utf16() + value.size();
                    if (valueEnd <= escapable) {
                        rows.putChunked(value.utf16(), value.size(), rowEnd);
                    } else {
                        rows.putEscaped(value);
                        escapable = firstEscapable(std::max(escapable, valueEnd), rowEnd);
                    }
                    rows.put(u'"');
                }
            };
            if (row.holdsEmptyString()) {
                putCells(std::true_type());
            } else {
                putCells(std::false_type());
            }
            // The cells took all the room they asked for; the row's end needs its own.
            const QString& content = data.rowContent(r);
            if (content.isEmpty()) {
                rows.ensure(4);
                rows.put("/>\r\n");
                continue;
            }
            // A row without values keeps the space after its name, so that a reader that counts rows by "<ROW "
            // (with the space) counts it too.
            rows.ensure(2);
            if (!anyValue) {
                rows.put(u' ');
            }
            rows.put(u'>');
            rows.putRaw(content);
            rows.ensure(8);
            rows.put("</ROW>\r\n");
        }
    }

    out += QLatin1String("</ROWDATA>\r\n</DATAPACKET>");
    out += CrLf;
    return out;
}

std::optional<QString> writeWorkspaceAsText(TWorkspace& workspace, QString spare)
{
    if (!workspace.needsWrite()) {
        return std::nullopt;
    }
    QString text = writePacket(workspace, std::move(spare));
    // Only a written text is up to date: when the writer fails (out of memory), the work stays to write.
    workspace.rebuilt();
    return text;
}

} // namespace torvane
