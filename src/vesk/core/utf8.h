// UTF-8 helpers shared by the JSON reader, writers and identifier parsers.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vesk {

// Well-formed UTF-8: shortest forms only, no surrogates, nothing above U+10FFFF.
bool valid_utf8(std::string_view s);

// The code point starting at s[i] of a valid UTF-8 text; advances i past it.
char32_t next_code_point(std::string_view s, std::size_t& i);

// Appends the UTF-8 form of the code point `cp`.
void append_utf8(std::string& out, char32_t cp);

}  // namespace vesk
