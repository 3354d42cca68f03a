#include "TDataGrid.h"

#include <QApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>

#include <optional>

namespace torvane {

namespace {

// The cell editor. Keys the table claims (a range to copy, the page's undo) go past it to the table's
// shortcuts; a right click shows the table's menu rather than the editor's own.
class TCellEditor : public QLineEdit {
public:
    TCellEditor(QWidget* parent, const TDataGrid* grid, const QModelIndex& cell)
        : QLineEdit(parent), m_grid(grid), m_cell(cell)
    {
        setContextMenuPolicy(Qt::NoContextMenu);
        connect(this, &QLineEdit::textEdited, this, &TCellEditor::store);
    }

    // The cell's value changed from elsewhere (a paste, an undo): what Esc gives back is that value now.
    void forgetBefore() { m_before.reset(); }

    // Esc: the cell gets back the value it had before the first keystroke. The model is written the way a
    // keystroke writes it, so the typing step on the page's undo stack, typed back to where it began,
    // drops out and no undo step is left.
    bool revert()
    {
        if (!m_before || !m_cell.isValid()) {
            return false;
        }
        const QString before = *m_before;
        m_before.reset();
        if (text() != before) {
            setText(before);
        }
        const_cast<QAbstractItemModel*>(m_cell.model())->setData(m_cell, before, Qt::EditRole);
        return true;
    }

protected:
    bool event(QEvent* event) override
    {
        if (event->type() == QEvent::ShortcutOverride && m_grid &&
            m_grid->claimsKey(*static_cast<QKeyEvent*>(event), *this)) {
            event->ignore();
            return true;
        }
        return QLineEdit::event(event);
    }
    void keyPressEvent(QKeyEvent* event) override
    {
        // A claimed key whose shortcut could not act (nothing to undo) must not fall back on the editor's own
        // undo of its text.
        if (m_grid && m_grid->claimsKey(*event, *this)) {
            event->ignore();
            return;
        }
        QLineEdit::keyPressEvent(event);
    }

private:
    // Every keystroke goes into the model at once.
    void store(const QString& text)
    {
        if (!m_cell.isValid()) {
            return;
        }
        if (!m_before) {
            m_before = m_cell.data(Qt::EditRole).toString();
        }
        const_cast<QAbstractItemModel*>(m_cell.model())->setData(m_cell, text, Qt::EditRole);
    }

    QPointer<const TDataGrid> m_grid;
    QPersistentModelIndex m_cell;
    std::optional<QString> m_before; // the cell's value before the first keystroke, while typing goes on
};

} // namespace

QWidget* TCellDelegate::createEditor(QWidget* parent, const QStyleOptionViewItem&, const QModelIndex& index) const
{
    auto* editor = new TCellEditor(parent, qobject_cast<const TDataGrid*>(this->parent()), index);
    editor->setFrame(false);
    return editor;
}

void TCellDelegate::setEditorData(QWidget* editor, const QModelIndex& index) const
{
    auto* line = qobject_cast<QLineEdit*>(editor);
    const QString text = index.data(Qt::EditRole).toString();
    // Each keystroke comes back as a change of the cell; setting the same text again would move the caret.
    if (line && line->text() != text) {
        line->setText(text);
        if (auto* cellEditor = dynamic_cast<TCellEditor*>(line)) {
            cellEditor->forgetBefore();
        }
    }
}

void TCellDelegate::setModelData(QWidget*, QAbstractItemModel*, const QModelIndex&) const {}

bool TCellDelegate::eventFilter(QObject* object, QEvent* event)
{
    if (event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            emit enterPressed();
            return true;
        }
        if (key->key() == Qt::Key_Escape && key->modifiers() == Qt::NoModifier) {
            // The editor stays open (it always is); only what was typed goes.
            if (auto* editor = dynamic_cast<TCellEditor*>(object)) {
                editor->revert();
            }
            return true;
        }
    }
    return QStyledItemDelegate::eventFilter(object, event);
}

TDataGrid::TDataGrid(QWidget* parent) : QTableView(parent), m_delegate(new TCellDelegate(this))
{
    setItemDelegate(m_delegate);
    setEditTriggers(QAbstractItemView::AllEditTriggers);
    setTabKeyNavigation(true);
    setSelectionMode(QAbstractItemView::ContiguousSelection);
    setSelectionBehavior(QAbstractItemView::SelectItems);
    verticalHeader()->hide();
    verticalHeader()->setMinimumSectionSize(1);
    verticalHeader()->setDefaultSectionSize(16);
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    horizontalHeader()->setSectionsMovable(true);
    horizontalHeader()->setStretchLastSection(false);
    horizontalHeader()->setHighlightSections(false);
    connect(m_delegate, &TCellDelegate::enterPressed, this, [this] { emit keyDown(Qt::Key_Return); });
}

QLineEdit* TDataGrid::currentEditor() const
{
    return qobject_cast<QLineEdit*>(indexWidget(currentIndex()));
}

void TDataGrid::showEditor()
{
    if (!model() || model()->rowCount() == 0 || model()->columnCount() == 0) {
        return;
    }
    QModelIndex current = currentIndex();
    if (!current.isValid()) {
        current = model()->index(0, 0);
        setCurrentIndex(current);
    }
    if (state() != QAbstractItemView::EditingState) {
        const FocusKeeper keeper(this);
        edit(current, QAbstractItemView::AllEditTriggers, nullptr);
    }
}

TDataGrid::FocusKeeper::FocusKeeper(TDataGrid* grid) : m_focus(QApplication::focusWidget())
{
    const bool inTable = m_focus && (m_focus == grid || grid->isAncestorOf(m_focus));
    const bool onPage = m_focus && grid->m_focusScope && grid->m_focusScope->isAncestorOf(m_focus);
    if (inTable || !onPage) {
        m_focus = nullptr;
    }
}

TDataGrid::FocusKeeper::~FocusKeeper()
{
    if (m_focus && QApplication::focusWidget() != m_focus) {
        m_focus->setFocus(Qt::OtherFocusReason);
    }
}

QModelIndex TDataGrid::moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers modifiers)
{
    if ((cursorAction != MoveNext && cursorAction != MovePrevious) || !model()) {
        return QTableView::moveCursor(cursorAction, modifiers);
    }
    const int rows = model()->rowCount();
    const int columns = model()->columnCount();
    if (rows == 0 || columns == 0) {
        return {};
    }
    const QModelIndex current = currentIndex();
    int row = current.isValid() ? current.row() : 0;
    int column = current.isValid() ? current.column() : -1;
    if (cursorAction == MoveNext) {
        if (++column >= columns) {
            column = 0;
            row = (row + 1) % rows;
        }
    } else {
        if (--column < 0) {
            column = columns - 1;
            row = (row + rows - 1) % rows;
        }
    }
    return model()->index(row, column);
}

void TDataGrid::currentChanged(const QModelIndex& current, const QModelIndex& previous)
{
    // The view opens the editor itself, which takes the focus, and only while visible (the page may be
    // hidden when the cell moves).
    const FocusKeeper keeper(this);
    QTableView::currentChanged(current, previous);
    if (current.isValid() && current != previous && isVisible()) {
        edit(current, QAbstractItemView::AllEditTriggers, nullptr);
    }
}

void TDataGrid::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        emit keyDown(event->key());
        event->accept();
        return;
    }
    QTableView::keyPressEvent(event);
}

void TDataGrid::mousePressEvent(QMouseEvent* event)
{
    QTableView::mousePressEvent(event);
    // A click on the current cell does not change it; the open editor takes the keyboard all the same.
    focusEditor();
}

bool TDataGrid::event(QEvent* event)
{
    const bool handled = QTableView::event(event);
    if (event->type() == QEvent::FocusIn) {
        // The editor takes the focus only once the table's own focus-in is over: Qt ends a focus-in by
        // telling the input method where the focused widget is, and done from inside the table's, that
        // would place the input method's window at the table's corner instead of the cell.
        focusEditor();
    }
    return handled;
}

void TDataGrid::focusEditor()
{
    const QModelIndex current = currentIndex();
    if (current.isValid() && isVisible()) {
        // Gives the focus to the editor that is already open there, or opens one.
        edit(current, QAbstractItemView::AllEditTriggers, nullptr);
    }
}

void TDataGrid::showEvent(QShowEvent* event)
{
    QTableView::showEvent(event);
    showEditor();
}

bool TDataGrid::focusNextPrevChild(bool next)
{
    // Tab never leaves the table: it moves through the cells.
    const QModelIndex target = moveCursor(next ? MoveNext : MovePrevious, Qt::NoModifier);
    if (target.isValid()) {
        setCurrentIndex(target);
        return true;
    }
    return QTableView::focusNextPrevChild(next);
}

} // namespace torvane
