// Canonical JSON over parsed values: the output is JSON that canonicalises to itself, and
// every number is written in a form that reads back as the same double.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz_check.h"
#include "vesk/core/canonical_json.h"
#include "vesk/core/json_reader.h"

using namespace vesk;

namespace {

void check_numbers(const json::Value& value) {
    double d;
    if (auto u = value.as_unsigned()) {
        d = static_cast<double>(*u);
    } else if (auto n = value.as_negative()) {
        d = static_cast<double>(*n);
    } else if (auto x = value.as_double()) {
        d = *x;
    } else if (auto array = value.as_array()) {
        for (const auto& element : *array) check_numbers(element);
        return;
    } else if (auto object = value.as_object()) {
        for (const auto& [name, member] : *object) check_numbers(member);
        return;
    } else {
        return;
    }
    const std::string written = es_number(d);
    fuzz::require(std::strtod(written.c_str(), nullptr) == d, "a number reads back as written");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto value = json::parse(fuzz::as_text(data, size));
    if (!value) return 0;
    auto canonical = canonical_json(*value);
    // Parsed objects hold each name once and parsed numbers are finite.
    fuzz::require(canonical.has_value(), "a parsed value canonicalises");
    check_numbers(*value);
    auto reparsed = json::parse(*canonical);
    fuzz::require(reparsed.has_value(), "canonical output parses");
    auto again = canonical_json(*reparsed);
    fuzz::require(again.has_value() && *again == *canonical, "canonical output is a fixed point");
    return 0;
}
