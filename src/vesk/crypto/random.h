// Bytes from the operating system's random source.
#pragma once

#include <cstdint>
#include <expected>
#include <span>
#include <string>

namespace vesk {

// Fills `out` completely, or returns the source's error text.
std::expected<void, std::string> os_random(std::span<std::uint8_t> out);

}  // namespace vesk
