#include "support/log_capture.hpp"

#include <memory>
#include <mutex>
#include <stdexcept>

namespace tarnvale::testing {

namespace {

class CaptureSink final : public log::Sink {
  public:
    bool enabled(log::Level, std::string_view) const override { return true; }

    void log(const log::Record& record) override {
        CapturedRecord captured{record.level(), std::string(record.target()), record.message(),
                                record.file() != nullptr ? record.file() : "", record.line()};
        const std::lock_guard lock(mutex_);
        records_.push_back(std::move(captured));
    }

    void flush() override {}

    std::vector<CapturedRecord> snapshot() const {
        const std::lock_guard lock(mutex_);
        return records_;
    }

    void clear() {
        const std::lock_guard lock(mutex_);
        records_.clear();
    }

  private:
    mutable std::mutex mutex_;
    std::vector<CapturedRecord> records_;
};

// The sink is owned by the logging facade once installed; this pointer only observes it.
CaptureSink* install_once() {
    static CaptureSink* const sink = [] {
        auto owned = std::make_unique<CaptureSink>();
        CaptureSink* observed = owned.get();
        if (!log::set_sink(std::move(owned)))
            throw std::logic_error("LogCapture: another log sink is already installed in this process");
        return observed;
    }();
    return sink;
}

} // namespace

LogCapture::LogCapture() {
    install_once()->clear();
    log::set_max_level(log::Level::Trace);
}

std::vector<CapturedRecord> LogCapture::records() const { return install_once()->snapshot(); }

std::vector<std::string> LogCapture::messages(log::Level level) const {
    std::vector<std::string> out;
    for (auto& record : records())
        if (record.level == level) out.push_back(std::move(record.message));
    return out;
}

std::vector<std::string> LogCapture::messages(log::Level level, std::string_view target) const {
    std::vector<std::string> out;
    for (auto& record : records())
        if (record.level == level && record.target == target) out.push_back(std::move(record.message));
    return out;
}

void LogCapture::clear() { install_once()->clear(); }

} // namespace tarnvale::testing
