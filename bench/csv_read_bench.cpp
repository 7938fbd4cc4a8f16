// Times the CSV reader and the whole CSV pipeline on a file, without Python.
//   csv_read_bench FILE [WINDOW_MIN STEP_SEC]
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "fhr_core/analysis/pipeline.hpp"
#include "fhr_core/csv_input/csv_reader.hpp"

namespace {

template <class F>
double best_seconds(int repeats, F&& run) {
    double best = 1e300;
    for (int i = 0; i < repeats; ++i) {
        const auto start = std::chrono::steady_clock::now();
        run();
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        if (took.count() < best) best = took.count();
    }
    return best;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::cerr << "usage: csv_read_bench FILE [WINDOW_MIN STEP_SEC]\n";
        return 2;
    }
    std::ifstream file(argv[1], std::ios::binary);
    std::stringstream buffer;
    buffer << file.rdbuf();
    const std::string text = buffer.str();

    std::size_t rows = 0;
    const double read = best_seconds(5, [&] {
        auto input = fhr_core::csv_input::read_monitor_csv_str(text);
        rows = input ? input->samples.size() : 0;
    });
    std::cout << "read_rows " << rows << "\n";
    std::cout << "read_seconds " << read << "\n";
    std::cout << "read_mb_per_s " << (static_cast<double>(text.size()) / 1e6) / read << "\n";

    fhr_core::analysis::CsvOptions options;
    if (argc >= 4) {
        options.window_min = static_cast<std::uint32_t>(std::stoul(argv[2]));
        options.step_sec = static_cast<std::uint32_t>(std::stoul(argv[3]));
    }
    std::size_t report_size = 0;
    const double whole = best_seconds(3, [&] {
        auto report = fhr_core::analysis::analyze_csv_text(text, options);
        report_size = report ? report->size() : 0;
    });
    std::cout << "pipeline_seconds " << whole << "\n";
    std::cout << "report_bytes " << report_size << "\n";
    return 0;
}
