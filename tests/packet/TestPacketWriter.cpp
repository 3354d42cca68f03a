#include "FakeDialogs.h"
#include "TPacketWriter.h"

#include <QFile>
#include <QTest>
#include <QXmlStreamReader>

using namespace torvane;

namespace {

QString dataFile(const char* name)
{
    QFile file(QStringLiteral(TORVANE_TEST_DATA "/") + QString::fromLatin1(name));
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    return QString::fromUtf8(file.readAll());
}

QString lines(std::initializer_list<const char*> texts)
{
    QString out;
    for (const char* text : texts) {
        out += QString::fromUtf8(text) + QStringLiteral("\r\n");
    }
    return out;
}

// The workspace of the 14-line example, built through the same operations as the window.
void buildExample(TWorkspace& ws, FakeDialogs& dialogs)
{
    ws.ResetWorkspace();
    QVERIFY(ws.B_FieldAddClick(QStringLiteral("ID"), QStringLiteral("i4（４バイト整数）"), {}, {}, dialogs));
    QVERIFY(ws.B_FieldAddClick(QStringLiteral("NAME"), QStringLiteral("string（文字列）"),
                               QStringLiteral("required=\"true\""), QStringLiteral("20"), dialogs));
    ws.LB_DefOrder.setSelected(1, true);
    ws.LB_PriKey.setSelected(0, true);
    ws.SG_Data.setCell(0, 1, QStringLiteral("1"));
    ws.SG_Data.setCell(1, 1, QStringLiteral("Apple"));
    QVERIFY(ws.B_DataAddClick());
    ws.SG_Data.setCell(0, 2, QStringLiteral("2"));
}

} // namespace

class TestPacketWriter : public QObject {
    Q_OBJECT
private slots:
    void example();
    void emptyWorkspace();
    void showRule();
    void typeCode_data();
    void typeCode();
    void fieldLines_data();
    void fieldLines();
    void keysAscending();
    void rowsSkipEmptyCells();
    void movedColumnNamedByPosition();
    void escaping_data();
    void escaping();
    void escapedPacketIsWellFormed();
    void escapesGrowingPastTheFirstEstimate();
};

void TestPacketWriter::example()
{
    TWorkspace ws;
    FakeDialogs dialogs;
    buildExample(ws, dialogs);
    const QString expected = dataFile("example.xml");
    QVERIFY(!expected.isEmpty());
    QCOMPARE(writePacket(ws), expected);
    QCOMPARE(expected.count(QStringLiteral("\r\n")), 14);
    QVERIFY(dialogs.informed.isEmpty());
}

void TestPacketWriter::emptyWorkspace()
{
    TWorkspace ws;
    ws.ResetWorkspace();
    const QString expected = dataFile("empty.xml");
    QCOMPARE(writePacket(ws), expected);
    QCOMPARE(expected.count(QStringLiteral("\r\n")), 11);

    // With no fields, what was typed into the data table's one column is not written.
    ws.SG_Data.setCell(0, 1, QStringLiteral("typed"));
    ws.Ed_xmlVersion.clear();
    QVERIFY(writePacket(ws).startsWith(QStringLiteral("<?xml version=\"\" standalone=\"yes\"?>\r\n")));
    QVERIFY(writePacket(ws).contains(QStringLiteral("\r\n<ROW/>\r\n")));
}

void TestPacketWriter::showRule()
{
    TWorkspace ws;
    QCOMPARE(TabSheet2Show(ws), std::nullopt);
    ws.NeedsRebuild = true;
    const auto text = TabSheet2Show(ws);
    QVERIFY(text.has_value());
    QCOMPARE(*text, writePacket(ws));
    QVERIFY(!ws.NeedsRebuild);
    QCOMPARE(TabSheet2Show(ws), std::nullopt);
}

void TestPacketWriter::typeCode_data()
{
    QTest::addColumn<QString>("typeText");
    QTest::addColumn<QString>("code");
    const QStringList codes = {"i2", "i4", "r4", "r8", "string", "char", "int", "float", "boolean", "bin.hex"};
    const QStringList items = TWorkspace::initialTypeList();
    for (int i = 0; i < items.size(); ++i) {
        QTest::newRow(qPrintable(QStringLiteral("item ") + codes[i])) << items[i] << codes[i];
    }
    QTest::newRow("bare code") << "date" << "date";
    QTest::newRow("empty") << "" << "";
    QTest::newRow("ascii before full-width") << "a(b（c" << "a";
    QTest::newRow("full-width before ascii") << "a（b(c" << "a";
    QTest::newRow("starts with parenthesis") << "(x)" << "(x)";
    QTest::newRow("starts with full-width parenthesis") << "（x）" << "（x）";
    QTest::newRow("space before parenthesis") << "int (n)" << "int ";
    QTest::newRow("closing only") << "a)b" << "a)b";
}

void TestPacketWriter::typeCode()
{
    QFETCH(QString, typeText);
    QFETCH(QString, code);
    TWorkspace ws;
    ws.SG_Field.setCell(1, 1, typeText);
    QCOMPARE(TypeCodeOf(ws, 1), code);
}

void TestPacketWriter::fieldLines_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("etc");
    QTest::addColumn<QString>("width");
    QTest::addColumn<QString>("line");
    QTest::newRow("bare") << "i4（４バイト整数）" << "" << "" << "<FIELD attrname=\"F\" fieldtype=\"i4\"/>";
    QTest::newRow("etc only") << "date" << "a=\"1\"" << "" << "<FIELD attrname=\"F\" fieldtype=\"date\" a=\"1\"/>";
    QTest::newRow("width only") << "date" << "" << "12" << "<FIELD attrname=\"F\" fieldtype=\"date\" WIDTH=\"12\"/>";
    QTest::newRow("etc before width") << "r8" << "x" << "$10"
                                      << "<FIELD attrname=\"F\" fieldtype=\"r8\" x WIDTH=\"$10\"/>";
    QTest::newRow("empty type, raw texts") << "" << "<&>" << " 3"
                                           << "<FIELD attrname=\"F\" fieldtype=\"\" <&> WIDTH=\" 3\"/>";
}

void TestPacketWriter::fieldLines()
{
    QFETCH(QString, type);
    QFETCH(QString, etc);
    QFETCH(QString, width);
    QFETCH(QString, line);
    TWorkspace ws;
    FakeDialogs dialogs;
    try {
        ws.AddFieldRow(QStringLiteral("F"), type, etc, width, dialogs);
    } catch (const std::exception&) {
        // A width that is not an integer still leaves the field in place, which is all the writer reads.
    }
    QVERIFY(writePacket(ws).contains(QStringLiteral("<FIELDS>\r\n") + line + QStringLiteral("\r\n</FIELDS>")));
}

void TestPacketWriter::keysAscending()
{
    TWorkspace ws;
    FakeDialogs dialogs;
    for (const char* name : {"A", "B", "C", "D"}) {
        QVERIFY(ws.AddFieldRow(QString::fromLatin1(name), QStringLiteral("i4"), {}, {}, dialogs));
    }
    ws.LB_DefOrder.setSelected(3, true);
    ws.LB_DefOrder.setSelected(0, true);
    ws.LB_DefOrder.setSelected(2, true);
    ws.LB_PriKey.setSelected(1, true);
    QCOMPARE(BuildParamsLine(ws), QStringLiteral("<PARAMS DEFAULT_ORDER=\"1 3 4\" PRIMARY_KEY=\"2\" LCID=\"1033\"/>"));

    // Adding a field refills the lists, and the keys are gone.
    QVERIFY(ws.AddFieldRow(QStringLiteral("E"), QStringLiteral("i4"), {}, {}, dialogs));
    ws.Ed_LCID = QStringLiteral("1041");
    QCOMPARE(BuildParamsLine(ws), QStringLiteral("<PARAMS DEFAULT_ORDER=\"\" PRIMARY_KEY=\"\" LCID=\"1041\"/>"));
}

void TestPacketWriter::rowsSkipEmptyCells()
{
    TWorkspace ws;
    FakeDialogs dialogs;
    QVERIFY(ws.AddFieldRow(QStringLiteral("ID"), QStringLiteral("i4"), {}, {}, dialogs));
    QVERIFY(ws.AddFieldRow(QStringLiteral("NAME"), QStringLiteral("string"), {}, {}, dialogs));
    ws.SG_Data.setRowCount(4);
    ws.SG_Data.setCell(1, 1, QStringLiteral("x"));
    ws.SG_Data.setCell(0, 2, QStringLiteral(" "));
    QVERIFY(writePacket(ws).endsWith(lines({"<ROWDATA>", "<ROW NAME=\"x\"/>", "<ROW ID=\" \"/>", "<ROW/>",
                                            "</ROWDATA>", "</DATAPACKET>"})));
}

void TestPacketWriter::movedColumnNamedByPosition()
{
    TWorkspace ws;
    FakeDialogs dialogs;
    QVERIFY(ws.AddFieldRow(QStringLiteral("ID"), QStringLiteral("i4"), {}, {}, dialogs));
    QVERIFY(ws.AddFieldRow(QStringLiteral("NAME"), QStringLiteral("string"), {}, {}, dialogs));
    ws.SG_Data.setCell(0, 1, QStringLiteral("1"));
    ws.SG_Data.setCell(1, 1, QStringLiteral("Apple"));
    ws.moveDataColumn(1, 0);
    QVERIFY(writePacket(ws).contains(QStringLiteral("\r\n<ROW ID=\"Apple\" NAME=\"1\"/>\r\n")));
}

void TestPacketWriter::escaping_data()
{
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("written");
    QTest::newRow("double quote") << "say \"hi\"" << "say &quot;hi&quot;";
    QTest::newRow("less than") << "a<b" << "a&lt;b";
    QTest::newRow("greater than") << "a>b" << "a&gt;b";
    QTest::newRow("ampersand") << "R&D" << "R&amp;D";
    QTest::newRow("entity-looking text") << "&amp;" << "&amp;amp;";
    QTest::newRow("line break") << "a\r\nb" << "a&#13;&#10;b";
    QTest::newRow("lone LF and tab") << "a\nb\tc" << "a&#10;b&#9;c";
    QTest::newRow("trailing equals") << "x id=" << "x id&#61;";
    QTest::newRow("inner equals kept") << "a=b" << "a=b";
    QTest::newRow("apostrophe kept") << "it's" << "it's";
    QTest::newRow("japanese untouched") << "りんご" << "りんご";
    QTest::newRow("slash and greater") << "/>" << "/&gt;";
    // Six characters written for each one typed: far more than the text was sized for at first.
    QTest::newRow("long run of quotes") << QString(1000, u'"') << QStringLiteral("&quot;").repeated(1000);
}

void TestPacketWriter::escaping()
{
    QFETCH(QString, value);
    QFETCH(QString, written);
    QCOMPARE(escapeRowValue(value), written);
    TWorkspace ws;
    FakeDialogs dialogs;
    QVERIFY(ws.AddFieldRow(QStringLiteral("V"), QStringLiteral("string"), {}, {}, dialogs));
    ws.SG_Data.setCell(0, 1, value);
    QVERIFY(writePacket(ws).contains(QStringLiteral("\r\n<ROW V=\"") + written + QStringLiteral("\"/>\r\n")));
}

void TestPacketWriter::escapedPacketIsWellFormed()
{
    TWorkspace ws;
    FakeDialogs dialogs;
    const QStringList values = {"\"", "<", ">", "&", "a\r\nb", "\t", "x=", "&lt;", "'", "<ROW A=\"1\"/>",
                                "]]>", "日本語&<>", " ", "=", "\"=\""};
    for (int c = 0; c < 4; ++c) {
        QVERIFY(ws.AddFieldRow(QStringLiteral("F%1").arg(c), QStringLiteral("string"), {}, {}, dialogs));
    }
    ws.SG_Data.setRowCount(1 + values.size());
    for (int r = 0; r < values.size(); ++r) {
        for (int c = 0; c < 4; ++c) {
            ws.SG_Data.setCell(c, r + 1, values[(r + c) % values.size()]);
        }
    }
    const QString text = writePacket(ws);
    QXmlStreamReader xml(text);
    int rows = 0;
    QStringList firstColumn;
    while (!xml.atEnd()) {
        if (xml.readNext() == QXmlStreamReader::StartElement && xml.name() == QLatin1String("ROW")) {
            ++rows;
            firstColumn.append(xml.attributes().value(QLatin1String("F0")).toString());
        }
    }
    QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
    QCOMPARE(rows, values.size());
    // An XML parser reads back every value as it was typed.
    QCOMPARE(firstColumn, values);
}

void TestPacketWriter::escapesGrowingPastTheFirstEstimate()
{
    // The text is sized from the values as typed, and escaping makes them longer: rows of "<" outgrow the
    // first estimate at some row, wherever the header leaves it. Every name length and row count around
    // there must still give each row its "/>" and the packet its last lines.
    for (int nameLength = 1; nameLength <= 20; ++nameLength) {
        TWorkspace ws;
        FakeDialogs dialogs;
        const QString name(nameLength, u'N');
        QVERIFY(ws.AddFieldRow(name, QStringLiteral("string"), {}, {}, dialogs));
        const QString row = QStringLiteral("<ROW ") + name + QStringLiteral("=\"&lt;\"/>\r\n");
        for (int rows = 1; rows <= 260; ++rows) {
            ws.SG_Data.setRowCount(rows + 1);
            ws.SG_Data.setCell(0, rows, QStringLiteral("<"));
            const QString text = writePacket(ws);
            QVERIFY(text.endsWith(row.repeated(rows) + QStringLiteral("</ROWDATA>\r\n</DATAPACKET>\r\n")));
        }
    }
}

QTEST_GUILESS_MAIN(TestPacketWriter)
#include "TestPacketWriter.moc"
