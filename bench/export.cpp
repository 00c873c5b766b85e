// Converting a whole run to mzML beside its floor: libdeflate compression and base64
// of the same decoded arrays on one thread, which no converter can avoid. A synthetic
// run of SCANS scans × 1,000 points (encoding A) and an ion-mobility function of a
// tenth as many scans is written to the temporary directory, and one of SMALLER scans
// beside it; each conversion runs in a fresh process (this program again), so that its
// peak resident memory is its own. Prints conversion / floor, 1 thread / 2 threads,
// and the peak memory of both sizes: flat once every function holds more than one
// batch of scans (1,024 by default), that is from 10,240 scans up. Times are given as
// elapsed and as processor time, user and system apart: on a machine shared with
// other work the processor time moves less, while the elapsed time also counts the
// waits for the disk; the system time is mostly the kernel taking in the written file.
// Every figure is the best of three rounds, the measurements taking turns.
//   bench_export [SCANS [SMALLER]]   (default 200,000 and a quarter of SCANS; a quick
//                                     look: bench_export 24000)
// The mzML files go beside the synthetic runs, in the temporary directory (a real file
// on the disk, as a user's conversion writes it), or to the directory that
// TARNVALE_BENCH_OUT names, e.g. a RAM-backed one to leave the disk out of the times.
// The output names its file system.
#include <sys/resource.h>
#include <sys/statfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <libdeflate.h>
#include <memory>
#include <random>
#include <simdutf.h>
#include <string>
#include <utility>
#include <vector>

#include "columns/function_columns.hpp"
#include "export/batch_columns.hpp"
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

struct Measured {
    double seconds = -1;
    double user_seconds = -1;
    double system_seconds = -1;
    long peak_kib = -1;

    double cpu_seconds() const { return user_seconds + system_seconds; }
};

// Each measurement is made this many times, taking turns, and the fastest is kept:
// on a shared machine a round can be slowed by other work or, for the written file,
// by the memory the system hands out, but never made faster than the work takes.
constexpr int kRounds = 3;

// Keeps the faster of two measurements, with the higher peak memory of the two; a
// failed measurement makes the result a failure.
void keep_best(Measured& best, const Measured& measured) {
    if (best.seconds == 0) return; // an earlier round failed
    if (measured.seconds <= 0) {
        best.seconds = 0;
        return;
    }
    const long peak_kib = std::max(best.peak_kib, measured.peak_kib);
    if (best.seconds < 0 || measured.seconds < best.seconds) best = measured;
    best.peak_kib = peak_kib;
}

double seconds_of(const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) * 1e-6;
}

// This process's user and system time so far.
std::pair<double, double> processor_seconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return {seconds_of(usage.ru_utime), seconds_of(usage.ru_stime)};
}

// Compress and base64 every array of every function, on one thread; the arrays are
// decoded batch by batch, as the conversion does, and only the encoding is timed.
Measured floor_time(const std::filesystem::path& raw) {
    auto reader = Reader::open(raw);
    if (!reader) return {};
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
    Measured measured{0, 0, 0, 0};
    for (const FunctionEntry& entry : reader->functions) {
        const columns::Column<float> rt_min = columns::retention_times(entry);
        for (std::uint64_t first = 0; first < entry.scans.size();) {
            const std::uint64_t last = exporter::batch_end(entry, first, {});
            auto batch = exporter::read_batch(*reader, entry, rt_min, first, last, 1);
            if (!batch) return {};
            first = last;
            const columns::FunctionColumns& arrays = batch->columns;
            const auto offsets = arrays.scan_offsets.view();
            const double* drift = arrays.drift_time_ms ? arrays.drift_time_ms->data() : nullptr;
            const Clock::time_point start = Clock::now();
            const auto [user_start, system_start] = processor_seconds();
            for (std::size_t s = 0; s + 1 < offsets.size(); ++s) {
                const std::size_t from = offsets[s], count = offsets[s + 1] - offsets[s];
                encode(arrays.mz.data() + from, count * sizeof(double));
                encode(arrays.intensity.data() + from, count * sizeof(float));
                if (drift != nullptr) encode(drift + from, count * sizeof(double));
            }
            measured.seconds += seconds_since(start);
            const auto [user_end, system_end] = processor_seconds();
            measured.user_seconds += user_end - user_start;
            measured.system_seconds += system_end - system_start;
        }
    }
    std::fprintf(stderr, "(floor encoded %zu characters)\n", total);
    return measured;
}

// The child: one conversion; prints "seconds user_seconds system_seconds peak_rss_kib".
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
    const auto [user, system] = processor_seconds();
    // ru_maxrss keeps the forking parent's peak across exec: the peak of this
    // process's own memory is VmHWM.
    long peak_kib = -1;
    if (std::FILE* status = std::fopen("/proc/self/status", "r")) {
        char line[256];
        while (std::fgets(line, sizeof line, status) != nullptr)
            if (std::sscanf(line, "VmHWM: %ld kB", &peak_kib) == 1) break;
        std::fclose(status);
    }
    std::printf("%.6f %.6f %.6f %ld\n", elapsed, user, system, peak_kib);
    return 0;
}

// This program's own file, named by its path rather than as /proc/self/exe, so that
// a profiler following children (valgrind --trace-children=yes) sees the same program.
std::string self_path() {
    std::error_code error;
    const std::filesystem::path path = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::string("/proc/self/exe") : path.string();
}

Measured convert_in_child(const std::filesystem::path& raw, const std::filesystem::path& out,
                          unsigned threads) {
    int pipe_fds[2];
    if (::pipe(pipe_fds) != 0) return {};
    const std::string threads_text = std::to_string(threads);
    const std::string program = self_path();
    const pid_t child = ::fork();
    if (child == 0) {
        ::dup2(pipe_fds[1], STDOUT_FILENO);
        ::close(pipe_fds[0]);
        ::execl(program.c_str(), "bench_export", "--convert-once", raw.c_str(), out.c_str(),
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
        std::sscanf(buffer, "%lf %lf %lf %ld", &measured.seconds, &measured.user_seconds,
                    &measured.system_seconds, &measured.peak_kib) != 4)
        return {};
    std::filesystem::remove(out);
    return measured;
}

} // namespace

namespace {

std::size_t size_argument(int argc, char** argv, int at, std::size_t otherwise) {
    // make bench hands every program the Google Benchmark arguments: those are not a size.
    const bool given = argc > at && argv[at][0] >= '1' && argv[at][0] <= '9';
    return given ? std::strtoull(argv[at], nullptr, 10) : otherwise;
}

void print_conversion(const char* what, const Measured& m) {
    std::printf("%s %.3f s (processor %.3f s: user %.3f, system %.3f), peak RSS %ld MiB\n", what, m.seconds,
                m.cpu_seconds(), m.user_seconds, m.system_seconds, m.peak_kib / 1024);
}

// Keeps a synthetic run for profiling one conversion on its own:
//   bench_export --write-run DIR SCANS, then bench_export --convert-once DIR/SCANS.raw OUT THREADS
int write_run_once(const char* destination, const char* scans_text) {
    const testing::TempDir temp;
    const std::filesystem::path run = write_run(temp, std::strtoull(scans_text, nullptr, 10));
    const std::filesystem::path kept = std::filesystem::path(destination) / run.filename();
    std::error_code error;
    std::filesystem::create_directories(destination, error);
    std::filesystem::rename(run, kept, error);
    if (error) std::filesystem::copy(run, kept, std::filesystem::copy_options::recursive, error);
    if (error) {
        std::fprintf(stderr, "bench_export: keeping %s: %s\n", kept.c_str(), error.message().c_str());
        return 1;
    }
    std::printf("%s\n", kept.c_str());
    return 0;
}

// The name of the file system holding `directory`, for the common ones.
std::string file_system_of(const std::filesystem::path& directory) {
    struct statfs about{};
    if (::statfs(directory.c_str(), &about) != 0) return "unknown";
    switch (static_cast<unsigned long>(about.f_type)) {
    case 0xEF53:
        return "ext2/3/4";
    case 0x01021994:
        return "tmpfs";
    case 0x58465342:
        return "xfs";
    case 0x9123683E:
        return "btrfs";
    case 0x794C7630:
        return "overlayfs";
    case 0x2FC12FC1:
        return "zfs";
    case 0x6969:
        return "nfs";
    default: {
        char hex[32];
        std::snprintf(hex, sizeof hex, "type 0x%lx", static_cast<unsigned long>(about.f_type));
        return hex;
    }
    }
}

// Where the mzML files go: TARNVALE_BENCH_OUT, or beside the synthetic runs.
std::filesystem::path output_directory(const std::filesystem::path& temporary) {
    const char* chosen = std::getenv("TARNVALE_BENCH_OUT");
    return chosen != nullptr && *chosen != '\0' ? std::filesystem::path(chosen) : temporary;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 5 && std::string(argv[1]) == "--convert-once") return convert_once(argv[2], argv[3], argv[4]);
    if (argc == 4 && std::string(argv[1]) == "--write-run") return write_run_once(argv[2], argv[3]);
    const std::size_t scans = size_argument(argc, argv, 1, 200000);
    const std::size_t smaller = size_argument(argc, argv, 2, scans / 4);
    const testing::TempDir temp;
    const std::filesystem::path dir = output_directory(temp.path());
    const std::filesystem::path large = write_run(temp, scans);
    const std::filesystem::path small = write_run(temp, smaller);
    Measured floor, one, two, few, few_two;
    for (int round = 0; round < kRounds; ++round) {
        keep_best(floor, floor_time(large));
        keep_best(one, convert_in_child(large, dir / "one.mzML", 1));
        keep_best(two, convert_in_child(large, dir / "two.mzML", 2));
        keep_best(few, convert_in_child(small, dir / "few.mzML", 1));
        keep_best(few_two, convert_in_child(small, dir / "few-two.mzML", 2));
    }
    if (floor.seconds <= 0 || one.seconds <= 0 || two.seconds <= 0 || few.seconds <= 0 ||
        few_two.seconds <= 0) {
        std::fprintf(stderr, "bench_export: a conversion failed\n");
        return 1;
    }
    std::printf("run: %zu + %zu ion-mobility scans of %zu points; times are the best of %d rounds\n", scans,
                scans / 10, kPoints, kRounds);
    std::printf("output: %s (%s)\n", dir.c_str(), file_system_of(dir).c_str());
    std::printf("floor (libdeflate + base64, 1 thread): %.3f s (processor %.3f s)\n", floor.seconds,
                floor.cpu_seconds());
    print_conversion("convert, 1 thread: ", one);
    print_conversion("convert, 2 threads:", two);
    std::printf("smaller run: %zu + %zu ion-mobility scans\n", smaller, smaller / 10);
    print_conversion("convert, 1 thread: ", few);
    print_conversion("convert, 2 threads:", few_two);
    std::printf("ratios:\n  convert 1 thread / floor: %.2f (processor time %.2f)\n"
                "  1 thread / 2 threads: %.2f\n"
                "  peak RSS %zu scans / %zu scans: %.2f on 1 thread, %.2f on 2\n",
                one.seconds / floor.seconds, one.cpu_seconds() / floor.cpu_seconds(),
                one.seconds / two.seconds, scans, smaller,
                static_cast<double>(one.peak_kib) / static_cast<double>(few.peak_kib),
                static_cast<double>(two.peak_kib) / static_cast<double>(few_two.peak_kib));
    return 0;
}
