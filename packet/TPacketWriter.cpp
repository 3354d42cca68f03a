#include "TPacketWriter.h"

#include <algorithm>
#include <cstring>

namespace torvane {

namespace {

const QLatin1String CrLf("\r\n");

// What a character of a row value is written as when it cannot stand as it is, else nullptr. Every such
// character sorts at or below ">".
const char* escapeOf(char16_t c, bool last)
{
    switch (c) {
    case u'&': return "&amp;";
    case u'<': return "&lt;";
    case u'>': return "&gt;";
    case u'"': return "&quot;";
    case u'\r': return "&#13;";
    case u'\n': return "&#10;";
    case u'\t': return "&#9;";
    // A value ending in "=" would end in `="` once written, which reads as the start of an attribute.
    case u'=': return last ? "&#61;" : nullptr;
    default: return nullptr;
    }
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
    template <size_t N>
    void put(const char (&latin1)[N])
    {
        for (size_t i = 0; i + 1 < N; ++i) {
            *m_p++ = static_cast<char16_t>(latin1[i]);
        }
    }
    // A row value as it stands between the quotes of its attribute; needs room for 6 characters per
    // character.
    void putEscaped(QStringView value)
    {
        const char16_t* s = value.utf16();
        const qsizetype last = value.size() - 1;
        for (qsizetype i = 0; i <= last; ++i) {
            const char16_t c = s[i];
            const char* escaped = c > u'>' ? nullptr : escapeOf(c, i == last);
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

QString typeCodeOfText(const QString& typeText)
{
    const qsizetype a = typeText.indexOf(u'（');
    const qsizetype b = typeText.indexOf(u'(');
    qsizetype p = -1;
    if (a >= 0 && b >= 0) {
        p = std::min(a, b);
    } else {
        p = a >= 0 ? a : b;
    }
    if (p >= 1) {
        return typeText.left(p);
    }
    return typeText;
}

QString TypeCodeOf(const TWorkspace& workspace, int r)
{
    return typeCodeOfText(workspace.SG_Field.cell(1, r));
}

QString BuildParamsLine(const TWorkspace& workspace)
{
    const int n = static_cast<int>(workspace.FieldList.size());
    QString line = QStringLiteral("<PARAMS DEFAULT_ORDER=\"");
    appendPositions(line, workspace.LB_DefOrder.selectedPositions(n));
    line += QLatin1String("\" PRIMARY_KEY=\"");
    appendPositions(line, workspace.LB_PriKey.selectedPositions(n));
    line += QLatin1String("\" LCID=\"");
    line += workspace.Ed_LCID;
    line += QLatin1String("\"/>");
    return line;
}

bool isBlobValue(QStringView value)
{
    const qsizetype n = value.size();
    if (n >= BlobLength) {
        return true;
    }
    // No character is written as more than six.
    if (n * 6 < BlobLength) {
        return false;
    }
    const char16_t* s = value.utf16();
    qsizetype written = 0;
    for (qsizetype i = 0; i < n; ++i) {
        const char* escaped = s[i] > u'>' ? nullptr : escapeOf(s[i], i == n - 1);
        written += escaped ? static_cast<qsizetype>(std::strlen(escaped)) : 1;
    }
    return written >= BlobLength;
}

QString escapeRowValue(const QString& value)
{
    QString out;
    {
        TRowBuilder builder(out);
        builder.ensure(6 * value.size());
        builder.putEscaped(value);
    }
    return out;
}

QString writePacket(const TWorkspace& ws)
{
    const TStringGrid& data = ws.SG_Data;
    const int fieldCount = std::max(ws.FieldCount, 0);
    const int columns = std::min({fieldCount, data.colCount(), static_cast<int>(ws.FieldList.size())});

    // One pass to size the text, so that a packet of millions of cells is built without reallocating.
    // A row's cells are taken as views first: the text written is never where they come from.
    std::vector<QStringView> cells(static_cast<size_t>(columns));
    qsizetype size = 512;
    for (int r = 1; r < data.rowCount(); ++r) {
        data.gridRow(r).views(cells.data(), columns);
        size += 8 + data.rowContent(r).size();
        for (int c = 0; c < columns; ++c) {
            const qsizetype length = cells[static_cast<size_t>(c)].size();
            if (length > 0) {
                size += ws.FieldList[c].size() + length + 4;
            }
        }
    }
    QString out;
    out.reserve(size + size / 16);

    out += QLatin1String("<?xml version=\"");
    out += ws.Ed_xmlVersion;
    out += QLatin1String("\" standalone=\"yes\"?>\r\n<DATAPACKET Version=\"");
    out += ws.Ed_PacketVersion;
    out += QLatin1String("\">\r\n<METADATA>\r\n<FIELDS>\r\n");

    for (int r = 1; r <= fieldCount && r <= ws.FieldList.size() && r < ws.SG_Field.rowCount(); ++r) {
        out += QLatin1String("<FIELD attrname=\"");
        out += ws.FieldList[r - 1];
        out += QLatin1String("\" fieldtype=\"");
        out += TypeCodeOf(ws, r);
        out += u'"';
        const QString& etc = ws.SG_Field.cell(2, r);
        if (!etc.isEmpty()) {
            out += u' ';
            out += etc;
        }
        const QString& width = ws.SG_Field.cell(3, r);
        if (!width.isEmpty()) {
            out += QLatin1String(" WIDTH=\"");
            out += width;
            out += u'"';
        }
        const QString& content = ws.SG_Field.rowContent(r);
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

    {
        TRowBuilder rows(out);
        const QString* names = ws.FieldList.constData();
        for (int r = 1; r < data.rowCount(); ++r) {
            data.gridRow(r).views(cells.data(), columns);
            rows.ensure(8);
            rows.put("<ROW");
            bool anyValue = false;
            for (int c = 0; c < columns; ++c) {
                const QStringView value = cells[static_cast<size_t>(c)];
                if (value.isEmpty()) {
                    continue;
                }
                anyValue = true;
                rows.ensure(names[c].size() + 6 * value.size() + 4);
                rows.put(u' ');
                rows.put(names[c]);
                rows.put("=\"");
                rows.putEscaped(value);
                rows.put(u'"');
            }
            // The cells took all the room they asked for; the row's end needs its own.
            const QString& content = data.rowContent(r);
            if (content.isEmpty()) {
                rows.ensure(4);
                rows.put("/>\r\n");
                continue;
            }
            // A row is counted by its "<ROW " with the space, so one without values keeps the space.
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

std::optional<QString> TabSheet2Show(TWorkspace& workspace)
{
    if (!workspace.needsWrite()) {
        return std::nullopt;
    }
    workspace.rebuilt();
    return writePacket(workspace);
}

} // namespace torvane
