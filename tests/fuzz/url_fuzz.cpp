// The URL parser: whatever parses serialises to an href that parses to the same href.
#include "fuzz.h"
#include "vesk/core/url.h"

void vesk::fuzz::check_input(std::string_view text) {
    auto url = parse_url(text);
    if (refused(url)) return;
    const std::string href = url->href();
    auto again = parse_url(href);
    require(again && again->href() == href, "an href re-parses to itself");
    require(again->pathname() == url->pathname(), "the path survives re-parsing");
    require(again->host == url->host && again->port == url->port,
            "the host and port survive re-parsing");
}
