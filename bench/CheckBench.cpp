// Times the check of every value against its field's type on a packet of 1,000,000 rows of 10 fields of
// the types the dataset library writes (an integer primary key, numbers, dates, date-times, a boolean, text
// with a width, a memo), beside one reader run of the same packet: the check must take no longer.
// `scripts/bench check [ROWS]`. Medians of three runs.
#include "BenchSupport.h"
#include "TPacketReader.h"
#include "TPacketWriter.h"
#include "TValueRules.h"
#include "TWorkspace.h"

#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>

using namespace torvane;

namespace {

double medianMs(const std::function<void()>& run)
{
    std::vector<double> times;
    for (int i = 0; i < 3; ++i) {
        QElapsedTimer timer;
        timer.start();
        run();
        times.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
    }
    std::sort(times.begin(), times.end());
    return times[1];
}

} // namespace

int main(int argc, char** argv)
{
    const int rowCount = argc > 1 ? std::atoi(argv[1]) : 1000000;
    SilentDialogs dialogs;
    TWorkspace source;
    const char* fields[][3] = {
        {"ID", "i4（４バイト整数）", ""},
        {"PRICE", "r8（１５桁実数）", ""},
        {"AMOUNT", "fixed", "DECIMALS=\"2\""},
        {"BORN", "date", ""},
        {"STAMP", "dateTime", ""},
        {"AT", "time", ""},
        {"ACTIVE", "boolean（０か１）", ""},
        {"NAME", "string（文字列）", "required=\"true\""},
        {"CODE", "string（文字列）", ""},
        {"NOTES", "bin.hex", "SUBTYPE=\"Text\""},
    };
    for (const auto& field : fields) {
        source.AddFieldRow(QString::fromUtf8(field[0]), QString::fromUtf8(field[1]), QString::fromUtf8(field[2]),
                           QStringLiteral("20"), dialogs);
    }
    source.setKeySelected(TKeyKind::PrimaryKey, 0, true);
    source.setDataRowCount(rowCount + 1);
    std::vector<QString> values(10);
    for (int r = 1; r <= rowCount; ++r) {
        values[0] = QString::number(r);
        values[1] = QString::number(r * 1.37, 'g', 15);
        values[2] = QStringLiteral("%1.%2").arg(r % 100000).arg(r % 100, 2, 10, QLatin1Char('0'));
        values[3] = QStringLiteral("19%1%2%3")
                        .arg(10 + r % 90)
                        .arg(1 + r % 12, 2, 10, QLatin1Char('0'))
                        .arg(1 + r % 28, 2, 10, QLatin1Char('0'));
        values[4] = values[3] + (r % 2 ? QStringLiteral("T12:00:00000") : QString());
        values[5] = QStringLiteral("10:%1:00000").arg(r % 60, 2, 10, QLatin1Char('0'));
        values[6] = r % 3 ? QStringLiteral("TRUE") : QStringLiteral("FALSE");
        values[7] = QStringLiteral("Name %1").arg(r);
        values[8] = QString::fromUtf8("コード%1").arg(r % 1000);
        values[9] = QStringLiteral("A memo of line %1\r\nand another").arg(r);
        const std::vector<QStringView> row(values.begin(), values.end());
        source.setDataRowCells(r, row.data(), 10);
    }
    const QString text = writePacket(source);

    std::unique_ptr<TWorkspace> read;
    const double readMs = medianMs([&] {
        read = std::make_unique<TWorkspace>();
        readPacket(*read, text, dialogs);
    });
    size_t problems = 0;
    const double checkMs = medianMs([&] { problems = checkValues(*read).size(); });
    std::printf("%d rows x 10 fields: reader %.0f ms, check %.0f ms (%.2f of the reader), %zu problems\n", rowCount,
                readMs, checkMs, checkMs / readMs, problems);
    return problems == 0 && checkMs <= readMs ? 0 : 1;
}
