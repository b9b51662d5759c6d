// RFC 8785 canonical JSON: members sorted by UTF-16 code units, no whitespace, every
// number written as an IEEE double in ECMAScript form.
#pragma once

#include <expected>
#include <string>
#include <string_view>

#include "vesk/core/json_value.h"

namespace vesk {

struct CanonicalJsonError {
    enum class Kind { NonFiniteNumber, DuplicateKey, Serialization };
    Kind kind;
    std::string detail;  // the member name, or the JSON writer's error text

    std::string text() const;
};

std::expected<std::string, CanonicalJsonError> canonical_json(const json::Value& value);
// Appends the canonical form of `value` to `out`; on failure `out` holds a part of it.
std::expected<void, CanonicalJsonError> append_canonical(std::string& out,
                                                         const json::Value& value);

// Whether member name `a` comes before `b` in canonical order: by their UTF-16 code units.
bool utf16_less(std::string_view a, std::string_view b);

// ECMAScript Number.prototype.toString of a finite double.
std::string es_number(double d);

}  // namespace vesk
