#include "TPacketWriter.h"

namespace torvane {

namespace {

const QLatin1String CrLf("\r\n");

void appendPositions(QString& out, const std::vector<int>& positions)
{
    for (size_t i = 0; i < positions.size(); ++i) {
        if (i > 0) {
            out += u' ';
        }
        out += QString::number(positions[i]);
    }
}

bool needsEscape(const QString& value)
{
    for (QChar c : value) {
        switch (c.unicode()) {
        case u'&':
        case u'<':
        case u'>':
        case u'"':
        case u'\r':
        case u'\n':
        case u'\t':
            return true;
        default:
            break;
        }
    }
    return value.endsWith(u'=');
}

void appendEscaped(QString& out, const QString& value)
{
    if (!needsEscape(value)) {
        out += value;
        return;
    }
    const qsizetype last = value.size() - 1;
    for (qsizetype i = 0; i <= last; ++i) {
        const QChar c = value[i];
        switch (c.unicode()) {
        case u'&':
            out += QLatin1String("&amp;");
            break;
        case u'<':
            out += QLatin1String("&lt;");
            break;
        case u'>':
            out += QLatin1String("&gt;");
            break;
        case u'"':
            out += QLatin1String("&quot;");
            break;
        case u'\r':
            out += QLatin1String("&#13;");
            break;
        case u'\n':
            out += QLatin1String("&#10;");
            break;
        case u'\t':
            out += QLatin1String("&#9;");
            break;
        case u'=':
            // A value ending in "=" would put its closing quote right after an "=", where a reader looking
            // for the next key ("name=\"") could take it for the start of an attribute.
            if (i == last) {
                out += QLatin1String("&#61;");
            } else {
                out += c;
            }
            break;
        default:
            out += c;
            break;
        }
    }
}

} // namespace

QString typeCodeOfText(const QString& typeText)
{
    const qsizetype a = typeText.indexOf(u'（');
    const qsizetype b = typeText.indexOf(u'(');
    qsizetype p = -1;
    if (a >= 0 && b >= 0) {
        p = std::min(a, b);
    } else {
        p = a >= 0 ? a : b;
    }
    if (p >= 1) {
        return typeText.left(p);
    }
    return typeText;
}

QString TypeCodeOf(const TWorkspace& workspace, int r)
{
    return typeCodeOfText(workspace.SG_Field.cell(1, r));
}

QString BuildParamsLine(const TWorkspace& workspace)
{
    const int n = static_cast<int>(workspace.FieldList.size());
    QString line = QStringLiteral("<PARAMS DEFAULT_ORDER=\"");
    appendPositions(line, workspace.LB_DefOrder.selectedPositions(n));
    line += QLatin1String("\" PRIMARY_KEY=\"");
    appendPositions(line, workspace.LB_PriKey.selectedPositions(n));
    line += QLatin1String("\" LCID=\"");
    line += workspace.Ed_LCID;
    line += QLatin1String("\"/>");
    return line;
}

QString escapeRowValue(const QString& value)
{
    QString out;
    appendEscaped(out, value);
    return out;
}

QString writePacket(const TWorkspace& ws)
{
    const TStringGrid& data = ws.SG_Data;
    const int fieldCount = std::max(ws.FieldCount, 0);
    const int columns = std::min({fieldCount, data.colCount(), static_cast<int>(ws.FieldList.size())});

    // One pass to size the text, so that a packet of millions of cells is built without reallocating.
    qsizetype size = 512;
    for (int r = 1; r < data.rowCount(); ++r) {
        const auto& cells = data.row(r);
        size += 8;
        for (int c = 0; c < columns; ++c) {
            if (!cells[static_cast<size_t>(c)].isEmpty()) {
                size += ws.FieldList[c].size() + cells[static_cast<size_t>(c)].size() + 4;
            }
        }
    }
    QString out;
    out.reserve(size + size / 16);

    out += QLatin1String("<?xml version=\"");
    out += ws.Ed_xmlVersion;
    out += QLatin1String("\" standalone=\"yes\"?>\r\n<DATAPACKET Version=\"");
    out += ws.Ed_PacketVersion;
    out += QLatin1String("\">\r\n<METADATA>\r\n<FIELDS>\r\n");

    for (int r = 1; r <= fieldCount && r <= ws.FieldList.size() && r < ws.SG_Field.rowCount(); ++r) {
        out += QLatin1String("<FIELD attrname=\"");
        out += ws.FieldList[r - 1];
        out += QLatin1String("\" fieldtype=\"");
        out += TypeCodeOf(ws, r);
        out += u'"';
        const QString& etc = ws.SG_Field.cell(2, r);
        if (!etc.isEmpty()) {
            out += u' ';
            out += etc;
        }
        const QString& width = ws.SG_Field.cell(3, r);
        if (!width.isEmpty()) {
            out += QLatin1String(" WIDTH=\"");
            out += width;
            out += u'"';
        }
        out += QLatin1String("/>\r\n");
    }

    out += QLatin1String("</FIELDS>\r\n");
    out += BuildParamsLine(ws);
    out += QLatin1String("\r\n</METADATA>\r\n<ROWDATA>\r\n");

    for (int r = 1; r < data.rowCount(); ++r) {
        const auto& cells = data.row(r);
        out += QLatin1String("<ROW");
        for (int c = 0; c < columns; ++c) {
            const QString& value = cells[static_cast<size_t>(c)];
            if (value.isEmpty()) {
                continue;
            }
            out += u' ';
            out += ws.FieldList[c];
            out += QLatin1String("=\"");
            appendEscaped(out, value);
            out += u'"';
        }
        out += QLatin1String("/>\r\n");
    }

    out += QLatin1String("</ROWDATA>\r\n</DATAPACKET>");
    out += CrLf;
    return out;
}

std::optional<QString> TabSheet2Show(TWorkspace& workspace)
{
    if (!workspace.NeedsRebuild) {
        return std::nullopt;
    }
    workspace.NeedsRebuild = false;
    return writePacket(workspace);
}

} // namespace torvane
