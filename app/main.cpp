#include "TMainForm.h"
#include "TQtDialogs.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    // The application title. No display name is set: Qt would append it to every other box title ("確認").
    QApplication::setApplicationName(QStringLiteral("Torvane"));
    torvane::TQtDialogs dialogs;
    torvane::TMainForm MainForm(dialogs);
    MainForm.show();
    return QApplication::exec();
}
