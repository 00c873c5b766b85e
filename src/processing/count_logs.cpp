#include "processing/count_logs.hpp"

namespace tarnvale::processing {

CountLogs::CountLogs() : logs_(std::make_unique_for_overwrite<double[]>(kSize)) {
    for (std::uint32_t count = 0; count < kSize; ++count) logs_[count] = std::log(static_cast<double>(count));
}

} // namespace tarnvale::processing
