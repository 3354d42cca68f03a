#pragma once

#include <QKeyEvent>
#include <QPushButton>

namespace torvane {

// A push button that Enter presses while it has the focus, as Space does. Outside dialogs Qt's buttons
// answer Enter only as default buttons, which the window has none of.
class TPushButton : public QPushButton {
    Q_OBJECT
public:
    using QPushButton::QPushButton;

protected:
    void keyPressEvent(QKeyEvent* event) override
    {
        const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
        if (enter && (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
            click();
            event->accept();
            return;
        }
        QPushButton::keyPressEvent(event);
    }
};

} // namespace torvane
