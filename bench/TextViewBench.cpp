// Times the XML text view on the texts that made the old view slow: a 4 MB single-line packet (images as
// base64) shown and typed into at its start, middle and end, 10 MB and 100 MB single lines typed into, and a
// 1,000,000-line packet set and typed into at its end, and both rewrapped when the view's width changes; and
// the find bar over the packet of 1,000,000 rows × 10 fields the window benchmark loads (194 MB as UTF-8).
// Every timing includes the repaint that shows the result. Runs on the offscreen platform.

#include "BenchSupport.h"
#include "TPacketWriter.h"
#include "TWorkspace.h"
#include "textview/TTextView.h"
#include "widgets/TFindBar.h"

#include <QApplication>
#include <QCheckBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <memory>
#include <random>

using namespace torvane;

namespace {

constexpr qsizetype LongLineSize = 4 * 1024 * 1024;
constexpr int MillionLines = 1000000;

// One packet line: a row of ten fields with numbers, ASCII and Japanese words, as the writer puts them.
QString rowLine(std::mt19937& rng, int row)
{
    static const QStringList values = {QStringLiteral("Apple"),
                                       QString::fromUtf8("東京都千代田区"),
                                       QString::fromUtf8("株式会社トルヴァネ"),
                                       QStringLiteral("item-0042"),
                                       QString::fromUtf8("山田太郎"),
                                       QStringLiteral("2024-06-01"),
                                       QStringLiteral("&quot;A&amp;B&quot;"),
                                       QString()};
    QString line = QStringLiteral("<ROW FIELD1=\"%1\"").arg(row);
    for (int field = 2; field <= 10; ++field) {
        line += QStringLiteral(" FIELD%1=\"%2\"").arg(field).arg(values[static_cast<int>(rng() % values.size())]);
    }
    line += QStringLiteral("/>");
    return line;
}

struct Texts {
    QString longLine;
    QString millionLines;

    Texts()
    {
        std::mt19937 rng(20240601);
        static const char base64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
        longLine.reserve(LongLineSize);
        longLine += QString::fromUtf8("<?xml version=\"1.0\" standalone=\"yes\"?><DATAPACKET Version=\"2.0\">"
                                      "<METADATA><FIELDS><FIELD attrname=\"ID\" fieldtype=\"i4\"/>"
                                      "<FIELD attrname=\"NAME\" fieldtype=\"string\" WIDTH=\"40\"/>"
                                      "<FIELD attrname=\"IMAGE\" fieldtype=\"bin.hex\" SUBTYPE=\"Binary\"/>"
                                      "</FIELDS></METADATA><ROWDATA>");
        for (int row = 1; longLine.size() < LongLineSize - 200; ++row) {
            longLine +=
                QStringLiteral("<ROW ID=\"%1\" NAME=\"%2\" IMAGE=\"").arg(row).arg(QString::fromUtf8("写真・東京駅"));
            const qsizetype image = std::min<qsizetype>(200000, LongLineSize - 200 - longLine.size());
            for (qsizetype i = 0; i < image; ++i) {
                longLine += QLatin1Char(base64[rng() % 64]);
            }
            longLine += QStringLiteral("\"/>");
        }
        longLine += QStringLiteral("</ROWDATA></DATAPACKET>");

        millionLines.reserve(static_cast<qsizetype>(MillionLines) * 140);
        // Line breaks as the writer and packet files have them.
        millionLines += QStringLiteral("<?xml version=\"1.0\" standalone=\"yes\"?>\r\n");
        millionLines += QStringLiteral("<DATAPACKET Version=\"2.0\">\r\n");
        for (int row = 1; row <= MillionLines - 4; ++row) {
            millionLines += rowLine(rng, row);
            millionLines += QLatin1String("\r\n");
        }
        millionLines += QStringLiteral("</ROWDATA>\r\n</DATAPACKET>");
    }
};

// A single-line packet of `size` characters: rows with a 200,000-character base64 image each, as longLine;
// or `blank`, one image of the whole line, all "A" (as a blank picture's bytes give), in which no row after
// an edit ever starts where an old one did (every row is as many letters wide as the others, and there is
// no space to break after).
QString hugeLine(qsizetype size, bool blank)
{
    std::mt19937 rng(20240602);
    static const char base64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    QString line;
    line.reserve(size);
    line += QStringLiteral("<?xml version=\"1.0\" standalone=\"yes\"?><DATAPACKET Version=\"2.0\"><ROWDATA>");
    for (int row = 1; line.size() < size - 200; ++row) {
        line += QStringLiteral("<ROW ID=\"%1\" NAME=\"%2\" IMAGE=\"").arg(row).arg(QString::fromUtf8("写真・東京駅"));
        const qsizetype image =
            blank ? size - 200 - line.size() : std::min<qsizetype>(200000, size - 200 - line.size());
        line.resize(line.size() + image);
        QChar* at = line.data() + line.size() - image;
        for (qsizetype i = 0; i < image; ++i) {
            at[i] = QLatin1Char(blank ? 'A' : base64[rng() % 64]);
        }
        line += QStringLiteral("\"/>");
    }
    line += QStringLiteral("</ROWDATA></DATAPACKET>");
    return line;
}

const QString& hugeLineOf(int megabytes, bool blank)
{
    static std::map<std::pair<int, bool>, QString> made;
    QString& line = made[{megabytes, blank}];
    if (line.isEmpty()) {
        line = hugeLine(static_cast<qsizetype>(megabytes) * 1000 * 1000, blank);
    }
    return line;
}

// The packet of the window benchmark: 1,000,000 rows of 10 fields (numbers, words, Japanese text), as the
// writer writes it.
const QString& millionRows()
{
    static const QString text = [] {
        TWorkspace workspace;
        SilentDialogs dialogs;
        for (int f = 0; f < 10; ++f) {
            workspace.AddFieldRow(QStringLiteral("FIELD%1").arg(f + 1), QStringLiteral("string"), QString(),
                                  QStringLiteral("20"), dialogs);
        }
        const QStringList words{QStringLiteral("Apple"),         QString::fromUtf8("東京都千代田区"),
                                QStringLiteral("2024-06-01"),    QString::fromUtf8("山田太郎"),
                                QStringLiteral("Tokyo Station"), QStringLiteral("N/A")};
        const int rows = 1000000;
        workspace.setDataRowCount(rows + 1);
        for (int r = 1; r <= rows; ++r) {
            workspace.setDataCell(0, r, QString::number(r));
            for (int c = 1; c < 10; ++c) {
                workspace.setDataCell(c, r, words[(r + c) % words.size()]);
            }
        }
        return writePacket(workspace);
    }();
    return text;
}

Texts& texts()
{
    static Texts t;
    return t;
}

class PaintCounter : public QObject {
public:
    int* count;
    explicit PaintCounter(int* c) : count(c) {}
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint) {
            ++*count;
        }
        return false;
    }
};

// The view as the window shows it, and a count of the paints, to know each timing drew the text.
struct Shown {
    TTextView view;
    int paints = 0;

    PaintCounter counter{&paints};

    Shown()
    {
        // The window's font (its Japanese gothic, 13 px): where a long line wraps depends on its advances.
        const QString family = QStringLiteral("ＭＳ Ｐゴシック");
        QFont::insertSubstitutions(family, {QStringLiteral("MS PGothic"), QStringLiteral("IPAPGothic"),
                                            QStringLiteral("Noto Sans CJK JP"), QStringLiteral("IPAGothic")});
        QFont font(family);
        font.setPixelSize(13);
        view.setFont(font);
        view.viewport()->installEventFilter(&counter);
        view.resize(1200, 800);
        view.show();
        QApplication::processEvents();
        view.setFocus();
    }
};

// Made in main and gone before the application, as widgets must be.
Shown* theShown = nullptr;

Shown& shown()
{
    return *theShown;
}

void typeKey(TTextView& view, char16_t c)
{
    QKeyEvent press(QEvent::KeyPress, Qt::Key_X, Qt::NoModifier, QString(QChar(c)));
    QApplication::sendEvent(&view, &press);
    QKeyEvent release(QEvent::KeyRelease, Qt::Key_X, Qt::NoModifier, QString(QChar(c)));
    QApplication::sendEvent(&view, &release);
}

// Sets `text` and paints it, again and again.
void showText(benchmark::State& state, const QString& text)
{
    Shown& s = shown();
    for (auto _ : state) {
        s.view.setPlainText(text);
        s.view.viewport()->repaint();
    }
}

// Types into `text` at `percent` of its length, each key followed by the repaint that shows it.
void typeInto(benchmark::State& state, const QString& text, qsizetype percent, char16_t key = u'x')
{
    Shown& s = shown();
    s.view.setPlainText(text);
    s.view.setSelection(s.view.buffer().size() * percent / 100, 0);
    s.view.viewport()->repaint();
    // The first edit makes the view's own copy of the text it shares with the benchmark's: once, not per key.
    typeKey(s.view, key);
    s.view.viewport()->repaint();
    for (auto _ : state) {
        typeKey(s.view, key);
        s.view.viewport()->repaint();
    }
}

// Resizes the view between two widths, each followed by the repaint: the text is wrapped again.
void rewrap(benchmark::State& state, const QString& text)
{
    Shown& s = shown();
    s.view.setPlainText(text);
    s.view.setSelection(s.view.buffer().size() / 2, 0);
    s.view.viewport()->repaint();
    int width = 1200;
    for (auto _ : state) {
        width = width == 1200 ? 1000 : 1200;
        s.view.resize(width, 800);
        s.view.viewport()->repaint();
    }
    s.view.resize(1200, 800);
}

void BM_ShowLongLine(benchmark::State& state)
{
    showText(state, texts().longLine);
}

void BM_KeystrokeLongLine(benchmark::State& state)
{
    typeInto(state, texts().longLine, state.range(0));
}

// 10 MB and 100 MB single lines typed into at `percent` of their length; their images random or blank.
void BM_KeystrokeHugeLine(benchmark::State& state)
{
    // In a blank image an "A" is typed: a narrower letter could fill the row's end and fall in step at once.
    const bool blank = state.range(2) != 0;
    typeInto(state, hugeLineOf(static_cast<int>(state.range(0)), blank), state.range(1), blank ? u'A' : u'x');
}

// Enter in the middle of the 100 MB blank line, then Backspace joining its halves again, each with its
// repaint: one iteration is both keys.
void BM_BreakAndJoinHugeLine(benchmark::State& state)
{
    Shown& s = shown();
    s.view.setPlainText(hugeLineOf(100, true));
    s.view.setSelection(s.view.buffer().size() / 2, 0);
    s.view.viewport()->repaint();
    typeKey(s.view, u'A');
    s.view.viewport()->repaint();
    for (auto _ : state) {
        QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
        QApplication::sendEvent(&s.view, &enter);
        s.view.viewport()->repaint();
        QKeyEvent backspace(QEvent::KeyPress, Qt::Key_Backspace, Qt::NoModifier);
        QApplication::sendEvent(&s.view, &backspace);
        s.view.viewport()->repaint();
    }
    if (s.view.lineCount() != 1) {
        state.SkipWithError("the line was not joined again");
    }
}

// The find bar's next match from the text's start, as Enter in the bar finds it: a match near the end of the
// 194 MB text, and a text it does not hold (which the bar searches past the end and round from the start).
const char* const findNeedles[] = {
    "FIELD1=\"999998\"",  // near the end, as written
    "field1=\"999998\"",  // near the end, other letter case
    "FIELD1=\"1999999\"", // absent
    "大阪駅",             // absent, Japanese
};

void BM_FindMillionRows(benchmark::State& state)
{
    Shown& s = shown();
    const QString needle = QString::fromUtf8(findNeedles[state.range(0)]);
    const bool matchCase = state.range(1) != 0;
    s.view.setPlainText(millionRows());
    TFindBar bar(s.view);
    bar.openFind(QString());
    bar.findChild<QLineEdit*>(QStringLiteral("FindText"))->setText(needle);
    bar.findChild<QCheckBox*>(QStringLiteral("FindMatchCase"))->setChecked(matchCase);
    const bool expected = state.range(0) == 0 || (state.range(0) == 1 && !matchCase);
    for (auto _ : state) {
        state.PauseTiming();
        s.view.setSelection(0, 0);
        s.view.viewport()->repaint();
        state.ResumeTiming();
        bar.findNext();
        s.view.viewport()->repaint();
    }
    if (s.view.hasSelection() != expected) {
        state.SkipWithError("the find found what it should not, or missed what it should find");
    }
}

// The floor a find stands on: one pass over the same characters, Qt's search for one absent character.
void BM_ScanMillionRows(benchmark::State& state)
{
    const QString& text = millionRows();
    qsizetype found = 0;
    for (auto _ : state) {
        found += QStringView(text).indexOf(QChar(u'~'));
    }
    benchmark::DoNotOptimize(found);
}

void BM_SetMillionLines(benchmark::State& state)
{
    showText(state, texts().millionLines);
}

void BM_KeystrokeMillionLinesEnd(benchmark::State& state)
{
    typeInto(state, texts().millionLines, 100);
}

void BM_RewrapLongLine(benchmark::State& state)
{
    rewrap(state, texts().longLine);
}

void BM_RewrapMillionLines(benchmark::State& state)
{
    rewrap(state, texts().millionLines);
}

} // namespace

#define TORVANE_BENCH(name) BENCHMARK(name)->Unit(benchmark::kMillisecond)->UseRealTime()
TORVANE_BENCH(BM_ShowLongLine)->MinTime(1.0);
TORVANE_BENCH(BM_KeystrokeLongLine)->Arg(0)->Arg(50)->Arg(100)->MinTime(1.0);
TORVANE_BENCH(BM_KeystrokeHugeLine)
    ->Args({10, 0, 0})
    ->Args({10, 50, 0})
    ->Args({10, 100, 0})
    ->Args({10, 50, 1})
    ->Args({100, 0, 0})
    ->Args({100, 50, 0})
    ->Args({100, 100, 0})
    ->Args({100, 50, 1})
    ->MinTime(1.0);
TORVANE_BENCH(BM_BreakAndJoinHugeLine)->MinTime(1.0);
TORVANE_BENCH(BM_FindMillionRows)->ArgsProduct({{0, 1, 2, 3}, {0, 1}})->MinTime(1.0);
TORVANE_BENCH(BM_ScanMillionRows)->MinTime(1.0);
TORVANE_BENCH(BM_SetMillionLines)->MinTime(2.0);
TORVANE_BENCH(BM_KeystrokeMillionLinesEnd)->MinTime(1.0);
TORVANE_BENCH(BM_RewrapLongLine)->MinTime(1.0);
TORVANE_BENCH(BM_RewrapMillionLines)->MinTime(1.0);

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    const Texts& t = texts();
    std::printf("Long line: %lld characters in 1 line; million: %lld characters in %lld lines\n",
                static_cast<long long>(t.longLine.size()), static_cast<long long>(t.millionLines.size()),
                static_cast<long long>(t.millionLines.count(u'\n') + 1));

    auto shownView = std::make_unique<Shown>();
    theShown = shownView.get();
    RecordingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    // A timing means little if the work was not done: the text must be the one set, and painted.
    Shown& s = shown();
    s.view.setPlainText(t.millionLines);
    const int paintsBefore = s.paints;
    s.view.viewport()->repaint();
    std::printf("View holds the text: %s; a repaint paints: %s\n",
                s.view.crLfText() == t.millionLines && s.view.lineCount() == MillionLines ? "yes" : "NO",
                s.paints > paintsBefore ? "yes" : "NO");

    struct Target {
        const char* what;
        const char* name;
        double milliseconds;
    };
    const Target targets[] = {
        {"show a 4 MB single line", "BM_ShowLongLine", 100},
        {"keystroke at its start", "BM_KeystrokeLongLine/0", 30},
        {"keystroke in its middle", "BM_KeystrokeLongLine/50", 30},
        {"keystroke at its end", "BM_KeystrokeLongLine/100", 30},
        {"10 MB line, key at start", "BM_KeystrokeHugeLine/10/0/0", 30},
        {"10 MB line, key in middle", "BM_KeystrokeHugeLine/10/50/0", 30},
        {"10 MB line, key at end", "BM_KeystrokeHugeLine/10/100/0", 30},
        {"10 MB blank line, key in middle", "BM_KeystrokeHugeLine/10/50/1", 30},
        {"100 MB line, key at start", "BM_KeystrokeHugeLine/100/0/0", 30},
        {"100 MB line, key in middle", "BM_KeystrokeHugeLine/100/50/0", 30},
        {"100 MB line, key at end", "BM_KeystrokeHugeLine/100/100/0", 30},
        {"100 MB blank line, key in middle", "BM_KeystrokeHugeLine/100/50/1", 30},
        {"  Enter there and Backspace (2 keys)", "BM_BreakAndJoinHugeLine", 60},
        {"find near end, any case", "BM_FindMillionRows/0/0", 60},
        {"find near end, match case", "BM_FindMillionRows/0/1", 60},
        {"find other case, any case", "BM_FindMillionRows/1/0", 60},
        {"find other case, match case", "BM_FindMillionRows/1/1", 60},
        {"find absent, any case", "BM_FindMillionRows/2/0", 60},
        {"find absent, match case", "BM_FindMillionRows/2/1", 60},
        {"find absent, Japanese, any case", "BM_FindMillionRows/3/0", 60},
        {"find absent, Japanese, match", "BM_FindMillionRows/3/1", 60},
        // Not a user's wait: what one pass over the 194 MB text's characters takes in this run.
        {"one pass, one character (Qt)", "BM_ScanMillionRows", 60},
        {"set 1,000,000 lines", "BM_SetMillionLines", 300},
        {"keystroke at their end", "BM_KeystrokeMillionLinesEnd", 30},
        // Not a user's wait the targets name; held to the show and set figures.
        {"resize, 4 MB line rewrapped", "BM_RewrapLongLine", 100},
        {"resize, 1,000,000 lines", "BM_RewrapMillionLines", 300},
    };
    std::printf("\n%-32s %10s %10s\n", "", "ms", "target");
    for (const Target& target : targets) {
        const auto found = reporter.milliseconds.find(target.name);
        if (found == reporter.milliseconds.end()) {
            continue;
        }
        std::printf("%-32s %10.2f %7.0f ms  %s\n", target.what, found->second, target.milliseconds,
                    found->second <= target.milliseconds ? "met" : "MISSED");
    }
    return 0;
}
