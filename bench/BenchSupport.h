#pragma once

// What the benchmark programs share: dialogs that answer nothing, and a reporter that keeps each
// benchmark's time for the ratios printed at the end of a run.
#include "TDialogs.h"

#include <benchmark/benchmark.h>

#include <map>
#include <set>
#include <string>
#include <vector>

namespace torvane {

// Nothing is shown and nothing is chosen: a benchmark never waits on a box.
class SilentDialogs : public TDialogs {
public:
    void inform(const QString&) override {}
    bool confirm(const QString&) override { return false; }
};

// Keeps each benchmark's real time (ms) beside the console output, keyed by its name and arguments: the
// median where the benchmark ran repeatedly, else its one run.
class RecordingReporter : public benchmark::ConsoleReporter {
public:
    std::map<std::string, double> milliseconds;

    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            const std::string& args = run.run_name.args;
            const std::string name = run.run_name.function_name + (args.empty() ? "" : "/" + args);
            if (!run.error_occurred && (median || (run.run_type == Run::RT_Iteration && !m_medians.count(name)))) {
                milliseconds[name] = run.GetAdjustedRealTime() * 1e3 / benchmark::GetTimeUnitMultiplier(run.time_unit);
            }
            if (median) {
                m_medians.insert(name);
            }
        }
    }

private:
    std::set<std::string> m_medians;
};

} // namespace torvane
