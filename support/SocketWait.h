// Time limits of socket waits: the time spent so far and what is left of a limit, as poll takes it.
#pragma once

#include <chrono>
#include <climits>
#include <cstdint>

namespace Zorvik {

using Clock = std::chrono::steady_clock;

inline uint32_t MillisecondsSince(Clock::time_point start) {
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    return ms > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(ms);
}

inline int PollTimeout(uint64_t ms) {
    return ms > INT_MAX ? INT_MAX : static_cast<int>(ms);
}

} // namespace Zorvik
