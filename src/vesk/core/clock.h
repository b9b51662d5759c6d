// The system clock in whole Unix seconds.
#pragma once

#include <cstdint>
#include <ctime>

namespace vesk {

// Current time in whole seconds since 1970-01-01T00:00:00 UTC, fraction dropped.
// A clock before the epoch, or a failing clock, is an internal fault.
std::int64_t unix_now();

// The whole seconds of a real-time clock reading (the rule unix_now applies).
std::int64_t unix_seconds(const timespec& reading);

}  // namespace vesk
