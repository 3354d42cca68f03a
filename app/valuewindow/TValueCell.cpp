#include "valuewindow/TValueCell.h"

#include "commands/TEditCommands.h"

#include <QUndoStack>

namespace torvane {

bool TValueCell::exists(int col, int row) const
{
    const TStringGrid& grid = m_target.workspace().SG_Data();
    return col >= 0 && row >= 1 && col < grid.colCount() && row < grid.rowCount();
}

QString TValueCell::value(int col, int row) const
{
    return exists(col, row) ? m_target.workspace().SG_Data().cell(col, row) : QString();
}

bool TValueCell::isEmptyString(int col, int row) const
{
    return exists(col, row) && m_target.workspace().SG_Data().isEmptyString(col, row);
}

TValueField TValueCell::field(int col) const
{
    const TWorkspace& ws = m_target.workspace();
    // Column c holds the values of field c + 1, whatever its header says.
    if (col < 0 || col >= ws.FieldCount()) {
        return {};
    }
    return TValueField{TypeCodeOf(ws, col + 1), ws.SG_Field().cell(FieldEtcColumn, col + 1)};
}

QString TValueCell::fieldName(int col) const
{
    return m_target.workspace().FieldList().value(col);
}

void TValueCell::write(int col, int row, const QString& value, const QString& undoText) const
{
    if (!exists(col, row) || m_target.workspace().SG_Data().cellView(col, row) == value) {
        return;
    }
    TCellBlock block;
    block.col = col;
    block.row = row;
    block.values = {{value}};
    m_stack->push(new TCellsCommand(m_target, undoText, std::move(block), 0));
}

} // namespace torvane
