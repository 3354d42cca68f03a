#include "TRowRules.h"

#include "TCharacterReferences.h"
#include "TFailure.h"
#include "TMarkerSearch.h"
#include "TMemoryProbe.h"
#include "TMessageLanguage.h"

#include <algorithm>

namespace torvane {

namespace {

const QString RowStateName = QStringLiteral("RowState");

// What the memory guard counts for the data table: a QString's size a cell, and a vector, a heap block's
// overhead and the kept content a row. Rows keep their cells in one buffer and take less than this (a
// few bytes a cell beyond the characters), so the guard errs on the safe side; the figures stay as they are
// so that a packet refused once is refused again.
constexpr qint64 CellBytes = sizeof(QString);
constexpr qint64 RowBytes = sizeof(std::vector<QString>) + 16 + sizeof(QString);

// A data table this small is never refused, whatever memory is left.
constexpr qint64 SmallGridBytes = 64 * 1024 * 1024;

} // namespace

void TRowRules::start(const TWorkspace& ws, TNameIndex index)
{
    m_names = &ws.FieldList();
    m_fieldCount = ws.FieldCount();
    m_columns = static_cast<size_t>(ws.SG_Data().colCount());
    m_keys = std::move(index);
    m_keysIndexed = false;
    m_keyLengths.assign(1, false);
    const auto addKey = [this](const QString& name) {
        const auto length = static_cast<size_t>(name.size());
        if (m_keyLengths.size() <= length) {
            m_keyLengths.resize(length + 1, false);
        }
        m_keyLengths[length] = true;
    };
    for (int j = 0; j < m_fieldCount; ++j) {
        addKey((*m_names)[j]);
    }
    // The row state of a packet with a change log is looked up as one more key, unless a field has its name.
    m_stateKey = -1;
    if (TWorkspace::indexOfName(*m_names, RowStateName) < 0) {
        m_stateKey = m_fieldCount;
        addKey(RowStateName);
    }
    // The workspace takes no name equal to another with letter case ignored: each name is a key of its own.
    m_keyCount = m_stateKey < 0 ? m_fieldCount : m_fieldCount + 1;
    m_foundInRow.assign(static_cast<size_t>(m_fieldCount) + 1, 0);
    m_serial = 0;
}

const TNameIndex& TRowRules::keyIndex()
{
    if (!m_keysIndexed) {
        // The index the field adds left holds every name and nothing else; any other is built anew. The names
        // stay in the field list while the rows are read.
        if (m_keys.size() != m_fieldCount) {
            m_keys.reset(m_keyCount);
            for (int j = 0; j < m_fieldCount; ++j) {
                m_keys.insert((*m_names)[j], j);
            }
        }
        if (m_stateKey >= 0) {
            m_keys.insert(RowStateName, m_stateKey);
        }
        m_keysIndexed = true;
    }
    return m_keys;
}

void TRowRules::takeState(QStringView value, TRowValueForm form)
{
    bool ok = false;
    int state = 0;
    if (form == TRowValueForm::Plain) {
        state = value.toInt(&ok);
    } else {
        QString decoded;
        if (form == TRowValueForm::References) {
            appendDecodedRowValue(decoded, value);
        } else {
            appendAttributeValue(decoded, value);
        }
        state = decoded.toInt(&ok);
    }
    // Flag 1 marks an earlier version of a changed row, flag 2 a deleted row; anything else is a record.
    m_current = !ok || (state & 3) == 0;
}

void TRowRules::takeDecoded(int key, QStringView value, TRowValueForm form)
{
    m_decodedCells.push_back({key, m_decoded.size()});
    if (form == TRowValueForm::References) {
        appendDecodedRowValue(m_decoded, value);
    } else {
        appendAttributeValue(m_decoded, value);
    }
}

bool TRowRules::putRow(TWorkspace& ws, int row, QStringView content)
{
    ws.setDataRowCount(row + 1);
    if (!m_current) {
        ws.clearDataRows(row);
        return false;
    }
    // The decoded values are pointed into m_decoded now that it no longer moves; each runs to the next one's start.
    qsizetype decodedEnd = m_decoded.size();
    for (auto it = m_decodedCells.rbegin(); it != m_decodedCells.rend(); ++it) {
        m_values[static_cast<size_t>(it->first)] = QStringView(m_decoded).sliced(it->second, decodedEnd - it->second);
        decodedEnd = it->second;
    }
    // The grid copies the views into the row's one buffer.
    ws.setDataRowCells(row, m_values.data(), static_cast<int>(m_values.size()), m_anyEmpty ? &m_empty : nullptr);
    ws.setDataRowContent(row, content.toString());
    return true;
}

void TRowRules::endRows(TWorkspace& ws, int next)
{
    ws.setDataRowCount(std::max(next, 2));
    ws.setStandInRow(next == 1);
}

bool TRowRules::isRowElementAt(QStringView text, qsizetype at)
{
    // Compared unit by unit (ASCII letters fold by their 0x20 bit): this runs for every row of a packet.
    if (at < 0 || at + RowElementStart.size() >= text.size()) {
        return false;
    }
    const char16_t* s = text.utf16() + at;
    if (s[0] != u'<' || (s[1] | 0x20) != u'r' || (s[2] | 0x20) != u'o' || (s[3] | 0x20) != u'w') {
        return false;
    }
    const char16_t c = s[4];
    return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n' || c == u'/' || c == u'>';
}

void checkGridFits(const TWorkspace& ws, QStringView text, qsizetype from, std::optional<qint64> gridLimit)
{
    // Every row element begins with this, so it bounds their number (it also counts the end tag of the rows).
    const QStringView rowMarker = TRowRules::RowElementStart;
    const qint64 columns = std::max(ws.SG_Data().colCount(), 1);
    const qint64 perRow = columns * CellBytes + RowBytes;
    // Each row element takes at least the characters of its marker: a text too short to hold more rows than
    // surely fit needs neither a count nor the memory figure.
    const qint64 mostRows = (text.size() - from) / rowMarker.size() + 2;
    if (!gridLimit && mostRows <= SmallGridBytes / perRow) {
        return;
    }
    const qint64 maxRows = (gridLimit ? *gridLimit : gridMemoryBudget()) / perRow;
    if (mostRows <= maxRows) {
        return;
    }
    qint64 rows = 1;
    for (qsizetype g = findIgnoringCase(text, rowMarker, from, text.size()); g >= 0;
         g = findIgnoringCase(text, rowMarker, g + rowMarker.size(), text.size())) {
        if (++rows > maxRows) {
            throw TFailure(say(u"データが大きすぎてメモリに収まりません（%1 列 × %2 行以上）",
                               u"the data is too large to fit in memory (%1 columns × %2 rows or more)")
                               .arg(columns)
                               .arg(rows - 1));
        }
    }
}

} // namespace torvane
