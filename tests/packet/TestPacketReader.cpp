#include "FakeDialogs.h"
#include "TFailure.h"
#include "TPacketReader.h"
#include "TPacketWriter.h"

#include <QRandomGenerator>
#include <QTest>

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
    for (int r = 1; r < ws.SG_Data.rowCount(); ++r) {
        QStringList cells;
        for (int c = 0; c < ws.SG_Data.colCount(); ++c) {
            cells.append(ws.SG_Data.cell(c, r));
        }
        rows.append(cells);
    }
    return rows;
}

QStringList dataHeaders(const TWorkspace& ws)
{
    QStringList headers;
    for (int c = 0; c < ws.SG_Data.colCount(); ++c) {
        headers.append(ws.SG_Data.cell(c, 0));
    }
    return headers;
}

// Field table rows 1 .. FieldCount as "name|type|etc|width".
QStringList fieldRows(const TWorkspace& ws)
{
    QStringList out;
    for (int r = 1; r <= ws.FieldCount && r < ws.SG_Field.rowCount(); ++r) {
        QStringList cells;
        for (int c = 0; c < 4; ++c) {
            cells.append(ws.SG_Field.cell(c, r));
        }
        out.append(cells.join(u'|'));
    }
    return out;
}

QStringList fieldCaptions(const TWorkspace& ws)
{
    QStringList out;
    for (int c = 0; c < 4; ++c) {
        out.append(ws.SG_Field.cell(c, 0));
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
    ws.Ed_xmlVersion = QStringLiteral("9.9");
    ws.Ed_PacketVersion = QStringLiteral("8.8");
    ws.Ed_LCID = QStringLiteral("2052");
    ws.AddFieldRow(QStringLiteral("OLD1"), QStringLiteral("i4（４バイト整数）"), QString(), QStringLiteral("3"),
                   dialogs);
    ws.AddFieldRow(QStringLiteral("OLD2"), QStringLiteral("date"), QStringLiteral("x=\"y\""), QString(), dialogs);
    ws.AddFieldRow(QStringLiteral("OLD3"), QStringLiteral("string（文字列）"), QString(), QString(), dialogs);
    ws.LB_DefOrder.setSelected(2, true);
    ws.LB_PriKey.setSelected(0, true);
    ws.SG_Data.setRowCount(4);
    for (int r = 1; r < 4; ++r) {
        for (int c = 0; c < 3; ++c) {
            ws.SG_Data.setCell(c, r, QStringLiteral("v%1%2").arg(c).arg(r));
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
    QStringList names;
    QStringList typeTexts;
    QStringList typeCodes;
    QStringList etcs;
    QStringList widths;
    QList<int> defaultOrder;
    QList<int> primaryKey;
    Rows rows;
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
        bool any = false;
        for (int c = 0; c < fieldCount; ++c) {
            QString value = rng.bounded(4) == 0 ? QString() : randomText(rng, valuePieces, 6);
            if (rng.bounded(8) == 0) {
                value += u'=';
            }
            any = any || !value.isEmpty();
            cells.append(value);
        }
        if (!any) {
            // A row without any value is written as <ROW/>, which no reader counts.
            cells[0] = QStringLiteral("only");
        }
        g.rows.append(cells);
    }
    return g;
}

void build(TWorkspace& ws, const TGenerated& g)
{
    FakeDialogs dialogs;
    ws.ResetWorkspace();
    ws.Ed_xmlVersion = g.xmlVersion;
    ws.Ed_PacketVersion = g.packetVersion;
    for (int f = 0; f < g.names.size(); ++f) {
        ws.AddFieldRow(g.names[f], g.typeTexts[f], g.etcs[f], g.widths[f], dialogs);
    }
    for (int n : g.defaultOrder) {
        ws.LB_DefOrder.setSelected(n - 1, true);
    }
    for (int n : g.primaryKey) {
        ws.LB_PriKey.setSelected(n - 1, true);
    }
    ws.SG_Data.setRowCount(static_cast<int>(g.rows.size()) + 1);
    for (int r = 0; r < g.rows.size(); ++r) {
        for (int c = 0; c < g.rows[r].size(); ++c) {
            ws.SG_Data.setCell(c, r + 1, g.rows[r][c]);
        }
    }
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
    void rowWithoutSpaceNotCounted();
    void markersInAnyCase();
    void emptyFieldNameEndsScan();
    void widthMarker_data();
    void widthMarker();
    void missingFieldType();
    void keyNumbers_data();
    void keyNumbers();
    void keyNumberNotInteger_data();
    void keyNumberNotInteger();
    void repeatedFieldNames();
    void blobLength_data();
    void blobLength();
    void endMarkerInsideValue();
    void widthNotInteger();
    void keyStartsAnAttribute_data();
    void keyStartsAnAttribute();
    void rowKeyLetterCase_data();
    void rowKeyLetterCase();
    void decode_data();
    void decode();
    void decodedWhenRead();
    void fieldTypeWithoutClosingQuote();
    void rowWithoutEnd();
    void numberScanReachingTheEnd();
    void lastQuoteOfTextNotFound();
    void lcidUntouched();
    void search_data();
    void search();
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

    QCOMPARE(target.Ed_xmlVersion, g.xmlVersion);
    QCOMPARE(target.Ed_PacketVersion, g.packetVersion);
    QCOMPARE(target.Ed_LCID, QStringLiteral("2052"));
    QCOMPARE(target.FieldList, g.names);
    QCOMPARE(target.FieldCount, static_cast<int>(g.names.size()));
    QStringList expectedFields;
    for (int f = 0; f < g.names.size(); ++f) {
        expectedFields.append(QStringList{g.names[f], g.typeCodes[f], g.etcs[f], g.widths[f]}.join(u'|'));
        QVERIFY(target.typeIndexOf(g.typeCodes[f]) >= 0);
    }
    QCOMPARE(fieldRows(target), expectedFields);
    QCOMPARE(fieldCaptions(target), Captions);
    QCOMPARE(selected(target.LB_DefOrder), g.defaultOrder);
    QCOMPARE(selected(target.LB_PriKey), g.primaryKey);
    QCOMPARE(dataHeaders(target), g.names);
    QCOMPARE(dataRows(target), g.rows);
    // What was read writes back to the same text, type codes and all.
    QCOMPARE(writePacket(target).replace(QStringLiteral("LCID=\"2052\""), QStringLiteral("LCID=\"1033\"")),
             QString(text));
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
    QCOMPARE(ws.SG_Field.rowCount(), 3);
    QCOMPARE(selected(ws.LB_DefOrder), QList<int>{2});
    QCOMPARE(selected(ws.LB_PriKey), QList<int>{1});
    QCOMPARE(dataRows(ws), Rows({{QStringLiteral("1"), QStringLiteral("Apple")}, {QStringLiteral("2"), QString()}}));
    QCOMPARE(ws.typeList.mid(10), QStringList({QStringLiteral("i4"), QStringLiteral("string")}));
}

void TestPacketReader::stops_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("xmlVersion");
    QTest::addColumn<QString>("packetVersion");
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

    QTest::newRow("empty text: only the captions") << QString() << QStringLiteral("9.9") << QStringLiteral("8.8") << old
                                                   << old << QList<int>{3} << QList<int>{1} << oldRows;
    QTest::newRow("no <?xml version=\": only the captions")
        << QString(packetStart + fields + rows) << QStringLiteral("9.9") << QStringLiteral("8.8") << old << old
        << QList<int>{3} << QList<int>{1} << oldRows;
    QTest::newRow("no <DATAPACKET Version=\": also the xml version")
        << QString(head + fields + rows) << QStringLiteral("1.5") << QStringLiteral("8.8") << old << old
        << QList<int>{3} << QList<int>{1} << oldRows;
    QTest::newRow("no <FIELDS: versions, no fields, key lists kept")
        << QString(head + packetStart + rows) << QStringLiteral("1.5") << QStringLiteral("2.5") << QStringList() << old
        << QList<int>{3} << QList<int>{1} << Rows{{QString()}};
    QTest::newRow("no <ROWDATA: versions, fields and keys, one empty row")
        << QString(head + packetStart + fields) << QStringLiteral("1.5") << QStringLiteral("2.5") << ab << ab
        << QList<int>{2} << QList<int>{1, 2} << Rows{{QString(), QString()}};
    QTest::newRow("no further <ROW: complete")
        << QString(head + packetStart + fields + rows) << QStringLiteral("1.5") << QStringLiteral("2.5") << ab << ab
        << QList<int>{2} << QList<int>{1, 2}
        << Rows{{QStringLiteral("1"), QStringLiteral("x")}, {QString(), QStringLiteral("y")}};
}

void TestPacketReader::stops()
{
    QFETCH(QString, text);
    QFETCH(QString, xmlVersion);
    QFETCH(QString, packetVersion);
    QFETCH(QStringList, fieldNames);
    QFETCH(QStringList, keyItems);
    QFETCH(QList<int>, defaultOrder);
    QFETCH(QList<int>, primaryKey);
    QFETCH(Rows, rows);

    TWorkspace ws;
    fillWorkspace(ws);
    const QStringList typesBefore = ws.typeList;
    FakeDialogs dialogs;
    QCOMPARE(read(ws, text, dialogs), QString());
    QCOMPARE(dialogs.informed, QStringList());

    QCOMPARE(fieldCaptions(ws), Captions);
    QCOMPARE(ws.Ed_xmlVersion, xmlVersion);
    QCOMPARE(ws.Ed_PacketVersion, packetVersion);
    QCOMPARE(ws.Ed_LCID, QStringLiteral("2052"));
    QCOMPARE(ws.FieldList, fieldNames);
    QCOMPARE(ws.FieldCount, static_cast<int>(fieldNames.size()));
    QCOMPARE(ws.LB_DefOrder.items(), keyItems);
    QCOMPARE(ws.LB_PriKey.items(), keyItems);
    QCOMPARE(selected(ws.LB_DefOrder), defaultOrder);
    QCOMPARE(selected(ws.LB_PriKey), primaryKey);
    QCOMPARE(dataRows(ws), rows);
    QCOMPARE(ws.SG_Field.rowCount(), std::max(2, static_cast<int>(fieldNames.size()) + 1));
    if (fieldNames.isEmpty() && xmlVersion != QStringLiteral("9.9") && packetVersion != QStringLiteral("8.8")) {
        // The reset empties every cell, the headers of both tables included (the field table keeps its captions).
        QCOMPARE(dataHeaders(ws), QStringList{QString()});
        QCOMPARE(fieldRows(ws), QStringList());
        QCOMPARE(QStringList(
                     {ws.SG_Field.cell(0, 1), ws.SG_Field.cell(1, 1), ws.SG_Field.cell(2, 1), ws.SG_Field.cell(3, 1)}),
                 QStringList({QString(), QString(), QString(), QString()}));
    }
    // The type list only ever grows.
    QCOMPARE(ws.typeList.mid(0, typesBefore.size()), typesBefore);
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
    ws.NeedsRebuild = false;
    QVERIFY(!TabSheet1Show(ws, text, dialogs));
    QVERIFY(!asked);
    QCOMPARE(ws.FieldList, QStringList({QStringLiteral("OLD1"), QStringLiteral("OLD2"), QStringLiteral("OLD3")}));
    QCOMPARE(fieldCaptions(ws), QStringList({QString(), QString(), QString(), QString()}));

    ws.NeedsRebuild = true;
    QVERIFY(TabSheet1Show(ws, text, dialogs));
    QVERIFY(asked);
    QVERIFY(!ws.NeedsRebuild);
    QCOMPARE(ws.FieldList, QStringList{QStringLiteral("A")});
}

void TestPacketReader::rowWithoutSpaceNotCounted()
{
    const QString text =
        packet({field(QStringLiteral("A"), QStringLiteral("i4"))}, params({}, {}),
               {QStringLiteral("<ROW A=\"1\"/>"), QStringLiteral("<ROW/>"), QStringLiteral("<ROW A=\"3\"/>")});
    TWorkspace ws;
    FakeDialogs dialogs;
    QCOMPARE(read(ws, text, dialogs), QString());
    QCOMPARE(dataRows(ws), Rows({{QStringLiteral("1")}, {QStringLiteral("3")}}));
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
    QCOMPARE(ws.Ed_xmlVersion, QStringLiteral("1.1"));
    QCOMPARE(ws.Ed_PacketVersion, QStringLiteral("3"));
    QCOMPARE(fieldRows(ws), QStringList({QStringLiteral("id|i4||7"), QStringLiteral("Name|string||")}));
    QCOMPARE(selected(ws.LB_DefOrder), QList<int>{2});
    QCOMPARE(selected(ws.LB_PriKey), QList<int>{1});
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
    QCOMPARE(ws.FieldList, QStringList{QStringLiteral("A")});
    QCOMPARE(dialogs.informed, QStringList());
    QCOMPARE(selected(ws.LB_DefOrder), QList<int>{1});
    QCOMPARE(selected(ws.LB_PriKey), QList<int>{1});
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
        QCOMPARE(ws.FieldList, QStringList{QStringLiteral("A")});
    } else {
        QCOMPARE(failure, QString());
        QCOMPARE(fieldRows(ws).value(1), QStringLiteral("B|r8||"));
    }
}

void TestPacketReader::missingFieldType()
{
    {
        // The type search runs on to the next field's: A takes B's settings and B itself is skipped.
        const QString text =
            packet({QStringLiteral("<FIELD attrname=\"A\"/>"),
                    QStringLiteral("<FIELD attrname=\"B\" fieldtype=\"string\" required=\"true\" "
                                   "WIDTH=\"5\"/>"),
                    field(QStringLiteral("C"), QStringLiteral("i2"))},
                   params(QStringLiteral("2"), {}), {QStringLiteral("<ROW A=\"a\" B=\"b\" C=\"c\"/>")});
        TWorkspace ws;
        FakeDialogs dialogs;
        QCOMPARE(read(ws, text, dialogs), QString());
        QCOMPARE(fieldRows(ws),
                 QStringList({QStringLiteral("A|string|required=\"true\"|5"), QStringLiteral("C|i2||")}));
        QCOMPARE(selected(ws.LB_DefOrder), QList<int>{2});
        QCOMPARE(dataRows(ws), Rows({{QStringLiteral("a"), QStringLiteral("c")}}));
    }
    {
        // With no type marker anywhere after it, the fields are added without settings.
        const QString text =
            lines({QStringLiteral("<?xml version=\"1\"?>"), QStringLiteral("<DATAPACKET Version=\"2\">"),
                   QStringLiteral("<FIELDS>"), QStringLiteral("<FIELD attrname=\"A\" WIDTH=\"4\"/>"),
                   QStringLiteral("<FIELD attrname=\"B\"/>"), QStringLiteral("</FIELDS>")});
        TWorkspace ws;
        FakeDialogs dialogs;
        QCOMPARE(read(ws, text, dialogs), QString());
        QCOMPARE(fieldRows(ws), QStringList({QStringLiteral("A|||"), QStringLiteral("B|||")}));
        QVERIFY(ws.typeList.contains(QString()));
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
        QCOMPARE(selected(primary ? ws.LB_PriKey : ws.LB_DefOrder), expected);
        QCOMPARE(selected(primary ? ws.LB_DefOrder : ws.LB_PriKey), QList<int>());
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
    QTest::newRow("a tab is no separator")
        << QStringLiteral("2\t1") << QStringLiteral("'2\t1' は整数ではありません") << QList<int>{};
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
    ws.Ed_LCID = QStringLiteral("7");
    FakeDialogs dialogs;
    QCOMPARE(read(ws, text, dialogs), QString(message));
    QCOMPARE(ws.Ed_xmlVersion, QStringLiteral("1.0"));
    QCOMPARE(ws.FieldList, QStringList({QStringLiteral("A"), QStringLiteral("B")}));
    QCOMPARE(selected(ws.LB_DefOrder), selectedBefore);
    QCOMPARE(selected(ws.LB_PriKey), QList<int>());
    QCOMPARE(dataRows(ws), Rows({{QString(), QString()}}));
    QCOMPARE(ws.Ed_LCID, QStringLiteral("7"));
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
    QCOMPARE(ws.FieldList, QStringList({QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("C")}));
    QCOMPARE(fieldRows(ws),
             QStringList({QStringLiteral("A|i4||"), QStringLiteral("B|string||"), QStringLiteral("C|string||")}));
    QCOMPARE(ws.SG_Data.colCount(), 3);
    // Numbers count positions in the field list: 3 (meant for B) now selects C, and 4 selects nothing.
    QCOMPARE(selected(ws.LB_DefOrder), QList<int>{3});
    QCOMPARE(selected(ws.LB_PriKey), QList<int>{1});
    // The first attribute of each name fills the column.
    QCOMPARE(dataRows(ws), Rows({{QStringLiteral("1"), QStringLiteral("3"), QStringLiteral("4")}}));
    // The refused type code never reached the type list.
    QVERIFY(!ws.typeList.contains(QStringLiteral("date")));
}

void TestPacketReader::blobLength_data()
{
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("expected");

    const QString v16379(16379, u'x');
    QTest::newRow("16,379 characters: copied") << v16379 << v16379;
    QTest::newRow("16,380 characters: <BLOB>") << QString(16380, u'x') << QStringLiteral("<BLOB>");
    QTest::newRow("20,000 Japanese characters: <BLOB>") << QString(20000, u'字') << QStringLiteral("<BLOB>");
    QTest::newRow("16,380 as written, shorter once decoded: <BLOB>")
        << QString(QString(16375, u'y') + QStringLiteral("&amp;")) << QStringLiteral("<BLOB>");
    QTest::newRow("16,379 as written with a reference: decoded")
        << QString(QString(16374, u'y') + QStringLiteral("&amp;")) << QString(QString(16374, u'y') + u'&');
}

void TestPacketReader::blobLength()
{
    QFETCH(QString, value);
    QFETCH(QString, expected);
    const QString text =
        packet({field(QStringLiteral("A"), QStringLiteral("string")), field(QStringLiteral("B"), QStringLiteral("i4"))},
               params({}, {}), {QStringLiteral("<ROW A=\"%1\" B=\"2\"/>").arg(value)});
    TWorkspace ws;
    FakeDialogs dialogs;
    QCOMPARE(read(ws, text, dialogs), QString());
    QCOMPARE(ws.SG_Data.cell(0, 1), expected);
    QCOMPARE(ws.SG_Data.cell(1, 1), QStringLiteral("2"));
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
    QCOMPARE(selected(ws.LB_DefOrder), QList<int>());
    QCOMPARE(selected(ws.LB_PriKey), QList<int>());
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
    QCOMPARE(ws.FieldList, QStringList({name, QStringLiteral("z")}));
    QCOMPARE(dataRows(ws), Rows({{matches ? QStringLiteral("1") : QString(), QStringLiteral("2")}}));
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

void TestPacketReader::decodedWhenRead()
{
    const QString text = packet({field(QStringLiteral("A"), QStringLiteral("string"))}, params({}, {}),
                                {QStringLiteral("<ROW A=\"&lt;b&gt; &amp;amp; &#x41;&#X41;\"/>")});
    TWorkspace ws;
    FakeDialogs dialogs;
    QCOMPARE(read(ws, text, dialogs), QString());
    QCOMPARE(ws.SG_Data.cell(0, 1), QStringLiteral("<b> &amp; A&#X41;"));
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
    QCOMPARE(selected(ws.LB_DefOrder), QList<int>());
    QCOMPARE(dataRows(ws), Rows{{QString()}});

    // The key search starts right after the name, so a PARAMS element in between is the one read.
    const QString withParams = QStringLiteral("<?xml version=\"1\"?>\r\n<DATAPACKET Version=\"2\">\r\n<FIELDS>\r\n"
                                              "<FIELD attrname=\"A\" <PARAMS DEFAULT_ORDER=\"1 fieldtype=\"i4");
    TWorkspace second;
    QCOMPARE(read(second, withParams, dialogs), QString(QStringLiteral("'fieldtype=' は整数ではありません")));
    QCOMPARE(second.FieldList, QStringList{QStringLiteral("A")});
    QCOMPARE(selected(second.LB_DefOrder), QList<int>{1});
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
        QCOMPARE(selected(ws.LB_DefOrder), QList<int>{1});
        QCOMPARE(selected(ws.LB_PriKey), QList<int>({1, 2}));
        QCOMPARE(dataRows(ws), Rows({{QString(), QString()}}));
    }
    {
        // The scan stops at the text's length, so the row data before it is not looked for from the start.
        TWorkspace ws;
        FakeDialogs dialogs;
        QCOMPARE(read(ws, head + QStringLiteral("<ROWDATA>\r\n<ROW A=\"x\"/>\r\n<PARAMS DEFAULT_ORDER=\"1 2"), dialogs),
                 QString());
        QCOMPARE(selected(ws.LB_DefOrder), QList<int>({1, 2}));
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
        QCOMPARE(selected(ws.LB_DefOrder), QList<int>{1});
        QCOMPARE(selected(ws.LB_PriKey), QList<int>{2});
        QCOMPARE(dataRows(ws), Rows({{QString(), QString()}}));
    }
    {
        TWorkspace ws;
        FakeDialogs dialogs;
        QCOMPARE(read(ws, head + QStringLiteral("<PARAMS DEFAULT_ORDER=\"2 "), dialogs), QString());
        QCOMPARE(selected(ws.LB_DefOrder), QList<int>{2});
    }
}

void TestPacketReader::lastQuoteOfTextNotFound()
{
    TWorkspace ws;
    FakeDialogs dialogs;
    QCOMPARE(read(ws, QStringLiteral("<?xml version=\"1.0\""), dialogs), QString());
    QCOMPARE(ws.Ed_xmlVersion, QString());
    QCOMPARE(read(ws, QStringLiteral("<?xml version=\"1.0\" "), dialogs), QString());
    QCOMPARE(ws.Ed_xmlVersion, QStringLiteral("1.0"));

    // A missing closing quote in the xml version makes the packet search start at position 1, past a packet
    // element at position 0.
    QCOMPARE(read(ws, QStringLiteral("<DATAPACKET Version=\"7\"<?xml version=\"1.0 "), dialogs), QString());
    QCOMPARE(ws.Ed_xmlVersion, QString());
    QCOMPARE(ws.Ed_PacketVersion, QStringLiteral("2.0"));

    const QString row = packet({field(QStringLiteral("A"), QStringLiteral("i4"))}, params({}, {}), {})
                            .section(QStringLiteral("</ROWDATA>"), 0, 0);
    QCOMPARE(read(ws, row + QStringLiteral("<ROW A=\"5\""), dialogs), QString());
    QCOMPARE(dataRows(ws), Rows{{QString()}});
    QCOMPARE(read(ws, row + QStringLiteral("<ROW A=\"5\" "), dialogs), QString());
    QCOMPARE(dataRows(ws), Rows{{QStringLiteral("5")}});
}

void TestPacketReader::lcidUntouched()
{
    const QString text = packet({field(QStringLiteral("A"), QStringLiteral("i4"))}, params({}, {}), {});
    QVERIFY(text.contains(QStringLiteral("LCID=\"1041\"")));
    TWorkspace ws;
    ws.Ed_LCID = QStringLiteral("1033");
    FakeDialogs dialogs;
    QCOMPARE(read(ws, text, dialogs), QString());
    QCOMPARE(ws.FieldList, QStringList{QStringLiteral("A")});
    QCOMPARE(ws.Ed_LCID, QStringLiteral("1033"));
    ws.Ed_LCID = QString();
    QCOMPARE(read(ws, text, dialogs), QString());
    QCOMPARE(ws.Ed_LCID, QString());
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

QTEST_GUILESS_MAIN(TestPacketReader)
#include "TestPacketReader.moc"
