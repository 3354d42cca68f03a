#include "datapage/TDataGrid.h"

#include "datapage/TDataTableModel.h"

#include <QApplication>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QSignalBlocker>

#include <algorithm>

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
        auto* model = const_cast<QAbstractItemModel*>(m_cell.model());
        if (m_beforeEmptyString) {
            model->setData(m_cell, true, TDataTableModel::EmptyStringRole);
        } else {
            model->setData(m_cell, before, Qt::EditRole);
        }
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
            m_beforeEmptyString = m_cell.data(TDataTableModel::EmptyStringRole).toBool();
        }
        const_cast<QAbstractItemModel*>(m_cell.model())->setData(m_cell, text, Qt::EditRole);
    }

    QPointer<const TDataGrid> m_grid;
    QPersistentModelIndex m_cell;
    std::optional<QString> m_before;  // the cell's value before the first keystroke, while typing goes on
    bool m_beforeEmptyString = false; // and whether it was an empty string rather than no value
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

bool TDataGrid::growsRange(const QKeyEvent& key)
{
    if (key.modifiers() != Qt::ShiftModifier && key.modifiers() != (Qt::ShiftModifier | Qt::KeypadModifier)) {
        return false;
    }
    switch (key.key()) {
    case Qt::Key_Left:
    case Qt::Key_Right:
    case Qt::Key_Up:
    case Qt::Key_Down:
        return true;
    default:
        return false;
    }
}

int TDataGrid::sizeHintForColumn(int column) const
{
    if (!model() || column < 0 || column >= model()->columnCount()) {
        return -1;
    }
    ensurePolished();
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    // The rows on screen, as the view itself measures.
    const int first = std::max(0, rowAt(0));
    int last = rowAt(viewport()->height() - 1);
    if (last < 0) {
        last = model()->rowCount() - 1;
    }
    int hint = 0;
    for (int row = first; row <= last; ++row) {
        const QModelIndex index = model()->index(row, column);
        hint = std::max(hint, itemDelegateForIndex(index)->sizeHint(option, index).width());
    }
    return hint + (showGrid() ? 1 : 0);
}

bool TDataGrid::edit(const QModelIndex& index, EditTrigger trigger, QEvent* event)
{
    const bool editing = QTableView::edit(index, trigger, event);
    // The open editor covers its cell: a drag that starts on it must still reach the view.
    if (QWidget* editor = indexWidget(index)) {
        editor->installEventFilter(this);
    }
    return editing;
}

bool TDataGrid::eventFilter(QObject* object, QEvent* event)
{
    auto* editor = qobject_cast<QWidget*>(object);
    if (editor && editor->parentWidget() == viewport()) {
        if (event->type() == QEvent::MouseMove) {
            const auto* mouse = static_cast<QMouseEvent*>(event);
            if ((mouse->buttons() & Qt::LeftButton) &&
                dragRange(editor->mapTo(viewport(), mouse->position().toPoint()))) {
                return true;
            }
        } else if (event->type() == QEvent::MouseButtonRelease || event->type() == QEvent::MouseButtonPress) {
            m_rangeDrag = false;
        }
    }
    return QTableView::eventFilter(object, event);
}

bool TDataGrid::dragRange(const QPoint& viewportPos)
{
    const QModelIndex current = currentIndex();
    const QModelIndex corner = indexAt(viewportPos);
    if (!current.isValid() || !corner.isValid() || (!m_rangeDrag && corner == current)) {
        return m_rangeDrag;
    }
    m_rangeDrag = true;
    // The current cell stays where the drag began, its editor open for typing; only the selection grows.
    const QModelIndex topLeft =
        model()->index(std::min(current.row(), corner.row()), std::min(current.column(), corner.column()));
    const QModelIndex bottomRight =
        model()->index(std::max(current.row(), corner.row()), std::max(current.column(), corner.column()));
    selectionModel()->select(QItemSelection(topLeft, bottomRight), QItemSelectionModel::ClearAndSelect);
    return true;
}

void TDataGrid::mouseMoveEvent(QMouseEvent* event)
{
    // The view stops drag-selecting while its editor is open, and here it always is.
    if ((event->buttons() & Qt::LeftButton) && state() == EditingState && dragRange(event->position().toPoint())) {
        event->accept();
        return;
    }
    QTableView::mouseMoveEvent(event);
}

void TDataGrid::mousePressEvent(QMouseEvent* event)
{
    m_rangeDrag = false;
    const QModelIndex pressed = indexAt(event->position().toPoint());
    m_pressedSelected = event->button() == Qt::LeftButton && event->modifiers() == Qt::NoModifier &&
                                pressed.isValid() && selectionModel() && selectionModel()->isSelected(pressed)
                            ? pressed
                            : QModelIndex();
    QTableView::mousePressEvent(event);
    // A click on the current cell does not change it; the open editor takes the keyboard all the same.
    focusEditor();
}

void TDataGrid::mouseReleaseEvent(QMouseEvent* event)
{
    // A click inside the selected block selects that cell alone, as in any table. The view would do so on
    // the release, but the press made the cell current and so opened its editor, and the view lets a release
    // during editing go by.
    const QModelIndex released = indexAt(event->position().toPoint());
    if (event->button() == Qt::LeftButton && m_pressedSelected.isValid() && released == m_pressedSelected &&
        !m_rangeDrag) {
        selectionModel()->select(released, QItemSelectionModel::ClearAndSelect);
    }
    m_pressedSelected = QModelIndex();
    QTableView::mouseReleaseEvent(event);
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

void TDataGrid::setSelectionModel(QItemSelectionModel* selectionModel)
{
    QTableView::setSelectionModel(selectionModel);
    // A header asks the table's selection whether each section it paints (and the sections beside it) is
    // wholly selected, and the selection answers by asking the model's flags for every selected cell of the
    // column: with a million rows selected every repaint took a second. The headers do not show the
    // selection anyway (setHighlightSections(false)); given an empty selection of their own they never ask,
    // and a click on a section still selects through the table's.
    if (!selectionModel) {
        return;
    }
    QItemSelectionModel* previous = nullptr;
    if (!m_headerSelection || m_headerSelection->model() != selectionModel->model()) {
        previous = m_headerSelection;
        m_headerSelection = new QItemSelectionModel(selectionModel->model(), this);
    }
    horizontalHeader()->setSelectionModel(m_headerSelection);
    verticalHeader()->setSelectionModel(m_headerSelection);
    delete previous;
}

void TDataGrid::setColumnWidths(const std::vector<int>& widths)
{
    // Set one by one, each width made the header work out every column's position again and told the view
    // of it: a packet of 100,000 fields took seconds to show, one of a million minutes. With the header
    // quiet each width is one store; the positions are worked out once, when next needed.
    QHeaderView* header = horizontalHeader();
    {
        const QSignalBlocker quiet(header);
        header->setUpdatesEnabled(false);
        const int count = std::min(header->count(), static_cast<int>(widths.size()));
        for (int c = 0; c < count; ++c) {
            header->resizeSection(c, std::max(0, widths[static_cast<size_t>(c)]));
        }
        header->setUpdatesEnabled(true);
    }
    updateGeometries();
    viewport()->update();
}

} // namespace torvane
