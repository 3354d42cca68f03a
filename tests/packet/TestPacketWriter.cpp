#include "FakeDialogs.h"
#include "TPacketReader.h"
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
    ws.setKeySelected(TKeyKind::DefaultOrder, 1, true);
    ws.setKeySelected(TKeyKind::PrimaryKey, 0, true);
    ws.setDataCell(0, 1, QStringLiteral("1"));
    ws.setDataCell(1, 1, QStringLiteral("Apple"));
    QVERIFY(ws.B_DataAddClick());
    ws.setDataCell(0, 2, QStringLiteral("2"));
}

// What an XML parser sees of a packet's data, one line per element and text, attributes in name order: the
// change log (CHANGE_LOG, RowState and the rows it marks as earlier versions or deleted) and empty key
// attributes left out. Empty when the text is not well-formed.
QStringList xmlData(const QString& text)
{
    QStringList out;
    QXmlStreamReader xml(text);
    int skipFrom = 0;
    while (!xml.atEnd()) {
        const auto token = xml.readNext();
        if (skipFrom > 0) {
            if (token == QXmlStreamReader::StartElement) {
                ++skipFrom;
            } else if (token == QXmlStreamReader::EndElement) {
                --skipFrom;
            }
            continue;
        }
        if (token == QXmlStreamReader::Characters && !xml.isWhitespace()) {
            out.append(QStringLiteral("text ") + xml.text().toString());
        }
        if (token != QXmlStreamReader::StartElement) {
            continue;
        }
        const QXmlStreamAttributes attributes = xml.attributes();
        if (xml.name() == QLatin1String("ROW") && (attributes.value(QLatin1String("RowState")).toInt() & 3) != 0) {
            skipFrom = 1;
            continue;
        }
        QStringList items;
        for (const QXmlStreamAttribute& a : attributes) {
            if (a.name() != QLatin1String("RowState") && a.name() != QLatin1String("CHANGE_LOG") &&
                !(a.value().isEmpty() && a.name().endsWith(QLatin1String("_KEY"), Qt::CaseInsensitive)) &&
                !(a.value().isEmpty() && a.name() == QLatin1String("DEFAULT_ORDER"))) {
                items.append(a.name().toString() + u'=' + a.value().toString());
            }
        }
        items.sort();
        out.append(xml.name().toString() + u' ' + items.join(u' '));
    }
    return xml.hasError() ? QStringList{QStringLiteral("error: ") + xml.errorString()} : out;
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
    void writtenOverASpare();
    void keptContent_data();
    void keptContent();
    void recordsAsRead_data();
    void recordsAsRead();
    void libraryPacketsKeepTheirData_data();
    void libraryPacketsKeepTheirData();
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
    ws.setDataCell(0, 1, QStringLiteral("typed"));
    ws.setXmlVersion(QString());
    QVERIFY(writePacket(ws).startsWith(QStringLiteral("<?xml version=\"\" standalone=\"yes\"?>\r\n")));
    QVERIFY(writePacket(ws).contains(QStringLiteral("\r\n<ROW/>\r\n")));
}

void TestPacketWriter::showRule()
{
    TWorkspace ws;
    QCOMPARE(writeWorkspaceAsText(ws), std::nullopt);
    ws.markRebuildDue();
    const auto text = writeWorkspaceAsText(ws);
    QVERIFY(text.has_value());
    QCOMPARE(*text, writePacket(ws));
    QVERIFY(!ws.NeedsRebuild());
    QCOMPARE(writeWorkspaceAsText(ws), std::nullopt);
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
    QTest::newRow("bare code") << "date"
                               << "date";
    QTest::newRow("empty") << ""
                           << "";
    QTest::newRow("ascii before full-width") << "a(b（c"
                                             << "a";
    QTest::newRow("full-width before ascii") << "a（b(c"
                                             << "a";
    QTest::newRow("starts with parenthesis") << "(x)"
                                             << "(x)";
    QTest::newRow("starts with full-width parenthesis") << "（x）"
                                                        << "（x）";
    QTest::newRow("space before parenthesis") << "int (n)"
                                              << "int ";
    QTest::newRow("closing only") << "a)b"
                                  << "a)b";
}

void TestPacketWriter::typeCode()
{
    QFETCH(QString, typeText);
    QFETCH(QString, code);
    TWorkspace ws;
    FakeDialogs dialogs;
    QVERIFY(ws.AddFieldRow(QStringLiteral("F"), typeText, {}, {}, dialogs));
    QCOMPARE(TypeCodeOf(ws, 1), code);
}

void TestPacketWriter::fieldLines_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("etc");
    QTest::addColumn<QString>("width");
    QTest::addColumn<QString>("line");
    QTest::newRow("bare") << "i4（４バイト整数）"
                          << ""
                          << ""
                          << "<FIELD attrname=\"F\" fieldtype=\"i4\"/>";
    QTest::newRow("etc only") << "date"
                              << "a=\"1\""
                              << ""
                              << "<FIELD attrname=\"F\" fieldtype=\"date\" a=\"1\"/>";
    QTest::newRow("width only") << "date"
                                << ""
                                << "12"
                                << "<FIELD attrname=\"F\" fieldtype=\"date\" WIDTH=\"12\"/>";
    QTest::newRow("etc before width") << "r8"
                                      << "x"
                                      << "$10"
                                      << "<FIELD attrname=\"F\" fieldtype=\"r8\" x WIDTH=\"$10\"/>";
    QTest::newRow("empty type, raw texts") << ""
                                           << "<&>"
                                           << " 3"
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
    ws.setKeySelected(TKeyKind::DefaultOrder, 3, true);
    ws.setKeySelected(TKeyKind::DefaultOrder, 0, true);
    ws.setKeySelected(TKeyKind::DefaultOrder, 2, true);
    ws.setKeySelected(TKeyKind::PrimaryKey, 1, true);
    QCOMPARE(BuildParamsLine(ws), QStringLiteral("<PARAMS DEFAULT_ORDER=\"1 3 4\" PRIMARY_KEY=\"2\" LCID=\"1033\"/>"));

    // Adding a field refills the lists, and the keys are gone.
    QVERIFY(ws.AddFieldRow(QStringLiteral("E"), QStringLiteral("i4"), {}, {}, dialogs));
    ws.setLCID(QStringLiteral("1041"));
    QCOMPARE(BuildParamsLine(ws), QStringLiteral("<PARAMS DEFAULT_ORDER=\"\" PRIMARY_KEY=\"\" LCID=\"1041\"/>"));
}

void TestPacketWriter::rowsSkipEmptyCells()
{
    TWorkspace ws;
    FakeDialogs dialogs;
    QVERIFY(ws.AddFieldRow(QStringLiteral("ID"), QStringLiteral("i4"), {}, {}, dialogs));
    QVERIFY(ws.AddFieldRow(QStringLiteral("NAME"), QStringLiteral("string"), {}, {}, dialogs));
    ws.setDataRowCount(4);
    ws.setDataCell(1, 1, QStringLiteral("x"));
    ws.setDataCell(0, 2, QStringLiteral(" "));
    QVERIFY(writePacket(ws).endsWith(
        lines({"<ROWDATA>", "<ROW NAME=\"x\"/>", "<ROW ID=\" \"/>", "<ROW/>", "</ROWDATA>", "</DATAPACKET>"})));
}

void TestPacketWriter::movedColumnNamedByPosition()
{
    TWorkspace ws;
    FakeDialogs dialogs;
    QVERIFY(ws.AddFieldRow(QStringLiteral("ID"), QStringLiteral("i4"), {}, {}, dialogs));
    QVERIFY(ws.AddFieldRow(QStringLiteral("NAME"), QStringLiteral("string"), {}, {}, dialogs));
    ws.setDataCell(0, 1, QStringLiteral("1"));
    ws.setDataCell(1, 1, QStringLiteral("Apple"));
    ws.moveDataColumn(1, 0);
    QVERIFY(writePacket(ws).contains(QStringLiteral("\r\n<ROW ID=\"Apple\" NAME=\"1\"/>\r\n")));
}

void TestPacketWriter::escaping_data()
{
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("written");
    QTest::newRow("double quote") << "say \"hi\""
                                  << "say &quot;hi&quot;";
    QTest::newRow("less than") << "a<b"
                               << "a&lt;b";
    QTest::newRow("greater than") << "a>b"
                                  << "a&gt;b";
    QTest::newRow("ampersand") << "R&D"
                               << "R&amp;D";
    QTest::newRow("entity-looking text") << "&amp;"
                                         << "&amp;amp;";
    QTest::newRow("line break") << "a\r\nb"
                                << "a&#13;&#10;b";
    QTest::newRow("lone LF and tab") << "a\nb\tc"
                                     << "a&#10;b&#9;c";
    QTest::newRow("trailing equals") << "x id="
                                     << "x id&#61;";
    QTest::newRow("inner equals kept") << "a=b"
                                       << "a=b";
    QTest::newRow("apostrophe kept") << "it's"
                                     << "it's";
    QTest::newRow("japanese untouched") << "りんご"
                                        << "りんご";
    QTest::newRow("slash and greater") << "/>"
                                       << "/&gt;";
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
    ws.setDataCell(0, 1, value);
    QVERIFY(writePacket(ws).contains(QStringLiteral("\r\n<ROW V=\"") + written + QStringLiteral("\"/>\r\n")));
}

void TestPacketWriter::escapedPacketIsWellFormed()
{
    TWorkspace ws;
    FakeDialogs dialogs;
    const QStringList values = {"\"", "<", ">", "&", "a\r\nb", "\t", "x=", "&lt;", "'", "<ROW A=\"1\"/>", "]]>",
                                "日本語&<>", " ", "=", "\"=\"",
                                // Longer than the eight characters copied at a time, before and after escapes.
                                "0123456789abcdefg", "a long value with & in the middle",
                                "日本語の長い値がここに続きます", "ends in an escape>", "1234567"};
    for (int c = 0; c < 4; ++c) {
        QVERIFY(ws.AddFieldRow(QStringLiteral("F%1").arg(c), QStringLiteral("string"), {}, {}, dialogs));
    }
    ws.setDataRowCount(1 + values.size());
    for (int r = 0; r < values.size(); ++r) {
        for (int c = 0; c < 4; ++c) {
            ws.setDataCell(c, r + 1, values[(r + c) % values.size()]);
        }
    }
    const QString text = writePacket(ws);
    QXmlStreamReader xml(text);
    int rows = 0;
    while (!xml.atEnd()) {
        if (xml.readNext() == QXmlStreamReader::StartElement && xml.name() == QLatin1String("ROW")) {
            // An XML parser reads back every value as it was typed, wherever it stands in its row.
            for (int c = 0; c < 4; ++c) {
                QCOMPARE(xml.attributes().value(QStringLiteral("F%1").arg(c)).toString(),
                         values[(rows + c) % values.size()]);
            }
            ++rows;
        }
    }
    QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
    QCOMPARE(rows, values.size());
}

void TestPacketWriter::writtenOverASpare()
{
    TWorkspace ws;
    FakeDialogs dialogs;
    buildExample(ws, dialogs);
    const QString expected = writePacket(ws);

    // A spare with room is written over in place; one too small, or shared, is left to its other owners.
    QString roomy = QString(expected.size() * 2, u'x');
    const QChar* roomyChars = roomy.constData();
    QString written = writePacket(ws, std::move(roomy));
    QCOMPARE(written, expected);
    QCOMPARE(written.constData(), roomyChars);
    QCOMPARE(writePacket(ws, QStringLiteral("small")), expected);
    const QString shared = QString(expected.size() * 2, u'y');
    QCOMPARE(writePacket(ws, shared), expected);
    QCOMPARE(shared, QString(expected.size() * 2, u'y'));

    // The XML page's handler writes only when needed, and a written text clears the need.
    ws.markDataEdited();
    QCOMPARE(writeWorkspaceAsText(ws, std::move(written)), std::optional<QString>(expected));
    QVERIFY(!ws.needsWrite());
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
            ws.setDataRowCount(rows + 1);
            ws.setDataCell(0, rows, QStringLiteral("<"));
            const QString text = writePacket(ws);
            QVERIFY(text.endsWith(row.repeated(rows) + QStringLiteral("</ROWDATA>\r\n</DATAPACKET>\r\n")));
        }
    }
}

void TestPacketWriter::keptContent_data()
{
    QTest::addColumn<QString>("fieldContent");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("rowContent");
    QTest::addColumn<QString>("fieldLine");
    QTest::addColumn<QString>("rowLine");

    QTest::newRow("none") << QString() << QStringLiteral("1") << QString()
                          << QStringLiteral("<FIELD attrname=\"F\" fieldtype=\"i4\" x=\"1\" WIDTH=\"5\"/>")
                          << QStringLiteral("<ROW F=\"1\"/>");
    QTest::newRow("field and row content")
        << QStringLiteral("<PARAM Name=\"P\" Value=\"7\"/>") << QStringLiteral("1")
        << QStringLiteral("<S><ROWS A=\"1\"/></S>")
        << QStringLiteral(
               "<FIELD attrname=\"F\" fieldtype=\"i4\" x=\"1\" WIDTH=\"5\"><PARAM Name=\"P\" Value=\"7\"/></FIELD>")
        << QStringLiteral("<ROW F=\"1\"><S><ROWS A=\"1\"/></S></ROW>");
    // Without a value, the space after ROW keeps the row one the reader counts.
    QTest::newRow("row content without values")
        << QString() << QString() << QStringLiteral("\r\n  <X/>\r\n")
        << QStringLiteral("<FIELD attrname=\"F\" fieldtype=\"i4\" x=\"1\" WIDTH=\"5\"/>")
        << QStringLiteral("<ROW >\r\n  <X/>\r\n</ROW>");
}

void TestPacketWriter::keptContent()
{
    QFETCH(QString, fieldContent);
    QFETCH(QString, value);
    QFETCH(QString, rowContent);
    QFETCH(QString, fieldLine);
    QFETCH(QString, rowLine);
    TWorkspace ws;
    FakeDialogs dialogs;
    QVERIFY(ws.AddFieldRow(QStringLiteral("F"), QStringLiteral("i4"), QStringLiteral("x=\"1\""), QStringLiteral("5"),
                           dialogs));
    ws.setFieldRowContent(1, fieldContent);
    ws.setDataCell(0, 1, value);
    ws.setDataRowContent(1, rowContent);
    const QString text = writePacket(ws);
    QVERIFY(text.contains(QStringLiteral("<FIELDS>\r\n") + fieldLine + QStringLiteral("\r\n</FIELDS>")));
    QVERIFY(text.contains(QStringLiteral("<ROWDATA>\r\n") + rowLine + QStringLiteral("\r\n</ROWDATA>")));
    QVERIFY(!xmlData(text).value(0).startsWith(QStringLiteral("error")));
}

enum class TRowEdit { None, TypedAndCleared, AddClicked, FieldAdded };
Q_DECLARE_METATYPE(TRowEdit)

void TestPacketWriter::recordsAsRead_data()
{
    QTest::addColumn<QString>("rowData");
    QTest::addColumn<TRowEdit>("edit");
    QTest::addColumn<QString>("written");

    const QString none = QStringLiteral("<ROWDATA>\r\n</ROWDATA>");
    const QString blank = QStringLiteral("<ROWDATA>\r\n<ROW/>\r\n</ROWDATA>");
    QTest::newRow("a new workspace keeps its row") << QString() << TRowEdit::None << blank;
    QTest::newRow("read without records") << QStringLiteral("<ROWDATA/>") << TRowEdit::None << none;
    QTest::newRow("read with an empty ROWDATA") << QStringLiteral("<ROWDATA></ROWDATA>") << TRowEdit::None << none;
    QTest::newRow("read without ROWDATA") << QStringLiteral("") << TRowEdit::None << none;
    QTest::newRow("only rows the change log superseded")
        << QStringLiteral("<ROWDATA><ROW RowState=\"2\" A=\"1\"/></ROWDATA>") << TRowEdit::None << none;
    QTest::newRow("a field added is no record") << QStringLiteral("<ROWDATA/>") << TRowEdit::FieldAdded << none;
    QTest::newRow("typed into, then emptied") << QStringLiteral("<ROWDATA/>") << TRowEdit::TypedAndCleared << blank;
    QTest::newRow("a record asked for") << QStringLiteral("<ROWDATA/>") << TRowEdit::AddClicked << blank;
    // The row scan does not count a row without values, but it is a record all the same.
    QTest::newRow("a blank record read") << QStringLiteral("<ROWDATA><ROW/></ROWDATA>") << TRowEdit::None << blank;
}

void TestPacketWriter::recordsAsRead()
{
    QFETCH(QString, rowData);
    QFETCH(TRowEdit, edit);
    QFETCH(QString, written);
    TWorkspace ws;
    FakeDialogs dialogs;
    ws.ResetWorkspace();
    // A null text stands for a new workspace, an empty one for a packet without ROWDATA.
    if (rowData.isNull()) {
        QVERIFY(ws.B_FieldAddClick(QStringLiteral("A"), QStringLiteral("i4"), {}, {}, dialogs));
    } else {
        readPacket(ws,
                   QStringLiteral("<?xml version=\"1.0\"?><DATAPACKET Version=\"2.0\"><METADATA><FIELDS>"
                                  "<FIELD attrname=\"A\" fieldtype=\"i4\"/></FIELDS></METADATA>%1</DATAPACKET>")
                       .arg(rowData),
                   dialogs);
    }
    // The table shows its one blank row all the same.
    QCOMPARE(ws.SG_Data().rowCount(), 2);
    QVERIFY(ws.isBlankDataRow(1));
    if (edit == TRowEdit::TypedAndCleared) {
        ws.setDataCell(0, 1, QStringLiteral("1"));
        ws.setDataCell(0, 1, QString());
    } else if (edit == TRowEdit::AddClicked) {
        QVERIFY(!ws.B_DataAddClick());
    } else if (edit == TRowEdit::FieldAdded) {
        QVERIFY(ws.B_FieldAddClick(QStringLiteral("B"), QStringLiteral("i4"), {}, {}, dialogs));
    }
    const QString text = writePacket(ws);
    QVERIFY2(text.contains(QStringLiteral("</METADATA>\r\n") + written + QStringLiteral("\r\n</DATAPACKET>")),
             qPrintable(text));
    // Read again, it writes the same.
    TWorkspace again;
    readPacket(again, text, dialogs);
    QCOMPARE(writePacket(again), text);
    QCOMPARE(dialogs.informed, QStringList());
}

void TestPacketWriter::libraryPacketsKeepTheirData_data()
{
    QTest::addColumn<QString>("packet");
    for (const char* name :
         {"library/one-line.xml", "library/nested.xml", "library/change-log.xml", "library/no-declaration.xml"}) {
        QTest::newRow(name) << dataFile(name)
                                   .replace(QStringLiteral("\r\n"), QStringLiteral("\n"))
                                   .replace(u'\n', QStringLiteral("\r\n"));
    }
    const QString head = QStringLiteral("<?xml version=\"1.0\"?><DATAPACKET Version=\"2.0\"><METADATA><FIELDS>");
    const QString rows = QStringLiteral("</METADATA><ROWDATA>");
    const QString end = QStringLiteral("</ROWDATA></DATAPACKET>");
    QTest::newRow("quotes, > and references in values and settings") << QString(
        head +
        "<FIELD attrname=\"A\" fieldtype=\"string\" a='say \"hi\"' b=\"x>y\" c=\"&amp;&lt;\"/>"
        "<FIELD attrname=\"B\" fieldtype=\"string\" WIDTH=\"5\" d=\"it's\"/></FIELDS><PARAMS LCID=\"1033\"/>" +
        rows + "<ROW A=\"a&gt;b > c &quot; ' &#x41;&#10;\" B=\"x\"/><ROW B=\"x=\"/>" + end);
    QTest::newRow("case variants of the field's own attributes")
        << QString(head +
                   "<FIELD ATTRNAME=\"x\" attrname=\"A\" FieldType=\"y\" fieldtype=\"i4\" width=\"3\" WIDTH=\"4\"/>"
                   "<FIELD attrname=\"B\" fieldtype=\"r8\"/></FIELDS><PARAMS LCID=\"1033\"/>" +
                   rows + "<ROW A=\"1\" B=\"2\"/>" + end);
    QTest::newRow("comments, CDATA and processing instructions in content")
        << QString(head +
                   "<FIELD attrname=\"A\" fieldtype=\"i4\"><!-- </FIELD> --><![CDATA[ </FIELD> <x> ]]>"
                   "<?pi </FIELD>?></FIELD><!-- between --></FIELDS><PARAMS LCID=\"1033\"/>" +
                   rows + "<ROW A=\"1\"><!-- </ROW> --><![CDATA[</ROW>]]>text</ROW><ROW A=\"2\"/>" + end);
    QTest::newRow("a nested FIELD with content inside content")
        << QString(head +
                   "<FIELD attrname=\"A\" fieldtype=\"nested\"><FIELDS><FIELD attrname=\"S\" fieldtype=\"nested\">"
                   "<FIELDS><FIELD attrname=\"T\" fieldtype=\"i4\"/></FIELDS></FIELD></FIELDS></FIELD>"
                   "<FIELD attrname=\"B\" fieldtype=\"i4\"/></FIELDS><PARAMS LCID=\"1033\"/>" +
                   rows + "<ROW B=\"1\"><A><ROWA><S><ROWS T=\"5\"></ROWS></S></ROWA></A></ROW>" + end);
    QTest::newRow("a field without attrname is left out whole")
        << QString(head +
                   "<FIELD fieldname=\"x\" fieldtype=\"i4\"><PARAM Name=\"a\"/></FIELD>"
                   "<FIELD attrname=\"B\" fieldtype=\"i4\"/></FIELDS><PARAMS LCID=\"1033\"/>" +
                   rows + "<ROW B=\"1\"/>" + end);
}

void TestPacketWriter::libraryPacketsKeepTheirData()
{
    QFETCH(QString, packet);
    QStringList expected = xmlData(packet);
    QVERIFY(!expected.isEmpty());
    QVERIFY2(!expected.first().startsWith(QStringLiteral("error")), qPrintable(expected.first()));
    // A field the reader cannot add leaves no trace, its content included.
    expected.removeIf([](const QString& line) {
        return line.contains(QStringLiteral("fieldname=x")) || line == QStringLiteral("PARAM Name=a");
    });

    TWorkspace ws;
    FakeDialogs dialogs;
    readPacket(ws, packet, dialogs);
    QCOMPARE(dialogs.informed, QStringList());
    const QString written = writePacket(ws);
    // Well-formed, with every element, attribute and text of the packet's current data.
    QCOMPARE(xmlData(written), expected);
    // Read again, it writes the same text.
    TWorkspace again;
    readPacket(again, written, dialogs);
    QCOMPARE(writePacket(again), written);
}

QTEST_GUILESS_MAIN(TestPacketWriter)
#include "TestPacketWriter.moc"
