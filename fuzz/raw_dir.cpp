// A whole raw directory (see raw_dir_input.hpp), opened and read as RawReader does:
// the target opens it, decodes every scan of every function, asks every retention
// time and reads every chromatogram channel, with every log line formatted.
#include <cstddef>
#include <cstdint>
#include <variant>

#include "raw_dir_input.hpp"
#include "reader/acquisition.hpp"

namespace {

using namespace tarnvale;

template <class Spectrum> void check_shape(const Spectrum& spectrum) {
    fuzzing::require(spectrum.mz.size() == spectrum.intensity.size());
}

void read_everything(const Acquisition& acquisition) {
    for (const FunctionEntry& entry : acquisition.reader().functions) {
        for (std::uint64_t scan = 0; scan <= entry.scans.size(); ++scan) { // one past the end fails
            (void)acquisition.retention_time(entry.number, scan);
            const auto decoded = acquisition.decode_scan(entry.number, scan);
            fuzzing::require(decoded.has_value() || !decoded.error().to_string().empty());
            if (!decoded) continue;
            fuzzing::require(scan < entry.scans.size());
            std::visit([](const auto& spectrum) { check_shape(spectrum); }, decoded->spectrum);
            if (const auto* ims = std::get_if<raw::ImsSpectrum>(&decoded->spectrum))
                fuzzing::require(ims->drift_time_ms.size() == ims->mz.size());
        }
    }
    if (const auto& channels = acquisition.channel_table()) {
        for (std::uint64_t channel = 0; channel <= channels->channels.size(); ++channel)
            (void)acquisition.read_chrom(channel);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const fuzzing::ScratchDir dir;
    fuzzing::write_parts(dir, data, size);
    const auto acquisition = Acquisition::open(dir.path());
    if (acquisition)
        read_everything(*acquisition);
    else
        fuzzing::require(!acquisition.error().message().empty());
    return 0;
}
