#pragma once

#include "TDialogs.h"
#include "TFailure.h"

#include <utility>

namespace torvane {

// The one error handler: every event handler of the window runs inside run(). A failure of the platform's
// services ends the handler where it happened and is shown in the error box; what the handler did before
// stays done.
class TErrorHandler {
public:
    explicit TErrorHandler(TDialogs& dialogs) : m_dialogs(dialogs) {}

    template <typename Handler>
    void run(Handler&& handler) const
    {
        try {
            std::forward<Handler>(handler)();
        } catch (const TFailure& failure) {
            m_dialogs.error(failure.message());
        }
    }

private:
    TDialogs& m_dialogs;
};

} // namespace torvane
