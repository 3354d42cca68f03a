// libFuzzer target: any text given to the reader must end (no crash, no endless scan) and leave a
// workspace the writer can write and the reader can read again; any bytes read as CP932 and saved again
// must read back as the same text.
#include "TFailure.h"
#include "TPacketCodec.h"
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

    const torvane::TPacketCodec& codec = torvane::TPacketCodec::cp932();
    const QByteArrayView bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const QString decoded = codec.decode(bytes);
    QByteArray encoded;
    if (codec.encode(decoded, encoded) < 0 && codec.decode(encoded) != decoded) {
        __builtin_trap();
    }
    return 0;
}
