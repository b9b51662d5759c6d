// Code point and percent-encoding helpers shared by the URL parser's files.
#pragma once

#include <string>
#include <string_view>

namespace vesk::url_detail {

// Decodes UTF-8; each ill-formed sequence becomes U+FFFD.
std::u32string decode_utf8(std::string_view bytes);

enum class EncodeSet { C0Control, Fragment, Query, SpecialQuery, Path, Userinfo };

// Appends `c` as UTF-8, percent-encoding its bytes when `c` belongs to `set`.
void append_encoded(std::string& out, char32_t c, EncodeSet set);

// Replaces each "%XX" (two hex digits) by its byte; any other '%' is kept.
std::string percent_decode(std::string_view input);

inline bool is_ascii_alpha(char32_t c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
inline bool is_ascii_digit(char32_t c) {
    return c >= '0' && c <= '9';
}
inline bool is_ascii_hex_digit(char32_t c) {
    return is_ascii_digit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}
inline char32_t ascii_lower(char32_t c) {
    return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c;
}

}  // namespace vesk::url_detail
