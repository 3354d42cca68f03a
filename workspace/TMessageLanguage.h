#pragma once

#include <QString>

namespace torvane {

// The language of the core's messages (the XML check's faults, the load's and the save's failures, the
// reader's refusals). The window speaks Japanese whatever the desktop's locale, so Japanese is the default;
// `torvane --check` prints into build logs read by whoever runs them, and switches to English once, before
// any work, when the locale is not Japanese.
void setEnglishMessages(bool english);
bool englishMessages();

// The message in the language set: each site gives both forms, with the same %1 arguments. Messages are
// made only on faults, so the choice costs nothing where the work is.
QString say(QStringView japanese, QStringView english);

} // namespace torvane
