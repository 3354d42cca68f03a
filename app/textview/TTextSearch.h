#pragma once

#include <QStringView>

namespace torvane {

// Finding a text in the XML view's text, which may be 200 MB: the same matches as QStringView's indexOf
// and lastIndexOf (letter case folded as Qt folds it where asked), found by a scan that compares eight
// characters at a time with the needle's least frequent character (either case of it when case is ignored;
// frequent as a small sample of the text holds it) and compares the needle only where that stands. Qt's
// own search folds every character of the text when letter case is ignored, which made finding in a large
// text several times slower than one pass over it.

// The first match starting at `from` or after; -1 when there is none. As haystack.indexOf(needle, from, cs)
// for 0 <= from.
qsizetype findText(QStringView haystack, QStringView needle, qsizetype from, Qt::CaseSensitivity cs);
// The last match starting at `from` or before; -1 when there is none. As haystack.lastIndexOf(needle,
// from, cs) for 0 <= from.
qsizetype findTextBackward(QStringView haystack, QStringView needle, qsizetype from, Qt::CaseSensitivity cs);

} // namespace torvane
