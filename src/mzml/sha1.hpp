// Streaming SHA-1 over libcrypto's digest interface: the file checksum of the
// indexed mzML and the checksum of the source's function table.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "error.hpp"

namespace tarnvale::mzml {

using Sha1Digest = std::array<std::uint8_t, 20>;

class Sha1 {
  public:
    static Result<Sha1> create();

    Sha1(Sha1&&) noexcept;
    Sha1& operator=(Sha1&&) noexcept;
    ~Sha1();

    void update(std::span<const std::uint8_t> bytes);
    void update(std::string_view bytes);
    // The digest of everything given so far; the state starts over afterwards.
    Result<Sha1Digest> finish();

  private:
    struct Context;
    explicit Sha1(std::unique_ptr<Context> context);
    std::unique_ptr<Context> context_;
};

// Forty lower-case hexadecimal digits.
std::string to_hex(const Sha1Digest& digest);

// The SHA-1 of a whole file, read in fixed-size chunks whatever its size.
Result<std::string> sha1_file_hex(const std::filesystem::path& path);

} // namespace tarnvale::mzml
