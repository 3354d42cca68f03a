#include "FakeDialogs.h"
#include "TValueRules.h"
#include "TWorkspace.h"

#include <QTest>

using namespace torvane;

class TestValueRules : public QObject {
    Q_OBJECT

private slots:
    void values_data();
    void values();
    void workspace();
};

Q_DECLARE_METATYPE(TValueFault)

// A row per type and shape: the field (type text, other settings, width), the value (with "<empty>" for an
// empty string, "" for no value) and the fault expected.
void TestValueRules::values_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("etc");
    QTest::addColumn<QString>("width");
    QTest::addColumn<QString>("value");
    QTest::addColumn<TValueFault>("fault");
    using F = TValueFault;
    const auto row = [](const char* name, const char* type, const char* etc, const char* width, const char* value,
                        F fault) {
        QTest::newRow(name) << QString::fromUtf8(type) << QString::fromUtf8(etc) << QString::fromUtf8(width)
                            << QString::fromUtf8(value) << fault;
    };
    row("i4 list item", "i4（４バイト整数）", "", "", "-2147483648", F::None);
    row("i4 over", "i4", "", "", "2147483648", F::Shape);
    row("i4 comma", "i4", "", "", "1,250", F::Shape);
    row("i4 empty string", "i4", "", "", "<empty>", F::Shape);
    row("i4 missing", "i4", "", "", "", F::None);
    row("i2 list item", "i2(２バイト整数）", "", "", "-32769", F::Shape);
    row("i1", "i1", "", "", "127", F::None);
    row("i8 max", "i8", "", "", "9223372036854775807", F::None);
    row("i8 min", "i8", "", "", "-9223372036854775808", F::None);
    row("i8 under", "i8", "", "", "-9223372036854775809", F::Shape);
    row("ui1 minus", "ui1", "", "", "-1", F::Shape);
    row("ui2 over", "ui2", "", "", "65536", F::Shape);
    row("ui8 max", "ui8", "", "", "18446744073709551615", F::None);
    row("ui8 over", "ui8", "", "", "18446744073709551616", F::Shape);
    row("int list item", "int（数字）", "", "", "12", F::None);
    row("int sign only", "int", "", "", "-", F::Shape);
    row("r8 long", "r8", "", "", "2679.849999999999", F::None);
    row("r8 exponent", "r8", "", "", "1E-5", F::None);
    row("r8 comma", "r8（１５桁実数）", "", "", "1,250", F::Shape);
    row("r4 point only", "r4", "", "", "4.", F::Shape);
    row("float", "float（実数）", "", "", "-4.5e+10", F::None);
    row("fixed decimals", "fixed", "DECIMALS=\"2\"", "", "12.34", F::None);
    row("fixed too many", "fixed", "decimals='2'", "", "12.345", F::Shape);
    row("fixedFMT exponent", "fixedFMT", "", "", "1E5", F::Shape);
    row("boolean TRUE", "boolean", "", "", "TRUE", F::None);
    row("boolean 0", "boolean（０か１）", "", "", "0", F::None);
    row("boolean yes", "boolean", "", "", "yes", F::Shape);
    row("date", "date", "", "", "19880412", F::None);
    row("date dashes", "date", "", "", "2024-01-05", F::Shape);
    row("date 30 Feb", "date", "", "", "19880230", F::Shape);
    row("date leap", "date", "", "", "20000229", F::None);
    row("time", "time", "", "", "10:00:00000", F::None);
    row("time 24h", "time", "", "", "24:00:00000", F::Shape);
    row("time no ms", "time", "", "", "10:00:00", F::Shape);
    row("dateTime", "dateTime", "", "", "19880503T12:00:00000", F::None);
    row("dateTime date alone", "dateTime", "", "", "19880503", F::None);
    row("SQLdateTime space", "SQLdateTime", "", "", "19880503 12:00:00000", F::Shape);
    row("dateTime bad day", "dateTime", "", "", "19881303T12:00:00000", F::Shape);
    row("string within", "string（文字列）", "", "3", "abc", F::None);
    row("string surrogates", "string", "", "2", "𠀋𠀋", F::None);
    row("string too long", "string", "", "3", "abcd", F::TooLong);
    row("char no width", "char", "", "", "abcd", F::None);
    row("string required", "string", "required=\"true\"", "20", "", F::Required);
    row("string required empty string", "string", "SUBTYPE=\"Text\"\r\nrequired=\"TRUE\"", "20", "<empty>", F::None);
    row("not required", "string", "required=\"false\"", "20", "", F::None);
    row("bin.hex base64", "bin.hex", "SUBTYPE=\"Graphics\"", "10", "QUJD\r\nRA==", F::None);
    row("bin.hex not base64", "bin.hex", "", "", "AB*D", F::Shape);
    row("bin.hex padding inside", "bin.hex", "", "", "QQ==QUJD", F::Shape);
    row("bin.hex short", "bin.hex", "", "", "QUJ", F::Shape);
    row("bin.hex text", "bin.hex", "SUBTYPE=\"Text\"", "50", "any *text*", F::None);
    row("nested", "nested", "", "", "anything", F::None);
    row("typed code", "money", "", "", "anything", F::None);
    row("required nested", "nested", "required=\"true\"", "", "", F::Required);
}

void TestValueRules::values()
{
    QFETCH(QString, type);
    QFETCH(QString, etc);
    QFETCH(QString, width);
    QFETCH(QString, value);
    QFETCH(TValueFault, fault);
    const bool emptyString = value == QLatin1String("<empty>");
    const TValueRule rule = valueRuleOf(type, etc, width);
    const TValueFault found = checkValue(rule, emptyString ? QStringView() : QStringView(value), emptyString);
    QCOMPARE(found, fault);
    // Every fault says what was expected, in both languages.
    QCOMPARE(expectedText(rule, found, 1, true).isEmpty(), found == TValueFault::None);
    QCOMPARE(expectedText(rule, found, 1, false).isEmpty(), found == TValueFault::None);
}

// The whole table: faults in row and column order, a repeated primary key naming the first row holding it,
// and blank rows (written `<ROW/>`, no records) left out, the one standing in for no records among them.
void TestValueRules::workspace()
{
    TWorkspace ws;
    FakeDialogs dialogs;
    QVERIFY(ws.AddFieldRow(QStringLiteral("ID"), QStringLiteral("i4（４バイト整数）"), {}, {}, dialogs));
    QVERIFY(
        ws.AddFieldRow(QStringLiteral("CODE"), QStringLiteral("string（文字列）"), {}, QStringLiteral("2"), dialogs));
    QVERIFY(ws.AddFieldRow(QStringLiteral("DAY"), QStringLiteral("date"), QStringLiteral("required=\"true\""), {},
                           dialogs));
    ws.setKeySelected(TKeyKind::PrimaryKey, 0, true);
    ws.setKeySelected(TKeyKind::PrimaryKey, 1, true);
    const QStringList rows[] = {
        {"1", "A", "19880412"},   {"1", "B", "19880412"}, {"x", "A", ""},         {"1", "A", "19880412"},
        {"1", "ABC", "20240105"}, {"1", "B", "19880412"}, {"1", "A", "19880412"},
    };
    ws.setDataRowCount(10);
    for (int r = 0; r < 7; ++r) {
        for (int c = 0; c < 3; ++c) {
            ws.setDataCell(c, r + 1, rows[r][c]);
        }
    }
    QString found;
    for (const TValueProblem& p : checkValues(ws)) {
        found += QStringLiteral("%1:%2:%3:%4 ").arg(p.row).arg(p.column).arg(int(p.fault)).arg(p.otherRow);
    }
    QCOMPARE(found, QStringLiteral("3:0:1:0 3:2:2:0 4:0:4:1 5:1:3:0 6:0:4:2 7:0:4:1 "));

    // An empty string makes a row a record.
    ws.setDataCell(1, 9, QString(), true);
    QCOMPARE(checkValues(ws).back().row, 9);
    QCOMPARE(checkValues(ws).back().fault, TValueFault::Required);
}

QTEST_GUILESS_MAIN(TestValueRules)
#include "TestValueRules.moc"
