#pragma once

#include "TCellValue.h"

#include <QString>

class QUndoStack;

namespace torvane {

class TEditTarget;

// The one place the value window reaches the workspace: a data cell's value and field, and a new value
// written as one undo step of the data page's stack. Cells are grid columns and rows (row 1 is the first
// data row).
class TValueCell {
public:
    TValueCell(TEditTarget& target, QUndoStack* stack) : m_target(target), m_stack(stack) {}

    bool exists(int col, int row) const;
    QString value(int col, int row) const;
    // Whether the cell holds an empty string rather than no value.
    bool isEmptyString(int col, int row) const;
    TValueField field(int col) const;
    // The name the packet gives the column's values.
    QString fieldName(int col) const;
    // Nothing is pushed when the cell holds `value` already.
    void write(int col, int row, const QString& value, const QString& undoText) const;

private:
    TEditTarget& m_target;
    QUndoStack* m_stack;
};

} // namespace torvane
