// Converting a whole run to mzML beside its floor: libdeflate compression and base64
// of the same decoded arrays on one thread, which no converter can avoid. A synthetic
// run of SCANS scans × 1,000 points (encoding A) and an ion-mobility function of a
// tenth as many scans is written to the temporary directory; each conversion runs in
// a fresh process (this program again), so that its peak resident memory is its own.
// Prints conversion / floor, 1 thread / 2 threads, and the peak memory at half the
// scans beside all of them: flat once every function holds more than one batch of
// scans (1,024 by default), as both sizes do from the default up.
//   bench_export [SCANS]   (default 24,000; the figure is 200,000)
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <libdeflate.h>
#include <memory>
#include <random>
#include <simdutf.h>
#include <string>
#include <vector>

#include "columns/function_columns.hpp"
#include "export/convert.hpp"
#include "reader/reader.hpp"
#include "support/raw_dir.hpp"

namespace {

using namespace tarnvale;
using testing::FunctionSpec;
using testing::RawDirSpec;
using Clock = std::chrono::steady_clock;

constexpr std::size_t kPoints = 1000;
constexpr std::size_t kTemplates = 64; // distinct scans, repeated to make up the run

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

std::vector<std::uint8_t> scan_a(std::mt19937& random) {
    std::uniform_int_distribution<int> counts(1, 5000);
    std::vector<std::uint8_t> bytes;
    double mz = 100.0;
    for (std::size_t i = 0; i < kPoints; ++i) {
        mz += std::uniform_real_distribution<double>(0.5, 3.0)(random);
        const testing::RecordA record = testing::record_a_mz(static_cast<std::uint16_t>(counts(random)), mz);
        bytes.insert(bytes.end(), record.begin(), record.end());
    }
    return bytes;
}

std::vector<std::uint8_t> scan_b(std::mt19937& random) {
    std::uniform_int_distribution<int> counts(1, 500);
    std::uniform_int_distribution<int> drift(0, 199);
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 0; i < kPoints; ++i) {
        const auto position = static_cast<std::uint16_t>(100 + 50 * i);
        const testing::Record8 record =
            testing::record_b(static_cast<std::uint16_t>(counts(random)),
                              static_cast<std::uint16_t>(drift(random) * 327), position);
        bytes.insert(bytes.end(), record.begin(), record.end());
    }
    return bytes;
}

std::filesystem::path write_run(const testing::TempDir& temp, std::size_t scans) {
    std::mt19937 random(7);
    std::vector<std::vector<std::uint8_t>> a, b;
    for (std::size_t t = 0; t < kTemplates; ++t) {
        a.push_back(scan_a(random));
        b.push_back(scan_b(random));
    }
    RawDirSpec spec;
    spec.dir_name = std::to_string(scans) + ".raw";
    spec.header.instrument = "SYNAPT G2-Si";
    FunctionSpec ms1;
    ms1.info = {.scan_time_s = 0.5f, .mz_low = 50.0f, .mz_high = 5000.0f};
    for (std::size_t s = 0; s < scans; ++s)
        ms1.scans.push_back({a[s % kTemplates], static_cast<float>(s) * 0.001f});
    FunctionSpec ims;
    ims.variant = testing::IndexVariant::B;
    ims.record_width = 8;
    ims.info = {.scan_time_s = 0.02f, .mz_low = 50.0f, .mz_high = 2000.0f};
    for (std::size_t s = 0; s < scans / 10; ++s)
        ims.scans.push_back({b[s % kTemplates], static_cast<float>(s) * 0.01f});
    spec.functions = {std::move(ms1), std::move(ims)};
    return testing::write_raw_dir(temp, spec);
}

// Compress and base64 every array of every function, on one thread.
double floor_seconds(const std::filesystem::path& raw) {
    auto reader = Reader::open(raw);
    if (!reader) return -1;
    const std::unique_ptr<libdeflate_compressor, decltype(&libdeflate_free_compressor)> compressor(
        libdeflate_alloc_compressor(mzml::zlib_level), &libdeflate_free_compressor);
    std::vector<std::uint8_t> compressed;
    std::string text;
    std::size_t total = 0;
    const auto encode = [&](const void* bytes, std::size_t size) {
        compressed.resize(libdeflate_zlib_compress_bound(compressor.get(), size));
        size = libdeflate_zlib_compress(compressor.get(), bytes, size, compressed.data(), compressed.size());
        text.resize(simdutf::base64_length_from_binary(size));
        total +=
            simdutf::binary_to_base64(reinterpret_cast<const char*>(compressed.data()), size, text.data());
    };
    double elapsed = 0;
    for (const FunctionEntry& entry : reader->functions) {
        auto columns = columns::read_columns(*reader, entry, {});
        if (!columns) return -1;
        const auto offsets = columns->scan_offsets.view();
        const Clock::time_point start = Clock::now();
        for (std::size_t s = 0; s + 1 < offsets.size(); ++s) {
            const std::size_t first = offsets[s], count = offsets[s + 1] - offsets[s];
            encode(columns->mz.data() + first, count * sizeof(double));
            encode(columns->intensity.data() + first, count * sizeof(float));
            if (columns->drift_time_ms)
                encode(columns->drift_time_ms->data() + first, count * sizeof(double));
        }
        elapsed += seconds_since(start);
    }
    std::fprintf(stderr, "(floor encoded %zu characters)\n", total);
    return elapsed;
}

// The child: one conversion; prints "seconds peak_rss_kib".
int convert_once(const char* raw, const char* out, const char* threads) {
    exporter::ConversionOptions options;
    options.threads = static_cast<unsigned>(std::atoi(threads));
    const Clock::time_point start = Clock::now();
    auto summary = exporter::convert_to_mzml(raw, out, options);
    const double elapsed = seconds_since(start);
    if (!summary) {
        std::fprintf(stderr, "%s\n", summary.error().to_string().c_str());
        return 1;
    }
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    std::printf("%.6f %ld\n", elapsed, usage.ru_maxrss);
    return 0;
}

struct Measured {
    double seconds = -1;
    long peak_kib = -1;
};

Measured convert_in_child(const std::filesystem::path& raw, const std::filesystem::path& out,
                          unsigned threads) {
    int pipe_fds[2];
    if (::pipe(pipe_fds) != 0) return {};
    const std::string threads_text = std::to_string(threads);
    const pid_t child = ::fork();
    if (child == 0) {
        ::dup2(pipe_fds[1], STDOUT_FILENO);
        ::close(pipe_fds[0]);
        ::execl("/proc/self/exe", "bench_export", "--convert-once", raw.c_str(), out.c_str(),
                threads_text.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(pipe_fds[1]);
    char buffer[128] = {};
    const ssize_t got = ::read(pipe_fds[0], buffer, sizeof buffer - 1);
    ::close(pipe_fds[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    Measured measured;
    if (got <= 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0 ||
        std::sscanf(buffer, "%lf %ld", &measured.seconds, &measured.peak_kib) != 2)
        return {};
    std::filesystem::remove(out);
    return measured;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 5 && std::string(argv[1]) == "--convert-once") return convert_once(argv[2], argv[3], argv[4]);
    // make bench hands every program the Google Benchmark arguments: those are not a size.
    const bool sized = argc > 1 && argv[1][0] >= '1' && argv[1][0] <= '9';
    const std::size_t scans = sized ? std::strtoull(argv[1], nullptr, 10) : 24000;
    const testing::TempDir temp;
    const std::filesystem::path& dir = temp.path();
    const std::filesystem::path small = write_run(temp, scans / 2);
    const std::filesystem::path large = write_run(temp, scans);
    const double floor = floor_seconds(large);
    const Measured one = convert_in_child(large, dir / "one.mzML", 1);
    const Measured two = convert_in_child(large, dir / "two.mzML", 2);
    const Measured half = convert_in_child(small, dir / "half.mzML", 1);
    if (floor <= 0 || one.seconds <= 0 || two.seconds <= 0 || half.seconds <= 0) {
        std::fprintf(stderr, "bench_export: a conversion failed\n");
        return 1;
    }
    std::printf("run: %zu + %zu ion-mobility scans of %zu points\n", scans, scans / 10, kPoints);
    std::printf("floor (libdeflate + base64, 1 thread): %.3f s\n", floor);
    std::printf("convert, 1 thread:  %.3f s, peak RSS %ld MiB\n", one.seconds, one.peak_kib / 1024);
    std::printf("convert, 2 threads: %.3f s, peak RSS %ld MiB\n", two.seconds, two.peak_kib / 1024);
    std::printf("convert, %zu scans, 1 thread: %.3f s, peak RSS %ld MiB\n", scans / 2, half.seconds,
                half.peak_kib / 1024);
    std::printf("ratios:\n  convert 1 thread / floor: %.2f\n  1 thread / 2 threads: %.2f\n"
                "  peak RSS all scans / half: %.2f\n",
                one.seconds / floor, one.seconds / two.seconds,
                static_cast<double>(one.peak_kib) / static_cast<double>(half.peak_kib));
    return 0;
}
