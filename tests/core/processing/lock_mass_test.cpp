// Lock-mass correction: the calibrant presets against a hand computation, the gain
// curve's interpolation, and on a written run the choice of the lock function, the
// trace of its scans and the correction of every function.
#include "processing/lock_mass.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <format>
#include <string>
#include <variant>
#include <vector>

#include "processing/lock_mass_presets.hpp"
#include "processing/scan_processing.hpp"
#include "support/log_capture.hpp"
#include "support/raw_dir.hpp"

namespace tarnvale::processing {
namespace {

using namespace tarnvale::testing;

TEST(LockMassPresets, MatchAHandComputation) {
    // C28H37N5O7: 28 × 12 + 37 × 1.00782503207 + 5 × 14.0030740048 + 7 × 15.99491461956
    // = 555.26929854751; C66H95N19O26 = 1569.66956424641; proton 1.007276466621.
    struct Row {
        const char* name;
        double mz;
    };
    for (const Row row : {Row{"leu-enk", 556.276575014131}, Row{"LEU-ENK-NEG", 554.262022080889},
                          Row{"glu-fib", 785.842058589826}}) {
        SCOPED_TRACE(row.name);
        const LockMassPreset* preset = find_lock_mass_preset(row.name);
        ASSERT_NE(preset, nullptr);
        EXPECT_NEAR(preset_mz(*preset), row.mz, 1e-9);
    }
    EXPECT_EQ(find_lock_mass_preset("leucine"), nullptr);
    // Quoted with a hydrogen atom instead of a proton, [M+H]+ would read 556.2771.
    EXPECT_NEAR(preset_mz(*find_lock_mass_preset("leu-enk")), 556.2766, 5e-5);
    EXPECT_FALSE(monoisotopic_mass("C2X"));
    EXPECT_FALSE(monoisotopic_mass(""));
    EXPECT_DOUBLE_EQ(*monoisotopic_mass("H2O"), 2 * 1.00782503207 + 15.99491461956);
}

TEST(GainCurve, InterpolatesAndHolds) {
    const std::vector<double> rt{3, 1, 2, 2};
    const std::vector<double> gain{1.3, 1.1, 1.2, 1.4};
    const GainCurve curve(rt, gain);
    EXPECT_EQ(curve.lock_scans(), 4u);
    struct Row {
        double rt, gain;
    };
    // Equal times keep their order: from 2 on, the later one's gain applies.
    for (const Row row : {Row{-5, 1.1}, Row{1, 1.1}, Row{1.5, 1.15}, Row{2, 1.4}, Row{2.5, 1.35}, Row{3, 1.3},
                          Row{INFINITY, 1.3}, Row{-INFINITY, 1.1}}) {
        SCOPED_TRACE(row.rt);
        EXPECT_NEAR(curve.at(row.rt), row.gain, 1e-12);
    }
    EXPECT_TRUE(std::isnan(curve.at(NAN)));
}

constexpr double kReference = 556.2766;

// A lock scan with the reference seen `ppm` off (none: the peak is missing) beside a
// stronger ion elsewhere and a weak one 0.3 Da away.
std::vector<std::uint8_t> lock_scan(std::optional<double> ppm, double intensity = 5000) {
    std::vector<Record8> records{record_d_mz(9000, 278.1141), record_d_mz(50, kReference + 0.3)};
    if (ppm) records.push_back(record_d_mz(intensity, kReference * (1 + *ppm * 1e-6)));
    return join(records);
}

RawDirSpec run_with_lock_scans(std::vector<std::vector<std::uint8_t>> lock_scans,
                               std::uint8_t subtype = 0x81) {
    FunctionSpec survey = function_d({{record_d_mz(100, 500.0)}, {record_d_mz(100, 500.0)}});
    survey.scans[0].rt_min = 1.0f;
    survey.scans[1].rt_min = 2.5f;
    FunctionSpec lock = function_d({});
    for (std::size_t i = 0; i < lock_scans.size(); ++i)
        lock.scans.push_back({std::move(lock_scans[i]), static_cast<float>(i + 1)});
    lock.info.scan_subtype = subtype;
    RawDirSpec spec;
    spec.functions = {survey, lock};
    return spec;
}

Reader open(const TempDir& temp, const RawDirSpec& spec) { return *Reader::open(write_raw_dir(temp, spec)); }

TEST(LockMass, TraceAndCorrection) {
    LogCapture log;
    const TempDir temp;
    // Lock scans at 1, 2, 3 and 4 min: 10 ppm, missing, 20 ppm, too weak.
    const Reader reader =
        open(temp,
             run_with_lock_scans({lock_scan(10), lock_scan(std::nullopt), lock_scan(20), lock_scan(30, 10)}));
    const LockMassOptions options{.reference_mz = kReference, .min_intensity = 100};
    const auto trace = read_lock_mass_trace(reader, options);
    ASSERT_TRUE(trace) << trace.error().to_string();
    EXPECT_EQ(trace->function, 2u);
    ASSERT_EQ(trace->observed_mz.size(), 4u);
    EXPECT_NEAR((trace->observed_mz[0] - kReference) / kReference * 1e6, 10, 0.02); // the m/z word's rounding
    EXPECT_TRUE(std::isnan(trace->observed_mz[1]));
    EXPECT_EQ(trace->rt_min[2], 3.0);
    EXPECT_EQ(trace->intensity[3], 10.0);
    EXPECT_EQ(usable_lock_scans(*trace, options.min_intensity), (std::vector<std::size_t>{0, 2}));

    const auto processing = prepare(reader, {.centroid = {}, .lock_mass = options});
    ASSERT_TRUE(processing) << processing.error().to_string();
    const auto warnings = log.messages(log::Level::Warn, "tarnvale::processing");
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_NE(warnings[0].find("2 of 4 lock scans"), std::string::npos) << warnings[0];
    // The survey's scans at 1 and 2.5 min: the gain of the first lock scan, then three
    // quarters of the way from the first usable lock scan (1 min) to the next (3 min).
    const GainCurve& gains = processing->lock_mass->gains;
    for (const std::uint64_t scan : {0u, 1u}) {
        const auto plain = reader.decode_scan(1, scan);
        const auto corrected = read_processed_scan(reader, 1, scan, *processing);
        ASSERT_TRUE(plain && corrected);
        const double rt = scan == 0 ? 1.0 : 2.5;
        EXPECT_EQ(std::get<raw::Spectrum>(corrected->spectrum).mz[0],
                  std::get<raw::Spectrum>(plain->spectrum).mz[0] * gains.at(rt));
    }
    const double first = kReference / trace->observed_mz[0], next = kReference / trace->observed_mz[2];
    EXPECT_NEAR(gains.at(2.5), first + (next - first) * 0.75, 1e-15);
}

TEST(LockMass, Failures) {
    const TempDir temp;
    struct Row {
        std::string name;
        RawDirSpec spec;
        LockMassOptions options;
        std::string message;
    };
    // Two scans a function at least: the reader tells encoding D from A by their spacing.
    RawDirSpec two_lock_functions = run_with_lock_scans({lock_scan(1), lock_scan(1)});
    two_lock_functions.functions.push_back(two_lock_functions.functions[1]);
    const std::vector<Row> rows{
        {"no lock function",
         run_with_lock_scans({lock_scan(1), lock_scan(1)}, 0x01),
         {.reference_mz = kReference},
         "the run has no lock-mass function"},
        {"several", two_lock_functions, {.reference_mz = kReference}, "several lock-mass functions (2, 3)"},
        {"named but absent",
         two_lock_functions,
         {.reference_mz = kReference, .function = 7},
         "lock-mass function 7 is not a readable function"},
        {"no peak anywhere",
         run_with_lock_scans({lock_scan(std::nullopt), lock_scan(std::nullopt)}),
         {.reference_mz = kReference},
         "none of the 2 lock scans has the peak"},
        {"outside the tolerance",
         run_with_lock_scans({lock_scan(1000), lock_scan(1000)}),
         {.reference_mz = kReference, .tolerance_da = 0.1},
         "none of the 2 lock scans"},
        {"negative tolerance",
         run_with_lock_scans({lock_scan(1), lock_scan(1)}),
         {.reference_mz = kReference, .tolerance_da = -1},
         "the lock-mass tolerance must be a finite number >= 0, not -1"},
        {"no reference",
         run_with_lock_scans({lock_scan(1), lock_scan(1)}),
         {},
         "the lock-mass m/z must be a finite number > 0"},
    };
    for (std::size_t i = 0; i < rows.size(); ++i) {
        SCOPED_TRACE(rows[i].name);
        RawDirSpec spec = rows[i].spec;
        spec.dir_name = std::format("run{}.raw", i);
        const Reader reader = open(temp, spec);
        const auto prepared = prepare(reader, {.centroid = {}, .lock_mass = rows[i].options});
        ASSERT_FALSE(prepared);
        EXPECT_NE(prepared.error().to_string().find(rows[i].message), std::string::npos)
            << prepared.error().to_string();
    }
    // A function that is named is used even when its subtype does not flag it.
    RawDirSpec unflagged = run_with_lock_scans({lock_scan(3), lock_scan(4)}, 0x01);
    unflagged.dir_name = "unflagged.raw";
    const Reader reader = open(temp, unflagged);
    EXPECT_TRUE(prepare(
        reader, {.centroid = {}, .lock_mass = LockMassOptions{.reference_mz = kReference, .function = 2}}));
}

} // namespace
} // namespace tarnvale::processing
