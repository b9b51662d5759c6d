// RFC 8785 canonical JSON: members sorted by UTF-16 code units, no whitespace, every
// number written as an IEEE double in ECMAScript form.
#pragma once

#include <expected>
#include <string>

#include "vesk/core/json_value.h"

namespace vesk {

struct CanonicalJsonError {
    enum class Kind { NonFiniteNumber, DuplicateKey, Serialization };
    Kind kind;
    std::string detail;  // the member name, or the JSON writer's error text

    std::string text() const;
};

std::expected<std::string, CanonicalJsonError> canonical_json(const json::Value& value);

// ECMAScript Number.prototype.toString of a finite double.
std::string es_number(double d);

}  // namespace vesk
