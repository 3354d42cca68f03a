#include "TPacketReader.h"

#include "StrToInt.h"
#include "TCharacterReferences.h"
#include "TElementScan.h"
#include "TFailure.h"
#include "TMarkerSearch.h"
#include "TMemoryProbe.h"
#include "TNameIndex.h"
#include "TSimd.h"
#include "TTextEncoding.h"
#include "TXmlCheck.h"

#include <QHash>
#include <QRegularExpression>
#include <QScopeGuard>

#include <algorithm>
#include <array>
#include <vector>

namespace torvane {

namespace {

constexpr qsizetype NotFound = -1;

// How many fields from the one after the last taken a row's attribute name is compared with as written.
constexpr int FieldOrderWindow = 16;

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

// Selects in `list` the field numbers written from `v` on, separated by spaces, up to a double quote, "<" or ">"
// (which end the value in the text) or the end of `chars`. Returns where the numbers ended.
qsizetype selectKeyNumbers(TWorkspace& ws, QStringView chars, qsizetype v, TKeyKind list)
{
    const qsizetype names = ws.FieldList().size();
    QString pending;
    // Emptied after every conversion: a number that selects nothing must not run into the next one.
    const auto apply = [&] {
        if (pending.isEmpty()) {
            return;
        }
        const qsizetype n = StrToInt(pending);
        if (n >= 1 && n <= names) {
            ws.setKeySelected(list, static_cast<int>(n - 1), true);
        }
        pending.clear();
    };
    for (qsizetype k = std::max<qsizetype>(v, 0); k < chars.size(); ++k) {
        const QChar c = chars[k];
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
    return chars.size();
}

// Refuses, before the data table grows, a packet whose rows could not all be held in memory. `rowMarker`
// begins every row element from `q` on.
void checkGridFits(const TWorkspace& ws, QStringView text, qsizetype q, QStringView rowMarker,
                   std::optional<qint64> gridLimit)
{
    const qint64 columns = std::max(ws.SG_Data().colCount(), 1);
    const qint64 perRow = columns * CellBytes + RowBytes;
    // Each row element takes at least the characters of its marker: a text too short to hold more rows than
    // surely fit needs neither a count nor the memory figure.
    const qint64 mostRows = (text.size() - q) / rowMarker.size() + 2;
    if (!gridLimit && mostRows <= SmallGridBytes / perRow) {
        return;
    }
    const qint64 maxRows = (gridLimit ? *gridLimit : gridMemoryBudget()) / perRow;
    if (mostRows <= maxRows) {
        return;
    }
    qint64 rows = 1;
    for (qsizetype g = findIgnoringCase(text, rowMarker, q, text.size()); g != NotFound;
         g = findIgnoringCase(text, rowMarker, g + rowMarker.size(), text.size())) {
        if (++rows > maxRows) {
            throw TFailure(QStringLiteral("データが大きすぎてメモリに収まりません（%1 列 × %2 行以上）")
                               .arg(columns)
                               .arg(rows - 1));
        }
    }
}

void addFieldRow(TWorkspace& ws, TDialogs& dialogs, const QString& name, const QString& type, const QString& etc,
                 const QString& width, const QString& content)
{
    const int before = ws.FieldCount();
    // A width that is not an integer throws once the field is added; the field keeps its content all the same.
    const auto keepContent = qScopeGuard([&] {
        if (ws.FieldCount() > before) {
            ws.setFieldRowContent(ws.FieldCount(), content);
        }
    });
    ws.AddFieldRow(name, type, etc, width, dialogs);
}

bool sameName(QStringView a, QStringView b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

// The attribute named `name`: one written in that letter case, as the writer writes it, before one in
// another case; nullptr when there is none.
const TXmlAttribute* findAttribute(const std::vector<TXmlAttribute>& attributes, QStringView name)
{
    const TXmlAttribute* found = nullptr;
    for (const TXmlAttribute& a : attributes) {
        if (a.name == name) {
            return &a;
        }
        if (!found && sameName(a.name, name)) {
            found = &a;
        }
    }
    return found;
}

QString attributeText(QStringView written)
{
    QString out;
    appendAttributeValue(out, written);
    return out;
}

// A stretch of a start tag's text.
struct TSpan {
    qsizetype begin;
    qsizetype end;
};

// Each attribute a field's own settings come from is cut out of the other-settings text with the separator
// before it: one character, or a line break.
qsizetype separatorBefore(QStringView text, qsizetype a)
{
    return a >= 2 && text.mid(a - 2, 2) == u"\r\n" ? a - 2 : a - 1;
}

// A field's other settings: its start tag's text from `from` (after the tag's name) to `end` (where the
// attributes end), as written, less the `taken` attributes, and less the separator after the tag's name.
QString otherSettings(QStringView text, qsizetype from, qsizetype end, TSpan* taken, size_t count)
{
    std::sort(taken, taken + count, [](const TSpan& a, const TSpan& b) { return a.begin < b.begin; });
    // Nearly always the taken attributes are all the tag holds.
    qsizetype covered = from;
    for (size_t t = 0; t < count && taken[t].begin <= covered; ++t) {
        covered = std::max(covered, taken[t].end);
    }
    if (covered >= end) {
        return QString();
    }
    QString etc;
    qsizetype k = from;
    for (size_t t = 0; t < count; ++t) {
        const TSpan& span = taken[t];
        const qsizetype begin = std::clamp(span.begin, k, end);
        etc += text.mid(k, begin - k);
        k = std::max(k, std::min(span.end, end));
    }
    etc += text.mid(k, end - k);
    // The separator between the tag's name and the other settings is not part of them.
    if (etc.startsWith(u"\r\n")) {
        etc.remove(0, 2);
    } else if (!etc.isEmpty() && (etc[0] == u' ' || etc[0] == u'\t' || etc[0] == u'\r' || etc[0] == u'\n')) {
        etc.remove(0, 1);
    }
    return etc;
}

// Where an attribute starts and ends (after its closing quote) in `text`.
TSpan spanOf(QStringView text, const TXmlAttribute& attribute)
{
    return {attribute.name.utf16() - text.utf16(), attribute.value.utf16() + attribute.value.size() + 1 - text.utf16()};
}

// The attributes of the packet's settings kept as written: all but the keys, the LCID and the change log,
// which goes with the change-log rows it describes.
bool isOwnParamsName(QStringView name)
{
    return sameName(name, u"DEFAULT_ORDER") || sameName(name, u"PRIMARY_KEY") || sameName(name, u"LCID") ||
           sameName(name, u"CHANGE_LOG");
}

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

// A field's start tag in the plain form, from right after its name: where its attributes end (NotFound for
// another form), and its name, type and width values, each taken as findAttribute takes it (a null view for
// one it lacks). A hundred thousand fields are taken apart without a list of attributes for each.
struct TPlainField {
    qsizetype end = NotFound;
    QStringView name;
    QStringView type;
    QStringView width;
};

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
        } else if (slot.isNull() && sameName(name, wanted)) {
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

// Points a row's decoded values (`cells`: each one's column and where it starts in `decoded`) into `decoded`
// once the row is gathered: decoding may have moved it. Each value runs to the next one's start.
void viewDecodedValues(std::vector<QStringView>& values, const QString& decoded,
                       const std::vector<std::pair<int, qsizetype>>& cells)
{
    qsizetype decodedEnd = decoded.size();
    for (auto it = cells.rbegin(); it != cells.rend(); ++it) {
        values[static_cast<size_t>(it->first)] = QStringView(decoded).sliced(it->second, decodedEnd - it->second);
        decodedEnd = it->second;
    }
}

struct TQuoted {
    QStringView value;
    qsizetype closing = NotFound;
};

// Reads a well-formed text as XML gives it (all of it, or with `rowsOnly` only its rows, the rest having been
// read alike by the scan).
void readWellFormed(TWorkspace& ws, QStringView text, TDialogs& dialogs, std::optional<qint64> gridLimit,
                    bool rowsOnly);

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
    // Reads the text as the scan always has; `plainRows` reads the rows in their plain form only and
    // returns false, having read none, at the first row element or text between rows in another form.
    bool scan(bool plainRows);
    // Whether everything before the rows is written in the plain form the writer and the dataset library
    // write, where the scan reads what an XML reader reads: one attribute after another, each after one
    // space and in double quotes without references, no comment, CDATA section, processing instruction or
    // document type, the fields, settings and rows each where the packet has them, and no marker the scan
    // looks for anywhere else.
    bool plainHead();
    // For a key the settings tag `params` holds as attributes `attributes`: true when the scan finds it
    // there, or finds it nowhere and the tag has none.
    bool plainKey(const std::vector<TXmlAttribute>& attributes, QStringView key, TMarkerFinder& finder, qsizetype s0);
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
    qsizetype readFields(qsizetype p, const TWorkspace::TFieldBatch& batch);
    // Adds the field whose empty-element tag, at `tag`, is `field`.
    void addPlainField(qsizetype tag, const TPlainField& field, QString& lastType, QString& lastWidth);
    // The next FIELD start tag at or after p.
    qsizetype findFieldTag(qsizetype p);
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
    // False when `plain` is asked for and the rows are not all in their plain form.
    bool readRows(qsizetype rowData, bool plain);
    void prepareRowKeys();
    const TNameIndex& keyIndex();
    // Gathers the row's values (m_rowValues, by column) from the attributes in [begin, end); a value's
    // closing quote must lie before `end`. False when the row's state marks it as an earlier version or as deleted.
    bool readRowValues(qsizetype begin, qsizetype end);
    // The same for a row whose attributes are in the plain form, which fill the same values; nullopt when
    // they are in another form.
    std::optional<bool> readPlainRowValues(qsizetype begin, qsizetype end);
    // Clears the row's values and its marks of empty strings before a row is gathered.
    void startRowValues();
    // The field (column) an attribute name at `k` of `length` characters is the key of, when this row has
    // not given it a value yet; -1 otherwise. `expected` is the field after the one taken last.
    int rowKeyAt(qsizetype k, qsizetype length, int expected, int serial);
    // The field among the next few from `expected` whose name is the `length` characters at `k` as written;
    // -1 when none of them is.
    int fieldInOrder(qsizetype k, qsizetype length, int expected) const;

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
    // The index is the one the field adds built; rows that give their values in field order, as written ones
    // do, never look in it.
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
    // Where the rows begin, once the scan has found them.
    qsizetype m_rowsAt = NotFound;
    // Whether the head is in the plain form, and how many field tags it holds.
    bool m_plainHead = false;
    qsizetype m_plainFieldCount = 0;
};

void TPacketScan::run()
{
    if (!plainHead()) {
        // Another form: an XML reader's reading when the text is well-formed, else the scan's.
        if (!checkXml(m_text)) {
            readWellFormed(m_ws, m_text, m_dialogs, m_gridLimit, false);
        } else {
            scan(false);
        }
        return;
    }
    if (scan(true)) {
        return;
    }
    // A row in another form: the head was read alike both ways (its messages shown once), the rows are read
    // again.
    m_ws.clearDataRows(1);
    m_ws.setDataRowCount(2);
    if (!checkXml(m_text)) {
        readWellFormed(m_ws, m_text, m_dialogs, m_gridLimit, true);
    } else {
        readRows(m_rowsAt, false);
    }
}

bool TPacketScan::scan(bool plainRows)
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
        return true;
    }
    const TQuoted packetVersion = quoted(y + PacketMarker.size());
    m_ws.startRead(xmlVersion, packetVersion.value.toString());

    const qsizetype r = m_fields.find(packetVersion.closing + 2);
    if (r == NotFound) {
        return true;
    }
    qsizetype p = 0;
    {
        // The key lists are refilled when the batch closes, also when a width that is not an integer
        // ends the reader among the fields.
        TWorkspace::TFieldBatch batch(m_ws, m_plainFieldCount);
        // The character right after the marker is passed over with it.
        p = readFields(r + FieldsMarker.size() + 1, batch);
        // The rows look names up in the index the adds built rather than in one of their own.
        m_keys = batch.takeNameIndex();
    }

    const qsizetype params = m_params.find(p);
    // The keys are searched from past the marker and the character after it; without PARAMS the same sum,
    // from NotFound, starts them at position 7, as the reader always has.
    const qsizetype s0 = params + ParamsMarker.size() + 1;
    // The LCID and the other settings first, so that a key number that is not an integer does not lose them.
    if (params != NotFound) {
        readParams(params);
    }
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

    const qsizetype rowData = m_rowData.find(scanned ? stop + 2 : 1);
    if (rowData == NotFound) {
        return true;
    }
    m_rowsAt = rowData;
    return readRows(rowData, plainRows);
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
        const bool isField = sameName(name, u"FIELD");
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
            if (!sameName(name, u"ROWDATA") || open.size() != 1 || fields != TPhase::After || !attributes.empty() ||
                empty) {
                return false;
            }
            break;
        }
        if (open.empty()) {
            if (!sameName(name, u"DATAPACKET") || attributes.size() != 1 || !sameName(attributes[0].name, u"Version") ||
                empty) {
                return false;
            }
        } else if (fieldDepth == 0) {
            const bool inMetadata = open.size() == 2 && sameName(open[1], u"METADATA");
            if (name.startsWith(u"FIELDS", Qt::CaseInsensitive)) {
                if (!sameName(name, u"FIELDS") || fields != TPhase::Before || !inMetadata || !attributes.empty() ||
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
                if (!sameName(name, u"PARAMS") || fields != TPhase::After || !inMetadata) {
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
        const qsizetype s0 = params + ParamsMarker.size() + 1;
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

// Fields mostly share their type and width texts: one equal to the previous field's is shared with it rather
// than copied again.
QString sharedText(QString& last, QStringView value)
{
    if (value.isEmpty()) {
        return value.toString();
    }
    // Compared unit by unit, as the library's comparison costs a call.
    if (value.size() != last.size() || !std::equal(value.begin(), value.end(), last.cbegin())) {
        last = value.toString();
    }
    return last;
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

qsizetype TPacketScan::findFieldTag(qsizetype p)
{
    // Fields follow one another with a line break between: a marker can only start at a "<", and when the
    // first "<" among the next few characters starts one, it is the first marker from p on.
    const char16_t* chars = m_text.utf16();
    const qsizetype shortEnd = std::min(m_length - FieldMarker.size() + 1, p + 32);
    for (qsizetype k = std::max<qsizetype>(p, 0); k < shortEnd; ++k) {
        if (chars[k] == u'<') {
            if (isStartTagAt(m_text, k, u"FIELD")) {
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

qsizetype TPacketScan::readFields(qsizetype p, const TWorkspace::TFieldBatch& batch)
{
    // The texts sharedText shares from one field to the next.
    QString lastType;
    QString lastWidth;
    // In a plain head the next field's tag is found and taken apart before a field is added, so that the
    // look-up of its name can begin early.
    qsizetype nextTag = NotFound;
    TPlainField nextField;
    for (;;) {
        qsizetype f = nextTag;
        TPlainField field = nextField;
        nextTag = NotFound;
        if (f == NotFound) {
            f = findFieldTag(p);
            if (f == NotFound) {
                return p;
            }
            if (m_plainHead) {
                field = plainField(m_text, f + FieldMarker.size());
            }
        }
        const qsizetype from = f + FieldMarker.size();
        // In a plain head an empty element's attributes are read as an XML reader reads them, which is what
        // the scan below reads there. One with content is read as any other, content and all.
        if (m_plainHead && field.end != NotFound && m_text[field.end] == u'/') {
            p = field.end + 2;
            nextTag = findFieldTag(p);
            if (nextTag != NotFound) {
                nextField = plainField(m_text, nextTag + FieldMarker.size());
                batch.expect(nextField.name);
            }
            addPlainField(f, field, lastType, lastWidth);
            continue;
        }
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
        const auto separated = [this](qsizetype a) { return separatorBefore(m_text, a); };
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
                addFieldRow(m_ws, m_dialogs, name.value.toString(), {}, {}, {}, {});
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

        const QString etc = otherSettings(m_text, from, end, taken.data(), takenCount);
        addFieldRow(m_ws, m_dialogs, name.value.toString(), type, etc, width, content);
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
    return selectKeyNumbers(m_ws, m_text, v, list);
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
    m_keysIndexed = false;
    m_foundInRow.assign(static_cast<size_t>(count) + 1, 0);
}

const TNameIndex& TPacketScan::keyIndex()
{
    if (!m_keysIndexed) {
        // The index the field adds left holds every name and nothing else; any other is built anew. The names
        // stay in the field list while the rows are read.
        if (m_keys.size() != m_ws.FieldCount()) {
            const QStringList& names = m_ws.FieldList();
            m_keys.reset(m_keyCount);
            for (int j = 0; j < m_ws.FieldCount(); ++j) {
                m_keys.insert(names[j], j);
            }
        }
        if (m_rowStateKey != NotFound) {
            m_keys.insert(RowStateName, static_cast<int>(m_rowStateKey));
        }
        m_keysIndexed = true;
    }
    return m_keys;
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

bool TPacketScan::readRows(qsizetype rowData, bool plain)
{
    prepareRowKeys();
    // The character right after the marker is passed over with it.
    qsizetype q = rowData + RowDataMarker.size() + 1;
    checkGridFits(m_ws, m_text, q, RowMarker, m_gridLimit);
    const char16_t* chars = m_text.utf16();
    int i = 1;
    for (;;) {
        const qsizetype g = m_row.find(q);
        if (plain) {
            // Between rows only text: a comment, CDATA section, processing instruction or other element there
            // (a row element without the space among them) is read as XML reads it. After the last row, end
            // tags only.
            for (qsizetype k = q, end = g == NotFound ? m_length : g; k < end; ++k) {
                if (chars[k] == u'<' && (g != NotFound || k + 1 >= m_length || chars[k + 1] != u'/')) {
                    return false;
                }
            }
        }
        if (g == NotFound) {
            break;
        }
        m_ws.setDataRowCount(i + 1);
        const TRowElement row = rowElement(g);
        bool current = true;
        if (plain) {
            const std::optional<bool> read =
                row.next == NotFound ? std::nullopt : readPlainRowValues(g + RowMarker.size(), row.valuesEnd);
            if (!read) {
                return false;
            }
            current = *read;
        } else {
            current = readRowValues(g + RowMarker.size(), row.valuesEnd);
        }
        if (current) {
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
    const bool standIn = i == 1 && findIgnoringCase(m_text, u"<ROW/>", rowsFrom, m_length) == NotFound &&
                         findIgnoringCase(m_text, u"<ROW>", rowsFrom, m_length) == NotFound;
    // Such an element found inside a row's content is no row of the packet to an XML reader.
    if (plain && i == 1 && !standIn) {
        return false;
    }
    m_ws.setStandInRow(standIn);
    return true;
}

int TPacketScan::fieldInOrder(qsizetype k, qsizetype length, int expected) const
{
    // Rows mostly list their values in field order, leaving out empty ones: the few fields from the one after
    // the last taken on are tried as written before the name is folded and hashed. Names differ in more than
    // letter case, so a name equal as written is the one the hash would find: trying more fields would only
    // make a row in another order compare each of its names with every field.
    // The names are compared unit by unit, as the library's comparison costs a call for each.
    const QStringList& names = m_ws.FieldList();
    const int last = std::min(m_ws.FieldCount(), expected + FieldOrderWindow);
    const char16_t* name = m_text.utf16() + k;
    for (int e = expected; e < last; ++e) {
        if (length == names[e].size() && std::equal(name, name + length, names[e].utf16())) {
            return e;
        }
    }
    return -1;
}

int TPacketScan::rowKeyAt(qsizetype k, qsizetype length, int expected, int serial)
{
    // As readRowValues finds them: the next fields as written, then the name folded.
    const int e = fieldInOrder(k, length, expected);
    if (e >= 0 && m_foundInRow[static_cast<size_t>(e)] != serial) {
        return e;
    }
    if (length > 0 && static_cast<size_t>(length) < m_keyLengths.size() && m_keyLengths[static_cast<size_t>(length)]) {
        const int key = keyIndex().find(m_text.mid(k, length));
        if (key >= 0 && m_foundInRow[static_cast<size_t>(key)] != serial) {
            return key;
        }
    }
    return -1;
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

void TPacketScan::startRowValues()
{
    m_rowValues.assign(static_cast<size_t>(m_ws.SG_Data().colCount()), QStringView());
    if (m_anyEmptyValue || m_emptyValues.size() != m_rowValues.size()) {
        m_emptyValues.assign(m_rowValues.size(), false);
        m_anyEmptyValue = false;
    }
}

std::optional<bool> TPacketScan::readPlainRowValues(qsizetype begin, qsizetype end)
{
    startRowValues();
    m_decoded.resize(0);
    m_decodedCells.clear();
    const int serial = ++m_rowSerial;
    bool current = true;
    int expected = 0;
    const char16_t* s = m_text.utf16();
    // The attributes begin right after the marker's space and are each separated by one space.
    for (qsizetype k = begin; k < end;) {
        // The name runs to its "=": a name in a well-formed text holds no other character that matters here,
        // and white space before the "=" is another form. (In a text that is not well-formed the name reads
        // as readRowValues reads it.)
        const qsizetype nameStart = k;
        k = findStop(s, k, end, u'=', u'=', u'=', u'=', u' ' + 1);
        if (k == nameStart || k + 1 >= end || s[k] != u'=' || s[k + 1] != u'"') {
            return std::nullopt;
        }
        const qsizetype length = k - nameStart;
        k += 2;
        const qsizetype v = k;
        bool reference = false;
        for (;;) {
            // To the closing quote; markup, tabs and line breaks (which XML reads as spaces) are another form.
            k = findStop(s, k, end, u'"', u'&', u'<', u'>', u' ');
            if (k >= end) {
                return std::nullopt;
            }
            if (s[k] == u'"') {
                break;
            }
            if (s[k] != u'&') {
                return std::nullopt;
            }
            reference = true;
            ++k;
        }
        // A value ending in "=" would let the scan take a key inside it.
        if (k > v && s[k - 1] == u'=') {
            return std::nullopt;
        }
        const int j = rowKeyAt(nameStart, length, expected, serial);
        if (j >= 0) {
            m_foundInRow[static_cast<size_t>(j)] = serial;
            expected = j + 1;
            const QStringView value = m_text.mid(v, k - v);
            if (j == m_rowStateKey) {
                // Flag 1 marks an earlier version of a changed row, flag 2 a deleted row.
                bool ok = false;
                const int state = value.toInt(&ok);
                current = !ok || (state & 3) == 0;
            } else if (reference) {
                m_decodedCells.push_back({j, m_decoded.size()});
                appendDecodedRowValue(m_decoded, value);
            } else if (value.isEmpty()) {
                m_emptyValues[static_cast<size_t>(j)] = true;
                m_anyEmptyValue = true;
            } else {
                m_rowValues[static_cast<size_t>(j)] = value;
            }
        }
        ++k;
        if (k < end && (s[k] != u' ' || k + 1 >= end)) {
            return std::nullopt;
        }
        ++k;
    }
    viewDecodedValues(m_rowValues, m_decoded, m_decodedCells);
    return current;
}

bool TPacketScan::readRowValues(qsizetype begin, qsizetype end)
{
    const int keys = m_keyCount;
    const QStringView element = m_text.first(end);
    // The row's values are gathered as views (into the text, or into m_decoded where a reference had to be
    // decoded) and handed to the grid in one go, which copies them into the row's one buffer.
    startRowValues();
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
        const int e = fieldInOrder(k, length, expected);
        if (e >= 0 && m_foundInRow[static_cast<size_t>(e)] != serial) {
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
    viewDecodedValues(m_rowValues, m_decoded, m_decodedCells);
    return current;
}

// The reading of a well-formed text, told its elements in text order by the XML pass (readXml). The packet
// is the root element DATAPACKET; its fields the FIELD children of the first FIELDS element; its settings the
// first PARAMS element after that, and its rows the ROW children of the first ROWDATA element after the
// fields (neither inside the other). Element and attribute names compare without regard to letter case, as
// the scan's markers do; where two attributes differ only in case, the one written as the writer writes it
// counts. Values are read as XML reads them. A ROW element whose start tag has no white space after its name
// (`<ROW/>`, `<ROW>`) is no record, as the scan has never counted one: the writer writes a row without values
// as `<ROW/>`, and one that has content but no values as `<ROW >`.
class TWellFormedRead final : public TXmlEvents {
public:
    TWellFormedRead(TWorkspace& ws, QStringView text, TDialogs& dialogs, std::optional<qint64> gridLimit, bool rowsOnly)
        : m_ws(ws), m_dialogs(dialogs), m_text(text), m_gridLimit(gridLimit), m_rowsOnly(rowsOnly)
    {
    }

    // After the pass: a text whose root is not a packet, or without declaration.
    void finish()
    {
        if (!m_rootSeen && !m_rowsOnly) {
            m_ws.startRead(m_xmlVersion, std::nullopt);
        }
    }

    void xmlDeclaration(QStringView version) override { m_xmlVersion = version.toString(); }

    void startElement(QStringView name, const std::vector<TXmlAttribute>& attributes, qsizetype tagStart,
                      qsizetype tagEnd, bool empty) override
    {
        const int depth = m_depth;
        if (!empty) {
            ++m_depth;
        }
        if (m_done) {
            return;
        }
        if (!m_rootSeen) {
            m_rootSeen = true;
            if (!sameName(name, u"DATAPACKET")) {
                m_done = true;
                if (!m_rowsOnly) {
                    m_ws.startRead(m_xmlVersion, std::nullopt);
                }
                return;
            }
            if (!m_rowsOnly) {
                const TXmlAttribute* version = findAttribute(attributes, u"Version");
                m_ws.startRead(m_xmlVersion ? m_xmlVersion : QStringLiteral("1.0"),
                               version ? attributeText(version->value) : QString());
            }
            return;
        }
        if (m_fields == TPhase::Before) {
            if (sameName(name, u"FIELDS")) {
                m_fields = TPhase::In;
                m_fieldsDepth = depth;
                if (!m_rowsOnly) {
                    m_batch.emplace(m_ws);
                }
                if (empty) {
                    closeFields();
                }
            }
            return;
        }
        if (m_fields == TPhase::In) {
            if (depth == m_fieldsDepth + 1 && !m_fieldOpen && !m_fieldsEnded && !m_rowsOnly &&
                sameName(name, u"FIELD")) {
                startField(name, attributes, tagStart, tagEnd, empty, depth);
            }
            return;
        }
        if (m_rows == TPhase::In) {
            if (depth == m_rowDataDepth + 1 && !m_rowOpen && sameName(name, u"ROW")) {
                const QChar afterName = m_text[tagStart + 1 + name.size()];
                m_rowCounted = afterName == u' ' || afterName == u'\t' || afterName == u'\r' || afterName == u'\n';
                startRow(attributes);
                if (empty) {
                    endRow({});
                } else {
                    m_rowOpen = true;
                    m_rowDepth = depth;
                    m_contentStart = tagEnd;
                }
            }
            return;
        }
        if (m_paramsDepth >= 0) {
            return;
        }
        if (!m_paramsSeen && sameName(name, u"PARAMS")) {
            m_paramsSeen = true;
            if (!empty) {
                m_paramsDepth = depth;
            }
            if (!m_rowsOnly) {
                readParams(attributes);
            }
        } else if (m_rows == TPhase::Before && sameName(name, u"ROWDATA")) {
            m_rows = TPhase::In;
            m_rowDataDepth = depth;
            startRows(tagEnd);
            if (empty) {
                endRows();
            }
        }
    }

    void endElement(QStringView name, qsizetype tagStart, qsizetype tagEnd) override
    {
        Q_UNUSED(name);
        Q_UNUSED(tagEnd);
        const int depth = --m_depth;
        if (m_done) {
            return;
        }
        if (m_fields == TPhase::In) {
            if (m_fieldOpen && depth == m_fieldDepth) {
                m_fieldOpen = false;
                addFieldRow(m_ws, m_dialogs, m_fieldName, m_fieldType, m_fieldEtc, m_fieldWidth,
                            m_text.mid(m_contentStart, tagStart - m_contentStart).toString());
            } else if (depth == m_fieldsDepth) {
                closeFields();
            }
            return;
        }
        if (m_rows == TPhase::In) {
            if (m_rowOpen && depth == m_rowDepth) {
                m_rowOpen = false;
                endRow(m_text.mid(m_contentStart, tagStart - m_contentStart));
            } else if (depth == m_rowDataDepth) {
                endRows();
            }
            return;
        }
        if (depth == m_paramsDepth) {
            m_paramsDepth = -1;
        }
    }

private:
    enum class TPhase { Before, In, After };

    void closeFields()
    {
        m_fields = TPhase::After;
        m_batch.reset();
    }

    void startField(QStringView tagName, const std::vector<TXmlAttribute>& attributes, qsizetype tagStart,
                    qsizetype tagEnd, bool empty, int depth)
    {
        const TXmlAttribute* name = findAttribute(attributes, u"attrname");
        if (!name) {
            // A field without a name cannot be added; the fields after it are read.
            return;
        }
        m_fieldName = attributeText(name->value);
        if (m_fieldName.isEmpty()) {
            // A field whose name is empty ends the fields, as it ends the scan's.
            m_fieldsEnded = true;
            return;
        }
        const TXmlAttribute* type = findAttribute(attributes, u"fieldtype");
        const TXmlAttribute* width = findAttribute(attributes, u"WIDTH");
        m_fieldType = type ? attributeText(type->value) : QString();
        m_fieldWidth = width ? attributeText(width->value) : QString();
        std::vector<TSpan> taken;
        for (const TXmlAttribute* a : {name, type, width}) {
            if (a) {
                const TSpan span = spanOf(m_text, *a);
                taken.push_back({separatorBefore(m_text, span.begin), span.end});
            }
        }
        // The attributes end before the "/" of "/>", or before the ">".
        m_fieldEtc =
            otherSettings(m_text, tagStart + 1 + tagName.size(), tagEnd - (empty ? 2 : 1), taken.data(), taken.size());
        if (empty) {
            addFieldRow(m_ws, m_dialogs, m_fieldName, m_fieldType, m_fieldEtc, m_fieldWidth, QString());
        } else {
            m_fieldOpen = true;
            m_fieldDepth = depth;
            m_contentStart = tagEnd;
        }
    }

    void readParams(const std::vector<TXmlAttribute>& attributes)
    {
        // The LCID and the other settings first, so that a key number that is not an integer does not lose them.
        if (const TXmlAttribute* lcid = findAttribute(attributes, u"LCID")) {
            m_ws.setLCID(attributeText(lcid->value));
        }
        // Every other attribute is kept as written, name, quotes and references alike.
        QString kept;
        for (const TXmlAttribute& a : attributes) {
            if (!isOwnParamsName(a.name)) {
                if (!kept.isEmpty()) {
                    kept += u' ';
                }
                const TSpan span = spanOf(m_text, a);
                kept += m_text.mid(span.begin, span.end - span.begin);
            }
        }
        m_ws.setParamsAttributes(kept);
        if (const TXmlAttribute* keys = findAttribute(attributes, u"DEFAULT_ORDER")) {
            selectKeyNumbers(m_ws, attributeText(keys->value), 0, TKeyKind::DefaultOrder);
        }
        if (const TXmlAttribute* keys = findAttribute(attributes, u"PRIMARY_KEY")) {
            selectKeyNumbers(m_ws, attributeText(keys->value), 0, TKeyKind::PrimaryKey);
        }
    }

    void startRows(qsizetype tagEnd)
    {
        // Row elements may be written "<ROW" and a line break: the memory guard counts every "<ROW".
        checkGridFits(m_ws, m_text, tagEnd, u"<ROW", m_gridLimit);
        const QStringList& names = m_ws.FieldList();
        const int count = m_ws.FieldCount();
        m_columnByFoldedName.clear();
        QString folded;
        for (int j = 0; j < count; ++j) {
            folded.resize(0);
            appendFolded(folded, names[j]);
            m_columnByFoldedName.insert(folded, j);
        }
        m_rowStateColumn = -1;
        if (TWorkspace::indexOfName(names, RowStateName) < 0) {
            m_rowStateColumn = count;
            folded.resize(0);
            appendFolded(folded, RowStateName);
            m_columnByFoldedName.insert(folded, count);
        }
        m_foundInRow.assign(static_cast<size_t>(count) + 1, 0);
        m_row = 1;
    }

    int columnOf(QStringView name)
    {
        // Rows mostly list their values in field order: the field after the last one taken is tried as written
        // before the name is folded and looked up.
        const QStringList& names = m_ws.FieldList();
        if (m_expected < m_ws.FieldCount() && names[m_expected] == name) {
            return m_expected;
        }
        m_folded.resize(0);
        appendFolded(m_folded, name);
        return m_columnByFoldedName.value(m_folded, -1);
    }

    void startRow(const std::vector<TXmlAttribute>& attributes)
    {
        // Each value is a view into the text where XML reads it as written, or into m_decoded. A value written
        // empty stays apart from one not written: an empty view that is not null.
        m_rowValues.assign(static_cast<size_t>(m_ws.SG_Data().colCount()), QStringView());
        m_decoded.resize(0);
        m_decodedCells.clear();
        m_rowCurrent = true;
        const int serial = ++m_rowSerial;
        m_expected = 0;
        for (const TXmlAttribute& a : attributes) {
            const int j = columnOf(a.name);
            if (j < 0 || m_foundInRow[static_cast<size_t>(j)] == serial) {
                continue;
            }
            m_foundInRow[static_cast<size_t>(j)] = serial;
            m_expected = j + 1;
            const bool asWritten = std::none_of(a.value.begin(), a.value.end(), [](QChar c) {
                return c == u'&' || c == u'\t' || c == u'\n' || c == u'\r';
            });
            if (j == m_rowStateColumn) {
                // Flag 1 marks an earlier version of a changed row, flag 2 a deleted row.
                bool ok = false;
                const int state = attributeText(a.value).toInt(&ok);
                m_rowCurrent = !ok || (state & 3) == 0;
            } else if (asWritten) {
                m_rowValues[static_cast<size_t>(j)] = a.value.isNull() ? m_text.mid(0, 0) : a.value;
            } else {
                m_decodedCells.push_back({j, m_decoded.size()});
                appendAttributeValue(m_decoded, a.value);
            }
        }
        viewDecodedValues(m_rowValues, m_decoded, m_decodedCells);
    }

    void endRow(QStringView content)
    {
        if (!m_rowCounted) {
            ++m_uncounted;
            return;
        }
        m_ws.setDataRowCount(m_row + 1);
        if (!m_rowCurrent) {
            m_ws.clearDataRows(m_row);
            return;
        }
        handRow(content);
        ++m_row;
    }

    // Where a row's values reach the workspace.
    void handRow(QStringView content)
    {
        // A value written empty is an empty view that is not null: the grid keeps it as an empty string,
        // apart from a value not written.
        m_emptyValues.assign(m_rowValues.size(), false);
        bool anyEmpty = false;
        for (size_t j = 0; j < m_rowValues.size(); ++j) {
            if (!m_rowValues[j].isNull() && m_rowValues[j].isEmpty()) {
                m_emptyValues[j] = true;
                anyEmpty = true;
            }
        }
        m_ws.setDataRowCells(m_row, m_rowValues.data(), static_cast<int>(m_rowValues.size()),
                             anyEmpty ? &m_emptyValues : nullptr);
        m_ws.setDataRowContent(m_row, content.toString());
    }

    void endRows()
    {
        m_rows = TPhase::After;
        // Rows of the change log that were left out at the end leave no empty rows behind.
        m_ws.setDataRowCount(std::max(m_row, 2));
        m_ws.setStandInRow(m_row == 1 && m_uncounted == 0);
    }

    TWorkspace& m_ws;
    TDialogs& m_dialogs;
    QStringView m_text;
    std::optional<qint64> m_gridLimit;
    bool m_rowsOnly;

    std::optional<QString> m_xmlVersion;
    int m_depth = 0;
    bool m_rootSeen = false;
    bool m_done = false;

    TPhase m_fields = TPhase::Before;
    int m_fieldsDepth = -1;
    bool m_fieldsEnded = false;
    std::optional<TWorkspace::TFieldBatch> m_batch;
    bool m_fieldOpen = false;
    int m_fieldDepth = -1;
    QString m_fieldName;
    QString m_fieldType;
    QString m_fieldEtc;
    QString m_fieldWidth;
    qsizetype m_contentStart = 0;

    bool m_paramsSeen = false;
    int m_paramsDepth = -1;

    TPhase m_rows = TPhase::Before;
    int m_rowDataDepth = -1;
    bool m_rowOpen = false;
    int m_rowDepth = -1;
    int m_row = 1;
    int m_uncounted = 0;
    QHash<QString, int> m_columnByFoldedName;
    int m_rowStateColumn = -1;
    std::vector<int> m_foundInRow;
    int m_rowSerial = 0;
    int m_expected = 0;
    std::vector<bool> m_emptyValues;
    QString m_folded;
    std::vector<QStringView> m_rowValues;
    QString m_decoded;
    std::vector<std::pair<int, qsizetype>> m_decodedCells;
    bool m_rowCurrent = true;
    bool m_rowCounted = false;
};

void readWellFormed(TWorkspace& ws, QStringView text, TDialogs& dialogs, std::optional<qint64> gridLimit, bool rowsOnly)
{
    TWellFormedRead read(ws, text, dialogs, gridLimit, rowsOnly);
    readXml(text, read);
    read.finish();
}

// A declared encoding name as the writer may write it again: XML's EncName ([A-Za-z][A-Za-z0-9._-]*); ""
// for anything else, which a text that is not well-formed may hold.
QString writableEncodingName(const QString& name)
{
    static const QRegularExpression encName(QStringLiteral("^[A-Za-z][A-Za-z0-9._-]*$"));
    return encName.match(name).hasMatch() ? name : QString();
}

} // namespace

void readPacket(TWorkspace& workspace, const QString& text, TDialogs& dialogs, std::optional<qint64> gridBytesLimit)
{
    workspace.setXmlEncoding(writableEncodingName(declaredEncodingName(text)));
    TPacketScan(workspace, text, dialogs, gridBytesLimit).run();
}

void readPacketAsXml(TWorkspace& workspace, const QString& text, TDialogs& dialogs,
                     std::optional<qint64> gridBytesLimit)
{
    workspace.setXmlEncoding(writableEncodingName(declaredEncodingName(text)));
    readWellFormed(workspace, text, dialogs, gridBytesLimit, false);
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
