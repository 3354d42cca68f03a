#pragma once

#include "TDialogs.h"

namespace torvane {

// The dialogs of the running program: modal message boxes centred on the screen and Qt's file dialogs.
class TQtDialogs : public TDialogs {
public:
    void inform(const QString& message) override;
    bool confirm(const QString& question) override;
    void error(const QString& message) override;
    std::optional<QString> saveFileName(const QString& initialName, const QString& filter) override;
    std::optional<QString> openFileName(const QString& initialName) override;
};

} // namespace torvane
