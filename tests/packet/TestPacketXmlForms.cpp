#include "FakeDialogs.h"
#include "TFailure.h"
#include "TPacketReader.h"
#include "TXmlCheck.h"

#include <QRandomGenerator>
#include <QTest>
#include <QXmlStreamReader>

using namespace torvane;

// A packet that is well-formed XML reads as an XML reader reads it, whatever form its text takes: each
// generated packet is read by readPacket and by a reading through QXmlStreamReader written here, and the two
// must agree on versions, fields, keys, LCID and rows.

namespace {

using Rows = QList<QStringList>;
using Attributes = QList<std::pair<QString, QString>>;

bool sameName(QStringView a, QStringView b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

// The attribute as the reader picks it: written in the given case first, else in any case.
std::optional<QString> attributeOf(const QXmlStreamAttributes& attributes, QStringView name, int* index = nullptr)
{
    int found = -1;
    for (int i = 0; i < attributes.size(); ++i) {
        if (attributes[i].qualifiedName() == name) {
            found = i;
            break;
        }
        if (found < 0 && sameName(attributes[i].qualifiedName(), name)) {
            found = i;
        }
    }
    if (index) {
        *index = found;
    }
    return found < 0 ? std::nullopt : std::optional<QString>(attributes[found].value().toString());
}

Attributes attributeList(const QXmlStreamAttributes& attributes, QList<int> leftOut = {})
{
    Attributes out;
    for (int i = 0; i < attributes.size(); ++i) {
        if (!leftOut.contains(i)) {
            out.append({attributes[i].qualifiedName().toString(), attributes[i].value().toString()});
        }
    }
    return out;
}

// A value written in a row, even an empty one, apart from a value not written (which stays empty).
QString written(const QString& value)
{
    return u'=' + value;
}

// What a packet holds, as both readings give it.
struct TReading {
    QString xmlVersion;
    QString packetVersion;
    QString lcid;
    QStringList fields; // "name|type|width"
    QList<Attributes> others;
    QList<int> defaultOrder;
    QList<int> primaryKey;
    Rows rows;
};

QList<int> keyNumbers(const QString& value, int fieldCount)
{
    QList<int> out;
    for (const QString& token : value.split(u' ', Qt::SkipEmptyParts)) {
        const int n = token.toInt();
        if (n >= 1 && n <= fieldCount && !out.contains(n)) {
            out.append(n);
        }
    }
    std::sort(out.begin(), out.end());
    return out;
}

// The reference: the packet's parts read through Qt's XML reader, on the rules readPacket follows.
TReading referenceReading(const QString& text)
{
    TReading r;
    QXmlStreamReader xml(text);
    xml.setNamespaceProcessing(false);
    int depth = 0;
    int fieldsDepth = -1;
    bool fieldsDone = false;
    bool paramsDone = false;
    int rowDataDepth = -1;
    bool rowDataDone = false;
    QStringList names;
    while (!xml.atEnd()) {
        const QXmlStreamReader::TokenType token = xml.readNext();
        if (token == QXmlStreamReader::StartDocument) {
            r.xmlVersion = xml.documentVersion().toString();
        } else if (token == QXmlStreamReader::StartElement) {
            const QStringView name = xml.name();
            const QXmlStreamAttributes attributes = xml.attributes();
            ++depth;
            if (depth == 1) {
                r.packetVersion = attributeOf(attributes, u"Version").value_or(QString());
            } else if (fieldsDepth < 0 && !fieldsDone && sameName(name, u"FIELDS")) {
                fieldsDepth = depth;
            } else if (fieldsDepth > 0 && depth == fieldsDepth + 1 && sameName(name, u"FIELD")) {
                int a = -1;
                int t = -1;
                int w = -1;
                const QString fieldName = attributeOf(attributes, u"attrname", &a).value_or(QString());
                const QString type = attributeOf(attributes, u"fieldtype", &t).value_or(QString());
                const QString width = attributeOf(attributes, u"WIDTH", &w).value_or(QString());
                names.append(fieldName);
                r.fields.append(QStringList{fieldName, type, width}.join(u'|'));
                r.others.append(attributeList(attributes, {a, t, w}));
            } else if (fieldsDone && !paramsDone && rowDataDepth < 0 && sameName(name, u"PARAMS")) {
                paramsDone = true;
                r.lcid = attributeOf(attributes, u"LCID").value_or(QString());
                r.defaultOrder = keyNumbers(attributeOf(attributes, u"DEFAULT_ORDER").value_or(QString()),
                                            static_cast<int>(names.size()));
                r.primaryKey = keyNumbers(attributeOf(attributes, u"PRIMARY_KEY").value_or(QString()),
                                          static_cast<int>(names.size()));
            } else if (fieldsDone && !rowDataDone && rowDataDepth < 0 && sameName(name, u"ROWDATA")) {
                rowDataDepth = depth;
            } else if (rowDataDepth > 0 && depth == rowDataDepth + 1 && sameName(name, u"ROW")) {
                QStringList cells(std::max<qsizetype>(names.size(), 1));
                QList<bool> taken(names.size(), false);
                bool current = true;
                bool stateTaken = false;
                for (const QXmlStreamAttribute& attribute : attributes) {
                    const int j = static_cast<int>(
                        std::find_if(names.begin(), names.end(),
                                     [&](const QString& n) { return sameName(n, attribute.qualifiedName()); }) -
                        names.begin());
                    if (j < names.size() && !taken[j]) {
                        taken[j] = true;
                        cells[j] = written(attribute.value().toString());
                    } else if (j == names.size() && !stateTaken && sameName(attribute.qualifiedName(), u"RowState")) {
                        stateTaken = true;
                        current = (attribute.value().toInt() & 3) == 0;
                    }
                }
                if (current) {
                    r.rows.append(cells);
                }
            }
        } else if (token == QXmlStreamReader::EndElement) {
            if (depth == fieldsDepth) {
                fieldsDepth = -1;
                fieldsDone = true;
            } else if (depth == rowDataDepth) {
                rowDataDepth = -1;
                rowDataDone = true;
            }
            --depth;
        }
    }
    if (xml.hasError()) {
        qWarning() << xml.errorString();
    }
    if (r.xmlVersion.isEmpty()) {
        r.xmlVersion = QStringLiteral("1.0");
    }
    if (r.rows.isEmpty()) {
        r.rows.append(QStringList(std::max<qsizetype>(names.size(), 1)));
    }
    return r;
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

// The other settings of a field, as attributes.
Attributes parsedOthers(const QString& etc)
{
    QXmlStreamReader xml(QStringLiteral("<X ") + etc + QStringLiteral("/>"));
    while (!xml.atEnd()) {
        if (xml.readNext() == QXmlStreamReader::StartElement) {
            return attributeList(xml.attributes());
        }
    }
    return {{QStringLiteral("not XML"), etc}};
}

TReading ourReading(const QString& text, QString* failure)
{
    TWorkspace ws;
    FakeDialogs dialogs;
    try {
        readPacket(ws, text, dialogs);
    } catch (const TFailure& f) {
        *failure = f.message();
    }
    TReading r;
    r.xmlVersion = ws.Ed_xmlVersion();
    r.packetVersion = ws.Ed_PacketVersion();
    r.lcid = ws.Ed_LCID();
    for (int f = 1; f <= ws.FieldCount(); ++f) {
        const TStringGrid& table = ws.SG_Field();
        r.fields.append(
            QStringList{table.cell(FieldNameColumn, f), table.cell(FieldTypeColumn, f), table.cell(FieldWidthColumn, f)}
                .join(u'|'));
        r.others.append(parsedOthers(table.cell(FieldEtcColumn, f)));
    }
    r.defaultOrder = selected(ws.LB_DefOrder());
    r.primaryKey = selected(ws.LB_PriKey());
    for (int row = 1; row < ws.SG_Data().rowCount(); ++row) {
        QStringList cells;
        for (int c = 0; c < ws.SG_Data().colCount(); ++c) {
            const QString cell = ws.SG_Data().cell(c, row);
            cells.append(!cell.isEmpty() || ws.SG_Data().isEmptyString(c, row) ? written(cell) : QString());
        }
        r.rows.append(cells);
    }
    return r;
}

// ---- Packets in many forms ------------------------------------------------------------------------------

class TFormWriter {
public:
    // One packet in four is written all in the plain form the writer writes, one in four up to its rows.
    explicit TFormWriter(quint32 seed) : m_rng(seed), m_form(static_cast<int>(m_rng.bounded(4))), m_plain(m_form < 2) {}

    bool plain() const { return m_plain; }
    void startRows() { m_plain = m_form == 0; }

    int pick(int n) { return static_cast<int>(m_rng.bounded(n)); }
    template <typename T> const T& pickOf(const QList<T>& list) { return list[pick(static_cast<int>(list.size()))]; }

    // White space where XML allows it: one space in the plain form.
    QString space(bool required)
    {
        static const QStringList spaces{QStringLiteral(" "),    QStringLiteral("  "), QStringLiteral("\t"),
                                        QStringLiteral("\r\n"), QStringLiteral("\n"), QStringLiteral("\r\n\t")};
        if (m_plain) {
            return required ? QStringLiteral(" ") : QString();
        }
        if (!required && pick(2) == 0) {
            return {};
        }
        return pickOf(spaces);
    }

    // A value as written in a given quote: each character as itself, or as a reference where it must be
    // one or where the form chooses one. A space may be written as a tab or line break, which XML reads as one.
    QString value(const QString& value, QChar quote)
    {
        QString out;
        for (qsizetype i = 0; i < value.size(); ++i) {
            const QChar c = value[i];
            const char32_t code = c.isHighSurrogate() && i + 1 < value.size() ? QChar::surrogateToUcs4(c, value[i + 1])
                                                                              : static_cast<char32_t>(c.unicode());
            const qsizetype units = code > 0xFFFF ? 2 : 1;
            const bool must = c == quote || c == u'&' || c == u'<' || c == u'\t' || c == u'\n' || c == u'\r';
            // The plain form escapes as the writer does, so that the scan reads it.
            const bool plainMust = must || c == u'"' || c == u'>';
            if (m_plain ? plainMust : must || pick(12) == 0) {
                const int form = m_plain ? 0 : pick(3);
                if (form == 0 && c == u'&') {
                    out += QStringLiteral("&amp;");
                } else if (form == 0 && c == u'<') {
                    out += QStringLiteral("&lt;");
                } else if (form == 0 && c == u'>') {
                    out += QStringLiteral("&gt;");
                } else if (form == 0 && c == u'"') {
                    out += QStringLiteral("&quot;");
                } else if (form == 0 && c == u'\'') {
                    out += QStringLiteral("&apos;");
                } else if (form == 1) {
                    out += QStringLiteral("&#x%1;").arg(static_cast<uint>(code), 0, 16);
                } else {
                    out += QStringLiteral("&#%1;").arg(static_cast<uint>(code));
                }
            } else if (c == u' ' && !m_plain && pick(4) == 0) {
                // (No lone CR: one before a line feed written for the next space would make one line break.)
                out += pickOf(QStringList{QStringLiteral("\t"), QStringLiteral("\n"), QStringLiteral("\r\n")});
            } else {
                out += value.mid(i, units);
            }
            i += units - 1;
        }
        return out;
    }

    // `literal` for the declaration, whose values hold no references.
    QString attribute(const QString& name, const QString& value, bool literal = false)
    {
        const QChar quote = m_plain || pick(2) == 0 ? u'"' : u'\'';
        return space(true) + name + space(false) + u'=' + space(false) + quote +
               (literal ? value : this->value(value, quote)) + quote;
    }

    // Something that is no data, between elements; none in the plain form.
    QString misc(const QString& ghost)
    {
        if (m_plain || pick(3) != 0) {
            return m_plain ? QStringLiteral("\r\n") : space(false);
        }
        switch (pick(3)) {
        case 0:
            return QStringLiteral("<!-- %1 -->").arg(ghost);
        case 1:
            return QStringLiteral("<?keep %1?>").arg(ghost);
        default:
            return QStringLiteral("<?pi?>");
        }
    }

    // Content of an element that holds text: CDATA as well.
    QString content(const QString& ghost)
    {
        if (!m_plain && pick(4) == 0) {
            return QStringLiteral("<![CDATA[%1]]>").arg(ghost);
        }
        return misc(ghost);
    }

    QString startTag(const QString& name, const QString& attributes, bool empty)
    {
        return u'<' + name + attributes + space(false) + (empty ? QStringLiteral("/>") : QStringLiteral(">"));
    }

    QString endTag(const QString& name) { return QStringLiteral("</") + name + space(false) + u'>'; }

    QRandomGenerator m_rng;
    int m_form;
    bool m_plain;
};

QString generatePacket(quint32 seed, bool* plain)
{
    TFormWriter w(seed);
    *plain = w.plain();
    static const QStringList namePool{QStringLiteral("id"),     QStringLiteral("pid"),      QStringLiteral("USERID"),
                                      QStringLiteral("名前"),   QStringLiteral("住所"),     QStringLiteral("Name"),
                                      QStringLiteral("e-mail"), QStringLiteral("Ünïcode"),  QStringLiteral("x1"),
                                      QStringLiteral("値"),     QStringLiteral("amp"),      QStringLiteral("ROW"),
                                      QStringLiteral("Width"),  QStringLiteral("fieldtype")};
    static const QStringList typePool{QStringLiteral("i4"), QStringLiteral("string"), QStringLiteral("r8"),
                                      QStringLiteral("bin.hex")};
    static const QList<std::pair<QString, QString>> otherPool{
        {QStringLiteral("note"), QStringLiteral("a\"b'c<d>&e f")},
        {QStringLiteral("required"), QStringLiteral("true")},
        {QStringLiteral("SUBTYPE"), QStringLiteral("Text")},
        {QStringLiteral("fieldname"), QStringLiteral("Species No")}};
    static const QStringList pieces{QStringLiteral("a"),
                                    QStringLiteral("Z"),
                                    QStringLiteral(" "),
                                    QStringLiteral("\""),
                                    QStringLiteral("'"),
                                    QStringLiteral("<"),
                                    QStringLiteral(">"),
                                    QStringLiteral("&"),
                                    QStringLiteral("&amp;"),
                                    QStringLiteral("日本"),
                                    QStringLiteral("="),
                                    QStringLiteral("\r\n"),
                                    QStringLiteral("\t"),
                                    QStringLiteral("/>"),
                                    QStringLiteral(" id=\""),
                                    QStringLiteral("12"),
                                    QStringLiteral("ｶﾅ"),
                                    QStringLiteral("]]>"),
                                    QString::fromUtf8("\xF0\x9F\x98\x80")};
    const auto text = [&](int most) {
        QString out;
        for (int n = w.pick(most + 1); n > 0; --n) {
            out += w.pickOf(pieces);
        }
        return out;
    };
    // The plain form writes no value ending in "=", as the writer does.
    const auto plainSafe = [&](QString v) {
        if (w.plain() && v.endsWith(u'=')) {
            v.chop(1);
        }
        return v;
    };

    QString out;
    if (w.plain() || w.pick(4) != 0) {
        out += QStringLiteral("<?xml") + w.attribute(QStringLiteral("version"), QStringLiteral("1.0"), true);
        if (w.pick(2) == 0) {
            out += w.attribute(QStringLiteral("standalone"), QStringLiteral("yes"), true);
        }
        out += w.space(false) + QStringLiteral("?>");
    }
    out += w.misc(QStringLiteral("<DATAPACKET Version=\"9\">"));
    if (!w.plain() && w.pick(4) == 0) {
        out += w.pick(2) == 0 ? QStringLiteral("<!DOCTYPE DATAPACKET>")
                              : QStringLiteral("<!DOCTYPE DATAPACKET [<!-- <ROW id=\"doc\"/> -->]>");
        out += w.misc(QString());
    }
    out += w.startTag(QStringLiteral("DATAPACKET"),
                      w.attribute(QStringLiteral("Version"), w.plain() ? QStringLiteral("2.0") : text(2)), false);
    out += w.misc(QString()) + w.startTag(QStringLiteral("METADATA"), {}, false);
    out += w.content(QStringLiteral("<FIELDS><FIELD attrname=\"ghost\"/></FIELDS>"));
    out += w.startTag(QStringLiteral("FIELDS"), {}, false);

    QStringList pool = namePool;
    QStringList names;
    const int fieldCount = w.pick(5) + 1;
    for (int f = 0; f < fieldCount; ++f) {
        const QString name = pool.takeAt(w.pick(static_cast<int>(pool.size())));
        names.append(name);
        QStringList attributes{w.attribute(QStringLiteral("attrname"), name),
                               w.attribute(QStringLiteral("fieldtype"), w.pickOf(typePool))};
        if (w.pick(2) == 0) {
            attributes.append(w.attribute(QStringLiteral("WIDTH"), QString::number(w.pick(300) + 1)));
        }
        // The plain form has no reference before the rows.
        QList<std::pair<QString, QString>> others = otherPool.mid(w.plain() ? 1 : 0);
        for (int n = w.pick(3); n > 0; --n) {
            const auto other = others.takeAt(w.pick(static_cast<int>(others.size())));
            attributes.insert(w.plain() ? attributes.size() : w.pick(static_cast<int>(attributes.size()) + 1),
                              w.attribute(other.first, plainSafe(other.second)));
        }
        if (!w.plain()) {
            // Any order.
            for (qsizetype i = attributes.size() - 1; i > 0; --i) {
                attributes.swapItemsAt(i, w.pick(static_cast<int>(i) + 1));
            }
        }
        out += w.content(QStringLiteral("<FIELD attrname=\"ghost%1\" fieldtype=\"i4\"/>").arg(f));
        out += w.startTag(QStringLiteral("FIELD"), attributes.join(QString()), true);
    }
    out += w.content(QStringLiteral("<FIELD attrname=\"last\"/>")) + w.endTag(QStringLiteral("FIELDS"));
    QString params;
    QStringList defaultOrder;
    QStringList primaryKey;
    for (int f = 1; f <= fieldCount; ++f) {
        if (w.pick(2) == 0) {
            defaultOrder.append(QString::number(f));
        }
        if (w.pick(3) == 0) {
            primaryKey.append(QString::number(f));
        }
    }
    params += w.attribute(QStringLiteral("DEFAULT_ORDER"), defaultOrder.join(u' '));
    params += w.attribute(QStringLiteral("PRIMARY_KEY"), primaryKey.join(u' '));
    params +=
        w.attribute(QStringLiteral("LCID"), w.pickOf(QStringList{QStringLiteral("1041"), QStringLiteral("1033")}));
    out += w.misc(QStringLiteral("<PARAMS LCID=\"7\"/>")) + w.startTag(QStringLiteral("PARAMS"), params, true);
    out += w.misc(QString()) + w.endTag(QStringLiteral("METADATA")) + w.misc(QString());
    out += w.startTag(QStringLiteral("ROWDATA"), {}, false);
    w.startRows();

    const int rowCount = w.pick(6);
    for (int r = 0; r < rowCount; ++r) {
        out += w.content(QStringLiteral("<ROW %1=\"ghost\"/>").arg(names[0]));
        QStringList attributes;
        for (const QString& name : names) {
            if (w.pick(4) == 0) {
                continue;
            }
            // Now and then the name in another letter case, or the value written empty.
            QString written = name;
            if (!w.plain() && w.pick(5) == 0) {
                written = name.toUpper();
            }
            attributes.append(w.attribute(written, w.pick(6) == 0 ? QString() : plainSafe(text(5))));
        }
        if (!w.plain() && w.pick(6) == 0) {
            attributes.insert(w.pick(static_cast<int>(attributes.size()) + 1),
                              w.attribute(QStringLiteral("RowState"), QString::number(w.pick(9))));
        }
        if (!w.plain()) {
            for (qsizetype i = attributes.size() - 1; i > 0; --i) {
                attributes.swapItemsAt(i, w.pick(static_cast<int>(i) + 1));
            }
        }
        // A row with content holds something that is no data: a comment or an element of its own.
        const bool content = !w.plain() && w.pick(5) == 0;
        if (attributes.isEmpty() && w.plain()) {
            out += QStringLiteral("<ROW/>");
            continue;
        }
        const QString tag = attributes.isEmpty() && w.pick(2) == 0
                                ? QStringLiteral("<ROW") + w.space(false)
                                : QStringLiteral("<ROW") + attributes.join(QString()) + w.space(false);
        out +=
            tag + (content ? QStringLiteral(">") + w.content(QStringLiteral("<ROW id=\"in\"/>")) +
                                 QStringLiteral("<Items><ROW id=\"nested\"/></Items>") + w.endTag(QStringLiteral("ROW"))
                           : QStringLiteral("/>"));
    }
    out += w.content(QStringLiteral("<ROW id=\"after\"/>")) + w.endTag(QStringLiteral("ROWDATA"));
    out += w.misc(QStringLiteral("<ROW id=\"outside\"/>")) + w.endTag(QStringLiteral("DATAPACKET"));
    out += w.misc(QStringLiteral("<ROW id=\"end\"/>"));
    return out;
}

QString lines(const QStringList& texts)
{
    return texts.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n");
}

} // namespace

class TestPacketXmlForms : public QObject {
    Q_OBJECT
private slots:
    void generatedForms_data();
    void generatedForms();
    void shapes_data();
    void shapes();
    void rowsReadAgain_data();
    void rowsReadAgain();
};

void TestPacketXmlForms::generatedForms_data()
{
    QTest::addColumn<quint32>("seed");
    QRandomGenerator seeds(20261208);
    for (int i = 0; i < 400; ++i) {
        const quint32 seed = seeds.generate();
        QTest::addRow("packet %d (seed %u)", i, seed) << seed;
    }
}

void TestPacketXmlForms::generatedForms()
{
    QFETCH(quint32, seed);
    bool plain = false;
    const QString text = generatePacket(seed, &plain);
    const std::optional<TXmlFault> fault = firstXmlFault(text);
    QVERIFY2(!fault, qPrintable(fault ? describeXmlFault(text, *fault) + u'\n' + text : QString()));
    const TReading expected = referenceReading(text);
    QString failure;
    const TReading actual = ourReading(text, &failure);
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
    const QByteArray shown = text.toUtf8();
    QVERIFY2(actual.xmlVersion == expected.xmlVersion, shown);
    QVERIFY2(actual.packetVersion == expected.packetVersion, shown);
    QVERIFY2(actual.lcid == expected.lcid, shown);
    QCOMPARE(actual.fields, expected.fields);
    QCOMPARE(actual.others, expected.others);
    QCOMPARE(actual.defaultOrder, expected.defaultOrder);
    QCOMPARE(actual.primaryKey, expected.primaryKey);
    QCOMPARE(actual.rows, expected.rows);
}

// The forms found in hand-made and real packets that the scan misread, each once; and one text that is not
// well-formed, which keeps the scan's reading.
void TestPacketXmlForms::shapes_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("fields");
    QTest::addColumn<Rows>("rows");

    const QString head = QStringLiteral("<?xml version=\"1.0\" standalone=\"yes\"?>\r\n<DATAPACKET Version=\"2.0\">");
    const QString idName = QStringLiteral("<FIELD attrname=\"ID\" fieldtype=\"i4\"/><FIELD attrname=\"NAME\" "
                                          "fieldtype=\"string\" WIDTH=\"20\"/>");
    const auto packet = [&](const QString& fields, const QString& rows, const QString& start = QString()) {
        return (start.isEmpty() ? head : start) + QStringLiteral("<METADATA><FIELDS>") + fields +
               QStringLiteral("</FIELDS><PARAMS LCID=\"1041\"/></METADATA>\r\n<ROWDATA>\r\n") + rows +
               QStringLiteral("</ROWDATA></DATAPACKET>\r\n");
    };
    const QStringList both{QStringLiteral("ID|i4||"), QStringLiteral("NAME|string||20")};
    const Rows one{{QStringLiteral("1"), QStringLiteral("Apple")}};

    QTest::newRow("single-quoted values")
        << packet(QStringLiteral("<FIELD attrname='ID' fieldtype='i4'/><FIELD attrname='NAME' fieldtype='string' "
                                 "WIDTH='20'/>"),
                  QStringLiteral("<ROW ID='1' NAME='Apple'/>"))
        << both << one;
    QTest::newRow("a single-quoted declaration")
        << packet(idName, QStringLiteral("<ROW ID=\"1\" NAME=\"Apple\"/>"),
                  QStringLiteral("<?xml version='1.0' standalone='yes'?><DATAPACKET Version='2.0'>"))
        << both << one;
    QTest::newRow("white space around =")
        << packet(QStringLiteral(
                      "<FIELD attrname = \"ID\" fieldtype=\"i4\"/><FIELD attrname=\"NAME\" fieldtype =\"string\" "
                      "WIDTH= \"20\"/>"),
                  QStringLiteral("<ROW ID =\"1\" NAME\t=\r\n\"Apple\"/>"))
        << both << one;
    QTest::newRow("a line break or tab after the tag's name")
        << packet(idName, QStringLiteral("<ROW\r\nID=\"1\" NAME=\"Apple\"/>\r\n<ROW\tID=\"2\"/>"),
                  QStringLiteral("<?xml version=\"1.0\"?><DATAPACKET\r\n\tVersion=\"2.0\">"))
        << both << Rows{{QStringLiteral("1"), QStringLiteral("Apple")}, {QStringLiteral("2"), QString()}};
    QTest::newRow("fieldtype single-quoted after attrname double-quoted")
        << packet(QStringLiteral("<FIELD attrname=\"ID\" fieldtype='i4'/><FIELD attrname=\"NAME\" fieldtype='string' "
                                 "WIDTH=\"20\"/>"),
                  QStringLiteral("<ROW ID=\"1\" NAME=\"Apple\"/>"))
        << both << one;
    QTest::newRow("commented-out rows and fields")
        << packet(idName + QStringLiteral("<!-- <FIELD attrname=\"OLD\" fieldtype=\"i4\"/> -->"),
                  QStringLiteral("<ROW ID=\"1\" NAME=\"Apple\"/>\r\n<!-- <ROW ID=\"9\" NAME=\"Gone\"/> -->\r\n"))
        << both << one;
    QTest::newRow("CDATA sections and processing instructions")
        << packet(idName + QStringLiteral("<![CDATA[<FIELD attrname=\"CD\" fieldtype=\"i4\"/>]]>"),
                  QStringLiteral("<ROW ID=\"1\" NAME=\"Apple\"/><![CDATA[<ROW ID=\"8\"/>]]><?keep <ROW ID=\"7\"/>?>"))
        << both << one;
    QTest::newRow("a document type")
        << packet(idName, QStringLiteral("<ROW ID=\"1\" NAME=\"Apple\"/>"),
                  QStringLiteral("<?xml version=\"1.0\"?>\r\n<!DOCTYPE DATAPACKET [<!-- <DATAPACKET Version=\"1.0\"> "
                                 "-->]>\r\n<DATAPACKET Version=\"2.0\">"))
        << both << one;
    QTest::newRow("values: references decoded, tabs and line breaks read as spaces")
        << packet(QStringLiteral("<FIELD attrname=\"ID\" fieldtype=\"&#105;4\"/><FIELD attrname=\"NAME\" "
                                 "fieldtype=\"string\" WIDTH=\"2&#48;\"/>"),
                  QStringLiteral("<ROW ID=\"1\" NAME=\"a\tb\r\nc&#9;&apos;&#x1F600;\"/>"))
        << both << Rows{{QStringLiteral("1"), QString::fromUtf8("a b c\t'\xF0\x9F\x98\x80")}};
    QTest::newRow("not well-formed: the scan's reading, the comment's row read")
        << packet(idName,
                  QStringLiteral("<ROW ID=\"1\" NAME=\"A & B\"/>\r\n<!-- <ROW ID=\"9\" NAME=\"Gone\"/> -->\r\n"))
        << both << Rows{{QStringLiteral("1"), QStringLiteral("A & B")}, {QStringLiteral("9"), QStringLiteral("Gone")}};
}

void TestPacketXmlForms::shapes()
{
    QFETCH(QString, text);
    QFETCH(QStringList, fields);
    QFETCH(Rows, rows);
    QCOMPARE(!firstXmlFault(text), !QByteArray(QTest::currentDataTag()).startsWith("not well-formed"));
    TWorkspace ws;
    FakeDialogs dialogs;
    QVERIFY_THROWS_NO_EXCEPTION(readPacket(ws, text, dialogs));
    QCOMPARE(ws.Ed_PacketVersion(), QStringLiteral("2.0"));
    QCOMPARE(ws.Ed_LCID(), QStringLiteral("1041"));
    QStringList read;
    for (int f = 1; f <= ws.FieldCount(); ++f) {
        QStringList cells;
        for (int c = 0; c < 4; ++c) {
            cells.append(ws.SG_Field().cell(c, f));
        }
        read.append(cells.join(u'|'));
    }
    QCOMPARE(read, fields);
    Rows data;
    for (int r = 1; r < ws.SG_Data().rowCount(); ++r) {
        const std::vector<QString> cells = ws.SG_Data().row(r);
        data.append(QStringList(cells.begin(), cells.end()));
    }
    QCOMPARE(data, rows);
}

// Rows in another form after a plain head are read again, the head not: a refused field's message shows
// once, whether the text is well-formed (the rows as XML reads them) or not (as the scan reads them).
void TestPacketXmlForms::rowsReadAgain_data()
{
    QTest::addColumn<QString>("rows");
    QTest::addColumn<Rows>("expected");

    QTest::newRow("well-formed") << QStringLiteral("<ROW A=\"1\"/><!-- <ROW A=\"9\"/> --><ROW A=\"2\"/>")
                                 << Rows{{QStringLiteral("1")}, {QStringLiteral("2")}};
    QTest::newRow("not well-formed") << QStringLiteral("<ROW A=\"1 & 2\"/><!-- <ROW A=\"9\"/> -->")
                                     << Rows{{QStringLiteral("1 & 2")}, {QStringLiteral("9")}};
}

void TestPacketXmlForms::rowsReadAgain()
{
    QFETCH(QString, rows);
    QFETCH(Rows, expected);
    const QString text = lines({QStringLiteral("<?xml version=\"1.0\"?>"),
                                QStringLiteral("<DATAPACKET Version=\"2.0\">"), QStringLiteral("<METADATA>"),
                                QStringLiteral("<FIELDS>"), QStringLiteral("<FIELD attrname=\"A\" fieldtype=\"i4\"/>"),
                                QStringLiteral("<FIELD attrname=\"a\" fieldtype=\"i4\"/>"), QStringLiteral("</FIELDS>"),
                                QStringLiteral("</METADATA>"), QStringLiteral("<ROWDATA>"), rows,
                                QStringLiteral("</ROWDATA>"), QStringLiteral("</DATAPACKET>")});
    TWorkspace ws;
    FakeDialogs dialogs;
    readPacket(ws, text, dialogs);
    QCOMPARE(dialogs.informed, QStringList{QStringLiteral("フィールド名が既にあるか不正な名前です")});
    Rows data;
    for (int r = 1; r < ws.SG_Data().rowCount(); ++r) {
        data.append(QStringList{ws.SG_Data().cell(0, r)});
    }
    QCOMPARE(data, expected);
}

QTEST_GUILESS_MAIN(TestPacketXmlForms)
#include "TestPacketXmlForms.moc"
