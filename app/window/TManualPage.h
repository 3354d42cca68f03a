#pragma once

#include <QWidget>

class QPlainTextEdit;

namespace torvane {

// The manual page: the help text, editable but never saved or read.
class TManualPage : public QWidget {
    Q_OBJECT
public:
    explicit TManualPage(QWidget* parent = nullptr);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    QPlainTextEdit* Memo1 = nullptr;
};

} // namespace torvane
