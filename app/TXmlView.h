#pragma once

#include <QPlainTextEdit>

namespace torvane {

// The packet text view. Shift+Enter breaks the line as Enter does: the plain text editor would insert a
// U+2028 line separator, which looks like a line break but is none, so that the save then refuses an
// invisible character and the reader runs two lines into one.
class TXmlView : public QPlainTextEdit {
    Q_OBJECT
public:
    using QPlainTextEdit::QPlainTextEdit;

protected:
    void keyPressEvent(QKeyEvent* event) override;
};

} // namespace torvane
