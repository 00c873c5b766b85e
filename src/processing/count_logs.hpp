// Natural logarithms of whole counts, looked up: every peak's Gaussian takes those of
// three counts, and where a record's count has sixteen bits a table of libm's own
// values answers without the call (512 KiB, made once, on first use).
#pragma once

#include <cmath>
#include <cstdint>
#include <memory>

namespace tarnvale::processing {

class CountLogs {
  public:
    // The one table of the process; thread-safe.
    static const CountLogs& table() {
        static const CountLogs logs;
        return logs;
    }

    double operator()(std::uint32_t count) const {
        return count < kSize ? logs_[count] : std::log(static_cast<double>(count));
    }

  private:
    static constexpr std::uint32_t kSize = std::uint32_t{1} << 16;
    CountLogs();
    std::unique_ptr<double[]> logs_;
};

} // namespace tarnvale::processing
