// Reader costs beside the plain file operations they cannot avoid, so that the
// ratios can be read from one run:
//   BM_open / BM_plain_metadata_reads: opening a directory of 4 functions x 50,000
//     scans against reading the same metadata, index and statistics files whole and
//     measuring each .DAT file; BM_open also reports the page faults per open;
//   BM_decode_scan / BM_plain_pread: decoding one 50-record scan against opening the
//     .DAT file, reading the scan's bytes at their offset and closing it again;
//     BM_read_exact_at shows how much of the difference is the core's read itself.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <random>
#include <vector>

#include "io.hpp"
#include "reader/reader.hpp"
#include "support/raw_dir.hpp"

namespace {

namespace fs = std::filesystem;
using namespace tarnvale;
using namespace tarnvale::testing;

constexpr std::size_t kLargeScans = 50'000;
constexpr std::size_t kPointsPerScan = 50;
constexpr std::size_t kSmallScans = 1'000;

StsFileFields statistics(std::size_t scans) {
    StsFileFields sts{.descriptors = {{.type_code = kStsF32, .offset = 0, .name = "Collision Energy"},
                                      {.type_code = kStsU8, .offset = 4, .name = "ETD Fragmentation Mode"}},
                      .scan_record_size = 8};
    ByteWriter records(scans * 8);
    for (std::size_t i = 0; i < scans; ++i) records.put_f32(i * 8, 20.0f + static_cast<float>(i % 7));
    sts.records = records.take();
    return sts;
}

// Realistic scans: ascending m/z (or time bins) with non-zero intensities.
std::vector<RecordA> scan_a(std::mt19937& random) {
    std::vector<RecordA> records;
    records.reserve(kPointsPerScan);
    for (std::size_t i = 0; i < kPointsPerScan; ++i)
        records.push_back(record_a_mz(static_cast<std::uint16_t>(1 + random() % 60000),
                                      100.0 + 30.0 * static_cast<double>(i)));
    return records;
}
std::vector<Record8> scan_d(std::mt19937& random) {
    std::vector<Record8> records;
    records.reserve(kPointsPerScan);
    for (std::size_t i = 0; i < kPointsPerScan; ++i)
        records.push_back(record_d_mz(1.0 + static_cast<double>(random() % 100000) / 16.0,
                                      100.0 + 30.0 * static_cast<double>(i)));
    return records;
}
std::vector<Record8> scan_c(std::mt19937& random) {
    std::vector<Record8> records;
    records.reserve(kPointsPerScan);
    for (std::size_t i = 0; i < kPointsPerScan; ++i)
        records.push_back(record_c(static_cast<std::uint16_t>(1 + random() % 60000),
                                   static_cast<std::uint16_t>(random()),
                                   static_cast<std::uint16_t>(100 + 1000 * i)));
    return records;
}

// One function of each decoder family, all calibrated with three T1 terms.
RawDirSpec directory_spec(std::size_t scans) {
    std::mt19937 random(7);
    std::vector<std::vector<RecordA>> a_scans, a2_scans;
    std::vector<std::vector<Record8>> d_scans, c_scans;
    for (std::size_t s = 0; s < scans; ++s) {
        a_scans.push_back(scan_a(random));
        d_scans.push_back(scan_d(random));
        c_scans.push_back(scan_c(random));
        a2_scans.push_back(scan_a(random));
    }
    RawDirSpec spec;
    spec.header.instrument = "XEVO-G2XSQTOF";
    for (std::uint32_t n = 1; n <= 4; ++n) spec.header.cal[n] = "0.0131,0.99987654321,3.1e-7,T1";
    spec.extern_inf.pusher_interval = "64.5";
    spec.functions = {function_a(a_scans), function_d(d_scans), function_b_index(c_scans),
                      function_a(a2_scans)};
    for (FunctionSpec& function : spec.functions) {
        function.info.mz_low = 50.0f;
        function.info.mz_high = 2000.0f;
        function.sts = statistics(scans);
    }
    return spec;
}

// Directories are written once per process and removed at exit.
struct Fixture {
    TempDir temp;
    fs::path dir;
    explicit Fixture(std::size_t scans) : dir(write_raw_dir(temp, directory_spec(scans))) {}
};

const Fixture& large() {
    static const Fixture fixture(kLargeScans);
    return fixture;
}
const Fixture& small() {
    static const Fixture fixture(kSmallScans);
    return fixture;
}

Reader open_or_abort(const fs::path& dir) {
    auto reader = Reader::open(dir);
    if (!reader) {
        std::fprintf(stderr, "open failed: %s\n", reader.error().to_string().c_str());
        std::abort();
    }
    return std::move(*reader);
}

long minor_faults() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_minflt;
}

// Also counts the page faults of a repeated open: pages that an open touches for the
// first time cost the kernel a fault each, which matters beside the reads themselves.
void BM_open(benchmark::State& state) {
    const fs::path& dir = large().dir;
    {
        auto warm = Reader::open(dir);
    }
    const long faults_before = minor_faults();
    for (auto _ : state) {
        auto reader = Reader::open(dir);
        benchmark::DoNotOptimize(reader);
    }
    state.counters["faults/open"] = benchmark::Counter(static_cast<double>(minor_faults() - faults_before),
                                                       benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_open)->Unit(benchmark::kMicrosecond);

void BM_plain_metadata_reads(benchmark::State& state) {
    const fs::path& dir = large().dir;
    std::vector<fs::path> whole = {dir / "_HEADER.TXT", dir / "_extern.inf", dir / "_FUNCTNS.INF"};
    std::vector<fs::path> measured;
    for (int n = 1; n <= 4; ++n) {
        const std::string stem = "_FUNC00" + std::to_string(n);
        whole.push_back(dir / (stem + ".IDX"));
        whole.push_back(dir / (stem + ".STS"));
        measured.push_back(dir / (stem + ".DAT"));
    }
    for (auto _ : state) {
        for (const fs::path& path : whole) {
            auto bytes = read_whole_file(path, kIndexFileLimit);
            benchmark::DoNotOptimize(bytes);
        }
        for (const fs::path& path : measured) {
            auto size = tarnvale::file_size(path);
            benchmark::DoNotOptimize(size);
        }
    }
}
BENCHMARK(BM_plain_metadata_reads)->Unit(benchmark::kMicrosecond);

// Arg: function number (1 = encoding A, 2 = D, 3 = C).
void BM_decode_scan(benchmark::State& state) {
    static const Reader reader = open_or_abort(small().dir);
    const auto function = static_cast<std::uint32_t>(state.range(0));
    std::uint64_t scan = 0;
    for (auto _ : state) {
        auto decoded = reader.decode_scan(function, scan);
        benchmark::DoNotOptimize(decoded);
        scan = (scan + 1) % kSmallScans;
    }
}
BENCHMARK(BM_decode_scan)->ArgName("function")->Arg(1)->Arg(2)->Arg(3);

// The same byte ranges as BM_decode_scan, read with nothing but open, pread and close.
void BM_plain_pread(benchmark::State& state) {
    static const Reader reader = open_or_abort(small().dir);
    const FunctionEntry& entry = *reader.function(static_cast<std::uint32_t>(state.range(0)));
    const std::size_t width = entry.encoding == Encoding::A ? 6 : 8;
    std::vector<std::uint8_t> buffer(kPointsPerScan * width);
    std::uint64_t scan = 0;
    for (auto _ : state) {
        const std::uint64_t offset = scan * buffer.size();
        const int fd = ::open(entry.dat_path.c_str(), O_RDONLY | O_CLOEXEC);
        ssize_t got = ::pread(fd, buffer.data(), buffer.size(), static_cast<off_t>(offset));
        ::close(fd);
        benchmark::DoNotOptimize(got);
        benchmark::DoNotOptimize(buffer.data());
        scan = (scan + 1) % kSmallScans;
    }
}
BENCHMARK(BM_plain_pread)->ArgName("function")->Arg(1)->Arg(2)->Arg(3);

// The core's positioned read alone, for the same ranges.
void BM_read_exact_at(benchmark::State& state) {
    static const Reader reader = open_or_abort(small().dir);
    const FunctionEntry& entry = *reader.function(static_cast<std::uint32_t>(state.range(0)));
    const std::size_t length = kPointsPerScan * (entry.encoding == Encoding::A ? 6 : 8);
    std::uint64_t scan = 0;
    for (auto _ : state) {
        auto bytes = read_exact_at(entry.dat_path, scan * length, length, kScanLimit);
        benchmark::DoNotOptimize(bytes);
        scan = (scan + 1) % kSmallScans;
    }
}
BENCHMARK(BM_read_exact_at)->ArgName("function")->Arg(1)->Arg(2)->Arg(3);

} // namespace

BENCHMARK_MAIN();
