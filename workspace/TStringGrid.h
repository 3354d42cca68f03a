#pragma once

#include <QString>

#include <vector>

namespace torvane {

// One row of a grid: all its columns, and the text kept with it that no column shows (the content of the
// element the row was read from, written back with it). Rows are inserted, removed and copied whole, so the
// kept text travels with its cells.
struct TGridRow {
    std::vector<QString> cells;
    QString content;
};

// One column of a grid taken out whole: its cells from row 0 (the header) down, and its width.
struct TGridColumn {
    std::vector<QString> cells;
    int width = 0;
};

// A grid of string cells addressed as (column, row), both from 0; row 0 is the header row. Column widths
// are kept with their columns, so that moving a column carries its cells, header and width together.
class TStringGrid {
public:
    TStringGrid(int colCount, int rowCount, int defaultColWidth);

    int colCount() const { return m_colCount; }
    int rowCount() const { return static_cast<int>(m_rows.size()); }
    // New columns and rows are empty; new columns get the default width. Existing cells are kept.
    void setColCount(int count);
    void setRowCount(int count);

    const QString& cell(int col, int row) const
    {
        return m_rows[static_cast<size_t>(row)].cells[static_cast<size_t>(col)];
    }
    void setCell(int col, int row, const QString& text);
    // The cells of one row, columns 0 .. colCount - 1.
    const std::vector<QString>& row(int row) const { return m_rows[static_cast<size_t>(row)].cells; }
    // Text kept with a row that no column shows: the content of the element the row was read from, written
    // back with it. It grows, shrinks and empties with its row; moving a column leaves it alone.
    const QString& rowContent(int row) const { return m_rows[static_cast<size_t>(row)].content; }
    void setRowContent(int row, const QString& text);

    int colWidth(int col) const { return m_colWidths[static_cast<size_t>(col)]; }
    void setColWidth(int col, int width);
    int defaultColWidth() const { return m_defaultColWidth; }

    // Moves column `from` to position `to`; the columns between shift by one. Cells of every row (header
    // included) and the width move with it.
    void moveColumn(int from, int to);
    // Empties every cell, and the kept content, of rows first .. rowCount - 1.
    void clearRows(int first);

    // Inserts rows before row `at` (rowCount appends); each row's cells are cut or padded to the column count.
    void insertRows(int at, std::vector<TGridRow> rows);
    void insertEmptyRows(int at, int count);
    // Removes rows first .. first + count - 1 and returns them.
    std::vector<TGridRow> takeRows(int first, int count);
    // Copies of rows first .. first + count - 1.
    std::vector<TGridRow> copyRows(int first, int count) const;
    // Removes column `col` with its cells and width, and puts one back at `at`.
    TGridColumn takeColumn(int col);
    void insertColumn(int at, TGridColumn column);

private:
    int m_colCount;
    int m_defaultColWidth;
    TGridRow emptyRow() const;

    std::vector<TGridRow> m_rows;
    std::vector<int> m_colWidths;
};

} // namespace torvane
