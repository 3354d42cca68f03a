#pragma once

#include <QWidget>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace torvane {

// What the find bar needs of a view: a search from the selection, replacing, and the caret's line.
class TFindTarget {
public:
    virtual ~TFindTarget() = default;
    // Selects the next match of `text` after the selection (before it with `backward`); with `wrap` the
    // search goes on from the other end. False when there is none that way; the selection then stays.
    virtual bool find(const QString& text, bool backward, Qt::CaseSensitivity cs, bool wrap) = 0;
    // How a find that may go on from the other end came out.
    enum class Found { No, Yes, FromOtherEnd };
    // Selects the next match as find() does, going on from the other end when there is none that way. A
    // view of a large text answers with one pass over it; this asks find() twice.
    virtual Found findAround(const QString& text, bool backward, Qt::CaseSensitivity cs)
    {
        if (find(text, backward, cs, false)) {
            return Found::Yes;
        }
        return find(text, backward, cs, true) ? Found::FromOtherEnd : Found::No;
    }
    // Replaces the match that find selected by `replacement`, one undo step; false when the selection is no
    // match of `text` (the bar then finds the next one first).
    virtual bool replaceFound(const QString& text, const QString& replacement, Qt::CaseSensitivity cs) = 0;
    // Replaces every match, all as one undo step; the number of matches replaced.
    virtual int replaceAll(const QString& text, const QString& replacement, Qt::CaseSensitivity cs) = 0;
    // A view of cells may match whole cells only; the bar offers the choice then.
    virtual bool hasCells() const { return false; }
    virtual void setWholeCells(bool whole) { Q_UNUSED(whole); }
    // Number of lines, the caret's line, and the caret put at the start of line `line`, all counted from 1.
    virtual int lineCount() const = 0;
    virtual int cursorLine() const = 0;
    virtual void goToLine(int line) = 0;
};

// The find bar under a view: a text to find next or previous (Enter, Shift+Enter, F3, Shift+F3), letter
// case ignored unless asked, wrapping at the ends; opened with Ctrl+H, a second row replaces the match
// found or every match; and, opened with Ctrl+G, a line number to go to.
class TFindBar : public QWidget {
    Q_OBJECT
public:
    TFindBar(TFindTarget& target, QWidget* parent = nullptr);

    // Opens the bar for finding, with `initial` (the view's selection) as the text when there is one.
    void openFind(const QString& initial);
    // Opens the bar with its replace row as well.
    void openReplace(const QString& initial);
    void openGoToLine();
    void findNext();
    void findPrevious();
    void replaceOne();
    void replaceEvery();
    bool isGoToLine() const { return m_goToLine; }

signals:
    // Esc or the close button: the view takes the focus back.
    void closeRequested();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void find(bool backward);
    void goToLine();
    void setStatus(const QString& status);
    void showFindControls(bool shown);
    Qt::CaseSensitivity caseSensitivity() const;

    TFindTarget& m_target;
    bool m_goToLine = false;
    QString m_findText;
    QLabel* m_label;
    QLineEdit* m_edit;
    QPushButton* m_previous;
    QPushButton* m_next;
    QCheckBox* m_matchCase;
    QCheckBox* m_wholeCells;
    QLabel* m_status;
    QPushButton* m_close;
    QWidget* m_replaceRow;
    QLineEdit* m_replaceEdit;
};

} // namespace torvane
