#pragma once

#include "widgets/TFindBar.h"

namespace torvane {

class TDataEditing;
class TDataGrid;
class TWorkspace;

// Finding and replacing in the data table's values: cell by cell along the rows from the current cell, a
// match being a part of the value or the whole value. Replacements are the editing's undo steps; large
// values ("<BLOB>") are never matched.
class TDataFind : public TFindTarget {
public:
    TDataFind(TWorkspace& workspace, TDataGrid* grid, TDataEditing& editing);

    bool find(const QString& text, bool backward, Qt::CaseSensitivity cs, bool wrap) override;
    bool replaceFound(const QString& text, const QString& replacement, Qt::CaseSensitivity cs) override;
    int replaceAll(const QString& text, const QString& replacement, Qt::CaseSensitivity cs) override;
    bool hasCells() const override { return true; }
    void setWholeCells(bool whole) override { m_wholeCells = whole; }
    // Rows stand for lines.
    int lineCount() const override;
    int cursorLine() const override;
    void goToLine(int line) override;

private:
    int columns() const;
    int rows() const;
    bool matches(int column, int row, const QString& text, Qt::CaseSensitivity cs) const;
    QString replaced(int column, int row, const QString& text, const QString& replacement,
                     Qt::CaseSensitivity cs) const;
    void selectCell(int column, int row);

    TWorkspace& m_workspace;
    TDataGrid* m_grid;
    TDataEditing& m_editing;
    bool m_wholeCells = false;
};

} // namespace torvane
