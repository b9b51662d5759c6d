// Fixed-size secret bytes that are wiped when released and never copied.
#pragma once

#include <sodium.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace vesk {

template <std::size_t N>
class Secret {
  public:
    Secret() = default;
    explicit Secret(std::span<const std::uint8_t, N> bytes) {
        std::copy(bytes.begin(), bytes.end(), bytes_.begin());
    }
    Secret(const Secret&) = delete;
    Secret& operator=(const Secret&) = delete;
    ~Secret() { sodium_memzero(bytes_.data(), N); }

    std::span<std::uint8_t, N> span() { return bytes_; }
    std::span<const std::uint8_t, N> span() const { return bytes_; }
    std::uint8_t* data() { return bytes_.data(); }
    const std::uint8_t* data() const { return bytes_.data(); }

  private:
    std::array<std::uint8_t, N> bytes_{};
};

}  // namespace vesk
