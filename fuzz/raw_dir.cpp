// A whole raw directory, opened and read as RawReader does. The input is cut at each
// kSeparator into the files of a directory, in the order of kFileNames (a missing
// part leaves its file out), written into a fresh temporary directory; the target
// opens it, decodes every scan of every function, asks every retention time and
// reads every chromatogram channel, with every log line formatted.
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <variant>

#include "fuzz_input.hpp"
#include "log.hpp"
#include "reader/acquisition.hpp"

namespace {

using namespace tarnvale;

constexpr std::string_view kSeparator = "#@FILE@#";

constexpr std::array<const char*, 11> kFileNames = {
    "_HEADER.TXT",  "_extern.inf",  "_FUNCTNS.INF", "_FUNC001.IDX", "_FUNC001.DAT", "_FUNC001.STS",
    "_FUNC002.IDX", "_FUNC002.DAT", "_FUNC002.STS", "_CHROMS.INF",  "_CHRO003.DAT",
};

// Every record is formatted, so that the log lines' formatting is fuzzed too.
class FormattingSink final : public log::Sink {
  public:
    bool enabled(log::Level, std::string_view) const override { return true; }
    void log(const log::Record& record) override { fuzzing::require(!record.message().empty()); }
    void flush() override {}
};

// A fresh directory under the temporary directory, removed with its files on destruction.
class ScratchDir {
  public:
    ScratchDir() {
        const char* tmp = std::getenv("TMPDIR");
        path_ = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/tarnvale-fuzz-XXXXXX";
        if (::mkdtemp(path_.data()) == nullptr) std::abort();
    }
    ~ScratchDir() {
        for (const char* name : kFileNames) ::unlink((path_ + "/" + name).c_str());
        ::rmdir(path_.c_str());
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const std::string& path() const { return path_; }

    void write(const char* name, std::string_view content) const {
        const int fd = ::open((path_ + "/" + name).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (fd < 0) std::abort();
        for (std::size_t done = 0; done < content.size();) {
            const ssize_t wrote = ::write(fd, content.data() + done, content.size() - done);
            if (wrote <= 0) std::abort();
            done += static_cast<std::size_t>(wrote);
        }
        ::close(fd);
    }

  private:
    std::string path_;
};

void write_parts(const ScratchDir& dir, std::string_view input) {
    for (const char* name : kFileNames) {
        const std::size_t end = input.find(kSeparator);
        dir.write(name, input.substr(0, end));
        if (end == std::string_view::npos) return;
        input.remove_prefix(end + kSeparator.size());
    }
}

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

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    log::set_sink(std::make_unique<FormattingSink>());
    log::set_max_level(log::Level::Trace);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const ScratchDir dir;
    write_parts(dir, std::string_view(reinterpret_cast<const char*>(data), size));
    const auto acquisition = Acquisition::open(dir.path());
    if (acquisition)
        read_everything(*acquisition);
    else
        fuzzing::require(!acquisition.error().message().empty());
    return 0;
}
