#include "datapage/TDataFind.h"

#include "TRowValue.h"
#include "TWorkspace.h"
#include "commands/TGridRows.h"
#include "datapage/TDataEditing.h"
#include "datapage/TDataGrid.h"

#include <QItemSelectionModel>

#include <algorithm>

namespace torvane {

TDataFind::TDataFind(TWorkspace& workspace, TDataGrid* grid, TDataEditing& editing)
    : m_workspace(workspace), m_grid(grid), m_editing(editing)
{
}

int TDataFind::columns() const
{
    return m_workspace.FieldCount();
}

int TDataFind::rows() const
{
    return std::max(0, m_workspace.SG_Data().rowCount() - 1);
}

bool TDataFind::matches(int column, int row, const QString& text, Qt::CaseSensitivity cs) const
{
    const QStringView value = m_workspace.SG_Data().cellView(column, row);
    if (isBlobValue(value)) {
        return false;
    }
    return m_wholeCells ? value.compare(text, cs) == 0 : value.contains(text, cs);
}

QString TDataFind::replaced(int column, int row, const QString& text, const QString& replacement,
                            Qt::CaseSensitivity cs) const
{
    if (m_wholeCells) {
        return replacement;
    }
    return m_workspace.SG_Data().cell(column, row).replace(text, replacement, cs);
}

void TDataFind::selectCell(int column, int row)
{
    const QModelIndex index = m_grid->model()->index(viewRowOf(row), column);
    m_grid->setCurrentIndex(index);
    m_grid->selectionModel()->select(index, QItemSelectionModel::ClearAndSelect);
    m_grid->scrollTo(index);
}

bool TDataFind::find(const QString& text, bool backward, Qt::CaseSensitivity cs, bool wrap)
{
    const long long width = columns();
    const long long count = width * rows();
    if (text.isEmpty() || count == 0) {
        return false;
    }
    // Cells are numbered along the rows; the search starts next to the current cell.
    const QModelIndex current = m_grid->currentIndex();
    const long long at = current.isValid() ? current.row() * width + std::min<long long>(current.column(), width - 1)
                                           : (backward ? count : -1);
    for (long long step = 1; step <= count; ++step) {
        long long cell = backward ? at - step : at + step;
        if (cell < 0 || cell >= count) {
            if (!wrap) {
                return false;
            }
            cell = (cell % count + count) % count;
        }
        const int column = static_cast<int>(cell % width);
        const int row = gridRowOf(static_cast<int>(cell / width));
        if (matches(column, row, text, cs)) {
            selectCell(column, row);
            return true;
        }
    }
    return false;
}

bool TDataFind::replaceFound(const QString& text, const QString& replacement, Qt::CaseSensitivity cs)
{
    const QModelIndex current = m_grid->currentIndex();
    if (text.isEmpty() || !current.isValid() || current.column() >= columns() ||
        !matches(current.column(), gridRowOf(current), text, cs)) {
        return false;
    }
    TCellBlock block;
    block.col = current.column();
    block.row = gridRowOf(current);
    block.values = {{replaced(block.col, block.row, text, replacement, cs)}};
    m_editing.writeCells(QStringLiteral("置換"), std::move(block));
    return true;
}

int TDataFind::replaceAll(const QString& text, const QString& replacement, Qt::CaseSensitivity cs)
{
    if (text.isEmpty()) {
        return 0;
    }
    // The rectangle around the matches is written as one block, the other cells in it as they are.
    std::vector<std::pair<int, int>> found;
    int left = columns();
    int right = -1;
    for (int row = 1; row <= rows(); ++row) {
        for (int column = 0; column < columns(); ++column) {
            if (matches(column, row, text, cs)) {
                found.emplace_back(column, row);
                left = std::min(left, column);
                right = std::max(right, column);
            }
        }
    }
    if (found.empty()) {
        return 0;
    }
    const int top = found.front().second;
    const int bottom = found.back().second;
    TCellBlock block;
    block.col = left;
    block.row = top;
    block.values.reserve(static_cast<size_t>(bottom - top + 1));
    for (int row = top; row <= bottom; ++row) {
        auto& values = block.values.emplace_back();
        for (int column = left; column <= right; ++column) {
            values.push_back(m_workspace.SG_Data().cell(column, row));
            if (m_workspace.SG_Data().isEmptyString(column, row)) {
                // An empty string in the rectangle stays one; a match is never empty.
                block.emptyStrings.resize(static_cast<size_t>(bottom - top + 1));
                auto& flags = block.emptyStrings[static_cast<size_t>(row - top)];
                flags.resize(static_cast<size_t>(right - left + 1));
                flags[static_cast<size_t>(column - left)] = true;
            }
        }
    }
    for (const auto& [column, row] : found) {
        block.values[static_cast<size_t>(row - top)][static_cast<size_t>(column - left)] =
            replaced(column, row, text, replacement, cs);
    }
    m_editing.writeCells(QStringLiteral("すべて置換"), std::move(block));
    return static_cast<int>(found.size());
}

int TDataFind::lineCount() const
{
    return rows();
}

int TDataFind::cursorLine() const
{
    return std::max(0, m_grid->currentIndex().row()) + 1;
}

void TDataFind::goToLine(int line)
{
    if (line >= 1 && line <= rows()) {
        selectCell(std::max(0, m_grid->currentIndex().column()), line);
    }
}

} // namespace torvane
