// Times the window's own roads on a packet of 1,000,000 rows of 10 fields (offscreen, the real handlers):
// file chosen -> text shown, -> data page drawn, -> XML page written (after one typed value), and the save
// (with the XML check it makes first, also timed alone), and find in the XML text;
// beside pugixml parsing the same file in the same run, with the process's peak memory at the end.
// `scripts/bench window [ROWS]`.
#include "TPacketFile.h"
#include "TPacketWriter.h"
#include "TXmlCheck.h"
#include "textview/TTextView.h"
#include "window/TMainForm.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QHeaderView>
#include <QPushButton>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QXmlStreamReader>

#include <pugixml.hpp>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <string>
#include <vector>

using namespace torvane;

namespace {

// Answers the file dialogs from a script; everything else is silent.
class ScriptedDialogs : public TWindowDialogs {
public:
    std::deque<QString> names;
    int messages = 0;
    void inform(const QString&) override { ++messages; }
    bool confirm(const QString&) override { return false; }
    void error(const QString& message) override
    {
        ++messages;
        std::fprintf(stderr, "error: %s\n", qPrintable(message));
    }
    std::optional<QString> saveFileName(const QString&, const QString&) override { return next(); }
    std::optional<QString> openFileName(const QString&) override { return next(); }
    TSaveAnswer askSaveChanges(const QString&) override { return TSaveAnswer::Discard; }
    // The import dialog shows the preview of the options it opens with, once; then OK.
    std::optional<TCsvImportOptions> chooseCsvImport(const QString&, const TCsvPreviewOf& preview) override
    {
        preview(TCsvImportOptions{});
        return TCsvImportOptions{};
    }

private:
    std::optional<QString> next()
    {
        if (names.empty()) {
            return std::nullopt;
        }
        QString name = names.front();
        names.pop_front();
        return name;
    }
};

// The packet file: numbers, words and Japanese text, as the packet benchmark's rows.
void writeTestFile(const QString& path, int rows)
{
    TWorkspace workspace;
    ScriptedDialogs dialogs;
    for (int f = 0; f < 10; ++f) {
        workspace.AddFieldRow(QStringLiteral("FIELD%1").arg(f + 1), QStringLiteral("string"), QString(),
                              QStringLiteral("20"), dialogs);
    }
    const QStringList words{QStringLiteral("Apple"),         QString::fromUtf8("東京都千代田区"),
                            QStringLiteral("2024-06-01"),    QString::fromUtf8("山田太郎"),
                            QStringLiteral("Tokyo Station"), QStringLiteral("N/A")};
    workspace.setDataRowCount(rows + 1);
    for (int r = 1; r <= rows; ++r) {
        workspace.setDataCell(0, r, QString::number(r));
        for (int c = 1; c < 10; ++c) {
            workspace.setDataCell(c, r, words[(r + c) % words.size()]);
        }
    }
    savePacketFile(path, writePacket(workspace));
}

// The process's processor time so far (user and system), which other work on a shared machine moves less
// than the wall-clock time.
double cpuMilliseconds(bool kernelOnly = false)
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto ms = [](const timeval& t) { return static_cast<double>(t.tv_sec) * 1e3 + t.tv_usec / 1e3; };
    return (kernelOnly ? 0.0 : ms(usage.ru_utime)) + ms(usage.ru_stime);
}

// The part of it spent in the kernel: a write and its sync to disk can take ten times as much there from one
// run to the next on this machine (dd alike), which tells such a run from one where our code took longer.
double kernelMilliseconds()
{
    return cpuMilliseconds(true);
}

double peakMegabytes()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

// --- CSV out and in, and a large selection -------------------------------------------------------------

// A figure of /proc/self/status in megabytes (VmRSS now, VmHWM the peak since the last reset).
double statusMegabytes(const char* field)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::string key = std::string(field) + ":";
    while (std::getline(status, line)) {
        if (line.rfind(key, 0) == 0) {
            return std::atof(line.c_str() + key.size()) / 1024.0;
        }
    }
    return 0.0;
}

// Starts a new peak at the resident size of now.
void resetPeak()
{
    std::ofstream("/proc/self/clear_refs") << "5";
}

// One road timed: wall-clock and processor time, the peak above the resident size it started from, and the
// resident size after it.
struct TRoad {
    double ms = 0;
    double cpuMs = 0;
    double peakMb = 0;
    double residentMb = 0;
};

template <typename Action> TRoad measureRoad(const char* what, Action&& action)
{
    resetPeak();
    const double before = statusMegabytes("VmRSS");
    const double cpuBefore = cpuMilliseconds();
    const double kernelBefore = kernelMilliseconds();
    QElapsedTimer timer;
    timer.start();
    action();
    QApplication::processEvents();
    TRoad road;
    road.ms = static_cast<double>(timer.nsecsElapsed()) / 1e6;
    road.cpuMs = cpuMilliseconds() - cpuBefore;
    road.peakMb = statusMegabytes("VmHWM") - before;
    road.residentMb = statusMegabytes("VmRSS");
    std::printf(
        "%-34s %9.0f ms  (processor %.0f ms, kernel %.0f; peak +%.0f MB over %.0f MB; resident after %.0f MB)\n", what,
        road.ms, road.cpuMs, kernelMilliseconds() - kernelBefore, road.peakMb, before, road.residentMb);
    return road;
}

bool triggerDataAction(QTableView* data, const QString& text)
{
    for (QAction* action : data->actions()) {
        if (action->text() == text) {
            action->trigger();
            return true;
        }
    }
    return false;
}

// The XML road (load + read, writer + save) beside the CSV export and import of the same rows, each from
// a new workspace where it reads; then a selection of every row and repaints of the table.
void csvAndSelectionRoads(TMainForm& form, ScriptedDialogs& dialogs, const QTemporaryDir& dir, const QString& file)
{
    auto* pages = form.findChild<QTabWidget*>(QStringLiteral("PageControl1"));
    const auto dataTable = [&form] { return form.findChild<QTableView*>(QStringLiteral("SG_Data")); };
    const auto freshWorkspace = [&] {
        form.newWorkspace();
        pages = form.findChild<QTabWidget*>(QStringLiteral("PageControl1"));
        QApplication::processEvents();
    };
    std::printf("\n-- CSV and selection (each ratio against the XML road of the same run) --\n");
    freshWorkspace();
    pages->setCurrentIndex(1);
    QApplication::processEvents();
    dialogs.names = {file};
    const TRoad xmlRead = measureRoad("XML road: load + read", [&] {
        form.findChild<QPushButton*>(QStringLiteral("B_XmlLoad"))->click();
        pages->setCurrentIndex(0);
    });
    dataTable()->model()->setData(dataTable()->model()->index(0, 1), QStringLiteral("typed"));
    auto* xml = form.findChild<TTextView*>(QStringLiteral("Te_Xml"));
    const QString saved = dir.filePath(QStringLiteral("saved.xml"));
    const TRoad xmlWrite = measureRoad("XML road: writer + save", [&] {
        pages->setCurrentIndex(1);
        QApplication::processEvents();
        savePacketFile(saved, xml->crLfText());
    });
    pages->setCurrentIndex(0);
    QApplication::processEvents();
    const QString csv = dir.filePath(QStringLiteral("rows.csv"));
    dialogs.names = {csv};
    const TRoad exported = measureRoad("CSV export (UTF-8)", [&] {
        if (!triggerDataAction(dataTable(), QStringLiteral("CSVに書き出す…"))) {
            std::fprintf(stderr, "no CSV export action\n");
        }
    });
    // The writer writes over the old text's memory, so its peak is near zero: the export's own is shown.
    std::printf("%-34s %9.2fx time, %.2fx processor; peak +%.0f MB (file %lld bytes)\n", "  export / (writer + save)",
                exported.ms / xmlWrite.ms, exported.cpuMs / xmlWrite.cpuMs, exported.peakMb,
                static_cast<long long>(QFileInfo(csv).size()));

    freshWorkspace();
    dialogs.names = {csv};
    const TRoad imported = measureRoad("CSV import (preview + import)", [&] {
        if (!triggerDataAction(dataTable(), QStringLiteral("CSVを読み込む…"))) {
            std::fprintf(stderr, "no CSV import action\n");
        }
    });
    std::printf("%-34s %9.2fx time, %.2fx processor, %.2fx peak; %d rows\n", "  import / (load + read)",
                imported.ms / xmlRead.ms, imported.cpuMs / xmlRead.cpuMs,
                imported.peakMb / std::max(xmlRead.peakMb, 1.0), dataTable()->model()->rowCount());

    // Every row selected (Ctrl+A), then the table repainted as scrolling or a typed key repaints it.
    QTableView* data = dataTable();
    measureRoad("select all (1 repaint)", [&] {
        data->selectAll();
        data->repaint();
    });
    std::vector<double> repaints;
    std::vector<double> processor;
    for (int i = 0; i < 15; ++i) {
        const double cpuBefore = cpuMilliseconds();
        QElapsedTimer timer;
        timer.start();
        data->viewport()->repaint();
        data->horizontalHeader()->viewport()->repaint();
        repaints.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
        processor.push_back(cpuMilliseconds() - cpuBefore);
    }
    std::sort(repaints.begin(), repaints.end());
    std::sort(processor.begin(), processor.end());
    std::printf("%-34s %9.1f ms median of %zu (min %.1f, max %.1f; processor median %.1f ms); %lld cells selected\n",
                "repaint with every row selected", repaints[repaints.size() / 2], repaints.size(), repaints.front(),
                repaints.back(), processor[processor.size() / 2],
                static_cast<long long>(data->model()->rowCount()) * data->model()->columnCount());
    measureRoad("Ctrl+N after it", [&] { freshWorkspace(); });
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM",
            qgetenv("QT_QPA_PLATFORM").isEmpty() ? QByteArray("offscreen") : qgetenv("QT_QPA_PLATFORM"));
    const int rows = argc > 1 ? std::atoi(argv[1]) : 1000000;
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("packet.xml"));
    // The test file is made, and pugixml times its parse, in a child process, so that the peak memory
    // measured is the window's alone.
    const QString pugiTime = dir.filePath(QStringLiteral("pugixml-ms"));
    const pid_t child = fork();
    if (child == 0) {
        writeTestFile(file, rows);
        QElapsedTimer pugiTimer;
        pugiTimer.start();
        {
            pugi::xml_document document;
            document.load_file(file.toLocal8Bit().constData());
        }
        QFile out(pugiTime);
        const bool written = out.open(QIODevice::WriteOnly) &&
                             out.write(QByteArray::number(static_cast<double>(pugiTimer.nsecsElapsed()) / 1e6)) > 0 &&
                             out.flush();
        std::_Exit(written ? 0 : 1);
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "the test file could not be made\n");
        return 1;
    }
    QFile timeFile(pugiTime);
    const double pugiMs = timeFile.open(QIODevice::ReadOnly) ? timeFile.readAll().toDouble() : 0.0;
    QApplication app(argc, argv);
    QElapsedTimer timer;

    ScriptedDialogs dialogs;
    TMainForm form(dialogs);
    form.show();
    QApplication::processEvents();
    auto* pages = form.findChild<QTabWidget*>(QStringLiteral("PageControl1"));
    auto* load = form.findChild<QPushButton*>(QStringLiteral("B_XmlLoad"));
    auto* data = form.findChild<QTableView*>(QStringLiteral("SG_Data"));
    pages->setCurrentIndex(1);
    QApplication::processEvents();

    const auto step = [&](const char* what, auto&& action) {
        const double cpuBefore = cpuMilliseconds();
        const double kernelBefore = kernelMilliseconds();
        timer.restart();
        action();
        form.repaint();
        QApplication::processEvents();
        const double ms = static_cast<double>(timer.nsecsElapsed()) / 1e6;
        std::printf("%-34s %9.0f ms  %5.2fx pugixml  (processor %.0f ms, kernel %.0f; peak RSS so far %.0f MB)\n", what,
                    ms, ms / pugiMs, cpuMilliseconds() - cpuBefore, kernelMilliseconds() - kernelBefore,
                    peakMegabytes());
    };
    dialogs.names = {file};
    step("file chosen -> text shown", [&] { load->click(); });
    step("-> data page drawn", [&] { pages->setCurrentIndex(0); });
    data->model()->setData(data->model()->index(0, 1), QStringLiteral("typed"));
    step("-> XML page written", [&] { pages->setCurrentIndex(1); });
    // The save checks that the text is well-formed XML before it writes; the check alone is timed too.
    step("save (Ctrl+S, current file)", [&] { form.saveDocument(); });
    auto* xml = form.findChild<TTextView*>(QStringLiteral("Te_Xml"));
    bool wellFormed = false;
    step("  of which the XML check", [&] { wellFormed = !firstXmlFault(xml->crLfText()); });
    step("the same save without the check", [&] { savePacketFile(file, xml->crLfText()); });
    // Find from the text's start, as the XML page's find bar asks (letter case ignored).
    xml->setSelection(0, 0);
    step("find near the end (any case)",
         [&] { xml->findAround(QString::number(rows - 1), false, Qt::CaseInsensitive); });
    xml->setSelection(0, 0);
    step("find, absent (any case)", [&] { xml->findAround(QStringLiteral("Osaka"), false, Qt::CaseInsensitive); });
    const double windowPeak = peakMegabytes();
    // What Qt's own reader takes to find the same (the alternative to a check of our own).
    bool qtWellFormed = false;
    step("QXmlStreamReader over the text", [&] {
        QXmlStreamReader reader(xml->crLfText());
        while (!reader.atEnd()) {
            reader.readNext();
        }
        qtWellFormed = !reader.hasError();
    });

    std::printf("rows %d, file %lld bytes, pugixml load_file %.0f ms, messages %d, well-formed %s (Qt: %s)\n", rows,
                static_cast<long long>(QFileInfo(file).size()), pugiMs, dialogs.messages, wellFormed ? "yes" : "NO",
                qtWellFormed ? "yes" : "NO");
    std::printf("peak RSS %.0f MB (before Qt's reader ran)\n", windowPeak);
    csvAndSelectionRoads(form, dialogs, dir, file);
    return 0;
}
