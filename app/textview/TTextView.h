#pragma once

#include "textview/TTextBuffer.h"
#include "widgets/TFindBar.h"

#include <QAbstractScrollArea>
#include <QBasicTimer>
#include <QFontMetricsF>
#include <QInputMethodEvent>
#include <QTextLayout>

#include <map>
#include <memory>
#include <vector>

class QMenu;
class QMimeData;

namespace torvane {

// The XML packet text view: a plain text editor that stays quick on any text, a 4 MB line or a million
// lines alike, because it lays out only what is on screen.
//
// The text is held once, in a TTextBuffer (one string and an index of line starts). Long lines wrap at the
// view's width (after a space where there is one, else between any two characters, as base64 has no
// spaces), with a vertical scroll bar only. Where a line wraps comes from the characters' advances summed
// (font metrics per character, cached per code point, so any font and Japanese text work), never from
// laying the line out: a 4 MB single-line packet wraps in one pass, and an edit rewraps from the row before
// it only until the rows fall in step with the old ones again, or a little way past it, the old rows
// (shifted) standing in for the rest of the line until it is rewrapped while the view is idle. Each visible row gets a
// QTextLayout of its own, kept while it stays on screen; inside a row, text, caret, selection and clicks all come from
// that one real layout, so what is drawn and where the caret goes always agree.
//
// A line's rows are exact once it was wrapped and estimated from its length before, as Qt's own views do
// for text far from the screen: setting a million lines costs one pass over the line index, and the
// scroll range settles as lines come on screen.
class TTextView : public QAbstractScrollArea, public TFindTarget {
    Q_OBJECT
public:
    explicit TTextView(QWidget* parent = nullptr);
    ~TTextView() override;

    // Replaces the text (a CR LF pair, a lone LF or a lone CR each end a line); the undo history goes, the
    // view is not modified after. Text with CR LF breaks only, as packets have them, is kept as it is.
    void setPlainText(QString text);
    // The text with CR LF line breaks, as the view holds it: no copy.
    const QString& crLfText() const { return m_buffer.text(); }
    // A copy with "\n" line breaks, as a plain text edit gives it.
    QString toPlainText() const;
    // Hands the text over whole, so that its memory can be written over, and shows an empty text.
    QString takeText();
    int lineCount() const override { return m_buffer.lineCount(); }
    const TTextBuffer& buffer() const { return m_buffer; }

    bool isModified() const { return m_buffer.isModified(); }
    void setModified(bool modified);
    bool isUndoAvailable() const { return m_buffer.canUndo(); }
    bool isRedoAvailable() const { return m_buffer.canRedo(); }

    // Finds `text` from the selection on (or back from it), selects the match and scrolls to it; with
    // `wrap` the search goes on from the other end. False when the text holds no match.
    bool find(const QString& text, bool backward = false, Qt::CaseSensitivity cs = Qt::CaseInsensitive,
              bool wrap = true) override;
    Found findAround(const QString& text, bool backward, Qt::CaseSensitivity cs) override;
    bool replaceFound(const QString& text, const QString& replacement, Qt::CaseSensitivity cs) override;
    int replaceAll(const QString& text, const QString& replacement, Qt::CaseSensitivity cs) override;
    QString selectedText() const;
    bool hasSelection() const { return m_anchor != m_cursor; }
    qsizetype selectionStart() const { return std::min(m_anchor, m_cursor); }
    qsizetype selectionEnd() const { return std::max(m_anchor, m_cursor); }
    // Selects `length` characters from `position` (the caret at their end) and scrolls to them.
    void setSelection(qsizetype position, qsizetype length);
    qsizetype cursorPosition() const { return m_cursor; }
    // Puts the caret at the start of line `line`, counted from 1 as the user counts, and scrolls to it.
    void goToLine(int line) override;
    // The caret's line, counted from 1.
    int cursorLine() const override { return m_buffer.lineOf(m_cursor) + 1; }
    // The caret's rectangle for `position`, in viewport coordinates (positions off screen are estimated).
    QRect cursorRect(qsizetype position) const;
    QRect cursorRect() const { return cursorRect(m_cursor); }
    // The position under a viewport point.
    qsizetype positionAt(QPoint point) const;

    // How many characters were measured to wrap lines since the view was made: an edit costs those around
    // it, not its whole line (tests count them).
    qsizetype measuredCharacters() const { return m_measured; }
    // Whether a long line's rows are still being rewrapped after an edit (while idle).
    bool isWrapping() const { return !m_pending.empty(); }

    // The context menu: undo, redo, cut, copy, paste, delete, select all. The caller owns it.
    QMenu* createContextMenu();

    QVariant inputMethodQuery(Qt::InputMethodQuery query) const override;

public slots:
    void undo();
    void redo();
    void cut();
    void copy();
    void paste();
    void selectAll();

signals:
    void textChanged();
    void modificationChanged(bool modified);
    void selectionChanged();
    void cursorPositionChanged();
    void undoAvailable(bool available);
    void redoAvailable(bool available);

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void keyPressEvent(QKeyEvent* event) override;
    void inputMethodEvent(QInputMethodEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void timerEvent(QTimerEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool focusNextPrevChild(bool next) override;

private:
    // What a key press does; None leaves the key to others (the window's shortcuts among them).
    enum class KeyAction {
        None,
        Left,
        Right,
        WordLeft,
        WordRight,
        Up,
        Down,
        Home,
        End,
        DocumentStart,
        DocumentEnd,
        PageUp,
        PageDown,
        SelectAll,
        Undo,
        Redo,
        Cut,
        Copy,
        Paste,
        Backspace,
        Delete,
        DeleteWordBack,
        DeleteWordForward,
        Break,
        Tab,
        Insert
    };
    // A row's layout: characters [start, end) of its line, as the line wraps at the view's width.
    struct RowLayout {
        qsizetype start = 0;
        qsizetype end = 0;
        qsizetype preeditAt = -1; // the column the preedit text is shown at, or -1
        std::unique_ptr<QTextLayout> layout;
    };

    static KeyAction keyAction(const QKeyEvent* event);
    void runKeyAction(KeyAction action, const QKeyEvent* event);

    // What the signals after an edit or a move compare with.
    struct EditState {
        bool couldUndo = false;
        bool couldRedo = false;
        bool wasModified = false;
        qsizetype cursor = 0;
        qsizetype anchor = 0;
    };
    EditState editState() const;
    // Redraws, scrolls to the caret and emits what changed since `before`.
    void finishEdit(const EditState& before, qsizetype caret);
    void notify(const EditState& before);

    // Where find() finds `text` (line breaks as the view holds them); `fromOtherEnd` tells when the search
    // went on from the other end to find it.
    qsizetype findMatch(const QString& text, bool backward, Qt::CaseSensitivity cs, bool wrap,
                        bool* fromOtherEnd) const;
    Found findAndSelect(const QString& needle, bool backward, Qt::CaseSensitivity cs, bool wrap);

    // Edits at the caret or over the selection, as one step of the undo history.
    void insertText(const QString& text, TEditKind kind);
    void replaceRange(qsizetype position, qsizetype length, const QString& text, TEditKind kind);
    void removeSelection(TEditKind kind);
    // Sets selection and caret; the selection runs from `anchor` to `cursor`.
    void select(qsizetype anchor, qsizetype cursor, bool keepPreferredX = false);
    void moveCursor(qsizetype position, bool keepAnchor, bool keepPreferredX = false);
    void ensureCursorVisible();
    void updateScrollBars();
    void updateMetrics();
    void updateMicroFocus();
    void restartBlink();
    void commitPreedit();
    void setPrimarySelection();
    static bool acceptsDrop(const QMimeData* mime);
    void startDrag();
    // Moves the selected text to `position` as one undo step; the caret goes after the moved text.
    void moveSelectionTo(qsizetype position);
    // Line breaks as the view holds them: LF, CR and the Unicode line and paragraph separators become CR LF.
    static QString withViewBreaks(QString text);
    // The part of the caret's line the input method sees, so that a 4 MB line is not copied per key.
    std::pair<qsizetype, qsizetype> surroundingWindow() const;

    // Wrapping. Each line has its rows (exact once the line was laid out, estimated from its length
    // before); a tree over the rows per line maps rows to lines both ways.
    qreal wrapWidth() const;
    int estimatedRows(qsizetype length) const;
    void rewrapAll();
    void rebuildRowTree() const;
    void setRows(int line, int rows) const;
    int rowsBefore(int line) const;
    int totalRows() const;
    // The line at a row counted over the whole text, and the row within that line.
    std::pair<int, int> lineAtRow(int row) const;
    // Where each row of the line starts (columns); wrapped once and kept while the line is on screen.
    const std::vector<qsizetype>& rowStarts(int line) const;

    // Where a wrap stands between two rows: the row it is in and the character it goes on from, with the
    // row's width so far. A wrap paused there goes on as if it never paused.
    struct WrapRun {
        qsizetype rowStart = 0;
        qsizetype next = 0;
        qreal x = 0;
    };
    // Where a row falls in step with the rows from before an edit: at or past `from`, and either up to
    // `keepTo` or from `beyond` on.
    struct InStep {
        qsizetype from = 0;
        qsizetype keepTo = -1;
        qsizetype beyond = 0;
    };
    enum class WrapStop { LineEnd, InStep, Paused };
    // Wraps `text` on from `run`, appending the rows it starts to `fresh`: to the line's end; or until a row
    // starts where one of [tail, tailEnd) does, as `inStep` allows; or, once `budget` characters were
    // measured and a row starts past `minStart`, paused between two rows.
    WrapStop wrapRun(QStringView text, WrapRun& run, std::vector<qsizetype>& fresh, const qsizetype* tail,
                     const qsizetype* tailEnd, const InStep& inStep, qsizetype budget, qsizetype minStart) const;
    // Puts `fresh` after rows[restart], in place of the rows it replaces, as `stop` ended it.
    static void spliceRows(std::vector<qsizetype>& rows, size_t restart, std::vector<qsizetype>& fresh, WrapStop stop);
    // One line edited in place: rewraps `rows` around the edit only; rows far past it may be left to a wrap
    // that goes on later (m_pending).
    void rewrapEdited(const TTextChange& change, std::vector<qsizetype>& rows) const;
    // The same for `line` whose columns [column, oldEnd) of `rows` were replaced by [column, editEnd).
    void rewrapAround(int line, qsizetype column, qsizetype oldEnd, qsizetype editEnd,
                      std::vector<qsizetype>& rows) const;
    // A line whose rows past an edit are still those from before it (shifted), being rewrapped on from
    // `run`: rows starting up to run.rowStart are exact, those after it stand in for the rest until the wrap
    // reaches them or falls in step with one of them at or past `inStepFrom`.
    struct PendingWrap {
        WrapRun run;
        qsizetype inStepFrom = 0;
    };
    // Takes the line's pending wrap on: `budget` characters, then to the first row past `minStart`.
    void continueWrap(int line, qsizetype budget, qsizetype minStart) const;
    // Makes the line's rows exact up to row `row`, or up to the row holding `column`.
    void settleRow(int line, int row) const;
    void settleColumn(int line, qsizetype column) const;
    int rowOf(int line, qsizetype column) const;
    int visualRow(qsizetype position) const;
    // The line and row at the view's top.
    std::pair<int, int> topRow() const;
    // `rows` rows on from (line, row); `clamped` tells when the text ended first.
    std::pair<int, int> stepRows(int line, int row, int rows, bool* clamped) const;
    int fullRows() const;

    // Layout and measuring.
    RowLayout& layoutFor(int line, int row) const;
    void dropLayouts(const TTextChange& change);
    qreal advance(const QChar* c, qsizetype& i, qsizetype end) const;
    qreal measureAdvance(const QChar* c, qsizetype& i, qsizetype end) const;
    qreal measure(QStringView text) const;
    qreal xOf(qsizetype position) const;
    qsizetype positionInRow(int line, int row, qreal x) const;
    // Layout positions differ from line columns by the preedit text shown inside the caret's row.
    int toLayoutPosition(const RowLayout& layout, qsizetype column) const;
    qsizetype fromLayoutPosition(const RowLayout& layout, int position) const;

    TTextBuffer m_buffer;
    qsizetype m_cursor = 0;
    qsizetype m_anchor = 0;
    qreal m_preferredX = -1;
    QString m_preedit;
    QList<QInputMethodEvent::Attribute> m_preeditAttributes;
    int m_preeditCursor = 0;
    bool m_preeditCursorVisible = true;

    qsizetype m_dropPosition = -1;
    bool m_dragPending = false; // pressed inside the selection: a drag may start, or a release puts the caret
    QPoint m_pressPos;
    bool m_selecting = false;
    bool m_wordSelecting = false;
    std::pair<qsizetype, qsizetype> m_wordAnchor;
    bool m_caretShown = true;
    QBasicTimer m_blinkTimer;
    QBasicTimer m_autoScrollTimer;
    QPoint m_lastMousePos;
    QBasicTimer m_tripleClickTimer;
    QPoint m_tripleClickPoint;

    int m_lineHeight = 1;
    qreal m_ascent = 0;
    qreal m_tabWidth = 80;
    QFontMetricsF m_metrics{QFont()};
    qreal m_averageAdvance = 8;
    qreal m_wrapWidth = 1;
    mutable std::vector<float> m_advances;                      // per UTF-16 code unit (tab too); < 0: not measured
    mutable std::vector<int> m_rows;                            // by line: its rows, exact or estimated
    mutable std::vector<int> m_rowTree;                         // Fenwick tree over m_rows
    mutable std::map<int, std::vector<qsizetype>> m_rowStarts;  // by line: the lines on screen and the caret's
    mutable std::map<std::pair<int, int>, RowLayout> m_layouts; // by line and row: the rows on screen
    mutable std::map<int, PendingWrap> m_pending;               // by line: wraps that go on while idle
    mutable qsizetype m_measured = 0;                           // characters measured for wrapping, ever
    QBasicTimer m_wrapTimer;
    mutable bool m_rangePending = false;
};

} // namespace torvane
