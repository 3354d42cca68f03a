// libFuzzer target: any text given to the reader must end (no crash, no endless scan) and leave a
// workspace the writer can write and the reader can read again; any bytes read as CP932 and saved again
// must read back as the same text.
#include "FuzzSupport.h"
#include "TPacketCodec.h"
#include "TPacketWriter.h"

#include <QString>

#include <cstddef>
#include <cstdint>

using namespace torvane;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    TSilentDialogs dialogs;
    TWorkspace workspace;
    workspace.ResetWorkspace();
    readSafely(workspace, text, dialogs);

    const QString written = writePacket(workspace);
    TWorkspace again;
    again.ResetWorkspace();
    readSafely(again, written, dialogs);

    const TPacketCodec& codec = TPacketCodec::cp932();
    const QByteArrayView bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const QString decoded = codec.decode(bytes);
    QByteArray encoded;
    if (codec.encode(decoded, encoded) < 0 && codec.decode(encoded) != decoded) {
        __builtin_trap();
    }
    return 0;
}
