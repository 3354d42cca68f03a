#include "TPacketScan.h"

#include "TSimd.h"

#include <algorithm>
#include <array>

namespace torvane {

namespace {

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

// Where the scan goes on after a quoted value: past its closing quote and the character after it (the space or
// ">" that follows a value). A value without closing quote leaves no such place, and the next marker is looked
// for from the text's second character on.
qsizetype after(const TQuoted& value)
{
    return value.closing == NotFound ? 1 : value.closing + 2;
}

} // namespace

TPacketScan::TPacketScan(TWorkspace& workspace, const QString& text, TDialogs& dialogs, std::optional<qint64> gridLimit)
    : m_ws(workspace), m_dialogs(dialogs), m_text(text), m_length(text.size()), m_quote(m_text, u"\""),
      m_xml(m_text, XmlMarker), m_packet(m_text, PacketMarker), m_fields(m_text, FieldsMarker),
      m_field(m_text, FieldMarker), m_end(m_text, u"/>"), m_params(m_text, ParamsMarker),
      m_defaultOrder(m_text, DefaultOrderMarker), m_primaryKey(m_text, PrimaryKeyMarker),
      m_rowData(m_text, RowDataMarker), m_row(m_text, TRowRules::RowElementStart), m_fieldNesting(m_text, QStringLiteral("FIELD")),
      m_rowNesting(m_text, QStringLiteral("ROW")), m_gridLimit(gridLimit)
{
}

qsizetype TPacketScan::keysFrom(qsizetype params)
{
    // Past the marker and the character after it. Without settings the keys are looked for in the whole text,
    // from as far in as the marker is long: no key can be written before the first tag's name.
    return params == NotFound ? ParamsMarker.size() : params + ParamsMarker.size() + 1;
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
        y = m_packet.find(after(xmlQuoted));
    }
    if (y == NotFound) {
        m_ws.startRead(xmlVersion, std::nullopt);
        return true;
    }
    const TQuoted packetVersion = quoted(y + PacketMarker.size());
    m_ws.startRead(xmlVersion, packetVersion.value.toString());

    const qsizetype r = m_fields.find(after(packetVersion));
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
        m_fieldNames = batch.takeNameIndex();
    }

    const qsizetype params = m_params.find(p);
    const qsizetype s0 = keysFrom(params);
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
            // An empty name ends the fields: the settings are looked for after it, or from the text's start when
            // the name has no closing quote either.
            return name.closing == NotFound ? 0 : name.closing + 1;
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
        if (closing == NotFound || isOwnParamsName(name)) {
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

qsizetype TPacketScan::findRowElement(qsizetype from)
{
    for (qsizetype g = m_row.find(from); g != NotFound; g = m_row.find(g + 1)) {
        if (TRowRules::isRowElementAt(m_text, g)) {
            return g;
        }
    }
    return NotFound;
}

TPacketScan::TRowElement TPacketScan::rowElement(qsizetype g)
{
    // Nearly every row element ends with "/>" and holds no ">" before it: its first ">" is then the end, found
    // in one scan. No earlier "/>" can come before that ">", nor a ">" that would end a start tag.
    const qsizetype values = g + TRowRules::RowElementStart.size();
    const qsizetype firstGt = m_text.indexOf(u'>', values);
    if (firstGt > values && m_text[firstGt - 1] == u'/') {
        return {firstGt - 1, firstGt, {}};
    }
    const qsizetype e = m_end.find(values);
    // In a text that is not well-formed nothing tells a "/>" inside a value from the element's end: the element
    // ends at the first "/>", or with the text, and a value holding one is cut there.
    TRowElement row{e == NotFound ? m_length : e, e == NotFound ? NotFound : e + 1, {}};
    // A ">" outside quoted values before that ends a start tag with content, when its end tag follows.
    const qsizetype gt = m_text.first(row.valuesEnd).indexOf(u'>', values);
    if (gt == NotFound) {
        return row;
    }
    // The tag is scanned from the end of its name.
    const TTagEnd tag = scanStartTag(m_text, values, row.valuesEnd);
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
    m_rows.start(m_ws, std::move(m_fieldNames));
    // The character right after the marker is passed over with it.
    qsizetype q = rowData + RowDataMarker.size() + 1;
    checkGridFits(m_ws, m_text, q, m_gridLimit);
    int i = 1;
    for (;;) {
        const qsizetype g = findRowElement(q);
        if (plain && !plainBetweenRows(q, g)) {
            return false;
        }
        if (g == NotFound) {
            break;
        }
        const TRowElement row = rowElement(g);
        const qsizetype attributes = g + TRowRules::RowElementStart.size();
        if (plain) {
            // In the plain form the attributes follow one space; a row element without any has none.
            const QChar after = m_text[attributes];
            const bool none = after == u'/' || after == u'>';
            if (row.next == NotFound || (!none && after != u' ') ||
                !readPlainRowValues(none ? attributes : attributes + 1, none ? attributes : row.valuesEnd)) {
                return false;
            }
        } else {
            readRowValues(attributes, row.valuesEnd);
        }
        if (m_rows.putRow(m_ws, i, row.content)) {
            ++i;
        }
        // Without an end the cursor would go back to the start of the text; the last row took its values
        // from the rest of the text instead.
        if (row.next == NotFound) {
            break;
        }
        q = row.next;
    }
    TRowRules::endRows(m_ws, i);
    return true;
}

void TPacketScan::readRowValues(qsizetype begin, qsizetype end)
{
    const int keys = m_rows.keyCount();
    const QStringView element = m_text.first(end);
    m_rows.beginRow();
    int found = 0;
    // No `="` looked for yet: every position lies after this one.
    qsizetype nextEquals = NotFound;

    // Takes the value at `v` for `key`, whose name starts at `k`, and returns the position the key scan goes
    // on after: the value's closing quote. Names hold no double quote, so a key starting inside the value
    // would need the `="` that the closing quote ends; only a value ending in "=" has one, and then (or when
    // the value has no closing quote) the scan goes on right after `k`.
    const auto take = [&](int key, qsizetype k, qsizetype v) {
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
                m_rows.claim(key);
                return k;
            }
            reference = reference || QStringView(text + shortEnd, closing - shortEnd).contains(u'&');
        }
        m_rows.take(key, m_text.mid(v, closing - v), reference ? TRowValueForm::References : TRowValueForm::Plain);
        return element[closing - 1] == u'=' ? k : closing;
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
            break;
        }
        const int key = m_rows.keyOf(m_text.mid(k, nextEquals - k));
        if (key >= 0) {
            k = take(key, k, nextEquals + 2);
        }
    }
}

} // namespace torvane
