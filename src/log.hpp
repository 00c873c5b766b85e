// The core's logging facade: levels, a global maximum level and exactly one
// process-wide sink. Messages are formatted only when a record is built.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace tarnvale::log {

// Ranked from most to least severe; Off (0) disables everything.
enum class Level : std::uint8_t { Off = 0, Error = 1, Warn = 2, Info = 3, Debug = 4, Trace = 5 };

std::string_view level_name(Level level); // "ERROR", "WARN", "INFO", "DEBUG", "TRACE", "OFF"

// A message formatted on demand: the sink calls message() only if it will use the text.
class Record {
  public:
    using Formatter = std::string (*)(const void* closure);

    Record(Level level, std::string_view target, const char* file, std::uint32_t line, Formatter format,
           const void* closure)
        : level_(level), target_(target), file_(file), line_(line), format_(format), closure_(closure) {}

    Level level() const { return level_; }
    std::string_view target() const { return target_; }
    const char* file() const { return file_; } // may be null
    std::uint32_t line() const { return line_; }
    std::string message() const { return format_(closure_); }

  private:
    Level level_;
    std::string_view target_;
    const char* file_;
    std::uint32_t line_;
    Formatter format_;
    const void* closure_;
};

class Sink {
  public:
    virtual ~Sink() = default;
    virtual bool enabled(Level level, std::string_view target) const = 0;
    virtual void log(const Record& record) = 0;
    virtual void flush() = 0;
};

// Installs the process-wide sink; false (and the sink is dropped) if one is already installed.
bool set_sink(std::unique_ptr<Sink> sink);
void set_max_level(Level level);
Level max_level();

// Whether a record of this level and target would reach the sink.
bool enabled(Level level, std::string_view target);

namespace detail {
void dispatch(const Record& record);

inline bool passes_max(Level level) {
    return static_cast<std::uint8_t>(level) <= static_cast<std::uint8_t>(max_level());
}

template <class F>
void emit(Level level, std::string_view target, const char* file, std::uint32_t line, const F& format) {
    Record record(
        level, target, file, line,
        [](const void* closure) -> std::string { return (*static_cast<const F*>(closure))(); }, &format);
    dispatch(record);
}
} // namespace detail

} // namespace tarnvale::log

// TV_LOG(Level::Warn, "tarnvale::reader", expression yielding std::string): the
// expression is evaluated only if the record is built.
#define TV_LOG(level, target, ...)                                                                           \
    do {                                                                                                     \
        if (::tarnvale::log::detail::passes_max(level))                                                      \
            ::tarnvale::log::detail::emit((level), (target), __FILE__, __LINE__,                             \
                                          [&]() -> ::std::string { return (__VA_ARGS__); });                 \
    } while (0)
