#pragma once

#include <QStringView>

namespace torvane {

// Finding a text in the XML view's text, which may be 200 MB: the same matches as QStringView's indexOf
// and lastIndexOf (letter case folded as Qt folds it where asked), found by a scan that looks at eight
// characters at a time for the needle's first and last characters together (either case of each) and
// compares the whole needle only where both are in place. Qt's own search folds every character of the
// text when letter case is ignored, which makes finding in a large text several times slower.

// The first match starting at `from` or after; -1 when there is none. As haystack.indexOf(needle, from, cs)
// for 0 <= from.
qsizetype findText(QStringView haystack, QStringView needle, qsizetype from, Qt::CaseSensitivity cs);
// The last match starting at `from` or before; -1 when there is none. As haystack.lastIndexOf(needle,
// from, cs) for 0 <= from.
qsizetype findTextBackward(QStringView haystack, QStringView needle, qsizetype from, Qt::CaseSensitivity cs);

} // namespace torvane
