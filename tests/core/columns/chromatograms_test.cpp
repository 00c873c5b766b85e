// Chromatograms straight from the file against the same computed from the columns,
// and both against a plain computation; the target look-up against trying every target.
#include "columns/chromatograms.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <set>
#include <stdexcept>
#include <vector>

#include "support/random_raw.hpp"

namespace tarnvale::columns {
namespace {

using namespace tarnvale::testing;

Reader open_reader(const std::filesystem::path& dir) {
    auto reader = Reader::open(dir);
    if (!reader) throw std::runtime_error("open failed: " + reader.error().to_string());
    return std::move(*reader);
}

template <class T> bool same_bits(const std::optional<Column<T>>& a, const std::optional<Column<T>>& b) {
    if (a.has_value() != b.has_value()) return false;
    return !a || (a->size() == b->size() &&
                  (a->empty() || std::memcmp(a->data(), b->data(), a->size() * sizeof(T)) == 0));
}

// Targets at points of the function (some with no width at all), between them,
// wide and overlapping, and ones that can never match.
std::vector<XicTarget> random_targets(std::mt19937& random, const FunctionColumns& columns) {
    std::vector<XicTarget> targets;
    auto pick = [&] { return columns.mz.view()[random() % columns.n_points()]; };
    for (int i = 0; i < 20 && columns.n_points() > 0; ++i)
        targets.push_back({pick(), i % 3 == 0 ? 0.0 : pick() * 10e-6});
    for (int i = 0; i < 10; ++i)
        targets.push_back(
            {50.0 + static_cast<double>(random() % 4000), 0.5 * static_cast<double>(random() % 5)});
    targets.push_back({1000.0, 1e6}); // every point
    targets.push_back({std::nan(""), 1.0});
    targets.push_back({500.0, std::numeric_limits<double>::infinity()});
    targets.push_back({500.0, -1.0});
    return targets;
}

// TIC, base peak and XIC, one point after another, every target tried for every point.
Chromatograms plainly(const FunctionColumns& columns, const std::vector<XicTarget>& targets) {
    const std::size_t n = columns.n_scans();
    std::vector<double> tic(n), base_mz(n), xic(targets.size() * n);
    std::vector<float> base(n);
    for (std::size_t scan = 0; scan < n; ++scan) {
        for (std::uint64_t i = columns.scan_offsets.view()[scan]; i < columns.scan_offsets.view()[scan + 1];
             ++i) {
            const double mz = columns.mz.view()[i];
            const float intensity = columns.intensity.view()[i];
            tic[scan] += intensity;
            if (intensity > base[scan]) {
                base[scan] = intensity;
                base_mz[scan] = mz;
            }
            for (std::size_t t = 0; t < targets.size(); ++t)
                if (std::fabs(mz - targets[t].mz) <= targets[t].tolerance) xic[t * n + scan] += intensity;
        }
    }
    Chromatograms out;
    out.tic = Column<double>::from_vector(std::move(tic));
    out.base_peak_mz = Column<double>::from_vector(std::move(base_mz));
    out.base_peak_intensity = Column<float>::from_vector(std::move(base));
    out.xic = Column<double>::from_vector(std::move(xic));
    return out;
}

void expect_same(const Chromatograms& a, const Chromatograms& b) {
    EXPECT_TRUE(same_bits(a.tic, b.tic));
    EXPECT_TRUE(same_bits(a.base_peak_mz, b.base_peak_mz));
    EXPECT_TRUE(same_bits(a.base_peak_intensity, b.base_peak_intensity));
    EXPECT_TRUE(same_bits(std::optional(a.xic), std::optional(b.xic)));
}

class ChromatogramsOf : public ::testing::TestWithParam<char> {};

TEST_P(ChromatogramsOf, TheFileTheColumnsAndAPlainComputationAgree) {
    for (std::uint32_t seed = 1; seed <= 3; ++seed) {
        std::mt19937 random(seed * 31 + static_cast<std::uint32_t>(GetParam()));
        TempDir temp;
        const Reader reader =
            open_reader(write_raw_dir(temp, random_raw_dir(random, {GetParam(), 70, 15, seed != 1})));
        const FunctionEntry& entry = reader.functions.front();
        auto columns = read_columns(reader, entry, {1, OnError::Skip, 0});
        ASSERT_TRUE(columns);
        const ChromatogramRequest request{true, true, random_targets(random, *columns)};

        auto computed = chromatograms_of(*columns, request);
        ASSERT_TRUE(computed);
        const Chromatograms& from_columns = *computed;
        EXPECT_EQ(from_columns.n_targets, request.targets.size());
        EXPECT_EQ(from_columns.skipped, columns->skipped);
        expect_same(from_columns, plainly(*columns, request.targets));
        for (unsigned threads : {1u, 2u, 8u}) {
            for (std::size_t chunk : {std::size_t{0}, std::size_t{40}}) {
                auto from_file = read_chromatograms(reader, entry, request, {threads, OnError::Skip, chunk});
                ASSERT_TRUE(from_file);
                EXPECT_EQ(from_file->skipped, columns->skipped);
                EXPECT_EQ(from_file->rt_min.size(), entry.scans.size());
                expect_same(*from_file, from_columns);
                auto failing = read_chromatograms(reader, entry, request, {threads, OnError::Fail, chunk});
                EXPECT_EQ(error_text(failing),
                          error_text(read_columns(reader, entry, {1, OnError::Fail, 0})));
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Encodings, ChromatogramsOf, ::testing::Values('A', 'B', 'C', 'D'));

TEST(Chromatograms, OnlyWhatIsAskedForIsComputed) {
    std::mt19937 random(5);
    TempDir temp;
    const Reader reader = open_reader(write_raw_dir(temp, random_raw_dir(random, {'A', 10, 5, false})));
    auto tic_only = read_chromatograms(reader, reader.functions.front(), {true, false, {}}, {});
    ASSERT_TRUE(tic_only);
    EXPECT_TRUE(tic_only->tic);
    EXPECT_FALSE(tic_only->base_peak_mz);
    EXPECT_FALSE(tic_only->base_peak_intensity);
    EXPECT_EQ(tic_only->n_targets, 0u);
    EXPECT_TRUE(tic_only->xic.empty());
}

// Random windows, many overlapping; points on window edges, inside and outside.
TEST(TargetMatcher, FindsExactlyTheTargetsEveryTargetTestWouldFind) {
    for (std::uint32_t seed = 1; seed <= 20; ++seed) {
        std::mt19937 random(seed);
        std::uniform_real_distribution<double> mz(100.0, 2000.0);
        std::vector<XicTarget> targets;
        const std::size_t count = 1 + random() % (seed < 10 ? 5 : 300);
        for (std::size_t i = 0; i < count; ++i) {
            const double centre = mz(random);
            const double tolerance =
                seed % 4 == 0 ? centre * 5e-6
                              : (random() % 8 == 0 ? 0.0 : std::ldexp(1.0, -static_cast<int>(random() % 30)));
            targets.push_back({centre, tolerance});
        }
        const TargetMatcher matcher(targets);
        std::vector<double> points;
        for (const XicTarget& t : targets) {
            points.insert(points.end(),
                          {t.mz, t.mz - t.tolerance, t.mz + t.tolerance,
                           std::nextafter(t.mz + t.tolerance, 1e9), std::nextafter(t.mz - t.tolerance, 0.0)});
        }
        for (int i = 0; i < 2000; ++i) points.push_back(mz(random));
        points.insert(points.end(),
                      {0.0, -1.0, std::nan(""), std::numeric_limits<double>::infinity(), 1e300});
        for (double point : points) {
            std::multiset<std::uint32_t> found, expected;
            matcher.for_each_match(point, [&](std::uint32_t t) { found.insert(t); });
            for (std::uint32_t t = 0; t < targets.size(); ++t)
                if (std::fabs(point - targets[t].mz) <= targets[t].tolerance) expected.insert(t);
            ASSERT_EQ(found, expected) << "seed " << seed << " m/z " << point;
        }
    }
}

TEST(TargetMatcher, TargetsThatCannotMatchLeaveNoBins) {
    const std::vector<XicTarget> none = {{std::nan(""), 1.0}, {100.0, -1.0}};
    const TargetMatcher matcher(none);
    EXPECT_EQ(matcher.bins(), 0u);
    int hits = 0;
    matcher.for_each_match(100.0, [&](std::uint32_t) { ++hits; });
    EXPECT_EQ(hits, 0);
}

} // namespace
} // namespace tarnvale::columns
