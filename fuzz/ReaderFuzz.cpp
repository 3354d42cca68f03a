// libFuzzer target: any text given to the reader must end (no crash, no endless scan) and leave a
// workspace the writer can write and the reader can read again; a well-formed text, and the text written
// back, must read alike through the scan and through the XML reading alone; any bytes read as CP932 and
// saved again must read back as the same text. The XML check, on the text and on the bytes taken as UTF-16
// (lone surrogates included), must end with a fault inside the text, described without a crash.
#include "FuzzSupport.h"
#include "TFailure.h"
#include "TPacketCodec.h"
#include "TPacketReader.h"
#include "TPacketWriter.h"
#include "TXmlCheck.h"

#include <QString>

#include <cstddef>
#include <cstdint>
#include <cstring>

using namespace torvane;

namespace {

void checkSafely(const QString& text)
{
    if (const std::optional<TXmlFault> fault = firstXmlFault(text)) {
        if (fault->position < 0 || fault->position > text.size() || fault->line < 1 || fault->column < 1 ||
            describeXmlFault(text, *fault).isEmpty()) {
            __builtin_trap();
        }
    }
}

// A well-formed text reads alike through readPacket (the scan, where the text is in the plain form) and
// through the XML reading alone.
void compareReadings(const QString& text, TDialogs& dialogs)
{
    if (firstXmlFault(text)) {
        return;
    }
    TWorkspace scanned;
    scanned.ResetWorkspace();
    readSafely(scanned, text, dialogs);
    TWorkspace asXml;
    asXml.ResetWorkspace();
    try {
        readPacketAsXml(asXml, text, dialogs);
    } catch (const TFailure&) {
    }
    if (writePacket(scanned) != writePacket(asXml)) {
        __builtin_trap();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    TSilentDialogs dialogs;
    TWorkspace workspace;
    workspace.ResetWorkspace();
    readSafely(workspace, text, dialogs);
    checkSafely(text);
    QString units(static_cast<qsizetype>(size / 2), Qt::Uninitialized);
    std::memcpy(units.data(), data, size / 2 * 2);
    checkSafely(units);

    compareReadings(text, dialogs);
    const QString written = writePacket(workspace);
    checkSafely(written);
    compareReadings(written, dialogs);
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
