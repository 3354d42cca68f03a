#include "FakeDialogs.h"
#include "TWorkspace.h"

#include <QTest>

#include <functional>

using namespace torvane;

namespace {

using Rows = std::vector<std::vector<QString>>;

// Everything the writer reads, as text, so that "put back as it was" is one comparison.
QStringList snapshot(const TWorkspace& ws)
{
    QStringList out{ws.FieldList().join(u'|'), QString::number(ws.FieldCount())};
    for (const TStringGrid* grid : {&ws.SG_Field(), &ws.SG_Data()}) {
        for (int r = 0; r < grid->rowCount(); ++r) {
            const std::vector<QString> row = grid->row(r);
            out.append(QStringList(row.begin(), row.end()).join(u'|'));
        }
        for (int c = 0; c < grid->colCount(); ++c) {
            out.append(QString::number(grid->colWidth(c)));
        }
    }
    for (const TKeyList* keys : {&ws.LB_PriKey(), &ws.LB_DefOrder()}) {
        out.append(keys->items().join(u'|'));
        for (const int p : keys->selectedPositions(keys->count())) {
            out.append(QString::number(p));
        }
    }
    return out;
}

// Fields A (width 10), B (20), C (30); rows "a1 b1 c1" .. "a4 b4 c4"; primary key A and C, order key B.
void fill(TWorkspace& ws)
{
    FakeDialogs dialogs;
    for (const char* name : {"A", "B", "C"}) {
        const QString width = QString::number((name[0] - 'A' + 1) * 10);
        QVERIFY(ws.AddFieldRow(QString::fromLatin1(name), QStringLiteral("string（文字列）"), {}, width, dialogs));
    }
    ws.setDataRowCount(5);
    for (int r = 1; r <= 4; ++r) {
        for (int c = 0; c < 3; ++c) {
            ws.setDataCell(c, r, QStringLiteral("%1%2").arg(QChar(u'a' + c)).arg(r));
        }
    }
    ws.setKeySelected(TKeyKind::PrimaryKey, 0, true);
    ws.setKeySelected(TKeyKind::PrimaryKey, 2, true);
    ws.setKeySelected(TKeyKind::DefaultOrder, 1, true);
    ws.rebuilt();
}

QStringList column(const TWorkspace& ws, int c)
{
    QStringList values;
    for (int r = 1; r < ws.SG_Data().rowCount(); ++r) {
        values.append(ws.SG_Data().cell(c, r));
    }
    return values;
}

// The data cells that hold an empty string, as "column,row", row by row.
QStringList emptyStrings(const TWorkspace& ws)
{
    QStringList cells;
    for (int r = 1; r < ws.SG_Data().rowCount(); ++r) {
        for (int c = 0; c < ws.SG_Data().colCount(); ++c) {
            if (ws.SG_Data().isEmptyString(c, r)) {
                cells.append(QStringLiteral("%1,%2").arg(c).arg(r));
            }
        }
    }
    return cells;
}

QString positions(const TKeyList& keys)
{
    QStringList out;
    for (const int p : keys.selectedPositions(keys.count())) {
        out.append(QString::number(p));
    }
    return out.join(u' ');
}

} // namespace

class TestDataEdits : public QObject {
    Q_OBJECT
private slots:
    void dataRows_data();
    void dataRows();
    void planPaste_data();
    void planPaste();
    void swapDataCells();
    void deleteField_data();
    void deleteField();
    void moveField_data();
    void moveField();
    void emptyStringsMoveWithTheirCells_data();
    void emptyStringsMoveWithTheirCells();
};

void TestDataEdits::dataRows_data()
{
    QTest::addColumn<QString>("operation");
    QTest::addColumn<int>("first");
    QTest::addColumn<int>("count");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("insert above row 2") << "insert" << 2 << 1 << QStringList{"a1", "", "a2", "a3", "a4"};
    QTest::newRow("insert above row 1") << "insert" << 1 << 1 << QStringList{"", "a1", "a2", "a3", "a4"};
    QTest::newRow("duplicate rows 2-3") << "duplicate" << 2 << 2 << QStringList{"a1", "a2", "a3", "a2", "a3", "a4"};
    QTest::newRow("duplicate last row") << "duplicate" << 4 << 1 << QStringList{"a1", "a2", "a3", "a4", "a4"};
    QTest::newRow("delete rows 2-3") << "delete" << 2 << 2 << QStringList{"a1", "a4"};
    QTest::newRow("delete every row keeps one") << "delete" << 1 << 4 << QStringList{""};
}

void TestDataEdits::dataRows()
{
    QFETCH(QString, operation);
    QFETCH(int, first);
    QFETCH(int, count);
    QFETCH(QStringList, expected);
    TWorkspace ws;
    fill(ws);
    const QStringList before = snapshot(ws);

    TRemovedRows removed;
    if (operation == QLatin1String("insert")) {
        ws.insertEmptyDataRows(first, count);
    } else if (operation == QLatin1String("duplicate")) {
        ws.insertDataRows(first + count, ws.copyDataRows(first, count));
    } else {
        removed = ws.removeDataRows(first, count);
    }
    QCOMPARE(column(ws, 0), expected);
    QCOMPARE(column(ws, 2).size(), expected.size());
    QVERIFY(ws.needsWrite());
    QVERIFY(!ws.needsRead());

    // Each has its inverse.
    if (operation == QLatin1String("delete")) {
        ws.restoreDataRows(std::move(removed));
    } else {
        ws.removeDataRows(operation == QLatin1String("insert") ? first : first + count, count);
    }
    QCOMPARE(snapshot(ws), before);
}

void TestDataEdits::planPaste_data()
{
    QTest::addColumn<Rows>("values");
    QTest::addColumn<QRect>("target");
    QTest::addColumn<int>("columns");
    QTest::addColumn<QRect>("block");
    QTest::addColumn<QString>("bottomRight");
    const Rows block3x2{{"1", "2", "3"}, {"4", "5", "6"}};
    QTest::newRow("block at the cell") << block3x2 << QRect(1, 2, 1, 1) << 5 << QRect(1, 2, 3, 2) << "6";
    QTest::newRow("block onto a selection") << block3x2 << QRect(0, 1, 2, 5) << 5 << QRect(0, 1, 3, 2) << "6";
    QTest::newRow("cut at the last field") << block3x2 << QRect(3, 1, 1, 1) << 5 << QRect(3, 1, 2, 2) << "5";
    QTest::newRow("past the last field") << block3x2 << QRect(5, 1, 1, 1) << 5 << QRect(5, 1, 0, 0) << "";
    QTest::newRow("one value fills the selection") << Rows{{"v"}} << QRect(1, 2, 2, 3) << 5 << QRect(1, 2, 2, 3) << "v";
    QTest::newRow("short rows padded") << Rows{{"a", "b"}, {"c"}} << QRect(0, 1, 1, 1) << 5 << QRect(0, 1, 2, 2) << "";
}

void TestDataEdits::planPaste()
{
    QFETCH(Rows, values);
    QFETCH(QRect, target);
    QFETCH(int, columns);
    QFETCH(QRect, block);
    QFETCH(QString, bottomRight);
    const TCellBlock planned = torvane::planPaste(values, target, columns);
    QCOMPARE(QRect(planned.col, planned.row, planned.width(), planned.height()), block);
    for (const auto& row : planned.values) {
        QCOMPARE(static_cast<int>(row.size()), block.width());
    }
    if (!planned.values.empty()) {
        QCOMPARE(planned.values.back().back(), bottomRight);
    }
}

void TestDataEdits::swapDataCells()
{
    TWorkspace ws;
    fill(ws);
    const QStringList before = snapshot(ws);
    // Two columns by three rows from (B, row 3): the last row and the third column lie past the table.
    TCellBlock block;
    block.col = 1;
    block.row = 3;
    block.values = {{"x", "y", "z"}, {"", "w", "z"}, {"past", "past", "past"}};
    TCellBlock previous = ws.swapDataCells(block);
    QCOMPARE(column(ws, 1), (QStringList{"b1", "b2", "x", ""}));
    QCOMPARE(column(ws, 2), (QStringList{"c1", "c2", "y", "w"}));
    QCOMPARE(ws.SG_Data().rowCount(), 5);
    QCOMPARE(QRect(previous.col, previous.row, previous.width(), previous.height()), QRect(1, 3, 2, 2));
    QVERIFY(ws.needsWrite());
    ws.swapDataCells(std::move(previous));
    QCOMPARE(snapshot(ws), before);
}

void TestDataEdits::deleteField_data()
{
    QTest::addColumn<int>("number");
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QStringList>("firstRow");
    QTest::addColumn<QString>("primaryKey");
    QTest::addColumn<QString>("defaultOrder");
    QTest::newRow("first, a key field") << 1 << QStringList{"B", "C"} << QStringList{"b1", "c1"} << "2"
                                        << "1";
    QTest::newRow("middle, the order key") << 2 << QStringList{"A", "C"} << QStringList{"a1", "c1"} << "1 2"
                                           << "";
    QTest::newRow("last") << 3 << QStringList{"A", "B"} << QStringList{"a1", "b1"} << "1"
                          << "2";
    QTest::newRow("no such field") << 4 << QStringList{"A", "B", "C"} << QStringList{"a1", "b1", "c1"} << "1 3"
                                   << "2";
}

void TestDataEdits::deleteField()
{
    QFETCH(int, number);
    QFETCH(QStringList, names);
    QFETCH(QStringList, firstRow);
    QFETCH(QString, primaryKey);
    QFETCH(QString, defaultOrder);
    TWorkspace ws;
    fill(ws);
    const QStringList before = snapshot(ws);
    TRemovedField removed = ws.deleteField(number);
    QVERIFY(ws.needsWrite());
    QCOMPARE(ws.FieldList(), names);
    QCOMPARE(ws.FieldCount(), names.size());
    QCOMPARE(ws.SG_Field().rowCount(), names.size() + 1);
    QCOMPARE(ws.SG_Data().colCount(), names.size());
    QCOMPARE(ws.LB_PriKey().items(), names);
    QCOMPARE(ws.LB_DefOrder().items(), names);
    for (int i = 0; i < names.size(); ++i) {
        QCOMPARE(ws.SG_Field().cell(FieldNameColumn, i + 1), names[i]);
        QCOMPARE(ws.SG_Data().cell(i, 0), names[i]);
        QCOMPARE(ws.SG_Data().cell(i, 1), firstRow[i]);
        QCOMPARE(ws.SG_Data().colWidth(i), (names[i][0].unicode() - u'A' + 1) * 80);
        QCOMPARE(ws.SG_Field().cell(FieldWidthColumn, i + 1), QString::number((names[i][0].unicode() - u'A' + 1) * 10));
    }
    QCOMPARE(positions(ws.LB_PriKey()), primaryKey);
    QCOMPARE(positions(ws.LB_DefOrder()), defaultOrder);
    QCOMPARE(removed.number, number <= 3 ? number : 0);

    ws.restoreField(std::move(removed));
    QCOMPARE(snapshot(ws), before);

    // Deleting every field leaves the tables as at start-up, one empty row and column; undone in turn,
    // everything comes back.
    std::vector<TRemovedField> all;
    while (ws.FieldCount() > 0) {
        all.push_back(ws.deleteField(1));
    }
    QCOMPARE(ws.SG_Field().rowCount(), 2);
    QCOMPARE(ws.SG_Field().cell(FieldNameColumn, 1), QString());
    QCOMPARE(ws.SG_Data().colCount(), 1);
    QCOMPARE(ws.SG_Data().cell(0, 0), QString());
    QCOMPARE(column(ws, 0), (QStringList{"", "", "", ""}));
    QCOMPARE(ws.LB_PriKey().count(), 0);
    while (!all.empty()) {
        ws.restoreField(std::move(all.back()));
        all.pop_back();
    }
    QCOMPARE(snapshot(ws), before);
}

void TestDataEdits::moveField_data()
{
    QTest::addColumn<int>("number");
    QTest::addColumn<int>("to");
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QString>("primaryKey");
    QTest::addColumn<QString>("defaultOrder");
    QTest::newRow("first down") << 1 << 2 << QStringList{"B", "A", "C"} << "2 3"
                                << "1";
    QTest::newRow("last up") << 3 << 2 << QStringList{"A", "C", "B"} << "1 2"
                             << "3";
    QTest::newRow("first to last") << 1 << 3 << QStringList{"B", "C", "A"} << "2 3"
                                   << "1";
    QTest::newRow("up from the top") << 1 << 0 << QStringList{"A", "B", "C"} << "1 3"
                                     << "2";
    QTest::newRow("down from the bottom") << 3 << 4 << QStringList{"A", "B", "C"} << "1 3"
                                          << "2";
}

void TestDataEdits::moveField()
{
    QFETCH(int, number);
    QFETCH(int, to);
    QFETCH(QStringList, names);
    QFETCH(QString, primaryKey);
    QFETCH(QString, defaultOrder);
    TWorkspace ws;
    fill(ws);
    const QStringList before = snapshot(ws);
    ws.moveField(number, to);
    QVERIFY(ws.needsWrite());
    QCOMPARE(ws.FieldList(), names);
    QCOMPARE(ws.LB_PriKey().items(), names);
    for (int i = 0; i < names.size(); ++i) {
        const int original = names[i][0].unicode() - u'A';
        QCOMPARE(ws.SG_Field().cell(FieldNameColumn, i + 1), names[i]);
        QCOMPARE(ws.SG_Field().cell(FieldWidthColumn, i + 1), QString::number((original + 1) * 10));
        QCOMPARE(ws.SG_Data().cell(i, 0), names[i]);
        QCOMPARE(ws.SG_Data().cell(i, 4), QStringLiteral("%1%2").arg(QChar(u'a' + original)).arg(4));
        QCOMPARE(ws.SG_Data().colWidth(i), (original + 1) * 80);
    }
    QCOMPARE(positions(ws.LB_PriKey()), primaryKey);
    QCOMPARE(positions(ws.LB_DefOrder()), defaultOrder);
    if (names != QStringList{"A", "B", "C"}) {
        ws.moveField(to, number);
    }
    QCOMPARE(snapshot(ws), before);
}

void TestDataEdits::emptyStringsMoveWithTheirCells_data()
{
    QTest::addColumn<QString>("operation");
    QTest::addColumn<QStringList>("expected");
    // Cells B2 and C4 hold empty strings, A3 no value.
    QTest::newRow("insert above row 2") << "insert" << QStringList{"1,3", "2,5"};
    QTest::newRow("duplicate rows 2-4") << "duplicate" << QStringList{"1,2", "2,4", "1,5", "2,7"};
    QTest::newRow("delete rows 1-2") << "delete" << QStringList{"2,2"};
    QTest::newRow("paste over B2") << "paste" << QStringList{"2,4"};
    QTest::newRow("empty strings set on A3:B3") << "set" << QStringList{"1,2", "0,3", "1,3", "2,4"};
    QTest::newRow("no value set on B2:C4") << "unset" << QStringList{};
    QTest::newRow("delete field B") << "deleteField" << QStringList{"1,4"};
    QTest::newRow("move field C first") << "moveField" << QStringList{"2,2", "0,4"};
    QTest::newRow("drag column B last") << "moveColumn" << QStringList{"2,2", "1,4"};
}

// Every edit that moves cells moves an empty string with its cell and keeps it apart from no value; each
// inverse puts it back.
void TestDataEdits::emptyStringsMoveWithTheirCells()
{
    QFETCH(QString, operation);
    QFETCH(QStringList, expected);
    TWorkspace ws;
    fill(ws);
    ws.setDataCell(1, 2, QString(), true);
    ws.setDataCell(2, 4, QString(), true);
    ws.setDataCell(0, 3, QString());
    const QStringList start{"1,2", "2,4"};
    QCOMPARE(emptyStrings(ws), start);
    const QStringList before = snapshot(ws);

    const auto block = [](int col, int row, int width, int height, bool emptyString) {
        TCellBlock cells = torvane::planPaste({{QString()}}, QRect(col, row, width, height), 3);
        cells.setEmptyStrings(emptyString);
        return cells;
    };
    std::function<void()> inverse;
    TRemovedRows removed;
    TRemovedField field;
    TCellBlock previous;
    if (operation == QLatin1String("insert")) {
        ws.insertEmptyDataRows(2, 1);
        inverse = [&] { ws.removeDataRows(2, 1); };
    } else if (operation == QLatin1String("duplicate")) {
        ws.insertDataRows(5, ws.copyDataRows(2, 3));
        inverse = [&] { ws.removeDataRows(5, 3); };
    } else if (operation == QLatin1String("delete")) {
        removed = ws.removeDataRows(1, 2);
        inverse = [&] { ws.restoreDataRows(std::move(removed)); };
    } else if (operation == QLatin1String("paste") || operation == QLatin1String("set") ||
               operation == QLatin1String("unset")) {
        TCellBlock cells = operation == QLatin1String("paste")
                               ? torvane::planPaste({{QStringLiteral("x")}}, QRect(1, 2, 1, 1), 3)
                           : operation == QLatin1String("set") ? block(0, 3, 2, 1, true)
                                                               : block(1, 2, 2, 3, false);
        previous = ws.swapDataCells(std::move(cells));
        inverse = [&] { ws.swapDataCells(std::move(previous)); };
    } else if (operation == QLatin1String("deleteField")) {
        field = ws.deleteField(2);
        inverse = [&] { ws.restoreField(std::move(field)); };
    } else if (operation == QLatin1String("moveField")) {
        ws.moveField(3, 1);
        inverse = [&] { ws.moveField(1, 3); };
    } else {
        ws.moveDataColumn(1, 2);
        inverse = [&] { ws.moveDataColumn(2, 1); };
    }
    QCOMPARE(emptyStrings(ws), expected);
    inverse();
    QCOMPARE(emptyStrings(ws), start);
    QCOMPARE(snapshot(ws), before);
    // A cell typed empty holds no value.
    ws.setDataCell(1, 2, QString());
    QCOMPARE(emptyStrings(ws), QStringList{"2,4"});
}

QTEST_GUILESS_MAIN(TestDataEdits)
#include "TestDataEdits.moc"
