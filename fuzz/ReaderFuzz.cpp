// libFuzzer target: any text given to the reader must end (no crash, no endless scan) and leave a
// workspace the writer can write and the reader can read again.
#include "TFailure.h"
#include "TPacketReader.h"
#include "TPacketWriter.h"

#include <QString>

#include <cstddef>
#include <cstdint>

namespace {

class TSilentDialogs : public torvane::TDialogs {
public:
    void inform(const QString&) override {}
    bool confirm(const QString&) override { return true; }
    void error(const QString&) override {}
    std::optional<QString> saveFileName(const QString&, const QString&) override { return std::nullopt; }
    std::optional<QString> openFileName(const QString&) override { return std::nullopt; }
};

void readSafely(torvane::TWorkspace& workspace, const QString& text, torvane::TDialogs& dialogs)
{
    try {
        torvane::readPacket(workspace, text, dialogs);
    } catch (const torvane::TFailure&) {
        // A conversion failure ends the reader; what it read stays and must still be writable.
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    TSilentDialogs dialogs;
    torvane::TWorkspace workspace;
    workspace.ResetWorkspace();
    readSafely(workspace, text, dialogs);

    const QString written = torvane::writePacket(workspace);
    torvane::TWorkspace again;
    again.ResetWorkspace();
    readSafely(again, written, dialogs);
    return 0;
}
