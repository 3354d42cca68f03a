#include "TPacketFile.h"

namespace torvane {

void savePacketFile(const QString&, const QString&) {}

QString loadPacketFile(const QString&)
{
    return {};
}

} // namespace torvane
