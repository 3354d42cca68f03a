#include "TWellFormedRead.h"

#include "THeadRules.h"
#include "TRowRules.h"
#include "TXmlCheck.h"

#include <algorithm>
#include <optional>

namespace torvane {

namespace {

// The reading of a well-formed text, told its elements in text order by the XML pass (readXml). The packet
// is the root element DATAPACKET; its fields the FIELD children of the first FIELDS element; its settings the
// first PARAMS element after that, and its rows the ROW children of the first ROWDATA element after the
// fields (neither inside the other). Element and attribute names compare without regard to letter case, as
// the scan's markers do; where two attributes differ only in case, the one written as the writer writes it
// counts. Values are read as XML reads them.
class TWellFormedRead final : public TXmlEvents {
public:
    TWellFormedRead(TWorkspace& ws, QStringView text, TDialogs& dialogs, std::optional<qint64> gridLimit, bool rowsOnly)
        : m_ws(ws), m_dialogs(dialogs), m_text(text), m_gridLimit(gridLimit), m_rowsOnly(rowsOnly)
    {
    }

    // After the pass: a text whose root is not a packet, or without declaration.
    void finish()
    {
        if (!m_rootSeen && !m_rowsOnly) {
            m_ws.startRead(m_xmlVersion, std::nullopt);
        }
    }

    void xmlDeclaration(QStringView version) override { m_xmlVersion = version.toString(); }

    void startElement(QStringView name, const std::vector<TXmlAttribute>& attributes, qsizetype tagStart,
                      qsizetype tagEnd, bool empty) override
    {
        const int depth = m_depth;
        if (!empty) {
            ++m_depth;
        }
        if (m_done) {
            return;
        }
        if (!m_rootSeen) {
            m_rootSeen = true;
            if (!sameNameIgnoringCase(name, u"DATAPACKET")) {
                m_done = true;
                if (!m_rowsOnly) {
                    m_ws.startRead(m_xmlVersion, std::nullopt);
                }
                return;
            }
            if (!m_rowsOnly) {
                const TXmlAttribute* version = findAttribute(attributes, u"Version");
                m_ws.startRead(m_xmlVersion ? m_xmlVersion : QStringLiteral("1.0"),
                               version ? attributeText(version->value) : QString());
            }
            return;
        }
        if (m_fields == TPhase::Before) {
            if (sameNameIgnoringCase(name, u"FIELDS")) {
                m_fields = TPhase::In;
                m_fieldsDepth = depth;
                if (!m_rowsOnly) {
                    m_batch.emplace(m_ws);
                }
                if (empty) {
                    closeFields();
                }
            }
            return;
        }
        if (m_fields == TPhase::In) {
            if (depth == m_fieldsDepth + 1 && !m_fieldOpen && !m_fieldsEnded && !m_rowsOnly &&
                sameNameIgnoringCase(name, u"FIELD")) {
                startField(name, attributes, tagStart, tagEnd, empty, depth);
            }
            return;
        }
        if (m_rows == TPhase::In) {
            if (depth == m_rowDataDepth + 1 && !m_rowOpen && sameNameIgnoringCase(name, u"ROW")) {
                startRow(attributes);
                if (empty) {
                    endRow({});
                } else {
                    m_rowOpen = true;
                    m_rowDepth = depth;
                    m_contentStart = tagEnd;
                }
            }
            return;
        }
        if (m_paramsDepth >= 0) {
            return;
        }
        if (!m_paramsSeen && sameNameIgnoringCase(name, u"PARAMS")) {
            m_paramsSeen = true;
            if (!empty) {
                m_paramsDepth = depth;
            }
            if (!m_rowsOnly) {
                readParams(attributes);
            }
        } else if (m_rows == TPhase::Before && sameNameIgnoringCase(name, u"ROWDATA")) {
            m_rows = TPhase::In;
            m_rowDataDepth = depth;
            startRows(tagEnd);
            if (empty) {
                endRows();
            }
        }
    }

    void endElement(QStringView name, qsizetype tagStart, qsizetype tagEnd) override
    {
        Q_UNUSED(name);
        Q_UNUSED(tagEnd);
        const int depth = --m_depth;
        if (m_done) {
            return;
        }
        if (m_fields == TPhase::In) {
            if (m_fieldOpen && depth == m_fieldDepth) {
                m_fieldOpen = false;
                addFieldRow(m_ws, m_dialogs, m_fieldName, m_fieldType, m_fieldEtc, m_fieldWidth,
                            m_text.mid(m_contentStart, tagStart - m_contentStart).toString());
            } else if (depth == m_fieldsDepth) {
                closeFields();
            }
            return;
        }
        if (m_rows == TPhase::In) {
            if (m_rowOpen && depth == m_rowDepth) {
                m_rowOpen = false;
                endRow(m_text.mid(m_contentStart, tagStart - m_contentStart));
            } else if (depth == m_rowDataDepth) {
                endRows();
            }
            return;
        }
        if (depth == m_paramsDepth) {
            m_paramsDepth = -1;
        }
    }

private:
    enum class TPhase { Before, In, After };

    void closeFields()
    {
        m_fields = TPhase::After;
        m_batch.reset();
    }

    void startField(QStringView tagName, const std::vector<TXmlAttribute>& attributes, qsizetype tagStart,
                    qsizetype tagEnd, bool empty, int depth)
    {
        const TXmlAttribute* name = findAttribute(attributes, u"attrname");
        if (!name) {
            // A field without a name cannot be added; the fields after it are read.
            return;
        }
        m_fieldName = attributeText(name->value);
        if (m_fieldName.isEmpty()) {
            // A field whose name is empty ends the fields, as it ends the scan's.
            m_fieldsEnded = true;
            return;
        }
        const TXmlAttribute* type = findAttribute(attributes, u"fieldtype");
        const TXmlAttribute* width = findAttribute(attributes, u"WIDTH");
        m_fieldType = type ? attributeText(type->value) : QString();
        m_fieldWidth = width ? attributeText(width->value) : QString();
        std::vector<TSpan> taken;
        for (const TXmlAttribute* a : {name, type, width}) {
            if (a) {
                const TSpan span = spanOf(m_text, *a);
                taken.push_back({separatorBefore(m_text, span.begin), span.end});
            }
        }
        // The attributes end before the "/" of "/>", or before the ">".
        m_fieldEtc =
            otherSettings(m_text, tagStart + 1 + tagName.size(), tagEnd - (empty ? 2 : 1), taken.data(), taken.size());
        if (empty) {
            addFieldRow(m_ws, m_dialogs, m_fieldName, m_fieldType, m_fieldEtc, m_fieldWidth, QString());
        } else {
            m_fieldOpen = true;
            m_fieldDepth = depth;
            m_contentStart = tagEnd;
        }
    }

    void readParams(const std::vector<TXmlAttribute>& attributes)
    {
        // The LCID and the other settings first, so that a key number that is not an integer does not lose them.
        if (const TXmlAttribute* lcid = findAttribute(attributes, u"LCID")) {
            m_ws.setLCID(attributeText(lcid->value));
        }
        // Every other attribute is kept as written, name, quotes and references alike.
        QString kept;
        for (const TXmlAttribute& a : attributes) {
            if (!isOwnParamsName(a.name)) {
                if (!kept.isEmpty()) {
                    kept += u' ';
                }
                const TSpan span = spanOf(m_text, a);
                kept += m_text.mid(span.begin, span.end - span.begin);
            }
        }
        m_ws.setParamsAttributes(kept);
        if (const TXmlAttribute* keys = findAttribute(attributes, u"DEFAULT_ORDER")) {
            selectKeyNumbers(m_ws, attributeText(keys->value), 0, TKeyKind::DefaultOrder);
        }
        if (const TXmlAttribute* keys = findAttribute(attributes, u"PRIMARY_KEY")) {
            selectKeyNumbers(m_ws, attributeText(keys->value), 0, TKeyKind::PrimaryKey);
        }
    }

    void startRows(qsizetype tagEnd)
    {
        checkGridFits(m_ws, m_text, tagEnd, m_gridLimit);
        m_rowRules.start(m_ws);
        m_row = 1;
    }

    void startRow(const std::vector<TXmlAttribute>& attributes)
    {
        m_rowRules.beginRow();
        for (const TXmlAttribute& a : attributes) {
            const int key = m_rowRules.keyOf(a.name);
            if (key < 0) {
                continue;
            }
            const bool asWritten = std::none_of(a.value.begin(), a.value.end(), [](QChar c) {
                return c == u'&' || c == u'\t' || c == u'\n' || c == u'\r';
            });
            m_rowRules.take(key, a.value, asWritten ? TRowValueForm::Plain : TRowValueForm::XmlAttribute);
        }
    }

    void endRow(QStringView content)
    {
        if (m_rowRules.putRow(m_ws, m_row, content)) {
            ++m_row;
        }
    }

    void endRows()
    {
        m_rows = TPhase::After;
        TRowRules::endRows(m_ws, m_row);
    }

    TWorkspace& m_ws;
    TDialogs& m_dialogs;
    QStringView m_text;
    std::optional<qint64> m_gridLimit;
    bool m_rowsOnly;

    std::optional<QString> m_xmlVersion;
    int m_depth = 0;
    bool m_rootSeen = false;
    bool m_done = false;

    TPhase m_fields = TPhase::Before;
    int m_fieldsDepth = -1;
    bool m_fieldsEnded = false;
    std::optional<TWorkspace::TFieldBatch> m_batch;
    bool m_fieldOpen = false;
    int m_fieldDepth = -1;
    QString m_fieldName;
    QString m_fieldType;
    QString m_fieldEtc;
    QString m_fieldWidth;
    qsizetype m_contentStart = 0;

    bool m_paramsSeen = false;
    int m_paramsDepth = -1;

    TPhase m_rows = TPhase::Before;
    int m_rowDataDepth = -1;
    bool m_rowOpen = false;
    int m_rowDepth = -1;
    int m_row = 1;
    TRowRules m_rowRules;
};

} // namespace

void readWellFormed(TWorkspace& ws, QStringView text, TDialogs& dialogs, std::optional<qint64> gridLimit, bool rowsOnly)
{
    TWellFormedRead read(ws, text, dialogs, gridLimit, rowsOnly);
    readXml(text, read);
    read.finish();
}

} // namespace torvane
