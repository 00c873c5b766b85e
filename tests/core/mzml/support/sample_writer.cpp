// Writes the synthetic sample runs as indexed mzML, each beside a JSON file of what
// went in (arrays as the hex of their little-endian bytes), for the Python checks:
//   mzml_sample_writer OUTDIR    the samples (plain, numpress, 32-bit m/z, gzip)
//   mzml_sample_writer --terms   every accession and name of the term table, tab-separated
#include <bit>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <span>
#include <string>

#include "mzml/support/synthetic.hpp"
#include "mzml/terms.hpp"
#include "mzml/writer.hpp"

namespace {

using namespace tarnvale::mzml;
using testing::SyntheticRun;

template <class Float> std::string hex_of(std::span<const Float> values) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string hex;
    for (const Float value : values) {
        const auto bits =
            std::bit_cast<std::conditional_t<sizeof(Float) == 8, std::uint64_t, std::uint32_t>>(value);
        for (std::size_t byte = 0; byte < sizeof(Float); ++byte) {
            const auto b = static_cast<unsigned>((bits >> (8 * byte)) & 0xff);
            hex += digits[b >> 4];
            hex += digits[b & 0x0f];
        }
    }
    return '"' + hex + '"';
}

std::string hex_of(double value) { return hex_of(std::span<const double>(&value, 1)); }

template <class T> std::string or_null(const std::optional<T>& value, auto&& show) {
    return value ? show(*value) : std::string("null");
}

std::string spectrum_json(const SpectrumInput& s, const std::string& id) {
    std::string json = "{\"id\": \"" + id + "\", \"ms_level\": " + std::to_string(s.ms_level);
    json += ", \"centroid\": " + std::string(s.representation == Representation::Centroid ? "true" : "false");
    json += ", \"polarity\": " + or_null(s.polarity, [](Polarity p) {
                return std::string(p == Polarity::Positive ? "\"positive\"" : "\"negative\"");
            });
    json += ", \"lock_mass\": " + std::string(s.lock_mass ? "true" : "false");
    json += ", \"rt\": " + hex_of(s.rt_minutes);
    json += ", \"collision_energy\": " + or_null(s.collision_energy, [](double v) { return hex_of(v); });
    json += ", \"drift_time\": " + or_null(s.drift_time_ms, [](double v) { return hex_of(v); });
    json += ", \"mz\": " + hex_of(s.mz) + ", \"intensity\": " + hex_of(s.intensity);
    json += ", \"drift\": " + or_null(s.drift_times_ms, [](std::span<const double> v) { return hex_of(v); });
    return json + "}";
}

std::string chromatogram_json(const ChromatogramInput& c) {
    return "{\"id\": \"" + c.id + "\", \"time\": " + hex_of(c.time_minutes) +
           ", \"values\": " + hex_of(c.values) + "}";
}

std::string spectrum_id_of(const SpectrumInput& s) {
    std::string id = "function=" + std::to_string(s.function) + " process=0 scan=" + std::to_string(s.scan);
    if (s.drift_bin) id += " driftBin=" + std::to_string(*s.drift_bin);
    return id;
}

bool write_expected(const std::filesystem::path& path, const SyntheticRun& run, const Options& options) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << "{\"compression\": \"" << (options.compression == Compression::Zlib ? "zlib" : "none") << "\",\n";
    out << " \"numpress\": " << (options.numpress ? "true" : "false") << ",\n";
    out << " \"mz_precision\": " << (options.mz_precision == Precision::Float32 ? 32 : 64) << ",\n";
    out << " \"instrument\": \"" << run.run.instrument.value_or("") << "\",\n \"spectra\": [\n";
    const auto spectra = run.spectrum_inputs();
    for (std::size_t i = 0; i < spectra.size(); ++i)
        out << "  " << spectrum_json(spectra[i], spectrum_id_of(spectra[i]))
            << (i + 1 < spectra.size() ? ",\n" : "\n");
    out << " ],\n \"chromatograms\": [\n";
    const auto chromatograms = run.chromatogram_inputs();
    for (std::size_t i = 0; i < chromatograms.size(); ++i)
        out << "  " << chromatogram_json(chromatograms[i]) << (i + 1 < chromatograms.size() ? ",\n" : "\n");
    out << " ]}\n";
    return static_cast<bool>(out);
}

bool write_sample(const std::filesystem::path& directory, const std::string& name, bool per_bin,
                  Options options) {
    const SyntheticRun run = testing::sample_run(per_bin);
    const auto spectra = run.spectrum_inputs();
    const auto chromatograms = run.chromatogram_inputs();
    options.threads = 2;
    auto writer =
        Writer::create(directory / (name + (options.gzip ? ".mzML.gz" : ".mzML")), run.run, options);
    // Uneven batches: the output must not depend on how the spectra were handed over.
    auto status = writer ? writer->write_spectra(std::span(spectra).first(3)) : tarnvale::Result<void>();
    if (writer && status) status = writer->write_spectra(std::span(spectra).subspan(3));
    if (writer && status) status = writer->write_chromatograms(chromatograms);
    if (writer && status) status = writer->finish();
    if (!writer || !status) {
        std::cerr << (writer ? status.error() : writer.error()).to_string() << '\n';
        return false;
    }
    return write_expected(directory / (name + ".expected.json"), run, options);
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::string(argv[1]) == "--terms") {
        for (const TermInfo& term : all_terms()) std::cout << term.accession << '\t' << term.name << '\n';
        return 0;
    }
    if (argc != 2) {
        std::cerr << "usage: mzml_sample_writer OUTDIR | --terms\n";
        return 2;
    }
    const std::filesystem::path directory = argv[1];
    std::error_code error;
    std::filesystem::create_directories(directory, error);
    bool ok = true;
    const Options zlib{.compression = Compression::Zlib};
    const Options none{.compression = Compression::None};
    ok = write_sample(directory, "combined_zlib", false, zlib) && ok;
    ok = write_sample(directory, "combined_none", false, none) && ok;
    ok = write_sample(directory, "per_bin_zlib", true, zlib) && ok;
    ok = write_sample(directory, "per_bin_none", true, none) && ok;
    ok = write_sample(directory, "combined_numpress_zlib", false,
                      {.compression = Compression::Zlib, .numpress = true}) &&
         ok;
    ok = write_sample(
             directory, "per_bin_numpress_f32", true,
             {.compression = Compression::None, .numpress = true, .mz_precision = Precision::Float32}) &&
         ok;
    ok = write_sample(directory, "combined_f32_gzip", false,
                      {.mz_precision = Precision::Float32, .gzip = true}) &&
         ok;
    return ok ? 0 : 1;
}
