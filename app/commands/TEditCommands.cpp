#include "commands/TEditCommands.h"

namespace torvane {

namespace {

qint64 bytesOf(const QString& text)
{
    return qint64(sizeof(QString)) + 2 * text.size();
}

qint64 bytesOf(const TGridRow& row)
{
    // The row's one buffer: a word per cell and its characters.
    return qint64(sizeof(TGridRow)) + 4 * (row.size() + 1) + 2 * row.chars().size();
}

qint64 bytesOf(const std::vector<TGridRow>& rows)
{
    qint64 bytes = 0;
    for (const TGridRow& row : rows) {
        bytes += bytesOf(row);
    }
    return bytes;
}

} // namespace

TCellsCommand::TCellsCommand(TEditTarget& target, const QString& text, TCellBlock block, int addedRows, bool typed,
                             int session)
    : TDataCommand(text), m_target(target), m_block(std::move(block)), m_addedRows(addedRows), m_typed(typed),
      m_session(session), m_skipRedo(typed)
{
}

QRect TCellsCommand::cells() const
{
    return QRect(m_block.col, m_block.row, m_block.width(), m_block.height());
}

void TCellsCommand::swap()
{
    m_block = m_target.workspace().swapDataCells(std::move(m_block));
}

void TCellsCommand::redo()
{
    if (m_skipRedo) {
        m_skipRedo = false;
        return;
    }
    TWorkspace& ws = m_target.workspace();
    if (m_addedRows > 0) {
        ws.insertEmptyDataRows(ws.SG_Data().rowCount(), m_addedRows);
    }
    swap();
    if (m_addedRows > 0) {
        m_target.dataRowsChanged(cells());
    } else {
        m_target.dataCellsChanged(cells());
    }
}

void TCellsCommand::undo()
{
    TWorkspace& ws = m_target.workspace();
    const QRect changed = cells();
    swap();
    if (m_addedRows > 0) {
        ws.removeDataRows(ws.SG_Data().rowCount() - m_addedRows, m_addedRows);
        m_target.dataRowsChanged(
            changed.intersected(QRect(0, 1, ws.SG_Data().colCount(), ws.SG_Data().rowCount() - 1)));
    } else {
        m_target.dataCellsChanged(changed);
    }
}

qint64 TCellsCommand::heldBytes() const
{
    qint64 bytes = 0;
    for (const std::vector<QString>& values : m_block.values) {
        bytes += qint64(sizeof values);
        for (const QString& value : values) {
            bytes += bytesOf(value);
        }
    }
    return bytes;
}

void TCellsCommand::dropHeld()
{
    m_block.values = {};
    m_block.emptyStrings = {};
}

bool TCellsCommand::mergeWith(const QUndoCommand* other)
{
    const auto* typed = dynamic_cast<const TCellsCommand*>(other);
    if (!typed || released() || !m_typed || !typed->m_typed || typed->m_session != m_session ||
        typed->cells() != cells()) {
        return false;
    }
    // This command keeps the value from before the first keystroke; typed back to it, the cell has no change.
    const TWorkspace& ws = m_target.workspace();
    setObsolete(ws.SG_Data().cellView(m_block.col, m_block.row) == m_block.values[0][0] &&
                ws.SG_Data().isEmptyString(m_block.col, m_block.row) == m_block.isEmptyString(0, 0));
    return true;
}

TInsertRowsCommand::TInsertRowsCommand(TEditTarget& target, const QString& text, int at, std::vector<TGridRow> rows,
                                       bool applied)
    : TDataCommand(text), m_target(target), m_at(at), m_count(static_cast<int>(rows.size())), m_rows(std::move(rows)),
      m_skipRedo(applied)
{
}

void TInsertRowsCommand::redo()
{
    if (m_skipRedo) {
        m_skipRedo = false;
        return;
    }
    TWorkspace& ws = m_target.workspace();
    ws.insertDataRows(m_at, std::move(m_rows));
    m_rows.clear();
    m_target.dataRowsShifted(m_at, 0, m_count);
    m_target.dataRowsChanged(QRect(0, m_at, ws.SG_Data().colCount(), m_count));
}

void TInsertRowsCommand::undo()
{
    TWorkspace& ws = m_target.workspace();
    m_rows = ws.removeDataRows(m_at, m_count).rows;
    m_target.dataRowsShifted(m_at, m_count, 0);
    m_target.dataRowsChanged(QRect(0, std::min(m_at, ws.SG_Data().rowCount() - 1), ws.SG_Data().colCount(), 1));
}

TRemoveRowsCommand::TRemoveRowsCommand(TEditTarget& target, int first, int count)
    : TDataCommand(QStringLiteral("行を削除")), m_target(target), m_first(first), m_count(count)
{
}

void TRemoveRowsCommand::redo()
{
    TWorkspace& ws = m_target.workspace();
    m_removed = ws.removeDataRows(m_first, m_count);
    m_target.dataRowsShifted(m_first, m_count, 0);
    m_target.dataRowsChanged(QRect(0, std::min(m_first, ws.SG_Data().rowCount() - 1), ws.SG_Data().colCount(), 1));
}

void TRemoveRowsCommand::undo()
{
    TWorkspace& ws = m_target.workspace();
    ws.restoreDataRows(std::move(m_removed));
    m_removed = {};
    m_target.dataRowsShifted(m_first, 0, m_count);
    m_target.dataRowsChanged(QRect(0, m_first, ws.SG_Data().colCount(), m_count));
}

TColumnMoveCommand::TColumnMoveCommand(TEditTarget& target, int from, int to)
    : TDataCommand(QStringLiteral("列の移動")), m_target(target), m_from(from), m_to(to)
{
}

void TColumnMoveCommand::redo()
{
    m_target.workspace().moveDataColumn(m_from, m_to);
    m_target.workspace().markDataEdited();
    m_target.dataColumnMoved(m_from, m_to);
}

void TColumnMoveCommand::undo()
{
    m_target.workspace().moveDataColumn(m_to, m_from);
    m_target.workspace().markDataEdited();
    m_target.dataColumnMoved(m_to, m_from);
}

TFieldDeleteCommand::TFieldDeleteCommand(TEditTarget& target, int number)
    : TDataCommand(QStringLiteral("フィールドを削除")), m_target(target), m_number(number)
{
}

void TFieldDeleteCommand::redo()
{
    m_removed = m_target.workspace().deleteField(m_number);
    m_target.fieldsChanged(m_number);
}

void TFieldDeleteCommand::undo()
{
    m_target.workspace().restoreField(std::move(m_removed));
    m_removed = {};
    m_target.fieldsChanged(m_number);
}

TFieldMoveCommand::TFieldMoveCommand(TEditTarget& target, int number, int to)
    : TDataCommand(QStringLiteral("フィールドを移動")), m_target(target), m_number(number), m_to(to)
{
}

void TFieldMoveCommand::redo()
{
    m_target.workspace().moveField(m_number, m_to);
    m_target.fieldsChanged(m_to);
}

void TFieldMoveCommand::undo()
{
    m_target.workspace().moveField(m_to, m_number);
    m_target.fieldsChanged(m_number);
}

qint64 TInsertRowsCommand::heldBytes() const
{
    return bytesOf(m_rows);
}

void TInsertRowsCommand::dropHeld()
{
    m_rows = {};
}

TReplaceRowsCommand::TReplaceRowsCommand(TEditTarget& target, const QString& text, int first, int count,
                                         std::vector<TGridRow> rows)
    : TDataCommand(text), m_target(target), m_first(first), m_count(count), m_rows(std::move(rows))
{
}

void TReplaceRowsCommand::swap()
{
    TWorkspace& ws = m_target.workspace();
    const int count = static_cast<int>(m_rows.size());
    m_rows = ws.replaceDataRows(m_first, m_count, std::move(m_rows));
    m_target.dataRowsShifted(m_first, static_cast<int>(m_rows.size()), count);
    m_count = count;
    m_target.dataRowsChanged(QRect(0, m_first, ws.SG_Data().colCount(), m_count));
}

qint64 TReplaceRowsCommand::heldBytes() const
{
    return bytesOf(m_rows);
}

void TReplaceRowsCommand::dropHeld()
{
    m_rows = {};
}

qint64 TRemoveRowsCommand::heldBytes() const
{
    return bytesOf(m_removed.rows);
}

void TRemoveRowsCommand::dropHeld()
{
    m_removed.rows = {};
}

qint64 TFieldDeleteCommand::heldBytes() const
{
    qint64 bytes = bytesOf(m_removed.fieldRow) + bytesOf(m_removed.name);
    for (const QString& value : m_removed.dataColumn.cells) {
        bytes += bytesOf(value);
    }
    return bytes;
}

void TFieldDeleteCommand::dropHeld()
{
    m_removed.dataColumn.cells = {};
}

} // namespace torvane
