#include "mzml/support/synthetic.hpp"

#include <algorithm>
#include <bit>
#include <limits>
#include <random>

namespace tarnvale::mzml::testing {

namespace {

constexpr std::string_view zero_sha1 = "0123456789abcdef0123456789abcdef01234567";

double uniform(std::mt19937_64& random, double low, double high) {
    // 53 random bits, so every value uses the whole mantissa.
    const double unit = static_cast<double>(random() >> 11) * 0x1.0p-53;
    return low + unit * (high - low);
}

std::vector<double> ascending_mz(std::mt19937_64& random, std::size_t points) {
    std::vector<double> mz(points);
    for (double& value : mz) value = uniform(random, 50.0, 2000.0);
    std::ranges::sort(mz);
    return mz;
}

std::vector<float> intensities(std::mt19937_64& random, std::size_t points) {
    std::vector<float> values(points);
    for (float& value : values) value = static_cast<float>(uniform(random, 1.0, 1e6));
    return values;
}

SpectrumInput ms1_meta(std::uint32_t function, std::uint64_t scan) {
    SpectrumInput meta;
    meta.function = function;
    meta.scan = scan;
    meta.ms_level = 1;
    meta.polarity = Polarity::Positive;
    meta.rt_minutes = 0.0167 * static_cast<double>(scan + 1) + 0.001 * function;
    meta.scan_window_low = 50.0;
    meta.scan_window_high = 2000.0;
    meta.representation = Representation::Centroid;
    return meta;
}

SyntheticChromatogram trace(std::string id, ChromatogramKind kind, std::size_t points, std::uint32_t seed) {
    std::mt19937_64 random(seed);
    SyntheticChromatogram c;
    c.meta.id = std::move(id);
    c.meta.kind = kind;
    for (std::size_t i = 0; i < points; ++i) {
        c.time_minutes.push_back(0.0167 * static_cast<double>(i + 1));
        c.values.push_back(uniform(random, 0.0, 1e7));
    }
    return c;
}

SyntheticChromatogram channel(std::string id, std::string name, std::string units, std::uint32_t seed) {
    SyntheticChromatogram c = trace(std::move(id), ChromatogramKind::InstrumentChannel, 8, seed);
    c.meta.channel_name = std::move(name);
    c.meta.channel_units = std::move(units);
    return c;
}

void add_function_traces(SyntheticRun& run, std::uint32_t function, std::size_t scans) {
    run.chromatograms.push_back(trace("TIC function=" + std::to_string(function),
                                      ChromatogramKind::TotalIonCurrent, scans, 100 + function));
    run.chromatograms.push_back(
        trace("BPC function=" + std::to_string(function), ChromatogramKind::BasePeak, scans, 200 + function));
}

} // namespace

SpectrumInput SyntheticSpectrum::input() const {
    SpectrumInput view = meta;
    view.mz = mz;
    view.intensity = intensity;
    if (drift_times_ms) view.drift_times_ms = std::span<const double>(*drift_times_ms);
    return view;
}

ChromatogramInput SyntheticChromatogram::input() const {
    ChromatogramInput view = meta;
    view.time_minutes = time_minutes;
    view.values = values;
    return view;
}

SyntheticSpectrum random_spectrum(std::uint32_t function, std::uint64_t scan, std::size_t points,
                                  std::uint64_t seed) {
    std::mt19937_64 random(seed);
    SyntheticSpectrum s;
    s.meta = ms1_meta(function, scan);
    s.mz = ascending_mz(random, points);
    s.intensity = intensities(random, points);
    return s;
}

SyntheticSpectrum random_ims_scan(std::uint32_t function, std::uint64_t scan, std::size_t points,
                                  std::uint64_t seed) {
    std::mt19937_64 random(seed);
    SyntheticSpectrum s;
    s.meta = ms1_meta(function, scan);
    std::vector<std::pair<double, double>> peaks(points);
    for (std::size_t i = 0; i < points; ++i) {
        // Every fourth peak repeats the previous m/z in a later drift bin.
        const double mz = i % 4 == 3 ? peaks[i - 1].first : uniform(random, 50.0, 2000.0);
        peaks[i] = {mz, 0.0695 * static_cast<double>(1 + random() % 200)};
    }
    std::ranges::sort(peaks);
    s.drift_times_ms.emplace();
    for (const auto& [mz, drift] : peaks) {
        s.mz.push_back(mz);
        s.drift_times_ms->push_back(drift);
    }
    s.intensity = intensities(random, points);
    return s;
}

SyntheticSpectrum random_drift_bin(std::uint32_t function, std::uint64_t scan, std::uint32_t bin,
                                   std::size_t points, std::uint64_t seed) {
    SyntheticSpectrum s = random_spectrum(function, scan, points, seed);
    s.meta.drift_bin = bin;
    s.meta.drift_time_ms = 0.0695 * static_cast<double>(bin + 1);
    return s;
}

SyntheticSpectrum special_values_spectrum(std::uint32_t function, std::uint64_t scan) {
    using f32 = std::numeric_limits<float>;
    using f64 = std::numeric_limits<double>;
    SyntheticSpectrum s;
    s.meta = ms1_meta(function, scan);
    const double nan_with_payload = std::bit_cast<double>(std::uint64_t{0x7ff8000000000123});
    const float quiet_nan = std::bit_cast<float>(std::uint32_t{0x7fc00001});
    const float signaling_nan = std::bit_cast<float>(std::uint32_t{0xff800001});
    s.mz = {-0.0,  0.0,        f64::denorm_min(), f64::min() / 3,  1e-300,
            100.0, f64::max(), f64::infinity(),   nan_with_payload};
    s.intensity = {0.0f,      -0.0f,      f32::denorm_min(), f32::min() / 3,  1e-30f,
                   quiet_nan, f32::max(), signaling_nan,     -f32::infinity()};
    return s;
}

std::vector<SpectrumInput> SyntheticRun::spectrum_inputs() const {
    std::vector<SpectrumInput> inputs;
    inputs.reserve(spectra.size());
    for (const SyntheticSpectrum& s : spectra) inputs.push_back(s.input());
    return inputs;
}

std::vector<ChromatogramInput> SyntheticRun::chromatogram_inputs() const {
    std::vector<ChromatogramInput> inputs;
    inputs.reserve(chromatograms.size());
    for (const SyntheticChromatogram& c : chromatograms) inputs.push_back(c.input());
    return inputs;
}

SyntheticRun sample_run(bool per_drift_bin) {
    SyntheticRun r;
    r.run.run_id = per_drift_bin ? "sample per bin" : "sample";
    r.run.source_name = "sample.raw";
    r.run.source_location = "file:///data/runs";
    r.run.function_table_sha1 = zero_sha1;
    r.run.instrument = "SYNAPT G2-Si";
    r.run.content = {.ms1 = true, .msn = true, .ion_mobility = true};
    r.run.software_version = "0.1.0";

    // Function 1: MS1, five scans; the last is empty.
    for (std::uint64_t scan = 0; scan < 5; ++scan)
        r.spectra.push_back(random_spectrum(1, scan, scan == 4 ? 0 : 40 + 10 * scan, 1000 + scan));
    // Function 2: MSn, profile, collision energies except on scan 2; negative polarity.
    for (std::uint64_t scan = 0; scan < 4; ++scan) {
        SyntheticSpectrum s = random_spectrum(2, scan, 60, 2000 + scan);
        s.meta.ms_level = 2;
        s.meta.polarity = Polarity::Negative;
        s.meta.representation = Representation::Profile;
        if (scan != 2) s.meta.collision_energy = 20.0 + 2.5 * static_cast<double>(scan);
        r.spectra.push_back(std::move(s));
    }
    // Function 3: ion mobility, three scans.
    for (std::uint64_t scan = 0; scan < 3; ++scan) {
        if (!per_drift_bin) {
            r.spectra.push_back(random_ims_scan(3, scan, 80, 3000 + scan));
            continue;
        }
        for (std::uint32_t bin : {4u, 5u, 6u, 9u}) // bins 7 and 8 are empty and left out
            r.spectra.push_back(random_drift_bin(3, scan, bin, 12, 3000 + 10 * scan + bin));
    }
    // Function 4: lock mass, without polarity, plus one spectrum of special values.
    for (std::uint64_t scan = 0; scan < 2; ++scan) {
        SyntheticSpectrum s =
            scan == 0 ? random_spectrum(4, scan, 10, 4000) : special_values_spectrum(4, scan);
        s.meta.lock_mass = true;
        s.meta.polarity.reset();
        r.spectra.push_back(std::move(s));
    }
    for (std::uint32_t function = 1; function <= 4; ++function) add_function_traces(r, function, 4);
    r.chromatograms.push_back(channel("channel 0", "Pump Pressure", "bar", 900));
    r.chromatograms.push_back(channel("channel 1", "Column Temperature",
                                      "\xC2\xB0"
                                      "C",
                                      901));
    r.chromatograms.push_back(channel("channel 2", "Flow Rate", "\xC2\xB5L/min", 902));
    r.run.spectrum_count = r.spectra.size();
    r.run.chromatogram_count = r.chromatograms.size();
    return r;
}

} // namespace tarnvale::mzml::testing
