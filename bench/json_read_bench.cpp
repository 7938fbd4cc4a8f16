// Times the JSON analysis-request reader on a request file, without Python.
//   json_read_bench FILE
#include <chrono>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "fhr_core/json_input/request_reader.hpp"

int main(int argc, char** argv) {
    if (argc < 2) {
        std::cerr << "usage: json_read_bench FILE\n";
        return 2;
    }
    std::ifstream file(argv[1], std::ios::binary);
    std::stringstream buffer;
    buffer << file.rdbuf();
    const std::string text = buffer.str();

    std::size_t samples = 0;
    double best = 1e300;
    for (int i = 0; i < 7; ++i) {
        const auto start = std::chrono::steady_clock::now();
        auto request = fhr_core::json_input::read_analysis_request_json(text);
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        samples = request ? request->input.samples.size() : 0;
        if (took.count() < best) best = took.count();
    }
    std::cout << "read_samples " << samples << "\n";
    std::cout << "read_seconds " << best << "\n";
    std::cout << "read_mb_per_s " << (static_cast<double>(text.size()) / 1e6) / best << "\n";
    return 0;
}
