// An opened raw directory, and decoding of single scans.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "error.hpp"
#include "io.hpp"
#include "raw/extern_inf.hpp"
#include "raw/func_sts.hpp"
#include "raw/functions_inf.hpp"
#include "raw/header.hpp"
#include "raw/index.hpp"
#include "raw/scan_decoders.hpp"
#include "reader/locate.hpp"

namespace tarnvale {

enum class Encoding : std::uint8_t { A = 0, B = 1, C = 2, D = 3 };

constexpr char encoding_letter(Encoding encoding) {
    return static_cast<char>('A' + static_cast<int>(encoding));
}

struct FunctionEntry {
    std::uint32_t number = 0;
    raw::FunctionInfo info;
    raw::ScanIndex scans;
    Encoding encoding = Encoding::A;
    std::filesystem::path dat_path;
    std::uint64_t dat_len = 0;
    std::vector<double> coefficients;
    raw::CalType cal_type = raw::CalType::T0;
    std::optional<raw::FuncSts> sts;

    // A scan's values from the statistics file, read without decoding the scan; none
    // without a statistics file, a channel of that name or a record for the scan.
    std::optional<double> collision_energy(std::uint64_t scan) const;
    std::optional<double> etd_fragmentation_mode(std::uint64_t scan) const;
};

using DecodedSpectrum = std::variant<raw::Spectrum, raw::ImsSpectrum>;

struct DecodedScan {
    DecodedSpectrum spectrum;
    std::optional<double> collision_energy;
    std::optional<double> etd_fragmentation_mode;
    std::uint64_t scan_index = 0;
    std::uint32_t func_index = 0;
    float rt_min = 0;
};

struct OpenedReader;

struct Reader {
    std::filesystem::path dir;
    std::string name;
    raw::Header header;
    raw::ExternInf extern_inf;
    std::vector<FunctionEntry> functions;

    static Result<Reader> open(const std::filesystem::path& path);
    // As open, also handing out the one listing of the directory that every file of the
    // open was found in, for callers that look up more files of the same open, and the
    // whole function table, records of functions that could not be opened included.
    static Result<OpenedReader> open_listed(const std::filesystem::path& path);

    // The first entry with this function number, or null.
    const FunctionEntry* function(std::uint32_t number) const;

    Result<DecodedScan> decode_scan(std::uint32_t func_index, std::uint64_t scan_index) const;
};

struct OpenedReader {
    Reader reader;
    DirectoryListing listing;
    raw::FunctionTable function_table;
};

// Bytes per data record: 6 for encoding A, 8 for the others.
std::uint32_t record_width(Encoding encoding);

// Where a scan's bytes lie in the function's .DAT file.
struct ByteRange {
    std::uint64_t offset = 0;
    std::uint64_t length = 0;
};

// The scans' bytes in the .DAT file: Variant A n_points records, Variant B up to the
// next scan's offset (the last scan up to dat_len), clamped to the size measured at
// open so that a corrupt index can never make us allocate or read more than the file
// holds. Resolves the index variant once, for readers of many scans.
class ScanRanges {
  public:
    explicit ScanRanges(const FunctionEntry& entry);

    // scan < the number of scans.
    ByteRange operator()(std::uint64_t scan) const {
        std::uint64_t offset = 0;
        std::uint64_t size = 0;
        if (variant_a_) {
            offset = scans_.offset(scan);
            size = std::uint64_t{scans_.n_points(scan)} * width_;
        } else {
            offset = scans_.offset(scan);
            const std::uint64_t next = scan + 1 < count_ ? scans_.offset(scan + 1) : dat_len_;
            size = next >= offset ? next - offset : 0;
        }
        const std::uint64_t available = offset > dat_len_ ? 0 : dat_len_ - offset;
        return {offset, size < available ? size : available};
    }

    // Where the index puts the end of the scan's bytes, before the clamping above: past
    // dat_len for a scan that the end of the data file cuts short (an aborted
    // acquisition, a truncated copy).
    std::uint64_t indexed_end(std::uint64_t scan) const {
        const std::uint64_t offset = scans_.offset(scan);
        if (variant_a_) return offset + std::uint64_t{scans_.n_points(scan)} * width_;
        const std::uint64_t next = scan + 1 < count_ ? scans_.offset(scan + 1) : dat_len_;
        return next > offset ? next : offset;
    }
    std::uint64_t dat_len() const { return dat_len_; }

  private:
    raw::ScanIndex scans_; // shares the index's bytes
    std::uint64_t count_ = 0;
    std::uint64_t width_ = 0;
    std::uint64_t dat_len_ = 0;
    bool variant_a_ = true;
};

// The byte range of one scan (scan < entry.scans.size()), as ScanRanges gives it.
ByteRange scan_byte_range(const FunctionEntry& entry, std::uint64_t scan);

// Exactly the bytes of one scan (scan < entry.scans.size()), read with a handle of
// its own, as decode_scan reads them: a failure is the bare I/O error.
Result<ByteBuffer> read_scan_bytes(const FunctionEntry& entry, std::uint64_t scan);

// One scan's bytes decoded by the decoder of the function's encoding.
Result<DecodedSpectrum> decode_bytes(Encoding encoding, std::span<const std::uint8_t> bytes,
                                     const raw::DecodeContext& context);

// Calibration and time-of-flight constants for decoding the function's scans.
raw::DecodeContext decode_context(const FunctionEntry& entry, const raw::ExternInf& extern_inf);

// A failure to decode one scan, as decode_scan reports it: "<dir> function <n> scan <s>: <inner>".
Error scan_error(const std::filesystem::path& dir, std::uint32_t func_index, std::uint64_t scan_index,
                 Error inner);

// 6 or 8 from the spacing of scan offsets, or none when no pair decides.
std::optional<std::uint32_t> variant_a_record_width(const raw::ScanIndex& scans);

// How many .DAT bytes a Variant A index addresses (none for Variant B or no records).
std::optional<std::uint64_t> index_end(const raw::ScanIndex& scans, Encoding encoding);

// Flight time in µs of an ion of m/z 1, from Lteff (mm) and Veff (V).
double tof_k_us(double lteff_mm, double veff_v);

// The last normal component of `dir` as lossy UTF-8, or "bundle.raw".
std::string raw_dir_name(const std::filesystem::path& dir);

} // namespace tarnvale
