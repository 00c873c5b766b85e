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
#include "export/selection.hpp"
#include "io.hpp"
#include "log.hpp"
#include "mzml/channel_terms.hpp"
#include "mzml/writer.hpp"
#include "reader/acquisition.hpp"

namespace tarnvale::exporter {

namespace {

constexpr unsigned max_threads = 256;
constexpr std::string_view kTarget = "tarnvale::export";

// A function's total ion current and base peak, gathered batch by batch while its
// spectra are written: one value per written scan, in minutes.
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

// A selected function, the scans of the selected times, and what is known of them
// before writing: until every scan was decoded once, that all of them read.
struct SelectedFunction {
    FunctionPlan plan;
    ScanSpan span;
    std::uint64_t spectra = 0;
    std::uint64_t written_scans = 0;
    std::vector<std::uint64_t> skipped; // ascending
};

std::uint64_t count_written(std::span<const std::uint8_t> written) {
    return static_cast<std::uint64_t>(std::ranges::count(written, std::uint8_t{1}));
}

class Conversion {
  public:
    Conversion(const Acquisition& acquisition, const ConversionOptions& options, const Progress& progress)
        : acquisition_(acquisition), options_(options), progress_(progress) {}

    ConversionResult<ConversionSummary> run(const std::filesystem::path& out);

  private:
    bool skipping() const { return options_.on_error == columns::OnError::Skip; }
    Result<void> plan();
    Result<void> survey();
    void survey_channels();
    Result<ConversionSummary> write(const std::filesystem::path& out);
    template <class Each> Result<void> for_each_batch(const SelectedFunction& job, Each&& each);
    Result<void> report_progress() const;
    Result<void> check_skipped(const SelectedFunction& job, const DecodedBatch& batch, std::uint64_t first,
                               std::uint64_t last);
    Result<void> write_function(mzml::Writer& writer, const SelectedFunction& job, FunctionTraces& traces);
    Result<void> write_channels(mzml::Writer& writer);
    std::vector<const raw::ChromChannel*> channels_to_write() const;
    mzml::FileContent content() const;

    const Acquisition& acquisition_;
    const ConversionOptions& options_;
    const Progress& progress_;
    std::vector<SelectedFunction> jobs_;
    LeftOut left_out_;
    std::shared_ptr<const processing::ScanProcessing> processing_; // none: the points as decoded
    BatchSpectra spectra_;
    std::uint64_t scans_done_ = 0;
    std::uint64_t scans_total_ = 0;
    bool surveyed_ = false; // every selected scan decoded once: the counts are exact
    bool damaged_ = false;  // the last failure was a scan or channel that could not be read
};

Result<void> Conversion::plan() {
    TV_ASSIGN_OR_RETURN(const std::vector<FunctionPlan> plans, plan_functions(acquisition_, options_));
    for (const FunctionPlan& plan : plans) {
        SelectedFunction job;
        job.plan = plan;
        job.span = selected_scans(*plan.entry, options_.selection.rt_min);
        job.spectra = job.span.count;
        job.written_scans = job.span.count;
        scans_total_ += job.span.count;
        jobs_.push_back(std::move(job));
    }
    left_out_.functions = unreadable_functions(acquisition_, options_);
    if (!options_.processing.empty()) {
        TV_ASSIGN_OR_RETURN(processing::ScanProcessing prepared,
                            processing::prepare(acquisition_.reader(), options_.processing));
        processing_ = std::make_shared<const processing::ScanProcessing>(std::move(prepared));
    }
    return {};
}

Result<void> Conversion::report_progress() const {
    return progress_ ? progress_(scans_done_, scans_total_) : Result<void>{};
}

// Calls each(batch, first_scan) for the batches of the function's selected times, in scan order.
template <class Each> Result<void> Conversion::for_each_batch(const SelectedFunction& job, Each&& each) {
    const FunctionEntry& entry = *job.plan.entry;
    const columns::Column<float> rt_min = columns::retention_times(entry);
    const BatchFilter filter{options_.on_error, options_.selection.rt_min, options_.selection.mz,
                             processing_};
    for (std::uint64_t first = job.span.first; first < job.span.last;) {
        const std::uint64_t last = std::min(batch_end(entry, first, options_.batch), job.span.last);
        auto batch = read_batch(acquisition_.reader(), entry, rt_min, first, last, options_.threads, filter);
        if (!batch) {
            damaged_ = true;
            return fail(std::move(batch).error());
        }
        TV_RETURN_IF_ERROR(each(*batch, first));
        first = last;
    }
    return {};
}

// Decodes every selected scan once: how many spectra each function gives (per drift
// bin, only decoding tells), and which scans cannot be read.
Result<void> Conversion::survey() {
    const bool per_bin = options_.ims == ImsLayout::PerBin;
    scans_done_ = 0;
    for (SelectedFunction& job : jobs_) {
        job.spectra = 0;
        job.written_scans = 0;
        job.skipped.clear();
        TV_RETURN_IF_ERROR(for_each_batch(job, [&](const DecodedBatch& batch, std::uint64_t) -> Result<void> {
            const std::uint64_t written = count_written(batch.written);
            job.written_scans += written;
            job.spectra +=
                per_bin && job.plan.ion_mobility ? count_drift_bins(batch.columns, batch.written) : written;
            for (const SkippedScan& skipped : batch.skipped) {
                TV_LOG(log::Level::Warn, kTarget, "skipping " + skipped.error);
                job.skipped.push_back(skipped.scan);
            }
            return report_progress(); // without progress: the scans are decoded again to be written
        }));
    }
    surveyed_ = true;
    return {};
}

// Reads every channel once; with skipping, those that cannot be read are left out.
void Conversion::survey_channels() {
    if (!acquisition_.channel_table()) return;
    for (const raw::ChromChannel& channel : acquisition_.channel_table()->channels) {
        auto points = acquisition_.read_chrom(channel.index);
        if (points) continue;
        TV_LOG(log::Level::Warn, kTarget,
               std::format("skipping {} chromatogram channel {}: {}", display_path(acquisition_.dir()),
                           channel.index, points.error().message()));
        left_out_.channels.push_back({channel.index, points.error().message()});
    }
}

// A scan that could not be read while writing: before the survey, the file is started
// again once every scan was decoded; after it, the run changed under the conversion.
Result<void> Conversion::check_skipped(const SelectedFunction& job, const DecodedBatch& batch,
                                       std::uint64_t first, std::uint64_t last) {
    const auto begin = std::ranges::lower_bound(job.skipped, first);
    const auto end = std::ranges::lower_bound(job.skipped, last);
    const bool as_surveyed =
        std::ranges::equal(std::ranges::subrange(begin, end), batch.skipped, {}, {}, &SkippedScan::scan);
    if (as_surveyed) return {};
    damaged_ = !surveyed_;
    if (!surveyed_) return parse_error(batch.skipped.front().error);
    return parse_error(std::format("function {}: the scans that cannot be read changed during the conversion",
                                   job.plan.entry->number));
}

Result<void> Conversion::write_function(mzml::Writer& writer, const SelectedFunction& job,
                                        FunctionTraces& traces) {
    traces.function = job.plan.entry->number;
    // One value per scan, kept until the chromatograms are written: sized once rather
    // than grown, so that they hold no more than the run needs.
    traces.time_minutes.reserve(job.written_scans);
    traces.tic.reserve(job.written_scans);
    traces.base_peak.reserve(job.written_scans);
    return for_each_batch(job, [&](const DecodedBatch& batch, std::uint64_t first) -> Result<void> {
        const std::size_t n = batch.columns.n_scans();
        TV_RETURN_IF_ERROR(check_skipped(job, batch, first, first + n));
        spectra_.build(job.plan, batch.columns, first, options_.ims, batch.written);
        TV_RETURN_IF_ERROR(writer.write_spectra(spectra_.inputs()));
        const std::span<const float> rt_min = batch.columns.rt_min.view();
        for (std::size_t i = 0; i < n; ++i) {
            if (batch.written[i] == 0) continue;
            traces.time_minutes.push_back(static_cast<double>(rt_min[i]));
            traces.tic.push_back(batch.traces[i].tic);
            traces.base_peak.push_back(batch.traces[i].base_peak);
        }
        scans_done_ += n;
        return report_progress();
    });
}

std::vector<const raw::ChromChannel*> Conversion::channels_to_write() const {
    std::vector<const raw::ChromChannel*> channels;
    if (!acquisition_.channel_table()) return channels;
    for (const raw::ChromChannel& channel : acquisition_.channel_table()->channels)
        if (!std::ranges::contains(left_out_.channels, channel.index, &LeftOutItem::number))
            channels.push_back(&channel);
    return channels;
}

Result<void> Conversion::write_channels(mzml::Writer& writer) {
    for (const raw::ChromChannel* channel : channels_to_write()) {
        auto points = acquisition_.read_chrom(channel->index);
        if (!points) {
            damaged_ = true;
            return parse_error(
                std::format("chromatogram channel {}: {}", channel->index, points.error().message()));
        }
        std::vector<double> time;
        std::vector<double> values;
        time.reserve(points->size());
        values.reserve(points->size());
        for (const raw::ChromPoint& point : *points) {
            time.push_back(static_cast<double>(point.rt_min));
            values.push_back(static_cast<double>(point.value));
        }
        const mzml::ChromatogramInput input{.id = std::format("channel {}", channel->index),
                                            .kind = mzml::ChromatogramKind::InstrumentChannel,
                                            .channel_name = channel->name,
                                            .channel_units = channel->units,
                                            .time_minutes = time,
                                            .values = values};
        TV_RETURN_IF_ERROR(writer.write_chromatograms({&input, 1}));
    }
    return {};
}

mzml::FileContent Conversion::content() const {
    mzml::FileContent content;
    bool traces = false;
    for (const SelectedFunction& job : jobs_) {
        traces = traces || job.written_scans > 0;
        if (job.spectra == 0) continue;
        (job.plan.ms_level == 1 ? content.ms1 : content.msn) = true;
        content.ion_mobility = content.ion_mobility || job.plan.ion_mobility;
    }
    if (traces)
        content.chromatograms = {mzml::Term::TotalIonCurrentChromatogram, mzml::Term::BasePeakChromatogram};
    for (const raw::ChromChannel* channel : channels_to_write()) {
        const mzml::Term type = mzml::channel_chromatogram_type(channel->name, channel->units);
        if (!std::ranges::contains(content.chromatograms, type)) content.chromatograms.push_back(type);
    }
    if (const auto& polarity = acquisition_.reader().extern_inf.polarity)
        content.polarity =
            *polarity == raw::Polarity::Positive ? mzml::Polarity::Positive : mzml::Polarity::Negative;
    return content;
}

Result<ConversionSummary> Conversion::write(const std::filesystem::path& out) {
    TV_ASSIGN_OR_RETURN(mzml::RunDescription description, describe_run(acquisition_));
    left_out_.scans.clear();
    std::uint64_t traced = 0;
    for (const SelectedFunction& job : jobs_) {
        if (!job.skipped.empty()) left_out_.scans.push_back({job.plan.entry->number, job.skipped});
        description.spectrum_count += job.spectra;
        if (job.written_scans > 0) ++traced;
    }
    description.chromatogram_count = 2 * traced + channels_to_write().size();
    description.content = content();
    description.processing_notes = processing_notes(options_.selection, left_out_);
    if (processing_) {
        std::vector<FunctionPlan> plans;
        plans.reserve(jobs_.size());
        for (const SelectedFunction& job : jobs_) plans.push_back(job.plan);
        description.processing = data_processing(*processing_, plans);
    }
    TV_ASSIGN_OR_RETURN(mzml::Writer writer,
                        mzml::Writer::create(out, description, writer_options(options_)));

    scans_done_ = 0;
    std::vector<FunctionTraces> traces(jobs_.size());
    for (std::size_t f = 0; f < jobs_.size(); ++f)
        if (jobs_[f].written_scans > 0) TV_RETURN_IF_ERROR(write_function(writer, jobs_[f], traces[f]));
    for (std::size_t f = 0; f < jobs_.size(); ++f) {
        if (jobs_[f].written_scans == 0) continue;
        FunctionTraces& trace = traces[f];
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
    return ConversionSummary{description.spectrum_count, description.chromatogram_count, scans_total_,
                             left_out_};
}

ConversionResult<ConversionSummary> Conversion::run(const std::filesystem::path& out) {
    const auto failed = [this](Error error) {
        // With skipping asked for already, a failure is never one skipping would mend.
        return std::unexpected(ConversionFailure{std::move(error), damaged_ && !skipping()});
    };
    if (auto planned = plan(); !planned) return failed(std::move(planned).error());
    const bool counting =
        options_.ims == ImsLayout::PerBin &&
        std::ranges::any_of(jobs_, [](const SelectedFunction& job) { return job.plan.ion_mobility; });
    if (skipping()) survey_channels();
    if (counting)
        if (auto surveyed = survey(); !surveyed) return failed(std::move(surveyed).error());
    if (skipping() && !surveyed_) {
        auto written = write(out);
        if (written) return std::move(*written);
        if (!damaged_) return failed(std::move(written).error());
        damaged_ = false;
        if (auto surveyed = survey(); !surveyed) return failed(std::move(surveyed).error());
    }
    auto written = write(out);
    if (!written) return failed(std::move(written).error());
    return std::move(*written);
}

// The reader's own error where it has one; the acquisition's text otherwise.
Error open_error(const std::filesystem::path& raw, const QueryError& error) {
    auto reader = Reader::open(raw);
    if (!reader) return std::move(reader).error();
    return Error::parse(error.message());
}

} // namespace

ConversionResult<ConversionSummary> convert_to_mzml(const std::filesystem::path& raw,
                                                    const std::filesystem::path& out,
                                                    const ConversionOptions& options,
                                                    const Progress& progress) {
    const auto failed = [&raw](Error inner, bool damaged = false) {
        return std::unexpected(
            ConversionFailure{Error::context("converting " + display_path(raw), std::move(inner)), damaged});
    };
    if (options.threads < 1 || options.threads > max_threads)
        return failed(
            Error::parse(std::format("{} threads; 1 to {} are possible", options.threads, max_threads)));
    if (auto checked = check_selection(options.selection); !checked)
        return failed(std::move(checked).error());
    if (!names_directory(raw)) return failed(Error::parse("not a directory"));
    auto acquisition = Acquisition::open(raw);
    if (!acquisition) return failed(open_error(raw, acquisition.error()));
    Conversion conversion(*acquisition, options, progress);
    auto summary = conversion.run(out);
    if (!summary) return failed(std::move(summary.error().error), summary.error().damaged);
    return summary;
}

} // namespace tarnvale::exporter
