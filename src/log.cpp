#include "log.hpp"

#include <atomic>

namespace tarnvale::log {

namespace {

// The sink is installed once and lives until the process ends; it is never
// replaced or freed, so a loaded pointer stays valid without any locking.
std::atomic<Sink*> installed_sink{nullptr};
std::atomic<std::uint8_t> global_max_level{static_cast<std::uint8_t>(Level::Off)};

} // namespace

std::string_view level_name(Level level) {
    switch (level) {
    case Level::Error:
        return "ERROR";
    case Level::Warn:
        return "WARN";
    case Level::Info:
        return "INFO";
    case Level::Debug:
        return "DEBUG";
    case Level::Trace:
        return "TRACE";
    case Level::Off:
        break;
    }
    return "OFF";
}

bool set_sink(std::unique_ptr<Sink> sink) {
    if (sink == nullptr) return false;
    Sink* expected = nullptr;
    if (!installed_sink.compare_exchange_strong(expected, sink.get(), std::memory_order_acq_rel))
        return false;
    (void)sink.release(); // owned by the process from now on
    return true;
}

void set_max_level(Level level) {
    global_max_level.store(static_cast<std::uint8_t>(level), std::memory_order_relaxed);
}

Level max_level() { return static_cast<Level>(global_max_level.load(std::memory_order_relaxed)); }

bool enabled(Level level, std::string_view target) {
    if (level == Level::Off || !detail::passes_max(level)) return false;
    const Sink* sink = installed_sink.load(std::memory_order_acquire);
    return sink != nullptr && sink->enabled(level, target);
}

namespace detail {

void dispatch(const Record& record) {
    if (record.level() == Level::Off) return;
    Sink* sink = installed_sink.load(std::memory_order_acquire);
    if (sink != nullptr) sink->log(record);
}

} // namespace detail

} // namespace tarnvale::log
