#pragma once

#include "TFindBar.h"

#include <QPlainTextEdit>

namespace torvane {

// The packet text view. Shift+Enter breaks the line as Enter does: the plain text editor would insert a
// U+2028 line separator, which looks like a line break but is none, so that the save then refuses an
// invisible character and the reader runs two lines into one.
class TXmlView : public QPlainTextEdit, public TFindTarget {
    Q_OBJECT
public:
    using QPlainTextEdit::QPlainTextEdit;

    // TFindTarget
    bool find(const QString& text, QTextDocument::FindFlags flags) override;
    QTextCursor textCursor() const override { return QPlainTextEdit::textCursor(); }
    void setTextCursor(const QTextCursor& cursor) override { QPlainTextEdit::setTextCursor(cursor); }
    int lineCount() const override { return document()->blockCount(); }
    void goToLine(int line) override;

protected:
    void keyPressEvent(QKeyEvent* event) override;
};

} // namespace torvane
