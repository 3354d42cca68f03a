#include "TCsvRecords.h"

#include "TWorkspace.h"

#include <algorithm>

namespace torvane {

std::variant<TCsvRecords, TCsvRefusal> readCsvRecords(QStringView csvText, QChar separator, bool header, qsizetype keep)
{
    // Each record becomes a row as it is read, its values copied once into the row's one buffer: a file of a
    // million records is never held as ten million strings.
    TCsvRecords csv;
    std::optional<TCsvRefusal> refusal;
    bool named = !header;
    int columns = 0;
    int errorLine = 0;
    const bool read = scanCsvText(
        csvText,
        [&](const QStringView* values, int count) {
            if (refusal) {
                return;
            }
            if (!named) {
                named = true;
                for (int k = 0; k < count; ++k) {
                    const QString name = values[k].toString();
                    if (name.isEmpty() || TWorkspace::indexOfName(csv.names, name) >= 0) {
                        refusal = TCsvRefusal{
                            QStringLiteral("CSV ファイルの見出しの %1 列目「%2」は空か、前の列と同じ名前です")
                                .arg(k + 1)
                                .arg(name)};
                        return;
                    }
                    csv.names.append(name);
                }
                return;
            }
            if (header && count > csv.names.size()) {
                refusal = TCsvRefusal{
                    QStringLiteral("CSV ファイルの %1 件目のレコードは見出しより値が多いため、読み込めません")
                        .arg(csv.count + 1)};
                return;
            }
            columns = std::max(columns, count);
            if (csv.count++ < keep) {
                csv.records.emplace_back().setCells(values, count);
            }
        },
        &errorLine, separator);
    if (!read) {
        return TCsvRefusal{
            QStringLiteral("%1 行目で始まる値の引用符（\"）が閉じられていないため、CSV ファイルを読み込めません")
                .arg(errorLine)};
    }
    if (refusal) {
        return *refusal;
    }
    if (!header) {
        if (csv.count == 0) {
            return TCsvRefusal{QStringLiteral("CSV ファイルにレコードがありません")};
        }
        for (int k = 1; k <= columns; ++k) {
            csv.names.append(QStringLiteral("列%1").arg(k));
        }
    } else if (!named) {
        return TCsvRefusal{QStringLiteral("CSV ファイルに見出しの行がありません")};
    }
    return csv;
}

} // namespace torvane
