#include "TStringGrid.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace torvane {

namespace {

// Inside this file an empty string travels among a row's views as an empty view into this array, so that
// moving, inserting and removing views carries it along; no view from outside points here. Everything
// outside sees an explicit flag instead. Not const, so that no constant the linker merges shares its address.
char16_t EmptyStringMark[1] = {u'\0'};

QStringView emptyStringView()
{
    return QStringView(EmptyStringMark, qsizetype(0));
}

bool isEmptyStringView(QStringView view)
{
    return view.utf16() == EmptyStringMark;
}

// `values` with each empty one that `emptyStrings` flags turned into the empty string's view.
std::vector<QStringView> withEmptyStrings(const QStringView* values, int count, const std::vector<bool>& emptyStrings)
{
    std::vector<QStringView> views(values, values + std::max(count, 0));
    for (size_t c = 0; c < views.size() && c < emptyStrings.size(); ++c) {
        if (emptyStrings[c] && views[c].isEmpty()) {
            views[c] = emptyStringView();
        }
    }
    return views;
}

// Most cells are a few characters: copied in blocks of four and a tail, where a call to memcpy would cost
// more than the copy.
void copyShort(char16_t* to, const char16_t* from, qsizetype n)
{
    for (; n >= 4; n -= 4, to += 4, from += 4) {
        std::memcpy(to, from, 4 * sizeof(char16_t));
    }
    switch (n) {
    case 3:
        to[2] = from[2];
        [[fallthrough]];
    case 2:
        to[1] = from[1];
        [[fallthrough]];
    case 1:
        to[0] = from[0];
        break;
    default:
        break;
    }
}

template <typename T> void moveElement(std::vector<T>& items, int from, int to)
{
    const auto first = items.begin();
    if (from < to) {
        std::rotate(first + from, first + from + 1, first + to + 1);
    } else if (to < from) {
        std::rotate(first + to, first + from, first + from + 1);
    }
}

} // namespace

// --- TGridRow --------------------------------------------------------------------------------------------

TGridRow::TGridRow(const std::vector<QString>& cells, QString content) : content(std::move(content))
{
    std::vector<QStringView> views(cells.begin(), cells.end());
    build<false>(views.data(), static_cast<int>(views.size()));
}

void TGridRow::views(QStringView* out, int count) const
{
    const int kept = std::min(count, size());
    if (kept > 0) {
        const auto* chars = m_buffer.constData() + 2 * (size() + 1);
        quint32 start = 0;
        for (int c = 0; c < kept; ++c) {
            const quint32 end = endOf(c + 1);
            out[c] = QStringView(chars + start, end - start);
            start = end;
        }
    }
    std::fill(out + std::max(kept, 0), out + std::max(count, 0), QStringView());
}

std::vector<QStringView> TGridRow::markedViews(int count) const
{
    std::vector<QStringView> out(static_cast<size_t>(std::max(count, 0)));
    views(out.data(), count);
    const int kept = std::min(count, size());
    for (int c = 0; c < kept; ++c) {
        if (word(c + 1) & EmptyStringBit) {
            out[static_cast<size_t>(c)] = emptyStringView();
        }
    }
    return out;
}

std::vector<QString> TGridRow::cells(int count) const
{
    std::vector<QString> out(static_cast<size_t>(std::max(count, 0)));
    const int kept = std::min(count, size());
    for (int c = 0; c < kept; ++c) {
        const QStringView text = cell(c);
        if (!text.isEmpty()) {
            out[static_cast<size_t>(c)] = text.toString();
        }
    }
    return out;
}

void TGridRow::setCells(const QStringView* values, int count, const std::vector<bool>* emptyStrings)
{
    if (emptyStrings) {
        const std::vector<QStringView> views = withEmptyStrings(values, count, *emptyStrings);
        build<true>(views.data(), static_cast<int>(views.size()));
    } else {
        build<false>(values, count);
    }
}

template <bool Marked> void TGridRow::build(const QStringView* values, int count)
{
    // Cells without value at the end are not kept: they read as such anyway.
    while (count > 0 && values[count - 1].isEmpty() && !(Marked && isEmptyStringView(values[count - 1]))) {
        --count;
    }
    if (count == 0) {
        m_buffer = QString();
        return;
    }
    const qsizetype header = 2 * (static_cast<qsizetype>(count) + 1);
    qsizetype total = 0;
    for (int c = 0; c < count; ++c) {
        total += values[c].size();
    }
    if (total > qsizetype(EndMask)) {
        // The end words have 31 bits for the end; a row this long could not be held in memory anyway.
        throw std::bad_alloc();
    }
    // Built aside first: the values may be views into this row.
    QString buffer(header + total, Qt::Uninitialized);
    auto* words = reinterpret_cast<char16_t*>(buffer.data());
    char16_t* p = words + header;
    quint32 end = 0;
    quint32 marks = 0;
    const auto putWord = [&](int i, quint32 value) { std::memcpy(words + 2 * i, &value, sizeof value); };
    for (int c = 0; c < count; ++c) {
        const QStringView value = values[c];
        const qsizetype n = value.size();
        if (n > 16) {
            std::memcpy(p + end, value.utf16(), static_cast<size_t>(n) * sizeof(char16_t));
        } else {
            copyShort(p + end, value.utf16(), n);
        }
        end += static_cast<quint32>(n);
        if constexpr (Marked) {
            const quint32 mark = n == 0 && isEmptyStringView(value) ? EmptyStringBit : 0;
            marks |= mark;
            putWord(c + 1, end | mark);
        } else {
            putWord(c + 1, end);
        }
    }
    putWord(0, static_cast<quint32>(count) | marks);
    m_buffer = std::move(buffer);
}

void TGridRow::setCell(int col, QStringView text, bool emptyString)
{
    emptyString = emptyString && text.isEmpty();
    if (col < 0 || (col >= size() && text.isEmpty() && !emptyString)) {
        return;
    }
    std::vector<QStringView> views = markedViews(std::max(size(), col + 1));
    views[static_cast<size_t>(col)] = emptyString ? emptyStringView() : text;
    build<true>(views.data(), static_cast<int>(views.size()));
}

void TGridRow::truncate(int count)
{
    if (count < size()) {
        const std::vector<QStringView> views = markedViews(std::max(count, 0));
        build<true>(views.data(), static_cast<int>(views.size()));
    }
}

void TGridRow::moveCell(int from, int to, int count)
{
    if (std::max(from, to) >= count || std::min(from, to) >= size()) {
        // Every cell from the lower position on is empty: moving them changes nothing.
        return;
    }
    std::vector<QStringView> views = markedViews(count);
    moveElement(views, from, to);
    build<true>(views.data(), count);
}

void TGridRow::removeCell(int col)
{
    if (col < 0 || col >= size()) {
        return;
    }
    std::vector<QStringView> views = markedViews(size());
    views.erase(views.begin() + col);
    build<true>(views.data(), static_cast<int>(views.size()));
}

void TGridRow::insertCell(int col, QStringView text, bool emptyString)
{
    emptyString = emptyString && text.isEmpty();
    if (col < 0 || (col >= size() && text.isEmpty() && !emptyString)) {
        return;
    }
    std::vector<QStringView> views = markedViews(std::max(size(), col));
    views.insert(views.begin() + col, emptyString ? emptyStringView() : text);
    build<true>(views.data(), static_cast<int>(views.size()));
}

bool TGridRow::isBlank(int count) const
{
    const int kept = std::min(count, size());
    if (kept <= 0) {
        return true;
    }
    if (endOf(kept) != 0) {
        return false;
    }
    if (!holdsEmptyString()) {
        return true;
    }
    for (int c = 1; c <= kept; ++c) {
        if (word(c) & EmptyStringBit) {
            return false;
        }
    }
    return true;
}

// --- TStringGrid -----------------------------------------------------------------------------------------

TStringGrid::TStringGrid(int colCount, int rowCount, int defaultColWidth)
    : m_colCount(std::max(colCount, 0)), m_defaultColWidth(defaultColWidth),
      m_rows(static_cast<size_t>(std::max(rowCount, 0))), m_colWidths(static_cast<size_t>(m_colCount), defaultColWidth)
{
}

void TStringGrid::setColCount(int count)
{
    count = std::max(count, 0);
    if (count == m_colCount) {
        return;
    }
    m_colCount = count;
    for (auto& row : m_rows) {
        row.truncate(count);
    }
    m_colWidths.resize(static_cast<size_t>(count), m_defaultColWidth);
}

void TStringGrid::setRowCount(int count)
{
    m_rows.resize(static_cast<size_t>(std::max(count, 0)));
}

void TStringGrid::reserve(int colCount, int rowCount)
{
    m_colWidths.reserve(static_cast<size_t>(std::max(colCount, 0)));
    m_rows.reserve(static_cast<size_t>(std::max(rowCount, 0)));
}

void TStringGrid::setCell(int col, int row, const QString& text, bool emptyString)
{
    if (col < m_colCount) {
        m_rows[static_cast<size_t>(row)].setCell(col, text, emptyString);
    }
}

void TStringGrid::setRowCells(int row, const QStringView* values, int count, const std::vector<bool>* emptyStrings)
{
    m_rows[static_cast<size_t>(row)].setCells(values, std::clamp(count, 0, m_colCount), emptyStrings);
}

void TStringGrid::setCells(int row, int first, const QString* values, int count, const std::vector<bool>* emptyStrings)
{
    count = std::min(count, m_colCount - first);
    if (first < 0 || count <= 0) {
        return;
    }
    TGridRow& target = m_rows[static_cast<size_t>(row)];
    std::vector<QStringView> views = target.markedViews(std::max(target.size(), first + count));
    for (int i = 0; i < count; ++i) {
        const bool emptyString = emptyStrings && static_cast<size_t>(i) < emptyStrings->size() &&
                                 (*emptyStrings)[static_cast<size_t>(i)] && values[i].isEmpty();
        views[static_cast<size_t>(first + i)] = emptyString ? emptyStringView() : QStringView(values[i]);
    }
    target.build<true>(views.data(), static_cast<int>(views.size()));
}

void TStringGrid::setRowContent(int row, const QString& text)
{
    m_rows[static_cast<size_t>(row)].content = text;
}

void TStringGrid::setColWidth(int col, int width)
{
    m_colWidths[static_cast<size_t>(col)] = width;
}

void TStringGrid::moveColumn(int from, int to)
{
    if (from == to || from < 0 || to < 0 || from >= m_colCount || to >= m_colCount) {
        return;
    }
    for (auto& row : m_rows) {
        row.moveCell(from, to, m_colCount);
    }
    moveElement(m_colWidths, from, to);
}

void TStringGrid::clearRows(int first)
{
    for (size_t r = static_cast<size_t>(std::max(first, 0)); r < m_rows.size(); ++r) {
        m_rows[r] = TGridRow();
    }
}

void TStringGrid::insertRows(int at, std::vector<TGridRow> rows)
{
    for (auto& row : rows) {
        row.truncate(m_colCount);
    }
    const auto position = m_rows.begin() + std::clamp(at, 0, rowCount());
    m_rows.insert(position, std::make_move_iterator(rows.begin()), std::make_move_iterator(rows.end()));
}

void TStringGrid::insertEmptyRows(int at, int count)
{
    const auto position = m_rows.begin() + std::clamp(at, 0, rowCount());
    m_rows.insert(position, static_cast<size_t>(std::max(count, 0)), TGridRow());
}

std::vector<TGridRow> TStringGrid::takeRows(int first, int count)
{
    first = std::clamp(first, 0, rowCount());
    const auto begin = m_rows.begin() + first;
    const auto end = begin + std::clamp(count, 0, rowCount() - first);
    std::vector<TGridRow> taken(std::make_move_iterator(begin), std::make_move_iterator(end));
    m_rows.erase(begin, end);
    return taken;
}

std::vector<TGridRow> TStringGrid::copyRows(int first, int count) const
{
    first = std::clamp(first, 0, rowCount());
    const auto begin = m_rows.begin() + first;
    return std::vector<TGridRow>(begin, begin + std::clamp(count, 0, rowCount() - first));
}

TGridColumn TStringGrid::takeColumn(int col)
{
    TGridColumn column;
    if (col < 0 || col >= m_colCount) {
        return column;
    }
    column.cells.reserve(m_rows.size());
    for (size_t r = 0; r < m_rows.size(); ++r) {
        TGridRow& row = m_rows[r];
        const QStringView text = row.cell(col);
        column.cells.push_back(text.isEmpty() ? QString() : text.toString());
        if (row.isEmptyString(col)) {
            column.emptyStrings.resize(m_rows.size());
            column.emptyStrings[r] = true;
        }
        row.removeCell(col);
    }
    column.width = m_colWidths[static_cast<size_t>(col)];
    m_colWidths.erase(m_colWidths.begin() + col);
    --m_colCount;
    return column;
}

void TStringGrid::insertColumn(int at, TGridColumn column)
{
    at = std::clamp(at, 0, m_colCount);
    column.cells.resize(m_rows.size());
    for (size_t r = 0; r < m_rows.size(); ++r) {
        m_rows[r].insertCell(at, column.cells[r], r < column.emptyStrings.size() && column.emptyStrings[r]);
    }
    m_colWidths.insert(m_colWidths.begin() + at, column.width);
    ++m_colCount;
}

} // namespace torvane
