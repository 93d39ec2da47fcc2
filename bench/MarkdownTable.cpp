#include "MarkdownTable.h"

#include <cstdio>

namespace {

std::string timeText(double value, benchmark::TimeUnit unit) {
    char text[48];
    std::snprintf(text, sizeof text, value < 10 ? "%.2f %s" : "%.0f %s", value, benchmark::GetTimeUnitString(unit));
    return text;
}

}  // namespace

void MarkdownTable::ReportRuns(const std::vector<Run>& runs) {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
        const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
        const bool single = run.run_type == Run::RT_Iteration && run.repetitions <= 1;
        if (!median && !single && !run.error_occurred) continue;
        Row row;
        row.name = run.run_name.function_name;
        row.unit = run.time_unit;
        row.cpu = run.GetAdjustedCPUTime();
        row.real = run.GetAdjustedRealTime();
        row.iterations = static_cast<long long>(run.iterations);
        if (run.error_occurred) row.error = run.error_message;
        rows_.push_back(row);
    }
}

std::string MarkdownTable::rows() const {
    std::string out;
    for (const Row& row : rows_) {
        if (!row.error.empty()) {
            out += "| " + row.name + " | failed: " + row.error + " | | |\n";
            continue;
        }
        out += "| " + row.name + " | " + timeText(row.cpu, row.unit) + " | " + timeText(row.real, row.unit) + " | " +
               std::to_string(row.iterations) + " |\n";
    }
    return out;
}
