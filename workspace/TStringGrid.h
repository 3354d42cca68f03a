#pragma once

#include <QString>
#include <QStringView>

#include <cstring>
#include <vector>

namespace torvane {

// One row of a grid: its cells, and the text kept with it that no column shows (the content of the element
// the row was read from, written back with it). Rows are inserted, removed and copied whole, so the kept
// text travels with its cells.
//
// A million-row packet holds ten million cells, so a row keeps its cells' characters one after another in a
// single buffer, behind the end of each cell: one allocation a row instead of one a cell. Cells past the
// last one kept are empty; a row of empty cells allocates nothing.
//
// An empty cell is either no value at all (the packet has no attribute for it) or an empty string (it has
// one, `NAME=""`); the dataset library reads the first as null and the second as a string, so the row keeps
// which one each empty cell is. The mark is a bit of the cell's end word, so it costs no memory and
// travels with the cell wherever the cell is copied or moved. It counts only for an empty cell.
class TGridRow {
public:
    TGridRow() = default;
    explicit TGridRow(const std::vector<QString>& cells, QString content = QString());

    // How many cells the row holds; cells from there on read as empty.
    int size() const { return m_buffer.isEmpty() ? 0 : static_cast<int>(endOf(0)); }
    // Whether any cell holds an empty string: work over whole rows can then leave the question out for
    // nearly every row.
    bool holdsEmptyString() const { return !m_buffer.isEmpty() && (word(0) & EmptyStringBit) != 0; }
    QStringView cell(int col) const
    {
        const int count = size();
        if (col < 0 || col >= count) {
            return {};
        }
        const quint32 start = col == 0 ? 0 : endOf(col);
        return QStringView(m_buffer.constData() + 2 * (count + 1) + start, endOf(col + 1) - start);
    }
    // Whether cell `col` holds an empty string rather than no value.
    bool isEmptyString(int col) const { return col >= 0 && col < size() && (word(col + 1) & EmptyStringBit) != 0; }
    // The characters of all cells, one after another in column order: every cell() is a view into it.
    QStringView chars() const
    {
        const int count = size();
        return count == 0 ? QStringView() : QStringView(m_buffer.constData() + 2 * (count + 1), endOf(count));
    }
    // Views of cells 0 .. count - 1 into out[0 .. count - 1], for work over a whole row. An empty string and
    // no value both come out as empty views: isEmptyString() tells them apart.
    void views(QStringView* out, int count) const;
    // Cells 0 .. count - 1 as strings.
    std::vector<QString> cells(int count) const;
    // `emptyString` counts only when `text` is empty: the cell then holds an empty string, not no value.
    void setCell(int col, QStringView text, bool emptyString = false);
    // Replaces all cells by `count` values, one copy into a buffer of the right size. `emptyStrings`, when
    // given, holds a flag for each value: an empty value flagged is an empty string, else no value.
    void setCells(const QStringView* values, int count, const std::vector<bool>* emptyStrings = nullptr);
    // Keeps cells 0 .. count - 1 only.
    void truncate(int count);
    // Moves cell `from` to position `to` of the first `count` cells; the cells between shift by one.
    void moveCell(int from, int to, int count);
    // Removes cell `col`, or puts `text` (an empty string when `emptyString` and `text` is empty) in before it.
    void removeCell(int col);
    void insertCell(int col, QStringView text, bool emptyString = false);
    // Whether cells 0 .. count - 1 hold no value; an empty string is a value.
    bool isBlank(int count) const;

    QString content;

private:
    friend class TStringGrid;

    // The top bit of a cell's end word marks an empty string; the other 31 bits are the end. A row holds
    // fewer characters than that (setCells refuses more, as running out of memory). The top bit of the
    // count word says whether any cell is marked.
    static constexpr quint32 EmptyStringBit = 0x80000000u;
    static constexpr quint32 EndMask = 0x7fffffffu;

    // Views of the first `count` cells with each empty string's mark kept (see TStringGrid.cpp), for the
    // operations that rebuild the row from its own cells.
    std::vector<QStringView> markedViews(int count) const;
    // Builds the row from `count` views; with `Marked`, an empty string is a marked view. The reader's rows
    // come without marks (it flags its few empty strings apart), and skip the question for every cell.
    template <bool Marked> void build(const QStringView* values, int count);

    // One allocation holds the whole row: the cell count and the end of each cell as 32-bit words (two
    // UTF-16 units each), then the characters of all cells. Empty when no cell holds anything.
    QString m_buffer;
    quint32 endOf(int i) const { return word(i) & EndMask; }
    quint32 word(int i) const
    {
        quint32 value;
        std::memcpy(&value, m_buffer.constData() + 2 * i, sizeof value);
        return value;
    }
};

// One column of a grid taken out whole: its cells from row 0 (the header) down, and its width.
struct TGridColumn {
    std::vector<QString> cells;
    // Which empty cells are empty strings, one flag a cell; empty when none is.
    std::vector<bool> emptyStrings;
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
    // Makes room for this many columns and rows, so that adding them one at a time moves nothing.
    void reserve(int colCount, int rowCount);

    // A view into the grid: valid until the row is next changed.
    QStringView cellView(int col, int row) const { return m_rows[static_cast<size_t>(row)].cell(col); }
    QString cell(int col, int row) const
    {
        const QStringView text = cellView(col, row);
        return text.isEmpty() ? QString() : text.toString();
    }
    // Whether the cell holds an empty string rather than no value.
    bool isEmptyString(int col, int row) const { return m_rows[static_cast<size_t>(row)].isEmptyString(col); }
    // `emptyString` counts only when `text` is empty (see TGridRow).
    void setCell(int col, int row, const QString& text, bool emptyString = false);
    // Sets the cells of a row: values[c] for columns 0 .. count - 1, the rest empty; `emptyStrings` as in
    // TGridRow::setCells.
    void setRowCells(int row, const QStringView* values, int count, const std::vector<bool>* emptyStrings = nullptr);
    // Sets cells first .. first + count - 1 of a row to values[0 .. count - 1], rebuilding the row once;
    // `emptyStrings`, when given, flags values[i] as an empty string.
    void setCells(int row, int first, const QString* values, int count,
                  const std::vector<bool>* emptyStrings = nullptr);
    // The cells of one row, columns 0 .. colCount - 1.
    std::vector<QString> row(int row) const { return m_rows[static_cast<size_t>(row)].cells(m_colCount); }
    const TGridRow& gridRow(int row) const { return m_rows[static_cast<size_t>(row)]; }
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

    std::vector<TGridRow> m_rows;
    std::vector<int> m_colWidths;
};

} // namespace torvane
