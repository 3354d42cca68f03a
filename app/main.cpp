#include "TMainForm.h"
#include "TQtDialogs.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Torvane"));
    QApplication::setApplicationDisplayName(QStringLiteral("Torvane"));
    torvane::TQtDialogs dialogs;
    torvane::TMainForm MainForm(dialogs);
    MainForm.show();
    return QApplication::exec();
}
