#include "vesk/crypto/random.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace vesk {

std::expected<void, std::string> os_random(std::span<std::uint8_t> out) {
    constexpr std::size_t kMaxRequest = 256;  // getentropy's limit per call
    for (std::size_t done = 0; done < out.size();) {
        const std::size_t n = std::min(kMaxRequest, out.size() - done);
        if (getentropy(out.data() + done, n) != 0) return std::unexpected(std::strerror(errno));
        done += n;
    }
    return {};
}

}  // namespace vesk
