#pragma once

#include <QString>
#include <QStringView>

namespace torvane {

// A row value as cut out of its attribute, with character references and the five entities decoded.
QString decodeRowValue(QStringView value);
// The same, appended to `out`.
void appendDecodedRowValue(QString& out, QStringView value);

} // namespace torvane
