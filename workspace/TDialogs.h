#pragma once

#include <QString>

namespace torvane {

// What the core asks and tells the user through, so that it knows nothing about widgets and tests can
// answer without anything blocking. The window's dialogs build every other box and file dialog on it.
class TDialogs {
public:
    virtual ~TDialogs() = default;

    // A user message: titled "Torvane", no icon, one "OK" button.
    virtual void inform(const QString& message) = 0;
    // The confirmation "確認" with "はい(&Y)" (default) and "いいえ(&N)"; true for Yes.
    virtual bool confirm(const QString& question) = 0;
};

} // namespace torvane
