#include "vesk/core/uuid.h"

#include "vesk/core/hex.h"
#include "vesk/core/random.h"
#include "vesk/core/utf8.h"

namespace vesk {
namespace {

// 32 hex digits; when hyphenated, a hyphen must stand at offsets 8, 13, 18 and 23.
bool decode(std::string_view s, bool hyphenated, Uuid& out) {
    std::size_t b = 0;
    for (std::size_t i = 0; i < s.size(); i += 2) {
        if (hyphenated && (i == 8 || i == 13 || i == 18 || i == 23)) {
            if (s[i] != '-') return false;
            ++i;
        }
        int hi = hex_value(s[i]), lo = hex_value(s[i + 1]);
        if (hi < 0 || lo < 0) return false;
        out.bytes[b++] = static_cast<std::uint8_t>(hi << 4 | lo);
    }
    return b == 16;
}

// Why a text that is none of the four forms failed.
UuidError diagnose(std::string_view input) {
    using Kind = UuidError::Kind;
    if (!valid_utf8(input)) return {Kind::NonUtf8, {}};
    std::string_view subject = input;
    if ((input.size() == 38 && input.front() == '{' && input.back() == '}') ||
        (input.size() == 45 && input.starts_with("urn:uuid:"))) {
        subject = input.substr(input.size() - 36 - (input.front() == '{'), 36);
    }
    std::string_view core = subject;
    std::size_t offset = 0;
    bool simple = false;
    if (subject.size() >= 2 && subject.front() == '{' && subject.back() == '}') {
        core = subject.substr(1, subject.size() - 2), offset = 1;
    } else if (subject.starts_with("urn:uuid:")) {
        core = subject.substr(9), offset = 9;
    } else {
        simple = true;
    }
    std::size_t hyphens = 0;
    std::size_t bounds[4] = {};
    for (std::size_t i = 0; i < core.size();) {
        std::size_t start = i;
        char32_t c = next_code_point(core, i);
        if (c == '-') {
            if (hyphens < 4) bounds[hyphens] = start;
            ++hyphens;
        } else if (c >= 0x80 || hex_value(c) < 0) {
            return {Kind::Character, std::string(core.substr(start, i - start)),
                    start + offset + 1};
        }
    }
    if (hyphens == 0 && simple) return {Kind::SimpleLength, {}, 0, subject.size()};
    if (hyphens != 4) return {Kind::GroupCount, {}, 0, hyphens + 1};
    constexpr std::size_t kStarts[5] = {0, 9, 14, 19, 24};
    constexpr std::size_t kLengths[5] = {8, 4, 4, 4, 12};
    for (std::size_t g = 0; g < 4; ++g) {
        if (bounds[g] != kStarts[g + 1] - 1) {
            return {Kind::GroupLength, {}, 0, bounds[g] - kStarts[g], g, kLengths[g]};
        }
    }
    // The last group, measured without the braces or prefix around it.
    return {Kind::GroupLength, {}, 0, core.size() - kStarts[4], 4, kLengths[4]};
}

}  // namespace

std::string UuidError::text() const {
    switch (kind) {
        case Kind::Character:
            return "invalid character: found `" + character + "` at " + std::to_string(index);
        case Kind::SimpleLength:
            return "invalid length: expected length 32 for simple format, found " +
                   std::to_string(found);
        case Kind::GroupCount:
            return "invalid group count: expected 5, found " + std::to_string(found);
        case Kind::GroupLength:
            return "invalid group length in group " + std::to_string(group) + ": expected " +
                   std::to_string(expected) + ", found " + std::to_string(found);
        case Kind::NonUtf8:
            return "non-UTF8 input";
    }
    return {};
}

std::expected<Uuid, UuidError> Uuid::parse(std::string_view text) {
    Uuid out;
    bool ok = false;
    if (text.size() == 32) {
        ok = decode(text, false, out);
    } else if (text.size() == 36) {
        ok = decode(text, true, out);
    } else if (text.size() == 38 && text.front() == '{' && text.back() == '}') {
        ok = decode(text.substr(1, 36), true, out);
    } else if (text.size() == 45 && text.starts_with("urn:uuid:")) {
        ok = decode(text.substr(9), true, out);
    }
    if (ok) return out;
    return std::unexpected(diagnose(text));
}

Uuid Uuid::new_v4() {
    Uuid out;
    random_bytes(out.bytes);
    out.bytes[6] = static_cast<std::uint8_t>((out.bytes[6] & 0x0F) | 0x40);
    out.bytes[8] = static_cast<std::uint8_t>((out.bytes[8] & 0x3F) | 0x80);
    return out;
}

std::string Uuid::to_string() const {
    constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(36);
    for (std::size_t i = 0; i < 16; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) out.push_back('-');
        out.push_back(kHex[bytes[i] >> 4]);
        out.push_back(kHex[bytes[i] & 0xF]);
    }
    return out;
}

std::expected<Uuid, std::string> uuid_from_json_text(std::string_view text) {
    auto uuid = Uuid::parse(text);
    if (!uuid) return std::unexpected("UUID parsing failed: " + uuid.error().text());
    return *uuid;
}

}  // namespace vesk
