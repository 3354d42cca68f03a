// libFuzzer target: any text pasted as tab-separated values, and any bytes loaded as a CSV file, must be
// read without a crash or an endless scan, and the rows read must come back the same when written as tab
// or CSV text and read again.
#include "TDelimitedText.h"
#include "TFailure.h"
#include "TPacketFile.h"

#include <QByteArrayView>
#include <QString>

#include <cstddef>
#include <cstdint>

using namespace torvane;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArrayView bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));

    const TTextTable pasted = fromTabText(QString::fromUtf8(bytes));
    if (fromTabText(toTabText(pasted)) != pasted) {
        __builtin_trap();
    }

    // The bytes as a CSV file loads them (its encoding told as a packet file's is).
    QString fileText;
    try {
        fileText = decodeFileText(bytes);
    } catch (const TFailure&) {
        return 0;
    }
    int errorLine = 0;
    const std::optional<TTextTable> read = fromCsvText(fileText, &errorLine);
    if (!read) {
        if (errorLine < 1) {
            __builtin_trap();
        }
        return 0;
    }
    const std::optional<TTextTable> again = fromCsvText(toCsvText(*read));
    if (!again || *again != *read) {
        __builtin_trap();
    }
    return 0;
}
