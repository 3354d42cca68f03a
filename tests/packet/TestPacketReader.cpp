#include "FakeDialogs.h"
#include "TCharacterReferences.h"
#include "TFailure.h"
#include "TMarkerSearch.h"
#include "TMemoryProbe.h"
#include "TPacketReader.h"
#include "TPacketWriter.h"
#include "TRowValue.h"

#include <QRandomGenerator>
#include <QTest>

#include <cstdlib>
#include <set>

using namespace torvane;

namespace {

using Rows = QList<QStringList>;

const QString NameTaken = QStringLiteral("フィールド名が既にあるか不正な名前です");

// Joins lines, each ending in CR LF, as the view gives its text to the reader.
QString lines(const QStringList& texts)
{
    QString out;
    for (const QString& text : texts) {
        out += text + QStringLiteral("\r\n");
    }
    return out;
}

// A packet in the writer's layout with the given field lines, params line and row lines.
QString packet(const QStringList& fields, const QString& params, const QStringList& rows)
{
    QStringList all{QStringLiteral("<?xml version=\"1.0\" standalone=\"yes\"?>"),
                    QStringLiteral("<DATAPACKET Version=\"2.0\">"), QStringLiteral("<METADATA>"),
                    QStringLiteral("<FIELDS>")};
    all += fields;
    all += QStringLiteral("</FIELDS>");
    all += params;
    all += {QStringLiteral("</METADATA>"), QStringLiteral("<ROWDATA>")};
    all += rows;
    all += {QStringLiteral("</ROWDATA>"), QStringLiteral("</DATAPACKET>")};
    return lines(all);
}

QString field(const QString& name, const QString& type)
{
    return QStringLiteral("<FIELD attrname=\"%1\" fieldtype=\"%2\"/>").arg(name, type);
}

QString params(const QString& defaultOrder, const QString& primaryKey)
{
    return QStringLiteral("<PARAMS DEFAULT_ORDER=\"%1\" PRIMARY_KEY=\"%2\" LCID=\"1041\"/>")
        .arg(defaultOrder, primaryKey);
}

QList<int> selected(const TKeyList& list)
{
    QList<int> positions;
    for (int i = 0; i < list.count(); ++i) {
        if (list.isSelected(i)) {
            positions.append(i + 1);
        }
    }
    return positions;
}

Rows dataRows(const TWorkspace& ws)
{
    Rows rows;
    for (int r = 1; r < ws.SG_Data().rowCount(); ++r) {
        QStringList cells;
        for (int c = 0; c < ws.SG_Data().colCount(); ++c) {
            cells.append(ws.SG_Data().cell(c, r));
        }
        rows.append(cells);
    }
    return rows;
}

// The records as "|"-joined cells: a value as written, `""` for an empty string, `-` for no value; a workspace
// whose one blank row stands in for no record has none.
QStringList records(const TWorkspace& ws)
{
    QStringList out;
    for (int r = 1; !ws.standInRow() && r < ws.SG_Data().rowCount(); ++r) {
        QStringList cells;
        for (int c = 0; c < ws.FieldCount(); ++c) {
            const QString cell = ws.SG_Data().cell(c, r);
            cells.append(!cell.isEmpty() ? cell : ws.SG_Data().isEmptyString(c, r) ? QStringLiteral("\"\"") : QStringLiteral("-"));
        }
        out.append(cells.join(u'|'));
    }
    return out;
}

QStringList dataHeaders(const TWorkspace& ws)
{
    QStringList headers;
    for (int c = 0; c < ws.SG_Data().colCount(); ++c) {
        headers.append(ws.SG_Data().cell(c, 0));
    }
    return headers;
}

// Field table rows 1 .. FieldCount as "name|type|etc|width".
QStringList fieldRows(const TWorkspace& ws)
{
    QStringList out;
    for (int r = 1; r <= ws.FieldCount() && r < ws.SG_Field().rowCount(); ++r) {
        QStringList cells;
        for (int c = 0; c < 4; ++c) {
            cells.append(ws.SG_Field().cell(c, r));
        }
        out.append(cells.join(u'|'));
    }
    return out;
}

QStringList fieldCaptions(const TWorkspace& ws)
{
    QStringList out;
    for (int c = 0; c < 4; ++c) {
        out.append(ws.SG_Field().cell(c, 0));
    }
    return out;
}

const QStringList Captions{QStringLiteral("フィールド名"), QStringLiteral("データ形式"), QStringLiteral("その他設定文"),
                           QStringLiteral("幅")};

// A workspace holding something of everything, so that a test sees what a read replaced and what it kept.
void fillWorkspace(TWorkspace& ws)
{
    FakeDialogs dialogs;
    ws.ResetWorkspace();
    ws.setXmlVersion(QStringLiteral("9.9"));
    ws.setPacketVersion(QStringLiteral("8.8"));
    ws.setLCID(QStringLiteral("2052"));
    ws.AddFieldRow(QStringLiteral("OLD1"), QStringLiteral("i4（４バイト整数）"), QString(), QStringLiteral("3"),
                   dialogs);
    ws.AddFieldRow(QStringLiteral("OLD2"), QStringLiteral("date"), QStringLiteral("x=\"y\""), QString(), dialogs);
    ws.AddFieldRow(QStringLiteral("OLD3"), QStringLiteral("string（文字列）"), QString(), QString(), dialogs);
    ws.setKeySelected(TKeyKind::DefaultOrder, 2, true);
    ws.setKeySelected(TKeyKind::PrimaryKey, 0, true);
    ws.setDataRowCount(4);
    for (int r = 1; r < 4; ++r) {
        for (int c = 0; c < 3; ++c) {
            ws.setDataCell(c, r, QStringLiteral("v%1%2").arg(c).arg(r));
        }
    }
}

// Reads `text` into `ws`; returns the failure's message when the read ended with one, else a null string.
QString read(TWorkspace& ws, const QString& text, FakeDialogs& dialogs)
{
    try {
        readPacket(ws, text, dialogs);
    } catch (const TFailure& failure) {
        return failure.message();
    }
    return {};
}

// ---- Generated workspaces -------------------------------------------------------------------------------

QString randomText(QRandomGenerator& rng, const QStringList& pieces, int maxPieces)
{
    QString text;
    const int count = static_cast<int>(rng.bounded(maxPieces + 1));
    for (int i = 0; i < count; ++i) {
        text += pieces[static_cast<int>(rng.bounded(static_cast<int>(pieces.size())))];
    }
    return text;
}

struct TGenerated {
    QString xmlVersion;
    QString packetVersion;
    QString lcid;
    QStringList names;
    QStringList typeTexts;
    QStringList typeCodes;
    QStringList etcs;
    QStringList widths;
    QList<int> defaultOrder;
    QList<int> primaryKey;
    Rows rows;
    // Content kept with fields and rows, written back inside their elements.
    QStringList fieldContents;
    QStringList rowContents;
};

TGenerated generate(quint32 seed)
{
    QRandomGenerator rng(seed);
    // Names that hold one another ("id" in "pid", "ID" in "USERID"), Japanese names and case variants of
    // characters, none holding a character that would break the field element.
    const QStringList namePool{QStringLiteral("id"),     QStringLiteral("pid"),     QStringLiteral("USERID"),
                               QStringLiteral("名前"),   QStringLiteral("住所"),    QStringLiteral("Name"),
                               QStringLiteral("e-mail"), QStringLiteral("Ünïcode"), QStringLiteral("x1"),
                               QStringLiteral("X10"),    QStringLiteral("値"),      QStringLiteral("amp"),
                               QStringLiteral("ROW"),    QStringLiteral("Width")};
    const QStringList typeTexts =
        TWorkspace::initialTypeList() + QStringList{QStringLiteral("date"), QStringLiteral("fixed.14")};
    const QStringList etcPool{QString(), QString(), QStringLiteral("required=\"true\""),
                              QStringLiteral("SUBTYPE=\"Text\" readonly=\"false\"")};
    const QStringList valuePieces{
        QStringLiteral("a"),      QStringLiteral("Z"),    QStringLiteral(" "),      QStringLiteral("\""),
        QStringLiteral("<"),      QStringLiteral(">"),    QStringLiteral("&"),      QStringLiteral("&amp;"),
        QStringLiteral("&#65;"),  QStringLiteral("日本"), QStringLiteral("テスト"), QStringLiteral("="),
        QStringLiteral("\r\n"),   QStringLiteral("\n"),   QStringLiteral("\t"),     QStringLiteral("/>"),
        QStringLiteral(" id=\""), QStringLiteral("'"),    QStringLiteral("12"),     QStringLiteral("ｶﾅ")};

    TGenerated g;
    g.xmlVersion = randomText(rng, {QStringLiteral("1"), QStringLiteral("."), QStringLiteral("版")}, 4);
    g.packetVersion = randomText(rng, {QStringLiteral("2"), QStringLiteral("."), QStringLiteral(" ")}, 4);
    g.lcid = randomText(rng, {QStringLiteral("1033"), QStringLiteral("2057"), QStringLiteral("1041")}, 1);
    const QStringList fieldContentPool{
        QString(), QString(), QStringLiteral("<PARAM Name=\"PROVFLAGS\" Value=\"7\" Type=\"i4\"/>"),
        QStringLiteral("<FIELDS><FIELD attrname=\"Sub\" fieldtype=\"i4\"/></FIELDS><PARAMS/>")};
    const QStringList rowContentPool{QString(), QString(), QStringLiteral("<ROWSub Sub=\"1\"/>"),
                                     QStringLiteral("<Sub><ROW Sub=\"2\"/><ROW Sub=\"3\"></ROW></Sub>")};

    QStringList pool = namePool;
    const int fieldCount = static_cast<int>(rng.bounded(1, 7));
    for (int f = 0; f < fieldCount; ++f) {
        const QString name = pool.takeAt(static_cast<int>(rng.bounded(static_cast<int>(pool.size()))));
        g.names.append(name);
        const QString typeText = typeTexts[static_cast<int>(rng.bounded(static_cast<int>(typeTexts.size())))];
        g.typeTexts.append(typeText);
        g.typeCodes.append(typeCodeOfText(typeText));
        g.etcs.append(etcPool[static_cast<int>(rng.bounded(static_cast<int>(etcPool.size())))]);
        g.widths.append(rng.bounded(3) == 0 ? QString() : QString::number(rng.bounded(1, 300)));
        g.fieldContents.append(
            fieldContentPool[static_cast<int>(rng.bounded(static_cast<int>(fieldContentPool.size())))]);
    }
    for (int f = 1; f <= fieldCount; ++f) {
        if (rng.bounded(2) == 0) {
            g.defaultOrder.append(f);
        }
        if (rng.bounded(3) == 0) {
            g.primaryKey.append(f);
        }
    }
    const int rowCount = static_cast<int>(rng.bounded(1, 9));
    for (int r = 0; r < rowCount; ++r) {
        QStringList cells;
        for (int c = 0; c < fieldCount; ++c) {
            QString value = rng.bounded(4) == 0 ? QString() : randomText(rng, valuePieces, 6);
            if (rng.bounded(8) == 0) {
                value += u'=';
            }
            cells.append(value);
        }
        g.rows.append(cells);
        g.rowContents.append(rowContentPool[static_cast<int>(rng.bounded(static_cast<int>(rowContentPool.size())))]);
    }
    return g;
}

void build(TWorkspace& ws, const TGenerated& g)
{
    FakeDialogs dialogs;
    ws.ResetWorkspace();
    ws.setXmlVersion(g.xmlVersion);
    ws.setPacketVersion(g.packetVersion);
    ws.setLCID(g.lcid);
    for (int f = 0; f < g.names.size(); ++f) {
        ws.AddFieldRow(g.names[f], g.typeTexts[f], g.etcs[f], g.widths[f], dialogs);
        ws.setFieldRowContent(f + 1, g.fieldContents[f]);
    }
    for (int n : g.defaultOrder) {
        ws.setKeySelected(TKeyKind::DefaultOrder, n - 1, true);
    }
    for (int n : g.primaryKey) {
        ws.setKeySelected(TKeyKind::PrimaryKey, n - 1, true);
    }
    ws.setDataRowCount(static_cast<int>(g.rows.size()) + 1);
    for (int r = 0; r < g.rows.size(); ++r) {
        for (int c = 0; c < g.rows[r].size(); ++c) {
            ws.setDataCell(c, r + 1, g.rows[r][c]);
        }
        ws.setDataRowContent(r + 1, g.rowContents[r]);
    }
}

// The kept content of rows first .. last of a grid.
QStringList rowContents(const TStringGrid& grid, int first, int last)
{
    QStringList out;
    for (int r = first; r <= last && r < grid.rowCount(); ++r) {
        out.append(grid.rowContent(r));
    }
    return out;
}

} // namespace

class TestPacketReader : public QObject {
    Q_OBJECT
private slots:
    void roundTrip_data();
    void roundTrip();
    void example();
    void stops_data();
    void stops();
    void showHandler();
    void markersInAnyCase();
    void emptyFieldNameEndsScan();
    void widthMarker_data();
    void widthMarker();
    void fieldStartTags_data();
    void fieldStartTags();
    void keyNumbers_data();
    void keyNumbers();
    void keyNumberNotInteger_data();
    void keyNumberNotInteger();
    void repeatedFieldNames();
    void largeValues_data();
    void largeValues();
    void rowElements_data();
    void rowElements();
    void endMarkerInsideValue();
    void widthNotInteger();
    void keyStartsAnAttribute_data();
    void keyStartsAnAttribute();
    void rowKeyLetterCase_data();
    void rowKeyLetterCase();
    void rowAttributesInAnyOrder_data();
    void rowAttributesInAnyOrder();
    void decode_data();
    void decode();
    void decodedWhenRead();
    void everyRoadAlike_data();
    void everyRoadAlike();
    void fieldTypeWithoutClosingQuote();
    void rowWithoutEnd();
    void numberScanReachingTheEnd();
    void lastQuoteOfTextNotFound();
    void lcid_data();
    void lcid();
    void memoryBound_data();
    void memoryBound();
    void search_data();
    void search();
    void searchEdges_data();
    void searchEdges();
};

void TestPacketReader::roundTrip_data()
{
    QTest::addColumn<quint32>("seed");
    QRandomGenerator seeds(12345);
    for (int i = 0; i < 300; ++i) {
        const quint32 seed = seeds.generate();
        QTest::addRow("generated workspace %d (seed %u)", i, seed) << seed;
    }
}

void TestPacketReader::roundTrip()
{
    QFETCH(quint32, seed);
    const TGenerated g = generate(seed);
    TWorkspace source;
    build(source, g);
    const QString text = writePacket(source);

    TWorkspace target;
    fillWorkspace(target);
    FakeDialogs dialogs;
    QCOMPARE(read(target, text, dialogs), QString());
    QCOMPARE(dialogs.informed, QStringList());

    QCOMPARE(target.Ed_xmlVersion(), g.xmlVersion);
    QCOMPARE(target.Ed_PacketVersion(), g.packetVersion);
    QCOMPARE(target.Ed_LCID(), g.lcid);
    QCOMPARE(target.FieldList(), g.names);
    QCOMPARE(target.FieldCount(), static_cast<int>(g.names.size()));
    QStringList expectedFields;
    for (int f = 0; f < g.names.size(); ++f) {
        expectedFields.append(QStringList{g.names[f], g.typeCodes[f], g.etcs[f], g.widths[f]}.join(u'|'));
        QVERIFY(target.typeIndexOf(g.typeCodes[f]) >= 0);
    }
    QCOMPARE(fieldRows(target), expectedFields);
    QCOMPARE(fieldCaptions(target), Captions);
    QCOMPARE(selected(target.LB_DefOrder()), g.defaultOrder);
    QCOMPARE(selected(target.LB_PriKey()), g.primaryKey);
    QCOMPARE(dataHeaders(target), g.names);
    QCOMPARE(dataRows(target), g.rows);
    QCOMPARE(rowContents(target.SG_Field(), 1, target.FieldCount()), g.fieldContents);
    QCOMPARE(rowContents(target.SG_Data(), 1, target.SG_Data().rowCount() - 1), g.rowContents);
    // What was read writes back to the same text, type codes and all.
    QCOMPARE(writePacket(target), text);
}

void TestPacketReader::example()
{
    const QString text = packet({field(QStringLiteral("ID"), QStringLiteral("i4")),
                                 QStringLiteral("<FIELD attrname=\"NAME\" fieldtype=\"string\" required=\"true\" "
                                                "WIDTH=\"20\"/>")},
                                params(QStringLiteral("2"), QStringLiteral("1")),
                                {QStringLiteral("<ROW ID=\"1\" NAME=\"Apple\"/>"), QStringLiteral("<ROW ID=\"2\"/>")});
    TWorkspace ws;
    ws.ResetWorkspace();
    FakeDialogs dialogs;
    QCOMPARE(read(ws, text, dialogs), QString());
    QCOMPARE(fieldRows(ws),
             QStringList({QStringLiteral("ID|i4||"), QStringLiteral("NAME|string|required=\"true\"|20")}));
    QCOMPARE(ws.SG_Field().rowCount(), 3);
    QCOMPARE(selected(ws.LB_DefOrder()), QList<int>{2});
    QCOMPARE(selected(ws.LB_PriKey()), QList<int>{1});
    QCOMPARE(dataRows(ws), Rows({{QStringLiteral("1"), QStringLiteral("Apple")}, {QStringLiteral("2"), QString()}}));
    QCOMPARE(ws.typeList().mid(10), QStringList({QStringLiteral("i4"), QStringLiteral("string")}));
}

void TestPacketReader::stops_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("xmlVersion");
    QTest::addColumn<QString>("packetVersion");
    QTest::addColumn<QString>("lcid");
    QTest::addColumn<QStringList>("fieldNames");
    QTest::addColumn<QStringList>("keyItems");
    QTest::addColumn<QList<int>>("defaultOrder");
    QTest::addColumn<QList<int>>("primaryKey");
    QTest::addColumn<Rows>("rows");

    const QStringList old{QStringLiteral("OLD1"), QStringLiteral("OLD2"), QStringLiteral("OLD3")};
    const Rows oldRows{{QStringLiteral("v01"), QStringLiteral("v11"), QStringLiteral("v21")},
                       {QStringLiteral("v02"), QStringLiteral("v12"), QStringLiteral("v22")},
                       {QStringLiteral("v03"), QStringLiteral("v13"), QStringLiteral("v23")}};
    const QString head = QStringLiteral("<?xml version=\"1.5\" standalone=\"yes\"?>\r\n");
    const QString packetStart = QStringLiteral("<DATAPACKET Version=\"2.5\">\r\n");
    const QString fields = QStringLiteral("<METADATA>\r\n<FIELDS>\r\n") +
                           field(QStringLiteral("A"), QStringLiteral("i4")) + QStringLiteral("\r\n") +
                           field(QStringLiteral("B"), QStringLiteral("string")) + QStringLiteral("\r\n</FIELDS>\r\n") +
                           params(QStringLiteral("2"), QStringLiteral("1 2")) + QStringLiteral("\r\n</METADATA>\r\n");
    const QString rows = QStringLiteral("<ROWDATA>\r\n<ROW A=\"1\" B=\"x\"/>\r\n<ROW B=\"y\"/>\r\n</ROWDATA>\r\n");
    const QStringList ab{QStringLiteral("A"), QStringLiteral("B")};

    const QString before = QStringLiteral("2052");
    const QString read = QStringLiteral("1041");
    QTest::newRow("empty text: only the captions") << QString() << QStringLiteral("9.9") << QStringLiteral("8.8")
                                                   << before << old << old << QList<int>{3} << QList<int>{1} << oldRows;
    QTest::newRow("no <DATAPACKET Version=\": also the xml version")
        << QString(head + fields + rows) << QStringLiteral("1.5") << QStringLiteral("8.8") << before << old << old
        << QList<int>{3} << QList<int>{1} << oldRows;
    QTest::newRow("no <FIELDS: versions, no fields, key lists kept")
        << QString(head + packetStart + rows) << QStringLiteral("1.5") << QStringLiteral("2.5") << before
        << QStringList() << old << QList<int>{3} << QList<int>{1} << Rows{{QString()}};
    QTest::newRow("no <ROWDATA: versions, fields, keys and LCID, one empty row")
        << QString(head + packetStart + fields) << QStringLiteral("1.5") << QStringLiteral("2.5") << read << ab << ab
        << QList<int>{2} << QList<int>{1, 2} << Rows{{QString(), QString()}};
    const Rows complete{{QStringLiteral("1"), QStringLiteral("x")}, {QString(), QStringLiteral("y")}};
    QTest::newRow("no further <ROW: complete")
        << QString(head + packetStart + fields + rows) << QStringLiteral("1.5") << QStringLiteral("2.5") << read << ab
        << ab << QList<int>{2} << QList<int>{1, 2} << complete;
    QTest::newRow("no XML declaration: read as version 1.0")
        << QString(packetStart + fields + rows) << QStringLiteral("1.0") << QStringLiteral("2.5") << read << ab << ab
        << QList<int>{2} << QList<int>{1, 2} << complete;
    QTest::newRow("no XML declaration, no <DATAPACKET Version=\": only the captions")
        << QString(fields + rows) << QStringLiteral("9.9") << QStringLiteral("8.8") << before << old << old
        << QList<int>{3} << QList<int>{1} << oldRows;
}

void TestPacketReader::stops()
{
    QFETCH(QString, text);
    QFETCH(QString, xmlVersion);
    QFETCH(QString, packetVersion);
    QFETCH(QString, lcid);
    QFETCH(QStringList, fieldNames);
    QFETCH(QStringList, keyItems);
    QFETCH(QList<int>, defaultOrder);
    QFETCH(QList<int>, primaryKey);
    QFETCH(Rows, rows);

    TWorkspace ws;
    fillWorkspace(ws);
    const QStringList typesBefore = ws.typeList();
    FakeDialogs dialogs;
    QCOMPARE(read(ws, text, dialogs), QString());
    QCOMPARE(dialogs.informed, QStringList());

    QCOMPARE(fieldCaptions(ws), Captions);
    QCOMPARE(ws.Ed_xmlVersion(), xmlVersion);
    QCOMPARE(ws.Ed_PacketVersion(), packetVersion);
    QCOMPARE(ws.Ed_LCID(), lcid);
    QCOMPARE(ws.FieldList(), fieldNames);
    QCOMPARE(ws.FieldCount(), static_cast<int>(fieldNames.size()));
    QCOMPARE(ws.LB_DefOrder().items(), keyItems);
    QCOMPARE(ws.LB_PriKey().items(), keyItems);
    QCOMPARE(selected(ws.LB_DefOrder()), defaultOrder);
    QCOMPARE(selected(ws.LB_PriKey()), primaryKey);
    QCOMPARE(dataRows(ws), rows);
    QCOMPARE(ws.SG_Field().rowCount(), std::max(2, static_cast<int>(fieldNames.size()) + 1));
    if (fieldNames.isEmpty() && xmlVersion != QStringLiteral("9.9") && packetVersion != QStringLiteral("8.8")) {
        // The reset empties every cell, the headers of both tables included (the field table keeps its captions).
        QCOMPARE(dataHeaders(ws), QStringList{QString()});
        QCOMPARE(fieldRows(ws), QStringList());
        QCOMPARE(QStringList({ws.SG_Field().cell(FieldNameColumn, 1), ws.SG_Field().cell(FieldTypeColumn, 1),
                              ws.SG_Field().cell(FieldEtcColumn, 1), ws.SG_Field().cell(FieldWidthColumn, 1)}),
                 QStringList({QString(), QString(), QString(), QString()}));
    }
    // The type list only ever grows.
    QCOMPARE(ws.typeList().mid(0, typesBefore.size()), typesBefore);
}

void TestPacketReader::showHandler()
{
    TWorkspace ws;
    fillWorkspace(ws);
    FakeDialogs dialogs;
    bool asked = false;
    const auto text = [&] {
        asked = true;
        return packet({field(QStringLiteral("A"), QStringLiteral("i4"))}, params({}, {}), {});
    };
    ws.rebuilt();
    QVERIFY(!readTextIntoWorkspace(ws, text, dialogs));
    QVERIFY(!asked);
    QCOMPARE(ws.FieldList(), QStringList({QStringLiteral("OLD1"), QStringLiteral("OLD2"), QStringLiteral("OLD3")}));
    QCOMPARE(fieldCaptions(ws), QStringList({QString(), QString(), QString(), QString()}));

    ws.markRebuildDue();
    QVERIFY(readTextIntoWorkspace(ws, text, dialogs));
    QVERIFY(asked);
    QVERIFY(!ws.NeedsRebuild());
    QCOMPARE(ws.FieldList(), QStringList{QStringLiteral("A")});
}

void TestPacketReader::markersInAnyCase()
{
    const QString text =
        lines({QStringLiteral("<?XML VERSION=\"1.1\"?>"), QStringLiteral("<datapacket version=\"3\">"),
               QStringLiteral("<Fields>"), QStringLiteral("<field AttrName=\"id\" FIELDTYPE=\"i4\" width=\"7\"/>"),
               QStringLiteral("<fIeLd attrname=\"Name\" fieldType=\"string\"/>"), QStringLiteral("</Fields>"),
               QStringLiteral("<params default_order=\"2\" primary_key=\"1\" lcid=\"1041\"/>"),
               QStringLiteral("<RowData>"), QStringLiteral("<row ID=\"5\" NAME=\"Pear\"/>"),
               QStringLiteral("<Row nAmE=\"Fig\"/>"), QStringLiteral("</RowData>")});
    TWorkspace ws;
    FakeDialogs dialogs;
    QCOMPARE(read(ws, text, dialogs), QString());
    QCOMPARE(ws.Ed_xmlVersion(), QStringLiteral("1.1"));
    QCOMPARE(ws.Ed_PacketVersion(), QStringLiteral("3"));
    QCOMPARE(fieldRows(ws), QStringList({QStringLiteral("id|i4||7"), QStringLiteral("Name|string||")}));
    QCOMPARE(selected(ws.LB_DefOrder()), QList<int>{2});
    QCOMPARE(selected(ws.LB_PriKey()), QList<int>{1});
    QCOMPARE(dataRows(ws), Rows({{QStringLiteral("5"), QStringLiteral("Pear")}, {QString(), QStringLiteral("Fig")}}));
}

void TestPacketReader::emptyFieldNameEndsScan()
{
    const QString text =
        packet({field(QStringLiteral("A"), QStringLiteral("i4")), field(QString(), QStringLiteral("i4")),
                field(QStringLiteral("C"), QStringLiteral("i4"))},
               params(QStringLiteral("1 3"), QStringLiteral("1")), {QStringLiteral("<ROW A=\"1\" C=\"3\"/>")});
    TWorkspace ws;
    FakeDialogs dialogs;
    QCOMPARE(read(ws, text, dialogs), QString());
    QCOMPARE(ws.FieldList(), QStringList{QStringLiteral("A")});
    QCOMPARE(dialogs.informed, QStringList());
    QCOMPARE(selected(ws.LB_DefOrder()), QList<int>{1});
    QCOMPARE(selected(ws.LB_PriKey()), QList<int>{1});
    QCOMPARE(dataRows(ws), Rows{{QStringLiteral("1")}});
}

void TestPacketReader::widthMarker_data()
{
    QTest::addColumn<QString>("element");
    QTest::addColumn<QString>("expected");

    QTest::newRow("no width: other settings up to />")
        << QStringLiteral("<FIELD attrname=\"A\" fieldtype=\"i4\" required=\"true\"/>")
        << QStringLiteral("A|i4|required=\"true\"|");
    QTest::newRow("width after other settings")
        << QStringLiteral("<FIELD attrname=\"A\" fieldtype=\"i4\" required=\"true\" WIDTH=\"12\"/>")
        << QStringLiteral("A|i4|required=\"true\"|12");
    QTest::newRow("width alone") << QStringLiteral("<FIELD attrname=\"A\" fieldtype=\"i4\" WIDTH=\"12\"/>")
                                 << QStringLiteral("A|i4||12");
    QTest::newRow("WIDTH=\" right before />: not taken, kept in the other settings")
        << QStringLiteral("<FIELD attrname=\"A\" fieldtype=\"i4\" x=\"1\" WIDTH=\"/>")
        << QStringLiteral("A|i4|x=\"1\" WIDTH=\"|");
    QTest::newRow("one character before />: taken")
        << QStringLiteral("<FIELD attrname=\"A\" fieldtype=\"i4\" WIDTH=\"7/>")
        << QStringLiteral("A|i4||7/>\r\n<FIELD attrname=");
    QTest::newRow("nothing but the separator before />")
        << QStringLiteral("<FIELD attrname=\"A\" fieldtype=\"i4\" />") << QStringLiteral("A|i4||");
}

void TestPacketReader::widthMarker()
{
    QFETCH(QString, element);
    QFETCH(QString, expected);
    // A second field follows, so that a width whose closing quote is missing runs into it.
    const QString text = packet({element, field(QStringLiteral("B"), QStringLiteral("r8"))}, params({}, {}), {});
    TWorkspace ws;
    FakeDialogs dialogs;
    const QString failure = read(ws, text, dialogs);
    QCOMPARE(fieldRows(ws).value(0), expected);
    if (expected.endsWith(QStringLiteral("<FIELD attrname="))) {
        // That width is no integer, which ends the reader after the field.
        QCOMPARE(failure, QStringLiteral("'7/>\r\n<FIELD attrname=' は整数ではありません"));
        QCOMPARE(ws.FieldList(), QStringList{QStringLiteral("A")});
    } else {
        QCOMPARE(failure, QString());
        QCOMPARE(fieldRows(ws).value(1), QStringLiteral("B|r8||"));
    }
}

void TestPacketReader::fieldStartTags_data()
{
    QTest::addColumn<QStringList>("elements");
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<QStringList>("contents");

    const QString c = QStringLiteral("C|i2||");
    const QString plainC = QStringLiteral("<FIELD attrname=\"C\" fieldtype=\"i2\"/>");
    const auto row = [&](const char* name, QStringList elements, QStringList expected, QStringList contents = {}) {
        elements.append(plainC);
        expected.append(c);
        while (contents.size() < expected.size()) {
            contents.append(QString());
        }
        QTest::newRow(name) << elements << expected << contents;
    };
    row("attrname after fieldname", {"<FIELD fieldname=\"Species No\" attrname=\"Species_No\" fieldtype=\"i4\"/>"},
        {"Species_No|i4|fieldname=\"Species No\"|"});
    row("fieldtype first, other settings between",
        {"<FIELD fieldtype=\"string\" a=\"1\" attrname=\"N\" b=\"2\" WIDTH=\"9\" c=\"3\"/>"},
        {"N|string|a=\"1\" b=\"2\" c=\"3\"|9"});
    row("attributes after WIDTH", {"<FIELD attrname=\"ID\" fieldtype=\"string\" WIDTH=\"10\" required=\"true\"/>"},
        {"ID|string|required=\"true\"|10"});
    row("attributes before WIDTH, as the writer writes them",
        {"<FIELD attrname=\"NAME\" fieldtype=\"string\" required=\"true\" WIDTH=\"20\"/>"},
        {"NAME|string|required=\"true\"|20"});
    row("no fieldtype: empty type, its own settings, the next field read",
        {"<FIELD attrname=\"A\" WIDTH=\"4\" x=\"1\"/>", "<FIELD attrname=\"B\" fieldtype=\"string\"/>"},
        {"A||x=\"1\"|4", "B|string||"});
    row("a type marker inside another value is no attribute",
        {"<FIELD attrname=\"A\" note=\" fieldtype=&quot;x\" fieldtype=\"i4\"/>"},
        {"A|i4|note=\" fieldtype=&quot;x\"|"});
    row("the writer's letter case wins over another case",
        {"<FIELD ATTRNAME=\"X\" attrname=\"A\" FieldType=\"r8\" fieldtype=\"i4\"/>"},
        {"A|i4|ATTRNAME=\"X\" FieldType=\"r8\"|"});
    row("line breaks and tabs between attributes",
        {"<FIELD\r\nattrname=\"A\"\tfieldtype=\"i4\"\r\n\tx=\"1\"\r\nWIDTH=\"3\"/>"}, {"A|i4|\tx=\"1\"|3"});
    row("> and quotes inside values", {"<FIELD attrname=\"A\" fieldtype=\"i4\" a=\"x>y\" b='it\"s' c=\"/>\"/>"},
        {"A|i4|a=\"x>y\" b='it\"s' c=\"/>\"|"});
    row("no attrname: skipped with its content",
        {"<FIELD fieldname=\"x\" fieldtype=\"i4\"><PARAM Name=\"a\"/></FIELD>",
         "<FIELD attrname=\"B\" fieldtype=\"i4\"/>"},
        {"B|i4||"});
    row("content: a PARAM child kept",
        {"<FIELD attrname=\"X\" fieldtype=\"i4\" WIDTH=\"2\"><PARAM Name=\"PROVFLAGS\" Value=\"7\" "
         "Type=\"i4\"/></FIELD>"},
        {"X|i4||2"}, {"<PARAM Name=\"PROVFLAGS\" Value=\"7\" Type=\"i4\"/>"});
    row("content: a nested dataset's fields kept, not read as fields",
        {"<FIELD attrname=\"Items\" fieldtype=\"nested\"><FIELDS><FIELD attrname=\"Sub\" fieldtype=\"i4\"><PARAM/>"
         "</FIELD><FIELD attrname=\"S2\" fieldtype=\"r8\"/></FIELDS><PARAMS LCID=\"9\"/></field >"},
        {"Items|nested||"},
        {"<FIELDS><FIELD attrname=\"Sub\" fieldtype=\"i4\"><PARAM/></FIELD><FIELD attrname=\"S2\" fieldtype=\"r8\"/>"
         "</FIELDS><PARAMS LCID=\"9\"/>"});
    row("content: comments and CDATA holding an end tag",
        {"<FIELD attrname=\"X\" fieldtype=\"i4\"><!-- </FIELD> --><![CDATA[</FIELD>]]><?pi </FIELD>?></FIELD>"},
        {"X|i4||"}, {"<!-- </FIELD> --><![CDATA[</FIELD>]]><?pi </FIELD>?>"});
    row("empty content", {"<FIELD attrname=\"X\" fieldtype=\"i4\" a=\"1\"></FIELD>"}, {"X|i4|a=\"1\"|"});
    row("a start tag without end tag keeps no content",
        {"<FIELD attrname=\"X\" fieldtype=\"i4\" a=\"1\">", "<FIELD attrname=\"B\" fieldtype=\"i4\"/>"},
        {"X|i4|a=\"1\"|", "B|i4||"});
}

void TestPacketReader::fieldStartTags()
{
    QFETCH(QStringList, elements);
    QFETCH(QStringList, expected);
    QFETCH(QStringList, contents);
    // One long line, as the dataset library writes packets, and the fields one per line as the writer does.
    for (const bool oneLine : {true, false}) {
        QString text = packet(elements, params(QStringLiteral("2"), {}), {QStringLiteral("<ROW B=\"b\" C=\"c\"/>")});
        if (oneLine) {
            text = QStringLiteral("<?xml version=\"1.0\"?><DATAPACKET Version=\"2.0\"><METADATA><FIELDS>") +
                   elements.join(QString()) +
                   QStringLiteral("</FIELDS><PARAMS DEFAULT_ORDER=\"2\"/></METADATA><ROWDATA><ROW B=\"b\" C=\"c\"/>"
                                  "</ROWDATA></DATAPACKET>");
        }
        TWorkspace ws;
        FakeDialogs dialogs;
        QCOMPARE(read(ws, text, dialogs), QString());
        QCOMPARE(dialogs.informed, QStringList());
        QCOMPARE(fieldRows(ws), expected);
        QCOMPARE(rowContents(ws.SG_Field(), 1, ws.FieldCount()), contents);
        // The key number counts the fields read, and each column gets its own values.
        QCOMPARE(selected(ws.LB_DefOrder()), QList<int>{2});
        QCOMPARE(dataRows(ws).value(0).last(), QStringLiteral("c"));
        // Written back, every field comes back as it was read.
        TWorkspace again;
        QCOMPARE(read(again, writePacket(ws), dialogs), QString());
        QCOMPARE(fieldRows(again), expected);
        QCOMPARE(rowContents(again.SG_Field(), 1, again.FieldCount()), contents);
    }
}

void TestPacketReader::keyNumbers_data()
{
    QTest::addColumn<QString>("numbers");
    QTest::addColumn<QList<int>>("expected");

    QTest::newRow("one") << QStringLiteral("2") << QList<int>{2};
    QTest::newRow("single spaces") << QStringLiteral("1 3") << QList<int>{1, 3};
    QTest::newRow("several spaces") << QStringLiteral("3   1") << QList<int>{1, 3};
    QTest::newRow("leading and trailing spaces") << QStringLiteral("  2  ") << QList<int>{2};
    QTest::newRow("empty") << QString() << QList<int>{};
    QTest::newRow("zero") << QStringLiteral("0") << QList<int>{};
    QTest::newRow("negative") << QStringLiteral("-1") << QList<int>{};
    QTest::newRow("above the field count") << QStringLiteral("4") << QList<int>{};
    QTest::newRow("largest integer") << QStringLiteral("2147483647") << QList<int>{};
    QTest::newRow("out of range, then in range: not run together") << QStringLiteral("5 2") << QList<int>{2};
    QTest::newRow("zero, then one") << QStringLiteral("0 1") << QList<int>{1};
    QTest::newRow("sign and hexadecimal") << QStringLiteral("+1 $3") << QList<int>{1, 3};
    QTest::newRow("repeated") << QStringLiteral("2 2") << QList<int>{2};
    QTest::newRow("a tab, read as a space as XML reads it") << QStringLiteral("2\t1") << QList<int>{1, 2};
}

void TestPacketReader::keyNumbers()
{
    QFETCH(QString, numbers);
    QFETCH(QList<int>, expected);
    const QStringList fields{field(QStringLiteral("A"), QStringLiteral("i4")),
                             field(QStringLiteral("B"), QStringLiteral("i4")),
                             field(QStringLiteral("C"), QStringLiteral("i4"))};
    const QString row = QStringLiteral("<ROW A=\"r\"/>");
    for (const bool primary : {false, true}) {
        const QString text = packet(fields, primary ? params({}, numbers) : params(numbers, {}), {row});
        TWorkspace ws;
        FakeDialogs dialogs;
        QCOMPARE(read(ws, text, dialogs), QString());
        QCOMPARE(selected(primary ? ws.LB_PriKey() : ws.LB_DefOrder()), expected);
        QCOMPARE(selected(primary ? ws.LB_DefOrder() : ws.LB_PriKey()), QList<int>());
        QCOMPARE(dataRows(ws), Rows({{QStringLiteral("r"), QString(), QString()}}));
    }
}

void TestPacketReader::keyNumberNotInteger_data()
{
    QTest::addColumn<QString>("defaultOrder");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QList<int>>("selectedBefore");

    QTest::newRow("a letter after a good number")
        << QStringLiteral("1 a 2") << QStringLiteral("'a' は整数ではありません") << QList<int>{1};
    QTest::newRow("beyond 32 bits") << QStringLiteral("2147483648")
                                    << QStringLiteral("'2147483648' は整数ではありません") << QList<int>{};
    QTest::newRow("a comma") << QStringLiteral("2,1") << QStringLiteral("'2,1' は整数ではありません") << QList<int>{};
}

void TestPacketReader::keyNumberNotInteger()
{
    QFETCH(QString, defaultOrder);
    QFETCH(QString, message);
    QFETCH(QList<int>, selectedBefore);
    const QString text =
        packet({field(QStringLiteral("A"), QStringLiteral("i4")), field(QStringLiteral("B"), QStringLiteral("i4"))},
               params(defaultOrder, QStringLiteral("2")), {QStringLiteral("<ROW A=\"1\"/>")});
    TWorkspace ws;
    ws.setLCID(QStringLiteral("7"));
    FakeDialogs dialogs;
    QCOMPARE(read(ws, text, dialogs), QString(message));
    QCOMPARE(ws.Ed_xmlVersion(), QStringLiteral("1.0"));
    QCOMPARE(ws.FieldList(), QStringList({QStringLiteral("A"), QStringLiteral("B")}));
    QCOMPARE(selected(ws.LB_DefOrder()), selectedBefore);
    QCOMPARE(selected(ws.LB_PriKey()), QList<int>());
    QCOMPARE(dataRows(ws), Rows({{QString(), QString()}}));
    // The LCID is read before the keys: the failure does not lose it.
    QCOMPARE(ws.Ed_LCID(), QStringLiteral("1041"));
}

void TestPacketReader::repeatedFieldNames()
{
    const QString text =
        packet({field(QStringLiteral("A"), QStringLiteral("i4")), field(QStringLiteral("a"), QStringLiteral("date")),
                field(QStringLiteral("B"), QStringLiteral("string")),
                field(QStringLiteral("C"), QStringLiteral("string")), field(QStringLiteral("b"), QStringLiteral("r8"))},
               params(QStringLiteral("3"), QStringLiteral("1 4")),
               {QStringLiteral("<ROW A=\"1\" a=\"2\" B=\"3\" C=\"4\" b=\"5\"/>")});
    TWorkspace ws;
    FakeDialogs dialogs;
    QCOMPARE(read(ws, text, dialogs), QString());
    QCOMPARE(dialogs.informed, QStringList({NameTaken, NameTaken}));
    QCOMPARE(ws.FieldList(), QStringList({QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("C")}));
    QCOMPARE(fieldRows(ws),
             QStringList({QStringLiteral("A|i4||"), QStringLiteral("B|string||"), QStringLiteral("C|string||")}));
    QCOMPARE(ws.SG_Data().colCount(), 3);
    // Numbers count positions in the field list: 3 (meant for B) now selects C, and 4 selects nothing.
    QCOMPARE(selected(ws.LB_DefOrder()), QList<int>{3});
    QCOMPARE(selected(ws.LB_PriKey()), QList<int>{1});
    // The first attribute of each name fills the column.
    QCOMPARE(dataRows(ws), Rows({{QStringLiteral("1"), QStringLiteral("3"), QStringLiteral("4")}}));
    // The refused type code never reached the type list.
    QVERIFY(!ws.typeList().contains(QStringLiteral("date")));
}

void TestPacketReader::largeValues_data()
{
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<bool>("blob");

    const QString v16379(16379, u'x');
    QString base64;
    for (int i = 0; i < 30000; ++i) {
        base64 += QLatin1Char("ABCxyz019+/"[i % 11]);
    }
    base64 += QStringLiteral("==");
    QTest::newRow("16,379 characters") << v16379 << v16379 << false;
    QTest::newRow("16,380 characters: large") << QString(16380, u'x') << QString(16380, u'x') << true;
    QTest::newRow("20,000 Japanese characters: large") << QString(20000, u'字') << QString(20000, u'字') << true;
    QTest::newRow("an image as base64 on one line: large") << base64 << base64 << true;
    QTest::newRow("16,380 as written, shorter once decoded: large")
        << QString(QString(16375, u'y') + QStringLiteral("&amp;")) << QString(QString(16375, u'y') + u'&') << true;
    QTest::newRow("16,379 as written with a reference")
        << QString(QString(16374, u'y') + QStringLiteral("&amp;")) << QString(QString(16374, u'y') + u'&') << false;
}

void TestPacketReader::largeValues()
{
    QFETCH(QString, value);
    QFETCH(QString, expected);
    QFETCH(bool, blob);
    const QString text = packet(
        {field(QStringLiteral("A"), QStringLiteral("bin.hex")), field(QStringLiteral("B"), QStringLiteral("i4"))},
        params({}, {}), {QStringLiteral("<ROW A=\"%1\" B=\"2\"/>").arg(value)});
    TWorkspace ws;
    FakeDialogs dialogs;
    QCOMPARE(read(ws, text, dialogs), QString());
    // Kept whole; the data table shows the large ones as <BLOB>, and the writer writes them back whole.
    QCOMPARE(ws.SG_Data().cell(0, 1), expected);
    QCOMPARE(ws.SG_Data().cell(1, 1), QStringLiteral("2"));
    QCOMPARE(isBlobValue(ws.SG_Data().cell(0, 1)), blob);
    ws.setDataCell(1, 1, QStringLiteral("3"));
    QVERIFY(writePacket(ws).contains(QStringLiteral("<ROW A=\"%1\" B=\"3\"/>").arg(escapeRowValue(expected))));
}

void TestPacketReader::rowElements_data()
{
    QTest::addColumn<QString>("third");
    QTest::addColumn<QStringList>("rows");
    QTest::addColumn<Rows>("expected");
    QTest::addColumn<QStringList>("contents");

    const QString a = QStringLiteral("C");
    QTest::newRow("content kept, nested rows not read as rows")
        << a
        << QStringList{"<ROW A=\"1\"><Items><ROWItems X=\"1\"/><ROW A=\"9\"/><ROW B=\"8\"></ROW></Items></ROW>",
                       "<ROW B=\"2\"/>"}
        << Rows{{"1", "", ""}, {"", "2", ""}}
        << QStringList{"<Items><ROWItems X=\"1\"/><ROW A=\"9\"/><ROW B=\"8\"></ROW></Items>", ""};
    QTest::newRow("content without values") << a << QStringList{"<ROW ><X/></ROW>", "<ROW A=\"1\"></ROW>"}
                                            << Rows{{"", "", ""}, {"1", "", ""}} << QStringList{"<X/>", ""};
    QTest::newRow("> in a value is no end of the start tag")
        << a << QStringList{"<ROW A=\"x>y\" B=\"2\"/>", "<ROW A=\"3\"/>"} << Rows{{"x>y", "2", ""}, {"3", "", ""}}
        << QStringList{"", ""};
    QTest::newRow("change log: earlier versions and deleted rows left out")
        << a << QStringList{"<ROW RowState=\"1\" A=\"old\"/>",
                            "<ROW RowState=\"8\" A=\"new\"/>",
                            "<ROW A=\"gone\" rowstate=\"2\"><X/></ROW>",
                            "<ROW RowState=\"4\" A=\"added\"/>",
                            "<ROW RowState=\"3\" A=\"x\"/>",
                            "<ROW A=\"plain\"/>",
                            "<ROW RowState=\"12\" B=\"b\"/>",
                            "<ROW RowState=\"x\" A=\"kept\"/>",
                            "<ROW RowState=\"9\" A=\"last\"/>"}
        << Rows{{"new", "", ""}, {"added", "", ""}, {"plain", "", ""}, {"", "b", ""}, {"kept", "", ""}}
        << QStringList{"", "", "", "", ""};
    QTest::newRow("change log: every row deleted")
        << a << QStringList{"<ROW RowState=\"2\" A=\"1\"/>"} << Rows{{"", "", ""}} << QStringList{""};
    QTest::newRow("a field named RowState is data")
        << QStringLiteral("RowState") << QStringList{"<ROW RowState=\"2\" A=\"1\"/>"} << Rows{{"1", "", "2"}}
        << QStringList{""};
}

void TestPacketReader::rowElements()
{
    QFETCH(QString, third);
    QFETCH(QStringList, rows);
    QFETCH(Rows, expected);
    QFETCH(QStringList, contents);
    const QStringList fields{field(QStringLiteral("A"), QStringLiteral("string")),
                             field(QStringLiteral("B"), QStringLiteral("string")), field(third, QStringLiteral("i4"))};
    QString text = packet(fields, QStringLiteral("<PARAMS CHANGE_LOG=\"1 0 4 2 0 8\" LCID=\"1033\"/>"), rows);
    for (const bool oneLine : {false, true}) {
        if (oneLine) {
            text.remove(QStringLiteral("\r\n"));
        }
        TWorkspace ws;
        FakeDialogs dialogs;
        QCOMPARE(read(ws, text, dialogs), QString());
        QCOMPARE(ws.FieldCount(), 3);
        QCOMPARE(dataRows(ws), expected);
        QCOMPARE(rowContents(ws.SG_Data(), 1, ws.SG_Data().rowCount() - 1), contents);
        // Written back merged: the current rows with their content, no row state and no change log.
        const QString written = writePacket(ws);
        QCOMPARE(written.contains(QStringLiteral("CHANGE_LOG"), Qt::CaseInsensitive), false);
        QCOMPARE(written.count(QStringLiteral("RowState=\""), Qt::CaseInsensitive),
                 third == QStringLiteral("C") ? 0 : 1);
        TWorkspace again;
        QCOMPARE(read(again, written, dialogs), QString());
        QCOMPARE(dataRows(again), expected);
        QCOMPARE(rowContents(again.SG_Data(), 1, again.SG_Data().rowCount() - 1), contents);
    }
}

void TestPacketReader::endMarkerInsideValue()
{
    const QString text =
        packet({field(QStringLiteral("A"), QStringLiteral("string")), field(QStringLiteral("B"), QStringLiteral("i4"))},
               params({}, {}),
               {QStringLiteral("<ROW B=\"0\" A=\"x/>y\" B=\"2\"/>"), QStringLiteral("<ROW A=\"z\" B=\"3\"/>")});
    TWorkspace ws;
    FakeDialogs dialogs;
    QCOMPARE(read(ws, text, dialogs), QString());
    // The element ends inside A's value: A has no closing quote before that end.
    QCOMPARE(dataRows(ws), Rows({{QString(), QStringLiteral("0")}, {QStringLiteral("z"), QStringLiteral("3")}}));
}

void TestPacketReader::widthNotInteger()
{
    const QString text = packet({field(QStringLiteral("A"), QStringLiteral("i4")),
                                 QStringLiteral("<FIELD attrname=\"B\" fieldtype=\"r8\" WIDTH=\"1.5\"/>"),
                                 field(QStringLiteral("C"), QStringLiteral("i4"))},
                                params(QStringLiteral("1"), QStringLiteral("2")), {QStringLiteral("<ROW A=\"1\"/>")});
    TWorkspace ws;
    FakeDialogs dialogs;
    QCOMPARE(read(ws, text, dialogs), QString(QStringLiteral("'1.5' は整数ではありません")));
    QCOMPARE(fieldRows(ws), QStringList({QStringLiteral("A|i4||"), QStringLiteral("B|r8||1.5")}));
    QCOMPARE(dataHeaders(ws), QStringList({QStringLiteral("A"), QStringLiteral("B")}));
    QCOMPARE(selected(ws.LB_DefOrder()), QList<int>());
    QCOMPARE(selected(ws.LB_PriKey()), QList<int>());
    QCOMPARE(dataRows(ws), Rows({{QString(), QString()}}));
}

void TestPacketReader::keyStartsAnAttribute_data()
{
    QTest::addColumn<QString>("row");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("pid before id") << QStringLiteral("<ROW pid=\"7\" id=\"3\"/>")
                                   << QStringList({QStringLiteral("3"), QStringLiteral("7")});
    QTest::newRow("only pid") << QStringLiteral("<ROW pid=\"7\"/>") << QStringList({QString(), QStringLiteral("7")});
    QTest::newRow("xid and pid, no id") << QStringLiteral("<ROW xid=\"1\" pid=\"2\"/>")
                                        << QStringList({QString(), QStringLiteral("2")});
    QTest::newRow("after a tab") << QStringLiteral("<ROW pid=\"7\"\tid=\"3\"/>")
                                 << QStringList({QStringLiteral("3"), QStringLiteral("7")});
    QTest::newRow("on the next line") << QStringLiteral("<ROW pid=\"7\"\r\nid=\"3\"/>")
                                      << QStringList({QStringLiteral("3"), QStringLiteral("7")});
    QTest::newRow("right after a quote: not an attribute start")
        << QStringLiteral("<ROW pid=\"7\"id=\"3\"/>") << QStringList({QString(), QStringLiteral("7")});
    QTest::newRow("inside a value after a space: a plain text search finds it")
        << QStringLiteral("<ROW pid=\"a id=\"/>") << QStringList({QString(), QStringLiteral("a id=")});
    QTest::newRow("inside a value ending in =: the value read whole, as XML reads it")
        << QStringLiteral("<ROW pid=\"a id=\" x=\"3\"/>") << QStringList({QString(), QStringLiteral("a id=")});
    QTest::newRow("first of two") << QStringLiteral("<ROW id=\"1\" id=\"2\"/>")
                                  << QStringList({QStringLiteral("1"), QString()});
}

void TestPacketReader::keyStartsAnAttribute()
{
    QFETCH(QString, row);
    QFETCH(QStringList, expected);
    const QString text =
        packet({field(QStringLiteral("id"), QStringLiteral("i4")), field(QStringLiteral("pid"), QStringLiteral("i4"))},
               params({}, {}), {row});
    TWorkspace ws;
    FakeDialogs dialogs;
    QCOMPARE(read(ws, text, dialogs), QString());
    QCOMPARE(dataRows(ws), Rows{expected});
}

void TestPacketReader::rowKeyLetterCase_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("attribute");
    QTest::addColumn<bool>("matches");

    QTest::newRow("ASCII") << QStringLiteral("UserId") << QStringLiteral("uSERiD") << true;
    QTest::newRow("accented Latin") << QStringLiteral("Ünïcode") << QStringLiteral("üNÏCODE") << true;
    QTest::newRow("Greek final sigma") << QStringLiteral("ΟΔΟΣ") << QStringLiteral("οδος") << true;
    QTest::newRow("Kelvin sign") << QStringLiteral("Kelvin") << QStringLiteral("\u212Aelvin") << true;
    QTest::newRow("beyond the BMP") << QString::fromUcs4(U"\U00010400x") << QString::fromUcs4(U"\U00010428X") << true;
    QTest::newRow("full width is not case") << QStringLiteral("ID") << QStringLiteral("ＩＤ") << false;
    QTest::newRow("half-width kana is not case") << QStringLiteral("ｶﾅ") << QStringLiteral("カナ") << false;
    QTest::newRow("sharp s does not expand") << QStringLiteral("Straße") << QStringLiteral("STRASSE") << false;
    QTest::newRow("a name ending in =") << QStringLiteral("a=") << QStringLiteral("A=") << true;
    QTest::newRow("a longer attribute") << QStringLiteral("ab") << QStringLiteral("abc") << false;
    QTest::newRow("a long name") << QString(40, u'n') << QString(40, u'N') << true;
}

void TestPacketReader::rowKeyLetterCase()
{
    QFETCH(QString, name);
    QFETCH(QString, attribute);
    QFETCH(bool, matches);
    // The reader folds case as field names are compared everywhere else.
    QCOMPARE(name.compare(attribute, Qt::CaseInsensitive) == 0, matches);
    const QString text =
        packet({field(name, QStringLiteral("string")), field(QStringLiteral("z"), QStringLiteral("i4"))},
               params({}, {}), {QStringLiteral("<ROW %1=\"1\" z=\"2\"/>").arg(attribute)});
    TWorkspace ws;
    FakeDialogs dialogs;
    QCOMPARE(read(ws, text, dialogs), QString());
    QCOMPARE(ws.FieldList(), QStringList({name, QStringLiteral("z")}));
    QCOMPARE(dataRows(ws), Rows({{matches ? QStringLiteral("1") : QString(), QStringLiteral("2")}}));
}

void TestPacketReader::rowAttributesInAnyOrder_data()
{
    // A row gives fields by number, each with a value of its own; a negative number gives that field's name in
    // another letter case (the fields are f0 .. f39; -7 is written F7).
    QTest::addColumn<QList<int>>("order");
    QTest::addColumn<QString>("road");

    const QList<QList<int>> orders = {
        {0, 1, 2, 39},            // in order, then a jump past many fields without value
        {39, 38, 20, 3, 2, 1, 0}, // reversed
        {5, 30, 6, 31, 7, 32},    // back and forth
        {-12, 0, -39, 1},         // another letter case
        {25, 3, 25},              // a name given twice: the first value counts
    };
    // Rows in the plain form, rows that are well-formed in another form, and rows in a text that is not.
    for (const QString& road : {QStringLiteral("plain"), QStringLiteral("xml"), QStringLiteral("scan")}) {
        for (qsizetype i = 0; i < orders.size(); ++i) {
            QTest::addRow("%s %lld", qPrintable(road), static_cast<long long>(i)) << orders[i] << road;
        }
    }
}

void TestPacketReader::rowAttributesInAnyOrder()
{
    QFETCH(QList<int>, order);
    QFETCH(QString, road);
    constexpr int FieldCount = 40;
    QStringList fields;
    for (int i = 0; i < FieldCount; ++i) {
        fields += field(QStringLiteral("f%1").arg(i), QStringLiteral("string"));
    }
    const QString separator = road == QStringLiteral("plain") ? QStringLiteral(" ") : QStringLiteral("\r\n\t");
    QString row = QStringLiteral("<ROW");
    QStringList expected(FieldCount);
    for (const int n : order) {
        const int i = std::abs(n);
        const QString value = QStringLiteral("v%1-%2").arg(i).arg(row.size());
        row += (row.size() == 4 ? QStringLiteral(" ") : separator) +
               QStringLiteral("%1%2=\"%3\"").arg(n < 0 ? QStringLiteral("F") : QStringLiteral("f")).arg(i).arg(value);
        if (expected[i].isEmpty()) {
            expected[i] = value;
        }
    }
    row += QStringLiteral("/>");
    // A duplicated attribute is not well-formed: that row goes by the scan whatever the rest.
    const bool wellFormed = std::set<int>(order.begin(), order.end()).size() == static_cast<size_t>(order.size());
    QStringList rows{row};
    Rows expectedRows{expected};
    if (road == QStringLiteral("scan") && wellFormed) {
        rows += QStringLiteral("<ROW f0=\"a & b\"/>");
        QStringList second(FieldCount);
        second[0] = QStringLiteral("a & b");
        expectedRows += second;
    }
    TWorkspace ws;
    FakeDialogs dialogs;
    QCOMPARE(read(ws, packet(fields, params({}, {}), rows), dialogs), QString());
    QCOMPARE(dataRows(ws), expectedRows);
}

void TestPacketReader::decode_data()
{
    QTest::addColumn<QString>("written");
    QTest::addColumn<QString>("expected");

    QTest::newRow("plain") << QStringLiteral("abc 日本") << QStringLiteral("abc 日本");
    QTest::newRow("five entities") << QStringLiteral("&amp;&lt;&gt;&quot;&apos;") << QStringLiteral("&<>\"'");
    QTest::newRow("one pass: &amp;lt;") << QStringLiteral("&amp;lt;") << QStringLiteral("&lt;");
    QTest::newRow("decimal") << QStringLiteral("&#65;") << QStringLiteral("A");
    QTest::newRow("decimal with leading zeros") << QStringLiteral("&#0065;") << QStringLiteral("A");
    QTest::newRow("hexadecimal") << QStringLiteral("&#x41;") << QStringLiteral("A");
    QTest::newRow("hexadecimal, upper-case digits") << QStringLiteral("&#x3042;&#x30A2;") << QStringLiteral("あア");
    QTest::newRow("line breaks and tab") << QStringLiteral("a&#13;&#10;b&#9;c") << QStringLiteral("a\r\nb\tc");
    QTest::newRow("beyond the BMP") << QStringLiteral("&#x1F600;") << QString::fromUcs4(U"\U0001F600");
    QTest::newRow("largest scalar value") << QStringLiteral("&#x10FFFF;") << QString::fromUcs4(U"\U0010FFFF");
    QTest::newRow("upper-case X kept") << QStringLiteral("&#X41;") << QStringLiteral("&#X41;");
    QTest::newRow("entity names are case-sensitive") << QStringLiteral("&AMP;&Lt;") << QStringLiteral("&AMP;&Lt;");
    QTest::newRow("zero kept") << QStringLiteral("&#0;") << QStringLiteral("&#0;");
    QTest::newRow("surrogate kept") << QStringLiteral("&#xD800;") << QStringLiteral("&#xD800;");
    QTest::newRow("beyond U+10FFFF kept") << QStringLiteral("&#x110000;") << QStringLiteral("&#x110000;");
    QTest::newRow("very long number kept")
        << QStringLiteral("&#99999999999999999999;") << QStringLiteral("&#99999999999999999999;");
    QTest::newRow("unterminated &amp kept") << QStringLiteral("a&amp") << QStringLiteral("a&amp");
    QTest::newRow("no digits kept") << QStringLiteral("&#;&#x;") << QStringLiteral("&#;&#x;");
    QTest::newRow("unknown entity kept") << QStringLiteral("&nbsp;&copy;") << QStringLiteral("&nbsp;&copy;");
    QTest::newRow("lone ampersands") << QStringLiteral("& && &") << QStringLiteral("& && &");
    QTest::newRow("ampersand before a reference") << QStringLiteral("&&#65;") << QStringLiteral("&A");
    QTest::newRow("hex digit in a decimal reference kept") << QStringLiteral("&#6A;") << QStringLiteral("&#6A;");
    QTest::newRow("space before the semicolon kept") << QStringLiteral("&#65 ;") << QStringLiteral("&#65 ;");
}

void TestPacketReader::decode()
{
    QFETCH(QString, written);
    QFETCH(QString, expected);
    QCOMPARE(decodeRowValue(written), expected);
}

void TestPacketReader::everyRoadAlike_data()
{
    // Packet shapes in the plain form, which every road can read; each is read by each road, written, and read
    // again by the same road: all must keep the same records.
    QTest::addColumn<QString>("road");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("expected");
    const QStringList abc{field(QStringLiteral("A"), QStringLiteral("string")),
                          field(QStringLiteral("B"), QStringLiteral("string")),
                          field(QStringLiteral("C"), QStringLiteral("i4"))};
    const QString noKeys = params({}, {});
    const QString changeLog = QStringLiteral("<PARAMS CHANGE_LOG=\"1 0 4 2 1 8\" LCID=\"1041\"/>");
    const struct {
        const char* name;
        QString text;
        QStringList expected;
    } shapes[] = {
        {"empty string and no value",
         packet(abc, noKeys, {QStringLiteral("<ROW A=\"1\" B=\"\"/>"), QStringLiteral("<ROW C=\"\" B=\"x\"/>")}),
         {QStringLiteral("1|\"\"|-"), QStringLiteral("-|x|\"\"")}},
        {"change log",
         packet(abc, changeLog,
                {QStringLiteral("<ROW RowState=\"4\" A=\"new\"/>"), QStringLiteral("<ROW RowState=\"2\" A=\"deleted\"/>"),
                 QStringLiteral("<ROW RowState=\"1\" A=\"before\"/>"),
                 QStringLiteral("<ROW RowState=\"8\" A=\"after\" B=\"\"/>"), QStringLiteral("<ROW RowState=\"3\" A=\"x\"/>")}),
         {QStringLiteral("new|-|-"), QStringLiteral("after|\"\"|-")}},
        {"row state written as references",
         packet(abc, changeLog,
                {QStringLiteral("<ROW A=\"kept\" RowState=\"&#50;\"/>"), QStringLiteral("<ROW rowstate=\"&#x34;\" A=\"new\"/>")}),
         {QStringLiteral("new|-|-")}},
        {"references, any order, any letter case",
         packet(abc, noKeys, {QStringLiteral("<ROW c=\"7\" b=\"2&amp;3\" A=\"&lt;x&gt;&#12354;\"/>")}),
         {QStringLiteral("<x>\u3042|2&3|7")}},
        {"one long line with row content",
         packet(abc, noKeys, {QStringLiteral("<ROW A=\"1\" B=\"\"><X y=\"z\"/></ROW>"), QStringLiteral("<ROW C=\"2\"/>")})
             .remove(QStringLiteral("\r\n")),
         {QStringLiteral("1|\"\"|-"), QStringLiteral("-|-|2")}},
        {"records without values",
         packet(abc, noKeys,
                {QStringLiteral("<ROW A=\"1\"/>"), QStringLiteral("<ROW/>"), QStringLiteral("<ROW></ROW>"),
                 QStringLiteral("<ROW C=\"3\"/>")}),
         {QStringLiteral("1|-|-"), QStringLiteral("-|-|-"), QStringLiteral("-|-|-"), QStringLiteral("-|-|3")}},
        {"no records", packet(abc, noKeys, {}), {}},
        {"only deleted records", packet(abc, changeLog, {QStringLiteral("<ROW RowState=\"2\" A=\"x\"/>")}), {}},
    };
    for (const QString& road : {QStringLiteral("plain"), QStringLiteral("scan"), QStringLiteral("xml")}) {
        for (const auto& shape : shapes) {
            QTest::addRow("%s by %s", shape.name, qPrintable(road)) << road << shape.text << shape.expected;
        }
    }
}

void TestPacketReader::everyRoadAlike()
{
    QFETCH(QString, road);
    QFETCH(QString, text);
    QFETCH(QStringList, expected);
    for (const char* pass : {"read", "read after a write"}) {
        TWorkspace ws;
        FakeDialogs dialogs;
        if (road == QStringLiteral("plain")) {
            QCOMPARE(readPacket(ws, text, dialogs), TReadRoad::Plain);
        } else if (road == QStringLiteral("scan")) {
            readPacketByScan(ws, text, dialogs);
        } else {
            readPacketAsXml(ws, text, dialogs);
        }
        QVERIFY2(records(ws) == expected, qPrintable(QStringLiteral("%1: %2").arg(pass, records(ws).join(u','))));
        QCOMPARE(ws.FieldCount(), 3);
        text = writePacket(ws);
    }
}

void TestPacketReader::decodedWhenRead()
{
    const QString text = packet({field(QStringLiteral("A"), QStringLiteral("string"))}, params({}, {}),
                                {QStringLiteral("<ROW A=\"&lt;b&gt; &amp;amp; &#x41;&#X41;\"/>")});
    TWorkspace ws;
    FakeDialogs dialogs;
    QCOMPARE(read(ws, text, dialogs), QString());
    QCOMPARE(ws.SG_Data().cell(0, 1), QStringLiteral("<b> &amp; A&#X41;"));
}

void TestPacketReader::fieldTypeWithoutClosingQuote()
{
    // No double quote follows the type's opening one, except the text's last character, which never counts.
    const QString text = QStringLiteral("<?xml version=\"1\"?>\r\n<DATAPACKET Version=\"2\">\r\n<FIELDS>\r\n"
                                        "<FIELD attrname=\"A\" fieldtype=\"i4/>\r\n"
                                        "<FIELD attrname=B fieldtype=r8/>\r\n</FIELDS>\r\n"
                                        "<PARAMS DEFAULT_ORDER=\"");
    TWorkspace ws;
    FakeDialogs dialogs;
    QCOMPARE(read(ws, text, dialogs), QString());
    QCOMPARE(dialogs.informed, QStringList());
    QCOMPARE(fieldRows(ws), QStringList{QStringLiteral("A|||")});
    QCOMPARE(selected(ws.LB_DefOrder()), QList<int>());
    QCOMPARE(dataRows(ws), Rows{{QString()}});

    // The key search starts right after the name, so a PARAMS element in between is the one read.
    const QString withParams = QStringLiteral("<?xml version=\"1\"?>\r\n<DATAPACKET Version=\"2\">\r\n<FIELDS>\r\n"
                                              "<FIELD attrname=\"A\" <PARAMS DEFAULT_ORDER=\"1 fieldtype=\"i4");
    TWorkspace second;
    QCOMPARE(read(second, withParams, dialogs), QString(QStringLiteral("'fieldtype=' は整数ではありません")));
    QCOMPARE(second.FieldList(), QStringList{QStringLiteral("A")});
    QCOMPARE(selected(second.LB_DefOrder()), QList<int>{1});
}

void TestPacketReader::rowWithoutEnd()
{
    const QString text =
        lines({QStringLiteral("<?xml version=\"1\"?>"), QStringLiteral("<DATAPACKET Version=\"2\">"),
               QStringLiteral("<FIELDS>"), field(QStringLiteral("A"), QStringLiteral("i4")),
               field(QStringLiteral("B"), QStringLiteral("i4")), QStringLiteral("</FIELDS>"), params({}, {}),
               QStringLiteral("<ROWDATA>"), QStringLiteral("<ROW A=\"1\"/>"), QStringLiteral("<ROW A=\"2\">"),
               QStringLiteral("<ROW B=\"3\">"), QStringLiteral("<ROW A=\"4\">"), QStringLiteral("</ROWDATA>")});
    TWorkspace ws;
    FakeDialogs dialogs;
    QCOMPARE(read(ws, text, dialogs), QString());
    // The unended row is counted and takes its values from the rest of the text; the rows after it are not.
    QCOMPARE(dataRows(ws), Rows({{QStringLiteral("1"), QString()}, {QStringLiteral("2"), QStringLiteral("3")}}));
}

void TestPacketReader::numberScanReachingTheEnd()
{
    const QString head =
        packet({field(QStringLiteral("A"), QStringLiteral("i4")), field(QStringLiteral("B"), QStringLiteral("i4"))},
               params({}, {}), {})
            .section(QStringLiteral("<PARAMS"), 0, 0);
    {
        TWorkspace ws;
        FakeDialogs dialogs;
        QCOMPARE(read(ws, head + QStringLiteral("<PARAMS DEFAULT_ORDER=\"1\" PRIMARY_KEY=\"1 2"), dialogs), QString());
        QCOMPARE(selected(ws.LB_DefOrder()), QList<int>{1});
        QCOMPARE(selected(ws.LB_PriKey()), QList<int>({1, 2}));
        QCOMPARE(dataRows(ws), Rows({{QString(), QString()}}));
    }
    {
        // The scan stops at the text's length, so the row data before it is not looked for from the start.
        TWorkspace ws;
        FakeDialogs dialogs;
        QCOMPARE(read(ws, head + QStringLiteral("<ROWDATA>\r\n<ROW A=\"x\"/>\r\n<PARAMS DEFAULT_ORDER=\"1 2"), dialogs),
                 QString());
        QCOMPARE(selected(ws.LB_DefOrder()), QList<int>({1, 2}));
        QCOMPARE(dataRows(ws), Rows({{QString(), QString()}}));
    }
    {
        // A token that runs into the next attribute is one token.
        TWorkspace ws;
        FakeDialogs dialogs;
        QCOMPARE(read(ws,
                      head + QStringLiteral(
                                 "<PARAMS PRIMARY_KEY=\"2 DEFAULT_ORDER=\"1\"\r\n<ROWDATA>\r\n<ROW A=\"x\"/>\r\n"),
                      dialogs),
                 QStringLiteral("'DEFAULT_ORDER=' は整数ではありません"));
        QCOMPARE(selected(ws.LB_DefOrder()), QList<int>{1});
        QCOMPARE(selected(ws.LB_PriKey()), QList<int>{2});
        QCOMPARE(dataRows(ws), Rows({{QString(), QString()}}));
    }
    {
        TWorkspace ws;
        FakeDialogs dialogs;
        QCOMPARE(read(ws, head + QStringLiteral("<PARAMS DEFAULT_ORDER=\"2 "), dialogs), QString());
        QCOMPARE(selected(ws.LB_DefOrder()), QList<int>{2});
    }
}

void TestPacketReader::lastQuoteOfTextNotFound()
{
    TWorkspace ws;
    FakeDialogs dialogs;
    QCOMPARE(read(ws, QStringLiteral("<?xml version=\"1.0\""), dialogs), QString());
    QCOMPARE(ws.Ed_xmlVersion(), QString());
    QCOMPARE(read(ws, QStringLiteral("<?xml version=\"1.0\" "), dialogs), QString());
    QCOMPARE(ws.Ed_xmlVersion(), QStringLiteral("1.0"));

    // A missing closing quote in the xml version makes the packet search start at position 1, past a packet
    // element at position 0.
    QCOMPARE(read(ws, QStringLiteral("<DATAPACKET Version=\"7\"<?xml version=\"1.0 "), dialogs), QString());
    QCOMPARE(ws.Ed_xmlVersion(), QString());
    QCOMPARE(ws.Ed_PacketVersion(), QStringLiteral("2.0"));

    const QString row = packet({field(QStringLiteral("A"), QStringLiteral("i4"))}, params({}, {}), {})
                            .section(QStringLiteral("</ROWDATA>"), 0, 0);
    // A last row without end takes its values up to the end of the text, the closing quote there included.
    QCOMPARE(read(ws, row + QStringLiteral("<ROW A=\"5\""), dialogs), QString());
    QCOMPARE(dataRows(ws), Rows{{QStringLiteral("5")}});
    QCOMPARE(read(ws, row + QStringLiteral("<ROW A=\"6\" "), dialogs), QString());
    QCOMPARE(dataRows(ws), Rows{{QStringLiteral("6")}});
    QCOMPARE(read(ws, row + QStringLiteral("<ROW A=\"7"), dialogs), QString());
    QCOMPARE(dataRows(ws), Rows{{QString()}});
}

void TestPacketReader::lcid_data()
{
    QTest::addColumn<QString>("params");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<QString>("others");

    QTest::newRow("read") << QStringLiteral("<PARAMS DEFAULT_ORDER=\"\" PRIMARY_KEY=\"\" LCID=\"2057\"/>")
                          << QStringLiteral("2057") << QString();
    QTest::newRow("first, any letter case, before a change log")
        << QStringLiteral("<PARAMS lcid=\"1041\" CHANGE_LOG=\"1 0 4\"/>") << QStringLiteral("1041") << QString();
    QTest::newRow("empty") << QStringLiteral("<PARAMS LCID=\"\"/>") << QString() << QString();
    QTest::newRow("none: kept") << QStringLiteral("<PARAMS DEFAULT_ORDER=\"1\"/>") << QStringLiteral("7") << QString();
    QTest::newRow("inside another value: kept") << QStringLiteral("<PARAMS X=\" LCID=&quot;9\"/>")
                                                << QStringLiteral("7") << QStringLiteral("X=\" LCID=&quot;9\"");
    QTest::newRow("no closing quote in the element: kept")
        << QStringLiteral("<PARAMS LCID=\"1041/>") << QStringLiteral("7") << QString();
    QTest::newRow("no PARAMS: kept") << QString() << QStringLiteral("7") << QString();
    QTest::newRow("other attributes kept in their order, the change log left out")
        << QStringLiteral("<PARAMS READONLY=\"TRUE\" DEFAULT_ORDER=\"1\" LCID=\"1041\" MD_FIELDLINKS=\"3 1 2\"\r\n"
                          "  CHANGE_LOG=\"1 0 4\" x='a\"b' y=\"&amp;\"/>")
        << QStringLiteral("1041") << QStringLiteral("READONLY=\"TRUE\" MD_FIELDLINKS=\"3 1 2\" x='a\"b' y=\"&amp;\"");
}

void TestPacketReader::lcid()
{
    QFETCH(QString, params);
    QFETCH(QString, expected);
    QFETCH(QString, others);
    const QString text = packet({field(QStringLiteral("A"), QStringLiteral("i4"))}, params, {});
    TWorkspace ws;
    ws.setLCID(QStringLiteral("7"));
    // What an earlier packet kept goes with it.
    ws.setParamsAttributes(QStringLiteral("OLD=\"1\""));
    FakeDialogs dialogs;
    QCOMPARE(read(ws, text, dialogs), QString());
    QCOMPARE(ws.FieldList(), QStringList{QStringLiteral("A")});
    QCOMPARE(ws.Ed_LCID(), expected);
    QCOMPARE(ws.paramsAttributes(), others);
    QVERIFY(!ws.NeedsRebuild());
    const QString written = writePacket(ws);
    QVERIFY2(written.contains(QStringLiteral("LCID=\"%1\"%2/>")
                                  .arg(expected, others.isEmpty() ? QString() : QStringLiteral(" ") + others)),
             qPrintable(written));
}

void TestPacketReader::memoryBound_data()
{
    QTest::addColumn<int>("fields");
    QTest::addColumn<int>("rows");
    QTest::addColumn<qint64>("limit");
    QTest::addColumn<QString>("failure");

    // Each row takes 24 bytes a cell and 64 of its own: 3 fields, the header and 100 rows take 101 * 136.
    QTest::newRow("fits exactly") << 3 << 100 << qint64(101 * 136) << QString();
    QTest::newRow("one row too many") << 3 << 101 << qint64(101 * 136)
                                      << QStringLiteral("データが大きすぎてメモリに収まりません（3 列 × 101 行以上）");
    QTest::newRow("no fields: one column") << 0 << 100 << qint64(101 * 88) << QString();
    QTest::newRow("no fields, one row too many")
        << 0 << 101 << qint64(101 * 88)
        << QStringLiteral("データが大きすぎてメモリに収まりません（1 列 × 101 行以上）");
    // 10,000 fields and 100,000 rows ask for a billion cells, refused by half of this machine's memory.
    QTest::newRow("a billion cells on this machine")
        << 10000 << 100000 << qint64(-1) << QStringLiteral("データが大きすぎてメモリに収まりません（10000 列 × ");
}

void TestPacketReader::memoryBound()
{
    QFETCH(int, fields);
    QFETCH(int, rows);
    QFETCH(qint64, limit);
    QFETCH(QString, failure);
    QStringList fieldLines;
    for (int f = 1; f <= fields; ++f) {
        fieldLines.append(field(QStringLiteral("F%1").arg(f), QStringLiteral("i4")));
    }
    const QString text =
        packet(fieldLines, params(QStringLiteral("1"), {}), QList<QString>(rows, QStringLiteral("<ROW />")));
    TWorkspace ws;
    FakeDialogs dialogs;
    QString message;
    try {
        readPacket(ws, text, dialogs, limit < 0 ? std::nullopt : std::optional<qint64>(limit));
    } catch (const TFailure& f) {
        message = f.message();
    }
    QVERIFY2(message.startsWith(failure) && message.isEmpty() == failure.isEmpty(), qPrintable(message));
    QCOMPARE(ws.FieldCount(), fields);
    QCOMPARE(selected(ws.LB_DefOrder()), fields > 0 ? QList<int>{1} : QList<int>{});
    // Refused before the data table grows: it keeps one empty row.
    QCOMPARE(ws.SG_Data().rowCount(), failure.isEmpty() ? rows + 1 : 2);
    QVERIFY(gridMemoryBudget() > 0);
}

void TestPacketReader::search_data()
{
    QTest::addColumn<QString>("marker");
    for (const char* marker : {"<ROW ", "/>", "fieldtype=\"", "WIDTH=\"", "<PARAMS", "k=\"", "s", "\""}) {
        QTest::newRow(marker) << QString::fromLatin1(marker);
    }
}

void TestPacketReader::search()
{
    // Letter case folds as Qt's case-insensitive search folds it, including the Kelvin sign and the long s,
    // and nothing else: no width, no accent and no dotted capital I.
    QFETCH(QString, marker);
    const QStringList pieces{QStringLiteral("<"),      QStringLiteral("r"),
                             QStringLiteral("O"),      QStringLiteral("w"),
                             QStringLiteral(" "),      QStringLiteral("/"),
                             QStringLiteral(">"),      QStringLiteral("ＲＯＷ"),
                             QStringLiteral("\u212A"), QStringLiteral("\u017F"),
                             QStringLiteral("\u0130"), QStringLiteral("=\""),
                             QStringLiteral("\""),     QString::fromUcs4(U"\U00010400"),
                             QStringLiteral("Params"), QStringLiteral("PARAM\u017F"),
                             QStringLiteral("<pa"),    QStringLiteral("FIELDTYPE=\""),
                             QStringLiteral("width"),  QStringLiteral("字"),
                             QStringLiteral("K"),      QStringLiteral("k")};
    QRandomGenerator rng(12345);
    for (int round = 0; round < 400; ++round) {
        const QString text = randomText(rng, pieces, 30);
        const qsizetype from = rng.bounded(static_cast<int>(text.size()) + 2) - 1;
        const qsizetype to = rng.bounded(static_cast<int>(text.size()) + 3);
        qsizetype expected = -1;
        if (std::max<qsizetype>(from, 0) <= to) {
            const qsizetype start = std::max<qsizetype>(from, 0);
            const qsizetype end = std::min(to, text.size());
            const qsizetype found =
                end >= start ? QStringView(text).mid(start, end - start).indexOf(marker, 0, Qt::CaseInsensitive) : -1;
            expected = found < 0 ? -1 : start + found;
        }
        QCOMPARE(findIgnoringCase(text, marker, from, to), expected);
    }
}

void TestPacketReader::searchEdges_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("marker");
    QTest::addColumn<int>("to");
    QTest::addColumn<int>("expected");

    QTest::newRow("mixed case") << QStringLiteral("x<rOw <RoW ") << QStringLiteral("<ROW ") << -1 << 1;
    QTest::newRow("a near miss, then a match") << QStringLiteral("<RO<PARAMs") << QStringLiteral("<params") << -1 << 3;
    QTest::newRow("characters 32 apart that are no letters")
        << QStringLiteral("<ROW@<ROW`") << QStringLiteral("<ROW`") << -1 << 5;
    QTest::newRow("long s folds onto s") << QStringLiteral("<FIELD\u017F ") << QStringLiteral("<FIELDS") << -1 << 0;
    QTest::newRow("long s before a marker") << QStringLiteral("\u017F<PARAMS") << QStringLiteral("s<params") << -1 << 0;
    QTest::newRow("Kelvin sign inside") << QStringLiteral("a=\"\u212A\"") << QStringLiteral("=\"k\"") << -1 << 1;
    QTest::newRow("dotted capital I does not fold onto i")
        << QStringLiteral("<F\u0130ELD <FIELD") << QStringLiteral("<field") << -1 << 7;
    QTest::newRow("full width letters do not fold")
        << QStringLiteral("<ＲＯＷ ") << QStringLiteral("<ROW ") << -1 << -1;
    QTest::newRow("surrogate pairs fold as one")
        << QString::fromUcs4(U"<\U00010428>") << QString::fromUcs4(U"<\U00010400>") << -1 << 0;
    QTest::newRow("at the very end") << QStringLiteral("ab<Row ") << QStringLiteral("<ROW ") << -1 << 2;
    QTest::newRow("one character past the end") << QStringLiteral("ab<Row ") << QStringLiteral("<ROW ") << 6 << -1;
    QTest::newRow("cut short by the end") << QStringLiteral("ab<ROW") << QStringLiteral("<ROW ") << -1 << -1;
}

void TestPacketReader::searchEdges()
{
    QFETCH(QString, text);
    QFETCH(QString, marker);
    QFETCH(int, to);
    QFETCH(int, expected);
    const qsizetype end = to < 0 ? text.size() : to;
    QCOMPARE(findIgnoringCase(text, marker, 0, end), qsizetype(expected));
    // As the library searches.
    QCOMPARE(QStringView(text).first(end).indexOf(marker, 0, Qt::CaseInsensitive), qsizetype(expected));
}

QTEST_GUILESS_MAIN(TestPacketReader)
#include "TestPacketReader.moc"
