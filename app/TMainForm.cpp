#include "TMainForm.h"

namespace torvane {

TMainForm::TMainForm(QWidget* parent) : QMainWindow(parent)
{
    setWindowTitle(QStringLiteral("Torvane"));
    resize(783, 583);
}

} // namespace torvane
