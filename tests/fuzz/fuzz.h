// What every fuzz target shares: the entry point, invariant checks that abort, and strict reading
// of wire records with its round-trip checks.
//
// A target is one source file that includes this header and defines check_input. It is linked
// either with libFuzzer or with replay_main.cpp, which runs it over the target's saved inputs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "vesk/core/canonical_json.h"
#include "vesk/core/json_record.h"

namespace vesk::fuzz {

// Checks one input; a broken invariant aborts, which the fuzzer reports as a crash.
void check_input(std::string_view input);

inline void require(bool holds, const char* invariant) {
    if (holds) return;
    std::fprintf(stderr, "invariant violated: %s\n", invariant);
    std::abort();
}

inline std::span<const std::uint8_t> as_bytes(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// Whether `result` is a refusal, which must say why.
template <class Result>
bool refused(const Result& result) {
    if (result) return false;
    require(!result.error().text().empty(), "a refusal has a text");
    return true;
}

// Reads `text` strictly as record T. What reads writes back to text that reads unchanged, writes
// as its generic value writes (compact and canonical), the parsed text reads as the same record
// whether copied or moved out of, and a text with an unknown member never reads.
template <class T>
std::optional<T> read_record(std::string_view text) {
    const json::Result<json::Value> parsed = json::parse(text);
    const bool unknown = parsed && json::first_undeclared_member<T>(*parsed);
    if (unknown)
        require(!json::from_value<T>(*parsed), "a value with an unknown member is refused");
    auto read = json::from_json<T>(text);
    if (!read) {
        require(read.error().has_position(), "a text reading error carries its position");
        return std::nullopt;
    }
    const std::string written = json::to_json(*read);
    const json::Value value = json::to_value(*read);
    require(written == json::write_compact(value), "a record writes as its value does");
    auto canonical = json::to_canonical_json(*read);
    auto value_canonical = canonical_json(value);
    require(canonical.has_value() == value_canonical.has_value() &&
                (!canonical || *canonical == *value_canonical),
            "a record writes canonically as its value does");
    auto reread = json::from_json<T>(written);
    require(reread && json::to_json(*reread) == written, "a written record reads back unchanged");
    require(parsed && !unknown, "the text of a record is JSON without unknown members");
    auto via_value = json::from_value<T>(*parsed);
    require(via_value && json::to_json(*via_value) == written,
            "both readings give the same record");
    auto moved_out = json::from_value<T>(json::Value(*parsed));
    require(moved_out && json::to_json(*moved_out) == written,
            "moving out of the parsed value gives the same record");
    return std::move(*read);
}

}  // namespace vesk::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    vesk::fuzz::check_input({reinterpret_cast<const char*>(data), size});
    return 0;
}
