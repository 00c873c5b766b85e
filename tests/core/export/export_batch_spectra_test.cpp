// The spectra a batch of ion-mobility scans becomes: every scan's points once, in
// the order its layout asks for (a stable sort on a total order of doubles), whether
// the batch's scans arrive in that order, out of it, or mixed; a batch already in
// order is viewed in place rather than copied.
#include <gtest/gtest.h>

#include <algorithm>
#include <compare>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "export/batch_spectra.hpp"

namespace tarnvale::testing {
namespace {

using exporter::ImsLayout;

constexpr double nan = std::numeric_limits<double>::quiet_NaN();

struct Point {
    double mz;
    double drift_ms;
    float intensity;
};

using Scan = std::vector<Point>;

columns::FunctionColumns batch_of(const std::vector<Scan>& scans) {
    std::vector<std::uint64_t> offsets{0};
    std::vector<double> mz, drift;
    std::vector<float> intensity, rt;
    for (const Scan& scan : scans) {
        for (const Point& p : scan) {
            mz.push_back(p.mz);
            drift.push_back(p.drift_ms);
            intensity.push_back(p.intensity);
        }
        offsets.push_back(mz.size());
        rt.push_back(static_cast<float>(rt.size()));
    }
    columns::FunctionColumns batch;
    batch.function = 1;
    batch.encoding = Encoding::B;
    batch.scan_offsets = columns::Column<std::uint64_t>::from_vector(offsets);
    batch.mz = columns::Column<double>::from_vector(mz);
    batch.intensity = columns::Column<float>::from_vector(intensity);
    batch.drift_time_ms = columns::Column<double>::from_vector(drift);
    batch.rt_min = columns::Column<float>::from_vector(rt);
    return batch;
}

// What the layout asks for: each scan stably sorted on (key, then the other value)
// under the total order of doubles, which puts -0 before 0 and a positive NaN last.
Scan expected_order(Scan scan, ImsLayout layout) {
    const auto key = [layout](const Point& p) { return layout == ImsLayout::PerBin ? p.drift_ms : p.mz; };
    const auto tie = [layout](const Point& p) { return layout == ImsLayout::PerBin ? p.mz : p.drift_ms; };
    std::ranges::stable_sort(scan, [&](const Point& a, const Point& b) {
        if (const auto order = std::strong_order(key(a), key(b)); std::is_neq(order))
            return std::is_lt(order);
        return std::is_lt(std::strong_order(tie(a), tie(b)));
    });
    return scan;
}

bool same_bits(double a, double b) { return std::is_eq(std::strong_order(a, b)); }

// The points the spectra of scan `i` hold, in file order: one spectrum combined, or
// its drift bins' spectra one after the other (each point with its bin's time).
Scan written_points(std::span<const mzml::SpectrumInput> inputs, std::uint64_t scan) {
    Scan points;
    for (const mzml::SpectrumInput& s : inputs) {
        if (s.scan != scan) continue;
        for (std::size_t p = 0; p < s.mz.size(); ++p) {
            const double drift = s.drift_times_ms ? (*s.drift_times_ms)[p] : s.drift_time_ms.value_or(nan);
            points.push_back({s.mz[p], drift, s.intensity[p]});
        }
    }
    return points;
}

struct OrderCase {
    std::string name;
    std::vector<Scan> scans;
};

class BatchOrder : public ::testing::TestWithParam<ImsLayout> {};

TEST_P(BatchOrder, EveryScanInTheLayoutsOrder) {
    const ImsLayout layout = GetParam();
    // Intensities tell points with equal m/z and drift time apart, so that a sort
    // that is not stable, or a point taken from another scan, shows.
    const std::vector<OrderCase> cases = {
        {"in order", {{{100, 1, 1}, {200, 2, 2}}, {{50, 3, 3}, {60, 3, 4}}}},
        {"one scan out of order among ordered ones",
         {{{100, 1, 1}, {200, 1, 2}}, {{300, 2, 3}, {200, 1, 4}}, {{10, 1, 5}, {20, 2, 6}}}},
        {"equal m/z by drift time", {{{100, 5, 1}, {100, 2, 2}, {100, 2, 3}, {90, 2, 4}}}},
        {"equal in both keep their order", {{{100, 2, 1}, {100, 2, 2}, {100, 2, 3}}}},
        {"negative zero before zero", {{{0.0, 1, 1}, {-0.0, 1, 2}}, {{5, 0.0, 3}, {5, -0.0, 4}}}},
        {"NaN last", {{{nan, 1, 1}, {5, 1, 2}, {3, nan, 3}}}},
        {"empty scans between", {{}, {{2, 2, 1}, {1, 1, 2}}, {}, {{1, 1, 3}}, {}}},
        {"descending", {{{5, 5, 1}, {4, 4, 2}, {3, 3, 3}, {2, 2, 4}, {1, 1, 5}}}},
    };
    FunctionEntry entry;
    entry.number = 1;
    entry.encoding = Encoding::B;
    entry.info.scan_time_s = 0.02f;
    exporter::FunctionPlan plan;
    plan.entry = &entry;
    plan.ion_mobility = true;
    for (const OrderCase& c : cases) {
        const columns::FunctionColumns batch = batch_of(c.scans);
        exporter::BatchSpectra spectra;
        spectra.build(plan, batch, 0, layout);
        for (std::uint64_t i = 0; i < c.scans.size(); ++i) {
            const Scan want = expected_order(c.scans[i], layout);
            const Scan got = written_points(spectra.inputs(), i);
            ASSERT_EQ(got.size(), want.size()) << c.name << ", scan " << i;
            for (std::size_t p = 0; p < want.size(); ++p) {
                EXPECT_TRUE(same_bits(got[p].mz, want[p].mz)) << c.name << ", scan " << i << ", point " << p;
                EXPECT_TRUE(same_bits(got[p].drift_ms, want[p].drift_ms)) << c.name << ", scan " << i;
                EXPECT_EQ(got[p].intensity, want[p].intensity) << c.name << ", scan " << i << ", point " << p;
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Layouts, BatchOrder, ::testing::Values(ImsLayout::Combined, ImsLayout::PerBin));

// A batch whose scans all are in order is handed on as the batch's own arrays; one
// scan out of order, and the batch is copied (never reordered in place).
TEST(BatchSpectraTest, ViewsABatchInOrderWithoutCopying) {
    FunctionEntry entry;
    entry.number = 1;
    entry.encoding = Encoding::B;
    exporter::FunctionPlan plan;
    plan.entry = &entry;
    plan.ion_mobility = true;
    const columns::FunctionColumns in_order = batch_of({{{1, 1, 1}, {2, 1, 2}}, {{1, 2, 3}}});
    const columns::FunctionColumns out_of_order = batch_of({{{1, 1, 1}, {2, 1, 2}}, {{3, 2, 3}, {1, 2, 4}}});
    exporter::BatchSpectra spectra;
    spectra.build(plan, in_order, 0, ImsLayout::Combined);
    EXPECT_EQ(spectra.inputs()[0].mz.data(), in_order.mz.view().data());
    EXPECT_EQ(spectra.inputs()[1].intensity.data(), in_order.intensity.view().data() + 2);
    spectra.build(plan, out_of_order, 0, ImsLayout::Combined);
    EXPECT_NE(spectra.inputs()[0].mz.data(), out_of_order.mz.view().data());
    EXPECT_EQ(out_of_order.mz.view()[2], 3.0) << "the batch itself is left as decoded";
    // The same object reused for a batch in order views that batch again.
    spectra.build(plan, in_order, 0, ImsLayout::Combined);
    EXPECT_EQ(spectra.inputs()[0].mz.data(), in_order.mz.view().data());
}

} // namespace
} // namespace tarnvale::testing
