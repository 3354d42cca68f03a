#include "TPacketReader.h"

namespace torvane {

void readPacket(TWorkspace&, const QString&, TDialogs&) {}

bool TabSheet1Show(TWorkspace& workspace, const std::function<QString()>& crlfText, TDialogs& dialogs)
{
    if (!workspace.NeedsRebuild) {
        return false;
    }
    workspace.NeedsRebuild = false;
    readPacket(workspace, crlfText(), dialogs);
    return true;
}

QString decodeRowValue(QStringView value)
{
    return value.toString();
}

} // namespace torvane
