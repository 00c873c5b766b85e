// Scan decoder throughput, per record, beside a plain memcpy of the bytes each
// decoder produces (m/z f64 + intensity f32, plus drift time f64 for encoding B),
// measured in the same run. Each decoder runs on every path the processor has
// (baseline x86-64, AVX2, AVX-512) into arrays allocated once, and as the
// vector-returning decoder (best path, allocation included). Scans hold realistic
// records (ascending m/z or time bins, non-zero intensities; the "dropped" scans
// have every 16th record without intensity) and are decoded with a three-term T1
// calibration. Repetitions are interleaved at random; the summary at the end takes
// the fastest repetition of each and divides it by the fastest memcpy of the same
// output.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <exception>
#include <format>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "../tests/core/support/scan_records.hpp"
#include "bytes.hpp"
#include "raw/scan_decoders.hpp"

namespace {

using namespace tarnvale;
using namespace tarnvale::raw;

constexpr double kMzLow = 50.0;
constexpr double kMzHigh = 2000.0;
constexpr std::size_t kDropEvery = 16;

DecodeContext t1_context() {
    DecodeContext context;
    context.cal_type = CalType::T1;
    context.coefficients = {0.0131, 0.99987654321, 3.1e-7};
    context.tof_k_us = 0.7224847745293227;
    context.mz_low = kMzLow;
    context.mz_high = kMzHigh;
    context.scan_time_ms = 1000.0;
    return context;
}

std::uint16_t random_intensity(std::mt19937& random, std::size_t i, bool dropped) {
    if (dropped && i % kDropEvery == kDropEvery / 2) return 0;
    return static_cast<std::uint16_t>(1 + random() % 65535);
}

double ascending_mz(std::size_t i, std::size_t count) {
    return kMzLow + (kMzHigh - kMzLow) * static_cast<double>(i) / static_cast<double>(count);
}

std::vector<std::uint8_t> scan_a(std::size_t count, bool dropped) {
    std::mt19937 random(1);
    std::vector<testing::RecordA> records;
    records.reserve(count);
    for (std::size_t i = 0; i < count; ++i)
        records.push_back(testing::record_a_mz(random_intensity(random, i, dropped), ascending_mz(i, count)));
    return testing::join(records);
}

std::vector<std::uint8_t> scan_d(std::size_t count, bool dropped) {
    std::mt19937 random(4);
    std::vector<testing::Record8> records;
    for (std::size_t i = 0; i < count; ++i) {
        double intensity = static_cast<double>(random() % 4000000) / 64.0 + 1.0;
        if (dropped && i % kDropEvery == kDropEvery / 2) intensity = 0;
        records.push_back(testing::record_d_mz(intensity, ascending_mz(i, count)));
    }
    return testing::join(records);
}

// Time-bin positions climb through the u16 range; the word is the drift (B) or fraction (C).
std::vector<std::uint8_t> scan_bc(std::size_t count, bool dropped) {
    std::mt19937 random(2);
    std::vector<testing::Record8> records;
    for (std::size_t i = 0; i < count; ++i) {
        auto position = static_cast<std::uint16_t>(100 + i * 60000 / count);
        records.push_back(testing::record_bc(random_intensity(random, i, dropped),
                                             static_cast<std::uint16_t>(random()), position));
    }
    return testing::join(records);
}

std::vector<std::uint8_t> scan_of(char encoding, std::size_t count, bool dropped) {
    if (encoding == 'A') return scan_a(count, dropped);
    if (encoding == 'D') return scan_d(count, dropped);
    return scan_bc(count, dropped);
}

// items_per_second, and per_record: wall time per record (shown in seconds with an SI prefix).
void set_per_record_counters(benchmark::State& state, std::size_t count) {
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(count));
    state.counters["per_record"] =
        benchmark::Counter(static_cast<double>(count),
                           benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

Result<std::size_t> decode_into(char encoding, Bytes scan, const DecodeContext& context, PointOutput out,
                                DecoderPath path) {
    switch (encoding) {
    case 'A':
        return decode_encoding_a_into(scan, context, out, path);
    case 'B':
        return decode_encoding_b_into(scan, context, out, path);
    case 'C':
        return decode_encoding_c_into(scan, context, out, path);
    default:
        return decode_encoding_d_into(scan, context, out, path);
    }
}

// Into arrays allocated once, with the record loops of `path`.
void decode_into_arrays(benchmark::State& state, char encoding, DecoderPath path, std::size_t count,
                        bool dropped) {
    const std::vector<std::uint8_t> scan = scan_of(encoding, count, dropped);
    const DecodeContext context = t1_context();
    std::vector<double> mz(count), drift(encoding == 'B' ? count : 0);
    std::vector<float> intensity(count);
    const PointOutput out{mz.data(), intensity.data(), drift.empty() ? nullptr : drift.data()};
    for (auto _ : state) {
        auto written = decode_into(encoding, scan, context, out, path);
        if (!written || *written == 0) {
            state.SkipWithError("decoding failed");
            break;
        }
        benchmark::DoNotOptimize(mz.data());
        benchmark::ClobberMemory();
    }
    set_per_record_counters(state, count);
}

// The decoders that return vectors: the allocation of the result included.
void decode_to_vectors(benchmark::State& state, char encoding, std::size_t count, bool dropped) {
    const std::vector<std::uint8_t> scan = scan_of(encoding, count, dropped);
    const DecodeContext context = t1_context();
    for (auto _ : state) {
        std::size_t points = 0;
        switch (encoding) {
        case 'A':
            points = decode_encoding_a(scan, context).value_or(Spectrum{}).mz.size();
            break;
        case 'B':
            points = decode_encoding_b(scan, context).value_or(ImsSpectrum{}).mz.size();
            break;
        case 'C':
            points = decode_encoding_c(scan, context).value_or(Spectrum{}).mz.size();
            break;
        default:
            points = decode_encoding_d(scan, context).value_or(Spectrum{}).mz.size();
            break;
        }
        if (points == 0) {
            state.SkipWithError("decoding failed");
            break;
        }
        benchmark::DoNotOptimize(points);
    }
    set_per_record_counters(state, count);
}

// The output of one decoded scan copied with memcpy: `count` points, with or without drift times.
void memcpy_output(benchmark::State& state, std::size_t count, bool with_drift) {
    std::vector<double> mz(count, 1.5), mz_out(count);
    std::vector<double> drift(with_drift ? count : 0, 2.5), drift_out(drift.size());
    std::vector<float> intensity(count, 3.5f), intensity_out(count);
    for (auto _ : state) {
        std::memcpy(mz_out.data(), mz.data(), count * sizeof(double));
        if (with_drift) std::memcpy(drift_out.data(), drift.data(), count * sizeof(double));
        std::memcpy(intensity_out.data(), intensity.data(), count * sizeof(float));
        benchmark::DoNotOptimize(mz_out.data());
        benchmark::DoNotOptimize(drift_out.data());
        benchmark::DoNotOptimize(intensity_out.data());
        benchmark::ClobberMemory();
    }
    set_per_record_counters(state, count);
}

// ---------------------------------------------------------------- summary

// Collects every repetition of every benchmark, per record, and prints only the
// summary (after the console header with the machine's description).
class Repetitions : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.run_type != Run::RT_Iteration || run.skipped) {
                if (run.skipped)
                    std::printf("%s: %s\n", run.benchmark_name().c_str(), run.skip_message.c_str());
                continue;
            }
            const auto found = run.counters.find("per_record");
            if (found != run.counters.end())
                seconds_[run.run_name.function_name].push_back(found->second.value);
        }
    }

    // Seconds per record of the fastest repetition, or 0 when the benchmark did not run.
    double fastest(const std::string& name) const {
        const auto found = seconds_.find(name);
        return found == seconds_.end() ? 0.0 : std::ranges::min(found->second);
    }
    double median(const std::string& name) const {
        const auto found = seconds_.find(name);
        if (found == seconds_.end()) return 0.0;
        std::vector<double> sorted = found->second;
        std::ranges::sort(sorted);
        return sorted[sorted.size() / 2];
    }

  private:
    std::map<std::string, std::vector<double>> seconds_;
};

const std::size_t kCounts[] = {1000, 100000};
const char kEncodings[] = {'A', 'D', 'C', 'B'};

std::string name_of(std::string_view kind, char encoding, std::string_view path, std::size_t count,
                    bool dropped) {
    return std::format("{}/{}/{}/{}{}", kind, encoding, path, count, dropped ? "/dropped" : "");
}

std::string memcpy_name(char encoding, std::size_t count) {
    return std::format("memcpy_output/{}/{}", encoding == 'B' ? "with_drift" : "mz_intensity", count);
}

void register_benchmarks() {
    for (std::size_t count : kCounts) {
        for (bool with_drift : {false, true}) {
            const std::string name = memcpy_name(with_drift ? 'B' : 'A', count);
            benchmark::RegisterBenchmark(name, memcpy_output, count, with_drift);
        }
        for (char encoding : kEncodings) {
            for (bool dropped : {false, true}) {
                if (dropped && count != kCounts[1]) continue;
                for (DecoderPath path : available_decoder_paths()) {
                    benchmark::RegisterBenchmark(name_of("into", encoding, to_string(path), count, dropped),
                                                 decode_into_arrays, encoding, path, count, dropped);
                }
                benchmark::RegisterBenchmark(name_of("vector", encoding, "best", count, dropped),
                                             decode_to_vectors, encoding, count, dropped);
            }
        }
    }
}

void print_row(const Repetitions& runs, const std::string& name, const std::string& floor_name) {
    const double fastest = runs.fastest(name);
    if (fastest == 0.0) return;
    const double median = runs.median(name);
    std::printf("  %-34s %8.3f %8.3f %8.2f %8.2f\n", name.c_str(), fastest * 1e9, median * 1e9,
                fastest / runs.fastest(floor_name), median / runs.median(floor_name));
}

void print_summary(const Repetitions& runs) {
    std::printf("\nns per record (fastest and median repetition) and ratio to memcpy of the output\n");
    std::printf("  %-34s %8s %8s %8s %8s\n", "", "fastest", "median", "/memcpy", "/memcpy");
    for (std::size_t count : kCounts) {
        for (char encoding : kEncodings) {
            const std::string floor = memcpy_name(encoding, count);
            print_row(runs, floor, floor);
            for (bool dropped : {false, true}) {
                for (DecoderPath path : available_decoder_paths())
                    print_row(runs, name_of("into", encoding, to_string(path), count, dropped), floor);
                print_row(runs, name_of("vector", encoding, "best", count, dropped), floor);
            }
        }
    }
}

} // namespace

int main(int argc, char** argv) try {
    // Interleaved repetitions by default: the machine is shared and its speed drifts.
    std::vector<char*> arguments(argv, argv + argc);
    std::string interleave = "--benchmark_enable_random_interleaving=true";
    std::string repetitions = "--benchmark_repetitions=5";
    std::string min_time = "--benchmark_min_time=0.05s";
    arguments.insert(arguments.begin() + 1, {interleave.data(), repetitions.data(), min_time.data()});
    int count = static_cast<int>(arguments.size());
    benchmark::Initialize(&count, arguments.data());
    register_benchmarks();
    Repetitions reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    print_summary(reporter);
    benchmark::Shutdown();
    return 0;
} catch (const std::exception& error) {
    std::fprintf(stderr, "bench_decoders: %s\n", error.what());
    return 1;
}
