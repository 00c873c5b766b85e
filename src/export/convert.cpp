#include "export/convert.hpp"

#include <algorithm>
#include <format>
#include <memory>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "columns/function_columns.hpp"
#include "display.hpp"
#include "export/batch_columns.hpp"
#include "export/batch_spectra.hpp"
#include "export/function_plan.hpp"
#include "export/run_description.hpp"
#include "io.hpp"
#include "mzml/writer.hpp"
#include "reader/acquisition.hpp"

namespace tarnvale::exporter {

namespace {

constexpr unsigned max_threads = 256;

// A function's total ion current and base peak, gathered batch by batch while its
// spectra are written: one value per scan, in minutes.
struct FunctionTraces {
    std::uint32_t function = 0;
    std::vector<double> time_minutes;
    std::vector<double> tic;
    std::vector<double> base_peak;
};

mzml::Options writer_options(const ConversionOptions& options) {
    return {.compression = options.compression,
            .threads = options.threads,
            .numpress = options.numpress,
            .mz_precision = options.mz_precision,
            .gzip = options.gzip};
}

// What the data processing of the file lists: peak picking when a function was
// picked, and the lock-mass correction with what it used.
mzml::DataProcessing data_processing(const processing::ScanProcessing& prepared,
                                     std::span<const FunctionPlan> plans) {
    mzml::DataProcessing processing;
    const bool profile = std::ranges::any_of(plans, [](const FunctionPlan& plan) {
        return processing::picks_encoding(encoding_letter(plan.entry->encoding));
    });
    if (prepared.picking && profile)
        processing.peak_picking =
            mzml::PeakPicking{prepared.picking->min_intensity, prepared.picking->min_points};
    if (const auto& lock = prepared.lock_mass)
        processing.lock_mass =
            mzml::LockMassCalibration{lock->reference_mz, lock->tolerance_da, lock->min_intensity,
                                      lock->function, lock->gains.lock_scans()};
    return processing;
}

class Conversion {
  public:
    Conversion(const Acquisition& acquisition, const ConversionOptions& options, const Progress& progress)
        : acquisition_(acquisition), options_(options), progress_(progress),
          plans_(plan_functions(acquisition.reader(), options)) {}

    Result<ConversionSummary> run(const std::filesystem::path& out);

  private:
    template <class Each> Result<void> for_each_batch(const FunctionPlan& plan, Each&& each) const;
    Result<std::uint64_t> count_spectra(const FunctionPlan& plan) const;
    Result<void> write_function(mzml::Writer& writer, const FunctionPlan& plan, FunctionTraces& traces);
    Result<void> write_channels(mzml::Writer& writer) const;
    std::size_t channel_count() const {
        return acquisition_.channel_table() ? acquisition_.channel_table()->channels.size() : 0;
    }

    const Acquisition& acquisition_;
    const ConversionOptions& options_;
    const Progress& progress_;
    std::vector<FunctionPlan> plans_;
    std::shared_ptr<const processing::ScanProcessing> processing_; // none: the points as decoded
    BatchSpectra spectra_;
    std::uint64_t scans_done_ = 0;
    std::uint64_t scans_total_ = 0;
};

// Calls each(batch, first_scan) for the function's batches in scan order.
template <class Each> Result<void> Conversion::for_each_batch(const FunctionPlan& plan, Each&& each) const {
    const FunctionEntry& entry = *plan.entry;
    const columns::Column<float> rt_min = columns::retention_times(entry);
    for (std::uint64_t first = 0; first < entry.scans.size();) {
        const std::uint64_t last = batch_end(entry, first, options_.batch);
        TV_ASSIGN_OR_RETURN(const DecodedBatch batch, read_batch(acquisition_.reader(), entry, rt_min, first,
                                                                 last, options_.threads, processing_));
        TV_RETURN_IF_ERROR(each(batch, first));
        first = last;
    }
    return {};
}

// One spectrum per scan, or with drift bins one per bin that holds points: only
// decoding the function tells how many.
Result<std::uint64_t> Conversion::count_spectra(const FunctionPlan& plan) const {
    if (!plan.ion_mobility || options_.ims != ImsLayout::PerBin) return plan.entry->scans.size();
    std::uint64_t count = 0;
    TV_RETURN_IF_ERROR(for_each_batch(plan, [&](const DecodedBatch& batch, std::uint64_t) {
        count += count_drift_bins(batch.columns);
        return Result<void>{};
    }));
    return count;
}

Result<void> Conversion::write_function(mzml::Writer& writer, const FunctionPlan& plan,
                                        FunctionTraces& traces) {
    traces.function = plan.entry->number;
    // One value per scan, kept until the chromatograms are written: sized once rather
    // than grown, so that they hold no more than the run needs.
    const std::size_t scans = plan.entry->scans.size();
    traces.time_minutes.reserve(scans);
    traces.tic.reserve(scans);
    traces.base_peak.reserve(scans);
    return for_each_batch(plan, [&](const DecodedBatch& batch, std::uint64_t first) -> Result<void> {
        spectra_.build(plan, batch.columns, first, options_.ims);
        TV_RETURN_IF_ERROR(writer.write_spectra(spectra_.inputs()));
        for (const float rt : batch.columns.rt_min.view())
            traces.time_minutes.push_back(static_cast<double>(rt));
        for (const ScanTrace& scan : batch.traces) {
            traces.tic.push_back(scan.tic);
            traces.base_peak.push_back(scan.base_peak);
        }
        scans_done_ += batch.columns.n_scans();
        if (progress_) TV_RETURN_IF_ERROR(progress_(scans_done_, scans_total_));
        return {};
    });
}

Result<void> Conversion::write_channels(mzml::Writer& writer) const {
    if (!acquisition_.channel_table()) return {};
    for (const raw::ChromChannel& channel : acquisition_.channel_table()->channels) {
        auto points = acquisition_.read_chrom(channel.index);
        if (!points)
            return parse_error(
                std::format("chromatogram channel {}: {}", channel.index, points.error().message()));
        std::vector<double> time;
        std::vector<double> values;
        time.reserve(points->size());
        values.reserve(points->size());
        for (const raw::ChromPoint& point : *points) {
            time.push_back(static_cast<double>(point.rt_min));
            values.push_back(static_cast<double>(point.value));
        }
        const mzml::ChromatogramInput input{.id = std::format("channel {}", channel.index),
                                            .kind = mzml::ChromatogramKind::InstrumentChannel,
                                            .channel_name = channel.name,
                                            .channel_units = channel.units,
                                            .time_minutes = time,
                                            .values = values};
        TV_RETURN_IF_ERROR(writer.write_chromatograms({&input, 1}));
    }
    return {};
}

Result<ConversionSummary> Conversion::run(const std::filesystem::path& out) {
    TV_ASSIGN_OR_RETURN(mzml::RunDescription description, describe_run(acquisition_, plans_));
    if (!options_.processing.empty()) {
        TV_ASSIGN_OR_RETURN(processing::ScanProcessing prepared,
                            processing::prepare(acquisition_.reader(), options_.processing));
        processing_ = std::make_shared<const processing::ScanProcessing>(std::move(prepared));
        description.processing = data_processing(*processing_, plans_);
    }
    for (const FunctionPlan& plan : plans_) {
        TV_ASSIGN_OR_RETURN(const std::uint64_t count, count_spectra(plan));
        description.spectrum_count += count;
        scans_total_ += plan.entry->scans.size();
    }
    description.chromatogram_count = 2 * plans_.size() + channel_count();
    TV_ASSIGN_OR_RETURN(mzml::Writer writer,
                        mzml::Writer::create(out, description, writer_options(options_)));

    std::vector<FunctionTraces> traces(plans_.size());
    for (std::size_t f = 0; f < plans_.size(); ++f)
        TV_RETURN_IF_ERROR(write_function(writer, plans_[f], traces[f]));
    for (FunctionTraces& trace : traces) {
        const std::string suffix = std::format("function={}", trace.function);
        const mzml::ChromatogramInput pair[] = {
            {.id = "TIC " + suffix,
             .kind = mzml::ChromatogramKind::TotalIonCurrent,
             .channel_name = {},
             .channel_units = {},
             .time_minutes = trace.time_minutes,
             .values = trace.tic},
            {.id = "BPC " + suffix,
             .kind = mzml::ChromatogramKind::BasePeak,
             .channel_name = {},
             .channel_units = {},
             .time_minutes = trace.time_minutes,
             .values = trace.base_peak},
        };
        TV_RETURN_IF_ERROR(writer.write_chromatograms(pair));
        trace = {}; // written: its memory goes back
    }
    TV_RETURN_IF_ERROR(write_channels(writer));
    TV_RETURN_IF_ERROR(writer.finish());
    return ConversionSummary{description.spectrum_count, description.chromatogram_count, scans_total_};
}

// The reader's own error where it has one; the acquisition's text otherwise.
Error open_error(const std::filesystem::path& raw, const QueryError& error) {
    auto reader = Reader::open(raw);
    if (!reader) return std::move(reader).error();
    return Error::parse(error.message());
}

} // namespace

Result<ConversionSummary> convert_to_mzml(const std::filesystem::path& raw, const std::filesystem::path& out,
                                          const ConversionOptions& options, const Progress& progress) {
    const auto failed = [&raw](Error inner) {
        return fail(Error::context("converting " + display_path(raw), std::move(inner)));
    };
    if (options.threads < 1 || options.threads > max_threads)
        return failed(
            Error::parse(std::format("{} threads; 1 to {} are possible", options.threads, max_threads)));
    if (!names_directory(raw)) return failed(Error::parse("not a directory"));
    auto acquisition = Acquisition::open(raw);
    if (!acquisition) return failed(open_error(raw, acquisition.error()));
    Conversion conversion(*acquisition, options, progress);
    auto summary = conversion.run(out);
    if (!summary) return failed(std::move(summary).error());
    return summary;
}

} // namespace tarnvale::exporter
