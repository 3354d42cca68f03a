#pragma once

#include <QString>

namespace torvane {

// Texts that both the workspace's operations and the window's use, written once.

// Told when an operation needs fields and there are none.
inline const QString MsgNoFields = QStringLiteral("フィールドがありません");
// The type text of a field of plain text: one of the initial type list, and the type of the fields that a
// CSV file's header adds.
inline const QString StringTypeText = QStringLiteral("string（文字列）");

} // namespace torvane
