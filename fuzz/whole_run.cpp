// Whole functions of a fuzzed raw directory (see raw_dir_input.hpp), through the
// layers above the reader, each checked against the plain per-scan path:
//   - columns on 1 and 2 threads, with reads of a few bytes and of the default size,
//     hold every scan's points bit for bit as decode_scan gives them, or list the
//     scan as skipped; without skipping they fail with the first failing scan's error;
//   - chromatograms read straight from the file equal those of the columns;
//   - the mzML of 1 thread with batches of 3 scans and of 2 threads with the default
//     batches are the same bytes, or both conversions fail and leave no file behind.
// All of it twice: as decoded, and with profile peaks picked and the m/z corrected by
// a lock mass (the columns then against read_processed_scan).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <type_traits>
#include <variant>
#include <vector>

#include "columns/chromatograms.hpp"
#include "columns/function_columns.hpp"
#include "export/convert.hpp"
#include "io.hpp"
#include "processing/scan_processing.hpp"
#include "raw_dir_input.hpp"
#include "reader/acquisition.hpp"
#include "size_limits.hpp"

namespace {

using namespace tarnvale;
using fuzzing::require;

// Far above what the mzML of a 16 KiB input comes to.
constexpr SizeLimit kOutputLimit{64 * kMiB, "a converted run"};

template <class T> bool same_bits(std::span<const T> got, std::span<const T> expected) {
    return got.size() == expected.size() &&
           (got.empty() || std::memcmp(got.data(), expected.data(), got.size_bytes()) == 0);
}

template <class T>
bool same_bits(const std::optional<columns::Column<T>>& got,
               const std::optional<columns::Column<T>>& expected) {
    if (got.has_value() != expected.has_value()) return false;
    return !got || same_bits(got->view(), expected->view());
}

// One scan's points in the columns against decode_scan's spectrum.
void check_scan(const columns::FunctionColumns& columns, std::size_t from, std::size_t count,
                const DecodedSpectrum& spectrum) {
    std::visit(
        [&](const auto& decoded) {
            require(same_bits(columns.mz.view().subspan(from, count), std::span<const double>(decoded.mz)));
            require(same_bits(columns.intensity.view().subspan(from, count),
                              std::span<const float>(decoded.intensity)));
            if constexpr (std::is_same_v<std::decay_t<decltype(decoded)>, raw::ImsSpectrum>) {
                require(columns.drift_time_ms.has_value());
                require(same_bits(columns.drift_time_ms->view().subspan(from, count),
                                  std::span<const double>(decoded.drift_time_ms)));
            }
        },
        spectrum);
}

void check_columns(const columns::FunctionColumns& columns, const std::vector<Result<DecodedScan>>& scans) {
    require(columns.n_scans() == scans.size());
    const auto offsets = columns.scan_offsets.view();
    require(offsets.size() == scans.size() + 1 && offsets.front() == 0 &&
            offsets.back() == columns.n_points());
    require(columns.intensity.size() == columns.n_points());
    require(!columns.drift_time_ms || columns.drift_time_ms->size() == columns.n_points());
    std::size_t next_skipped = 0;
    for (std::size_t scan = 0; scan < scans.size(); ++scan) {
        require(offsets[scan] <= offsets[scan + 1]);
        const std::size_t count = offsets[scan + 1] - offsets[scan];
        if (!scans[scan]) {
            require(next_skipped < columns.skipped.size() && columns.skipped[next_skipped] == scan);
            require(count == 0);
            ++next_skipped;
            continue;
        }
        require(same_bits(columns.rt_min.view().subspan(scan, 1),
                          std::span<const float>(&scans[scan]->rt_min, 1)));
        check_scan(columns, offsets[scan], count, scans[scan]->spectrum);
    }
    require(next_skipped == columns.skipped.size());
}

std::optional<std::string> first_error(const std::vector<Result<DecodedScan>>& scans) {
    for (const auto& scan : scans)
        if (!scan) return scan.error().to_string();
    return std::nullopt;
}

void check_chromatograms(const Reader& reader, const FunctionEntry& entry,
                         const columns::FunctionColumns& skipping, const columns::Options& options) {
    const columns::ChromatogramRequest request{
        .tic = true,
        .base_peak = true,
        .targets = {{.mz = 500.0, .tolerance = 250.0}, {.mz = 100.0, .tolerance = 0.0}}};
    const auto from_columns = columns::chromatograms_of(skipping, request);
    const auto from_file = columns::read_chromatograms(reader, entry, request, options);
    require(from_columns.has_value() && from_file.has_value());
    require(same_bits(from_file->rt_min.view(), from_columns->rt_min.view()));
    require(same_bits(from_file->tic, from_columns->tic));
    require(same_bits(from_file->base_peak_mz, from_columns->base_peak_mz));
    require(same_bits(from_file->base_peak_intensity, from_columns->base_peak_intensity));
    require(same_bits(from_file->xic.view(), from_columns->xic.view()));
    require(from_file->skipped == from_columns->skipped);
}

using Processing = std::shared_ptr<const processing::ScanProcessing>;

void check_function(const Reader& reader, const FunctionEntry& entry, const Processing& processing) {
    std::vector<Result<DecodedScan>> scans;
    scans.reserve(entry.scans.size());
    for (std::uint64_t scan = 0; scan < entry.scans.size(); ++scan)
        scans.push_back(processing ? processing::read_processed_scan(reader, entry.number, scan, *processing)
                                   : reader.decode_scan(entry.number, scan));
    const std::optional<std::string> failure = first_error(scans);
    for (const unsigned threads : {1U, 2U}) {
        for (const std::size_t chunk_bytes : {std::size_t{0}, std::size_t{24}}) {
            const columns::Options skip{threads, columns::OnError::Skip, chunk_bytes, processing};
            const auto skipping = columns::read_columns(reader, entry, skip);
            require(skipping.has_value());
            check_columns(*skipping, scans);
            const auto failing = columns::read_columns(
                reader, entry, {threads, columns::OnError::Fail, chunk_bytes, processing});
            if (failing)
                require(!failure.has_value());
            else
                require(failure.has_value() && failing.error().to_string() == failure.value_or(""));
            check_chromatograms(reader, entry, *skipping, skip);
        }
    }
}

// Skipping mends exactly the failures it claims to: a run that converts whole converts
// to the same bytes with it, one that failed on a damaged scan or channel converts.
void check_skipping(const std::string& raw, exporter::ConversionOptions options,
                    const exporter::ConversionResult<exporter::ConversionSummary>& plain,
                    const std::filesystem::path& plain_out) {
    const fuzzing::ScratchDir out;
    const std::filesystem::path path = out.path() + "/skipping.mzML";
    options.batch = {.scans = 5, .bytes = 4096};
    options.threads = 2;
    options.on_error = columns::OnError::Skip;
    const auto skipping = exporter::convert_to_mzml(raw, path, options);
    require(skipping || !skipping.error().damaged);
    if (!plain) {
        require(!plain.error().damaged || skipping.has_value());
        return;
    }
    require(skipping.has_value() && skipping->left_out.scans.empty() && skipping->left_out.channels.empty());
    const auto plain_bytes = read_whole_file(plain_out, kOutputLimit);
    const auto skipping_bytes = read_whole_file(path, kOutputLimit);
    require(plain_bytes && skipping_bytes && std::ranges::equal(plain_bytes->span(), skipping_bytes->span()));
}

// With `compact`, the arrays go through numpress and 32-bit m/z, which fuzzed values
// reach with everything the codecs must refuse.
void check_conversion(const std::string& raw, bool compact, const processing::ProcessingRequest& request) {
    const fuzzing::ScratchDir out;
    const std::filesystem::path small_batches = out.path() + "/batches.mzML";
    const std::filesystem::path two_threads = out.path() + "/threads.mzML";
    exporter::ConversionOptions one{};
    one.numpress = compact;
    one.mz_precision = compact ? mzml::Precision::Float32 : mzml::Precision::Float64;
    one.processing = request;
    exporter::ConversionOptions two = one;
    one.batch = {.scans = 3, .bytes = 4096};
    two.threads = 2;
    const auto first = exporter::convert_to_mzml(raw, small_batches, one);
    const auto second = exporter::convert_to_mzml(raw, two_threads, two);
    require(first.has_value() == second.has_value());
    if (first) {
        const auto first_bytes = read_whole_file(small_batches, kOutputLimit);
        const auto second_bytes = read_whole_file(two_threads, kOutputLimit);
        require(first_bytes && second_bytes && std::ranges::equal(first_bytes->span(), second_bytes->span()));
    } else {
        require(!std::filesystem::exists(small_batches) && !std::filesystem::exists(two_threads));
        require(std::filesystem::is_empty(out.path())); // no temporary file left either
    }
    check_skipping(raw, two, first, small_batches);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const fuzzing::ScratchDir dir;
    fuzzing::write_parts(dir, data, size);
    const auto acquisition = Acquisition::open(dir.path());
    if (!acquisition) return 0;
    const Reader& reader = acquisition->reader();
    // A wide lock-mass window, so that fuzzed lock scans find something; without a
    // usable lock-mass function the peaks are still picked.
    processing::ProcessingRequest request{
        .centroid = processing::PickingOptions{.min_intensity = 2, .min_points = 1},
        .lock_mass = processing::LockMassOptions{.reference_mz = 556.2766, .tolerance_da = 200}};
    auto prepared = processing::prepare(reader, request);
    if (!prepared) {
        request.lock_mass.reset();
        prepared = processing::prepare(reader, request);
    }
    require(prepared.has_value());
    const Processing processing = std::make_shared<const processing::ScanProcessing>(std::move(*prepared));
    for (const FunctionEntry& entry : reader.functions) {
        check_function(reader, entry, nullptr);
        check_function(reader, entry, processing);
    }
    check_conversion(dir.path(), size % 2 == 1, {});
    check_conversion(dir.path(), size % 2 == 0, request);
    return 0;
}
