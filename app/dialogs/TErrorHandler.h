#pragma once

#include "TFailure.h"
#include "dialogs/TWindowDialogs.h"

#include <new>
#include <utility>

namespace torvane {

// The one error handler: every event handler of the window runs inside run(). A failure of the platform's
// services ends the handler where it happened and is shown in the error box; what the handler did before
// stays done. Running out of memory (a huge file, a packet asking for more cells than fit) is handled the
// same way, so that the program goes on and the user keeps the unsaved work.
class TErrorHandler {
public:
    static inline const QString OutOfMemoryMessage = QStringLiteral("メモリが足りないため、操作を完了できませんでした");

    explicit TErrorHandler(TWindowDialogs& dialogs) : m_dialogs(dialogs) {}

    template <typename Handler> void run(Handler&& handler) const
    {
        try {
            std::forward<Handler>(handler)();
        } catch (const TFailure& failure) {
            m_dialogs.error(failure.message());
        } catch (const std::bad_alloc&) {
            // The failed request was large, so the memory for this message is there again.
            m_dialogs.error(OutOfMemoryMessage);
        }
    }

private:
    TWindowDialogs& m_dialogs;
};

} // namespace torvane
