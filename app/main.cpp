#include "TMainForm.h"
#include "TQtDialogs.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QLibraryInfo>
#include <QTranslator>

namespace {

// Qt's own texts (file dialogs, the text view's context menu, standard buttons) in Japanese, as every text
// of the window is, whatever the desktop's locale.
void installQtTranslations(QApplication& app, QTranslator& translator)
{
    if (translator.load(QStringLiteral("qtbase_ja"), QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        app.installTranslator(&translator);
    }
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    // The application title. No display name is set: Qt would append it to every other box title ("確認").
    QApplication::setApplicationName(QStringLiteral("Torvane"));
    QApplication::setApplicationVersion(QStringLiteral(TORVANE_VERSION));
    QApplication::setWindowIcon(torvane::TMainForm::applicationIcon());
    QTranslator translator;
    installQtTranslations(app, translator);

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Torvane: XML データパケット (DATAPACKET) ファイルを作成・編集します。"));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("FILE"), QStringLiteral("起動時に読み込むパケットファイル"),
                                 QStringLiteral("[FILE]"));
    parser.process(app);

    torvane::TQtDialogs dialogs;
    torvane::TMainForm MainForm(dialogs);
    dialogs.setWindow(&MainForm);
    MainForm.show();
    if (!parser.positionalArguments().isEmpty()) {
        MainForm.openFile(parser.positionalArguments().constFirst());
    }
    return QApplication::exec();
}
