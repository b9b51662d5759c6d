// Rules on grant texts.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vesk {

// True when the text holds a Unicode White_Space character.
bool has_unicode_whitespace(std::string_view text);

// The first grant, in list order, that holds whitespace; nullptr when none does.
const std::string* first_grant_with_whitespace(const std::vector<std::string>& grants);

}  // namespace vesk
