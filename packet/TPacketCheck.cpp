#include "TPacketCheck.h"

#include "TDialogs.h"
#include "TFailure.h"
#include "THeadRules.h"
#include "TLineBreaks.h"
#include "TPacketFile.h"
#include "TPacketReader.h"
#include "TPacketWriter.h"
#include "TRowRules.h"
#include "TValueRules.h"
#include "TWorkspace.h"
#include "TXmlCheck.h"

#include <optional>

namespace torvane {

namespace {

// The reader's messages, kept as findings.
class TCollectingDialogs : public TDialogs {
public:
    std::vector<TCheckFinding>* findings = nullptr;
    void inform(const QString& message) override { findings->push_back({0, message}); }
    // A question the load would ask (a packet larger than memory allows) is answered as a user who wants
    // the packet read.
    bool confirm(const QString&) override { return true; }
};

// Where each record starts in a well-formed text: the line of the start tag of each ROW child of the first
// ROWDATA, the change log's earlier versions and deleted rows left out by the row rules the reader follows, so
// that the n-th line is that of record n.
class TRecordLines final : public TXmlEvents {
public:
    TRecordLines(const TWorkspace& ws, QStringView text) : m_text(text) { m_rules.start(ws); }

    std::vector<qsizetype> lines;

    void xmlDeclaration(QStringView) override {}
    void startElement(QStringView name, const std::vector<TXmlAttribute>& attributes, qsizetype tagStart, qsizetype,
                      bool empty) override
    {
        const int depth = m_depth;
        m_depth += empty ? 0 : 1;
        if (m_rowDataDepth < 0) {
            if (!m_rowDataSeen && sameNameIgnoringCase(name, u"ROWDATA")) {
                m_rowDataSeen = true;
                m_rowDataDepth = empty ? -1 : depth;
            }
            return;
        }
        if (depth != m_rowDataDepth + 1 || !sameNameIgnoringCase(name, u"ROW")) {
            return;
        }
        m_rules.beginRow();
        for (const TXmlAttribute& attribute : attributes) {
            const int key = m_rules.keyOf(attribute.name);
            if (key >= 0) {
                m_rules.take(key, attribute.value, TRowValueForm::XmlAttribute);
            }
        }
        if (m_rules.isCurrent()) {
            lines.push_back(lineAt(tagStart));
        }
    }
    void endElement(QStringView, qsizetype, qsizetype) override
    {
        if (--m_depth == m_rowDataDepth) {
            m_rowDataDepth = -1;
        }
    }

private:
    // Line breaks are counted from the last position asked about: the tags come in text order.
    qsizetype lineAt(qsizetype position)
    {
        for (; m_counted < position; ++m_counted) {
            const QChar c = m_text[m_counted];
            if (c == u'\n' || (c == u'\r' && (m_counted + 1 >= m_text.size() || m_text[m_counted + 1] != u'\n'))) {
                ++m_line;
            }
        }
        return m_line;
    }

    QStringView m_text;
    TRowRules m_rules;
    int m_depth = 0;
    int m_rowDataDepth = -1;
    bool m_rowDataSeen = false;
    qsizetype m_counted = 0;
    qsizetype m_line = 1;
};

QString faultText(const QString& description, bool written, bool japanese)
{
    if (written) {
        return japanese ? QStringLiteral("保存すると整形式の XML ではなくなります: %1").arg(description)
                        : QStringLiteral("a save would write text that is not well-formed XML: %1").arg(description);
    }
    return japanese ? QStringLiteral("整形式の XML ではありません: %1").arg(description)
                    : QStringLiteral("not well-formed XML: %1").arg(description);
}

void checkValuesOf(const TWorkspace& ws, QStringView text, bool wellFormed, bool japanese,
                   std::vector<TCheckFinding>& findings)
{
    const std::vector<TValueProblem> problems = checkValues(ws);
    if (problems.empty()) {
        return;
    }
    const std::vector<TValueRule> rules = valueRulesOf(ws);
    const int first = ws.standInRow() && ws.SG_Data().rowCount() == 2 && ws.isBlankDataRow(1) ? 2 : 1;
    std::vector<qsizetype> lines;
    if (wellFormed) {
        TRecordLines records(ws, text);
        readXml(text, records);
        // Lines are told only where every record was found where the reader found it.
        if (records.lines.size() == static_cast<size_t>(ws.SG_Data().rowCount() - first)) {
            lines = std::move(records.lines);
        }
    }
    const TStringGrid& data = ws.SG_Data();
    for (const TValueProblem& p : problems) {
        const TValueRule& rule = rules[static_cast<size_t>(p.column)];
        const QString value = shownValue(data.cellView(p.column, p.row), data.isEmptyString(p.column, p.row), japanese);
        const QString expected = expectedText(rule, p.fault, p.otherRow, japanese);
        const QString& field = ws.FieldList()[p.column];
        const size_t index = static_cast<size_t>(p.row - first);
        const qsizetype line = index < lines.size() ? lines[index] : 0;
        findings.push_back({line, japanese
                                      ? QStringLiteral("データ %1 行目、フィールド「%2」、値 %3: 期待される値は %4")
                                            .arg(QString::number(p.row), field, value, expected)
                                      : QStringLiteral("record %1, field \"%2\", value %3: expected %4")
                                            .arg(QString::number(p.row), field, value, expected)});
    }
}

} // namespace

QString shownValue(QStringView value, bool emptyString, bool japanese)
{
    if (value.isEmpty() && !emptyString) {
        return japanese ? QStringLiteral("(値なし)") : QStringLiteral("(no value)");
    }
    constexpr qsizetype Longest = 60;
    QString out = QStringLiteral("\"");
    for (qsizetype i = 0; i < value.size() && i < Longest; ++i) {
        const QChar c = value[i];
        if (c == u'\r') {
            out += QLatin1String("\\r");
        } else if (c == u'\n') {
            out += QLatin1String("\\n");
        } else if (c == u'\t') {
            out += QLatin1String("\\t");
        } else {
            out += c;
        }
    }
    out += value.size() > Longest ? QStringLiteral("…\"") : QStringLiteral("\"");
    return out;
}

std::vector<TCheckFinding> checkPacketFile(const QString& fileName, bool japanese)
{
    std::vector<TCheckFinding> findings;
    TCollectingDialogs dialogs;
    dialogs.findings = &findings;
    TWorkspace ws;
    ws.ResetWorkspace();
    try {
        const TDecodedText loaded = loadPacketText(fileName);
        if (loaded.faults.count > 0) {
            findings.push_back({loaded.firstFaultLine, undecodableMessage(fileName, loaded)});
        }
        // The reader and the XML check see the text as the XML view gives it, with CR LF breaks: the lines
        // are the file's.
        const QString text = toCrLf(loaded.text);
        const std::optional<TXmlFault> fault = firstXmlFault(text);
        if (fault) {
            findings.push_back({fault->line, faultText(describeXmlFault(text, *fault), false, japanese)});
        }
        readPacket(ws, text, dialogs);
        checkValuesOf(ws, text, !fault, japanese, findings);

        // What a save of the packet read would tell.
        const QString written = writePacket(ws);
        if (!fault) {
            if (const std::optional<TXmlFault> writtenFault = firstXmlFault(written)) {
                findings.push_back({0, faultText(describeXmlFault(written, *writtenFault), true, japanese)});
            }
        }
        try {
            encodePacketFile(written, loaded.encoding);
        } catch (const TFailure& failure) {
            findings.push_back(
                {0, (japanese ? QStringLiteral("保存すると: %1") : QStringLiteral("a save would fail: %1"))
                        .arg(failure.message())});
        }
    } catch (const TFailure& failure) {
        findings.push_back({0, failure.message()});
    }
    // One a line: the load's longer messages keep their sentences, on one line.
    for (TCheckFinding& finding : findings) {
        finding.text.replace(QLatin1String("\r\n"), QLatin1String(" ")).replace(u'\n', u' ');
    }
    return findings;
}

} // namespace torvane
