#pragma once

#include "TDialogs.h"
#include "TFailure.h"
#include "TPacketReader.h"
#include "TWorkspace.h"

#include <QString>

namespace torvane {

// Shows nothing, answers every question Yes, and counts what the reader refused.
class TSilentDialogs : public TDialogs {
public:
    int messages = 0;

    void inform(const QString&) override { ++messages; }
    bool confirm(const QString&) override { return true; }
};

// Reads `text` into `workspace`; false when a conversion failure ended the reader (what it read stays and
// must still be writable).
inline bool readSafely(TWorkspace& workspace, const QString& text, TDialogs& dialogs)
{
    try {
        readPacket(workspace, text, dialogs);
        return true;
    } catch (const TFailure&) {
        return false;
    }
}

} // namespace torvane
