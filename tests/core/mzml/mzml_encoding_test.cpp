// Array encoding: every array reads back bit for bit through libdeflate's
// decompressor and simdutf's base64 decoder, with and without compression, and
// encodedLength is the length of the text.
#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <libdeflate.h>
#include <limits>
#include <memory>
#include <random>
#include <simdutf.h>
#include <string>
#include <vector>

#include "mzml/array_encoder.hpp"
#include "mzml/binary_array_xml.hpp"

namespace tarnvale::mzml {
namespace {

using f64 = std::numeric_limits<double>;
using f32 = std::numeric_limits<float>;

std::vector<std::uint8_t> from_base64(std::string_view text) {
    std::vector<std::uint8_t> bytes(simdutf::maximal_binary_length_from_base64(text.data(), text.size()));
    const auto result =
        simdutf::base64_to_binary(text.data(), text.size(), reinterpret_cast<char*>(bytes.data()));
    EXPECT_EQ(result.error, simdutf::error_code::SUCCESS);
    bytes.resize(result.count);
    return bytes;
}

std::vector<std::uint8_t> inflate(std::span<const std::uint8_t> stream, std::size_t size) {
    const std::unique_ptr<libdeflate_decompressor, decltype(&libdeflate_free_decompressor)> decompressor(
        libdeflate_alloc_decompressor(), &libdeflate_free_decompressor);
    std::vector<std::uint8_t> bytes(size);
    std::size_t actual = 0;
    EXPECT_EQ(libdeflate_zlib_decompress(decompressor.get(), stream.data(), stream.size(), bytes.data(),
                                         bytes.size(), &actual),
              LIBDEFLATE_SUCCESS);
    EXPECT_EQ(actual, size);
    return bytes;
}

// The little-endian bytes, spelled out independently of the host's byte order.
template <class Float> std::vector<std::uint8_t> little_endian(const std::vector<Float>& values) {
    using Bits = std::conditional_t<sizeof(Float) == 8, std::uint64_t, std::uint32_t>;
    std::vector<std::uint8_t> bytes;
    for (const Float value : values)
        for (std::size_t byte = 0; byte < sizeof(Float); ++byte)
            bytes.push_back(static_cast<std::uint8_t>(std::bit_cast<Bits>(value) >> (8 * byte)));
    return bytes;
}

struct Arrays {
    std::string name;
    std::vector<double> f64s;
    std::vector<float> f32s;
};

std::vector<Arrays> array_cases() {
    std::mt19937_64 random(11);
    Arrays noise{"random bits", {}, {}};
    for (int i = 0; i < 1000; ++i) {
        noise.f64s.push_back(std::bit_cast<double>(random()));
        noise.f32s.push_back(std::bit_cast<float>(static_cast<std::uint32_t>(random())));
    }
    return {
        {"empty", {}, {}},
        {"one value", {123.456}, {7.5f}},
        {"two values (base64 padding)", {1.0, 2.0}, {1.0f, 2.0f}},
        {"signed zeros, subnormals, extremes",
         {0.0, -0.0, f64::denorm_min(), -f64::denorm_min(), f64::min() / 3, f64::max(), f64::lowest()},
         {0.0f, -0.0f, f32::denorm_min(), -f32::denorm_min(), f32::min() / 3, f32::max(), f32::lowest()}},
        {"infinities and NaN payloads",
         {f64::infinity(), -f64::infinity(), std::bit_cast<double>(std::uint64_t{0x7ff8000000000123}),
          std::bit_cast<double>(std::uint64_t{0xfff0000000000001})},
         {f32::infinity(), -f32::infinity(), std::bit_cast<float>(std::uint32_t{0x7fc00001}),
          std::bit_cast<float>(std::uint32_t{0xff800001})}},
        {"constant (compresses well)", std::vector<double>(10000, 500.25), std::vector<float>(10000, 3.0f)},
        noise,
    };
}

// Encodes after a prefix that must survive, checks the text's length against
// base64_length and returns what the text decodes to (inflated when compressed).
template <class Float>
std::vector<std::uint8_t> round_trip(ArrayEncoder& encoder, const std::vector<Float>& values) {
    const auto payload = encoder.payload(std::span<const Float>(values));
    std::string text = "prefix";
    append_base64(payload, text);
    EXPECT_EQ(text.substr(0, 6), "prefix");
    EXPECT_EQ(text.size() - 6, base64_length(payload.size()));
    auto decoded = from_base64(std::string_view(text).substr(6));
    if (encoder.encoding().compression == Compression::None) return decoded;
    return inflate(decoded, values.size() * sizeof(Float));
}

TEST(MzmlEncoding, ArraysReadBackBitForBit) {
    for (const Compression compression : {Compression::None, Compression::Zlib}) {
        auto encoder = ArrayEncoder::create({.compression = compression});
        ASSERT_TRUE(encoder);
        for (const Arrays& arrays : array_cases()) {
            SCOPED_TRACE(arrays.name + (compression == Compression::Zlib ? ", zlib" : ", none"));
            EXPECT_EQ(round_trip(*encoder, arrays.f64s), little_endian(arrays.f64s));
            EXPECT_EQ(round_trip(*encoder, arrays.f32s), little_endian(arrays.f32s));
        }
    }
}

TEST(MzmlEncoding, ReusedScratchGivesTheSameBytesAsAFreshEncoder) {
    const std::vector<double> large(5000, 1.0);
    const std::vector<double> small = {2.0, 3.0, 4.0};
    for (const Compression compression : {Compression::None, Compression::Zlib}) {
        auto used = ArrayEncoder::create({.compression = compression});
        auto fresh = ArrayEncoder::create({.compression = compression});
        ASSERT_TRUE(used && fresh);
        (void)used->payload(std::span<const double>(large));
        const auto again = used->payload(std::span<const double>(small));
        const std::vector<std::uint8_t> reused(again.begin(), again.end());
        const auto first = fresh->payload(std::span<const double>(small));
        EXPECT_EQ(reused, std::vector<std::uint8_t>(first.begin(), first.end()));
    }
}

TEST(MzmlEncoding, Base64LengthIsFourCharactersPerStartedTriple) {
    const std::pair<std::size_t, std::size_t> cases[] = {{0, 0}, {1, 4},  {2, 4}, {3, 4},
                                                         {4, 8}, {8, 12}, {9, 12}};
    for (const auto& [bytes, length] : cases) EXPECT_EQ(base64_length(bytes), length) << bytes;
}

TEST(MzmlEncoding, BinaryDataArrayDeclaresTheLengthOfItsText) {
    const std::vector<double> values = {1.5, 2.5, 3.5, 4.5};
    for (const Compression compression : {Compression::None, Compression::Zlib}) {
        auto encoder = ArrayEncoder::create({.compression = compression});
        ASSERT_TRUE(encoder);
        std::string xml;
        append_binary_array(xml, "  ", *encoder, values, {Term::MzArray, Term::MzUnit});
        const std::size_t length_at = xml.find("encodedLength=\"") + 15;
        const std::size_t text_at = xml.find("<binary>") + 8;
        ASSERT_TRUE(length_at > 15 && text_at > 8);
        EXPECT_EQ(std::stoul(xml.substr(length_at)), xml.find("</binary>") - text_at);
        const char* compression_term = compression == Compression::Zlib ? "MS:1000574" : "MS:1000576";
        EXPECT_NE(xml.find(compression_term), std::string::npos);
        EXPECT_NE(xml.find("MS:1000523"), std::string::npos); // 64-bit float
    }
}

} // namespace
} // namespace tarnvale::mzml
