// Times the packet writer, reader, file save and load on a generated packet of 100,000 rows of 10 fields,
// each beside pugixml doing the same work on the same text, and prints our times as ratios to pugixml's
// (medians of five repetitions).

#include "BenchSupport.h"
#include "TDialogs.h"
#include "TPacketFile.h"
#include "TPacketReader.h"
#include "TPacketWriter.h"
#include "TWorkspace.h"

#include <QDir>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>
#include <pugixml.hpp>

#include <cstdio>
#include <malloc.h>
#include <random>
#include <string>
#include <vector>

using namespace torvane;

namespace {

constexpr int RowCount = 100000;
constexpr int FieldCount = 10;

// A value as people type them: numbers, ASCII words, Japanese words, dates, now and then a character the
// writer escapes, and now and then nothing.
QString randomValue(std::mt19937& rng)
{
    static const QStringList ascii = {"Apple",      "Orange", "Tokyo Station", "item-0042", "N/A",
                                      "alpha beta", "x",      "Product code 7"};
    static const QStringList japanese = {QString::fromUtf8("東京都千代田区"),
                                         QString::fromUtf8("株式会社トルヴァネ"),
                                         QString::fromUtf8("山田太郎"),
                                         QString::fromUtf8("ｶﾀｶﾅ"),
                                         QString::fromUtf8("表示ソフト"),
                                         QString::fromUtf8("備考：特になし"),
                                         QString::fromUtf8("①～⑩")};
    std::uniform_int_distribution<int> kind(0, 19);
    std::uniform_int_distribution<int> number(0, 999999);
    const int k = kind(rng);
    if (k < 5) {
        return QString::number(number(rng));
    }
    if (k < 10) {
        return ascii[static_cast<int>(rng() % ascii.size())];
    }
    if (k < 16) {
        return japanese[static_cast<int>(rng() % japanese.size())];
    }
    if (k < 18) {
        const int month = 1 + number(rng) % 12;
        const int day = 1 + number(rng) % 28;
        return QStringLiteral("2024-%1-%2").arg(month, 2, 10, QChar(u'0')).arg(day, 2, 10, QChar(u'0'));
    }
    if (k < 19) {
        return QString::fromUtf8("\"A&B\" <株>");
    }
    return QString();
}

struct Fixture {
    TWorkspace workspace;
    QString crlfText; // the writer's text, as the reader and the save take it from the view
    QByteArray utf8;  // the same as UTF-8, for pugixml
    pugi::xml_document document;
    QTemporaryDir dir;
    QString ourFile;
    std::string pugiFile;

    Fixture()
    {
        SilentDialogs dialogs;
        static const char* types[] = {"i4（４バイト整数）", "string（文字列）"};
        for (int f = 0; f < FieldCount; ++f) {
            workspace.AddFieldRow(QStringLiteral("FIELD%1").arg(f + 1), QString::fromUtf8(types[f == 0 ? 0 : 1]),
                                  QString(), f == 0 ? QString() : QStringLiteral("40"), dialogs);
        }
        std::mt19937 rng(20240601);
        workspace.setDataRowCount(RowCount + 1);
        // Each row set whole, as the reader sets it.
        std::vector<QString> values(FieldCount);
        for (int r = 1; r <= RowCount; ++r) {
            for (int c = 0; c < FieldCount; ++c) {
                values[static_cast<size_t>(c)] = c == 0 ? QString::number(r) : randomValue(rng);
            }
            const std::vector<QStringView> row(values.begin(), values.end());
            workspace.setDataRowCells(r, row.data(), FieldCount);
        }
        crlfText = writePacket(workspace);
        utf8 = crlfText.toUtf8();
        document.load_buffer(utf8.constData(), static_cast<size_t>(utf8.size()));
        ourFile = dir.filePath(QStringLiteral("ours.xml"));
        pugiFile = QDir::toNativeSeparators(dir.filePath(QStringLiteral("pugi.xml"))).toStdString();
        savePacketFile(ourFile, crlfText);
        document.save_file(pugiFile.c_str(), "", pugi::format_default, pugi::encoding_utf8);
    }
};

Fixture& fixture()
{
    static Fixture f;
    return f;
}

size_t heapInUse()
{
    const struct mallinfo2 info = mallinfo2();
    // Large blocks (the row array among them) are mapped apart from the heap's arena.
    return info.uordblks + info.hblkhd;
}

// The heap a read data table takes per cell beyond its characters (two bytes each): the reader's grid,
// measured with mallinfo2 before and after reading the packet, less the characters its cells hold.
double cellBytesBeyondCharacters(const QString& crlfText)
{
    SilentDialogs dialogs;
    const size_t before = heapInUse();
    TWorkspace read;
    readPacket(read, crlfText, dialogs);
    const size_t after = heapInUse();
    const TStringGrid& data = read.SG_Data();
    qint64 characters = 0;
    for (int r = 0; r < data.rowCount(); ++r) {
        for (int c = 0; c < data.colCount(); ++c) {
            characters += data.cellView(c, r).size();
        }
    }
    const double cells = static_cast<double>(data.rowCount()) * data.colCount();
    return (static_cast<double>(after - before) - 2.0 * static_cast<double>(characters)) / cells;
}

struct StringWriter : pugi::xml_writer {
    std::string out;
    void write(const void* data, size_t size) override { out.append(static_cast<const char*>(data), size); }
};

// pugixml's counterpart of the reader: parse, then copy every row's attribute values into a table.
std::vector<std::vector<std::string>> copyRows(const pugi::xml_document& document)
{
    std::vector<std::vector<std::string>> table;
    table.reserve(RowCount);
    for (const pugi::xml_node row : document.child("DATAPACKET").child("ROWDATA").children("ROW")) {
        std::vector<std::string>& cells = table.emplace_back();
        cells.reserve(FieldCount);
        for (const pugi::xml_attribute attribute : row.attributes()) {
            cells.emplace_back(attribute.value());
        }
    }
    return table;
}

void BM_OurWriter(benchmark::State& state)
{
    Fixture& f = fixture();
    // As the window writes the XML page: over the text the view showed before.
    QString text;
    for (auto _ : state) {
        text = writePacket(f.workspace, std::move(text));
        benchmark::DoNotOptimize(text.constData());
    }
    state.SetBytesProcessed(state.iterations() * f.utf8.size());
}

void BM_PugiSave(benchmark::State& state)
{
    Fixture& f = fixture();
    for (auto _ : state) {
        StringWriter writer;
        writer.out.reserve(static_cast<size_t>(f.utf8.size()) + 1024);
        f.document.save(writer, "", pugi::format_default, pugi::encoding_utf8);
        benchmark::DoNotOptimize(writer.out.data());
    }
    state.SetBytesProcessed(state.iterations() * f.utf8.size());
}

void BM_OurReader(benchmark::State& state)
{
    Fixture& f = fixture();
    SilentDialogs dialogs;
    for (auto _ : state) {
        state.PauseTiming();
        auto workspace = std::make_unique<TWorkspace>();
        state.ResumeTiming();
        readPacket(*workspace, f.crlfText, dialogs);
        benchmark::DoNotOptimize(workspace->SG_Data().rowCount());
        state.PauseTiming();
        workspace.reset();
        state.ResumeTiming();
    }
    state.SetBytesProcessed(state.iterations() * f.utf8.size());
}

// A packet of 100,000 fields and one row: reading it must stay linear in the number of fields.
constexpr int ManyFieldCount = 100000;

const QString& manyFieldsText()
{
    static const QString text = [] {
        QString t = QStringLiteral("<?xml version=\"1.0\" standalone=\"yes\"?>\r\n<DATAPACKET Version=\"2.0\">\r\n"
                                   "<METADATA>\r\n<FIELDS>\r\n");
        for (int i = 0; i < ManyFieldCount; ++i) {
            t += QStringLiteral("<FIELD attrname=\"F%1\" fieldtype=\"string\" WIDTH=\"10\"/>\r\n").arg(i);
        }
        t += QStringLiteral(
            "</FIELDS>\r\n<PARAMS DEFAULT_ORDER=\"1\" PRIMARY_KEY=\"2\" LCID=\"1033\"/>\r\n"
            "</METADATA>\r\n<ROWDATA>\r\n<ROW F0=\"a\" F99999=\"z\"/>\r\n</ROWDATA>\r\n</DATAPACKET>\r\n");
        return t;
    }();
    return text;
}

void BM_OurReaderManyFields(benchmark::State& state)
{
    const QString& text = manyFieldsText();
    SilentDialogs dialogs;
    for (auto _ : state) {
        state.PauseTiming();
        auto workspace = std::make_unique<TWorkspace>();
        state.ResumeTiming();
        readPacket(*workspace, text, dialogs);
        state.PauseTiming();
        if (workspace->FieldCount() != ManyFieldCount || workspace->SG_Data().cell(99999, 1) != QStringLiteral("z")) {
            state.SkipWithError("the fields were not read");
        }
        workspace.reset();
        state.ResumeTiming();
    }
}

// pugixml's counterpart: parse the same text as UTF-8 and copy every field's attribute values and the row's
// into tables. As for the reader above, freeing the result is left out on both sides.
void BM_PugiManyFields(benchmark::State& state)
{
    static const QByteArray utf8 = manyFieldsText().toUtf8();
    for (auto _ : state) {
        pugi::xml_document document;
        document.load_buffer(utf8.constData(), static_cast<size_t>(utf8.size()));
        const pugi::xml_node packet = document.child("DATAPACKET");
        std::vector<std::vector<std::string>> fields;
        fields.reserve(ManyFieldCount);
        for (const pugi::xml_node field : packet.child("METADATA").child("FIELDS").children("FIELD")) {
            std::vector<std::string>& attributes = fields.emplace_back();
            for (const pugi::xml_attribute attribute : field.attributes()) {
                attributes.emplace_back(attribute.value());
            }
        }
        std::vector<std::string> row;
        for (const pugi::xml_attribute attribute : packet.child("ROWDATA").child("ROW").attributes()) {
            row.emplace_back(attribute.value());
        }
        state.PauseTiming();
        if (fields.size() != ManyFieldCount || row.size() != 2) {
            state.SkipWithError("pugixml did not read the fields");
        }
        fields = {};
        row = {};
        document.reset();
        state.ResumeTiming();
    }
}

void BM_PugiParseAndCopy(benchmark::State& state)
{
    Fixture& f = fixture();
    for (auto _ : state) {
        pugi::xml_document document;
        document.load_buffer(f.utf8.constData(), static_cast<size_t>(f.utf8.size()));
        auto table = copyRows(document);
        benchmark::DoNotOptimize(table.data());
        state.PauseTiming();
        table = {};
        document.reset();
        state.ResumeTiming();
    }
    state.SetBytesProcessed(state.iterations() * f.utf8.size());
}

void BM_OurSave(benchmark::State& state)
{
    Fixture& f = fixture();
    for (auto _ : state) {
        savePacketFile(f.ourFile, f.crlfText);
    }
    state.SetBytesProcessed(state.iterations() * f.utf8.size());
}

void BM_PugiSaveFile(benchmark::State& state)
{
    Fixture& f = fixture();
    for (auto _ : state) {
        if (!f.document.save_file(f.pugiFile.c_str(), "", pugi::format_default, pugi::encoding_utf8)) {
            state.SkipWithError("pugixml could not save");
        }
    }
    state.SetBytesProcessed(state.iterations() * f.utf8.size());
}

void BM_OurLoad(benchmark::State& state)
{
    Fixture& f = fixture();
    for (auto _ : state) {
        QString text = loadPacketFile(f.ourFile);
        benchmark::DoNotOptimize(text.constData());
    }
    state.SetBytesProcessed(state.iterations() * f.utf8.size());
}

void BM_PugiLoadFile(benchmark::State& state)
{
    Fixture& f = fixture();
    for (auto _ : state) {
        pugi::xml_document document;
        if (!document.load_file(f.pugiFile.c_str())) {
            state.SkipWithError("pugixml could not load");
        }
        benchmark::DoNotOptimize(document.first_child());
    }
    state.SetBytesProcessed(state.iterations() * f.utf8.size());
}

struct Comparison {
    const char* what;
    const char* ours;
    const char* yardstick;
    double target; // 0: no target
};

} // namespace

// Five repetitions each; the ratios are taken between medians.
#define TORVANE_BENCH(name)                                                                                            \
    BENCHMARK(name)                                                                                                    \
        ->Unit(benchmark::kMillisecond)                                                                                \
        ->UseRealTime()                                                                                                \
        ->MinTime(0.5)                                                                                                 \
        ->Repetitions(5)                                                                                               \
        ->ReportAggregatesOnly(true)
TORVANE_BENCH(BM_OurWriter);
TORVANE_BENCH(BM_PugiSave);
TORVANE_BENCH(BM_OurReader);
TORVANE_BENCH(BM_PugiParseAndCopy);
TORVANE_BENCH(BM_OurReaderManyFields);
TORVANE_BENCH(BM_PugiManyFields);
TORVANE_BENCH(BM_OurSave);
TORVANE_BENCH(BM_PugiSaveFile);
TORVANE_BENCH(BM_OurLoad);
TORVANE_BENCH(BM_PugiLoadFile);

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    {
        const Fixture& f = fixture();
        std::printf("Packet: %d rows x %d fields, %lld characters, %lld bytes as UTF-8, %lld lines\n", RowCount,
                    FieldCount, static_cast<long long>(f.crlfText.size()), static_cast<long long>(f.utf8.size()),
                    static_cast<long long>(f.crlfText.count(u'\n')));
        // A timing means little if the work was not done: check that reader and load give the packet back.
        SilentDialogs dialogs;
        TWorkspace read;
        readPacket(read, f.crlfText, dialogs);
        bool same = read.SG_Data().rowCount() == f.workspace.SG_Data().rowCount() && read.FieldCount() == FieldCount;
        for (int r = 1; same && r < read.SG_Data().rowCount(); ++r) {
            same = read.SG_Data().row(r) == f.workspace.SG_Data().row(r);
        }
        const bool loaded = loadPacketFile(f.ourFile) == f.crlfText;
        std::printf("Reader gives the workspace back: %s; load gives the saved text back: %s\n", same ? "yes" : "NO",
                    loaded ? "yes" : "NO");
        std::printf("Read data table: %.1f bytes per cell beyond characters (heap, whole workspace)\n",
                    cellBytesBeyondCharacters(f.crlfText));
    }
    RecordingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    const Comparison comparisons[] = {
        {"writer", "BM_OurWriter", "BM_PugiSave", 0.7},
        {"reader", "BM_OurReader", "BM_PugiParseAndCopy", 1.0},
        {"fields", "BM_OurReaderManyFields", "BM_PugiManyFields", 2.0},
        {"save", "BM_OurSave", "BM_PugiSaveFile", 1.0},
        {"load", "BM_OurLoad", "BM_PugiLoadFile", 0.8},
    };
    std::printf("\n%-8s %12s %12s %8s  %s\n", "", "ours (ms)", "pugixml (ms)", "ratio", "yardstick");
    for (const Comparison& c : comparisons) {
        const auto ours = reporter.milliseconds.find(c.ours);
        const auto yardstick = reporter.milliseconds.find(c.yardstick);
        if (ours == reporter.milliseconds.end() || yardstick == reporter.milliseconds.end()) {
            continue;
        }
        const double ratio = ours->second / yardstick->second;
        std::printf("%-8s %12.1f %12.1f %7.2fx  %s", c.what, ours->second, yardstick->second, ratio, c.yardstick);
        if (c.target > 0) {
            std::printf("  (target <= %.1fx: %s)", c.target, ratio <= c.target ? "met" : "MISSED");
        }
        std::printf("\n");
    }
    return 0;
}
