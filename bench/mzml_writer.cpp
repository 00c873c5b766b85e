// The mzML writer beside its floor: libdeflate compression and base64 of the same
// arrays on one thread, which no writer can avoid. Spectra of 1,000 points (m/z f64
// ascending, intensities f32 integral counts) are written to a temporary directory in
// batches, with 1 and 2 threads, with and without compression; the ratios writer /
// floor and 1 thread / 2 threads are printed at the end of the run, and the cost of
// a spectrum's summary on the plain and the AVX-512 path, and of its numpress
// encoding beside zlib of the same arrays.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <libdeflate.h>
#include <map>
#include <memory>
#include <simdutf.h>
#include <string>
#include <vector>

#include "mzml/numpress.hpp"
#include "mzml/spectrum_summary.hpp"
#include "mzml/support/synthetic.hpp"
#include "mzml/writer.hpp"
#include "support/support.hpp"

namespace {

using namespace tarnvale::mzml;

constexpr std::size_t kSpectra = 2000;
constexpr std::size_t kPoints = 1000;
constexpr std::size_t kBatch = 256;

struct Data {
    std::vector<testing::SyntheticSpectrum> spectra;
    std::vector<SpectrumInput> inputs;
    RunDescription run;
};

const Data& data() {
    static const Data made = [] {
        Data d;
        for (std::size_t scan = 0; scan < kSpectra; ++scan) {
            auto s = testing::random_spectrum(1, scan, kPoints, static_cast<std::uint32_t>(scan));
            for (float& value : s.intensity) value = std::round(value / 100.0f); // detector counts
            d.spectra.push_back(std::move(s));
        }
        for (const auto& s : d.spectra) d.inputs.push_back(s.input());
        d.run = testing::sample_run(false).run;
        d.run.spectrum_count = kSpectra;
        d.run.chromatogram_count = 0;
        return d;
    }();
    return made;
}

std::size_t raw_bytes() { return kSpectra * kPoints * (sizeof(double) + sizeof(float)); }

// What any writer must do: compress (when asked) and base64 every array, one thread.
void Floor(benchmark::State& state) {
    const bool compress = state.range(0) != 0;
    const std::unique_ptr<libdeflate_compressor, decltype(&libdeflate_free_compressor)> compressor(
        libdeflate_alloc_compressor(zlib_level), &libdeflate_free_compressor);
    std::vector<std::uint8_t> compressed;
    std::string text;
    const auto encode = [&](const void* bytes, std::size_t size) {
        const char* payload = static_cast<const char*>(bytes);
        if (compress) {
            compressed.resize(libdeflate_zlib_compress_bound(compressor.get(), size));
            size =
                libdeflate_zlib_compress(compressor.get(), bytes, size, compressed.data(), compressed.size());
            payload = reinterpret_cast<const char*>(compressed.data());
        }
        text.resize(simdutf::base64_length_from_binary(size));
        benchmark::DoNotOptimize(simdutf::binary_to_base64(payload, size, text.data()));
    };
    for (auto _ : state) {
        for (const auto& s : data().spectra) {
            encode(s.mz.data(), s.mz.size() * sizeof(double));
            encode(s.intensity.data(), s.intensity.size() * sizeof(float));
        }
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(raw_bytes()));
}

void Writer(benchmark::State& state) {
    const Options options{state.range(0) != 0 ? Compression::Zlib : Compression::None,
                          static_cast<unsigned>(state.range(1))};
    const tarnvale::testing::TempDir dir;
    const std::span<const SpectrumInput> inputs = data().inputs;
    for (auto _ : state) {
        auto writer = tarnvale::mzml::Writer::create(dir.path() / "bench.mzML", data().run, options);
        bool ok = static_cast<bool>(writer);
        for (std::size_t at = 0; ok && at < inputs.size(); at += kBatch)
            ok = static_cast<bool>(
                writer->write_spectra(inputs.subspan(at, std::min(kBatch, inputs.size() - at))));
        if (!ok || !writer->finish()) state.SkipWithError("writing failed");
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(raw_bytes()));
}

// The per-spectrum summary (total ion current, base peak, m/z range) of one spectrum,
// again and again, on each instruction set the processor runs: its own cost, with
// the points in the cache.
void Summary(benchmark::State& state) {
    const auto path = static_cast<tarnvale::raw::DecoderPath>(state.range(0));
    const auto paths = tarnvale::raw::available_decoder_paths();
    if (std::find(paths.begin(), paths.end(), path) == paths.end()) {
        state.SkipWithError("this processor does not run that path");
        return;
    }
    const testing::SyntheticSpectrum& spectrum = data().spectra.front();
    for (auto _ : state) benchmark::DoNotOptimize(summarize_on(path, spectrum.mz, spectrum.intensity));
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(spectrum.mz.size()));
}

// One spectrum's arrays through the numpress codecs (m/z by linear prediction,
// intensities as short logged floats), beside zlib of the same arrays' bytes, the
// work numpress stands in for or comes before; per point, in the cache.
void Numpress(benchmark::State& state) {
    const testing::SyntheticSpectrum& spectrum = data().spectra.front();
    std::vector<std::uint8_t> out;
    out.reserve(16 + 8 * spectrum.mz.size());
    for (auto _ : state) {
        out.clear();
        benchmark::DoNotOptimize(numpress::append_linear(spectrum.mz, out));
        benchmark::DoNotOptimize(numpress::append_slof(std::span<const float>(spectrum.intensity), out));
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(spectrum.mz.size()));
}

void ZlibOfOneSpectrum(benchmark::State& state) {
    const testing::SyntheticSpectrum& spectrum = data().spectra.front();
    const std::unique_ptr<libdeflate_compressor, decltype(&libdeflate_free_compressor)> compressor(
        libdeflate_alloc_compressor(zlib_level), &libdeflate_free_compressor);
    std::vector<std::uint8_t> out(libdeflate_zlib_compress_bound(compressor.get(), 8 * spectrum.mz.size()));
    for (auto _ : state) {
        benchmark::DoNotOptimize(libdeflate_zlib_compress(compressor.get(), spectrum.mz.data(),
                                                          8 * spectrum.mz.size(), out.data(), out.size()));
        benchmark::DoNotOptimize(libdeflate_zlib_compress(compressor.get(), spectrum.intensity.data(),
                                                          4 * spectrum.intensity.size(), out.data(),
                                                          out.size()));
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(spectrum.mz.size()));
}

BENCHMARK(Summary)->ArgName("path")->Arg(0)->Arg(2);
BENCHMARK(Numpress);
BENCHMARK(ZlibOfOneSpectrum);
BENCHMARK(Floor)->ArgName("zlib")->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(Writer)
    ->ArgNames({"zlib", "threads"})
    ->Args({1, 1})
    ->Args({1, 2})
    ->Args({0, 1})
    ->Args({0, 2})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// Keeps each benchmark's real time per iteration (the median when repeated) for the ratios.
class RatioReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            const std::string name = run.run_name.str();
            if (run.run_type == Run::RT_Iteration) times.try_emplace(name, run.GetAdjustedRealTime());
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median")
                times[name] = run.GetAdjustedRealTime();
        }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> times;
};

void print_ratio(const RatioReporter& reporter, const std::string& label, const std::string& numerator,
                 const std::string& denominator) {
    const auto a = reporter.times.find(numerator), b = reporter.times.find(denominator);
    if (a == reporter.times.end() || b == reporter.times.end() || b->second <= 0) return;
    std::cout << "  " << label << ": " << a->second / b->second << "\n";
}

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    data(); // made before any measurement
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::cout << "ratios (" << kSpectra << " spectra of " << kPoints << " points):\n";
    print_ratio(reporter, "zlib, 1 thread / floor", "Writer/zlib:1/threads:1/real_time",
                "Floor/zlib:1/real_time");
    print_ratio(reporter, "zlib, speed-up 2 threads", "Writer/zlib:1/threads:1/real_time",
                "Writer/zlib:1/threads:2/real_time");
    print_ratio(reporter, "none, 1 thread / floor", "Writer/zlib:0/threads:1/real_time",
                "Floor/zlib:0/real_time");
    print_ratio(reporter, "none, speed-up 2 threads", "Writer/zlib:0/threads:1/real_time",
                "Writer/zlib:0/threads:2/real_time");
    print_ratio(reporter, "summary, plain / AVX-512", "Summary/path:0", "Summary/path:2");
    benchmark::Shutdown();
    return 0;
}
