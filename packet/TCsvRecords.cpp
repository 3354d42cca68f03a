#include "TCsvRecords.h"

#include "TWorkspace.h"

#include <algorithm>

namespace torvane {

std::variant<TCsvRecords, TCsvRefusal> readCsvRecords(QStringView csvText, QChar separator, bool header)
{
    int errorLine = 0;
    std::optional<TTextTable> read = fromCsvText(csvText, &errorLine, separator);
    if (!read) {
        return TCsvRefusal{
            QStringLiteral("%1 行目で始まる値の引用符（\"）が閉じられていないため、CSV ファイルを読み込めません")
                .arg(errorLine)};
    }
    if (!header) {
        if (read->empty()) {
            return TCsvRefusal{QStringLiteral("CSV ファイルにレコードがありません")};
        }
        TCsvRecords csv;
        size_t columns = 0;
        for (const std::vector<QString>& record : *read) {
            columns = std::max(columns, record.size());
        }
        for (size_t k = 1; k <= columns; ++k) {
            csv.names.append(QStringLiteral("列%1").arg(k));
        }
        csv.records = std::move(*read);
        return csv;
    }
    if (read->empty()) {
        return TCsvRefusal{QStringLiteral("CSV ファイルに見出しの行がありません")};
    }
    TCsvRecords csv;
    for (const QString& name : read->front()) {
        if (name.isEmpty() || TWorkspace::indexOfName(csv.names, name) >= 0) {
            return TCsvRefusal{QStringLiteral("CSV ファイルの見出しの %1 列目「%2」は空か、前の列と同じ名前です")
                                   .arg(csv.names.size() + 1)
                                   .arg(name)};
        }
        csv.names.append(name);
    }
    for (size_t i = 1; i < read->size(); ++i) {
        if ((*read)[i].size() > static_cast<size_t>(csv.names.size())) {
            return TCsvRefusal{
                QStringLiteral("CSV ファイルの %1 件目のレコードは見出しより値が多いため、読み込めません").arg(i)};
        }
    }
    read->erase(read->begin());
    csv.records = std::move(*read);
    return csv;
}

} // namespace torvane
