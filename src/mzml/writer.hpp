// The streaming indexed-mzML writer: Writer::create, spectra in batches, then
// chromatograms in batches, then finish(). Memory stays bounded by one batch
// (plus about 8 bytes per written spectrum for the index) whatever the run's size.
// The arrays of a batch are encoded on worker threads; the file's bytes are the
// same for every thread count.
#pragma once

#include <filesystem>
#include <memory>
#include <span>

#include "error.hpp"
#include "mzml/array_encoder.hpp"
#include "mzml/input.hpp"

namespace tarnvale::mzml {

struct Options {
    Compression compression = Compression::Zlib;
    unsigned threads = 1; // 1 to 256, the calling thread included
    bool numpress = false;
    Precision mz_precision = Precision::Float64;
    // The whole file as gzip (name it .mzML.gz); the index still counts the bytes
    // of the mzML text, as readers of compressed mzML expect.
    bool gzip = false;

    ArrayEncoding arrays() const { return {compression, numpress, mz_precision}; }
};

class Writer {
  public:
    // Starts the file under a temporary name beside `path` and writes the header.
    static Result<Writer> create(const std::filesystem::path& path, const RunDescription& run,
                                 const Options& options);

    Writer(Writer&&) noexcept;
    Writer& operator=(Writer&&) noexcept;
    ~Writer(); // without a successful finish(), removes the temporary file

    // Every spectrum before the first chromatogram.
    Result<void> write_spectra(std::span<const SpectrumInput> batch);
    Result<void> write_chromatograms(std::span<const ChromatogramInput> batch);
    // Writes the index and checksum, then renames the file onto its final name.
    Result<void> finish();

  private:
    struct State;
    explicit Writer(std::unique_ptr<State> state);
    std::unique_ptr<State> state_;
};

} // namespace tarnvale::mzml
