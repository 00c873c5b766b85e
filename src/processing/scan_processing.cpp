#include "processing/scan_processing.hpp"

#include <variant>

namespace tarnvale::processing {

std::optional<std::string> problem_with(const ProcessingRequest& request) {
    if (request.centroid)
        if (auto problem = problem_with(*request.centroid)) return problem;
    if (request.lock_mass) return problem_with(*request.lock_mass);
    return std::nullopt;
}

Result<ScanProcessing> prepare(const Reader& reader, const ProcessingRequest& request) {
    if (auto problem = problem_with(request)) return parse_error(*problem);
    ScanProcessing processing;
    processing.picking = request.centroid;
    if (request.lock_mass) {
        const LockMassOptions& options = *request.lock_mass;
        TV_ASSIGN_OR_RETURN(const LockMassTrace trace, read_lock_mass_trace(reader, options));
        TV_ASSIGN_OR_RETURN(GainCurve gains, gain_curve(reader, trace, options.min_intensity));
        processing.lock_mass = LockMassCorrection{trace.function, options.reference_mz, options.tolerance_da,
                                                  options.min_intensity, std::move(gains)};
    }
    return processing;
}

ScanProcessor::ScanProcessor(const ScanProcessing& processing, const FunctionEntry& entry,
                             const raw::DecodeContext& context)
    : entry_(&entry), gains_(processing.lock_mass ? &processing.lock_mass->gains : nullptr) {
    const char encoding = encoding_letter(entry.encoding);
    if (processing.picking && picks_encoding(encoding))
        picker_.emplace(encoding, context, *processing.picking);
}

void ScanProcessor::correct(std::uint64_t scan, double* mz, std::size_t count) const {
    if (gains_ == nullptr || count == 0) return;
    const double gain = gains_->at(static_cast<double>(entry_->scans.rt_min(scan)));
    for (std::size_t i = 0; i < count; ++i) mz[i] *= gain;
}

std::size_t ScanProcessor::apply(std::uint64_t scan, Bytes bytes, raw::PointOutput points,
                                 std::size_t count) {
    if (picker_) count = picker_->pick(bytes, points, count);
    correct(scan, points.mz, count);
    return count;
}

Result<DecodedScan> read_processed_scan(const Reader& reader, std::uint32_t func_index,
                                        std::uint64_t scan_index, const ScanProcessing& processing) {
    TV_ASSIGN_OR_RETURN(DecodedScan decoded, reader.decode_scan(func_index, scan_index));
    const FunctionEntry& entry = *reader.function(func_index);
    auto bytes = read_scan_bytes(entry, scan_index);
    if (!bytes) return fail(scan_error(reader.dir, func_index, scan_index, std::move(bytes).error()));
    const raw::DecodeContext context = decode_context(entry, reader.extern_inf);
    ScanProcessor processor(processing, entry, context);
    std::visit(
        [&](auto& spectrum) {
            double* drift = nullptr;
            if constexpr (std::is_same_v<std::decay_t<decltype(spectrum)>, raw::ImsSpectrum>)
                drift = spectrum.drift_time_ms.data();
            const std::size_t kept =
                processor.apply(scan_index, bytes->span(),
                                {spectrum.mz.data(), spectrum.intensity.data(), drift}, spectrum.mz.size());
            spectrum.mz.resize(kept);
            spectrum.intensity.resize(kept);
            if constexpr (std::is_same_v<std::decay_t<decltype(spectrum)>, raw::ImsSpectrum>)
                spectrum.drift_time_ms.resize(kept);
        },
        decoded.spectrum);
    return decoded;
}

} // namespace tarnvale::processing
