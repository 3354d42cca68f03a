#pragma once

#include <QWidget>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace torvane {

// What the find bar needs of a text view: a search from the selection, and the caret's line.
class TFindTarget {
public:
    virtual ~TFindTarget() = default;
    // Selects the next match of `text` after the selection (before it with `backward`); with `wrap` the
    // search goes on from the other end. False when there is none that way; the selection then stays.
    virtual bool find(const QString& text, bool backward, Qt::CaseSensitivity cs, bool wrap) = 0;
    // Number of lines, the caret's line, and the caret put at the start of line `line`, all counted from 1.
    virtual int lineCount() const = 0;
    virtual int cursorLine() const = 0;
    virtual void goToLine(int line) = 0;
};

// The find bar under the XML text: a text to find next or previous (Enter, Shift+Enter, F3, Shift+F3),
// letter case ignored unless asked, wrapping at the ends; and, opened with Ctrl+G, a line number to go to.
class TFindBar : public QWidget {
    Q_OBJECT
public:
    TFindBar(TFindTarget& target, QWidget* parent = nullptr);

    // Opens the bar for finding, with `initial` (the view's selection) as the text when there is one.
    void openFind(const QString& initial);
    void openGoToLine();
    void findNext();
    void findPrevious();
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

    TFindTarget& m_target;
    bool m_goToLine = false;
    QString m_findText;
    QLabel* m_label;
    QLineEdit* m_edit;
    QPushButton* m_previous;
    QPushButton* m_next;
    QCheckBox* m_matchCase;
    QLabel* m_status;
    QPushButton* m_close;
};

} // namespace torvane
