// UUIDs: 16 bytes, read from any of four text forms, written lowercase hyphenated.
#pragma once

#include <array>
#include <compare>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <string>
#include <string_view>

#include "vesk/core/json_record.h"

namespace vesk {

struct UuidError {
    enum class Kind { Character, SimpleLength, GroupCount, GroupLength, NonUtf8 };
    Kind kind;
    std::string character;     // Character: the offending character
    std::size_t index = 0;     // Character: 1-based byte position
    std::size_t found = 0;     // the length or count found
    std::size_t group = 0;     // GroupLength: 0-based group
    std::size_t expected = 0;  // GroupLength: the group's length

    std::string text() const;
};

struct Uuid {
    std::array<std::uint8_t, 16> bytes{};

    // 36 hyphenated (8-4-4-4-12), 32 hex digits, {hyphenated}, or urn:uuid:hyphenated;
    // hex digits of either case, any version.
    static std::expected<Uuid, UuidError> parse(std::string_view text);
    // A random version-4 UUID from the operating system's random source.
    static Uuid new_v4();

    // 36 characters, lowercase, hyphenated.
    std::string to_string() const;

    auto operator<=>(const Uuid&) const = default;
};

// JSON: a string in any of the four forms; "UUID parsing failed: " and the parser's text
// when it is not one.
std::expected<Uuid, std::string> uuid_from_json_text(std::string_view text);
inline std::string uuid_to_json_text(const Uuid& uuid) {
    return uuid.to_string();
}
constexpr auto describe_json(std::type_identity<Uuid>) {
    return json::parsed_string<Uuid>("a formatted UUID string", uuid_from_json_text,
                                     uuid_to_json_text);
}

}  // namespace vesk
