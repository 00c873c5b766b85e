#include "mzml/writer.hpp"

#include <format>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "display.hpp"
#include "mzml/chromatogram_xml.hpp"
#include "mzml/hashed_output.hpp"
#include "mzml/header_xml.hpp"
#include "mzml/native_id.hpp"
#include "mzml/spectrum_index.hpp"
#include "mzml/spectrum_xml.hpp"
#include "mzml/worker_pool.hpp"
#include "mzml/xml.hpp"

namespace tarnvale::mzml {

namespace {

constexpr unsigned max_threads = 256;

enum class Phase : std::uint8_t { Spectra, Chromatograms, Finished, Failed };

struct ChromatogramEntry {
    std::string id;
    std::uint64_t offset;
};

} // namespace

struct Writer::State {
    HashedOutput output;
    RunDescription run;
    WorkerPool pool;
    std::vector<ArrayEncoder> encoders; // one per worker
    std::vector<std::string> rendered;  // one per item of the current batch
    SpectrumIndex spectra;
    std::vector<ChromatogramEntry> chromatograms;
    std::unordered_set<std::string> chromatogram_ids;
    Phase phase = Phase::Spectra;

    State(HashedOutput output_file, RunDescription description, unsigned threads)
        : output(std::move(output_file)), run(std::move(description)), pool(threads) {}

    Error input_error(Error inner) const {
        return Error::context("writing " + display_path(output.final_path()), std::move(inner));
    }
    template <class T> Result<T> stop(Result<T> result) {
        if (!result) phase = Phase::Failed;
        return result;
    }

    Result<void> start_chromatograms();
    Result<void> write_spectra(std::span<const SpectrumInput> batch);
    Result<void> write_chromatograms(std::span<const ChromatogramInput> batch);
    Result<void> finish();
    Result<void> write_index_list();
    template <class Render, class Record>
    Result<void> render_and_write(std::size_t count, Render&& render_one, Record&& record);
    template <class Render, class Record>
    Result<void> render_in_place(std::size_t count, Render& render_one, Record& record);
};

namespace {

Result<void> count_error(std::string_view what, std::uint64_t announced, std::uint64_t written) {
    return parse_error(std::format("{} {} announced, {} written", announced, what, written));
}

} // namespace

// Renders the items of a batch on the pool's workers, each into its own string, and
// writes them in batch order from the calling thread as they are ready, so that
// writing and hashing overlap with the rendering of later items. record(item,
// offset) notes where each element starts.
template <class Render, class Record>
Result<void> Writer::State::render_and_write(std::size_t count, Render&& render_one, Record&& record) {
    if (pool.size() == 1) return render_in_place(count, render_one, record);
    rendered.resize(count); // strings of an earlier, larger batch are let go
    Result<void> status;
    const auto render_item = [&](std::size_t item, unsigned worker) {
        rendered[item].clear();
        render_one(rendered[item], item, encoders[worker]);
    };
    const auto write_item = [&](std::size_t item) {
        if (status) status = output.write(list_item_indent);
        if (!status) return;
        record(item, output.position());
        status = output.write(rendered[item]);
    };
    pool.run(count, render_item, write_item);
    return status;
}

// With no other thread to render ahead, each item is rendered straight into the
// output's buffer: the same bytes, without a string per item to copy them from.
template <class Render, class Record>
Result<void> Writer::State::render_in_place(std::size_t count, Render& render_one, Record& record) {
    for (std::size_t item = 0; item < count; ++item) {
        TV_RETURN_IF_ERROR(output.write(list_item_indent));
        record(item, output.position());
        TV_RETURN_IF_ERROR(output.write_with([&](std::string& out) { render_one(out, item, encoders[0]); }));
    }
    return {};
}

Result<void> Writer::State::write_spectra(std::span<const SpectrumInput> batch) {
    if (phase != Phase::Spectra)
        return fail(input_error(Error::parse("spectra after the chromatograms or after finish()")));
    if (batch.size() > run.spectrum_count - spectra.size())
        return fail(
            input_error(Error::parse(std::format("more than the {} spectra announced", run.spectrum_count))));
    for (const SpectrumInput& spectrum : batch)
        if (auto checked = check_spectrum(spectrum); !checked)
            return fail(input_error(std::move(checked).error()));
    const std::uint64_t first_index = spectra.size();
    return render_and_write(
        batch.size(),
        [first_index, batch](std::string& out, std::size_t item, ArrayEncoder& encoder) {
            append_spectrum(out, batch[item], first_index + item, encoder);
        },
        [this, batch](std::size_t item, std::uint64_t offset) {
            spectra.add(batch[item].function, batch[item].scan, batch[item].drift_bin, offset);
        });
}

Result<void> Writer::State::start_chromatograms() {
    if (spectra.size() != run.spectrum_count)
        return fail(input_error(count_error("spectra", run.spectrum_count, spectra.size()).error()));
    phase = Phase::Chromatograms;
    return output.write(between_lists_xml(run));
}

Result<void> Writer::State::write_chromatograms(std::span<const ChromatogramInput> batch) {
    if (phase == Phase::Spectra) TV_RETURN_IF_ERROR(start_chromatograms());
    if (phase != Phase::Chromatograms) return fail(input_error(Error::parse("chromatograms after finish()")));
    if (batch.size() > run.chromatogram_count - chromatograms.size())
        return fail(input_error(
            Error::parse(std::format("more than the {} chromatograms announced", run.chromatogram_count))));
    for (const ChromatogramInput& chromatogram : batch) {
        if (auto checked = check_chromatogram(chromatogram); !checked)
            return fail(input_error(std::move(checked).error()));
        if (!chromatogram_ids.insert(chromatogram.id).second)
            return fail(input_error(
                Error::parse(std::format("two chromatograms with the id \"{}\"", chromatogram.id))));
    }
    const std::uint64_t first_index = chromatograms.size();
    return render_and_write(
        batch.size(),
        [first_index, batch](std::string& out, std::size_t item, ArrayEncoder& encoder) {
            append_chromatogram(out, batch[item], first_index + item, encoder);
        },
        [this, batch](std::size_t item, std::uint64_t offset) {
            chromatograms.push_back({batch[item].id, offset});
        });
}

// One <offset> line per spectrum and chromatogram, in file order, written as it is made.
Result<void> Writer::State::write_index_list() {
    TV_RETURN_IF_ERROR(output.write("<indexList count=\"2\">\n    <index name=\"spectrum\">\n"));
    std::string line;
    Result<void> status;
    spectra.for_each([&](std::uint32_t function, std::uint64_t scan, std::optional<std::uint32_t> bin,
                         std::uint64_t offset) {
        if (!status) return;
        line.assign("      <offset idRef=\"");
        append_spectrum_id(line, function, scan, bin);
        std::format_to(std::back_inserter(line), "\">{}</offset>\n", offset);
        status = output.write(line);
    });
    if (!status) return status;
    TV_RETURN_IF_ERROR(output.write("    </index>\n    <index name=\"chromatogram\">\n"));
    for (const ChromatogramEntry& entry : chromatograms) {
        line.assign("      <offset");
        append_attribute(line, "idRef", entry.id);
        std::format_to(std::back_inserter(line), ">{}</offset>\n", entry.offset);
        TV_RETURN_IF_ERROR(output.write(line));
    }
    return output.write("    </index>\n  </indexList>\n");
}

Result<void> Writer::State::finish() {
    if (phase == Phase::Spectra) TV_RETURN_IF_ERROR(start_chromatograms());
    if (phase != Phase::Chromatograms) return fail(input_error(Error::parse("finish() called twice")));
    if (chromatograms.size() != run.chromatogram_count)
        return fail(
            input_error(count_error("chromatograms", run.chromatogram_count, chromatograms.size()).error()));
    TV_RETURN_IF_ERROR(output.write(after_lists_xml(run)));
    TV_RETURN_IF_ERROR(output.write("  "));
    const std::uint64_t index_list_offset = output.position();
    TV_RETURN_IF_ERROR(write_index_list());
    TV_RETURN_IF_ERROR(output.write(
        std::format("  <indexListOffset>{}</indexListOffset>\n  <fileChecksum>", index_list_offset)));
    TV_ASSIGN_OR_RETURN(const std::string checksum, output.finish_checksum());
    TV_RETURN_IF_ERROR(output.write(checksum + "</fileChecksum>\n</indexedmzML>\n"));
    TV_RETURN_IF_ERROR(output.commit());
    phase = Phase::Finished;
    return {};
}

Writer::Writer(std::unique_ptr<State> state) : state_(std::move(state)) {}
Writer::Writer(Writer&&) noexcept = default;
Writer& Writer::operator=(Writer&&) noexcept = default;
Writer::~Writer() = default;

Result<Writer> Writer::create(const std::filesystem::path& path, const RunDescription& run,
                              const Options& options) {
    const auto invalid = [&path](Error inner) {
        return fail(Error::context("writing " + display_path(path), std::move(inner)));
    };
    if (options.threads < 1 || options.threads > max_threads)
        return invalid(
            Error::parse(std::format("{} threads; 1 to {} are possible", options.threads, max_threads)));
    if (auto checked = check_run(run); !checked) return invalid(std::move(checked).error());
    TV_ASSIGN_OR_RETURN(HashedOutput output, HashedOutput::create(path, options.gzip));
    auto state = std::make_unique<State>(std::move(output), run, options.threads);
    for (unsigned worker = 0; worker < state->pool.size(); ++worker) {
        TV_ASSIGN_OR_RETURN(ArrayEncoder encoder, ArrayEncoder::create(options.arrays()));
        state->encoders.push_back(std::move(encoder));
    }
    TV_RETURN_IF_ERROR(state->output.write(header_xml(run)));
    return Writer(std::move(state));
}

namespace {

Result<void> moved_from() { return parse_error("this mzML writer was moved from"); }

Result<void> stopped(const std::filesystem::path& path) {
    return fail(Error::context("writing " + display_path(path), Error::parse("stopped by an earlier error")));
}

} // namespace

Result<void> Writer::write_spectra(std::span<const SpectrumInput> batch) {
    if (state_ == nullptr) return moved_from();
    if (state_->phase == Phase::Failed) return stopped(state_->output.final_path());
    return state_->stop(state_->write_spectra(batch));
}

Result<void> Writer::write_chromatograms(std::span<const ChromatogramInput> batch) {
    if (state_ == nullptr) return moved_from();
    if (state_->phase == Phase::Failed) return stopped(state_->output.final_path());
    return state_->stop(state_->write_chromatograms(batch));
}

Result<void> Writer::finish() {
    if (state_ == nullptr) return moved_from();
    if (state_->phase == Phase::Failed) return stopped(state_->output.final_path());
    return state_->stop(state_->finish());
}

} // namespace tarnvale::mzml
