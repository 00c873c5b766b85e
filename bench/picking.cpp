// Peak picking of profile scans beside decoding them, per record, measured in the same
// run: an encoding B scan of Gaussian peaks (1 to 4 bins wide, 100 to 30,000 counts)
// on a floor of 0 to 4 counts is decoded, and decoded then picked in place; the
// summary divides the picking's extra time by the decoding's. Repetitions are
// interleaved; each figure is the fastest repetition.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <random>
#include <vector>

#include "../tests/core/support/scan_records.hpp"
#include "processing/scan_picker.hpp"
#include "raw/scan_decoders.hpp"

namespace {

using namespace tarnvale;

constexpr std::uint16_t kFirst = 100;
constexpr std::uint16_t kLast = 60000;

raw::DecodeContext context() {
    raw::DecodeContext c;
    c.cal_type = raw::CalType::T1;
    c.coefficients = {0.0131, 0.99987654321, 3.1e-7};
    c.tof_k_us = 0.7224847745293227;
    c.mz_low = 50.0;
    c.mz_high = 2000.0;
    c.scan_time_ms = 500.0;
    return c;
}

// Records on every bin within five sigma of a peak, zero counts left out.
std::vector<std::uint8_t> profile_scan(std::size_t peaks) {
    std::mt19937 random(3);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::vector<testing::Record8> records{testing::record_b(0, 0, kFirst)};
    const double step = (kLast - kFirst - 400.0) / static_cast<double>(peaks);
    for (std::size_t p = 0; p < peaks; ++p) {
        const double centre = kFirst + 200 + step * (static_cast<double>(p) + 0.5 * unit(random));
        const double sigma = 1 + 3 * unit(random);
        const double height = 100 * std::pow(300.0, unit(random));
        for (auto bin = static_cast<long>(centre - 5 * sigma); bin <= static_cast<long>(centre + 5 * sigma);
             ++bin) {
            const double z = (static_cast<double>(bin) - centre) / sigma;
            const long count = std::lround(height * std::exp(-0.5 * z * z)) + static_cast<long>(random() % 5);
            if (count > 0)
                records.push_back(testing::record_b(static_cast<std::uint16_t>(std::min(count, 65535L)), 9000,
                                                    static_cast<std::uint16_t>(bin)));
        }
    }
    records.push_back(testing::record_b(0, 0, kLast));
    return testing::join(records);
}

struct Scan {
    std::vector<std::uint8_t> bytes = profile_scan(400);
    raw::DecodeContext context = ::context();
    std::vector<double> mz = std::vector<double>(bytes.size() / 8);
    std::vector<double> drift = std::vector<double>(bytes.size() / 8);
    std::vector<float> intensity = std::vector<float>(bytes.size() / 8);
    raw::PointOutput out() { return {mz.data(), intensity.data(), drift.data()}; }
};

Scan& scan() {
    static Scan s;
    return s;
}

void decode(benchmark::State& state) {
    Scan& s = scan();
    for (auto _ : state) benchmark::DoNotOptimize(*raw::decode_encoding_b_into(s.bytes, s.context, s.out()));
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(s.bytes.size() / 8));
}

void decode_and_pick(benchmark::State& state) {
    Scan& s = scan();
    processing::ScanPicker picker('B', s.context, {});
    for (auto _ : state) {
        const std::size_t points = *raw::decode_encoding_b_into(s.bytes, s.context, s.out());
        benchmark::DoNotOptimize(picker.pick(s.bytes, s.out(), points));
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(s.bytes.size() / 8));
}

BENCHMARK(decode)->Repetitions(7)->ReportAggregatesOnly(false);
BENCHMARK(decode_and_pick)->Repetitions(7)->ReportAggregatesOnly(false);

// The fastest repetition of each, and the picking's share.
class Summary : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.run_type != Run::RT_Iteration) continue;
            double& best = run.benchmark_name().starts_with("decode_and_pick") ? picked_ : decoded_;
            const std::size_t records = scan().bytes.size() / 8;
            const double ns = run.GetAdjustedRealTime() / static_cast<double>(records);
            best = best == 0 ? ns : std::min(best, ns);
        }
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        std::printf(
            "per record: decode %.2f ns, decode and pick %.2f ns; picking %.2f ns = %.2f x decoding\n",
            decoded_, picked_, picked_ - decoded_, (picked_ - decoded_) / decoded_);
    }

  private:
    double decoded_ = 0;
    double picked_ = 0;
};

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    Summary summary;
    benchmark::RunSpecifiedBenchmarks(&summary);
    benchmark::Shutdown();
    return 0;
}
