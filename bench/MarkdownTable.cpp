#include "MarkdownTable.h"

#include <cstdio>

namespace {

std::string timeText(double value, benchmark::TimeUnit unit) {
    char text[48];
    std::snprintf(text, sizeof text, value < 10 ? "%.2f %s" : "%.0f %s", value, benchmark::GetTimeUnitString(unit));
    return text;
}

}  // namespace

MarkdownTable::Row& MarkdownTable::rowOf(const std::string& name) {
    for (Row& row : rows_) {
        if (row.name == name) return row;
    }
    rows_.push_back(Row{});
    rows_.back().name = name;
    return rows_.back();
}

void MarkdownTable::ReportRuns(const std::vector<Run>& runs) {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
        const bool aggregate = run.run_type == Run::RT_Aggregate;
        if (aggregate && run.aggregate_name != "median" && run.aggregate_name != "cv") continue;
        if (!aggregate && run.repetitions > 1 && !run.error_occurred) continue;
        Row& row = rowOf(run.run_name.function_name);
        if (run.error_occurred) {
            row.error = run.error_message;
        } else if (aggregate && run.aggregate_name == "cv") {
            // A percentage aggregate carries the fraction in its time fields.
            row.cpuVariation = run.cpu_accumulated_time;
        } else {
            row.unit = run.time_unit;
            row.cpu = run.GetAdjustedCPUTime();
            row.real = run.GetAdjustedRealTime();
        }
    }
}

std::string MarkdownTable::rows() const {
    std::string out;
    for (const Row& row : rows_) {
        if (!row.error.empty()) {
            out += "| " + row.name + " | failed: " + row.error + " | | |\n";
            continue;
        }
        std::string spread = "single run";
        if (row.cpuVariation >= 0) {
            char text[32];
            std::snprintf(text, sizeof text, "%.1f %%", 100.0 * row.cpuVariation);
            spread = text;
        }
        out += "| " + row.name + " | " + timeText(row.cpu, row.unit) + " | " + timeText(row.real, row.unit) + " | " +
               spread + " |\n";
    }
    return out;
}
