#pragma once

#include <QPointer>
#include <QStyledItemDelegate>
#include <QTableView>
#include <functional>
#include <vector>

class QLineEdit;

namespace torvane {

// The cell editor of the data table: stores every keystroke in the model at once and hands Enter to the
// table instead of closing.
class TCellDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    void setEditorData(QWidget* editor, const QModelIndex& index) const override;
    // Does nothing: every keystroke is already in the model. Committing the editor's text when it loses
    // the focus would write a stale value into whatever the model holds by then (a freshly read table).
    void setModelData(QWidget* editor, QAbstractItemModel* model, const QModelIndex& index) const override;

signals:
    void enterPressed();

protected:
    bool eventFilter(QObject* object, QEvent* event) override;
};

// The data table's view: the cell editor is always open in the current cell, and Tab / Shift+Tab wrap
// through the cells without ever leaving the table.
class TDataGrid : public QTableView {
    Q_OBJECT
public:
    // Whether the table's own shortcuts take a key that the open cell editor would otherwise keep for
    // itself (copy, paste, undo, Delete and the like), given the editor as it now is.
    using TKeyClaim = std::function<bool(const QKeyEvent& key, const QLineEdit& editor)>;

    explicit TDataGrid(QWidget* parent = nullptr);

    void setKeyClaim(TKeyClaim claim) { m_keyClaim = std::move(claim); }
    bool claimsKey(const QKeyEvent& key, const QLineEdit& editor) const
    {
        return growsRange(key) || (m_keyClaim && m_keyClaim(key, editor));
    }
    // Shift with an arrow grows the selected rectangle, as in a spreadsheet, rather than selecting
    // characters inside the cell.
    static bool growsRange(const QKeyEvent& key);
    // The cell editor now open in the current cell, if any.
    QLineEdit* currentEditor() const;

    TCellDelegate* cellDelegate() const { return m_delegate; }
    // Opens the editor in the current cell, making (0, 0) current when there is none.
    void showEditor();
    // The controls beside the table (the page): while one of them has the focus, an editor that the
    // program opens leaves it there. Elsewhere (the page tabs, nothing) the editor takes it.
    void setFocusScope(QWidget* scope) { m_focusScope = scope; }
    // Gives the columns these widths (negative ones as 0) in one pass, telling nobody of each column.
    void setColumnWidths(const std::vector<int>& widths);
    // The headers are given a selection model of their own that never holds anything (see the source).
    void setSelectionModel(QItemSelectionModel* selectionModel) override;

signals:
    // A key the table itself did not use (Enter arrives through the cell editor as well).
    void keyDown(int key);

public:
    // The values' width alone: the open cell editor would ask for a line edit's width of some 17 characters,
    // so that double-clicking a header divider would not fit the column to its content.
    int sizeHintForColumn(int column) const override;

protected:
    QModelIndex moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers modifiers) override;
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool focusNextPrevChild(bool next) override;
    void showEvent(QShowEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    bool edit(const QModelIndex& index, EditTrigger trigger, QEvent* event) override;
    bool eventFilter(QObject* object, QEvent* event) override;
    bool event(QEvent* event) override;

private:
    void focusEditor();
    // A drag with the left button held, at `viewportPos`: the rectangle from the current cell to the cell
    // there is selected. False while the mouse is still over the current cell and no range was begun.
    bool dragRange(const QPoint& viewportPos);
    // An opened editor takes the focus. After an edit of the field table the user goes on typing names
    // there, so while one of these lives an editor opened by the program leaves the focus in the focus
    // scope where it was.
    class FocusKeeper {
    public:
        explicit FocusKeeper(TDataGrid* grid);
        ~FocusKeeper();
        FocusKeeper(const FocusKeeper&) = delete;
        FocusKeeper& operator=(const FocusKeeper&) = delete;

    private:
        QPointer<QWidget> m_focus;
    };

    TCellDelegate* m_delegate;
    QPointer<QWidget> m_focusScope;
    TKeyClaim m_keyClaim;
    // A drag has left its first cell; until the button is released it selects cells, not text.
    bool m_rangeDrag = false;
    // A plain left press on a cell that was selected already: the view leaves the selection alone until the
    // release, in case a drag begins.
    QPersistentModelIndex m_pressedSelected;
    // What the headers see as selected: nothing, ever.
    QItemSelectionModel* m_headerSelection = nullptr;
};

} // namespace torvane
