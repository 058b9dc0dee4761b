// The wall clock as a value, so that expiry rules (PIN sessions, upload tickets, PIN lock-outs) can
// be tested with a clock the test moves.
#pragma once

#include <chrono>
#include <functional>

namespace ferrylantern {

using WallClock = std::function<std::chrono::system_clock::time_point()>;

inline WallClock systemWallClock()
{
    return [] { return std::chrono::system_clock::now(); };
}

} // namespace ferrylantern
