// Writes a whole synthetic .raw directory from a short description. The byte
// layouts of the binary files come from scan_records.hpp and meta_records.hpp;
// this file only decides which files exist, under which names, with what text.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "support/meta_records.hpp"
#include "support/scan_records.hpp"
#include "support/support.hpp"

namespace tarnvale::testing {

// _HEADER.TXT: an optional instrument line, calibration lines and anything else.
struct HeaderSpec {
    std::optional<std::string> instrument = "QTOF";
    std::map<std::uint32_t, std::string> cal = {}; // function -> value text, e.g. "0,1,T1"
    std::vector<std::string> extra_lines = {};     // written verbatim after the others
};

// _extern.inf: the run-wide keys (an empty value leaves its line out) and one
// section title per listed function.
struct ExternSpec {
    std::string lteff = "1000";
    std::string veff = "10000";
    std::optional<std::string> pusher_interval = {};
    std::optional<std::string> polarity = {};
    std::map<std::uint32_t, std::string> function_titles = {}; // function -> title text, e.g. "TOF MS"
    std::vector<std::string> extra_lines = {};
};

enum class IndexVariant { A, B };

// One scan's data bytes (whole records of the function's encoding) and its time.
struct ScanSpec {
    std::vector<std::uint8_t> data = {};
    float rt_min = 0;
};

// One function: its _FUNCTNS.INF record, its scans laid end to end in the .DAT
// and an index pointing at them, plus an optional statistics file. The explicit
// overrides replace what would be derived from `scans`.
struct FunctionSpec {
    FunctionRecordFields info = {.scan_time_s = 1.0f, .mz_low = 50.0f, .mz_high = 1200.0f};
    IndexVariant variant = IndexVariant::A;
    std::size_t record_width = 6; // Variant A: n_points = data size / record_width
    std::vector<ScanSpec> scans = {};
    std::optional<std::vector<IndexARecord>> index_a = {};
    std::optional<std::vector<IndexBRecord>> index_b = {};
    std::optional<std::vector<std::uint8_t>> index_bytes = {};
    std::optional<std::vector<std::uint8_t>> dat_bytes = {};
    std::optional<StsFileFields> sts = {};
    std::optional<std::vector<std::uint8_t>> sts_bytes = {};
};

struct RawDirSpec {
    std::string dir_name = "sample.raw";
    HeaderSpec header;
    ExternSpec extern_inf;
    std::vector<FunctionSpec> functions = {}; // function k + 1 is element k
    std::optional<ChromsInfFields> chroms = {};
    std::map<std::uint32_t, std::vector<std::pair<float, float>>> chro = {}; // _CHROnnn.DAT by number
    std::set<std::string> omit = {};                                         // standard names not to write
    std::map<std::string, std::string> on_disk_name = {}; // standard name -> name written instead
    // Written last, verbatim, so they can also replace a standard file; a name may hold
    // a subdirectory ("sub/x").
    std::map<std::string, std::string> extra_files = {};
};

// Convenience builders for the common function shapes.
FunctionSpec function_a(const std::vector<std::vector<RecordA>>& scans); // 6-byte records, Variant A index
FunctionSpec function_d(const std::vector<std::vector<Record8>>& scans); // 8-byte records, Variant A index
FunctionSpec
function_b_index(const std::vector<std::vector<Record8>>& scans); // Variant B index (B or C data)

std::string header_text(const HeaderSpec& spec);
std::string extern_text(const ExternSpec& spec);
std::vector<std::uint8_t> index_file(const FunctionSpec& spec);
std::vector<std::uint8_t> dat_file(const FunctionSpec& spec);

// Writes the directory below `temp` in a fixed order (_HEADER.TXT, _extern.inf,
// _FUNCTNS.INF, then per function .IDX, .DAT, .STS, then _CHROMS.INF and the
// channel files, then the extra files) and returns its path.
std::filesystem::path write_raw_dir(const TempDir& temp, const RawDirSpec& spec);

} // namespace tarnvale::testing
