// Canonical JSON over parsed values: the output is JSON that canonicalises to itself, and
// every number is written in a form that reads back as the same double.
#include <cstdlib>

#include "fuzz.h"
#include "vesk/core/canonical_json.h"

namespace vesk::fuzz {
namespace {

void check_numbers(const json::Value& value) {
    std::optional<double> number;
    if (auto u = value.as_unsigned()) number = static_cast<double>(*u);
    if (auto n = value.as_negative()) number = static_cast<double>(*n);
    if (auto x = value.as_double()) number = *x;
    if (number) {
        require(std::strtod(es_number(*number).c_str(), nullptr) == *number,
                "a number reads back as written");
    } else if (auto array = value.as_array()) {
        for (const auto& element : *array) check_numbers(element);
    } else if (auto object = value.as_object()) {
        for (const auto& [name, member] : *object) check_numbers(member);
    }
}

}  // namespace

void check_input(std::string_view text) {
    auto value = json::parse(text);
    if (!value) return;
    auto canonical = canonical_json(*value);
    // Parsed objects hold each name once and parsed numbers are finite.
    require(canonical.has_value(), "a parsed value canonicalises");
    check_numbers(*value);
    auto reparsed = json::parse(*canonical);
    require(reparsed.has_value(), "canonical output parses");
    auto again = canonical_json(*reparsed);
    require(again.has_value() && *again == *canonical, "canonical output is a fixed point");
}

}  // namespace vesk::fuzz
