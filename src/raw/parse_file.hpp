// Reading a whole file and parsing it, shared by every file kind's from_path:
// a binary parser gets the bytes (or the buffer itself, to keep them), a text
// parser their lossy UTF-8 decoding. The
// limit bounds what the file's size may make us allocate (size_limits.hpp).
#pragma once

#include <filesystem>
#include <string_view>
#include <type_traits>
#include <utility>

#include "bytes.hpp"
#include "error.hpp"
#include "io.hpp"
#include "size_limits.hpp"
#include "utf8.hpp"

namespace tarnvale::raw {

template <class T, class Input>
Result<T> parse_file(const std::filesystem::path& path, const SizeLimit& limit, Result<T> (*parse)(Input)) {
    TV_ASSIGN_OR_RETURN(ByteBuffer bytes, read_whole_file(path, limit));
    if constexpr (std::is_same_v<Input, std::string_view>)
        return parse(lossy_utf8(bytes.span()));
    else if constexpr (std::is_same_v<Input, ByteBuffer>)
        return parse(std::move(bytes));
    else
        return parse(bytes.span());
}

} // namespace tarnvale::raw
