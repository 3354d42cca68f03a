#include "FakeDialogs.h"
#include "TFailure.h"
#include "TWorkspace.h"

#include <QTest>

using namespace torvane;

namespace {

// Every character 7 pixels wide, so that column widths can be worked out by hand.
int fixedMeasure(const QString& text)
{
    return static_cast<int>(text.size()) * 7;
}

const QString StringItem = QStringLiteral("string（文字列）");
const QString I4Item = QStringLiteral("i4（４バイト整数）");

} // namespace

class TestWorkspace : public QObject {
    Q_OBJECT
private slots:
    void initialState();
    void fitFieldColumns_data();
    void fitFieldColumns();
    void addFieldGrowsTables();
    void addFieldRefusals_data();
    void addFieldRefusals();
    void dataColumnWidth_data();
    void dataColumnWidth();
    void widthNotAnInteger();
    void typeTextEntersTypeList();
    void changeField_data();
    void changeField();
    void changeWithoutFields();
    void loadRowIntoEditor();
    void typeCodeEntered();
    void keyLists();
    void keySelectionsDroppedOnRefill();
    void dataAdd_data();
    void dataAdd();
    void enterMovesDown();
    void moveDataColumn();
    void rowContentStaysWithItsRow();
    void fieldBatchLeavesWhatSingleAddsLeave();
};

void TestWorkspace::initialState()
{
    TWorkspace ws(fixedMeasure);
    ws.ResetWorkspace();
    // Design size: 763 - 226 - 100 - 79 - 7.
    QCOMPARE(ws.SG_Field().colWidth(FieldEtcColumn), 351);

    // A reset after work takes the fields with their rows, columns and key items: nothing counts them still.
    FakeDialogs dialogs;
    QVERIFY(ws.AddFieldRow(QStringLiteral("A"), I4Item, {}, {}, dialogs));
    QVERIFY(ws.AddFieldRow(QStringLiteral("B"), I4Item, {}, {}, dialogs));
    ws.setDataCell(0, 1, QStringLiteral("x"));
    ws.markDataEdited();
    ws.ResetWorkspace();
    QVERIFY(ws.FieldList().isEmpty() && !ws.NeedsRebuild());
    QCOMPARE(ws.SG_Field().rowCount(), 2);
    QVERIFY(ws.SG_Field().cell(FieldNameColumn, 1).isEmpty());
    QCOMPARE(ws.SG_Data().colCount(), 1);
    QVERIFY(ws.SG_Data().row(0) == std::vector<QString>(1) && ws.SG_Data().row(1) == std::vector<QString>(1));
    QCOMPARE(ws.LB_PriKey().count(), 0);
}

void TestWorkspace::fitFieldColumns_data()
{
    QTest::addColumn<int>("fields");
    QTest::addColumn<int>("height");
    QTest::addColumn<int>("expected");
    QTest::newRow("rows fit") << 3 << 141 << 351;
    QTest::newRow("rows exactly fill") << 8 << 144 << 351;
    QTest::newRow("one row too many") << 9 << 144 << 333;
    QTest::newRow("collapsed table") << 0 << 0 << 333;
}

void TestWorkspace::fitFieldColumns()
{
    QFETCH(int, fields);
    QFETCH(int, height);
    QFETCH(int, expected);
    TWorkspace ws(fixedMeasure);
    FakeDialogs dialogs;
    for (int i = 0; i < fields; ++i) {
        QVERIFY(ws.AddFieldRow(QStringLiteral("F%1").arg(i), I4Item, {}, {}, dialogs));
    }
    ws.setFieldTableSize(763, height);
    QCOMPARE(ws.SG_Field().colWidth(FieldEtcColumn), expected);
}

void TestWorkspace::addFieldGrowsTables()
{
    TWorkspace ws(fixedMeasure);
    FakeDialogs dialogs;
    QVERIFY(ws.B_FieldAddClick(QStringLiteral("ID"), I4Item, {}, QStringLiteral("10"), dialogs));
    QVERIFY(ws.NeedsRebuild());
    QCOMPARE(ws.SG_Field().rowCount(), 2);
    QCOMPARE(ws.SG_Data().colCount(), 1);
    QCOMPARE(ws.SG_Data().cell(0, 0), QStringLiteral("ID"));

    QVERIFY(ws.B_FieldAddClick(QStringLiteral("NAME"), StringItem, QStringLiteral("required=\"true\""),
                               QStringLiteral("20"), dialogs));
    QCOMPARE(ws.SG_Field().rowCount(), 3);
    QCOMPARE(ws.FieldCount(), 2);
    QCOMPARE(ws.FieldList(), QStringList({"ID", "NAME"}));
    QCOMPARE(ws.SG_Data().colCount(), 2);
    QCOMPARE(ws.SG_Data().cell(1, 0), QStringLiteral("NAME"));
    QCOMPARE(ws.SG_Field().cell(FieldTypeColumn, 2), StringItem);
    QCOMPARE(ws.SG_Field().cell(FieldEtcColumn, 2), QStringLiteral("required=\"true\""));
    QCOMPARE(ws.SG_Field().cell(FieldWidthColumn, 2), QStringLiteral("20"));
    QCOMPARE(ws.LB_PriKey().items(), ws.FieldList());
    QCOMPARE(ws.LB_DefOrder().items(), ws.FieldList());
    QVERIFY(dialogs.informed.isEmpty());
}

void TestWorkspace::addFieldRefusals_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("typeChosen");
    QTest::addColumn<QString>("message");
    QTest::newRow("same name in other case") << "ID" << true << "フィールド名が既にあるか不正な名前です";
    QTest::newRow("empty name") << "" << true << "フィールド名が既にあるか不正な名前です";
    QTest::newRow("no type chosen") << "NEW" << false << "データの型を選択してください";
    QTest::newRow("no type and taken name") << "id" << false << "データの型を選択してください";
}

void TestWorkspace::addFieldRefusals()
{
    QFETCH(QString, name);
    QFETCH(bool, typeChosen);
    QFETCH(QString, message);
    TWorkspace ws(fixedMeasure);
    FakeDialogs dialogs;
    QVERIFY(ws.AddFieldRow(QStringLiteral("id"), I4Item, {}, {}, dialogs));
    ws.setKeySelected(TKeyKind::PrimaryKey, 0, true);
    ws.rebuilt();

    const std::optional<QString> type = typeChosen ? std::optional<QString>(StringItem) : std::nullopt;
    QVERIFY(!ws.B_FieldAddClick(name, type, {}, QStringLiteral("10"), dialogs));
    QCOMPARE(dialogs.informed, QStringList{message});
    QVERIFY(ws.NeedsRebuild());
    QCOMPARE(ws.FieldCount(), 1);
    QCOMPARE(ws.FieldList(), QStringList{"id"});
    QCOMPARE(ws.SG_Data().colCount(), 1);
    QVERIFY(ws.LB_PriKey().isSelected(0));
}

void TestWorkspace::dataColumnWidth_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("width");
    QTest::addColumn<int>("onAdd");
    QTest::addColumn<int>("onChange");
    // Names measure 7 px a character; the column is a = width * 8 unless the name needs more (t + 5).
    QTest::newRow("width 10, short name") << "ID"
                                          << "10" << 80 << 80;
    QTest::newRow("width 10, long name") << "ABCDEFGHIJKL"
                                         << "10" << 89 << 89;
    QTest::newRow("empty width") << "NAME"
                                 << "" << 33 << 33;
    QTest::newRow("empty width, one letter") << "A"
                                             << "" << 12 << 12;
    QTest::newRow("empty name width below 10") << ""
                                               << "" << 10 << 5;
    QTest::newRow("negative width") << "ID"
                                    << "-3" << 19 << 19;
    QTest::newRow("hex width") << "ID"
                               << "$10" << 128 << 128;
}

void TestWorkspace::dataColumnWidth()
{
    QFETCH(QString, name);
    QFETCH(QString, width);
    QFETCH(int, onAdd);
    QFETCH(int, onChange);
    // The empty name cannot be added or set through the buttons; measure it through a 0-px fake instead.
    TWorkspace ws(name.isEmpty() ? TTextMeasure([](const QString&) { return 0; }) : TTextMeasure(fixedMeasure));
    FakeDialogs dialogs;
    const QString fieldName = name.isEmpty() ? QStringLiteral("X") : name;
    QVERIFY(ws.AddFieldRow(fieldName, I4Item, {}, width, dialogs));
    QCOMPARE(ws.SG_Data().colWidth(0), onAdd);
    QVERIFY(ws.B_FieldSetClick(1, fieldName, I4Item, {}, width, dialogs));
    QCOMPARE(ws.SG_Data().colWidth(0), onChange);
}

void TestWorkspace::widthNotAnInteger()
{
    TWorkspace ws(fixedMeasure);
    FakeDialogs dialogs;
    // The header row alone fits: a refit with the field added would take off the scroll bar's 18 px.
    ws.setFieldTableSize(763, TWorkspace::DefaultRowHeight);
    const int fitted = ws.SG_Field().colWidth(FieldEtcColumn);
    try {
        ws.B_FieldAddClick(QStringLiteral("PRICE"), I4Item, {}, QStringLiteral("1.5"), dialogs);
        QFAIL("no failure");
    } catch (const TFailure& failure) {
        QCOMPARE(failure.message(), QStringLiteral("'1.5' は整数ではありません"));
        QCOMPARE(errorBoxText(failure.message()), QStringLiteral("'1.5' は整数ではありません."));
    }
    // The field is added all the same; its column keeps the default width and the columns are not refit.
    QCOMPARE(ws.FieldList(), QStringList{"PRICE"});
    QCOMPARE(ws.FieldCount(), 1);
    QCOMPARE(ws.SG_Field().cell(FieldWidthColumn, 1), QStringLiteral("1.5"));
    QCOMPARE(ws.SG_Data().cell(0, 0), QStringLiteral("PRICE"));
    QCOMPARE(ws.SG_Data().colWidth(0), 100);
    QCOMPARE(ws.SG_Field().colWidth(FieldEtcColumn), fitted);
}

void TestWorkspace::typeTextEntersTypeList()
{
    TWorkspace ws(fixedMeasure);
    FakeDialogs dialogs;
    QVERIFY(ws.AddFieldRow(QStringLiteral("A"), QStringLiteral("string"), {}, {}, dialogs));
    QVERIFY(ws.AddFieldRow(QStringLiteral("B"), QStringLiteral("STRING"), {}, {}, dialogs));
    QVERIFY(ws.AddFieldRow(QStringLiteral("C"), QStringLiteral("I4（４バイト整数）"), {}, {}, dialogs));
    QCOMPARE(ws.typeList().size(), 11);
    QCOMPARE(ws.typeList().last(), QStringLiteral("string"));
}

void TestWorkspace::changeField_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("typeChosen");
    QTest::addColumn<QString>("message");
    QTest::newRow("other field's name") << 2 << "ID" << true << "フィールド名を入力してください";
    QTest::newRow("other field's name, other case") << 2 << "id" << true << "フィールド名を入力してください";
    QTest::newRow("empty name") << 1 << "" << true << "フィールド名を入力してください";
    QTest::newRow("no type chosen") << 1 << "ID" << false << "データの型を選択してください";
    QTest::newRow("own name, other case") << 2 << "name" << true << "";
    QTest::newRow("new name") << 1 << "CODE" << true << "";
}

void TestWorkspace::changeField()
{
    QFETCH(int, row);
    QFETCH(QString, name);
    QFETCH(bool, typeChosen);
    QFETCH(QString, message);
    TWorkspace ws(fixedMeasure);
    FakeDialogs dialogs;
    QVERIFY(ws.AddFieldRow(QStringLiteral("ID"), I4Item, {}, {}, dialogs));
    QVERIFY(ws.AddFieldRow(QStringLiteral("NAME"), StringItem, {}, {}, dialogs));
    ws.setDataCell(1, 1, QStringLiteral("Apple"));
    ws.setKeySelected(TKeyKind::DefaultOrder, 1, true);
    const int types = ws.typeList().size();
    const QStringList before = ws.FieldList();

    const std::optional<QString> type =
        typeChosen ? std::optional<QString>(QStringLiteral("r8（１５桁実数）")) : std::nullopt;
    const bool done = ws.B_FieldSetClick(row, name, type, QStringLiteral("x=\"1\""), QStringLiteral("4"), dialogs);
    QVERIFY(ws.NeedsRebuild());
    QCOMPARE(ws.typeList().size(), types);
    QCOMPARE(ws.SG_Data().cell(1, 1), QStringLiteral("Apple"));
    if (!message.isEmpty()) {
        QVERIFY(!done);
        QCOMPARE(dialogs.informed, QStringList{message});
        QCOMPARE(ws.FieldList(), before);
        QVERIFY(ws.LB_DefOrder().isSelected(1));
        return;
    }
    QVERIFY(done);
    QVERIFY(dialogs.informed.isEmpty());
    QCOMPARE(ws.FieldList()[row - 1], name);
    QCOMPARE(ws.SG_Field().cell(FieldNameColumn, row), name);
    QCOMPARE(ws.SG_Field().cell(FieldTypeColumn, row), QStringLiteral("r8（１５桁実数）"));
    QCOMPARE(ws.SG_Field().cell(FieldEtcColumn, row), QStringLiteral("x=\"1\""));
    QCOMPARE(ws.SG_Field().cell(FieldWidthColumn, row), QStringLiteral("4"));
    QCOMPARE(ws.SG_Data().cell(row - 1, 0), name);
    QCOMPARE(ws.LB_DefOrder().items(), ws.FieldList());
    QVERIFY(!ws.LB_DefOrder().isSelected(1));
}

void TestWorkspace::changeWithoutFields()
{
    TWorkspace ws(fixedMeasure);
    FakeDialogs dialogs;
    try {
        ws.B_FieldSetClick(1, QStringLiteral("A"), I4Item, {}, QStringLiteral("10"), dialogs);
        QFAIL("no failure");
    } catch (const TFailure& failure) {
        QCOMPARE(failure.message(), QStringLiteral("リストのインデックスが範囲を超えています (0)"));
        // ")" sorts before ".", so the error box shows it as it is.
        QCOMPARE(errorBoxText(failure.message()), failure.message());
    }
    QVERIFY(ws.NeedsRebuild());
    QVERIFY(ws.FieldList().isEmpty());
    QVERIFY(ws.SG_Field().cell(FieldNameColumn, 1).isEmpty());
}

void TestWorkspace::loadRowIntoEditor()
{
    TWorkspace ws(fixedMeasure);
    FakeDialogs dialogs;
    QVERIFY(ws.AddFieldRow(QStringLiteral("ID"), I4Item, QStringLiteral("a=\"b\""), QStringLiteral("7"), dialogs));
    QVERIFY(ws.AddFieldRow(QStringLiteral("D"), QStringLiteral("date"), {}, {}, dialogs));
    // A type text the type list lacks (an add would have put it in the list).
    QVERIFY(ws.B_FieldSetClick(2, QStringLiteral("D"), QStringLiteral("unknown"), {}, {}, dialogs));
    ws.rebuilt();

    const TFieldEditorContent first = ws.SG_FieldClick(1);
    QCOMPARE(first.name, QStringLiteral("ID"));
    QCOMPARE(first.typeIndex, std::optional<int>(1));
    QCOMPARE(first.etc, QStringLiteral("a=\"b\""));
    QCOMPARE(first.width, QStringLiteral("7"));
    QVERIFY(!ws.SG_FieldClick(2).typeIndex.has_value());
    QVERIFY(!ws.NeedsRebuild());
}

void TestWorkspace::typeCodeEntered()
{
    TWorkspace ws(fixedMeasure);
    FakeDialogs dialogs;
    QCOMPARE(ws.CB_FieldTypeKeyDown(VK_RETURN + 1, QStringLiteral("date"), dialogs), std::nullopt);
    QVERIFY(dialogs.questions.isEmpty());

    dialogs.confirmAnswers = {false, true, true, true};
    QCOMPARE(ws.CB_FieldTypeKeyDown(VK_RETURN, QStringLiteral("date"), dialogs), std::nullopt);
    QCOMPARE(ws.typeList().size(), 10);
    QCOMPARE(ws.CB_FieldTypeKeyDown(VK_RETURN, QStringLiteral("date"), dialogs), std::optional<int>(10));
    QCOMPARE(ws.typeList().last(), QStringLiteral("date"));
    QCOMPARE(ws.CB_FieldTypeKeyDown(VK_RETURN, QStringLiteral("date"), dialogs), std::nullopt);
    QCOMPARE(ws.CB_FieldTypeKeyDown(VK_RETURN, QStringLiteral("DATE"), dialogs), std::nullopt);
    QCOMPARE(dialogs.questions.size(), 4);
    QCOMPARE(dialogs.questions.first(), QStringLiteral("入力されている単語はデータ形式文字ですか？"));
    QCOMPARE(dialogs.informed, QStringList({"既にあります", "既にあります"}));
    QCOMPARE(ws.typeList().size(), 11);
    QVERIFY(!ws.NeedsRebuild());
}

void TestWorkspace::keyLists()
{
    TWorkspace ws(fixedMeasure);
    FakeDialogs dialogs;
    ws.B_PriKeyClick(13, dialogs);
    QCOMPARE(dialogs.informed, QStringList{"フィールドがありません"});
    QVERIFY(!ws.LB_PriKey().isShown());
    QVERIFY(ws.NeedsRebuild());

    for (const char* name : {"A", "B", "C"}) {
        QVERIFY(ws.AddFieldRow(QString::fromLatin1(name), I4Item, {}, {}, dialogs));
    }
    ws.rebuilt();
    ws.B_DefOrderClick(13, dialogs);
    QVERIFY(ws.LB_DefOrder().isShown());
    QCOMPARE(ws.LB_DefOrder().height(), 3 * 13 + 5);
    QCOMPARE(ws.LB_DefOrder().caption(), QStringLiteral("選択終了"));
    QVERIFY(!ws.LB_PriKey().isShown());
    QVERIFY(ws.NeedsRebuild());

    ws.rebuilt();
    ws.B_DefOrderClick(13, dialogs);
    QVERIFY(!ws.LB_DefOrder().isShown());
    QCOMPARE(ws.LB_DefOrder().caption(), QStringLiteral("並べ順キー選択"));
    QVERIFY(ws.NeedsRebuild());
    QCOMPARE(dialogs.informed.size(), 1);
}

void TestWorkspace::keySelectionsDroppedOnRefill()
{
    TWorkspace ws(fixedMeasure);
    FakeDialogs dialogs;
    for (const char* name : {"A", "B", "C"}) {
        QVERIFY(ws.AddFieldRow(QString::fromLatin1(name), I4Item, {}, {}, dialogs));
    }
    ws.setKeySelected(TKeyKind::DefaultOrder, 2, true);
    ws.setKeySelected(TKeyKind::DefaultOrder, 0, true);
    QCOMPARE(ws.LB_DefOrder().selectedPositions(3), std::vector<int>({1, 3}));
    QVERIFY(ws.AddFieldRow(QStringLiteral("D"), I4Item, {}, {}, dialogs));
    QVERIFY(ws.LB_DefOrder().selectedPositions(4).empty());

    ws.setKeySelected(TKeyKind::PrimaryKey, 1, true);
    QVERIFY(ws.B_FieldSetClick(2, QStringLiteral("b"), I4Item, {}, {}, dialogs));
    QVERIFY(ws.LB_PriKey().selectedPositions(4).empty());
}

void TestWorkspace::dataAdd_data()
{
    QTest::addColumn<int>("fields");
    QTest::addColumn<int>("filledColumn");
    QTest::addColumn<bool>("added");
    QTest::newRow("no fields") << 0 << -1 << false;
    QTest::newRow("no fields, cell typed") << 0 << 0 << false;
    QTest::newRow("empty last record") << 2 << -1 << false;
    QTest::newRow("first cell filled") << 2 << 0 << true;
    QTest::newRow("second cell filled") << 2 << 1 << true;
}

void TestWorkspace::dataAdd()
{
    QFETCH(int, fields);
    QFETCH(int, filledColumn);
    QFETCH(bool, added);
    TWorkspace ws(fixedMeasure);
    FakeDialogs dialogs;
    for (int i = 0; i < fields; ++i) {
        QVERIFY(ws.AddFieldRow(QStringLiteral("F%1").arg(i), I4Item, {}, {}, dialogs));
    }
    if (filledColumn >= 0) {
        ws.setDataCell(filledColumn, 1, QStringLiteral(" "));
    }
    ws.rebuilt();
    QCOMPARE(ws.B_DataAddClick(), added);
    QVERIFY(ws.NeedsRebuild());
    QCOMPARE(ws.SG_Data().rowCount(), added ? 3 : 2);
    if (added) {
        QVERIFY(ws.SG_Data().cell(0, 2).isEmpty());
        QVERIFY(!ws.B_DataAddClick());
    }
}

void TestWorkspace::enterMovesDown()
{
    TWorkspace ws(fixedMeasure);
    ws.setDataRowCount(4);
    QCOMPARE(ws.SG_DataKeyDown(VK_RETURN, 1), 2);
    QCOMPARE(ws.SG_DataKeyDown(VK_RETURN, 3), 3);
    QCOMPARE(ws.SG_DataKeyDown(9, 1), 1);
}

void TestWorkspace::moveDataColumn()
{
    TWorkspace ws(fixedMeasure);
    FakeDialogs dialogs;
    QVERIFY(ws.AddFieldRow(QStringLiteral("A"), I4Item, {}, QStringLiteral("10"), dialogs));
    QVERIFY(ws.AddFieldRow(QStringLiteral("B"), I4Item, {}, QStringLiteral("20"), dialogs));
    QVERIFY(ws.AddFieldRow(QStringLiteral("C"), I4Item, {}, QStringLiteral("30"), dialogs));
    ws.setDataCell(0, 1, QStringLiteral("a1"));
    ws.setDataCell(2, 1, QStringLiteral("c1"));
    ws.moveDataColumn(2, 0);
    QCOMPARE(ws.SG_Data().cell(0, 0), QStringLiteral("C"));
    QCOMPARE(ws.SG_Data().cell(0, 1), QStringLiteral("c1"));
    QCOMPARE(ws.SG_Data().colWidth(0), 240);
    QCOMPARE(ws.SG_Data().cell(1, 0), QStringLiteral("A"));
    QCOMPARE(ws.SG_Data().cell(1, 1), QStringLiteral("a1"));
    QCOMPARE(ws.SG_Data().colWidth(1), 80);
    QCOMPARE(ws.SG_Data().cell(2, 0), QStringLiteral("B"));
    QCOMPARE(ws.FieldList(), QStringList({"A", "B", "C"}));
    ws.moveDataColumn(0, 2);
    QCOMPARE(ws.SG_Data().cell(2, 1), QStringLiteral("c1"));
    QCOMPARE(ws.SG_Data().cell(0, 0), QStringLiteral("A"));
}

void TestWorkspace::rowContentStaysWithItsRow()
{
    TStringGrid grid(2, 3, 100);
    QCOMPARE(grid.rowContent(2), QString());
    grid.setRowContent(1, QStringLiteral("<A/>"));
    grid.setRowContent(2, QStringLiteral("<B/>"));
    grid.moveColumn(0, 1);
    grid.setColCount(5);
    grid.setRowCount(4);
    QCOMPARE(QStringList({grid.rowContent(1), grid.rowContent(2), grid.rowContent(3)}),
             QStringList({QStringLiteral("<A/>"), QStringLiteral("<B/>"), QString()}));
    grid.setRowCount(2);
    grid.setRowCount(3);
    QCOMPARE(grid.rowContent(2), QString());
    grid.clearRows(1);
    QCOMPARE(grid.rowContent(1), QString());
}

void TestWorkspace::fieldBatchLeavesWhatSingleAddsLeave()
{
    // Names that letter case alone tells apart, in the forms case folding treats specially.
    const QStringList names{QStringLiteral("id"),
                            QStringLiteral("ID"),
                            QStringLiteral("Straße"),
                            QStringLiteral("STRASSE"),
                            QStringLiteral("strasse"),
                            QStringLiteral("ΣΊΣΥΦΟΣ"),
                            QStringLiteral("σίσυφος"),
                            QStringLiteral("ſ"),
                            QStringLiteral("S"),
                            QStringLiteral("\u212A"),
                            QStringLiteral("k"),
                            QStringLiteral("Ａ"),
                            QStringLiteral("ａ"),
                            QStringLiteral("A"),
                            QStringLiteral("𐐀"),
                            QStringLiteral("𐐨"),
                            QString()};
    const auto addAll = [&](TWorkspace& ws, FakeDialogs& dialogs) {
        QVERIFY(ws.AddFieldRow(QStringLiteral("KEPT"), I4Item, {}, {}, dialogs));
        ws.setKeySelected(TKeyKind::PrimaryKey, 0, true);
        for (const QString& name : names) {
            ws.AddFieldRow(name, StringItem, {}, {}, dialogs);
        }
    };
    TWorkspace single(fixedMeasure);
    FakeDialogs singleDialogs;
    addAll(single, singleDialogs);
    TWorkspace batched(fixedMeasure);
    FakeDialogs batchedDialogs;
    {
        const TWorkspace::TFieldBatch batch(batched);
        addAll(batched, batchedDialogs);
        // Until the batch closes the key lists keep what they had.
        QCOMPARE(batched.LB_PriKey().count(), 0);
    }
    QCOMPARE(batched.FieldList(), single.FieldList());
    QCOMPARE(batched.SG_Data().row(0), single.SG_Data().row(0));
    QCOMPARE(batchedDialogs.informed, singleDialogs.informed);
    QCOMPARE(batched.LB_PriKey().items(), single.LB_PriKey().items());
    QCOMPARE(batched.LB_DefOrder().items(), single.LB_DefOrder().items());
    QVERIFY(!batched.LB_PriKey().isSelected(0));
    QVERIFY(single.FieldList().contains(QStringLiteral("Ａ")) && !single.FieldList().contains(QStringLiteral("ａ")));

    // A batch that adds nothing leaves the key lists' items and selections alone.
    single.setKeySelected(TKeyKind::DefaultOrder, 1, true);
    {
        const TWorkspace::TFieldBatch batch(single);
        single.AddFieldRow(QStringLiteral("kept"), I4Item, {}, {}, singleDialogs);
    }
    QVERIFY(single.LB_DefOrder().isSelected(1));
}

QTEST_GUILESS_MAIN(TestWorkspace)
#include "TestWorkspace.moc"
