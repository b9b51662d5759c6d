// The generic JSON reader: any input either parses or fails with a positioned error, and
// what parses survives a compact write and re-read unchanged.
#include "fuzz.h"

void vesk::fuzz::check_input(std::string_view text) {
    auto value = json::parse(text);
    if (!value) {
        require(value.error().has_position(), "a parse error carries its position");
        return;
    }
    const std::string compact = json::write_compact(*value);
    auto again = json::parse(compact);
    require(again && *again == *value, "compact output re-reads as the same value");
    require(json::write_compact(*again) == compact, "compact writing is stable");
    require(json::TextReader(text).read_value().has_value(), "a parsed text is well-formed");
}
