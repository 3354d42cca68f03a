#include "TStringGrid.h"

#include <algorithm>

namespace torvane {

TStringGrid::TStringGrid(int colCount, int rowCount, int defaultColWidth)
    : m_colCount(std::max(colCount, 0)), m_defaultColWidth(defaultColWidth),
      m_rows(static_cast<size_t>(std::max(rowCount, 0)), std::vector<QString>(static_cast<size_t>(m_colCount))),
      m_rowContents(m_rows.size()),
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
    for (auto& cells : m_rows) {
        cells.resize(static_cast<size_t>(count));
    }
    m_colWidths.resize(static_cast<size_t>(count), m_defaultColWidth);
}

void TStringGrid::setRowCount(int count)
{
    m_rows.resize(static_cast<size_t>(std::max(count, 0)), std::vector<QString>(static_cast<size_t>(m_colCount)));
    m_rowContents.resize(m_rows.size());
}

void TStringGrid::setCell(int col, int row, const QString& text)
{
    m_rows[static_cast<size_t>(row)][static_cast<size_t>(col)] = text;
}

void TStringGrid::setRowContent(int row, const QString& text)
{
    m_rowContents[static_cast<size_t>(row)] = text;
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
    for (auto& cells : m_rows) {
        moveElement(cells, from, to);
    }
    moveElement(m_colWidths, from, to);
}

void TStringGrid::clearRows(int first)
{
    for (size_t r = static_cast<size_t>(std::max(first, 0)); r < m_rows.size(); ++r) {
        for (auto& text : m_rows[r]) {
            text.clear();
        }
        m_rowContents[r].clear();
    }
}

} // namespace torvane
