#include "vesk/tokens/grants.h"

#include "vesk/core/utf8.h"

namespace vesk {
namespace {

bool is_white_space(char32_t c) {
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F ||
           c == 0x205F || c == 0x3000;
}

}  // namespace

bool has_unicode_whitespace(std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        if (is_white_space(next_code_point(text, i))) return true;
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
