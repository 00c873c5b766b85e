// An opened raw directory with everything its clients ask about: the Reader, the
// complete function table (also the records of functions the Reader could not
// open) and the chromatogram channel table, and on demand retention times,
// chromatogram traces and the directory's other files.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "error.hpp"
#include "raw/chroms.hpp"
#include "raw/functions_inf.hpp"
#include "reader/query_error.hpp"
#include "reader/reader.hpp"

namespace tarnvale {

class Acquisition {
  public:
    // Opens `dir` (already known to be a directory) and reads all of its metadata:
    // Reader::open (which keeps the whole function table), then _CHROMS.INF when
    // present, located without log lines in the listing the Reader's open made.
    static QueryResult<Acquisition> open(const std::filesystem::path& dir);

    const Reader& reader() const { return reader_; }
    const std::filesystem::path& dir() const { return reader_.dir; }
    // Every record of _FUNCTNS.INF.
    const raw::FunctionTable& function_table() const { return function_table_; }
    // Absent when the directory has no _CHROMS.INF.
    const std::optional<raw::ChromsInf>& channel_table() const { return channel_table_; }

    // The readable function with this number.
    QueryResult<const FunctionEntry*> function(std::uint32_t func_index) const;
    QueryResult<float> retention_time(std::uint32_t func_index, std::uint64_t scan_index) const;
    Result<DecodedScan> decode_scan(std::uint32_t func_index, std::uint64_t scan_index) const {
        return reader_.decode_scan(func_index, scan_index);
    }
    // Reads the data file of a chromatogram channel anew.
    QueryResult<std::vector<raw::ChromPoint>> read_chrom(std::uint64_t channel_index) const;

    // A file of the directory by the name rules of find_file, without log lines: not
    // found is absence, and a listing failure is the bare I/O error.
    Result<std::optional<std::filesystem::path>> find_side_file(std::string_view name) const;

  private:
    Acquisition(Reader reader, raw::FunctionTable function_table, std::optional<raw::ChromsInf> channel_table)
        : reader_(std::move(reader)), function_table_(std::move(function_table)),
          channel_table_(std::move(channel_table)) {}

    Reader reader_;
    raw::FunctionTable function_table_;
    std::optional<raw::ChromsInf> channel_table_;
};

// The number of a channel's data file, channel_index + 3, in decimal; exact also
// where the sum no longer fits in 64 bits.
std::string chro_file_number(std::uint64_t channel_index);

// "_CHRO003.DAT" for channel 0: the number zero-padded to three digits.
std::string chro_file_name(std::uint64_t channel_index);

} // namespace tarnvale
