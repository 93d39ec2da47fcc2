#pragma once

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

// The console report as usual, and the median of each benchmark's
// repetitions kept for a Markdown table.
class MarkdownTable : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override;
    // "| name | CPU | wall | iterations |" rows, medians where there are repetitions.
    std::string rows() const;

private:
    struct Row {
        std::string name;
        double cpu = 0;
        double real = 0;
        benchmark::TimeUnit unit = benchmark::kNanosecond;
        long long iterations = 0;
        std::string error;
    };
    std::vector<Row> rows_;
};
