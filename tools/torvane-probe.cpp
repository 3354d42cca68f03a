// torvane-probe: drives the core the way the window does, without a window.
//   torvane-probe write FILE.json   prints the packet text of the workspace FILE.json describes
//   torvane-probe read FILE         loads a packet file, reads it into a fresh workspace, prints it as JSON
//   torvane-probe convert [--replace-undecodable] IN OUT
//                                   loads IN, reads it into a fresh workspace, writes the packet, saves it as OUT
//                                   in the encoding the packet declares, else the one IN was in (nothing when
//                                   the packet is not well-formed XML, or IN holds bytes its encoding cannot
//                                   read and the option does not take them as U+FFFD: exit status 1)
#include "StrToInt.h"
#include "TFailure.h"
#include "TLineBreaks.h"
#include "TPacketFile.h"
#include "TPacketReader.h"
#include "TPacketWriter.h"
#include "TWorkspace.h"
#include "TXmlCheck.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>

using namespace torvane;

namespace {

void printErr(const QString& text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stderr);
    std::fputc('\n', stderr);
}

void printOut(const QString& text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stdout);
    std::fflush(stdout);
}

// Messages go to standard error; questions are answered Yes; there are no file dialogs.
class TStderrDialogs : public TDialogs {
public:
    QStringList messages;
    bool failed = false;

    void inform(const QString& message) override
    {
        messages.append(message);
        printErr(message);
    }
    bool confirm(const QString&) override { return true; }
    // The window's error box, on standard error.
    void error(const QString& message)
    {
        failed = true;
        printErr(errorBoxText(message));
    }
};

QString jsonText(const QJsonValue& value)
{
    return value.isString() ? value.toString() : QString();
}

void selectKeys(TWorkspace& ws, TKeyKind list, const QJsonArray& numbers)
{
    for (const QJsonValue& n : numbers) {
        const int number = n.toInt(0);
        ws.setKeySelected(list, number - 1, true);
    }
}

int write(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        printErr(QStringLiteral("cannot open %1").arg(path));
        return 2;
    }
    QJsonParseError parseError{};
    const QJsonDocument doc = QJsonDocument::fromJson(file.readAll(), &parseError);
    if (!doc.isObject()) {
        printErr(QStringLiteral("%1: %2").arg(path, parseError.errorString()));
        return 2;
    }
    const QJsonObject root = doc.object();

    TWorkspace ws;
    TStderrDialogs dialogs;
    ws.ResetWorkspace();
    if (root.contains(QLatin1String("xmlVersion"))) {
        ws.setXmlVersion(jsonText(root.value(QLatin1String("xmlVersion"))));
    }
    if (root.contains(QLatin1String("packetVersion"))) {
        ws.setPacketVersion(jsonText(root.value(QLatin1String("packetVersion"))));
    }
    if (root.contains(QLatin1String("lcid"))) {
        ws.setLCID(jsonText(root.value(QLatin1String("lcid"))));
    }

    // As in the window: a field whose width is not an integer stays added, and the next fields are still
    // added, each through its own press of the add button.
    for (const QJsonValue& value : root.value(QLatin1String("fields")).toArray()) {
        const QJsonObject field = value.toObject();
        try {
            ws.AddFieldRow(jsonText(field.value(QLatin1String("name"))), jsonText(field.value(QLatin1String("type"))),
                           jsonText(field.value(QLatin1String("etc"))), jsonText(field.value(QLatin1String("width"))),
                           dialogs);
        } catch (const TFailure& failure) {
            dialogs.error(failure.message());
        }
    }
    selectKeys(ws, TKeyKind::DefaultOrder, root.value(QLatin1String("defaultOrder")).toArray());
    selectKeys(ws, TKeyKind::PrimaryKey, root.value(QLatin1String("primaryKey")).toArray());

    const QJsonArray rows = root.value(QLatin1String("rows")).toArray();
    ws.setDataRowCount(1 + std::max<int>(1, static_cast<int>(rows.size())));
    for (int r = 0; r < rows.size(); ++r) {
        const QJsonArray cells = rows[r].toArray();
        for (int c = 0; c < cells.size() && c < ws.SG_Data().colCount(); ++c) {
            ws.setDataCell(c, r + 1, jsonText(cells[c]));
        }
    }

    printOut(writePacket(ws));
    return dialogs.failed || !dialogs.messages.isEmpty() ? 1 : 0;
}

// A JSON string. Lone surrogates are written as escapes, so that nothing the reader produced is lost on the
// way to UTF-8.
QString jsonString(const QString& text)
{
    QString out;
    out.reserve(text.size() + 2);
    out += u'"';
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = text[i];
        const char16_t u = c.unicode();
        const bool pairStart = c.isHighSurrogate() && i + 1 < n && text[i + 1].isLowSurrogate();
        switch (u) {
        case u'"':
            out += QLatin1String("\\\"");
            break;
        case u'\\':
            out += QLatin1String("\\\\");
            break;
        case u'\b':
            out += QLatin1String("\\b");
            break;
        case u'\f':
            out += QLatin1String("\\f");
            break;
        case u'\n':
            out += QLatin1String("\\n");
            break;
        case u'\r':
            out += QLatin1String("\\r");
            break;
        case u'\t':
            out += QLatin1String("\\t");
            break;
        default:
            if (pairStart) {
                out += c;
                out += text[++i];
            } else if (u < 0x20 || c.isSurrogate()) {
                out += QStringLiteral("\\u%1").arg(static_cast<uint>(u), 4, 16, QLatin1Char('0'));
            } else {
                out += c;
            }
            break;
        }
    }
    out += u'"';
    return out;
}

QString jsonStrings(const QStringList& texts)
{
    QStringList items;
    for (const QString& text : texts) {
        items.append(jsonString(text));
    }
    return u'[' + items.join(QLatin1String(", ")) + u']';
}

QString jsonPositions(const TKeyList& list)
{
    QStringList items;
    for (const int position : list.selectedPositions(list.count())) {
        items.append(QString::number(position));
    }
    return u'[' + items.join(QLatin1String(", ")) + u']';
}

// One line per field and per row, in the order the keys are documented, so that the output can be compared
// with an expected file as it stands.
QString workspaceJson(const TWorkspace& ws, const QStringList& messages, const std::optional<QString>& error)
{
    QString out = QStringLiteral("{\n");
    out += QStringLiteral("  \"xmlVersion\": %1,\n").arg(jsonString(ws.Ed_xmlVersion()));
    out += QStringLiteral("  \"packetVersion\": %1,\n").arg(jsonString(ws.Ed_PacketVersion()));
    out += QStringLiteral("  \"lcid\": %1,\n").arg(jsonString(ws.Ed_LCID()));

    QStringList fields;
    for (int r = 1; r <= ws.FieldCount(); ++r) {
        // Content kept with the field is shown only where there is some.
        const QString& content = ws.SG_Field().rowContent(r);
        fields.append(
            QStringLiteral("    {\"name\": %1, \"type\": %2, \"etc\": %3, \"width\": %4%5}")
                .arg(jsonString(ws.SG_Field().cell(FieldNameColumn, r)),
                     jsonString(ws.SG_Field().cell(FieldTypeColumn, r)),
                     jsonString(ws.SG_Field().cell(FieldEtcColumn, r)),
                     jsonString(ws.SG_Field().cell(FieldWidthColumn, r)),
                     content.isEmpty() ? QString() : QStringLiteral(", \"content\": ") + jsonString(content)));
    }
    out += fields.isEmpty() ? QStringLiteral("  \"fields\": [],\n")
                            : QStringLiteral("  \"fields\": [\n%1\n  ],\n").arg(fields.join(QLatin1String(",\n")));

    out += QStringLiteral("  \"typeList\": %1,\n").arg(jsonStrings(ws.typeList()));
    out += QStringLiteral("  \"defaultOrder\": %1,\n").arg(jsonPositions(ws.LB_DefOrder()));
    out += QStringLiteral("  \"primaryKey\": %1,\n").arg(jsonPositions(ws.LB_PriKey()));
    out += QStringLiteral("  \"columns\": %1,\n").arg(ws.SG_Data().colCount());

    QStringList rows;
    QStringList rowContents;
    bool anyRowContent = false;
    for (int r = 1; r < ws.SG_Data().rowCount(); ++r) {
        QStringList cells;
        for (int c = 0; c < ws.SG_Data().colCount(); ++c) {
            cells.append(ws.SG_Data().cell(c, r));
        }
        rows.append(QStringLiteral("    ") + jsonStrings(cells));
        rowContents.append(ws.SG_Data().rowContent(r));
        anyRowContent = anyRowContent || !rowContents.last().isEmpty();
    }
    out += rows.isEmpty() ? QStringLiteral("  \"rows\": [],\n")
                          : QStringLiteral("  \"rows\": [\n%1\n  ],\n").arg(rows.join(QLatin1String(",\n")));
    // The content kept with each row, only for a packet whose rows have some.
    if (anyRowContent) {
        out += QStringLiteral("  \"rowContent\": %1,\n").arg(jsonStrings(rowContents));
    }

    out += QStringLiteral("  \"messages\": %1,\n").arg(jsonStrings(messages));
    out += QStringLiteral("  \"error\": %1\n").arg(error ? jsonString(*error) : QStringLiteral("null"));
    out += QStringLiteral("}\n");
    return out;
}

// Loads the file as the XML page does and reads it into a fresh workspace, as showing the data page does.
// Messages and a failure are part of the output, not of the exit status.
int read(const QString& path)
{
    TWorkspace ws;
    ws.ResetWorkspace();
    TStderrDialogs dialogs;
    std::optional<QString> error;
    try {
        // The XML view makes every line break CR LF before the reader sees the text. Bytes that could not
        // be read are told as the window tells them, and read as U+FFFD.
        const TDecodedText loaded = loadPacketText(path);
        if (loaded.faults.count > 0) {
            dialogs.inform(undecodableMessage(path, loaded));
        }
        readPacket(ws, toCrLf(loaded.text), dialogs);
    } catch (const TFailure& failure) {
        error = failure.message();
    }
    printOut(workspaceJson(ws, dialogs.messages, error));
    return 0;
}

// Loads IN as the XML page does, reads it into a fresh workspace as showing the data page does, writes the
// packet as showing the XML page does and saves it to OUT as the save button does. Messages and the
// failure go to standard error; any of them makes the exit status 1.
// The file is saved in the encoding the written packet declares, else in the one IN was in, with its
// byte-order mark and line breaks. IN with bytes its encoding cannot read is not converted (the window
// asks, and does not load it unless told to) unless `replaceUndecodable` takes them as U+FFFD.
int convert(const QString& in, const QString& out, bool replaceUndecodable)
{
    TWorkspace ws;
    ws.ResetWorkspace();
    TStderrDialogs dialogs;
    try {
        const TDecodedText loaded = loadPacketText(in);
        if (loaded.faults.count > 0) {
            printErr(undecodableMessage(in, loaded));
            if (!replaceUndecodable) {
                printErr(
                    QStringLiteral("%1 は保存しません（--replace-undecodable で U+FFFD にして変換します）").arg(out));
                return 1;
            }
        }
        readPacket(ws, toCrLf(loaded.text), dialogs);
        const QString text = writePacket(ws);
        // The window asks before it saves such a text; here nothing is written.
        if (const std::optional<TXmlFault> fault = firstXmlFault(text)) {
            printErr(QStringLiteral("%1 は保存しません。整形式の XML ではありません: %2")
                         .arg(out, describeXmlFault(text, *fault)));
            return 1;
        }
        savePacketFile(out, text, loaded.encoding);
    } catch (const TFailure& failure) {
        dialogs.error(failure.message());
    }
    return dialogs.failed || !dialogs.messages.isEmpty() ? 1 : 0;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() == 3 && args[1] == QLatin1String("write")) {
        return write(args[2]);
    }
    if (args.size() == 3 && args[1] == QLatin1String("read")) {
        return read(args[2]);
    }
    if (args.size() == 4 && args[1] == QLatin1String("convert")) {
        return convert(args[2], args[3], false);
    }
    if (args.size() == 5 && args[1] == QLatin1String("convert") && args[2] == QLatin1String("--replace-undecodable")) {
        return convert(args[3], args[4], true);
    }
    printErr(QStringLiteral("usage: torvane-probe write FILE.json | torvane-probe read FILE | "
                            "torvane-probe convert [--replace-undecodable] IN OUT"));
    return 2;
}
