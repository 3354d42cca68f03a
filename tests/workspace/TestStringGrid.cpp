#include "TStringGrid.h"

#include <QRandomGenerator>
#include <QTest>

#include <algorithm>

using namespace torvane;

namespace {

// The grid as a plain table of strings, one per cell: what every operation must leave, cell for cell.
struct PlainGrid {
    int cols = 0;
    int defaultWidth = 0;
    std::vector<std::vector<QString>> cells;
    std::vector<QString> contents;
    std::vector<int> widths;

    void setColCount(int n)
    {
        cols = std::max(n, 0);
        for (auto& row : cells) {
            row.resize(static_cast<size_t>(cols));
        }
        widths.resize(static_cast<size_t>(cols), defaultWidth);
    }
    void setRowCount(int n)
    {
        cells.resize(static_cast<size_t>(std::max(n, 0)), std::vector<QString>(static_cast<size_t>(cols)));
        contents.resize(cells.size());
    }
    template <typename T> static void move(std::vector<T>& items, int from, int to)
    {
        const T item = items[static_cast<size_t>(from)];
        items.erase(items.begin() + from);
        items.insert(items.begin() + to, item);
    }
};

// Stands for an empty string (as opposed to no value, QString()) in the plain table and in Texts.
const QString EmptyString = QStringLiteral("\x01empty string");

// The cell's text, and whether it is an empty string.
QString textOf(const QString& plain)
{
    return plain == EmptyString ? QString() : plain;
}

bool isEmptyString(const QString& plain)
{
    return plain == EmptyString;
}

std::vector<bool> emptyStringFlags(const std::vector<QString>& plain)
{
    std::vector<bool> flags;
    for (const QString& value : plain) {
        flags.push_back(isEmptyString(value));
    }
    return flags;
}

std::vector<QString> textsOf(std::vector<QString> plain)
{
    std::transform(plain.begin(), plain.end(), plain.begin(), textOf);
    return plain;
}

const QStringList Texts{QString(),
                        EmptyString,
                        QStringLiteral("a"),
                        QStringLiteral("Tokyo Station"),
                        QStringLiteral("東京都"),
                        QStringLiteral("😀x"),
                        QStringLiteral("<&\">"),
                        QString(300, u'z')};

} // namespace

class TestStringGrid : public QObject {
    Q_OBJECT
private slots:
    void operationsKeepEveryCell_data();
    void operationsKeepEveryCell();
};

void TestStringGrid::operationsKeepEveryCell_data()
{
    QTest::addColumn<int>("cols");
    QTest::addColumn<int>("rows");
    QTest::addColumn<quint32>("seed");
    QTest::newRow("empty grid") << 0 << 0 << 1u;
    QTest::newRow("one cell") << 1 << 1 << 2u;
    QTest::newRow("header and rows") << 4 << 5 << 3u;
    QTest::newRow("wide") << 9 << 3 << 4u;
    QTest::newRow("long run") << 5 << 6 << 5u;
}

// Random edits, each done on the grid and on a plain table; after every one both hold the same cells,
// row contents and widths.
void TestStringGrid::operationsKeepEveryCell()
{
    QFETCH(int, cols);
    QFETCH(int, rows);
    QFETCH(quint32, seed);
    QRandomGenerator rng(seed);
    const auto pick = [&](int n) { return n <= 0 ? 0 : static_cast<int>(rng.bounded(n)); };
    const auto text = [&] { return Texts[pick(static_cast<int>(Texts.size()))]; };

    TStringGrid grid(cols, rows, 64);
    PlainGrid plain{0, 64, {}, {}, {}};
    plain.setColCount(cols);
    plain.setRowCount(rows);
    for (int step = 0; step < 400; ++step) {
        const int op = pick(13);
        const int n = grid.rowCount();
        const int c = grid.colCount();
        if (op == 0 && n > 0 && c > 0) {
            const int col = pick(c), row = pick(n);
            const QString value = text();
            grid.setCell(col, row, textOf(value), isEmptyString(value));
            plain.cells[static_cast<size_t>(row)][static_cast<size_t>(col)] = value;
        } else if (op == 1) {
            const int count = pick(8);
            grid.setColCount(count);
            plain.setColCount(count);
        } else if (op == 2) {
            const int count = pick(8);
            grid.setRowCount(count);
            plain.setRowCount(count);
        } else if (op == 3 && c > 0) {
            const int from = pick(c), to = pick(c);
            grid.moveColumn(from, to);
            for (auto& row : plain.cells) {
                PlainGrid::move(row, from, to);
            }
            PlainGrid::move(plain.widths, from, to);
        } else if (op == 4) {
            const int first = pick(n + 1);
            grid.clearRows(first);
            for (int r = first; r < n; ++r) {
                plain.cells[static_cast<size_t>(r)].assign(static_cast<size_t>(c), QString());
                plain.contents[static_cast<size_t>(r)].clear();
            }
        } else if (op == 5 || op == 6) {
            // Rows taken out (or copied) and put back elsewhere, with their contents.
            const int first = pick(n + 1), count = pick(n - first + 1);
            std::vector<TGridRow> taken = op == 5 ? grid.takeRows(first, count) : grid.copyRows(first, count);
            std::vector<std::vector<QString>> plainRows(plain.cells.begin() + first,
                                                        plain.cells.begin() + first + count);
            std::vector<QString> plainContents(plain.contents.begin() + first, plain.contents.begin() + first + count);
            if (op == 5) {
                plain.cells.erase(plain.cells.begin() + first, plain.cells.begin() + first + count);
                plain.contents.erase(plain.contents.begin() + first, plain.contents.begin() + first + count);
            }
            const int at = pick(grid.rowCount() + 1);
            grid.insertRows(at, std::move(taken));
            plain.cells.insert(plain.cells.begin() + at, plainRows.begin(), plainRows.end());
            plain.contents.insert(plain.contents.begin() + at, plainContents.begin(), plainContents.end());
        } else if (op == 7 && c > 0) {
            const int col = pick(c);
            TGridColumn column = grid.takeColumn(col);
            const int at = pick(grid.colCount() + 1);
            for (size_t r = 0; r < plain.cells.size(); ++r) {
                const QString& expected = plain.cells[r][static_cast<size_t>(col)];
                QCOMPARE(column.cells[r], textOf(expected));
                QCOMPARE(r < column.emptyStrings.size() && column.emptyStrings[r], isEmptyString(expected));
                PlainGrid::move(plain.cells[r], col, at);
            }
            QCOMPARE(column.width, plain.widths[static_cast<size_t>(col)]);
            PlainGrid::move(plain.widths, col, at);
            grid.insertColumn(at, std::move(column));
        } else if (op == 8) {
            const int at = pick(n + 1), count = pick(3);
            grid.insertEmptyRows(at, count);
            plain.cells.insert(plain.cells.begin() + at, static_cast<size_t>(count),
                               std::vector<QString>(static_cast<size_t>(c)));
            plain.contents.insert(plain.contents.begin() + at, static_cast<size_t>(count), QString());
        } else if (op == 9 && n > 0) {
            // A whole row at once, with more or fewer values than columns.
            const int row = pick(n);
            std::vector<QString> values(static_cast<size_t>(pick(c + 3)));
            std::generate(values.begin(), values.end(), text);
            const std::vector<QString> texts = textsOf(values);
            const std::vector<QStringView> views(texts.begin(), texts.end());
            const std::vector<bool> flags = emptyStringFlags(values);
            grid.setRowCells(row, views.data(), static_cast<int>(views.size()), &flags);
            values.resize(static_cast<size_t>(c));
            plain.cells[static_cast<size_t>(row)] = values;
        } else if (op == 10 && n > 0) {
            const int row = pick(n);
            const QString value = text();
            grid.setRowContent(row, value);
            plain.contents[static_cast<size_t>(row)] = value;
        } else if (op == 11) {
            // A row made outside the grid, cut or padded to the columns; it holds no empty string.
            std::vector<QString> values(static_cast<size_t>(pick(c + 3)));
            std::generate(values.begin(), values.end(), [&] { return textOf(text()); });
            const QString content = text();
            const int at = pick(n + 1);
            grid.insertRows(at, {TGridRow(values, content)});
            values.resize(static_cast<size_t>(c));
            plain.cells.insert(plain.cells.begin() + at, values);
            plain.contents.insert(plain.contents.begin() + at, content);
        } else if (op == 12 && n > 0 && c > 0) {
            // A block of a row's cells at once, running past the last column.
            const int row = pick(n), first = pick(c);
            std::vector<QString> values(static_cast<size_t>(1 + pick(c - first + 2)));
            std::generate(values.begin(), values.end(), text);
            const std::vector<QString> texts = textsOf(values);
            const std::vector<bool> flags = emptyStringFlags(values);
            grid.setCells(row, first, texts.data(), static_cast<int>(texts.size()), &flags);
            for (int i = 0; first + i < c && i < static_cast<int>(values.size()); ++i) {
                plain.cells[static_cast<size_t>(row)][static_cast<size_t>(first + i)] = values[static_cast<size_t>(i)];
            }
        }

        QCOMPARE(grid.colCount(), plain.cols);
        QCOMPARE(grid.rowCount(), static_cast<int>(plain.cells.size()));
        for (int col = 0; col < grid.colCount(); ++col) {
            QCOMPARE(grid.colWidth(col), plain.widths[static_cast<size_t>(col)]);
        }
        for (int r = 0; r < grid.rowCount(); ++r) {
            const auto& expected = plain.cells[static_cast<size_t>(r)];
            QCOMPARE(grid.row(r), textsOf(expected));
            QCOMPARE(grid.rowContent(r), plain.contents[static_cast<size_t>(r)]);
            for (int col = 0; col < grid.colCount(); ++col) {
                const QString& value = expected[static_cast<size_t>(col)];
                QCOMPARE(grid.cellView(col, r).toString(), textOf(value));
                QCOMPARE(grid.cell(col, r), textOf(value));
                QCOMPARE(grid.isEmptyString(col, r), isEmptyString(value));
            }
            // An empty string is a value: a row holding one is not blank.
            const int blankUpTo = pick(grid.colCount() + 1);
            QCOMPARE(grid.gridRow(r).isBlank(blankUpTo), std::all_of(expected.begin(), expected.begin() + blankUpTo,
                                                                     [](const QString& s) { return s.isEmpty(); }));
        }
    }
}

QTEST_GUILESS_MAIN(TestStringGrid)
#include "TestStringGrid.moc"
