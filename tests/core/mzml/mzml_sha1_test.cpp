// SHA-1: the standard test vectors, any split of the input into updates, and
// whole files read in chunks.
#include <gtest/gtest.h>

#include <string>

#include "mzml/sha1.hpp"
#include "support/support.hpp"

namespace tarnvale::mzml {
namespace {

using tarnvale::testing::TempDir;

struct Vector {
    std::string input;
    std::string digest;
};

const Vector vectors[] = {
    {"", "da39a3ee5e6b4b0d3255bfef95601890afd80709"},
    {"abc", "a9993e364706816aba3e25717850c26c9cd0d89d"},
    {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq", "84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
    {std::string(1000000, 'a'), "34aa973cd4c4daa4f61eeb2bdbad27316534016f"},
};

std::string digest_in_pieces(std::string_view input, std::size_t piece) {
    auto sha1 = Sha1::create();
    EXPECT_TRUE(sha1);
    for (std::size_t at = 0; at < input.size(); at += piece) sha1->update(input.substr(at, piece));
    auto digest = sha1->finish();
    EXPECT_TRUE(digest);
    return digest ? to_hex(*digest) : "";
}

TEST(MzmlSha1, KnownVectorsInAnySplit) {
    for (const Vector& v : vectors) {
        for (const std::size_t piece :
             {std::size_t{1}, std::size_t{63}, std::size_t{64}, std::size_t{1} << 20}) {
            if (piece == 1 && v.input.size() > 1000) continue;
            EXPECT_EQ(digest_in_pieces(v.input, piece), v.digest) << v.input.size() << " bytes by " << piece;
        }
    }
}

TEST(MzmlSha1, FinishStartsOver) {
    auto sha1 = Sha1::create();
    ASSERT_TRUE(sha1);
    sha1->update(std::string_view("abc"));
    ASSERT_TRUE(sha1->finish());
    auto empty = sha1->finish();
    ASSERT_TRUE(empty);
    EXPECT_EQ(to_hex(*empty), vectors[0].digest);
}

TEST(MzmlSha1, FilesAreHashedWholeOrReportTheirError) {
    const TempDir dir;
    for (const Vector& v : vectors) {
        const auto hex = sha1_file_hex(dir.write("_FUNCTNS.INF", v.input));
        ASSERT_TRUE(hex) << hex.error().to_string();
        EXPECT_EQ(*hex, v.digest);
    }
    const auto missing = sha1_file_hex(dir.path() / "missing");
    EXPECT_EQ(tarnvale::testing::error_text(missing),
              "hashing " + (dir.path() / "missing").string() +
                  ": I/O error: No such file or directory (os error 2)");
    EXPECT_EQ(tarnvale::testing::error_text(sha1_file_hex(dir.path())),
              "hashing " + dir.path().string() + ": I/O error: Is a directory (os error 21)");
}

} // namespace
} // namespace tarnvale::mzml
