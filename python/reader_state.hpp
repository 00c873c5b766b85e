// What a RawReader owns, and the decisions it makes itself: locating side files,
// looking functions up, retention times and chromatogram files. Plain C++; a
// failure is the message of the RuntimeError that the Python layer raises.
#pragma once

#include <cstdint>
#include <expected>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "raw/chroms.hpp"
#include "raw/functions_inf.hpp"
#include "reader/reader.hpp"

namespace tarnvale::py {

template <class T> using Outcome = std::expected<T, std::string>;

// A file of the raw directory by the usual name rules, without log lines; not
// found is absence, and a listing failure is the bare I/O error.
Result<std::optional<std::filesystem::path>> find_side_file(const std::filesystem::path& dir,
                                                            std::string_view name);

struct ReaderState {
    Reader reader;
    std::filesystem::path dir;
    raw::FunctionTable table;             // every record, also functions the reader skipped
    std::optional<raw::ChromsInf> chroms; // absent without _CHROMS.INF

    // Opens `dir` (already known to be a directory) and reads all metadata.
    static Outcome<ReaderState> open(const std::filesystem::path& dir);

    // The readable function with this number.
    Outcome<const FunctionEntry*> function(std::uint32_t func_index) const;
    Outcome<float> retention_time(std::uint32_t func_index, std::uint64_t scan_index) const;
    // Reads the data file of a chromatogram channel anew.
    Outcome<std::vector<raw::ChromPoint>> read_chrom(std::uint64_t channel_index) const;
};

// The number of the data file of a channel, channel_index + 3, in decimal; exact
// also where the sum no longer fits in 64 bits.
std::string chro_file_number(std::uint64_t channel_index);

} // namespace tarnvale::py
