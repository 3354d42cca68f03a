#pragma once

#include "commands/TEditCommands.h"
#include "datapage/TDataEditingHost.h"
#include "dialogs/TErrorHandler.h"

#include <QObject>
#include <QRect>

class QAction;
class QKeyEvent;
class QLineEdit;
class QMenu;
class QTableView;
class QUndoStack;

namespace torvane {

class TDataGrid;
class TDataTableModel;
class TValueWindow;

// The editing that every table tool has, on the data page's two tables: rows inserted, duplicated and
// deleted; ranges copied, cut, pasted and emptied as spreadsheets do; CSV out and in; fields deleted and
// moved; and undo and redo of all of it on one stack. Each operation is on its table's context menu and on
// a shortcut, changes the workspace through one undo command, and marks the work unsaved.
class TDataEditing : public QObject, public TEditTarget {
    Q_OBJECT
public:
    TDataEditing(TDataEditingHost& host, TWorkspace& workspace, TWindowDialogs& dialogs, const TErrorHandler& errors,
                 TDataGrid* data, TDataTableModel* dataModel, QTableView* fields);

    QUndoStack* undoStack() const { return m_stack; }
    // Reading a packet and the field editor's buttons change the workspace under the commands.
    void clearUndo();
    // The most memory the undo history keeps for its steps; past it the oldest steps let go of theirs and
    // can no longer be undone.
    static constexpr qint64 DefaultUndoMemory = 256 * 1024 * 1024;
    void setUndoMemory(qint64 bytes) { m_undoMemory = bytes; }

    // The data table's operations.
    void insertRow();
    void duplicateRows();
    void deleteRows();
    void copy();
    void cut();
    void paste();
    void clearCells();
    // The selected cells become empty strings (written `NAME=""`), or cells without value, as one step.
    void setEmptyStrings();
    void setNoValues();
    void exportCsv();
    void importCsv();
    // The current cell's value in the value window.
    void showValue();
    TValueWindow* valueWindow() const { return m_valueWindow; }
    // The field table's operations, on its current row.
    void deleteField();
    void moveField(int step);
    // After the add button put a row at the end, or a column was dragged elsewhere.
    void rowAdded();
    void moveDataColumn(int from, int to);
    // Writes a block of values as one undo step named `text` (a replacement), large values kept.
    void writeCells(const QString& text, TCellBlock block) { pushCells(text, std::move(block)); }

signals:
    // The undo stack is about to forget every step (a read, a field added or changed).
    void undoAboutToClear();

public:
    // TEditTarget
    TWorkspace& workspace() override { return m_workspace; }
    void dataCellsChanged(const QRect& cells) override;
    void dataRowsChanged(const QRect& cells) override;
    void dataRowsShifted(int first, int removed, int inserted) override;
    void dataColumnMoved(int from, int to) override;
    void fieldsChanged(int fieldRow) override;

private:
    // Keeps the history within m_undoMemory and lets undo go only as far as the kept steps.
    void boundUndo();
    QAction* addAction(QWidget* widget, const QString& text, const QList<QKeySequence>& keys,
                       void (TDataEditing::*slot)());
    void createActions();
    void showDataMenu(const QPoint& pos);
    void showFieldMenu(const QPoint& pos);
    bool claimsKey(const QKeyEvent& key, const QLineEdit& editor) const;
    // The text of a CSV file as a preview decoded it: the import that follows reads it rather than decoding
    // the file a second time.
    struct TDecodedCsv {
        std::optional<TCsvEncodingChoice> encoding;
        QString text;
    };
    // What importing the CSV file's `bytes` with `options` would do; its text is decoded into `decoded`
    // unless that holds it already.
    TCsvImportPreview csvPreview(const QByteArray& bytes, const TCsvImportOptions& options, TDecodedCsv& decoded) const;
    void cellTyped(const QModelIndex& index, const QString& previous, bool previousEmptyString);

    // The selected rectangle in grid columns and rows (the current cell when nothing is selected).
    QRect selectedCells() const;
    bool manyCellsSelected() const;
    // The field columns of the data table that hold values.
    int fieldColumns() const;
    void select(const QRect& cells);
    // Pushes a block write, adding the rows it reaches past the table.
    void pushCells(const QString& text, TCellBlock block);
    // Empties the selected cells: no value, or empty strings when `emptyStrings`.
    void emptyCells(const QString& text, bool emptyStrings = false);

    TDataEditingHost& m_host;
    TWorkspace& m_workspace;
    TWindowDialogs& m_dialogs;
    const TErrorHandler& m_errors;
    TDataGrid* m_data;
    TDataTableModel* m_dataModel;
    QTableView* m_fields;
    QUndoStack* m_stack;
    qint64 m_undoMemory = DefaultUndoMemory;
    // Keystrokes in one cell are one undo step until the current cell moves.
    int m_typingSession = 0;
    QString m_csvName;
    QString m_csvFilter;

    QAction* m_insertRow = nullptr;
    QAction* m_duplicateRows = nullptr;
    QAction* m_deleteRows = nullptr;
    QAction* m_cut = nullptr;
    QAction* m_copy = nullptr;
    QAction* m_paste = nullptr;
    QAction* m_clear = nullptr;
    QAction* m_emptyString = nullptr;
    QAction* m_noValue = nullptr;
    QAction* m_undo = nullptr;
    QAction* m_redo = nullptr;
    QAction* m_exportCsv = nullptr;
    QAction* m_importCsv = nullptr;
    QAction* m_showValue = nullptr;
    TValueWindow* m_valueWindow = nullptr;
    QAction* m_deleteField = nullptr;
    QAction* m_fieldUp = nullptr;
    QAction* m_fieldDown = nullptr;
};

} // namespace torvane
