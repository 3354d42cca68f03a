#include "TPacketReader.h"

#include "StrToInt.h"

#include <QHash>

#include <algorithm>
#include <array>
#include <limits>
#include <vector>

namespace torvane {

namespace {

constexpr qsizetype NotFound = -1;
// A row value this long or longer is shown as "<BLOB>" instead of its text.
constexpr qsizetype BlobLength = 16380;

// For every ASCII character, the UTF-16 units (surrogates aside) whose case folding equals its own, so that
// a search for a marker can jump from one possible first character to the next. Besides the two letter
// cases this holds the few others that fold to an ASCII letter, such as the Kelvin sign for "k".
const std::array<std::vector<char16_t>, 128>& asciiFoldPartners()
{
    static const std::array<std::vector<char16_t>, 128> partners = [] {
        std::array<std::vector<char16_t>, 128> table;
        for (char32_t u = 0; u <= 0xFFFF; ++u) {
            if (QChar::isSurrogate(u)) {
                continue;
            }
            const char32_t folded = QChar::toCaseFolded(u);
            if (folded < 128) {
                table[folded].push_back(static_cast<char16_t>(u));
            }
        }
        return table;
    }();
    return partners;
}

// Appends `text` case-folded code point by code point, the folding that case-insensitive comparison uses.
void appendFolded(QString& out, QStringView text)
{
    // Names are mostly ASCII, where only A to Z change; that case is written straight into the buffer.
    const bool ascii = std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() < 128; });
    if (ascii) {
        const qsizetype start = out.size();
        out.resize(start + text.size());
        char16_t* to = reinterpret_cast<char16_t*>(out.data()) + start;
        for (const QChar c : text) {
            const char16_t u = c.unicode();
            *to++ = u >= u'A' && u <= u'Z' ? static_cast<char16_t>(u + 32) : u;
        }
        return;
    }
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = text[i];
        if (c.isHighSurrogate() && i + 1 < n && text[i + 1].isLowSurrogate()) {
            const char32_t folded = QChar::toCaseFolded(QChar::surrogateToUcs4(c, text[i + 1]));
            out += QChar::fromUcs4(folded);
            ++i;
        } else {
            out += QChar(static_cast<char16_t>(QChar::toCaseFolded(static_cast<char32_t>(c.unicode()))));
        }
    }
}

// Position of the first `="` at or after `from` lying wholly inside `text`, or the text's length.
qsizetype findEqualsQuote(QStringView text, qsizetype from)
{
    const qsizetype last = text.size() - 1;
    for (qsizetype k = text.indexOf(u'=', from); k != NotFound && k < last; k = text.indexOf(u'=', k + 1)) {
        if (text[k + 1] == u'"') {
            return k;
        }
    }
    return text.size();
}

// Searches one marker through the text. A search that starts inside the stretch an earlier search of the
// same marker has already covered reuses that answer, so that the same stretch is never scanned twice
// (for example when many fields lack their own marker and each search would otherwise run to the end).
class TMarkerFinder {
public:
    TMarkerFinder(QStringView text, QStringView marker) : m_text(text), m_marker(marker) {}

    // First occurrence starting at or after `from` and lying wholly before `to`.
    qsizetype find(qsizetype from, qsizetype to = std::numeric_limits<qsizetype>::max())
    {
        const qsizetype n = m_marker.size();
        from = std::max<qsizetype>(from, 0);
        to = std::min(to, m_text.size());
        if (m_known && m_from <= from) {
            if (m_found >= from) {
                return m_found + n <= to ? m_found : NotFound;
            }
            if (m_found == NotFound) {
                if (to <= m_limit) {
                    return NotFound;
                }
                const qsizetype found = findIgnoringCase(m_text, m_marker, std::max(from, m_limit - n + 1), to);
                remember(from, found, to);
                return found;
            }
        }
        const qsizetype found = findIgnoringCase(m_text, m_marker, from, to);
        remember(from, found, to);
        return found;
    }

private:
    void remember(qsizetype from, qsizetype found, qsizetype to)
    {
        m_known = true;
        m_from = from;
        m_found = found;
        m_limit = to;
    }

    QStringView m_text;
    QStringView m_marker;
    bool m_known = false;
    // No occurrence starts in [m_from, m_found); when m_found is NotFound, none lies wholly in
    // [m_from, m_limit).
    qsizetype m_from = 0;
    qsizetype m_found = NotFound;
    qsizetype m_limit = 0;
};

struct TQuoted {
    QStringView value;
    qsizetype closing = NotFound;
};

// What the reader keeps while it runs over one text.
class TPacketScan {
public:
    TPacketScan(TWorkspace& workspace, const QString& text, TDialogs& dialogs)
        : m_ws(workspace), m_dialogs(dialogs), m_text(text), m_length(text.size()),
          m_quote(m_text, u"\""), m_xml(m_text, u"<?xml version=\""), m_packet(m_text, u"<DATAPACKET Version=\""),
          m_fields(m_text, u"<FIELDS"), m_field(m_text, u"<FIELD attrname=\""), m_fieldType(m_text, u"fieldtype=\""),
          m_end(m_text, u"/>"), m_width(m_text, u"WIDTH=\""), m_params(m_text, u"<PARAMS"),
          m_defaultOrder(m_text, u"DEFAULT_ORDER=\""), m_primaryKey(m_text, u"PRIMARY_KEY=\""),
          m_rowData(m_text, u"<ROWDATA"), m_row(m_text, u"<ROW ")
    {
    }

    void run();

private:
    // The characters from v up to the next double quote. A double quote that is the text's last character
    // does not count, so the search ends before position L - 1.
    TQuoted quoted(qsizetype v)
    {
        const qsizetype closing = m_quote.find(v, m_length - 1);
        if (closing == NotFound) {
            return {};
        }
        return {m_text.mid(v, closing - v), closing};
    }

    void reset();
    // Returns the field cursor where the key search begins.
    qsizetype readFields(qsizetype p);
    // Returns the position of the character that ended the scan, or L when the text ended first.
    qsizetype scanNumbers(qsizetype v, TKeyList& list);
    void readRows(qsizetype rowData);
    void prepareRowKeys();
    void readRowValues(qsizetype begin, qsizetype end, int row);

    TWorkspace& m_ws;
    TDialogs& m_dialogs;
    QStringView m_text;
    qsizetype m_length;

    TMarkerFinder m_quote;
    TMarkerFinder m_xml;
    TMarkerFinder m_packet;
    TMarkerFinder m_fields;
    TMarkerFinder m_field;
    TMarkerFinder m_fieldType;
    TMarkerFinder m_end;
    TMarkerFinder m_width;
    TMarkerFinder m_params;
    TMarkerFinder m_defaultOrder;
    TMarkerFinder m_primaryKey;
    TMarkerFinder m_rowData;
    TMarkerFinder m_row;

    // Row keys. The names were cut out of the text up to a double quote, so none holds one; a key can then
    // match at a position only if the first `="` from there ends it, and the text before that `="` is
    // looked up by its case folding instead of trying every name at every position.
    QHash<QString, int> m_keyByFoldedName;
    std::vector<bool> m_keyLengths;
    std::vector<int> m_foundInRow;
    QString m_foldBuffer;
};

void TPacketScan::run()
{
    TStringGrid& fieldTable = m_ws.SG_Field;
    fieldTable.setCell(0, 0, QStringLiteral("フィールド名"));
    fieldTable.setCell(1, 0, QStringLiteral("データ形式"));
    fieldTable.setCell(2, 0, QStringLiteral("その他設定文"));
    fieldTable.setCell(3, 0, QStringLiteral("幅"));

    const qsizetype x = m_xml.find(0);
    if (x == NotFound) {
        return;
    }
    const TQuoted xmlVersion = quoted(x + 15);
    m_ws.Ed_xmlVersion = xmlVersion.value.toString();

    const qsizetype y = m_packet.find(xmlVersion.closing + 2);
    if (y == NotFound) {
        return;
    }
    const TQuoted packetVersion = quoted(y + 21);
    m_ws.Ed_PacketVersion = packetVersion.value.toString();

    reset();

    const qsizetype r = m_fields.find(packetVersion.closing + 2);
    if (r == NotFound) {
        return;
    }
    const qsizetype p = readFields(r + 8);

    const qsizetype params = m_params.find(p);
    const qsizetype s0 = params == NotFound ? 7 : params + 8;
    bool scanned = false;
    qsizetype stop = 0;
    const qsizetype defaultOrder = m_defaultOrder.find(s0);
    if (defaultOrder != NotFound) {
        stop = scanNumbers(defaultOrder + 15, m_ws.LB_DefOrder);
        scanned = true;
    }
    const qsizetype primaryKey = m_primaryKey.find(s0);
    if (primaryKey != NotFound) {
        stop = scanNumbers(primaryKey + 13, m_ws.LB_PriKey);
        scanned = true;
    }

    const qsizetype rowData = m_rowData.find(scanned ? stop + 2 : 1);
    if (rowData == NotFound) {
        return;
    }
    readRows(rowData);
}

void TPacketScan::reset()
{
    m_ws.FieldCount = 0;
    m_ws.FieldList.clear();
    m_ws.SG_Field.clearRows(1);
    m_ws.SG_Field.setRowCount(2);
    m_ws.SG_Data.clearRows(0);
    m_ws.SG_Data.setRowCount(2);
    m_ws.SG_Data.setColCount(1);
}

qsizetype TPacketScan::readFields(qsizetype p)
{
    for (;;) {
        QString name;
        QString type;
        QString etc;
        QString width;

        const qsizetype f = m_field.find(p);
        qsizetype nameClosing = NotFound;
        if (f != NotFound) {
            const TQuoted quotedName = quoted(f + 17);
            name = quotedName.value.toString();
            nameClosing = quotedName.closing;
            p = nameClosing + 1;
        }
        if (name.isEmpty()) {
            return p;
        }

        const qsizetype g = m_fieldType.find(p + 1);
        if (g == NotFound) {
            m_ws.AddFieldRow(name, type, etc, width, m_dialogs);
            continue;
        }
        const TQuoted quotedType = quoted(g + 11);
        const qsizetype h = quotedType.closing;
        if (h == NotFound) {
            // The cursor would fall back to the start of the text and read the same fields again; the field
            // is kept without its settings and the key search goes on from just after its name.
            m_ws.AddFieldRow(name, type, etc, width, m_dialogs);
            return nameClosing + 1;
        }
        type = quotedType.value.toString();
        p = h + 1;

        const qsizetype e = m_end.find(h + 1);
        if (e != NotFound) {
            const qsizetype m = m_width.find(h + 2, e);
            const bool widthTaken = m != NotFound && m + 7 < e;
            if (widthTaken) {
                width = quoted(m + 7).value.toString();
            }
            const qsizetype etcEnd = widthTaken ? m - 1 : e;
            if (etcEnd > h + 2) {
                etc = m_text.mid(h + 2, etcEnd - (h + 2)).toString();
            }
        }
        m_ws.AddFieldRow(name, type, etc, width, m_dialogs);
    }
}

qsizetype TPacketScan::scanNumbers(qsizetype v, TKeyList& list)
{
    const qsizetype names = m_ws.FieldList.size();
    QString pending;
    // Emptied after every conversion: a number that selects nothing must not run into the next one.
    const auto apply = [&] {
        if (pending.isEmpty()) {
            return;
        }
        const qsizetype n = StrToInt(pending);
        if (n >= 1 && n <= names) {
            list.setSelected(static_cast<int>(n - 1), true);
        }
        pending.clear();
    };
    for (qsizetype k = std::max<qsizetype>(v, 0); k < m_length; ++k) {
        const QChar c = m_text[k];
        if (c == u'"' || c == u'<' || c == u'>') {
            apply();
            return k;
        }
        if (c == u' ') {
            apply();
        } else {
            pending += c;
        }
    }
    apply();
    return m_length;
}

void TPacketScan::prepareRowKeys()
{
    const QStringList& names = m_ws.FieldList;
    const int count = std::min(m_ws.FieldCount, static_cast<int>(names.size()));
    m_keyByFoldedName.clear();
    m_keyByFoldedName.reserve(count);
    m_keyLengths.assign(1, false);
    for (int j = 0; j < count; ++j) {
        const QString& name = names[j];
        QString folded;
        appendFolded(folded, name);
        m_keyByFoldedName.insert(folded, j);
        const auto length = static_cast<size_t>(name.size());
        if (m_keyLengths.size() <= length) {
            m_keyLengths.resize(length + 1, false);
        }
        m_keyLengths[length] = true;
    }
    m_foundInRow.assign(static_cast<size_t>(count), 0);
}

void TPacketScan::readRows(qsizetype rowData)
{
    prepareRowKeys();
    TStringGrid& data = m_ws.SG_Data;
    qsizetype q = rowData + 9;
    int i = 1;
    for (;;) {
        const qsizetype g = m_row.find(q);
        if (g == NotFound) {
            return;
        }
        data.setRowCount(i + 1);
        const qsizetype e = m_end.find(g + 5);
        // Without an end the cursor would go back to the start of the text; this last row takes its values
        // from the rest of the text instead.
        readRowValues(g + 5, e == NotFound ? m_length : e, i);
        if (e == NotFound) {
            return;
        }
        q = e + 1;
        ++i;
    }
}

void TPacketScan::readRowValues(qsizetype begin, qsizetype end, int row)
{
    const int keys = static_cast<int>(m_foundInRow.size());
    if (keys == 0) {
        return;
    }
    TStringGrid& data = m_ws.SG_Data;
    // A closing quote that is the text's last character does not count.
    const qsizetype valueLimit = std::min(end, m_length - 1);
    const QStringView element = m_text.first(end);
    int found = 0;
    qsizetype nextEquals = NotFound - 1;

    const auto take = [&](int j, qsizetype v) {
        m_foundInRow[static_cast<size_t>(j)] = row;
        ++found;
        if (v >= valueLimit) {
            return;
        }
        const qsizetype closing = m_text.first(valueLimit).indexOf(u'"', v);
        if (closing == NotFound) {
            return;
        }
        const QStringView value = m_text.mid(v, closing - v);
        if (value.size() >= BlobLength) {
            data.setCell(j, row, QStringLiteral("<BLOB>"));
        } else if (!value.isEmpty()) {
            data.setCell(j, row, decodeRowValue(value));
        }
    };

    // A key counts only where an attribute can start: right after a space, tab, CR or LF.
    for (qsizetype k = begin; k < end && found < keys; ++k) {
        const char16_t before = m_text[k - 1].unicode();
        if (before != u' ' && before != u'\t' && before != u'\r' && before != u'\n') {
            continue;
        }
        if (nextEquals < k) {
            nextEquals = findEqualsQuote(element, k);
        }
        if (nextEquals + 2 > end) {
            // No further `="` in this element, so no key can follow.
            return;
        }
        const qsizetype length = nextEquals - k;
        if (length > 0 && static_cast<size_t>(length) < m_keyLengths.size() &&
            m_keyLengths[static_cast<size_t>(length)]) {
            m_foldBuffer.resize(0);
            appendFolded(m_foldBuffer, m_text.mid(k, length));
            const auto it = m_keyByFoldedName.constFind(m_foldBuffer);
            if (it != m_keyByFoldedName.constEnd() && m_foundInRow[static_cast<size_t>(*it)] != row) {
                take(*it, nextEquals + 2);
            }
        }
    }
}

// Decodes the reference starting at `amp` (an "&"). On success returns its code point and sets `next` to the
// position after its ";"; returns 0 when the text there is no reference this reader knows.
char32_t decodeReference(QStringView value, qsizetype amp, qsizetype& next)
{
    const QStringView rest = value.mid(amp + 1);
    static const struct {
        QLatin1String name;
        char16_t character;
    } entities[] = {{QLatin1String("amp;"), u'&'},
                    {QLatin1String("lt;"), u'<'},
                    {QLatin1String("gt;"), u'>'},
                    {QLatin1String("quot;"), u'"'},
                    {QLatin1String("apos;"), u'\''}};
    for (const auto& entity : entities) {
        if (rest.startsWith(entity.name)) {
            next = amp + 1 + entity.name.size();
            return entity.character;
        }
    }
    if (!rest.startsWith(u'#')) {
        return 0;
    }
    qsizetype k = 1;
    int base = 10;
    if (k < rest.size() && rest[k] == u'x') {
        base = 16;
        ++k;
    }
    const qsizetype digitsStart = k;
    char32_t code = 0;
    bool tooLarge = false;
    for (; k < rest.size(); ++k) {
        const char16_t c = rest[k].unicode();
        int digit = -1;
        if (c >= u'0' && c <= u'9') {
            digit = c - u'0';
        } else if (base == 16 && c >= u'a' && c <= u'f') {
            digit = c - u'a' + 10;
        } else if (base == 16 && c >= u'A' && c <= u'F') {
            digit = c - u'A' + 10;
        } else {
            break;
        }
        if (!tooLarge) {
            code = code * static_cast<char32_t>(base) + static_cast<char32_t>(digit);
            tooLarge = code > 0x10FFFF;
        }
    }
    if (k == digitsStart || k >= rest.size() || rest[k] != u';' || tooLarge || code == 0 ||
        (code >= 0xD800 && code <= 0xDFFF)) {
        return 0;
    }
    next = amp + 1 + k + 1;
    return code;
}

} // namespace

qsizetype findIgnoringCase(QStringView text, QStringView marker, qsizetype from, qsizetype to)
{
    const qsizetype n = marker.size();
    from = std::max<qsizetype>(from, 0);
    to = std::min(to, text.size());
    const qsizetype lastStart = to - n;
    if (n == 0) {
        return from <= to ? from : NotFound;
    }
    if (lastStart < from) {
        return NotFound;
    }
    const QChar first = marker.front();
    if (first.unicode() >= 128) {
        const qsizetype found = text.mid(from, to - from).indexOf(marker, 0, Qt::CaseInsensitive);
        return found == NotFound ? NotFound : from + found;
    }

    const std::vector<char16_t>& units = asciiFoldPartners()[QChar::toCaseFolded(first.unicode())];
    const QStringView starts = text.first(lastStart + 1);
    const QStringView rest = marker.mid(1);
    // The next position of each possible first character; each is searched again only once passed.
    std::array<qsizetype, 4> next{};
    const size_t count = std::min(units.size(), next.size());
    if (count < units.size()) {
        const qsizetype found = text.mid(from, to - from).indexOf(marker, 0, Qt::CaseInsensitive);
        return found == NotFound ? NotFound : from + found;
    }
    for (size_t u = 0; u < count; ++u) {
        next[u] = starts.indexOf(QChar(units[u]), from);
    }
    for (;;) {
        qsizetype k = NotFound;
        for (size_t u = 0; u < count; ++u) {
            if (next[u] != NotFound && (k == NotFound || next[u] < k)) {
                k = next[u];
            }
        }
        if (k == NotFound) {
            return NotFound;
        }
        if (text.mid(k + 1, n - 1).compare(rest, Qt::CaseInsensitive) == 0) {
            return k;
        }
        for (size_t u = 0; u < count; ++u) {
            if (next[u] == k) {
                next[u] = starts.indexOf(QChar(units[u]), k + 1);
            }
        }
    }
}

void readPacket(TWorkspace& workspace, const QString& text, TDialogs& dialogs)
{
    TPacketScan(workspace, text, dialogs).run();
}

bool TabSheet1Show(TWorkspace& workspace, const std::function<QString()>& crlfText, TDialogs& dialogs)
{
    if (!workspace.needsRead()) {
        return false;
    }
    workspace.rebuilt();
    readPacket(workspace, crlfText(), dialogs);
    return true;
}

QString decodeRowValue(QStringView value)
{
    qsizetype amp = value.indexOf(u'&');
    if (amp == NotFound) {
        return value.toString();
    }
    QString out;
    out.reserve(value.size());
    qsizetype done = 0;
    while (amp != NotFound) {
        out += value.mid(done, amp - done);
        qsizetype next = amp + 1;
        const char32_t code = decodeReference(value, amp, next);
        if (code != 0) {
            out += QChar::fromUcs4(code);
        } else {
            out += u'&';
        }
        done = next;
        amp = value.indexOf(u'&', done);
    }
    out += value.mid(done);
    return out;
}

} // namespace torvane
