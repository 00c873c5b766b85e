// The indexed writer: offsets, indexListOffset and checksum are exact; the bytes do
// not depend on the thread count or on how spectra are batched; bad input is
// refused with a message naming the file and nothing appears under its name; and
// each spectrum carries the parameters its input asks for.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <format>
#include <functional>
#include <string>
#include <vector>

#include <libdeflate.h>
#include <memory>

#include "io.hpp"
#include "mzml/gzip_members.hpp"
#include "mzml/header_xml.hpp"
#include "mzml/sha1.hpp"
#include "mzml/spectrum_xml.hpp"
#include "mzml/support/synthetic.hpp"
#include "mzml/worker_pool.hpp"
#include "mzml/writer.hpp"
#include "support/support.hpp"

namespace tarnvale::mzml {
namespace {

using tarnvale::testing::TempDir;
using testing::SyntheticRun;

// Writes the run in batches of the given sizes (the last one repeated) and returns
// the file's text, or the error's.
std::string write_run(const SyntheticRun& run, const std::filesystem::path& path, Options options,
                      std::vector<std::size_t> batches = {1000}) {
    const auto spectra = run.spectrum_inputs();
    const auto chromatograms = run.chromatogram_inputs();
    auto writer = Writer::create(path, run.run, options);
    if (!writer) return writer.error().to_string();
    std::span<const SpectrumInput> rest = spectra;
    for (std::size_t i = 0; !rest.empty(); ++i) {
        const std::size_t size = std::min(rest.size(), batches[std::min(i, batches.size() - 1)]);
        if (auto status = writer->write_spectra(rest.first(size)); !status) return status.error().to_string();
        rest = rest.subspan(size);
    }
    if (auto status = writer->write_chromatograms(chromatograms); !status) return status.error().to_string();
    if (auto status = writer->finish(); !status) return status.error().to_string();
    const auto bytes = read_whole_file(path, SizeLimit{256 * kMiB, "a written mzML file"});
    return bytes ? std::string(bytes->begin(), bytes->end()) : bytes.error().to_string();
}

// The text of a gzip file of one or more members.
std::string gunzip(const std::string& file) {
    const std::unique_ptr<libdeflate_decompressor, decltype(&libdeflate_free_decompressor)> decompressor(
        libdeflate_alloc_decompressor(), &libdeflate_free_decompressor);
    std::string text;
    for (std::size_t at = 0; at < file.size();) {
        std::string member(GzipMembers::member_size, '\0');
        std::size_t in = 0, out = 0;
        if (libdeflate_gzip_decompress_ex(decompressor.get(), file.data() + at, file.size() - at,
                                          member.data(), member.size(), &in, &out) != LIBDEFLATE_SUCCESS)
            return "not gzip at byte " + std::to_string(at);
        text.append(member, 0, out);
        at += in;
    }
    return text;
}

// With gzip: the options of the whole file, numpress and 32-bit m/z too.
constexpr Options compact = {.compression = Compression::Zlib,
                             .threads = 1,
                             .numpress = true,
                             .mz_precision = Precision::Float32,
                             .gzip = true};

std::string sha1_hex(std::string_view text) {
    auto sha1 = Sha1::create();
    sha1->update(text);
    return to_hex(*sha1->finish());
}

// The text between `open` and the next `close` from `from` on; `from` moves past it.
std::string between(const std::string& text, std::string_view open, std::string_view close,
                    std::size_t& from) {
    const std::size_t start = text.find(open, from);
    if (start == std::string::npos) return (from = std::string::npos, "");
    const std::size_t end = text.find(close, start + open.size());
    from = end;
    return text.substr(start + open.size(), end - start - open.size());
}

// Checks that every offset in one <index> names the element it points at.
std::size_t expect_offsets(const std::string& file, std::size_t index_at, std::string_view kind) {
    const std::size_t end = file.find("</index>", index_at);
    std::size_t count = 0;
    for (std::size_t at = index_at;;) {
        const std::string id = between(file, "<offset idRef=\"", "\">", at);
        if (at == std::string::npos || at > end) break;
        const std::uint64_t offset = std::strtoull(file.c_str() + at + 2, nullptr, 10);
        const std::string element = std::format("<{} index=\"{}\" id=\"{}\"", kind, count++, id);
        EXPECT_EQ(file.compare(offset, element.size(), element), 0) << id;
    }
    return count;
}

// Every offset names the element it points at, indexListOffset points at
// <indexList and the checksum covers everything up to its own open tag.
void expect_consistent_index(const std::string& file, std::size_t spectra, std::size_t chromatograms) {
    const std::size_t index_list = file.find("<indexList ");
    ASSERT_NE(index_list, std::string::npos);
    EXPECT_EQ(expect_offsets(file, file.find("<index name=\"spectrum\">", index_list), "spectrum"), spectra);
    EXPECT_EQ(expect_offsets(file, file.find("<index name=\"chromatogram\">", index_list), "chromatogram"),
              chromatograms);
    std::size_t at = index_list;
    EXPECT_EQ(between(file, "<indexListOffset>", "</indexListOffset>", at), std::to_string(index_list));
    const std::size_t checksum_at = file.find("<fileChecksum>", index_list) + 14;
    const std::string checksum = between(file, "<fileChecksum>", "</fileChecksum>", at);
    EXPECT_EQ(checksum, sha1_hex(std::string_view(file).substr(0, checksum_at)));
    EXPECT_EQ(file.substr(at), "</fileChecksum>\n</indexedmzML>\n");
}

TEST(MzmlWriter, IndexAndChecksumAreExact) {
    const TempDir dir;
    for (const bool per_bin : {false, true}) {
        const SyntheticRun run = testing::sample_run(per_bin);
        const std::string file = write_run(run, dir.path() / "run.mzML", {});
        SCOPED_TRACE(per_bin ? "per drift bin" : "combined");
        expect_consistent_index(file, run.spectra.size(), run.chromatograms.size());
    }
}

TEST(MzmlWriter, BytesDoNotDependOnThreadsOrBatches) {
    const TempDir dir;
    for (const bool per_bin : {false, true}) {
        SyntheticRun run = testing::sample_run(per_bin);
        for (std::uint64_t scan = 0; scan < 40; ++scan) // enough spectra to keep 8 workers busy
            run.spectra.push_back(testing::random_spectrum(5, scan, 500, static_cast<std::uint32_t>(scan)));
        run.run.spectrum_count = run.spectra.size();
        for (Options options : {Options{.compression = Compression::None}, Options{}, compact}) {
            const std::string reference = write_run(run, dir.path() / "a.mzML", options);
            ASSERT_TRUE((options.gzip ? gunzip(reference) : reference).starts_with("<?xml")) << reference;
            const std::pair<unsigned, std::vector<std::size_t>> variants[] = {
                {2, {1000}}, {8, {1000}}, {1, {1}}, {8, {1}}, {2, {3, 17, 5}}, {8, {7}}};
            for (const auto& [threads, batches] : variants) {
                SCOPED_TRACE(std::to_string(threads) + " threads, first batch " + std::to_string(batches[0]));
                options.threads = threads;
                EXPECT_TRUE(write_run(run, dir.path() / "b.mzML", options, batches) == reference);
            }
        }
    }
}

// On one thread spectra are rendered straight into the output's buffer; elements far
// larger than that buffer, and small ones after them, keep the bytes and the offsets
// of the threaded path. Compressed as gzip, the file spans several members and holds
// exactly the bytes written without gzip, index and checksum included.
TEST(MzmlWriter, ElementsLargerThanTheOutputBuffer) {
    const TempDir dir;
    SyntheticRun run = testing::sample_run(false);
    const std::size_t points[] = {300000, 3, 0, 90000, 450000, 1, 70000};
    for (std::uint64_t scan = 0; scan < std::size(points); ++scan)
        run.spectra.push_back(testing::random_spectrum(5, scan, points[scan], scan + 1));
    run.run.spectrum_count = run.spectra.size();
    for (const Compression compression : {Compression::None, Compression::Zlib}) {
        SCOPED_TRACE(compression == Compression::None ? "uncompressed" : "zlib");
        const std::string one = write_run(run, dir.path() / "a.mzML", {compression, 1}, {2, 1, 4});
        ASSERT_TRUE(one.starts_with("<?xml")) << one.substr(0, 200);
        expect_consistent_index(one, run.spectra.size(), run.chromatograms.size());
        EXPECT_TRUE(write_run(run, dir.path() / "b.mzML", {compression, 2}) == one);
        Options gzip{compression, 1};
        gzip.gzip = true;
        const std::string zipped = write_run(run, dir.path() / "a.mzML.gz", gzip, {2, 1, 4});
        EXPECT_GT(zipped.size() / GzipMembers::member_size, 0u);
        EXPECT_TRUE(gunzip(zipped) == one);
        gzip.threads = 2;
        EXPECT_TRUE(write_run(run, dir.path() / "b.mzML.gz", gzip) == zipped);
    }
}

struct BadInput {
    std::string name;
    std::function<void(SyntheticRun&, Options&)> change;
    std::string error; // after "writing <path>: "
};

TEST(MzmlWriter, BadInputIsRefusedAndLeavesNothing) {
    // clang-format off
    const BadInput cases[] = {
        {"mismatched arrays", [](SyntheticRun& r, Options&) { r.spectra[1].intensity.pop_back(); },
         "parse error: spectrum function=1 process=0 scan=1: 50 m/z values but 49 intensities"},
        {"mismatched drift array", [](SyntheticRun& r, Options&) { r.spectra[9].drift_times_ms->push_back(1); },
         "parse error: spectrum function=3 process=0 scan=0: 80 m/z values but 81 drift times"},
        {"drift bin without time", [](SyntheticRun& r, Options&) { r.spectra[0].meta.drift_bin = 3; },
         "parse error: spectrum function=1 process=0 scan=0 driftBin=3: a drift bin and its drift time go together"},
        {"function 0", [](SyntheticRun& r, Options&) { r.spectra[0].meta.function = 0; },
         "parse error: spectrum function=0 process=0 scan=0: function numbers start at 1"},
        {"ms level 0", [](SyntheticRun& r, Options&) { r.spectra[2].meta.ms_level = 0; },
         "parse error: spectrum function=1 process=0 scan=2: ms level 0"},
        {"more spectra than announced", [](SyntheticRun& r, Options&) { --r.run.spectrum_count; },
         "parse error: more than the 13 spectra announced"},
        {"fewer spectra than announced", [](SyntheticRun& r, Options&) { ++r.run.spectrum_count; },
         "parse error: 15 spectra announced, 14 written"},
        {"fewer chromatograms than announced", [](SyntheticRun& r, Options&) { ++r.run.chromatogram_count; },
         "parse error: 12 chromatograms announced, 11 written"},
        {"duplicate chromatogram id", [](SyntheticRun& r, Options&) { r.chromatograms[1].meta.id = "TIC function=1"; },
         "parse error: two chromatograms with the id \"TIC function=1\""},
        {"chromatogram arrays", [](SyntheticRun& r, Options&) { r.chromatograms[0].values.push_back(1); },
         "parse error: chromatogram \"TIC function=1\": 4 times but 5 values"},
        {"checksum", [](SyntheticRun& r, Options&) { r.run.function_table_sha1 = "ABC"; },
         "parse error: the function table checksum is not 40 lower-case hexadecimal digits"},
        {"no threads", [](SyntheticRun&, Options& o) { o.threads = 0; },
         "parse error: 0 threads; 1 to 256 are possible"},
    };
    // clang-format on
    const TempDir dir;
    const auto path = dir.path() / "bad.mzML";
    for (const BadInput& c : cases) {
        SyntheticRun run = testing::sample_run(false);
        Options options;
        c.change(run, options);
        EXPECT_EQ(write_run(run, path, options), "writing " + path.string() + ": " + c.error) << c.name;
        EXPECT_TRUE(std::filesystem::is_empty(dir.path())) << c.name;
    }
}

TEST(MzmlWriter, CallsOutOfOrderAreRefused) {
    const TempDir dir;
    const auto path = dir.path() / "order.mzML";
    SyntheticRun run = testing::sample_run(false);
    const auto spectra = run.spectrum_inputs();
    const auto chromatograms = run.chromatogram_inputs();
    auto writer = Writer::create(path, run.run, {});
    ASSERT_TRUE(writer);
    ASSERT_TRUE(writer->write_spectra(spectra));
    ASSERT_TRUE(writer->write_chromatograms(std::span(chromatograms).first(1)));
    EXPECT_EQ(tarnvale::testing::error_text(writer->write_spectra({})),
              "writing " + path.string() +
                  ": parse error: spectra after the chromatograms or after finish()");
    EXPECT_EQ(tarnvale::testing::error_text(writer->finish()),
              "writing " + path.string() + ": parse error: stopped by an earlier error");
    Writer moved = std::move(*writer);
    EXPECT_EQ(tarnvale::testing::error_text(writer->finish()),
              "parse error: this mzML writer was moved from");
}

TEST(MzmlWriter, HeaderDescribesTheRun) {
    const TempDir dir;
    SyntheticRun run = testing::sample_run(false);
    run.run.instrument = "Xevo G2-XS <QTof>";
    run.run.run_id = "2021 run";
    run.run.content = {.ms1 = true, .msn = false, .ion_mobility = false};
    run.chromatograms.clear();
    run.run.chromatogram_count = 0;
    const std::string file = write_run(run, dir.path() / "h.mzML", {});
    const std::string expected[] = {
        "<mzML xmlns=\"http://psi.hupo.org/ms/mzml\"",
        "id=\"2021 run\" version=\"1.1.0\">",
        "<run id=\"_2021_run\" defaultInstrumentConfigurationRef=\"IC1\" defaultSourceFileRef=\"RAW1\">",
        // One expected text over two lines: the model term, then the instrument text.
        "accession=\"MS:1000126\" name=\"Waters instrument model\" value=\"\"/>\n" // NOLINT(bugprone-suspicious-missing-comma)
        "        <userParam name=\"instrument model\" value=\"Xevo G2-XS &lt;QTof&gt;\" "
        "type=\"xsd:string\"/>",
        "<fileContent>\n        <cvParam cvRef=\"MS\" accession=\"MS:1000579\" name=\"MS1 spectrum\" "
        "value=\"\"/>\n"
        "      </fileContent>",
        "name=\"SHA-1\" value=\"0123456789abcdef0123456789abcdef01234567\"",
        "<software id=\"tarnvale\" version=\"0.1.0\">",
        "      </spectrumList>\n    </run>", // no chromatogram list without chromatograms
    };
    for (const std::string& text : expected) EXPECT_NE(file.find(text), std::string::npos) << text;
    expect_consistent_index(file, run.spectra.size(), 0);
}

// The acquisition's own texts are escaped as the instrument's is: markup stays text,
// and characters XML 1.0 cannot carry (C0 controls, U+FFFE) become U+FFFD. The sample
// list lies between the file description and the software list, as the schema orders it.
TEST(MzmlWriter, HeaderCarriesTheAcquisitionsTextsSafely) {
    RunDescription run = testing::sample_run(false).run;
    run.sample_name = "a<&>\"'\x01z\xEF\xBF\xBE";
    run.sample_description = "tab\there\x1F";
    run.operator_name = "\x0Bop";
    run.start_time_stamp = "2021-01-14T16:20:52";
    run.processing_notes = {{"skipped scans of function 2", "3-5,9"},
                            {"skipped chromatogram channel 0", "<&>"}};
    const std::string header = header_xml(run);
    const std::string replaced = "\xEF\xBF\xBD";
    const std::string name = "a&lt;&amp;&gt;&quot;'" + replaced + "z" + replaced;
    const std::string expected[] = {
        "    </fileDescription>\n    <sampleList count=\"1\">\n      <sample id=\"sample1\" name=\"" + name +
            "\">\n"
            "        <cvParam cvRef=\"MS\" accession=\"MS:1000002\" name=\"sample name\" value=\"" +
            name +
            "\"/>\n"
            "        <userParam name=\"sample description\" value=\"tab&#9;here" +
            replaced +
            "\" type=\"xsd:string\"/>\n"
            "      </sample>\n    </sampleList>\n    <softwareList",
        "name=\"Conversion to mzML\" value=\"\"/>\n"
        "          <userParam name=\"skipped scans of function 2\" value=\"3-5,9\" type=\"xsd:string\"/>\n"
        "          <userParam name=\"skipped chromatogram channel 0\" value=\"&lt;&amp;&gt;\" "
        "type=\"xsd:string\"/>\n"
        "        </processingMethod>",
        "defaultSourceFileRef=\"RAW1\" sampleRef=\"sample1\" startTimeStamp=\"2021-01-14T16:20:52\">\n"
        "      <userParam name=\"operator\" value=\"" +
            replaced +
            "op\" type=\"xsd:string\"/>\n"
            "      <spectrumList",
    };
    for (const std::string& text : expected) EXPECT_NE(header.find(text), std::string::npos) << text;
    for (const char* stamp : {"2021-1-14T16:20:52", "14-Jan-2021 16:20:52", "2021-01-14T16:20:52Z"}) {
        run.start_time_stamp = stamp;
        EXPECT_FALSE(check_run(run)) << stamp;
    }
}

// fileContent always names at least one term of what a data file holds: spectrum
// kinds and ion-current or radiation chromatograms, else the polarity, else the kind
// of data the file was converted from.
TEST(MzmlWriter, FileContentNamesWhatTheFileHolds) {
    struct Case {
        FileContent content;
        std::vector<std::string> accessions;
    };
    const std::vector<Case> cases = {
        {{.ms1 = true, .msn = true}, {"MS:1000579", "MS:1000580"}},
        {{.ms1 = true,
          .chromatograms = {Term::TotalIonCurrentChromatogram, Term::BasePeakChromatogram,
                            Term::PressureChromatogram}},
         {"MS:1000579", "MS:1000235", "MS:1000628"}},
        {{.chromatograms = {Term::PressureChromatogram, Term::AbsorptionChromatogram}}, {"MS:1000812"}},
        {{.chromatograms = {Term::PressureChromatogram, Term::TemperatureChromatogram},
          .polarity = Polarity::Negative},
         {"MS:1000076"}},
        {{.polarity = Polarity::Positive}, {"MS:1000077"}},
        {{}, {"MS:1000294"}},
    };
    for (const Case& c : cases) {
        RunDescription run = testing::sample_run(false).run;
        run.content = c.content;
        std::size_t at = 0;
        const std::string content = between(header_xml(run), "<fileContent>", "</fileContent>", at);
        std::vector<std::string> accessions;
        for (std::size_t from = 0; from != std::string::npos;) {
            const std::string accession = between(content, "accession=\"", "\"", from);
            if (from != std::string::npos) accessions.push_back(accession);
        }
        EXPECT_EQ(accessions, c.accessions) << c.accessions.front();
    }
}

// Renders one spectrum and reports which of the texts it contains.
std::vector<bool> contains(const SpectrumInput& spectrum, const std::vector<std::string>& texts) {
    auto encoder = ArrayEncoder::create({.compression = Compression::None});
    std::string xml;
    append_spectrum(xml, spectrum, 0, *encoder);
    std::vector<bool> found;
    found.reserve(texts.size());
    for (const std::string& text : texts) found.push_back(xml.find(text) != std::string::npos);
    return found;
}

TEST(MzmlWriter, SpectrumParametersFollowTheInput) {
    const std::string lowest = "MS:1000528", base_peak = "name=\"base peak m/z\" value=\"200\"";
    const std::string activation =
        "<activation>\n                <cvParam cvRef=\"MS\" accession=\"MS:1000133\"";
    const std::string energy = "accession=\"MS:1000045\" name=\"collision energy\" value=\"25.5\"";
    const std::string lock_mass =
        "<userParam name=\"lock mass function\" value=\"true\" type=\"xsd:boolean\"/>";
    const std::string drift_array = "accession=\"MS:1003153\"",
                      drift_time = "name=\"ion mobility drift time\"";
    const std::string msn = "MS:1000580", profile = "MS:1000128", polarity = "MS:1000129";
    const std::vector<std::string> texts = {lowest,      base_peak,  activation, energy,  lock_mass,
                                            drift_array, drift_time, msn,        profile, polarity};
    const std::vector<double> mz = {100, 200, 300};
    const std::vector<float> intensity = {1, 9, 9};
    const std::vector<double> drift = {1, 2, 3};
    SpectrumInput plain;
    plain.mz = mz;
    plain.intensity = intensity;
    struct Case {
        std::string name;
        std::function<void(SpectrumInput&)> change;
        std::vector<bool> expected; // per text above
    };
    // clang-format off
    const Case cases[] = {
        {"MS1", [](SpectrumInput&) {}, {1, 1, 0, 0, 0, 0, 0, 0, 0, 0}},
        {"empty", [](SpectrumInput& s) { s.mz = {}; s.intensity = {}; }, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
        {"MSn with energy", [](SpectrumInput& s) { s.ms_level = 2; s.collision_energy = 25.5; },
         {1, 1, 1, 1, 0, 0, 0, 1, 0, 0}},
        {"MSn without energy", [](SpectrumInput& s) { s.ms_level = 2; }, {1, 1, 0, 0, 0, 0, 0, 1, 0, 0}},
        {"MS1 energy not written", [](SpectrumInput& s) { s.collision_energy = 25.5; }, {1, 1, 0, 0, 0, 0, 0, 0, 0, 0}},
        {"lock mass, profile, negative", [](SpectrumInput& s) {
             s.lock_mass = true; s.representation = Representation::Profile; s.polarity = Polarity::Negative; },
         {1, 1, 0, 0, 1, 0, 0, 0, 1, 1}},
        {"ion-mobility scan", [&drift](SpectrumInput& s) { s.drift_times_ms = std::span<const double>(drift); },
         {1, 1, 0, 0, 0, 1, 0, 0, 0, 0}},
        {"drift bin", [](SpectrumInput& s) { s.drift_bin = 4; s.drift_time_ms = 0.278; },
         {1, 1, 0, 0, 0, 0, 1, 0, 0, 0}},
    };
    // clang-format on
    for (const Case& c : cases) {
        SpectrumInput spectrum = plain;
        c.change(spectrum);
        EXPECT_EQ(contains(spectrum, texts), c.expected) << c.name;
    }
}

TEST(MzmlWriter, WorkerPoolRunsEveryItemOnceAndConsumesInOrder) {
    for (const unsigned workers : {1u, 2u, 8u}) {
        WorkerPool pool(workers);
        for (const std::size_t count : {0u, 1u, 5u, 1000u}) {
            std::vector<std::atomic<int>> runs(count);
            std::atomic<bool> worker_in_range = true;
            std::vector<std::size_t> consumed;
            bool consumed_after_run = true;
            pool.run(
                count,
                [&](std::size_t item, unsigned worker) {
                    runs[item].fetch_add(1);
                    if (worker >= pool.size()) worker_in_range = false;
                },
                [&](std::size_t item) {
                    consumed_after_run = consumed_after_run && runs[item].load() == 1;
                    consumed.push_back(item);
                });
            EXPECT_TRUE(std::ranges::all_of(runs, [](const auto& n) { return n.load() == 1; })) << count;
            EXPECT_TRUE(worker_in_range);
            EXPECT_TRUE(consumed_after_run);
            std::vector<std::size_t> in_order(count);
            for (std::size_t i = 0; i < count; ++i) in_order[i] = i;
            EXPECT_EQ(consumed, in_order);
        }
    }
}

} // namespace
} // namespace tarnvale::mzml
