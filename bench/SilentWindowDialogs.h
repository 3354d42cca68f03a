#pragma once

#include "dialogs/TWindowDialogs.h"

namespace torvane {

// The window's dialogs, showing nothing and choosing nothing: a benchmark of the window never waits on a
// box.
class SilentWindowDialogs : public TWindowDialogs {
public:
    void inform(const QString&) override {}
    bool confirm(const QString&) override { return false; }
    void error(const QString&) override {}
    std::optional<QString> saveFileName(const QString&, const QString&) override { return std::nullopt; }
    std::optional<QString> openFileName(const QString&) override { return std::nullopt; }
};

} // namespace torvane
