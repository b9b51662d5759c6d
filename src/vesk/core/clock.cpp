#include "vesk/core/clock.h"

#include <cerrno>
#include <cstring>
#include <string>

#include "vesk/core/fault.h"

namespace vesk {

std::int64_t unix_seconds(const timespec& reading) {
    if (reading.tv_sec < 0) fault("system time before Unix epoch");
    return static_cast<std::int64_t>(reading.tv_sec);
}

std::int64_t unix_now() {
    timespec now{};
    if (clock_gettime(CLOCK_REALTIME, &now) != 0) {
        fault(std::string("system clock unavailable: ") + std::strerror(errno));
    }
    return unix_seconds(now);
}

}  // namespace vesk
