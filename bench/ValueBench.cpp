// Times the value window opening a 10 MB value (10 million characters in the cell) on the offscreen
// platform: the cell read, decoded and classified, and the window shown and painted in the view it chooses.
// Three values: bytes that are no picture (the hex view), a bitmap (the picture view), and memo text with
// line breaks (the text view). Then the data table scrolled page by page through 1,000 records holding a
// 150 KB bitmap each, every page painted with its thumbnails decoded afresh.

#include "BenchSupport.h"
#include "SilentWindowDialogs.h"
#include "TCellValue.h"
#include "commands/TEditCommands.h"
#include "datapage/TDataTableModel.h"
#include "valuewindow/TValueWindow.h"

#include <QApplication>
#include <QBuffer>
#include <QHeaderView>
#include <QImage>
#include <QRandomGenerator>
#include <QScrollBar>
#include <QTableView>
#include <QUndoStack>

#include <benchmark/benchmark.h>

using namespace torvane;

namespace {

constexpr qsizetype ValueLength = 10'000'000;

// The value window's cell lives in a workspace of one field and one record; nothing else is shown.
class Target : public TEditTarget {
public:
    TWorkspace ws;
    TWorkspace& workspace() override { return ws; }
    void dataCellsChanged(const QRect&) override {}
    void dataRowsChanged(const QRect&) override {}
    void dataColumnMoved(int, int) override {}
    void fieldsChanged(int) override {}
};

QString randomBytesValue()
{
    QByteArray bytes(ValueLength / 4 * 3, Qt::Uninitialized);
    QRandomGenerator generator(10);
    generator.fillRange(reinterpret_cast<quint32*>(bytes.data()), bytes.size() / 4);
    return encodeBase64(bytes);
}

QString bitmapValue()
{
    // 1,600 x 1,560 pixels of 24 bits: 7.5 MB, 10 million characters of base64.
    QImage image(1600, 1560, QImage::Format_RGB888);
    for (int y = 0; y < image.height(); ++y) {
        uchar* line = image.scanLine(y);
        for (int x = 0; x < image.width() * 3; ++x) {
            line[x] = static_cast<uchar>((x ^ y) & 0xFF);
        }
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "BMP");
    return encodeBase64(bytes);
}

QString memoValue()
{
    QString text;
    text.reserve(ValueLength + 100);
    for (int line = 0; text.size() < ValueLength; ++line) {
        text += QStringLiteral("%1 行目：メモの本文 The quick brown fox jumps over the lazy dog.\r\n").arg(line);
    }
    text.truncate(ValueLength);
    return text;
}

void openValue(benchmark::State& state, const QString& type, const QString& etc, const QString& value,
               TValueView expected)
{
    SilentWindowDialogs dialogs;
    TErrorHandler errors(dialogs);
    Target target;
    target.ws.AddFieldRow(QStringLiteral("V"), type, etc, QString(), dialogs);
    target.ws.setDataCell(0, 1, value);
    QUndoStack stack;
    TDataTableModel model(target.ws);
    TValueWindow window(TValueCell(target, &stack), &model, dialogs, errors);
    for (auto _ : state) {
        window.showCell(0, 1);
        window.show();
        window.repaint();
        state.PauseTiming();
        if (window.currentView() != expected || window.value().text().size() != value.size()) {
            state.SkipWithError("the value window did not show the value whole in the expected view");
        }
        window.hide();
        QApplication::processEvents();
        state.ResumeTiming();
    }
    state.counters["chars"] = double(value.size());
}

void BM_ValueWindowBytes(benchmark::State& state)
{
    openValue(state, QStringLiteral("bin.hex"), QString(), randomBytesValue(), TValueView::Hex);
}

void BM_ValueWindowBitmap(benchmark::State& state)
{
    openValue(state, QStringLiteral("bin.hex"), QStringLiteral("SUBTYPE=\"Graphics\""), bitmapValue(),
              TValueView::Image);
}

void BM_ValueWindowMemo(benchmark::State& state)
{
    openValue(state, QStringLiteral("string"), QString(), memoValue(), TValueView::Text);
}

void BM_TableScrollPictures(benchmark::State& state)
{
    constexpr int Records = 1000;
    SilentDialogs dialogs;
    TWorkspace ws;
    ws.AddFieldRow(QStringLiteral("ID"), QStringLiteral("i4"), QString(), QString(), dialogs);
    ws.AddFieldRow(QStringLiteral("PIC"), QStringLiteral("bin.hex"), QStringLiteral("SUBTYPE=\"Graphics\""), QString(),
                   dialogs);
    QImage image(256, 200, QImage::Format_RGB888);
    image.fill(Qt::darkCyan);
    QByteArray bitmap;
    QBuffer buffer(&bitmap);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "BMP");
    ws.insertEmptyDataRows(2, Records - 1);
    for (int r = 1; r <= Records; ++r) {
        // Each record's own value, so no two cells share a decoded picture.
        ws.setDataCell(0, r, QString::number(r));
        ws.setDataCell(
            1, r,
            encodeBase64(graphicsHeader(bitmap.size(), QByteArray::number(r % 10000).rightJustified(4, '0')) + bitmap));
    }
    TDataTableModel model(ws);
    QTableView view;
    view.setModel(&model);
    view.verticalHeader()->setDefaultSectionSize(TWorkspace::DefaultRowHeight);
    view.setColumnWidth(1, 240);
    view.resize(760, 400);
    view.show();
    QApplication::processEvents();
    if (view.verticalScrollBar()->maximum() <= 0) {
        state.SkipWithError("the table does not scroll");
    }
    const int pageRows = view.viewport()->height() / TWorkspace::DefaultRowHeight;
    int pages = 0;
    for (auto _ : state) {
        pages = 0;
        for (int top = 0; top < Records; top += pageRows, ++pages) {
            view.verticalScrollBar()->setValue(top);
            view.viewport()->repaint();
            if (!model.index(top, 1).data(Qt::DecorationRole).isValid()) {
                state.SkipWithError("a picture cell has no thumbnail");
            }
        }
        state.PauseTiming();
        model.refresh();
        view.verticalScrollBar()->setValue(0);
        state.ResumeTiming();
    }
    state.counters["pages"] = pages;
    state.counters["picture_bytes"] = double(bitmap.size());
}

} // namespace

BENCHMARK(BM_ValueWindowBytes)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly();
BENCHMARK(BM_ValueWindowBitmap)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly();
BENCHMARK(BM_ValueWindowMemo)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly();
BENCHMARK(BM_TableScrollPictures)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(3)->ReportAggregatesOnly();

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
    return 0;
}
