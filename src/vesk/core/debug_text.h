// Quoted, escaped renderings of texts for error messages: ["a", "b\n"].
#pragma once

#include <span>
#include <string>
#include <string_view>

namespace vesk {

// The text in double quotes: a backslash before '"' and '\', \0 \t \r \n for those controls,
// and \u{hex} for every other control, format, separator (but the space), private-use,
// unassigned or combining character.
std::string debug_quote(std::string_view text);

// The texts quoted as above, separated by ", " inside square brackets.
std::string debug_list(std::span<const std::string> texts);

}  // namespace vesk
