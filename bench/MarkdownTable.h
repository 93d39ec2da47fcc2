#pragma once

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

// The console report as usual, and each benchmark's median and spread over
// its repetitions kept for a Markdown table.
class MarkdownTable : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override;
    // "| name | CPU | wall | spread |" rows: medians, and the coefficient of
    // variation of the CPU time (a single run where there are no repetitions).
    std::string rows() const;

private:
    struct Row {
        std::string name;
        double cpu = 0;
        double real = 0;
        benchmark::TimeUnit unit = benchmark::kNanosecond;
        double cpuVariation = -1;  // fraction; -1 when not known
        std::string error;
    };
    Row& rowOf(const std::string& name);

    std::vector<Row> rows_;
};
