#include "TPacketReader.h"

#include "StrToInt.h"
#include "TCharacterReferences.h"
#include "TElementScan.h"
#include "TFailure.h"
#include "TMarkerSearch.h"
#include "TMemoryProbe.h"
#include "TNameIndex.h"

#include <QScopeGuard>

#include <algorithm>
#include <array>
#include <vector>

namespace torvane {

namespace {

constexpr qsizetype NotFound = -1;

// What the memory guard counts for the data table: a QString's size a cell, and a vector, a heap block's
// overhead and the kept content a row. Rows keep their cells in one buffer and take less than this (a
// few bytes a cell beyond the characters), so the guard errs on the safe side; it keeps these figures so
// that it refuses the packets it has always refused.
constexpr qint64 CellBytes = sizeof(QString);
constexpr qint64 RowBytes = sizeof(std::vector<QString>) + 16 + sizeof(QString);

// A data table this small is never refused, whatever memory is left.
constexpr qint64 SmallGridBytes = 64 * 1024 * 1024;

const QString RowStateName = QStringLiteral("RowState");

// The markers the scan looks for. Where it goes on after one, or goes back from an attribute's value to
// where its name began, it moves by the marker's own length.
constexpr QStringView XmlMarker = u"<?xml version=\"";
constexpr QStringView PacketMarker = u"<DATAPACKET Version=\"";
constexpr QStringView FieldsMarker = u"<FIELDS";
constexpr QStringView FieldMarker = u"<FIELD";
constexpr QStringView ParamsMarker = u"<PARAMS";
constexpr QStringView DefaultOrderMarker = u"DEFAULT_ORDER=\"";
constexpr QStringView PrimaryKeyMarker = u"PRIMARY_KEY=\"";
constexpr QStringView RowDataMarker = u"<ROWDATA";
constexpr QStringView RowMarker = u"<ROW ";
constexpr QStringView NameAttribute = u"attrname=\"";
constexpr QStringView TypeAttribute = u"fieldtype=\"";
constexpr QStringView WidthAttribute = u"WIDTH=\"";
constexpr QStringView LcidAttribute = u"LCID=\"";

// Position of the first `="` at or after `from` lying wholly inside `text`, or the text's length.
qsizetype findEqualsQuote(QStringView text, qsizetype from)
{
    const qsizetype last = text.size() - 1;
    // Attribute names are short: their first characters are looked at here, where a call into the library's
    // search would cost more than the scan.
    const char16_t* chars = text.utf16();
    const qsizetype shortEnd = std::min(last, from + 32);
    qsizetype k = from;
    for (; k < shortEnd; ++k) {
        if (chars[k] == u'=' && chars[k + 1] == u'"') {
            return k;
        }
    }
    for (k = text.indexOf(u'=', k); k != NotFound && k < last; k = text.indexOf(u'=', k + 1)) {
        if (text[k + 1] == u'"') {
            return k;
        }
    }
    return text.size();
}

struct TQuoted {
    QStringView value;
    qsizetype closing = NotFound;
};

// What the reader keeps while it runs over one text.
class TPacketScan {
public:
    TPacketScan(TWorkspace& workspace, const QString& text, TDialogs& dialogs, std::optional<qint64> gridLimit)
        : m_ws(workspace), m_dialogs(dialogs), m_text(text), m_length(text.size()), m_quote(m_text, u"\""),
          m_xml(m_text, XmlMarker), m_packet(m_text, PacketMarker), m_fields(m_text, FieldsMarker),
          m_field(m_text, FieldMarker), m_end(m_text, u"/>"), m_params(m_text, ParamsMarker),
          m_defaultOrder(m_text, DefaultOrderMarker), m_primaryKey(m_text, PrimaryKeyMarker),
          m_rowData(m_text, RowDataMarker), m_row(m_text, RowMarker), m_fieldNesting(m_text, QStringLiteral("FIELD")),
          m_rowNesting(m_text, QStringLiteral("ROW")), m_gridLimit(gridLimit)
    {
    }

    void run();

private:
    // The characters from v up to the next double quote. A double quote that is the text's last character
    // does not count, so the search ends before position L - 1.
    TQuoted quoted(qsizetype v)
    {
        // Most values are short: their first characters are looked at here before the finder is asked.
        const char16_t* chars = m_text.utf16();
        const qsizetype shortEnd = std::min(m_length - 1, v + 32);
        for (qsizetype k = std::max<qsizetype>(v, 0); k < shortEnd; ++k) {
            if (chars[k] == u'"') {
                return {m_text.mid(v, k - v), k};
            }
        }
        const qsizetype closing = m_quote.find(v, m_length - 1);
        if (closing == NotFound) {
            return {};
        }
        return {m_text.mid(v, closing - v), closing};
    }

    // Among the attributes the last scanStartTag listed that start before `end`: the position right after
    // `marker` (an attribute name with its `="`), preferring one written in the marker's own letter case, as
    // the writer writes it, to one in another case; NotFound when there is none.
    qsizetype attributeValue(QStringView marker, qsizetype end) const;

    // Returns the field cursor where the key search begins.
    qsizetype readFields(qsizetype p);
    // The next FIELD start tag at or after p.
    qsizetype findFieldTag(qsizetype p);
    void addField(const QString& name, const QString& type, const QString& etc, const QString& width,
                  const QString& content);
    // The LCID, and the other attributes the packet's settings keep (the keys are read on their own, and the
    // change log goes with the change-log rows it describes).
    void readParams(qsizetype params);
    // Returns the position of the character that ended the scan, or L when the text ended first.
    qsizetype scanNumbers(qsizetype v, TKeyKind list);
    // Where a row element's attributes end, where the row scan goes on (NotFound after a last row without
    // end), and the content of a row element that has one.
    struct TRowElement {
        qsizetype valuesEnd;
        qsizetype next;
        QStringView content;
    };
    TRowElement rowElement(qsizetype g);
    // Refuses, before the data table grows, a packet whose rows could not all be held in memory.
    void checkGridFits(qsizetype q);
    void readRows(qsizetype rowData);
    void prepareRowKeys();
    const TNameIndex& keyIndex();
    // Gathers the row's values (m_rowValues, by column) from the attributes in [begin, end); a value's
    // closing quote must lie before `end`. False when the row's state marks it as an earlier version or as deleted.
    bool readRowValues(qsizetype begin, qsizetype end);

    TWorkspace& m_ws;
    TDialogs& m_dialogs;
    QStringView m_text;
    qsizetype m_length;

    TMarkerFinder m_quote;
    TMarkerFinder m_xml;
    TMarkerFinder m_packet;
    TMarkerFinder m_fields;
    TMarkerFinder m_field;
    TMarkerFinder m_end;
    TMarkerFinder m_params;
    TMarkerFinder m_defaultOrder;
    TMarkerFinder m_primaryKey;
    TMarkerFinder m_rowData;
    TMarkerFinder m_row;
    TElementNesting m_fieldNesting;
    TElementNesting m_rowNesting;
    std::vector<qsizetype> m_attributes;

    // Row keys. The names were cut out of the text up to a double quote, so none holds one; a key can then
    // match at a position only if the first `="` from there ends it, and the text before that `="` is
    // looked up with letter case ignored instead of trying every name at every position.
    // Rows that give their values in field order, as written ones do, never need the index: it is built for
    // the first name they do not give in that order.
    TNameIndex m_keys;
    bool m_keysIndexed = false;
    int m_keyCount = 0;
    std::vector<bool> m_keyLengths;
    std::vector<int> m_foundInRow;
    qsizetype m_rowStateKey = NotFound;
    int m_rowSerial = 0;
    std::vector<QStringView> m_rowValues;
    // The row's values read as empty strings (`NAME=""`), which the grid keeps apart from no value.
    std::vector<bool> m_emptyValues;
    bool m_anyEmptyValue = false;
    QString m_decoded;
    std::vector<std::pair<int, qsizetype>> m_decodedCells;
    std::optional<qint64> m_gridLimit;
};

void TPacketScan::run()
{
    // A packet without XML declaration is read as if it began with <?xml version="1.0"?>.
    const qsizetype x = m_xml.find(0);
    qsizetype y = NotFound;
    std::optional<QString> xmlVersion;
    if (x == NotFound) {
        y = m_packet.find(0);
        if (y != NotFound) {
            xmlVersion = QStringLiteral("1.0");
        }
    } else {
        const TQuoted xmlQuoted = quoted(x + XmlMarker.size());
        xmlVersion = xmlQuoted.value.toString();
        y = m_packet.find(xmlQuoted.closing + 2);
    }
    if (y == NotFound) {
        m_ws.startRead(xmlVersion, std::nullopt);
        return;
    }
    const TQuoted packetVersion = quoted(y + PacketMarker.size());
    m_ws.startRead(xmlVersion, packetVersion.value.toString());

    const qsizetype r = m_fields.find(packetVersion.closing + 2);
    if (r == NotFound) {
        return;
    }
    qsizetype p = 0;
    {
        // The key lists are refilled when the batch closes, also when a width that is not an integer
        // ends the reader among the fields.
        const TWorkspace::TFieldBatch batch(m_ws);
        // The character right after the marker is passed over with it.
        p = readFields(r + FieldsMarker.size() + 1);
    }

    const qsizetype params = m_params.find(p);
    // The keys are searched from past the marker and the character after it; without PARAMS the same sum,
    // from NotFound, starts them at position 7, as the reader always has.
    const qsizetype s0 = params + ParamsMarker.size() + 1;
    bool scanned = false;
    qsizetype stop = 0;
    const qsizetype defaultOrder = m_defaultOrder.find(s0);
    if (defaultOrder != NotFound) {
        stop = scanNumbers(defaultOrder + DefaultOrderMarker.size(), TKeyKind::DefaultOrder);
        scanned = true;
    }
    const qsizetype primaryKey = m_primaryKey.find(s0);
    if (primaryKey != NotFound) {
        stop = scanNumbers(primaryKey + PrimaryKeyMarker.size(), TKeyKind::PrimaryKey);
        scanned = true;
    }
    if (params != NotFound) {
        readParams(params);
    }

    const qsizetype rowData = m_rowData.find(scanned ? stop + 2 : 1);
    if (rowData == NotFound) {
        return;
    }
    readRows(rowData);
}

qsizetype TPacketScan::attributeValue(QStringView marker, qsizetype end) const
{
    qsizetype found = NotFound;
    // An attribute whose first character is ASCII and another letter than the marker's, or another
    // character, matches in no letter case: it is passed over without comparing the rest.
    const char16_t first = marker.front().unicode();
    const auto lower = [](char16_t c) { return c >= u'A' && c <= u'Z' ? char16_t(c + 32) : c; };
    for (const qsizetype a : m_attributes) {
        if (a >= end) {
            break;
        }
        const char16_t c = m_text[a].unicode();
        if (c < 128 && first < 128 && lower(c) != lower(first)) {
            continue;
        }
        const QStringView here = m_text.mid(a, marker.size());
        if (here == marker) {
            return a + marker.size();
        }
        if (found == NotFound && here.compare(marker, Qt::CaseInsensitive) == 0) {
            found = a + marker.size();
        }
    }
    return found;
}

qsizetype TPacketScan::findFieldTag(qsizetype p)
{
    // Fields follow one another with a line break between: a marker can only start at a "<", and when the
    // first "<" among the next few characters starts one, it is the first marker from p on.
    const char16_t* chars = m_text.utf16();
    const qsizetype shortEnd = std::min(m_length - FieldMarker.size() + 1, p + 32);
    for (qsizetype k = std::max<qsizetype>(p, 0); k < shortEnd; ++k) {
        if (chars[k] == u'<') {
            if (m_text.mid(k, FieldMarker.size()).compare(FieldMarker, Qt::CaseInsensitive) == 0 &&
                isStartTagAt(m_text, k, u"FIELD")) {
                return k;
            }
            break;
        }
    }
    for (qsizetype f = m_field.find(p); f != NotFound; f = m_field.find(f + 1)) {
        // "<FIELDS" is no field.
        if (isStartTagAt(m_text, f, u"FIELD")) {
            return f;
        }
    }
    return NotFound;
}

void TPacketScan::addField(const QString& name, const QString& type, const QString& etc, const QString& width,
                           const QString& content)
{
    const int before = m_ws.FieldCount();
    // A width that is not an integer throws once the field is added; the field keeps its content all the same.
    const auto keepContent = qScopeGuard([&] {
        if (m_ws.FieldCount() > before) {
            m_ws.setFieldRowContent(m_ws.FieldCount(), content);
        }
    });
    m_ws.AddFieldRow(name, type, etc, width, m_dialogs);
}

qsizetype TPacketScan::readFields(qsizetype p)
{
    struct TSpan {
        qsizetype begin;
        qsizetype end;
    };
    // Fields mostly share their type and width texts: one equal to the previous field's is shared with it
    // rather than copied again.
    QString lastType;
    QString lastWidth;
    const auto sharedText = [](QString& last, QStringView value) {
        if (value.isEmpty()) {
            return value.toString();
        }
        if (value != last) {
            last = value.toString();
        }
        return last;
    };
    for (;;) {
        const qsizetype f = findFieldTag(p);
        if (f == NotFound) {
            return p;
        }
        const qsizetype from = f + FieldMarker.size();
        m_attributes.clear();
        const TTagEnd tag = scanStartTag(m_text, from, m_length, &m_attributes);
        // The attributes end before the "/" of "/>", before the ">" of a start tag with content, or where a tag
        // without end is cut short; the next field is looked for after the element.
        const qsizetype end = tag.empty ? tag.at - 1 : tag.at;
        QString content;
        p = tag.closed ? tag.at + 1 : tag.at;
        if (tag.closed && !tag.empty) {
            if (const auto endTag = m_fieldNesting.endTagOf(f, tag.at)) {
                content = m_text.mid(tag.at + 1, endTag->start - tag.at - 1).toString();
                p = endTag->next;
            }
        }

        const qsizetype nameAt = attributeValue(NameAttribute, end);
        if (nameAt == NotFound) {
            // A field without a name cannot be added; the scan goes on after it.
            continue;
        }
        const TQuoted name = quoted(nameAt);
        if (name.value.isEmpty()) {
            return name.closing + 1;
        }
        // Each attribute the field's own settings come from is cut out of the other-settings text with the
        // separator before it: one character, or a line break.
        const auto separated = [this](qsizetype a) {
            return a >= 2 && m_text.mid(a - 2, 2) == u"\r\n" ? a - 2 : a - 1;
        };
        // Name, type and width: at most three, kept here rather than allocated for every field.
        std::array<TSpan, 3> taken{};
        size_t takenCount = 0;
        taken[takenCount++] = {separated(nameAt - NameAttribute.size()), name.closing + 1};

        QString type;
        const qsizetype typeAt = attributeValue(TypeAttribute, end);
        if (typeAt != NotFound) {
            const TQuoted quotedType = quoted(typeAt);
            if (quotedType.closing == NotFound) {
                // Without its closing quote the type would run to the end of the text; the field is kept
                // without its settings and the key search goes on from just after its name.
                addField(name.value.toString(), {}, {}, {}, {});
                return name.closing + 1;
            }
            type = sharedText(lastType, quotedType.value);
            taken[takenCount++] = {separated(typeAt - TypeAttribute.size()), quotedType.closing + 1};
        }

        QString width;
        const qsizetype widthAt = attributeValue(WidthAttribute, end);
        // At least one character must lie between the marker and the end of the attributes.
        if (widthAt != NotFound && widthAt < end) {
            const TQuoted quotedWidth = quoted(widthAt);
            width = sharedText(lastWidth, quotedWidth.value);
            taken[takenCount++] = {separated(widthAt - WidthAttribute.size()),
                                   quotedWidth.closing == NotFound ? end : quotedWidth.closing + 1};
        }

        std::sort(taken.begin(), taken.begin() + takenCount,
                  [](const TSpan& a, const TSpan& b) { return a.begin < b.begin; });
        QString etc;
        qsizetype k = from;
        for (size_t t = 0; t < takenCount; ++t) {
            const TSpan& span = taken[t];
            const qsizetype begin = std::clamp(span.begin, k, end);
            etc += m_text.mid(k, begin - k);
            k = std::max(k, std::min(span.end, end));
        }
        etc += m_text.mid(k, end - k);
        // The separator between the tag's name and the other settings is not part of them.
        if (etc.startsWith(u"\r\n")) {
            etc.remove(0, 2);
        } else if (!etc.isEmpty() && (etc[0] == u' ' || etc[0] == u'\t' || etc[0] == u'\r' || etc[0] == u'\n')) {
            etc.remove(0, 1);
        }
        addField(name.value.toString(), type, etc, width, content);
    }
}

void TPacketScan::readParams(qsizetype params)
{
    m_attributes.clear();
    const TTagEnd tag = scanStartTag(m_text, params + ParamsMarker.size(), m_length, &m_attributes);
    const qsizetype v = attributeValue(LcidAttribute, tag.at);
    if (v != NotFound) {
        const qsizetype closing = m_text.first(tag.at).indexOf(u'"', v);
        if (closing != NotFound) {
            m_ws.setLCID(m_text.mid(v, closing - v).toString());
        }
    }

    // Every other attribute is kept as written, name, quotes and references alike; one without its value in
    // quotes inside the tag is no attribute and is left out.
    static const QStringList ownNames{QStringLiteral("DEFAULT_ORDER"), QStringLiteral("PRIMARY_KEY"),
                                      QStringLiteral("LCID"), QStringLiteral("CHANGE_LOG")};
    const QStringView tagText = m_text.first(tag.at);
    const auto isNameEnd = [](QChar c) {
        return c == u'=' || c == u' ' || c == u'\t' || c == u'\r' || c == u'\n' || c == u'/' || c == u'>';
    };
    QString kept;
    for (const qsizetype a : m_attributes) {
        if (a >= tag.at) {
            break;
        }
        qsizetype k = a;
        while (k < tag.at && !isNameEnd(m_text[k])) {
            ++k;
        }
        const QStringView name = m_text.mid(a, k - a);
        while (k < tag.at && m_text[k].isSpace()) {
            ++k;
        }
        if (name.isEmpty() || k >= tag.at || m_text[k] != u'=') {
            continue;
        }
        ++k;
        while (k < tag.at && m_text[k].isSpace()) {
            ++k;
        }
        if (k >= tag.at || (m_text[k] != u'"' && m_text[k] != u'\'')) {
            continue;
        }
        const qsizetype closing = tagText.indexOf(m_text[k], k + 1);
        if (closing == NotFound || std::any_of(ownNames.begin(), ownNames.end(), [&](const QString& own) {
                return name.compare(own, Qt::CaseInsensitive) == 0;
            })) {
            continue;
        }
        if (!kept.isEmpty()) {
            kept += u' ';
        }
        kept += m_text.mid(a, closing + 1 - a);
    }
    m_ws.setParamsAttributes(kept);
}

qsizetype TPacketScan::scanNumbers(qsizetype v, TKeyKind list)
{
    const qsizetype names = m_ws.FieldList().size();
    QString pending;
    // Emptied after every conversion: a number that selects nothing must not run into the next one.
    const auto apply = [&] {
        if (pending.isEmpty()) {
            return;
        }
        const qsizetype n = StrToInt(pending);
        if (n >= 1 && n <= names) {
            m_ws.setKeySelected(list, static_cast<int>(n - 1), true);
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
    const QStringList& names = m_ws.FieldList();
    const int count = m_ws.FieldCount();
    m_keyLengths.assign(1, false);
    const auto addKey = [this](const QString& name) {
        const auto length = static_cast<size_t>(name.size());
        if (m_keyLengths.size() <= length) {
            m_keyLengths.resize(length + 1, false);
        }
        m_keyLengths[length] = true;
    };
    for (int j = 0; j < count; ++j) {
        addKey(names[j]);
    }
    // The row state of a packet with a change log, looked up as one more key unless a field has its name.
    m_rowStateKey = NotFound;
    if (TWorkspace::indexOfName(names, RowStateName) < 0) {
        m_rowStateKey = count;
        addKey(RowStateName);
    }
    // The workspace takes no name equal to another with letter case ignored: each name is a key of its own.
    m_keyCount = m_rowStateKey == NotFound ? count : count + 1;
    m_keys = TNameIndex();
    m_keysIndexed = false;
    m_foundInRow.assign(static_cast<size_t>(count) + 1, 0);
}

const TNameIndex& TPacketScan::keyIndex()
{
    if (!m_keysIndexed) {
        // The names stay in the field list while the rows are read.
        const QStringList& names = m_ws.FieldList();
        m_keys.reset(m_keyCount);
        for (int j = 0; j < m_ws.FieldCount(); ++j) {
            m_keys.insert(names[j], j);
        }
        if (m_rowStateKey != NotFound) {
            m_keys.insert(RowStateName, static_cast<int>(m_rowStateKey));
        }
        m_keysIndexed = true;
    }
    return m_keys;
}

void TPacketScan::checkGridFits(qsizetype q)
{
    const qint64 columns = std::max(m_ws.SG_Data().colCount(), 1);
    const qint64 perRow = columns * CellBytes + RowBytes;
    // Each row element takes at least the characters of its marker: a text too short to hold more rows than
    // surely fit needs neither a count nor the memory figure.
    const qint64 mostRows = (m_length - q) / RowMarker.size() + 2;
    if (!m_gridLimit && mostRows <= SmallGridBytes / perRow) {
        return;
    }
    const qint64 maxRows = (m_gridLimit ? *m_gridLimit : gridMemoryBudget()) / perRow;
    if (mostRows <= maxRows) {
        return;
    }
    qint64 rows = 1;
    for (qsizetype g = findIgnoringCase(m_text, RowMarker, q, m_length); g != NotFound;
         g = findIgnoringCase(m_text, RowMarker, g + RowMarker.size(), m_length)) {
        if (++rows > maxRows) {
            throw TFailure(QStringLiteral("データが大きすぎてメモリに収まりません（%1 列 × %2 行以上）")
                               .arg(columns)
                               .arg(rows - 1));
        }
    }
}

TPacketScan::TRowElement TPacketScan::rowElement(qsizetype g)
{
    // Nearly every row element ends with "/>" and holds no ">" before it: its first ">" is then the end, found
    // in one scan. No earlier "/>" can come before that ">", nor a ">" that would end a start tag.
    const qsizetype values = g + RowMarker.size();
    const qsizetype firstGt = m_text.indexOf(u'>', values);
    if (firstGt > values && m_text[firstGt - 1] == u'/') {
        return {firstGt - 1, firstGt, {}};
    }
    const qsizetype e = m_end.find(values);
    // As the rows have always been read: the element ends at the first "/>", or with the text.
    TRowElement row{e == NotFound ? m_length : e, e == NotFound ? NotFound : e + 1, {}};
    // A ">" outside quoted values before that ends a start tag with content, when its end tag follows.
    const qsizetype gt = m_text.first(row.valuesEnd).indexOf(u'>', values);
    if (gt == NotFound) {
        return row;
    }
    // The tag is scanned from the space that ends the marker.
    const TTagEnd tag = scanStartTag(m_text, values - 1, row.valuesEnd);
    if (!tag.closed) {
        return row;
    }
    if (const auto endTag = m_rowNesting.endTagOf(g, tag.at)) {
        row = {tag.at, endTag->next, m_text.mid(tag.at + 1, endTag->start - tag.at - 1)};
    }
    return row;
}

void TPacketScan::readRows(qsizetype rowData)
{
    prepareRowKeys();
    // The character right after the marker is passed over with it.
    qsizetype q = rowData + RowDataMarker.size() + 1;
    checkGridFits(q);
    int i = 1;
    for (;;) {
        const qsizetype g = m_row.find(q);
        if (g == NotFound) {
            break;
        }
        m_ws.setDataRowCount(i + 1);
        const TRowElement row = rowElement(g);
        if (readRowValues(g + RowMarker.size(), row.valuesEnd)) {
            m_ws.setDataRowCells(i, m_rowValues.data(), static_cast<int>(m_rowValues.size()),
                                 m_anyEmptyValue ? &m_emptyValues : nullptr);
            m_ws.setDataRowContent(i, row.content.toString());
            ++i;
        } else {
            m_ws.clearDataRows(i);
        }
        // Without an end the cursor would go back to the start of the text; the last row took its values
        // from the rest of the text instead.
        if (row.next == NotFound) {
            break;
        }
        q = row.next;
    }
    // Rows of the change log that were left out at the end leave no empty rows behind.
    m_ws.setDataRowCount(std::max(i, 2));
    // Without a row read, the table's one blank row stands in for none, unless the packet holds a row element
    // without values (`<ROW/>`, which the row scan does not count): that is the record a new workspace writes.
    const qsizetype rowsFrom = rowData + RowDataMarker.size();
    m_ws.setStandInRow(i == 1 && findIgnoringCase(m_text, u"<ROW/>", rowsFrom, m_length) == NotFound &&
                       findIgnoringCase(m_text, u"<ROW>", rowsFrom, m_length) == NotFound);
}

bool TPacketScan::readRowValues(qsizetype begin, qsizetype end)
{
    const int keys = m_keyCount;
    const QStringView element = m_text.first(end);
    // The row's values are gathered as views (into the text, or into m_decoded where a reference had to be
    // decoded) and handed to the grid in one go, which copies them into the row's one buffer.
    m_rowValues.assign(static_cast<size_t>(m_ws.SG_Data().colCount()), QStringView());
    if (m_anyEmptyValue || m_emptyValues.size() != m_rowValues.size()) {
        m_emptyValues.assign(m_rowValues.size(), false);
        m_anyEmptyValue = false;
    }
    m_decoded.resize(0);
    m_decodedCells.clear();
    int found = 0;
    qsizetype nextEquals = NotFound - 1;
    bool current = true;

    // Marks which keys this element has given a value, apart from the elements before (a row left out of
    // the change log leaves its row number to the next).
    const int serial = ++m_rowSerial;
    // Takes the value at `v` for key j, whose name starts at `k`, and returns the position the key scan goes
    // on after: the value's closing quote. Names hold no double quote, so a key starting inside the value
    // would need the `="` that the closing quote ends; only a value ending in "=" has one, and then (or when
    // the value has no closing quote) the scan goes on right after `k`.
    const auto take = [&](int j, qsizetype k, qsizetype v) {
        m_foundInRow[static_cast<size_t>(j)] = serial;
        ++found;
        // Most values are short: they are scanned here for their closing quote and any reference in one
        // pass; a long one is left to the library's wider search.
        const char16_t* text = element.utf16();
        const qsizetype shortEnd = std::min(end, v + 32);
        qsizetype closing = v;
        bool reference = false;
        while (closing < shortEnd && text[closing] != u'"') {
            reference = reference || text[closing] == u'&';
            ++closing;
        }
        if (closing == shortEnd) {
            closing = element.indexOf(u'"', closing);
            if (closing == NotFound) {
                return k;
            }
            reference = reference || QStringView(text + shortEnd, closing - shortEnd).contains(u'&');
        }
        const QStringView value = m_text.mid(v, closing - v);
        if (j == m_rowStateKey) {
            // Flag 1 marks an earlier version of a changed row, flag 2 a deleted row.
            bool ok = false;
            const int state = value.toInt(&ok);
            current = !ok || (state & 3) == 0;
        } else if (!value.isEmpty()) {
            if (reference) {
                m_decodedCells.push_back({j, m_decoded.size()});
                appendDecodedRowValue(m_decoded, value);
            } else {
                m_rowValues[static_cast<size_t>(j)] = value;
            }
        } else {
            m_emptyValues[static_cast<size_t>(j)] = true;
            m_anyEmptyValue = true;
        }
        return element[closing - 1] == u'=' ? k : closing;
    };

    const QStringList& names = m_ws.FieldList();
    const int fieldCount = m_ws.FieldCount();
    int expected = 0;
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
            break;
        }
        const qsizetype length = nextEquals - k;
        // Rows mostly list their values in field order, leaving out empty ones: the fields from the one after
        // the last taken on are tried as written before the name is folded and hashed. Names differ in more
        // than letter case, so a name equal as written is the one the hash would find.
        // The names are compared unit by unit, as the library's comparison costs a call for each.
        const char16_t* name = m_text.utf16() + k;
        int e = expected;
        while (e < fieldCount && (length != names[e].size() || !std::equal(name, name + length, names[e].utf16()))) {
            ++e;
        }
        if (e < fieldCount && m_foundInRow[static_cast<size_t>(e)] != serial) {
            k = take(e, k, nextEquals + 2);
            expected = e + 1;
            continue;
        }
        if (length > 0 && static_cast<size_t>(length) < m_keyLengths.size() &&
            m_keyLengths[static_cast<size_t>(length)]) {
            const int key = keyIndex().find(m_text.mid(k, length));
            if (key >= 0 && m_foundInRow[static_cast<size_t>(key)] != serial) {
                k = take(key, k, nextEquals + 2);
                expected = key + 1;
            }
        }
    }
    // Decoding may have moved m_decoded: the views into it are taken again, each to the next one's start.
    qsizetype decodedEnd = m_decoded.size();
    for (auto it = m_decodedCells.rbegin(); it != m_decodedCells.rend(); ++it) {
        m_rowValues[static_cast<size_t>(it->first)] =
            QStringView(m_decoded).sliced(it->second, decodedEnd - it->second);
        decodedEnd = it->second;
    }
    return current;
}

} // namespace

void readPacket(TWorkspace& workspace, const QString& text, TDialogs& dialogs, std::optional<qint64> gridBytesLimit)
{
    TPacketScan(workspace, text, dialogs, gridBytesLimit).run();
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

} // namespace torvane
