#pragma once

#include <QString>

namespace torvane {

// The help text of the manual page.
QString manualText();

} // namespace torvane
