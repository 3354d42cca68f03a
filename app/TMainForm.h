#pragma once

#include <QMainWindow>

namespace torvane {

// The main window: owns the workspace and every control of the three pages.
class TMainForm : public QMainWindow {
    Q_OBJECT
public:
    explicit TMainForm(QWidget* parent = nullptr);
};

} // namespace torvane
