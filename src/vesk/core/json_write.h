// Compact JSON writing and the text forms the reader's messages share with it.
#pragma once

#include <string>
#include <string_view>

#include "vesk/core/json_value.h"

namespace vesk::json {

// Compact JSON: no whitespace, members in stored order, non-finite doubles as null.
std::string write_compact(const Value& value);
void write_compact(std::string& out, const Value& value);

// A JSON string literal: quote, backslash and control characters escaped, all else raw.
void append_quoted(std::string& out, std::string_view text);

// Shortest round-trip digits; plain notation for exponents -5..15 (integral values get
// ".0"), otherwise d.ddde+X / d.ddde-X.
std::string format_double(double d);

// The quoted form messages use for a found string: "a\"b", control characters as \u{1f}.
std::string debug_quote(std::string_view text);

}  // namespace vesk::json
