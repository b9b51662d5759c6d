// Errors of JSON reading, and the typed-reading texts shared by every reader.
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <span>
#include <string>
#include <string_view>

namespace vesk::json {

class Value;

struct Error {
    // A member-level fault of a typed read names its member; every other error is Other.
    enum class Kind { Other, UnknownField, MissingField, DuplicateField };

    std::string message;
    std::size_t line = 0;  // 0: the error has no position
    std::size_t column = 0;
    Kind kind = Kind::Other;
    std::string field{};  // the member's name, for the member-level kinds

    bool has_position() const { return line != 0; }
    // The message, followed by " at line L column C" when the error has a position.
    std::string text() const;
};

template <class T>
using Result = std::expected<T, Error>;

// Backquoted names: `a`; `a` or `b`; one of `a`, `b`, `c`.
std::string one_of(std::span<const std::string_view> names);

// What a reading error says was found.
std::string describe(const Value& value);
std::string describe_unsigned(std::uint64_t n);
std::string describe_negative(std::int64_t n);
std::string describe_double(double d);
std::string describe_string(std::string_view s);
inline constexpr std::string_view kDescribeArray = "sequence";
inline constexpr std::string_view kDescribeObject = "map";

Error invalid_type(std::string_view found, std::string_view expected);
Error invalid_value(std::string_view found, std::string_view expected);
Error invalid_length(std::size_t length, std::string_view expected);
Error unknown_field(std::string_view name, std::span<const std::string_view> expected);
Error unknown_variant(std::string_view name, std::span<const std::string_view> expected);
Error missing_field(std::string_view name);
Error duplicate_field(std::string_view name);

}  // namespace vesk::json
