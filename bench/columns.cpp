// Whole functions as columns and their chromatograms, beside the floor of what
// they cannot avoid, so that the ratios can be read from one run:
//   floor        reading the .DAT file in 4 MiB reads, and writing as many bytes as
//                the columns hold (memcpy into freshly reserved pages);
//   columns      read_columns on 1 and 2 threads;
//   tic, bpi     read_chromatograms for the total ion current or the base peak alone;
//   xic100       read_chromatograms for 100 extracted-ion targets of 10 ppm;
//   memory       the peak resident memory that read_columns adds, beside the bytes
//                of the columns it returns.
// Functions of 200,000 scans at 4 and at 1,000 points per scan, in each encoding
// (B is the ion-mobility one), three-term calibration. The directories are written
// below $TMPDIR, one at a time. TARNVALE_BENCH_SCANS changes the number of scans.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <malloc.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <format>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "columns/chromatograms.hpp"
#include "columns/function_columns.hpp"
#include "columns/page_array.hpp"
#include "support/raw_dir.hpp"

namespace {

namespace fs = std::filesystem;
using namespace tarnvale;
using namespace tarnvale::testing;
using namespace tarnvale::columns;

constexpr double kMzLow = 50.0;
constexpr double kMzHigh = 2000.0;
constexpr std::size_t kTemplates = 16; // distinct scans, repeated through the function
constexpr std::size_t kReadChunk = std::size_t{4} << 20;

struct Dataset {
    char encoding;
    std::size_t points; // per scan
    std::size_t scans;

    std::string name() const { return std::format("{}{}", encoding, points); }
    std::size_t width() const { return encoding == 'A' ? 6 : 8; }
    std::size_t bytes_per_point() const { return 12 + (encoding == 'B' ? 8 : 0); }
    // What the columns hold: the points, and per scan its offset and retention time.
    std::size_t column_bytes() const {
        return scans * points * bytes_per_point() + (scans + 1) * 8 + scans * 4;
    }
};

std::size_t scan_count() {
    const char* text = std::getenv("TARNVALE_BENCH_SCANS");
    return text != nullptr ? static_cast<std::size_t>(std::strtoull(text, nullptr, 10)) : 200'000;
}

// Ascending m/z (or time bins), non-zero intensities.
std::vector<std::uint8_t> scan_bytes(const Dataset& set, std::mt19937& random) {
    std::vector<std::uint8_t> out;
    for (std::size_t i = 0; i < set.points; ++i) {
        const double mz =
            kMzLow + (kMzHigh - kMzLow) * (static_cast<double>(i) + 0.5) / static_cast<double>(set.points);
        const auto intensity = static_cast<std::uint16_t>(1 + random() % 65535);
        const auto position = static_cast<std::uint16_t>(100 + i * 60000 / set.points);
        if (set.encoding == 'A') {
            const RecordA record = record_a_mz(intensity, mz);
            out.insert(out.end(), record.begin(), record.end());
        } else {
            const Record8 record = set.encoding == 'D'
                                       ? record_d_mz(intensity / 16.0, mz)
                                       : record_bc(intensity, static_cast<std::uint16_t>(random()), position);
            out.insert(out.end(), record.begin(), record.end());
        }
    }
    return out;
}

// A directory with the one function, its .DAT written a template at a time.
struct Prepared {
    explicit Prepared(const Dataset& wanted) : set(wanted) {
        std::mt19937 random(static_cast<unsigned>(set.encoding) * 1000 + static_cast<unsigned>(set.points));
        std::vector<std::vector<std::uint8_t>> templates;
        templates.reserve(kTemplates);
        for (std::size_t k = 0; k < kTemplates; ++k) templates.push_back(scan_bytes(set, random));
        FunctionSpec function;
        function.info = {.scan_time_s = 0.5f,
                         .mz_low = static_cast<float>(kMzLow),
                         .mz_high = static_cast<float>(kMzHigh)};
        function.dat_bytes = std::vector<std::uint8_t>();
        const bool variant_a = set.encoding == 'A' || set.encoding == 'D';
        function.variant = variant_a ? IndexVariant::A : IndexVariant::B;
        std::vector<IndexARecord> index_a;
        std::vector<IndexBRecord> index_b;
        std::uint64_t offset = 0;
        for (std::size_t scan = 0; scan < set.scans; ++scan) {
            const float rt = static_cast<float>(scan) * 0.001f;
            if (variant_a)
                index_a.push_back({.offset = static_cast<std::uint32_t>(offset),
                                   .n_points = static_cast<std::uint32_t>(set.points),
                                   .rt_min = rt});
            else
                index_b.push_back({.offset = static_cast<std::uint32_t>(offset), .rt_min = rt});
            offset += templates[scan % kTemplates].size();
        }
        if (variant_a)
            function.index_a = std::move(index_a);
        else
            function.index_b = std::move(index_b);
        RawDirSpec spec;
        spec.header.instrument = set.encoding == 'B' ? "SYNAPT G2-Si" : "XEVO-G2XSQTOF";
        spec.header.cal[1] = "0.0131,0.99987654321,3.1e-7,T1";
        spec.functions = {std::move(function)};
        dir = write_raw_dir(temp, spec);
        std::ofstream dat(dir / "_FUNC001.DAT", std::ios::binary | std::ios::trunc);
        for (std::size_t scan = 0; scan < set.scans; ++scan) {
            const auto& bytes = templates[scan % kTemplates];
            dat.write(reinterpret_cast<const char*>(bytes.data()),
                      static_cast<std::streamsize>(bytes.size()));
        }
        dat.close();
        auto opened = Reader::open(dir);
        if (!opened) {
            std::fprintf(stderr, "open failed: %s\n", opened.error().to_string().c_str());
            std::abort();
        }
        reader = std::make_unique<Reader>(std::move(*opened));
    }
    const FunctionEntry& entry() const { return reader->functions.front(); }

    Dataset set;
    TempDir temp;
    fs::path dir;
    std::unique_ptr<Reader> reader;
};

// Benchmarks run in registration order, so each directory is written once and
// removed before the next one is written.
const Prepared& prepared(const Dataset& set) {
    static std::unique_ptr<Prepared> current;
    if (!current || current->set.name() != set.name() || current->set.scans != set.scans) {
        current.reset();
        current = std::make_unique<Prepared>(set);
    }
    return *current;
}

void set_point_counters(benchmark::State& state, const Dataset& set) {
    state.counters["ns_per_point"] =
        benchmark::Counter(static_cast<double>(set.scans * set.points) * 1e-9,
                           benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void floor_bench(benchmark::State& state, Dataset set) {
    const Prepared& data = prepared(set);
    std::vector<std::uint8_t> chunk(kReadChunk);
    for (auto _ : state) {
        const int fd = ::open(data.entry().dat_path.c_str(), O_RDONLY | O_CLOEXEC);
        auto output = PageArray::reserve(set.column_bytes());
        std::size_t written = 0;
        for (off_t at = 0;;) {
            const ssize_t got = ::pread(fd, chunk.data(), chunk.size(), at);
            if (got <= 0) break;
            at += got;
            // The chunk's bytes once, then again until the output bytes this chunk's scans make are written.
            const auto owed =
                std::min(set.column_bytes() - written,
                         static_cast<std::size_t>(got) * set.column_bytes() / data.entry().dat_len + 1);
            for (std::size_t done = 0; done < owed;) {
                const std::size_t step = std::min(owed - done, static_cast<std::size_t>(got));
                std::memcpy(output->data() + written + done, chunk.data(), step);
                done += step;
            }
            written += owed;
        }
        ::close(fd);
        benchmark::DoNotOptimize(output->data());
    }
    set_point_counters(state, set);
}

void columns_bench(benchmark::State& state, Dataset set, unsigned threads) {
    const Prepared& data = prepared(set);
    for (auto _ : state) {
        auto columns = read_columns(*data.reader, data.entry(), {threads, OnError::Fail, 0});
        if (!columns) state.SkipWithError(columns.error().to_string());
        benchmark::DoNotOptimize(columns);
    }
    set_point_counters(state, set);
}

ChromatogramRequest xic_request(std::size_t targets) {
    ChromatogramRequest request;
    for (std::size_t t = 0; t < targets; ++t) {
        const double mz =
            kMzLow + (kMzHigh - kMzLow) * (static_cast<double>(t) + 0.37) / static_cast<double>(targets);
        request.targets.push_back({mz, mz * 10e-6});
    }
    return request;
}

void chromatograms_bench(benchmark::State& state, Dataset set, const ChromatogramRequest& request) {
    const Prepared& data = prepared(set);
    for (auto _ : state) {
        auto traces = read_chromatograms(*data.reader, data.entry(), request, {1, OnError::Fail, 0});
        if (!traces) state.SkipWithError(traces.error().to_string());
        benchmark::DoNotOptimize(traces);
    }
    set_point_counters(state, set);
}

std::size_t status_kib(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.starts_with(field)) return std::strtoull(line.c_str() + std::strlen(field), nullptr, 10);
    return 0;
}

// Peak resident memory added by one read_columns call, as a multiple of the columns' bytes.
void memory_bench(benchmark::State& state, Dataset set, unsigned threads) {
    const Prepared& data = prepared(set);
    double ratio = 0;
    for (auto _ : state) {
        // Freed heap memory goes back to the system, so that reusing it does not hide an
        // allocation, and the peak starts again from what is resident now.
        ::malloc_trim(0);
        std::ofstream("/proc/self/clear_refs") << "5";
        const std::size_t before = status_kib("VmRSS:");
        auto columns = read_columns(*data.reader, data.entry(), {threads, OnError::Fail, 0});
        const std::size_t peak = status_kib("VmHWM:");
        ratio = static_cast<double>(peak - before) * 1024.0 / static_cast<double>(set.column_bytes());
        benchmark::DoNotOptimize(columns);
    }
    state.counters["peak_over_columns"] = ratio;
}

// Collects the best time per iteration of every run for the table at the end.
class RatioReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.run_type != Run::RT_Iteration || run.iterations == 0) continue;
            const double seconds = run.real_accumulated_time / static_cast<double>(run.iterations);
            auto [slot, fresh] = best_.try_emplace(run.run_name.function_name, seconds);
            if (!fresh) slot->second = std::min(slot->second, seconds);
            if (auto peak = run.counters.find("peak_over_columns"); peak != run.counters.end())
                peaks_[run.run_name.function_name] = peak->second.value;
        }
    }
    void print_table(const std::vector<Dataset>& sets) const {
        std::printf("\n%-6s %9s %8s %8s %8s %9s %9s %8s %8s %8s %9s %9s\n", "set", "points", "floor",
                    "cols 1T", "cols 2T", "1T/floor", "1T/2T", "tic/col", "bpi/col", "xic/col", "mem 1T",
                    "mem 2T");
        std::printf("%-6s %9s %8s %8s %8s\n", "", "", "ns/pt", "ns/pt", "ns/pt");
        for (const Dataset& set : sets) {
            const std::string n = set.name();
            const double points = static_cast<double>(set.scans * set.points);
            auto t = [&](const std::string& what) {
                auto found = best_.find(std::format("{}/{}", what, n));
                return found == best_.end() ? 0.0 : found->second;
            };
            auto peak = [&](const std::string& what) {
                auto found = peaks_.find(std::format("{}/{}", what, n));
                return found == peaks_.end() ? 0.0 : found->second;
            };
            const double one = t("columns_1T");
            std::printf("%-6s %9.0f %8.2f %8.2f %8.2f %9.2f %9.2f %8.2f %8.2f %8.2f %9.2f %9.2f\n", n.c_str(),
                        points, t("floor") * 1e9 / points, one * 1e9 / points, t("columns_2T") * 1e9 / points,
                        one / t("floor"), one / t("columns_2T"), t("tic") / one, t("bpi") / one,
                        t("xic100") / one, peak("memory_1T"), peak("memory_2T"));
        }
    }

  private:
    std::map<std::string, double> best_;
    std::map<std::string, double> peaks_;
};

} // namespace

int main(int argc, char** argv) try {
    const std::size_t scans = scan_count();
    std::vector<Dataset> sets;
    for (std::size_t points : {std::size_t{4}, std::size_t{1000}})
        for (char encoding : {'A', 'D', 'B', 'C'}) sets.push_back({encoding, points, scans});
    for (const Dataset& set : sets) {
        const std::string n = set.name();
        auto unit = [](benchmark::internal::Benchmark* b) {
            b->Unit(benchmark::kMillisecond)->Repetitions(3)->MinTime(0.3)->UseRealTime();
        };
        unit(benchmark::RegisterBenchmark("floor/" + n, floor_bench, set));
        unit(benchmark::RegisterBenchmark("columns_1T/" + n, columns_bench, set, 1u));
        unit(benchmark::RegisterBenchmark("columns_2T/" + n, columns_bench, set, 2u));
        unit(benchmark::RegisterBenchmark("tic/" + n, chromatograms_bench, set,
                                          ChromatogramRequest{true, false, {}}));
        unit(benchmark::RegisterBenchmark("bpi/" + n, chromatograms_bench, set,
                                          ChromatogramRequest{false, true, {}}));
        unit(benchmark::RegisterBenchmark("xic100/" + n, chromatograms_bench, set, xic_request(100)));
        benchmark::RegisterBenchmark("memory_1T/" + n, memory_bench, set, 1u)
            ->Iterations(1)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark("memory_2T/" + n, memory_bench, set, 2u)
            ->Iterations(1)
            ->Unit(benchmark::kMillisecond);
    }
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.print_table(sets);
    benchmark::Shutdown();
    return 0;
} catch (const std::exception& error) {
    std::fprintf(stderr, "bench_columns: %s\n", error.what());
    return 1;
}
