// torvane-probe: drives the core the way the window does, without a window.
//   torvane-probe write FILE.json   prints the packet text of the workspace FILE.json describes
#include "StrToInt.h"
#include "TFailure.h"
#include "TPacketWriter.h"
#include "TWorkspace.h"

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
    void error(const QString& message) override
    {
        failed = true;
        printErr(errorBoxText(message));
    }
    std::optional<QString> saveFileName(const QString&, const QString&) override { return std::nullopt; }
    std::optional<QString> openFileName(const QString&) override { return std::nullopt; }
};

QString jsonText(const QJsonValue& value)
{
    return value.isString() ? value.toString() : QString();
}

void selectKeys(TKeyList& list, const QJsonArray& numbers)
{
    for (const QJsonValue& n : numbers) {
        const int number = n.toInt(0);
        list.setSelected(number - 1, true);
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
        ws.Ed_xmlVersion = jsonText(root.value(QLatin1String("xmlVersion")));
    }
    if (root.contains(QLatin1String("packetVersion"))) {
        ws.Ed_PacketVersion = jsonText(root.value(QLatin1String("packetVersion")));
    }
    if (root.contains(QLatin1String("lcid"))) {
        ws.Ed_LCID = jsonText(root.value(QLatin1String("lcid")));
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
    selectKeys(ws.LB_DefOrder, root.value(QLatin1String("defaultOrder")).toArray());
    selectKeys(ws.LB_PriKey, root.value(QLatin1String("primaryKey")).toArray());

    const QJsonArray rows = root.value(QLatin1String("rows")).toArray();
    ws.SG_Data.setRowCount(1 + std::max<int>(1, static_cast<int>(rows.size())));
    for (int r = 0; r < rows.size(); ++r) {
        const QJsonArray cells = rows[r].toArray();
        for (int c = 0; c < cells.size() && c < ws.SG_Data.colCount(); ++c) {
            ws.SG_Data.setCell(c, r + 1, jsonText(cells[c]));
        }
    }

    printOut(writePacket(ws));
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
    printErr(QStringLiteral("usage: torvane-probe write FILE.json"));
    return 2;
}
