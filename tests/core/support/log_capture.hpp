// Captures the core's log records in tests. The first LogCapture of a test program
// installs the process-wide capturing sink and raises the maximum level to Trace.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "log.hpp"

namespace tarnvale::testing {

struct CapturedRecord {
    log::Level level;
    std::string target;
    std::string message;
    std::string file;
    std::uint32_t line;
};

class LogCapture {
  public:
    // Installs the sink if needed and forgets every record captured so far.
    LogCapture();

    std::vector<CapturedRecord> records() const;
    // Messages of the given level, in the order they were logged.
    std::vector<std::string> messages(log::Level level) const;
    // Messages of the given level logged under one target.
    std::vector<std::string> messages(log::Level level, std::string_view target) const;
    void clear();
};

} // namespace tarnvale::testing
