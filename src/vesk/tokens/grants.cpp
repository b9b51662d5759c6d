#include "vesk/tokens/grants.h"

#include <unicode/utf8.h>

#include <cstdint>

namespace vesk {
namespace {

bool is_white_space(std::int32_t c) {
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F ||
           c == 0x205F || c == 0x3000;
}

}  // namespace

bool has_unicode_whitespace(std::string_view text) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
    const auto length = static_cast<std::int32_t>(text.size());
    std::int32_t i = 0;
    while (i < length) {
        UChar32 c;
        U8_NEXT(bytes, i, length, c);
        if (is_white_space(c)) return true;
    }
    return false;
}

const std::string* first_grant_with_whitespace(const std::vector<std::string>& grants) {
    for (const auto& grant : grants) {
        if (has_unicode_whitespace(grant)) return &grant;
    }
    return nullptr;
}

}  // namespace vesk
