#include "TMessageLanguage.h"
#include "TPacketCheck.h"
#include "dialogs/TQtDialogs.h"
#include "window/TMainForm.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QTranslator>

#include <cstdio>

namespace {

// Qt's own texts (file dialogs, the text view's context menu, standard buttons) in Japanese, as every text
// of the window is, whatever the desktop's locale.
void installQtTranslations(QApplication& app, QTranslator& translator)
{
    if (translator.load(QStringLiteral("qtbase_ja"), QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        app.installTranslator(&translator);
    }
}

// The command line is read before the application is made: making it connects to the display, and --help,
// --version and a wrong command line must answer without one (over SSH, in packaging scripts).
struct TCommandLine {
    enum class TAction { Run, Help, Version, Check, Wrong };
    TAction action = TAction::Run;
    QString file;
    // The files --check checks.
    QStringList files;
    QString error;
};

// Messages in the language that the locale variables choose for messages, in their order of precedence.
bool japaneseMessages()
{
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const QByteArray value = qgetenv(name);
        if (!value.isEmpty()) {
            return value.startsWith("ja");
        }
    }
    return false;
}

// Qt's own options, which QApplication takes out of the arguments itself; the first group takes a value.
bool isQtOption(const QString& name, bool* takesValue)
{
    static const QStringList withValue{
        "platform", "platformpluginpath", "platformtheme", "plugin",  "qwindowgeometry", "qwindowicon", "qwindowtitle",
        "style",    "stylesheet",         "session",       "display", "geometry",        "title"};
    static const QStringList alone{"reverse", "widgetcount", "nograb", "dograb", "sync"};
    *takesValue = withValue.contains(name);
    return *takesValue || alone.contains(name);
}

TCommandLine parseCommandLine(int argc, char* argv[], bool japanese)
{
    TCommandLine line;
    QStringList files;
    bool check = false;
    bool optionsEnd = false;
    for (int i = 1; i < argc; ++i) {
        const QString arg = QString::fromLocal8Bit(argv[i]);
        if (optionsEnd || !arg.startsWith(u'-') || arg == QStringLiteral("-")) {
            files.append(arg);
            continue;
        }
        if (arg == QStringLiteral("--")) {
            optionsEnd = true;
        } else if (arg == QStringLiteral("-h") || arg == QStringLiteral("--help")) {
            line.action = TCommandLine::TAction::Help;
            return line;
        } else if (arg == QStringLiteral("-v") || arg == QStringLiteral("--version")) {
            line.action = TCommandLine::TAction::Version;
            return line;
        } else if (arg == QStringLiteral("--check")) {
            check = true;
        } else {
            const QString name = arg.mid(arg.startsWith(QStringLiteral("--")) ? 2 : 1).section(u'=', 0, 0);
            bool takesValue = false;
            if (!isQtOption(name, &takesValue)) {
                line.action = TCommandLine::TAction::Wrong;
                line.error = japanese ? QStringLiteral("知らないオプションです: %1").arg(arg)
                                      : QStringLiteral("unknown option '%1'").arg(arg);
                return line;
            }
            if (takesValue && !arg.contains(u'=')) {
                ++i;
            }
        }
    }
    if (check) {
        line.action = files.isEmpty() ? TCommandLine::TAction::Wrong : TCommandLine::TAction::Check;
        line.files = files;
        line.error = japanese ? QStringLiteral("--check には調べるファイルが要ります")
                              : QStringLiteral("--check needs a FILE to check");
    } else if (files.size() > 1) {
        line.action = TCommandLine::TAction::Wrong;
        line.error = japanese
                         ? QStringLiteral("開けるファイルは一つだけです（%1）").arg(files.join(QStringLiteral("、")))
                         : QStringLiteral("only one FILE can be given (%1)").arg(files.join(QStringLiteral(", ")));
    } else if (!files.isEmpty()) {
        line.file = files.constFirst();
    }
    return line;
}

QString helpText(bool japanese)
{
    if (japanese) {
        return QStringLiteral("使い方: torvane [ファイル]\n"
                              "        torvane --check ファイル...\n"
                              "        torvane --help | --version\n"
                              "XML データパケット (DATAPACKET) ファイルを作成・編集します。\n"
                              "\n"
                              "  ファイル       起動時に読み込むパケットファイル\n"
                              "  --check        ウィンドウを開かずに各ファイルを読み込み、値とフィールドの型の\n"
                              "                 食い違い、必須の値の欠け、主キーの重複、読み込みと保存で伝え\n"
                              "                 られること（読めないバイト、整形式でない XML、エンコーディングで\n"
                              "                 表せない文字、拒まれたフィールド）を一行ずつ表示します。\n"
                              "                 終了コードは何もなければ 0、あれば 1、コマンドラインの誤りは 2\n"
                              "  -h, --help     この使い方を表示して終わります\n"
                              "  -v, --version  バージョンを表示して終わります\n"
                              "\n"
                              "キー操作はウィンドウの「説明書」ページ（F1）と man torvane にあります。\n");
    }
    return QStringLiteral("Usage: torvane [FILE]\n"
                          "       torvane --check FILE...\n"
                          "       torvane --help | --version\n"
                          "Write and edit XML data-packet (DATAPACKET) files.\n"
                          "\n"
                          "  FILE           the packet file to load at start\n"
                          "  --check        load each FILE without a window and print, one a line, every value\n"
                          "                 that does not fit its field's type, required values missing,\n"
                          "                 repeated primary keys, and what a load or save would tell (bytes\n"
                          "                 the encoding cannot read, text that is not well-formed XML,\n"
                          "                 characters the encoding cannot hold, fields refused); exit status\n"
                          "                 0 when nothing is found, 1 when something is, 2 for a wrong\n"
                          "                 command line\n"
                          "  -h, --help     print this help and exit\n"
                          "  -v, --version  print the version and exit\n"
                          "\n"
                          "The keys are listed on the window's manual page (F1) and in man torvane.\n");
}

void print(FILE* stream, const QString& text)
{
    std::fputs(text.toLocal8Bit().constData(), stream);
}

// Checks each file and prints what it finds, "FILE:LINE: problem" (or "FILE: problem" where there is no
// line), on standard output: a build step reads them as it reads a compiler's.
int checkFiles(const QStringList& files, bool japanese)
{
    bool found = false;
    for (const QString& file : files) {
        for (const torvane::TCheckFinding& finding : torvane::checkPacketFile(file, japanese)) {
            found = true;
            const QString place = finding.line > 0 ? QStringLiteral("%1:%2").arg(file).arg(finding.line) : file;
            print(stdout, QStringLiteral("%1: %2\n").arg(place, finding.text));
        }
    }
    return found ? 1 : 0;
}

} // namespace

int main(int argc, char* argv[])
{
    const bool japanese = japaneseMessages();
    const TCommandLine line = parseCommandLine(argc, argv, japanese);
    switch (line.action) {
    case TCommandLine::TAction::Help:
        print(stdout, helpText(japanese));
        return 0;
    case TCommandLine::TAction::Version:
        print(stdout, QStringLiteral("Torvane " TORVANE_VERSION "\n"));
        return 0;
    case TCommandLine::TAction::Check:
        // The core's messages too, before any work: the window never sets them and speaks Japanese.
        torvane::setEnglishMessages(!japanese);
        return checkFiles(line.files, japanese);
    case TCommandLine::TAction::Wrong:
        print(stderr, QStringLiteral("torvane: %1\n").arg(line.error) +
                          (japanese ? QStringLiteral("使い方は torvane --help で表示されます。\n")
                                    : QStringLiteral("Try 'torvane --help'.\n")));
        return 2;
    case TCommandLine::TAction::Run:
        break;
    }

    QApplication app(argc, argv);
    // The application title. No display name is set: Qt would append it to every other box title ("確認").
    QApplication::setApplicationName(QStringLiteral("Torvane"));
    QApplication::setApplicationVersion(QStringLiteral(TORVANE_VERSION));
    QApplication::setWindowIcon(torvane::TMainForm::applicationIcon());
    QTranslator translator;
    installQtTranslations(app, translator);

    torvane::TQtDialogs dialogs;
    torvane::TMainForm MainForm(dialogs);
    dialogs.setWindow(&MainForm);
    MainForm.show();
    if (!line.file.isEmpty()) {
        MainForm.openFile(line.file);
    }
    return QApplication::exec();
}
