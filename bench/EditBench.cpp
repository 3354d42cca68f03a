// Times the data table's editing on 10,000 rows of 10 fields: a paste of a 10,000 x 10 spreadsheet block and a
// delete of 10,000 rows, each in the workspace alone and through the window (offscreen), undo included.

#include "BenchSupport.h"
#include "SilentWindowDialogs.h"
#include "TDelimitedText.h"
#include "TWorkspace.h"
#include "datapage/TDataGrid.h"
#include "widgets/TFieldTypeBox.h"
#include "window/TMainForm.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>

#include <benchmark/benchmark.h>

#include <memory>

using namespace torvane;

namespace {

constexpr int Rows = 10000;
constexpr int Fields = 10;

// A block as Calc puts it on the clipboard: plain values, some quoted with a tab or a line break inside.
QString spreadsheetBlock()
{
    TTextTable rows(Rows, std::vector<QString>(Fields));
    for (int r = 0; r < Rows; ++r) {
        for (int c = 0; c < Fields; ++c) {
            rows[r][c] =
                (r + c) % 7 == 0 ? QStringLiteral("東京\t駅 %1").arg(r) : QStringLiteral("値%1-%2").arg(r).arg(c);
        }
    }
    return toTabText(rows);
}

void addFields(TWorkspace& ws, TDialogs& dialogs)
{
    for (int f = 0; f < Fields; ++f) {
        ws.AddFieldRow(QStringLiteral("F%1").arg(f), QStringLiteral("string（文字列）"), QString(), QString(), dialogs);
    }
}

void BM_WorkspacePaste(benchmark::State& state)
{
    const QString block = spreadsheetBlock();
    SilentDialogs dialogs;
    TWorkspace ws;
    addFields(ws, dialogs);
    for (auto _ : state) {
        TCellBlock cells = planPaste(fromTabText(block), QRect(0, 1, 1, 1), ws.FieldCount());
        ws.insertEmptyDataRows(ws.SG_Data().rowCount(), cells.row + cells.height() - ws.SG_Data().rowCount());
        TCellBlock previous = ws.swapDataCells(std::move(cells));
        state.PauseTiming();
        ws.swapDataCells(std::move(previous));
        ws.setDataRowCount(2);
        state.ResumeTiming();
    }
}

void BM_WorkspaceDeleteRows(benchmark::State& state)
{
    SilentDialogs dialogs;
    TWorkspace ws;
    addFields(ws, dialogs);
    TCellBlock cells = planPaste(fromTabText(spreadsheetBlock()), QRect(0, 1, 1, 1), ws.FieldCount());
    ws.insertEmptyDataRows(2, Rows);
    ws.swapDataCells(std::move(cells));
    for (auto _ : state) {
        TRemovedRows removed = ws.removeDataRows(1, Rows);
        state.PauseTiming();
        ws.restoreDataRows(std::move(removed));
        state.ResumeTiming();
    }
}

// The window with ten fields, its data table and the action of that name on it.
struct Window {
    SilentWindowDialogs dialogs;
    std::unique_ptr<TMainForm> form;
    TDataGrid* data = nullptr;

    Window()
    {
        form = std::make_unique<TMainForm>(dialogs);
        form->show();
        data = form->findChild<TDataGrid*>(QStringLiteral("SG_Data"));
        page = form->findChild<QWidget*>(QStringLiteral("TabSheet1"));
        auto* type = form->findChild<TFieldTypeBox*>(QStringLiteral("CB_FieldType"));
        type->choose(type->findText(QStringLiteral("string（文字列）")));
        for (int f = 0; f < Fields; ++f) {
            form->findChild<QLineEdit*>(QStringLiteral("Ed_FieldName"))->setText(QStringLiteral("F%1").arg(f));
            form->findChild<QPushButton*>(QStringLiteral("B_FieldAdd"))->click();
        }
    }
    QWidget* page = nullptr;
    QAction* action(const QString& text) const
    {
        for (QAction* action : data->actions()) {
            if (action->text() == text) {
                return action;
            }
        }
        return nullptr;
    }
    QAction* undo() const
    {
        for (QAction* action : page->actions()) {
            if (action->text() == QStringLiteral("元に戻す")) {
                return action;
            }
        }
        return nullptr;
    }
    void selectCell(int row) { data->setCurrentIndex(data->model()->index(row, 0)); }
};

// Made on first use, and gone before the application object is.
std::unique_ptr<Window> theWindow;

Window& window()
{
    if (!theWindow) {
        theWindow = std::make_unique<Window>();
    }
    return *theWindow;
}

void BM_WindowPaste(benchmark::State& state)
{
    Window& w = window();
    QApplication::clipboard()->setText(spreadsheetBlock());
    for (auto _ : state) {
        w.selectCell(0);
        w.action(QStringLiteral("貼り付け"))->trigger();
        QApplication::processEvents();
        state.PauseTiming();
        if (w.data->model()->rowCount() != Rows) {
            state.SkipWithError("the paste did not add the rows");
        }
        w.undo()->trigger();
        QApplication::processEvents();
        state.ResumeTiming();
    }
}

void BM_WindowDeleteRows(benchmark::State& state)
{
    Window& w = window();
    QApplication::clipboard()->setText(spreadsheetBlock());
    w.selectCell(0);
    w.action(QStringLiteral("貼り付け"))->trigger();
    for (auto _ : state) {
        w.data->selectionModel()->select(
            QItemSelection(w.data->model()->index(0, 0), w.data->model()->index(Rows - 1, Fields - 1)),
            QItemSelectionModel::ClearAndSelect);
        w.action(QStringLiteral("行を削除"))->trigger();
        QApplication::processEvents();
        state.PauseTiming();
        if (w.data->model()->rowCount() != 1) {
            state.SkipWithError("the delete left rows");
        }
        w.undo()->trigger();
        QApplication::processEvents();
        state.ResumeTiming();
    }
}

} // namespace

#define TORVANE_BENCH(name) BENCHMARK(name)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(1.0)
TORVANE_BENCH(BM_WorkspacePaste);
TORVANE_BENCH(BM_WorkspaceDeleteRows);
TORVANE_BENCH(BM_WindowPaste);
TORVANE_BENCH(BM_WindowDeleteRows);

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    theWindow.reset();
    return 0;
}
