// UUID parsing: an accepted text formats as 36 lowercase characters that parse to the same bytes.
#include "fuzz.h"
#include "vesk/core/uuid.h"

void vesk::fuzz::check_input(std::string_view text) {
    auto uuid = Uuid::parse(text);
    if (refused(uuid)) return;
    const std::string formatted = uuid->to_string();
    require(formatted.size() == 36, "formatted UUIDs are 36 characters");
    for (std::size_t i = 0; i < formatted.size(); ++i) {
        const char c = formatted[i];
        const bool hyphen = i == 8 || i == 13 || i == 18 || i == 23;
        require(hyphen ? c == '-' : (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'),
                "formatted UUIDs are lowercase hex in 8-4-4-4-12 groups");
    }
    auto again = Uuid::parse(formatted);
    require(again && *again == *uuid, "a formatted UUID parses to the same bytes");
}
