// Prints the type Qt's MIME database gives each file named on the command line, one a line: what a file
// dialog or a file manager built on Qt takes the file for.
#include <QMimeDatabase>
#include <QString>

#include <cstdio>

int main(int argc, char** argv)
{
    const QMimeDatabase types;
    for (int i = 1; i < argc; ++i) {
        std::puts(qPrintable(types.mimeTypeForFile(QString::fromLocal8Bit(argv[i])).name()));
    }
    return 0;
}
