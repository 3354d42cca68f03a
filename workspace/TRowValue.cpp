#include "TRowValue.h"

#include <cstring>

namespace torvane {

bool isBlobValue(QStringView value)
{
    const qsizetype n = value.size();
    if (n >= BlobLength) {
        return true;
    }
    // No character is written as more than LongestEscape.
    if (n * LongestEscape < BlobLength) {
        return false;
    }
    const char16_t* s = value.utf16();
    qsizetype written = 0;
    for (qsizetype i = 0; i < n; ++i) {
        const char* escaped = mayNeedEscape(s[i]) ? escapeOf(s[i], i == n - 1) : nullptr;
        written += escaped ? static_cast<qsizetype>(std::strlen(escaped)) : 1;
    }
    return written >= BlobLength;
}

} // namespace torvane
