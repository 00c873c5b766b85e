// A raw directory from a fuzzer's byte string: the input is cut at each kSeparator
// into the files of a directory, in the order of kFileNames (a missing part leaves
// its file out), written into a fresh temporary directory. Included by one fuzz
// target each: it defines the target's LLVMFuzzerInitialize.
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

#include "fuzz_input.hpp"
#include "log.hpp"

namespace tarnvale::fuzzing {

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

// A fresh directory under the temporary directory, removed with every file in it on destruction.
class ScratchDir {
  public:
    ScratchDir() {
        const char* tmp = std::getenv("TMPDIR");
        path_ = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/tarnvale-fuzz-XXXXXX";
        if (::mkdtemp(path_.data()) == nullptr) std::abort();
    }
    ~ScratchDir() {
        if (DIR* listing = ::opendir(path_.c_str())) {
            while (const dirent* entry = ::readdir(listing)) {
                const std::string_view name = entry->d_name;
                if (name != "." && name != "..") ::unlink((path_ + "/" + entry->d_name).c_str());
            }
            ::closedir(listing);
        }
        ::rmdir(path_.c_str());
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const std::string& path() const { return path_; }

    void write(const std::string& name, std::string_view content) const {
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

inline void write_parts(const ScratchDir& dir, const std::uint8_t* data, std::size_t size) {
    std::string_view input(reinterpret_cast<const char*>(data), size);
    for (const char* name : kFileNames) {
        const std::size_t end = input.find(kSeparator);
        dir.write(name, input.substr(0, end));
        if (end == std::string_view::npos) return;
        input.remove_prefix(end + kSeparator.size());
    }
}

} // namespace tarnvale::fuzzing

// Every target on raw directories formats every log record of every level.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
    tarnvale::log::set_sink(std::make_unique<tarnvale::fuzzing::FormattingSink>());
    tarnvale::log::set_max_level(tarnvale::log::Level::Trace);
    return 0;
}
