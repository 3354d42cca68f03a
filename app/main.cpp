#include "TMainForm.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Torvane"));
    torvane::TMainForm MainForm;
    MainForm.show();
    return QApplication::exec();
}
