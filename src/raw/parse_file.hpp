// Reading a whole file and parsing it, shared by every file kind's from_path:
// a binary parser gets the bytes, a text parser their lossy UTF-8 decoding.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string_view>
#include <type_traits>
#include <vector>

#include "bytes.hpp"
#include "error.hpp"
#include "io.hpp"
#include "utf8.hpp"

namespace tarnvale::raw {

template <class T, class Input>
Result<T> parse_file(const std::filesystem::path& path, Result<T> (*parse)(Input)) {
    TV_ASSIGN_OR_RETURN(const std::vector<std::uint8_t> bytes, read_whole_file(path));
    if constexpr (std::is_same_v<Input, std::string_view>)
        return parse(lossy_utf8(bytes));
    else
        return parse(Bytes(bytes));
}

} // namespace tarnvale::raw
