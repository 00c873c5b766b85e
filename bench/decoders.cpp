// Scan decoder throughput, per record, beside a plain memcpy of the bytes each
// decoder produces (m/z f64 + intensity f32, plus drift time f64 for encoding B)
// so that the ratio decoder / memcpy can be read from one run. Scans hold
// realistic records (ascending m/z or time bins, non-zero intensities) and are
// decoded with a three-term T1 calibration.
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <vector>

#include "../tests/core/support/scan_records.hpp"
#include "raw/scan_decoders.hpp"

namespace {

using namespace tarnvale;
using namespace tarnvale::raw;

constexpr double kMzLow = 50.0;
constexpr double kMzHigh = 2000.0;

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

std::uint16_t random_intensity(std::mt19937& random) {
    return static_cast<std::uint16_t>(1 + random() % 65535);
}

double ascending_mz(std::size_t i, std::size_t count) {
    return kMzLow + (kMzHigh - kMzLow) * static_cast<double>(i) / static_cast<double>(count);
}

std::vector<std::uint8_t> scan_a(std::size_t count) {
    std::mt19937 random(1);
    std::vector<testing::RecordA> records;
    records.reserve(count);
    for (std::size_t i = 0; i < count; ++i)
        records.push_back(testing::record_a_mz(random_intensity(random), ascending_mz(i, count)));
    return testing::join(records);
}

std::vector<std::uint8_t> scan_d(std::size_t count) {
    std::mt19937 random(4);
    std::vector<testing::Record8> records;
    for (std::size_t i = 0; i < count; ++i) {
        double intensity = static_cast<double>(random() % 4000000) / 64.0 + 1.0;
        records.push_back(testing::record_d_mz(intensity, ascending_mz(i, count)));
    }
    return testing::join(records);
}

// Time-bin positions climb through the u16 range; the word is the drift (B) or fraction (C).
std::vector<std::uint8_t> scan_bc(std::size_t count, unsigned seed) {
    std::mt19937 random(seed);
    std::vector<testing::Record8> records;
    for (std::size_t i = 0; i < count; ++i) {
        auto position = static_cast<std::uint16_t>(100 + i * 60000 / count);
        records.push_back(
            testing::record_bc(random_intensity(random), static_cast<std::uint16_t>(random()), position));
    }
    return testing::join(records);
}

// items_per_second, and per_record: wall time per record (shown in seconds with an SI prefix).
void set_per_record_counters(benchmark::State& state, std::size_t count) {
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(count));
    state.counters["per_record"] =
        benchmark::Counter(static_cast<double>(count),
                           benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

template <class Decode>
void run_decoder(benchmark::State& state, const std::vector<std::uint8_t>& scan, std::size_t count,
                 Decode decode) {
    const DecodeContext context = t1_context();
    for (auto _ : state) {
        auto result = decode(scan, context);
        if (!result || result->mz.size() != count) {
            state.SkipWithError("decoding failed");
            break;
        }
        benchmark::DoNotOptimize(result->mz.data());
        benchmark::ClobberMemory();
    }
    set_per_record_counters(state, count);
}

void BM_decode_a(benchmark::State& state) {
    auto count = static_cast<std::size_t>(state.range(0));
    run_decoder(state, scan_a(count), count, decode_encoding_a);
}

void BM_decode_b(benchmark::State& state) {
    auto count = static_cast<std::size_t>(state.range(0));
    run_decoder(state, scan_bc(count, 2), count, decode_encoding_b);
}

void BM_decode_c(benchmark::State& state) {
    auto count = static_cast<std::size_t>(state.range(0));
    run_decoder(state, scan_bc(count, 3), count, decode_encoding_c);
}

void BM_decode_d(benchmark::State& state) {
    auto count = static_cast<std::size_t>(state.range(0));
    run_decoder(state, scan_d(count), count, decode_encoding_d);
}

// The output of one decoded scan copied with memcpy: range(0) points, with
// (range(1) = 1) or without (0) a drift-time array.
void BM_memcpy_output(benchmark::State& state) {
    auto count = static_cast<std::size_t>(state.range(0));
    const bool with_drift = state.range(1) != 0;
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

// The same bytes copied into freshly allocated vectors, as a decoder must return
// them: adds the allocator's cost. With its self-adjusting thresholds glibc
// hands a freed heap top above its trim threshold (here about 1.6 MB) back to
// the system, so outputs larger than that (encoding B's three vectors at 100,000
// points) pay for page faults on every call, whoever allocates them.
void BM_copy_to_new_output(benchmark::State& state) {
    auto count = static_cast<std::size_t>(state.range(0));
    const bool with_drift = state.range(1) != 0;
    const std::vector<double> mz(count, 1.5), drift(with_drift ? count : 0, 2.5);
    const std::vector<float> intensity(count, 3.5f);
    for (auto _ : state) {
        std::vector<double> mz_out(mz.begin(), mz.end()), drift_out(drift.begin(), drift.end());
        std::vector<float> intensity_out(intensity.begin(), intensity.end());
        benchmark::DoNotOptimize(mz_out.data());
        benchmark::DoNotOptimize(drift_out.data());
        benchmark::DoNotOptimize(intensity_out.data());
        benchmark::ClobberMemory();
    }
    set_per_record_counters(state, count);
}

BENCHMARK(BM_decode_a)->Arg(1000)->Arg(100000);
BENCHMARK(BM_decode_c)->Arg(1000)->Arg(100000);
BENCHMARK(BM_decode_d)->Arg(1000)->Arg(100000);
BENCHMARK(BM_memcpy_output)->ArgNames({"points", "drift"})->Args({1000, 0})->Args({100000, 0});
BENCHMARK(BM_copy_to_new_output)->ArgNames({"points", "drift"})->Args({1000, 0})->Args({100000, 0});
BENCHMARK(BM_decode_b)->Arg(1000)->Arg(100000);
BENCHMARK(BM_memcpy_output)->ArgNames({"points", "drift"})->Args({1000, 1})->Args({100000, 1});
BENCHMARK(BM_copy_to_new_output)->ArgNames({"points", "drift"})->Args({1000, 1})->Args({100000, 1});

} // namespace

BENCHMARK_MAIN();
