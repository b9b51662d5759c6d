// Secret bytes that are wiped when released: fixed-size ones that are never copied, and
// containers of any length whose every block is wiped.
#pragma once

#include <sodium.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

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

// std::allocator that wipes each block before releasing it, whichever path releases it
// (destruction, growth, an early return).
template <class T>
struct WipingAllocator {
    using value_type = T;
    WipingAllocator() = default;
    template <class U>
    WipingAllocator(const WipingAllocator<U>&) noexcept {}
    T* allocate(std::size_t n) { return std::allocator<T>().allocate(n); }
    void deallocate(T* block, std::size_t n) noexcept {
        sodium_memzero(block, n * sizeof(T));
        std::allocator<T>().deallocate(block, n);
    }
    friend bool operator==(const WipingAllocator&, const WipingAllocator&) { return true; }
};

// Secret bytes of a length not yet checked, such as a seed as a caller gave it.
using SecretBytes = std::vector<std::uint8_t, WipingAllocator<std::uint8_t>>;

}  // namespace vesk
