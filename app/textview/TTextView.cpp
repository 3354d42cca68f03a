#include "textview/TTextView.h"

#include "TLineBreaks.h"
#include "textview/TTextSearch.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QApplication>
#include <QClipboard>
#include <QDrag>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QPainter>
#include <QScrollBar>
#include <QStyleHints>
#include <QTextCharFormat>
#include <QUrl>

#include <algorithm>
#include <cmath>
#include <optional>

namespace torvane {

namespace {

constexpr int LeftMargin = 4;
constexpr int TopMargin = 2;
// The input method sees this many characters either side of the caret.
constexpr qsizetype SurroundingReach = 1024;

bool isJoining(QChar c)
{
    return c.isLowSurrogate() || c.isMark();
}

// What a screen reader gets of the view: its text (as the view holds it, CR LF breaks), the caret, the
// selection, and where each character is on screen. Offsets are the view's positions.
class TTextViewAccessible : public QAccessibleWidget, public QAccessibleTextInterface {
public:
    explicit TTextViewAccessible(TTextView* view) : QAccessibleWidget(view, QAccessible::EditableText) {}

    void* interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::TextInterface) {
            return static_cast<QAccessibleTextInterface*>(this);
        }
        return QAccessibleWidget::interface_cast(type);
    }
    QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleWidget::state();
        state.editable = true;
        state.multiLine = true;
        state.selectableText = true;
        return state;
    }
    QString text(QAccessible::Text type) const override
    {
        return type == QAccessible::Value ? view()->crLfText() : QAccessibleWidget::text(type);
    }

    void selection(int selectionIndex, int* startOffset, int* endOffset) const override
    {
        *startOffset = *endOffset = 0;
        if (selectionIndex == 0 && view()->hasSelection()) {
            *startOffset = static_cast<int>(view()->selectionStart());
            *endOffset = static_cast<int>(view()->selectionEnd());
        }
    }
    int selectionCount() const override { return view()->hasSelection() ? 1 : 0; }
    void addSelection(int startOffset, int endOffset) override { setSelection(0, startOffset, endOffset); }
    void removeSelection(int selectionIndex) override
    {
        if (selectionIndex == 0) {
            view()->setSelection(view()->cursorPosition(), 0);
        }
    }
    void setSelection(int selectionIndex, int startOffset, int endOffset) override
    {
        if (selectionIndex == 0) {
            view()->setSelection(startOffset, endOffset - startOffset);
        }
    }
    int cursorPosition() const override { return static_cast<int>(view()->cursorPosition()); }
    void setCursorPosition(int position) override { view()->setSelection(position, 0); }
    QString text(int startOffset, int endOffset) const override
    {
        return view()->crLfText().mid(startOffset, endOffset - startOffset);
    }
    int characterCount() const override { return static_cast<int>(view()->crLfText().size()); }
    QRect characterRect(int offset) const override
    {
        const qsizetype size = view()->crLfText().size();
        if (offset < 0 || offset >= size) {
            return {};
        }
        const QRect left = view()->cursorRect(offset);
        const QRect right = view()->cursorRect(view()->buffer().nextCharacter(offset));
        const int width = right.top() == left.top() ? std::max(1, right.left() - left.left()) : 1;
        return QRect(view()->viewport()->mapToGlobal(left.topLeft()), QSize(width, left.height()));
    }
    int offsetAtPoint(const QPoint& point) const override
    {
        const QPoint local = view()->viewport()->mapFromGlobal(point);
        return view()->viewport()->rect().contains(local) ? static_cast<int>(view()->positionAt(local)) : -1;
    }
    void scrollToSubstring(int startIndex, int endIndex) override
    {
        view()->setSelection(startIndex, endIndex - startIndex);
    }
    QString attributes(int offset, int* startOffset, int* endOffset) const override
    {
        *startOffset = *endOffset = offset;
        return {};
    }

private:
    TTextView* view() const { return static_cast<TTextView*>(widget()); }
};

QAccessibleInterface* accessibleFor(const QString&, QObject* object)
{
    if (auto* view = qobject_cast<TTextView*>(object)) {
        return new TTextViewAccessible(view);
    }
    return nullptr;
}

} // namespace

TTextView::TTextView(QWidget* parent) : QAbstractScrollArea(parent)
{
    static const bool accessible = [] {
        QAccessible::installFactory(&accessibleFor);
        return true;
    }();
    Q_UNUSED(accessible);
    setAttribute(Qt::WA_InputMethodEnabled);
    setFocusPolicy(Qt::StrongFocus);
    setAcceptDrops(true);
    viewport()->setAcceptDrops(true);
    viewport()->setCursor(Qt::IBeamCursor);
    viewport()->setBackgroundRole(QPalette::Base);
    viewport()->setAutoFillBackground(true);
    // Long lines wrap at the view's width: a vertical scroll bar only.
    // The vertical one is always there, so that wrapping never shows or hides it, which would change the
    // width and wrap again.
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    updateMetrics();
}

TTextView::~TTextView() = default;

// ---- text and state ------------------------------------------------------------------------------------

void TTextView::setPlainText(QString text)
{
    const EditState before = editState();
    m_buffer.setText(std::move(text));
    m_preedit.clear();
    m_cursor = m_anchor = 0;
    m_preferredX = -1;
    rewrapAll();
    updateScrollBars();
    verticalScrollBar()->setValue(0);
    viewport()->update();
    updateMicroFocus();
    emit textChanged();
    notify(before);
}

QString TTextView::toPlainText() const
{
    return toLfBreaks(m_buffer.text());
}

QString TTextView::takeText()
{
    // Once the view holds an empty text, the caller's copy is the only one left: no characters are copied.
    QString text = m_buffer.text();
    setPlainText(QString());
    return text;
}

void TTextView::setModified(bool modified)
{
    const bool was = isModified();
    m_buffer.setModified(modified);
    if (was != isModified()) {
        emit modificationChanged(isModified());
    }
}

TTextView::EditState TTextView::editState() const
{
    return {m_buffer.canUndo(), m_buffer.canRedo(), m_buffer.isModified(), m_cursor, m_anchor};
}

void TTextView::notify(const EditState& before)
{
    if (before.couldUndo != m_buffer.canUndo()) {
        emit undoAvailable(m_buffer.canUndo());
    }
    if (before.couldRedo != m_buffer.canRedo()) {
        emit redoAvailable(m_buffer.canRedo());
    }
    if (before.wasModified != m_buffer.isModified()) {
        emit modificationChanged(m_buffer.isModified());
    }
    if (before.cursor != m_cursor) {
        emit cursorPositionChanged();
        if (QAccessible::isActive()) {
            QAccessibleTextCursorEvent moved(this, static_cast<int>(m_cursor));
            QAccessible::updateAccessibility(&moved);
        }
    }
    const bool hadSelection = before.anchor != before.cursor;
    const bool selectionMoved = std::min(before.anchor, before.cursor) != selectionStart() ||
                                std::max(before.anchor, before.cursor) != selectionEnd();
    if ((hadSelection || hasSelection()) && selectionMoved) {
        emit selectionChanged();
        if (QAccessible::isActive()) {
            QAccessibleTextSelectionEvent selected(this, static_cast<int>(selectionStart()),
                                                   static_cast<int>(selectionEnd()));
            QAccessible::updateAccessibility(&selected);
        }
    }
}

void TTextView::finishEdit(const EditState& before, qsizetype caret)
{
    m_cursor = m_anchor = std::clamp<qsizetype>(caret, 0, m_buffer.size());
    m_preferredX = -1;
    updateScrollBars();
    ensureCursorVisible();
    viewport()->update();
    restartBlink();
    updateMicroFocus();
    emit textChanged();
    notify(before);
}

void TTextView::replaceRange(qsizetype position, qsizetype length, const QString& text, TEditKind kind)
{
    const EditState before = editState();
    const bool accessible = QAccessible::isActive();
    const QString removed = accessible ? m_buffer.text().mid(position, length) : QString();
    const TTextChange change = m_buffer.replace(position, length, text, kind);
    if (change.removedLength == 0 && change.insertedLength == 0) {
        return;
    }
    if (accessible) {
        // A screen reader follows edits by what went and what came, never the whole text again.
        QAccessibleTextUpdateEvent update(this, static_cast<int>(change.position), removed,
                                          m_buffer.text().mid(change.position, change.insertedLength));
        QAccessible::updateAccessibility(&update);
    }
    dropLayouts(change);
    finishEdit(before, change.position + change.insertedLength);
}

void TTextView::insertText(const QString& text, TEditKind kind)
{
    replaceRange(selectionStart(), selectionEnd() - selectionStart(), text, kind);
}

void TTextView::removeSelection(TEditKind kind)
{
    if (hasSelection()) {
        replaceRange(selectionStart(), selectionEnd() - selectionStart(), QString(), kind);
    }
}

void TTextView::undo()
{
    const EditState before = editState();
    if (const auto change = m_buffer.undo()) {
        dropLayouts(*change);
        finishEdit(before, change->position + change->insertedLength);
    }
}

void TTextView::redo()
{
    const EditState before = editState();
    if (const auto change = m_buffer.redo()) {
        dropLayouts(*change);
        finishEdit(before, change->position + change->insertedLength);
    }
}

QString TTextView::withViewBreaks(QString text)
{
    text.replace(QChar::LineSeparator, u'\n');
    text.replace(QChar::ParagraphSeparator, u'\n');
    return toCrLf(std::move(text));
}

void TTextView::copy()
{
    if (hasSelection()) {
        QGuiApplication::clipboard()->setText(selectedText());
    }
}

void TTextView::cut()
{
    copy();
    removeSelection(TEditKind::Other);
}

void TTextView::paste()
{
    const QString text = withViewBreaks(QGuiApplication::clipboard()->text());
    if (!text.isEmpty()) {
        insertText(text, TEditKind::Other);
    }
}

void TTextView::selectAll()
{
    select(0, m_buffer.size());
}

QString TTextView::selectedText() const
{
    return toLfBreaks(m_buffer.text().mid(selectionStart(), selectionEnd() - selectionStart()));
}

void TTextView::select(qsizetype anchor, qsizetype cursor, bool keepPreferredX)
{
    const EditState before = editState();
    m_anchor = std::clamp<qsizetype>(anchor, 0, m_buffer.size());
    m_cursor = std::clamp<qsizetype>(cursor, 0, m_buffer.size());
    if (!keepPreferredX) {
        m_preferredX = -1;
    }
    if (before.cursor != m_cursor) {
        m_buffer.endMerge();
    }
    ensureCursorVisible();
    viewport()->update();
    restartBlink();
    updateMicroFocus();
    notify(before);
}

void TTextView::moveCursor(qsizetype position, bool keepAnchor, bool keepPreferredX)
{
    select(keepAnchor ? m_anchor : position, position, keepPreferredX);
}

void TTextView::setSelection(qsizetype position, qsizetype length)
{
    select(position, position + length);
}

void TTextView::goToLine(int line)
{
    line = std::clamp(line - 1, 0, m_buffer.lineCount() - 1);
    moveCursor(m_buffer.lineStart(line), false);
}

qsizetype TTextView::findMatch(const QString& text, bool backward, Qt::CaseSensitivity cs, bool wrap,
                               bool* fromOtherEnd) const
{
    // Past the end (or the start), only the matches before where the search began are left to look at.
    const QStringView all(m_buffer.text());
    *fromOtherEnd = false;
    qsizetype found = -1;
    if (!backward) {
        found = findText(all, text, selectionEnd(), cs);
        if (found < 0 && wrap) {
            found = findText(all.first(std::min(all.size(), selectionEnd() + text.size() - 1)), text, 0, cs);
            *fromOtherEnd = found >= 0;
        }
        return found;
    }
    if (selectionStart() > 0) {
        found = findTextBackward(all, text, selectionStart() - 1, cs);
    }
    if (found < 0 && wrap) {
        const qsizetype from = selectionStart();
        found = findTextBackward(all.sliced(from), text, all.size() - from - 1, cs);
        if (found >= 0) {
            found += from;
            *fromOtherEnd = true;
        }
    }
    return found;
}

TFindTarget::Found TTextView::findAndSelect(const QString& needle, bool backward, Qt::CaseSensitivity cs, bool wrap)
{
    if (needle.isEmpty()) {
        return Found::No;
    }
    // A line break searched for, in whatever form it was typed or pasted, is a CR LF in the text.
    const QString text = toCrLf(needle);
    bool fromOtherEnd = false;
    const qsizetype found = findMatch(text, backward, cs, wrap, &fromOtherEnd);
    if (found < 0) {
        return Found::No;
    }
    setSelection(found, text.size());
    return fromOtherEnd ? Found::FromOtherEnd : Found::Yes;
}

bool TTextView::find(const QString& needle, bool backward, Qt::CaseSensitivity cs, bool wrap)
{
    return findAndSelect(needle, backward, cs, wrap) != Found::No;
}

TFindTarget::Found TTextView::findAround(const QString& needle, bool backward, Qt::CaseSensitivity cs)
{
    return findAndSelect(needle, backward, cs, true);
}

bool TTextView::replaceFound(const QString& needle, const QString& replacement, Qt::CaseSensitivity cs)
{
    const QString text = toCrLf(needle);
    const QStringView selected = QStringView(m_buffer.text()).mid(selectionStart(), selectionEnd() - selectionStart());
    if (text.isEmpty() || selected.compare(text, cs) != 0) {
        return false;
    }
    replaceRange(selectionStart(), selectionEnd() - selectionStart(), toCrLf(replacement), TEditKind::Other);
    return true;
}

int TTextView::replaceAll(const QString& needle, const QString& replacement, Qt::CaseSensitivity cs)
{
    const QString text = toCrLf(needle);
    const QString with = toCrLf(replacement);
    const QStringView all(m_buffer.text());
    const qsizetype first = text.isEmpty() ? -1 : findText(all, text, 0, cs);
    if (first < 0) {
        return 0;
    }
    // One replacement of the stretch from the first match to the end of the last: one undo step.
    QString stretch;
    int count = 0;
    qsizetype from = first;
    for (qsizetype at = first; at >= 0; at = findText(all, text, from, cs)) {
        stretch.append(all.mid(from, at - from));
        stretch.append(with);
        from = at + text.size();
        ++count;
    }
    replaceRange(first, from - first, stretch, TEditKind::Other);
    return count;
}

// ---- keys ----------------------------------------------------------------------------------------------

TTextView::KeyAction TTextView::keyAction(const QKeyEvent* event)
{
    const Qt::KeyboardModifiers modifiers = event->modifiers() & ~(Qt::KeypadModifier | Qt::GroupSwitchModifier);
    const bool ctrl = modifiers & Qt::ControlModifier;
    const int key = event->key();
    if (key == Qt::Key_Tab || key == Qt::Key_Backtab) {
        // Ctrl+Tab and Ctrl+Shift+Tab switch the window's pages; Shift+Tab has no meaning in the text.
        return key == Qt::Key_Tab && modifiers == Qt::NoModifier ? KeyAction::Tab : KeyAction::None;
    }
    if ((ctrl && key == Qt::Key_Y && !(modifiers & ~Qt::ControlModifier)) ||
        (key == Qt::Key_Z && modifiers == (Qt::ControlModifier | Qt::ShiftModifier))) {
        return KeyAction::Redo;
    }
    struct Standard {
        QKeySequence::StandardKey key;
        KeyAction action;
    };
    static const Standard standards[] = {
        {QKeySequence::Undo, KeyAction::Undo},   {QKeySequence::Redo, KeyAction::Redo},
        {QKeySequence::Cut, KeyAction::Cut},     {QKeySequence::Copy, KeyAction::Copy},
        {QKeySequence::Paste, KeyAction::Paste}, {QKeySequence::SelectAll, KeyAction::SelectAll},
    };
    for (const Standard& standard : standards) {
        if (event->matches(standard.key)) {
            return standard.action;
        }
    }
    if (modifiers & (Qt::AltModifier | Qt::MetaModifier)) {
        return KeyAction::None;
    }
    switch (key) {
    case Qt::Key_Left:
        return ctrl ? KeyAction::WordLeft : KeyAction::Left;
    case Qt::Key_Right:
        return ctrl ? KeyAction::WordRight : KeyAction::Right;
    case Qt::Key_Up:
        return KeyAction::Up;
    case Qt::Key_Down:
        return KeyAction::Down;
    case Qt::Key_Home:
        return ctrl ? KeyAction::DocumentStart : KeyAction::Home;
    case Qt::Key_End:
        return ctrl ? KeyAction::DocumentEnd : KeyAction::End;
    case Qt::Key_PageUp:
        return KeyAction::PageUp;
    case Qt::Key_PageDown:
        return KeyAction::PageDown;
    case Qt::Key_Backspace:
        return ctrl ? KeyAction::DeleteWordBack : KeyAction::Backspace;
    case Qt::Key_Delete:
        return ctrl ? KeyAction::DeleteWordForward : KeyAction::Delete;
    // Shift+Enter too: a real line break, never the U+2028 separator that the save would refuse.
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return ctrl ? KeyAction::None : KeyAction::Break;
    default:
        break;
    }
    const QString text = event->text();
    if (!ctrl && !text.isEmpty() && (text.at(0).isSurrogate() || text.at(0).isPrint())) {
        return KeyAction::Insert;
    }
    return KeyAction::None;
}

void TTextView::keyPressEvent(QKeyEvent* event)
{
    const KeyAction action = keyAction(event);
    if (action == KeyAction::None) {
        event->ignore();
        return;
    }
    event->accept();
    runKeyAction(action, event);
}

void TTextView::runKeyAction(KeyAction action, const QKeyEvent* event)
{
    const bool shift = event->modifiers() & Qt::ShiftModifier;
    const int line = m_buffer.lineOf(m_cursor);
    const int page = std::max(1, viewport()->height() / m_lineHeight - 1);
    // Up and Down go by rows as the text is wrapped, keeping the x they started from. Up on the first row
    // and Down on the last stay (with Shift they select to the text's end); a page stops at the ends.
    const auto vertical = [&](int rows, bool page) {
        const qsizetype column = m_cursor - m_buffer.lineStart(line);
        bool clamped = false;
        const auto [targetLine, targetRow] = stepRows(line, rowOf(line, column), rows, &clamped);
        if (clamped && !page) {
            if (shift) {
                moveCursor(rows < 0 ? 0 : m_buffer.size(), true);
            }
            return;
        }
        const qreal x = m_preferredX >= 0 ? m_preferredX : xOf(m_cursor);
        moveCursor(positionInRow(targetLine, targetRow, x), shift, true);
        m_preferredX = x;
    };
    switch (action) {
    case KeyAction::Left:
        moveCursor(hasSelection() && !shift ? selectionStart() : m_buffer.previousCharacter(m_cursor), shift);
        break;
    case KeyAction::Right:
        moveCursor(hasSelection() && !shift ? selectionEnd() : m_buffer.nextCharacter(m_cursor), shift);
        break;
    case KeyAction::WordLeft:
        moveCursor(m_buffer.previousWord(m_cursor), shift);
        break;
    case KeyAction::WordRight:
        moveCursor(m_buffer.nextWord(m_cursor), shift);
        break;
    case KeyAction::Up:
        vertical(-1, false);
        break;
    case KeyAction::Down:
        vertical(1, false);
        break;
    case KeyAction::Home:
        moveCursor(m_buffer.lineStart(line), shift);
        break;
    case KeyAction::End:
        moveCursor(m_buffer.lineEnd(line), shift);
        break;
    case KeyAction::DocumentStart:
        moveCursor(0, shift);
        break;
    case KeyAction::DocumentEnd:
        moveCursor(m_buffer.size(), shift);
        break;
    case KeyAction::PageUp:
        verticalScrollBar()->setValue(verticalScrollBar()->value() - page);
        vertical(-page, true);
        break;
    case KeyAction::PageDown:
        verticalScrollBar()->setValue(verticalScrollBar()->value() + page);
        vertical(page, true);
        break;
    case KeyAction::SelectAll:
        selectAll();
        break;
    case KeyAction::Undo:
        undo();
        break;
    case KeyAction::Redo:
        redo();
        break;
    case KeyAction::Cut:
        cut();
        break;
    case KeyAction::Copy:
        copy();
        break;
    case KeyAction::Paste:
        paste();
        break;
    case KeyAction::Backspace:
        if (hasSelection()) {
            removeSelection(TEditKind::Other);
        } else if (m_cursor > 0) {
            // One character back, as editors do (a combining mark alone, a surrogate pair whole).
            qsizetype from = m_cursor - 1;
            if (from > 0 && m_buffer.text().at(from).isLowSurrogate() &&
                m_buffer.text().at(from - 1).isHighSurrogate()) {
                --from;
            }
            replaceRange(from, m_cursor - from, QString(), TEditKind::Deleting);
        }
        break;
    case KeyAction::Delete:
        if (hasSelection()) {
            removeSelection(TEditKind::Other);
        } else {
            replaceRange(m_cursor, m_buffer.nextCharacter(m_cursor) - m_cursor, QString(), TEditKind::Deleting);
        }
        break;
    case KeyAction::DeleteWordBack:
    case KeyAction::DeleteWordForward:
        if (!hasSelection()) {
            const qsizetype other =
                action == KeyAction::DeleteWordBack ? m_buffer.previousWord(m_cursor) : m_buffer.nextWord(m_cursor);
            select(other, m_cursor);
        }
        removeSelection(TEditKind::Other);
        break;
    case KeyAction::Break:
        insertText(QStringLiteral("\r\n"), TEditKind::Other);
        break;
    case KeyAction::Tab:
        insertText(QStringLiteral("\t"), TEditKind::Typing);
        break;
    case KeyAction::Insert:
        insertText(event->text(), TEditKind::Typing);
        break;
    case KeyAction::None:
        break;
    }
}

bool TTextView::event(QEvent* event)
{
    if (event->type() == QEvent::ShortcutOverride) {
        // Keys the text uses are the text's, even where the window has a shortcut on them; the rest (Ctrl+Tab,
        // Ctrl+S, ...) stay the window's.
        if (keyAction(static_cast<QKeyEvent*>(event)) != KeyAction::None) {
            event->accept();
            return true;
        }
    }
    return QAbstractScrollArea::event(event);
}

bool TTextView::focusNextPrevChild(bool)
{
    // Tab is a character of the text; focus moves by mouse or by the window's keys.
    return false;
}

// ---- input method --------------------------------------------------------------------------------------

std::pair<qsizetype, qsizetype> TTextView::surroundingWindow() const
{
    const int line = m_buffer.lineOf(m_cursor);
    const QString& text = m_buffer.text();
    qsizetype begin = std::max(m_buffer.lineStart(line), m_cursor - SurroundingReach);
    qsizetype end = std::min(m_buffer.lineEnd(line), m_cursor + SurroundingReach);
    if (begin > m_buffer.lineStart(line) && text.at(begin).isLowSurrogate()) {
        --begin;
    }
    if (end < m_buffer.lineEnd(line) && text.at(end).isLowSurrogate()) {
        ++end;
    }
    return {begin, end};
}

void TTextView::inputMethodEvent(QInputMethodEvent* event)
{
    const EditState before = editState();
    bool edited = false;
    const auto apply = [&](qsizetype position, qsizetype length, const QString& text) {
        const TTextChange change = m_buffer.replace(position, length, text, TEditKind::Typing);
        if (change.removedLength || change.insertedLength) {
            dropLayouts(change);
            m_cursor = m_anchor = change.position + change.insertedLength;
            edited = true;
        }
    };
    const bool input =
        !event->commitString().isEmpty() || !event->preeditString().isEmpty() || event->replacementLength() > 0;
    if (input && hasSelection()) {
        // Typing through the input method replaces the selection, as typing does.
        apply(selectionStart(), selectionEnd() - selectionStart(), QString());
    }
    if (!event->commitString().isEmpty() || event->replacementLength() > 0) {
        const int line = m_buffer.lineOf(m_cursor);
        const qsizetype start = std::clamp<qsizetype>(m_cursor + event->replacementStart(), m_buffer.lineStart(line),
                                                      m_buffer.lineEnd(line));
        const qsizetype length = std::clamp<qsizetype>(event->replacementLength(), 0, m_buffer.lineEnd(line) - start);
        apply(start, length, withViewBreaks(event->commitString()));
    }

    const int caretLine = m_buffer.lineOf(m_cursor);
    m_layouts.erase(m_layouts.lower_bound({caretLine, 0}), m_layouts.lower_bound({caretLine + 1, 0}));
    m_preedit = event->preeditString();
    m_preeditAttributes = event->attributes();
    m_preeditCursor = static_cast<int>(m_preedit.size());
    m_preeditCursorVisible = true;
    for (const QInputMethodEvent::Attribute& attribute : event->attributes()) {
        if (attribute.type == QInputMethodEvent::Cursor) {
            m_preeditCursor = attribute.start;
            m_preeditCursorVisible = attribute.length != 0;
        } else if (attribute.type == QInputMethodEvent::Selection && m_preedit.isEmpty()) {
            const qsizetype base = surroundingWindow().first;
            m_anchor = std::clamp<qsizetype>(base + attribute.start, 0, m_buffer.size());
            m_cursor = std::clamp<qsizetype>(base + attribute.start + attribute.length, 0, m_buffer.size());
        }
    }
    event->accept();
    if (edited) {
        const qsizetype anchor = m_anchor;
        finishEdit(before, m_cursor);
        if (anchor != m_cursor) {
            select(anchor, m_cursor);
        }
    } else {
        ensureCursorVisible();
        viewport()->update();
        updateMicroFocus();
        notify(before);
    }
}

QVariant TTextView::inputMethodQuery(Qt::InputMethodQuery query) const
{
    const QPoint offset = viewport()->pos();
    const auto [begin, end] = surroundingWindow();
    switch (query) {
    case Qt::ImEnabled:
        return true;
    case Qt::ImCursorRectangle:
        return cursorRect().translated(offset);
    case Qt::ImAnchorRectangle:
        return cursorRect(m_anchor).translated(offset);
    case Qt::ImFont:
        return font();
    case Qt::ImCursorPosition:
        return static_cast<int>(m_cursor - begin);
    case Qt::ImAnchorPosition:
        return static_cast<int>(std::clamp(m_anchor, begin, end) - begin);
    case Qt::ImSurroundingText:
        return m_buffer.text().mid(begin, end - begin);
    case Qt::ImTextBeforeCursor:
        return m_buffer.text().mid(begin, m_cursor - begin);
    case Qt::ImTextAfterCursor:
        return m_buffer.text().mid(m_cursor, end - m_cursor);
    case Qt::ImCurrentSelection:
        return selectionEnd() - selectionStart() <= SurroundingReach ? selectedText() : QString();
    case Qt::ImAbsolutePosition:
        return static_cast<qlonglong>(m_cursor);
    case Qt::ImMaximumTextLength:
        return QVariant();
    case Qt::ImHints:
        return static_cast<int>(inputMethodHints());
    default:
        return QAbstractScrollArea::inputMethodQuery(query);
    }
}

void TTextView::commitPreedit()
{
    if (m_preedit.isEmpty()) {
        return;
    }
    QGuiApplication::inputMethod()->commit();
    if (!m_preedit.isEmpty()) {
        // No input method took the commit: keep what was shown rather than lose it.
        QInputMethodEvent commit;
        commit.setCommitString(m_preedit);
        inputMethodEvent(&commit);
    }
}

void TTextView::updateMicroFocus()
{
    if (hasFocus()) {
        QGuiApplication::inputMethod()->update(Qt::ImQueryInput);
    }
}

// ---- mouse, menu, drops --------------------------------------------------------------------------------

qsizetype TTextView::positionAt(QPoint point) const
{
    const int rows = static_cast<int>(std::floor(static_cast<double>(point.y() - TopMargin) / m_lineHeight));
    const auto [topLine, topInLine] = topRow();
    const auto [line, row] = stepRows(topLine, topInLine, rows, nullptr);
    return positionInRow(line, row, point.x() - LeftMargin);
}

void TTextView::mousePressEvent(QMouseEvent* event)
{
    commitPreedit();
    const qsizetype position = positionAt(event->position().toPoint());
    if (event->button() == Qt::LeftButton) {
        if (m_tripleClickTimer.isActive() &&
            (event->position().toPoint() - m_tripleClickPoint).manhattanLength() < QApplication::startDragDistance()) {
            const int line = m_buffer.lineOf(position);
            select(m_buffer.lineStart(line),
                   line + 1 < m_buffer.lineCount() ? m_buffer.lineStart(line + 1) : m_buffer.size());
            m_selecting = false;
            return;
        }
        if (hasSelection() && !(event->modifiers() & Qt::ShiftModifier) && position >= selectionStart() &&
            position <= selectionEnd()) {
            // A press in the selection may start dragging it away, as in Qt's editors.
            m_dragPending = true;
            m_pressPos = event->position().toPoint();
            return;
        }
        moveCursor(position, event->modifiers() & Qt::ShiftModifier);
        m_selecting = true;
        m_wordSelecting = false;
    } else if (event->button() == Qt::MiddleButton && QGuiApplication::clipboard()->supportsSelection()) {
        const QString text = withViewBreaks(QGuiApplication::clipboard()->text(QClipboard::Selection));
        if (!text.isEmpty()) {
            moveCursor(position, false);
            insertText(text, TEditKind::Other);
        }
    }
}

void TTextView::mouseMoveEvent(QMouseEvent* event)
{
    if (m_dragPending && (event->buttons() & Qt::LeftButton)) {
        if ((event->position().toPoint() - m_pressPos).manhattanLength() >= QApplication::startDragDistance()) {
            m_dragPending = false;
            startDrag();
        }
        return;
    }
    if (!m_selecting || !(event->buttons() & Qt::LeftButton)) {
        return;
    }
    m_lastMousePos = event->position().toPoint();
    if (viewport()->rect().contains(m_lastMousePos)) {
        m_autoScrollTimer.stop();
    } else if (!m_autoScrollTimer.isActive()) {
        m_autoScrollTimer.start(50, this);
    }
    const qsizetype position = positionAt(m_lastMousePos);
    if (m_wordSelecting) {
        const auto word = m_buffer.wordAt(position);
        if (position < m_wordAnchor.first) {
            select(m_wordAnchor.second, word.first);
        } else {
            select(m_wordAnchor.first, std::max(word.second, m_wordAnchor.second));
        }
    } else {
        moveCursor(position, true);
    }
}

void TTextView::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton) {
        if (m_dragPending) {
            // A click in the selection that did not become a drag puts the caret there.
            m_dragPending = false;
            moveCursor(positionAt(event->position().toPoint()), false);
        }
        m_selecting = false;
        m_autoScrollTimer.stop();
        setPrimarySelection();
    }
}

void TTextView::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        return;
    }
    commitPreedit();
    m_wordAnchor = m_buffer.wordAt(positionAt(event->position().toPoint()));
    select(m_wordAnchor.first, m_wordAnchor.second);
    m_selecting = true;
    m_wordSelecting = true;
    m_tripleClickPoint = event->position().toPoint();
    m_tripleClickTimer.start(QApplication::doubleClickInterval(), this);
}

void TTextView::setPrimarySelection()
{
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (hasSelection() && clipboard->supportsSelection()) {
        clipboard->setText(selectedText(), QClipboard::Selection);
    }
}

QMenu* TTextView::createContextMenu()
{
    auto* menu = new QMenu(this);
    const bool hasText = m_buffer.size() > 0;
    // Qt's own Japanese texts for a text editor's menu, access letters included; 削除 shows no key, as there.
    const auto add = [&](const char* caption, QKeySequence::StandardKey key, bool enabled, auto slot) {
        QAction* action = menu->addAction(QString::fromUtf8(caption), this, slot);
        if (key != QKeySequence::UnknownKey) {
            action->setShortcut(key);
            action->setShortcutContext(Qt::WidgetShortcut);
            action->setShortcutVisibleInContextMenu(true);
        }
        action->setEnabled(enabled);
    };
    add("元に戻す(&U)", QKeySequence::Undo, m_buffer.canUndo(), &TTextView::undo);
    add("やり直す(&R)", QKeySequence::Redo, m_buffer.canRedo(), &TTextView::redo);
    menu->addSeparator();
    add("切り取り(&T)", QKeySequence::Cut, hasSelection(), &TTextView::cut);
    add("コピー(&C)", QKeySequence::Copy, hasSelection(), &TTextView::copy);
    add("貼り付け(&P)", QKeySequence::Paste, !QGuiApplication::clipboard()->text().isEmpty(), &TTextView::paste);
    add("削除", QKeySequence::UnknownKey, hasSelection(), [this] { removeSelection(TEditKind::Other); });
    menu->addSeparator();
    add("すべてを選択", QKeySequence::SelectAll, hasText, &TTextView::selectAll);
    return menu;
}

void TTextView::contextMenuEvent(QContextMenuEvent* event)
{
    QMenu* menu = createContextMenu();
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(event->globalPos());
}

bool TTextView::acceptsDrop(const QMimeData* mime)
{
    // Files dropped are the window's to load; only text belongs in the text.
    const QList<QUrl> urls = mime->urls();
    const bool files = std::any_of(urls.begin(), urls.end(), [](const QUrl& url) { return url.isLocalFile(); });
    return !files && mime->hasText();
}

void TTextView::startDrag()
{
    auto* drag = new QDrag(this);
    auto* mime = new QMimeData;
    mime->setText(selectedText());
    drag->setMimeData(mime);
    const Qt::DropAction action = drag->exec(Qt::CopyAction | Qt::MoveAction, Qt::MoveAction);
    // Moved into another program (or another control): the text leaves this one. A move within this view
    // was done by the drop as one step.
    const QObject* target = drag->target();
    if (action == Qt::MoveAction && target != this && target != viewport()) {
        removeSelection(TEditKind::Other);
    }
}

void TTextView::moveSelectionTo(qsizetype position)
{
    const qsizetype start = selectionStart();
    const qsizetype end = selectionEnd();
    if (position >= start && position <= end) {
        moveCursor(position, false);
        return;
    }
    // One replacement of the stretch from the selection to the drop point, so that undo takes the move
    // back whole.
    const QString& text = m_buffer.text();
    const QString moved = text.mid(start, end - start);
    if (position > end) {
        replaceRange(start, position - start, text.mid(end, position - end) + moved, TEditKind::Other);
    } else {
        replaceRange(position, end - position, moved + text.mid(position, start - position), TEditKind::Other);
        moveCursor(position + moved.size(), false);
    }
}

void TTextView::dragEnterEvent(QDragEnterEvent* event)
{
    dragMoveEvent(event);
}

void TTextView::dragMoveEvent(QDragMoveEvent* event)
{
    if (!acceptsDrop(event->mimeData())) {
        event->ignore();
        return;
    }
    // Text dragged within the view moves (Ctrl copies); from elsewhere it is copied, the source keeping it.
    const bool move = event->source() == this && !(event->modifiers() & Qt::ControlModifier);
    event->setDropAction(move ? Qt::MoveAction : Qt::CopyAction);
    event->accept();
    m_dropPosition = positionAt(event->position().toPoint());
    viewport()->update();
}

void TTextView::dragLeaveEvent(QDragLeaveEvent*)
{
    m_dropPosition = -1;
    viewport()->update();
}

void TTextView::dropEvent(QDropEvent* event)
{
    m_dropPosition = -1;
    if (!acceptsDrop(event->mimeData())) {
        event->ignore();
        viewport()->update();
        return;
    }
    const qsizetype position = positionAt(event->position().toPoint());
    if (event->source() == this && !(event->modifiers() & Qt::ControlModifier)) {
        event->setDropAction(Qt::MoveAction);
        event->accept();
        moveSelectionTo(position);
        setFocus(Qt::MouseFocusReason);
        return;
    }
    event->setDropAction(Qt::CopyAction);
    event->accept();
    moveCursor(position, false);
    insertText(withViewBreaks(event->mimeData()->text()), TEditKind::Other);
    setFocus(Qt::MouseFocusReason);
}

// ---- focus, caret, timers ------------------------------------------------------------------------------

void TTextView::focusInEvent(QFocusEvent* event)
{
    QAbstractScrollArea::focusInEvent(event);
    restartBlink();
    viewport()->update();
}

void TTextView::focusOutEvent(QFocusEvent* event)
{
    QAbstractScrollArea::focusOutEvent(event);
    m_blinkTimer.stop();
    m_caretShown = false;
    viewport()->update();
}

void TTextView::restartBlink()
{
    m_caretShown = true;
    const int flash = QGuiApplication::styleHints()->cursorFlashTime();
    if (hasFocus() && flash >= 2) {
        m_blinkTimer.start(flash / 2, this);
    } else {
        m_blinkTimer.stop();
    }
}

void TTextView::timerEvent(QTimerEvent* event)
{
    if (event->timerId() == m_blinkTimer.timerId()) {
        m_caretShown = !m_caretShown;
        viewport()->update(cursorRect().adjusted(-2, 0, 2, 0));
    } else if (event->timerId() == m_autoScrollTimer.timerId()) {
        const QRect area = viewport()->rect();
        QScrollBar* vertical = verticalScrollBar();
        if (m_lastMousePos.y() < area.top()) {
            vertical->setValue(vertical->value() - 1);
        } else if (m_lastMousePos.y() > area.bottom()) {
            vertical->setValue(vertical->value() + 1);
        }
        moveCursor(positionAt(m_lastMousePos), true);
    } else if (event->timerId() == m_wrapTimer.timerId()) {
        // A slice of the wrap still going on after an edit; the text at the view's top stays where it is.
        if (m_pending.empty()) {
            m_wrapTimer.stop();
            return;
        }
        const int line = m_pending.begin()->first;
        const auto [topLine, topInLine] = lineAtRow(verticalScrollBar()->value());
        const int before = m_rows[static_cast<size_t>(line)];
        constexpr qsizetype Slice = 1024 * 1024;
        continueWrap(line, Slice, -1);
        if (line < topLine && m_rows[static_cast<size_t>(line)] != before) {
            updateScrollBars();
            verticalScrollBar()->setValue(rowsBefore(topLine) + topInLine);
        }
        if (m_pending.empty()) {
            m_wrapTimer.stop();
        }
    } else if (event->timerId() == m_tripleClickTimer.timerId()) {
        m_tripleClickTimer.stop();
    } else {
        QAbstractScrollArea::timerEvent(event);
    }
}

void TTextView::changeEvent(QEvent* event)
{
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        updateMetrics();
        updateScrollBars();
        viewport()->update();
    } else if (event->type() == QEvent::PaletteChange || event->type() == QEvent::ActivationChange) {
        viewport()->update();
    }
}

// ---- geometry and scrolling ----------------------------------------------------------------------------

void TTextView::updateMetrics()
{
    m_metrics = QFontMetricsF(font(), viewport());
    m_advances.assign(0x10000, -1.0f);
    m_advances[u'\t'] = static_cast<float>(m_tabWidth);
    // One line's height fits the Latin and the Japanese (fallback) font alike, so that every row is as
    // tall as the others and a row is found from y by a division.
    QTextLayout sample(QString::fromUtf8("Mgあ漢|"), font(), viewport());
    sample.beginLayout();
    QTextLine line = sample.createLine();
    sample.endLayout();
    m_lineHeight = std::max(1, static_cast<int>(std::ceil(line.height())));
    m_ascent = line.ascent();
    m_averageAdvance = std::max<qreal>(1, m_metrics.averageCharWidth());
    rewrapAll();
}

qreal TTextView::wrapWidth() const
{
    // Before the view is first shown its viewport has no size yet; the view's own does.
    const int width = viewport()->isVisible() ? viewport()->width()
                                              : contentsRect().width() - verticalScrollBar()->sizeHint().width();
    return std::max<qreal>(m_averageAdvance, width - 2 * LeftMargin - 1);
}

int TTextView::estimatedRows(qsizetype length) const
{
    const double rows = std::ceil(static_cast<double>(length) * m_averageAdvance / m_wrapWidth);
    return static_cast<int>(std::clamp(rows, 1.0, 1.0e8));
}

void TTextView::rewrapAll()
{
    // Each line's rows are estimated from its length until the line is laid out: a million lines cost one
    // pass over the line index, and the scroll bar settles as lines come on screen.
    const int lines = m_buffer.lineCount();
    m_wrapWidth = wrapWidth();
    m_rowStarts.clear();
    m_pending.clear();
    m_layouts.clear();
    m_rows.resize(static_cast<size_t>(lines));
    for (int line = 0; line < lines; ++line) {
        m_rows[static_cast<size_t>(line)] = estimatedRows(m_buffer.lineLength(line));
    }
    rebuildRowTree();
}

void TTextView::rebuildRowTree() const
{
    // A Fenwick tree over the rows per line: rows before a line, and the line at a row, in log time.
    const size_t n = m_rows.size();
    m_rowTree.assign(n + 1, 0);
    for (size_t i = 1; i <= n; ++i) {
        m_rowTree[i] += m_rows[i - 1];
        const size_t parent = i + (i & (~i + 1));
        if (parent <= n) {
            m_rowTree[parent] += m_rowTree[i];
        }
    }
}

void TTextView::setRows(int line, int rows) const
{
    int& kept = m_rows[static_cast<size_t>(line)];
    const int delta = rows - kept;
    if (delta == 0) {
        return;
    }
    kept = rows;
    for (size_t i = static_cast<size_t>(line) + 1; i < m_rowTree.size(); i += i & (~i + 1)) {
        m_rowTree[i] += delta;
    }
    if (!m_rangePending) {
        // The scroll range follows once the current event (a paint, perhaps) is over.
        m_rangePending = true;
        QMetaObject::invokeMethod(
            const_cast<TTextView*>(this),
            [this] {
                if (m_rangePending) {
                    const_cast<TTextView*>(this)->updateScrollBars();
                }
            },
            Qt::QueuedConnection);
    }
}

int TTextView::rowsBefore(int line) const
{
    int rows = 0;
    for (size_t i = static_cast<size_t>(line); i > 0; i -= i & (~i + 1)) {
        rows += m_rowTree[i];
    }
    return rows;
}

int TTextView::totalRows() const
{
    return rowsBefore(static_cast<int>(m_rows.size()));
}

std::pair<int, int> TTextView::lineAtRow(int row) const
{
    const size_t n = m_rows.size();
    size_t line = 0;
    size_t step = 1;
    while (step * 2 <= n) {
        step *= 2;
    }
    int rest = std::max(0, row);
    for (; step > 0; step /= 2) {
        if (line + step <= n && m_rowTree[line + step] <= rest) {
            line += step;
            rest -= m_rowTree[line];
        }
    }
    if (line >= n) {
        line = n - 1;
        rest = m_rows[line] - 1;
    }
    return {static_cast<int>(line), rest};
}

const std::vector<qsizetype>& TTextView::rowStarts(int line) const
{
    const auto found = m_rowStarts.find(line);
    if (found != m_rowStarts.end()) {
        return found->second;
    }
    std::vector<qsizetype> starts{0};
    WrapRun run;
    wrapRun(m_buffer.lineText(line), run, starts, nullptr, nullptr, InStep{}, -1, 0);
    setRows(line, static_cast<int>(starts.size()));
    return m_rowStarts.emplace(line, std::move(starts)).first->second;
}

TTextView::WrapStop TTextView::wrapRun(QStringView text, WrapRun& run, std::vector<qsizetype>& fresh,
                                       const qsizetype* tail, const qsizetype* tailEnd, const InStep& inStep,
                                       qsizetype budget, qsizetype minStart) const
{
    // Rows break after a space where the row has one, else between any two characters (base64 has no
    // spaces); spaces at a row's end hang past the edge. Widths are the characters' advances summed, so
    // that a 4 MB line wraps without being laid out.
    const QChar* c = text.data();
    const qsizetype n = text.size();
    const qreal width = m_wrapWidth;
    const qsizetype first = run.next;
    qsizetype rowStart = run.rowStart;
    qreal x = run.x;
    qsizetype lastBreak = -1;
    qreal xAtBreak = 0;
    for (qsizetype i = run.next; i < n; ++i) {
        const qsizetype at = i;
        const qreal w = advance(c, i, n);
        if (c[at] == u' ' || c[at] == u'\t') {
            x += w;
            lastBreak = i + 1;
            xAtBreak = x;
            continue;
        }
        if (x + w <= width || at == rowStart) {
            x += w;
            continue;
        }
        qsizetype breakAt = lastBreak > rowStart ? lastBreak : at;
        if (breakAt == at) {
            x = w;
        } else {
            x = x - xAtBreak + w;
        }
        for (int step = 0; step < 8 && breakAt > rowStart + 1 && isJoining(c[breakAt]); ++step) {
            --breakAt; // a mark stays with its letter, a surrogate pair whole
        }
        if (breakAt != at && breakAt != lastBreak) {
            x = measure(text.mid(breakAt, i + 1 - breakAt));
        }
        fresh.push_back(breakAt);
        rowStart = breakAt;
        lastBreak = -1;
        if (tail != tailEnd && breakAt >= inStep.from && (breakAt <= inStep.keepTo || breakAt >= inStep.beyond)) {
            // Past the edit, a row starting where a row started before goes on as before.
            const qsizetype* same = std::lower_bound(tail, tailEnd, breakAt);
            if (same != tailEnd && *same == breakAt) {
                m_measured += i + 1 - first;
                return WrapStop::InStep;
            }
        }
        if (budget >= 0 && i + 1 - first >= budget && breakAt > minStart) {
            m_measured += i + 1 - first;
            run = {breakAt, i + 1, x};
            return WrapStop::Paused;
        }
    }
    m_measured += std::max<qsizetype>(0, n - first);
    return WrapStop::LineEnd;
}

void TTextView::spliceRows(std::vector<qsizetype>& rows, size_t restart, std::vector<qsizetype>& fresh, WrapStop stop)
{
    // rows[restart + 1, end) are the rows from before (columns already shifted past the edit), all past
    // rows[restart]; those the fresh rows reach are replaced by them.
    const auto tail = rows.begin() + static_cast<std::ptrdiff_t>(restart) + 1;
    auto kept = rows.end();
    if (stop == WrapStop::InStep) {
        kept = std::lower_bound(tail, rows.end(), fresh.back());
        fresh.pop_back();
    } else if (stop == WrapStop::Paused) {
        kept = std::upper_bound(tail, rows.end(), fresh.back());
    }
    const auto replaced = kept - tail;
    const auto common = std::min<std::ptrdiff_t>(replaced, static_cast<std::ptrdiff_t>(fresh.size()));
    std::copy(fresh.begin(), fresh.begin() + common, tail);
    if (replaced > common) {
        rows.erase(tail + common, kept);
    } else {
        rows.insert(tail + common, fresh.begin() + common, fresh.end());
    }
}

void TTextView::rewrapEdited(const TTextChange& change, std::vector<qsizetype>& rows) const
{
    const qsizetype column = change.position - m_buffer.lineStart(change.firstLine);
    rewrapAround(change.firstLine, column, column + change.removedLength, column + change.insertedLength, rows);
}

void TTextView::rewrapAround(int line, qsizetype column, qsizetype oldEnd, qsizetype editEnd,
                             std::vector<qsizetype>& rows) const
{
    // One line edited in place: its rows up to the one before the edit stand (the edit can pull a word back
    // onto it), and past the edit the old rows come back once a row starts where one did. Where no row
    // falls in step soon (a long line without spaces in a font whose letters are as wide as each other),
    // the rows past the edit stay as they were, shifted, and the wrap goes on from where it stopped while
    // the view is idle or once those rows are wanted: a key costs the rows around it at any line length.
    const qsizetype delta = editEnd - oldEnd;
    const auto shifted = [&](qsizetype at) { return at >= oldEnd ? at + delta : at > column ? editEnd : at; };

    const auto row = std::upper_bound(rows.begin(), rows.end(), column) - rows.begin() - 1;
    size_t restart = static_cast<size_t>(std::max<std::ptrdiff_t>(0, row - 1));
    InStep inStep{editEnd, -1, editEnd};
    const auto pending = m_pending.find(line);
    bool keepPending = false;
    if (pending != m_pending.end()) {
        // A wrap from an edit before is still going on over this line. Rows up to where it stands are exact
        // and may be fallen in step with (it then goes on as it was); past it, only the rows it could still
        // fall in step with may.
        const PendingWrap& wrap = pending->second;
        const qsizetype frontier = wrap.run.rowStart;
        if (frontier >= oldEnd) {
            keepPending = true;
            inStep.keepTo = frontier + delta;
            inStep.beyond = std::max({editEnd, shifted(wrap.inStepFrom), frontier + delta + 1});
        } else {
            const auto at = std::lower_bound(rows.begin(), rows.end(), frontier) - rows.begin();
            restart = std::min(restart, static_cast<size_t>(at));
            inStep.beyond = std::max(editEnd, shifted(wrap.inStepFrom));
        }
    }

    const auto tail = std::lower_bound(rows.begin() + static_cast<std::ptrdiff_t>(restart) + 1, rows.end(), oldEnd);
    for (auto it = tail; it != rows.end(); ++it) {
        *it += delta;
    }
    rows.erase(rows.begin() + static_cast<std::ptrdiff_t>(restart) + 1, tail);

    WrapRun run{rows[restart], rows[restart], 0};
    std::vector<qsizetype> fresh;
    constexpr qsizetype EditBudget = 32 * 1024;
    const WrapStop stop = wrapRun(m_buffer.lineText(line), run, fresh, rows.data() + restart + 1,
                                  rows.data() + rows.size(), inStep, EditBudget, editEnd);
    const bool stillPending = keepPending && stop == WrapStop::InStep && fresh.back() <= inStep.keepTo;
    spliceRows(rows, restart, fresh, stop);
    if (stillPending) {
        PendingWrap& wrap = pending->second;
        wrap.run.rowStart += delta;
        wrap.run.next += delta;
        wrap.inStepFrom = std::max(editEnd, shifted(wrap.inStepFrom));
    } else if (stop == WrapStop::Paused) {
        m_pending[line] = {run, inStep.beyond};
    } else if (pending != m_pending.end()) {
        m_pending.erase(pending);
    }
}

void TTextView::continueWrap(int line, qsizetype budget, qsizetype minStart) const
{
    const auto pending = m_pending.find(line);
    const auto found = m_rowStarts.find(line);
    if (pending == m_pending.end()) {
        return;
    }
    if (found == m_rowStarts.end()) {
        m_pending.erase(pending);
        return;
    }
    std::vector<qsizetype>& rows = found->second;
    PendingWrap& wrap = pending->second;
    const size_t restart =
        static_cast<size_t>(std::lower_bound(rows.begin(), rows.end(), wrap.run.rowStart) - rows.begin());
    std::vector<qsizetype> fresh;
    const InStep inStep{wrap.inStepFrom, -1, wrap.inStepFrom};
    const WrapStop stop = wrapRun(m_buffer.lineText(line), wrap.run, fresh, rows.data() + restart + 1,
                                  rows.data() + rows.size(), inStep, budget, minStart);
    spliceRows(rows, restart, fresh, stop);
    if (stop != WrapStop::Paused) {
        m_pending.erase(pending);
    }
    setRows(line, static_cast<int>(rows.size()));
}

void TTextView::settleColumn(int line, qsizetype column) const
{
    // The row holding `column` is exact once an exact row starts past it.
    for (auto pending = m_pending.find(line); pending != m_pending.end() && pending->second.run.rowStart <= column;
         pending = m_pending.find(line)) {
        continueWrap(line, 0, column);
    }
}

void TTextView::settleRow(int line, int row) const
{
    for (auto pending = m_pending.find(line); pending != m_pending.end(); pending = m_pending.find(line)) {
        const auto found = m_rowStarts.find(line);
        if (found == m_rowStarts.end()) {
            m_pending.erase(pending);
            return;
        }
        const std::vector<qsizetype>& rows = found->second;
        if (row < 0 || static_cast<size_t>(row) >= rows.size()) {
            // Past the rows standing in for the rest: all of them.
            continueWrap(line, -1, 0);
        } else if (rows[static_cast<size_t>(row)] >= pending->second.run.rowStart) {
            continueWrap(line, 0, rows[static_cast<size_t>(row)]);
        } else {
            return;
        }
    }
}

int TTextView::rowOf(int line, qsizetype column) const
{
    const std::vector<qsizetype>& starts = rowStarts(line);
    settleColumn(line, column);
    return static_cast<int>(std::upper_bound(starts.begin(), starts.end(), column) - starts.begin()) - 1;
}

int TTextView::visualRow(qsizetype position) const
{
    const int line = m_buffer.lineOf(position);
    const int row = rowOf(line, position - m_buffer.lineStart(line));
    return rowsBefore(line) + row;
}

std::pair<int, int> TTextView::topRow() const
{
    auto [line, row] = lineAtRow(verticalScrollBar()->value());
    rowStarts(line);
    settleRow(line, row + fullRows() + 1);
    row = std::min(row, static_cast<int>(rowStarts(line).size()) - 1);
    return {line, row};
}

std::pair<int, int> TTextView::stepRows(int line, int row, int rows, bool* clamped) const
{
    rowStarts(line);
    settleRow(line, row + std::max(rows, 0) + 1);
    row += rows;
    while (row < 0) {
        if (line == 0) {
            if (clamped) {
                *clamped = true;
            }
            return {0, 0};
        }
        --line;
        rowStarts(line);
        settleRow(line, -1); // counted from its end: all its rows
        row += static_cast<int>(rowStarts(line).size());
    }
    while (row >= static_cast<int>(rowStarts(line).size())) {
        if (line + 1 >= m_buffer.lineCount()) {
            if (clamped) {
                *clamped = true;
            }
            settleRow(line, -1);
            return {line, static_cast<int>(rowStarts(line).size()) - 1};
        }
        row -= static_cast<int>(rowStarts(line).size());
        ++line;
        rowStarts(line);
        settleRow(line, row + 1);
    }
    return {line, row};
}

int TTextView::fullRows() const
{
    return std::max(1, (viewport()->height() - TopMargin) / m_lineHeight);
}

void TTextView::updateScrollBars()
{
    m_rangePending = false;
    QScrollBar* vertical = verticalScrollBar();
    vertical->setPageStep(fullRows());
    vertical->setRange(0, std::max(0, totalRows() - fullRows()));
}

void TTextView::resizeEvent(QResizeEvent* event)
{
    QAbstractScrollArea::resizeEvent(event);
    if (std::abs(wrapWidth() - m_wrapWidth) >= 0.5) {
        // Rewrapped at the new width; the line at the top stays there.
        const auto [line, row] = topRow();
        const qsizetype column = rowStarts(line)[static_cast<size_t>(row)];
        rewrapAll();
        updateScrollBars();
        verticalScrollBar()->setValue(rowsBefore(line) + rowOf(line, column));
    } else {
        updateScrollBars();
    }
}

void TTextView::scrollContentsBy(int, int)
{
    viewport()->update();
}

void TTextView::ensureCursorVisible()
{
    const int row = visualRow(m_cursor);
    if (m_rangePending) {
        updateScrollBars();
    }
    QScrollBar* vertical = verticalScrollBar();
    const auto [topLine, topInLine] = topRow();
    const int top = rowsBefore(topLine) + topInLine;
    if (row < top) {
        vertical->setValue(row);
    } else if (row >= top + fullRows()) {
        vertical->setValue(row - fullRows() + 1);
    }
}

// ---- measuring and layout ------------------------------------------------------------------------------

qreal TTextView::measureAdvance(const QChar* c, qsizetype& i, qsizetype end) const
{
    const char16_t u = c[i].unicode();
    if (QChar::isHighSurrogate(u) && i + 1 < end && c[i + 1].isLowSurrogate()) {
        const QChar pair[2] = {c[i], c[i + 1]};
        ++i;
        return m_metrics.horizontalAdvance(QString(pair, 2));
    }
    const qreal measured = m_metrics.horizontalAdvance(QChar(u));
    if (!QChar::isSurrogate(u)) {
        m_advances[u] = static_cast<float>(measured);
    }
    return measured;
}

inline qreal TTextView::advance(const QChar* c, qsizetype& i, qsizetype end) const
{
    // The table holds every measured code unit but surrogates; a miss measures (and fills the table).
    const float cached = m_advances[c[i].unicode()];
    return cached >= 0 ? cached : measureAdvance(c, i, end);
}

qreal TTextView::measure(QStringView text) const
{
    qreal x = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        x += advance(text.data(), i, text.size());
    }
    return x;
}

TTextView::RowLayout& TTextView::layoutFor(int line, int row) const
{
    const bool caretLine = !m_preedit.isEmpty() && line == m_buffer.lineOf(m_cursor);
    const qsizetype caretColumn = caretLine ? m_cursor - m_buffer.lineStart(line) : -1;
    const bool preeditHere = caretLine && rowOf(line, caretColumn) == row;
    const auto key = std::make_pair(line, row);
    const auto found = m_layouts.find(key);
    if (found != m_layouts.end() && found->second.preeditAt == (preeditHere ? caretColumn : -1)) {
        return found->second;
    }

    const QStringView text = m_buffer.lineText(line);
    const std::vector<qsizetype>& starts = rowStarts(line);
    settleRow(line, row);
    RowLayout made;
    made.start = starts[static_cast<size_t>(row)];
    made.end = static_cast<size_t>(row) + 1 < starts.size() ? starts[static_cast<size_t>(row) + 1] : text.size();
    made.layout =
        std::make_unique<QTextLayout>(text.mid(made.start, made.end - made.start).toString(), font(), viewport());
    QTextOption option;
    option.setWrapMode(QTextOption::NoWrap);
    option.setTabStopDistance(m_tabWidth);
    made.layout->setTextOption(option);
    made.layout->setCacheEnabled(true);
    if (preeditHere) {
        // The input method's text being composed, shown in place with the formats it asks for (underlined
        // when it asks for none).
        made.preeditAt = caretColumn;
        const int at = static_cast<int>(caretColumn - made.start);
        made.layout->setPreeditArea(at, m_preedit);
        QList<QTextLayout::FormatRange> formats;
        for (const QInputMethodEvent::Attribute& attribute : m_preeditAttributes) {
            if (attribute.type == QInputMethodEvent::TextFormat) {
                const QTextCharFormat format = qvariant_cast<QTextFormat>(attribute.value).toCharFormat();
                if (format.isValid()) {
                    formats.append({at + attribute.start, attribute.length, format});
                }
            }
        }
        if (formats.isEmpty()) {
            QTextCharFormat underline;
            underline.setFontUnderline(true);
            formats.append({at, static_cast<int>(m_preedit.size()), underline});
        }
        made.layout->setFormats(formats);
    }
    made.layout->beginLayout();
    made.layout->createLine();
    made.layout->endLayout();
    RowLayout& slot = m_layouts[key];
    slot = std::move(made);
    return slot;
}

void TTextView::dropLayouts(const TTextChange& change)
{
    // Lines before the change keep their rows and layouts, lines after it keep them under their new numbers.
    const int lastOld = change.firstLine + change.removedBreaks;
    const int shift = change.insertedBreaks - change.removedBreaks;
    std::map<std::pair<int, int>, RowLayout> layouts;
    for (auto& [key, layout] : m_layouts) {
        if (key.first < change.firstLine) {
            layouts.emplace(key, std::move(layout));
        } else if (key.first > lastOld) {
            layouts.emplace(std::make_pair(key.first + shift, key.second), std::move(layout));
        }
    }
    m_layouts.swap(layouts);

    std::vector<qsizetype> old;
    // A line broken in two (Enter) or two joined (a line break deleted) keep what they can of their rows:
    // the rows before the edit, and those of the text after it.
    std::vector<qsizetype> oldFirst;
    std::vector<qsizetype> oldLast;
    const bool inPlace = change.removedBreaks == 0 && change.insertedBreaks == 0;
    const bool broken = change.removedBreaks == 0 && change.insertedBreaks > 0;
    const bool joined = change.removedBreaks == 1 && change.insertedBreaks == 0 && change.removedLength == 2;
    // A wrap going on over either goes on over the new line that holds its rows.
    const auto pendingOf = [&](int line) {
        const auto found = m_pending.find(line);
        return found == m_pending.end() ? std::optional<PendingWrap>() : std::optional<PendingWrap>(found->second);
    };
    const std::optional<PendingWrap> firstWrap = pendingOf(change.firstLine);
    const std::optional<PendingWrap> lastWrap = pendingOf(lastOld);
    const qsizetype editColumn = change.position - m_buffer.lineStart(change.firstLine);
    // Rows up to the edit not yet rewrapped: the line is wrapped afresh when shown.
    const bool wrapping = firstWrap && firstWrap->run.rowStart < editColumn;
    std::map<int, std::vector<qsizetype>> starts;
    for (auto& [line, rows] : m_rowStarts) {
        if (line < change.firstLine) {
            starts.emplace(line, std::move(rows));
        } else if (line > lastOld) {
            starts.emplace(line + shift, std::move(rows));
        } else if (line == change.firstLine && inPlace) {
            old = std::move(rows);
        } else if (line == change.firstLine && (broken || joined) && !wrapping) {
            oldFirst = std::move(rows);
        } else if (line == lastOld && joined && !wrapping) {
            oldLast = std::move(rows);
        }
    }
    m_rowStarts.swap(starts);
    std::map<int, PendingWrap> pending;
    for (auto& [line, wrap] : m_pending) {
        if (line < change.firstLine || (line == change.firstLine && !old.empty())) {
            pending.emplace(line, wrap);
        } else if (line > lastOld) {
            pending.emplace(line + shift, wrap);
        }
    }
    m_pending.swap(pending);

    if (shift != 0) {
        const auto first = m_rows.begin() + change.firstLine + 1;
        if (shift < 0) {
            m_rows.erase(first, first - shift);
        } else {
            m_rows.insert(first, static_cast<size_t>(shift), 1);
        }
    }
    if (shift == 0) {
        // The lines stay where they were: the tree takes the one line's new count, the rest stands.
        if (!old.empty()) {
            rewrapEdited(change, old);
        }
        setRows(change.firstLine,
                old.empty() ? estimatedRows(m_buffer.lineLength(change.firstLine)) : static_cast<int>(old.size()));
        if (!old.empty()) {
            m_rowStarts.emplace(change.firstLine, std::move(old));
        }
        if (!m_pending.empty() && !m_wrapTimer.isActive()) {
            m_wrapTimer.start(0, this);
        }
        return;
    }
    for (int line = change.firstLine; line <= change.firstLine + change.insertedBreaks; ++line) {
        m_rows[static_cast<size_t>(line)] = estimatedRows(m_buffer.lineLength(line));
    }
    // Columns of the old line(s) are taken into those of one line edited in place: the rows up to the edit
    // at theirs, those after it one past the edit's start (as if one character went), so that the rewrap
    // around the edit does the rest.
    const qsizetype column = editColumn;
    const auto keep = [&](int line, std::vector<qsizetype> rows, qsizetype from, qsizetype editEnd) {
        rewrapAround(line, from, from + 1, editEnd, rows);
        m_rows[static_cast<size_t>(line)] = static_cast<int>(rows.size());
        m_rowStarts.emplace(line, std::move(rows));
    };
    const auto before = [](std::vector<qsizetype> rows, qsizetype column) {
        rows.erase(std::upper_bound(rows.begin(), rows.end(), column), rows.end());
        return rows;
    };
    // A wrap taken over with its rows, their columns moved by `by`.
    const auto carry = [&](int line, PendingWrap wrap, qsizetype by) {
        wrap.run.rowStart += by;
        wrap.run.next += by;
        wrap.inStepFrom += by;
        m_pending[line] = wrap;
    };
    if (broken && !oldFirst.empty()) {
        // The first line ends where the break came; the last holds the text after it.
        const int last = change.firstLine + change.insertedBreaks;
        const qsizetype piece = change.position + change.insertedLength - m_buffer.lineStart(last);
        const qsizetype oldEnd = column + change.removedLength;
        // Rows a wrap going on has not reached stand in only from where it may fall in step with them.
        const qsizetype from = firstWrap && firstWrap->run.rowStart < oldEnd ? firstWrap->inStepFrom : oldEnd;
        std::vector<qsizetype> after{0};
        for (auto it = std::lower_bound(oldFirst.begin(), oldFirst.end(), std::max(oldEnd, from)); it != oldFirst.end();
             ++it) {
            after.push_back(*it - oldEnd + 1);
        }
        keep(change.firstLine, before(std::move(oldFirst), column), column, m_buffer.lineLength(change.firstLine));
        if (firstWrap && firstWrap->run.rowStart >= oldEnd) {
            carry(last, *firstWrap, 1 - oldEnd);
        }
        keep(last, std::move(after), 0, piece);
    } else if (joined && !oldFirst.empty() && !oldLast.empty()) {
        std::vector<qsizetype> rows = before(std::move(oldFirst), column);
        for (const qsizetype start : oldLast) {
            rows.push_back(column + 1 + start);
        }
        if (lastWrap) {
            carry(change.firstLine, *lastWrap, column + 1);
        }
        keep(change.firstLine, std::move(rows), column, column + change.insertedLength);
    }
    rebuildRowTree();
    if (!m_pending.empty() && !m_wrapTimer.isActive()) {
        m_wrapTimer.start(0, this);
    }
}

int TTextView::toLayoutPosition(const RowLayout& layout, qsizetype column) const
{
    qsizetype position = column - layout.start;
    if (layout.preeditAt >= 0 && column > layout.preeditAt) {
        position += m_preedit.size();
    }
    return static_cast<int>(position);
}

qsizetype TTextView::fromLayoutPosition(const RowLayout& layout, int position) const
{
    qsizetype column = layout.start + position;
    if (layout.preeditAt >= 0 && column > layout.preeditAt) {
        column = std::max(layout.preeditAt, column - m_preedit.size());
    }
    return column;
}

qreal TTextView::xOf(qsizetype position) const
{
    const int line = m_buffer.lineOf(position);
    const qsizetype column = position - m_buffer.lineStart(line);
    const RowLayout& layout = layoutFor(line, rowOf(line, column));
    int at = toLayoutPosition(layout, column);
    if (position == m_cursor && layout.preeditAt == column) {
        at += m_preeditCursor;
    }
    return layout.layout->lineAt(0).cursorToX(at);
}

qsizetype TTextView::positionInRow(int line, int row, qreal x) const
{
    const RowLayout& layout = layoutFor(line, row);
    int at = layout.layout->lineAt(0).xToCursor(x, QTextLine::CursorBetweenCharacters);
    qsizetype column = fromLayoutPosition(layout, at);
    // The end of a row that wraps is the start of the next: a click right of a row puts the caret before
    // its last character, as wrapped text in Qt's editors does.
    if (column >= layout.end && layout.end < m_buffer.lineLength(line) && column > layout.start) {
        column = m_buffer.previousCharacter(m_buffer.lineStart(line) + layout.end) - m_buffer.lineStart(line);
    }
    return m_buffer.lineStart(line) + column;
}

QRect TTextView::cursorRect(qsizetype position) const
{
    position = std::clamp<qsizetype>(position, 0, m_buffer.size());
    const int row = visualRow(position);
    const auto [topLine, topInLine] = topRow();
    const int top = rowsBefore(topLine) + topInLine;
    const int x = static_cast<int>(std::floor(LeftMargin + xOf(position)));
    return QRect(x, TopMargin + (row - top) * m_lineHeight, 1, m_lineHeight);
}

// ---- painting ------------------------------------------------------------------------------------------

void TTextView::paintEvent(QPaintEvent* event)
{
    QPainter painter(viewport());
    const QPalette::ColorGroup group = hasFocus() ? QPalette::Active : QPalette::Inactive;
    painter.setPen(palette().color(group, QPalette::Text));
    QTextCharFormat selected;
    selected.setBackground(palette().brush(group, QPalette::Highlight));
    selected.setForeground(palette().brush(group, QPalette::HighlightedText));

    const auto [firstLine, firstRow] = topRow();
    const int caretLine = m_buffer.lineOf(m_cursor);
    int line = firstLine;
    int row = firstRow;
    int top = TopMargin;
    const int bottom = viewport()->height();
    int lastLine = firstLine;
    bool caretDrawn = false;
    while (top < bottom && line < m_buffer.lineCount()) {
        settleRow(line, row + (bottom - top) / m_lineHeight + 1);
        const std::vector<qsizetype>& starts = rowStarts(line);
        lastLine = line;
        for (; row < static_cast<int>(starts.size()) && top < bottom; ++row, top += m_lineHeight) {
            if (top >= event->rect().bottom() + 1 || top + m_lineHeight <= event->rect().top()) {
                continue;
            }
            const RowLayout& layout = layoutFor(line, row);
            const QTextLine textLine = layout.layout->lineAt(0);
            const QPointF origin(LeftMargin, top + m_ascent - textLine.ascent());

            QList<QTextLayout::FormatRange> selections;
            const qsizetype lineStart = m_buffer.lineStart(line);
            const qsizetype lineEnd = m_buffer.lineEnd(line);
            if (hasSelection() && selectionStart() <= lineStart + layout.end &&
                selectionEnd() > lineStart + layout.start) {
                const qsizetype from = std::max(selectionStart() - lineStart, layout.start);
                const qsizetype to = std::min(selectionEnd() - lineStart, layout.end);
                if (from < to) {
                    const int begin = toLayoutPosition(layout, from);
                    selections.append({begin, toLayoutPosition(layout, to) - begin, selected});
                }
                if (selectionEnd() > lineEnd && layout.end == lineEnd - lineStart) {
                    // The selected line break, as a space's width after the line's text.
                    const qreal x = origin.x() + textLine.naturalTextWidth();
                    painter.fillRect(QRectF(x, top, m_metrics.horizontalAdvance(u' '), m_lineHeight),
                                     selected.background());
                }
            }
            layout.layout->draw(&painter, origin, selections);
            if (line == caretLine && !caretDrawn) {
                caretDrawn = true;
                if (m_caretShown && hasFocus() && (m_preedit.isEmpty() || m_preeditCursorVisible)) {
                    painter.fillRect(cursorRect(), palette().color(group, QPalette::Text));
                }
            }
        }
        ++line;
        row = 0;
    }
    if (m_dropPosition >= 0) {
        painter.fillRect(cursorRect(m_dropPosition), palette().color(group, QPalette::Text));
    }

    // Only what is on screen (and the caret's line) stays laid out.
    for (auto it = m_layouts.begin(); it != m_layouts.end();) {
        const int at = it->first.first;
        it = (at < firstLine || at > lastLine) && at != caretLine ? m_layouts.erase(it) : std::next(it);
    }
    for (auto it = m_rowStarts.begin(); it != m_rowStarts.end();) {
        if ((it->first < firstLine || it->first > lastLine) && it->first != caretLine) {
            // Its count stays; the line is wrapped again when it comes back on screen.
            m_pending.erase(it->first);
            it = m_rowStarts.erase(it);
        } else {
            ++it;
        }
    }
}

} // namespace torvane
