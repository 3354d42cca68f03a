#include "ManualText.h"

namespace torvane {

QString manualText()
{
    return QStringLiteral("説明書\n");
}

} // namespace torvane
