// Google Benchmark's main, plus --markdown FILE: the medians (or single
// runs) as table rows for docs/performance.md.
#include "MarkdownTable.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    std::string markdown;
    std::vector<char*> args;
    for (int i = 0; i < argc; ++i) {
        if (std::strcmp(argv[i], "--markdown") == 0 && i + 1 < argc) {
            markdown = argv[++i];
            continue;
        }
        args.push_back(argv[i]);
    }
    int count = static_cast<int>(args.size());
    benchmark::Initialize(&count, args.data());
    if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 1;
    MarkdownTable table;
    benchmark::RunSpecifiedBenchmarks(&table);
    benchmark::Shutdown();
    if (!markdown.empty()) {
        std::ofstream out(markdown);
        out << table.rows();
        if (!out) {
            std::cerr << "cannot write " << markdown << "\n";
            return 1;
        }
    }
    return 0;
}
