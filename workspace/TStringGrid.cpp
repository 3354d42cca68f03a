#include "TStringGrid.h"

#include <algorithm>

namespace torvane {

TStringGrid::TStringGrid(int colCount, int rowCount, int defaultColWidth)
    : m_colCount(std::max(colCount, 0)), m_defaultColWidth(defaultColWidth),
      m_rows(static_cast<size_t>(std::max(rowCount, 0)), TGridRow{std::vector<QString>(static_cast<size_t>(m_colCount)), {}}),
      m_colWidths(static_cast<size_t>(m_colCount), defaultColWidth)
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
        row.cells.resize(static_cast<size_t>(count));
    }
    m_colWidths.resize(static_cast<size_t>(count), m_defaultColWidth);
}

void TStringGrid::setRowCount(int count)
{
    m_rows.resize(static_cast<size_t>(std::max(count, 0)), emptyRow());
}

TGridRow TStringGrid::emptyRow() const
{
    return TGridRow{std::vector<QString>(static_cast<size_t>(m_colCount)), {}};
}

void TStringGrid::setCell(int col, int row, const QString& text)
{
    m_rows[static_cast<size_t>(row)].cells[static_cast<size_t>(col)] = text;
}

void TStringGrid::setRowContent(int row, const QString& text)
{
    m_rows[static_cast<size_t>(row)].content = text;
}

void TStringGrid::setColWidth(int col, int width)
{
    m_colWidths[static_cast<size_t>(col)] = width;
}

namespace {

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

void TStringGrid::moveColumn(int from, int to)
{
    if (from == to || from < 0 || to < 0 || from >= m_colCount || to >= m_colCount) {
        return;
    }
    for (auto& row : m_rows) {
        moveElement(row.cells, from, to);
    }
    moveElement(m_colWidths, from, to);
}

void TStringGrid::clearRows(int first)
{
    for (size_t r = static_cast<size_t>(std::max(first, 0)); r < m_rows.size(); ++r) {
        for (auto& text : m_rows[r].cells) {
            text.clear();
        }
        m_rows[r].content.clear();
    }
}

void TStringGrid::insertRows(int at, std::vector<TGridRow> rows)
{
    for (auto& row : rows) {
        row.cells.resize(static_cast<size_t>(m_colCount));
    }
    const auto position = m_rows.begin() + std::clamp(at, 0, rowCount());
    m_rows.insert(position, std::make_move_iterator(rows.begin()), std::make_move_iterator(rows.end()));
}

void TStringGrid::insertEmptyRows(int at, int count)
{
    const auto position = m_rows.begin() + std::clamp(at, 0, rowCount());
    m_rows.insert(position, static_cast<size_t>(std::max(count, 0)), emptyRow());
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
    for (auto& row : m_rows) {
        column.cells.push_back(std::move(row.cells[static_cast<size_t>(col)]));
        row.cells.erase(row.cells.begin() + col);
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
        m_rows[r].cells.insert(m_rows[r].cells.begin() + at, std::move(column.cells[r]));
    }
    m_colWidths.insert(m_colWidths.begin() + at, column.width);
    ++m_colCount;
}

} // namespace torvane
