#pragma once

#include "TWorkspace.h"

#include <QUndoCommand>

namespace torvane {

// What the data page's undo commands act through: the workspace, and the views to bring up to date after
// a change (which also mark the work unsaved).
class TEditTarget {
public:
    virtual ~TEditTarget() = default;
    virtual TWorkspace& workspace() = 0;
    // Values in `cells` (grid columns and rows) changed; rows and columns stayed. `cells` is shown selected.
    virtual void dataCellsChanged(const QRect& cells) = 0;
    // Data rows came or went; `cells` is shown selected.
    virtual void dataRowsChanged(const QRect& cells) = 0;
    // Said before dataRowsChanged where records moved: grid rows first .. first + removed - 1 went and `inserted`
    // rows came in their place, so the rows after them moved by inserted - removed. What follows a record (the
    // value window) follows it.
    virtual void dataRowsShifted(int first, int removed, int inserted)
    {
        Q_UNUSED(first);
        Q_UNUSED(removed);
        Q_UNUSED(inserted);
    }
    // A data column moved from `from` to `to`.
    virtual void dataColumnMoved(int from, int to) = 0;
    // Fields went, came back or moved; field table row `fieldRow` becomes the current one.
    virtual void fieldsChanged(int fieldRow) = 0;
};

// A step of the data page's undo history. The steps keep values and rows for their undo; the history lets
// go of what the oldest ones keep when it holds more than it may, and those can no longer be undone.
class TDataCommand : public QUndoCommand {
public:
    using QUndoCommand::QUndoCommand;

    // The memory the step keeps for its undo or redo, roughly.
    virtual qint64 heldBytes() const { return 0; }
    // Lets go of what heldBytes() counts: the step cannot be undone any more.
    void release()
    {
        m_released = true;
        dropHeld();
    }
    bool released() const { return m_released; }

protected:
    virtual void dropHeld() {}

private:
    bool m_released = false;
};

// Writes a block of cells, adding rows at the end first when the block reaches past them: a paste, a cut,
// an emptied selection, imported records, or what was typed into one cell. The command keeps the values
// that are not in the table, so undo and redo are the same swap.
class TCellsCommand : public TDataCommand {
public:
    // `typed`: the block holds a cell's value from before the user typed into it (the cell already holds
    // the new one); the keystrokes that follow in the same cell during `session` merge into this command.
    TCellsCommand(TEditTarget& target, const QString& text, TCellBlock block, int addedRows, bool typed = false,
                  int session = 0);

    void redo() override;
    void undo() override;
    int id() const override { return m_typed ? 1 : -1; }
    bool mergeWith(const QUndoCommand* other) override;

    qint64 heldBytes() const override;

protected:
    void dropHeld() override;

private:
    void swap();
    QRect cells() const;

    TEditTarget& m_target;
    TCellBlock m_block;
    int m_addedRows;
    bool m_typed;
    int m_session;
    bool m_skipRedo;
};

// Inserts whole data rows (empty, or copies of others), and takes them out again on undo.
class TInsertRowsCommand : public TDataCommand {
public:
    // `applied`: the rows are already in the table (the add button put them there).
    TInsertRowsCommand(TEditTarget& target, const QString& text, int at, std::vector<TGridRow> rows,
                       bool applied = false);
    void redo() override;
    void undo() override;

    qint64 heldBytes() const override;

protected:
    void dropHeld() override;

private:
    TEditTarget& m_target;
    int m_at;
    int m_count;
    std::vector<TGridRow> m_rows;
    bool m_skipRedo;
};

// Puts whole rows in place of others (imported records in place of the blank rows that ended the table),
// and swaps them back on undo. The command keeps the rows that are not in the table.
class TReplaceRowsCommand : public TDataCommand {
public:
    TReplaceRowsCommand(TEditTarget& target, const QString& text, int first, int count, std::vector<TGridRow> rows);
    void redo() override { swap(); }
    void undo() override { swap(); }

    qint64 heldBytes() const override;

protected:
    void dropHeld() override;

private:
    void swap();

    TEditTarget& m_target;
    int m_first;
    // The rows now in the table in place of m_rows.
    int m_count;
    std::vector<TGridRow> m_rows;
};

// Deletes data rows, and puts them back on undo.
class TRemoveRowsCommand : public TDataCommand {
public:
    TRemoveRowsCommand(TEditTarget& target, int first, int count);
    void redo() override;
    void undo() override;

    qint64 heldBytes() const override;

protected:
    void dropHeld() override;

private:
    TEditTarget& m_target;
    int m_first;
    int m_count;
    TRemovedRows m_removed;
};

// Moves a data column (cells, header and width), as dragging its header does.
class TColumnMoveCommand : public TDataCommand {
public:
    TColumnMoveCommand(TEditTarget& target, int from, int to);
    void redo() override;
    void undo() override;

private:
    TEditTarget& m_target;
    int m_from;
    int m_to;
};

// Deletes a field with its field table row, data column and key selections, and puts it all back on undo.
class TFieldDeleteCommand : public TDataCommand {
public:
    TFieldDeleteCommand(TEditTarget& target, int number);
    void redo() override;
    void undo() override;

    qint64 heldBytes() const override;

protected:
    void dropHeld() override;

private:
    TEditTarget& m_target;
    int m_number;
    TRemovedField m_removed;
};

// Moves a field one place up or down, everything of it together.
class TFieldMoveCommand : public TDataCommand {
public:
    TFieldMoveCommand(TEditTarget& target, int number, int to);
    void redo() override;
    void undo() override;

private:
    TEditTarget& m_target;
    int m_number;
    int m_to;
};

} // namespace torvane
