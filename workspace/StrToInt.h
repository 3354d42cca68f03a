#pragma once

#include <QString>

#include <cstdint>
#include <optional>

namespace torvane {

// The platform's integer conversion, used for width texts and key numbers: optional leading spaces
// (U+0020 only), then either an optional sign and decimal digits within the signed 32-bit range, or a
// hexadecimal number introduced by "$", "x", "X", "0x" or "0X" of at most 32 bits, taken as two's
// complement. Only ASCII digits count.
std::optional<std::int32_t> tryStrToInt(QStringView text);

// As tryStrToInt, but throws TFailure("'<text>' は整数ではありません") when the text is not an integer.
std::int32_t StrToInt(const QString& text);

} // namespace torvane
