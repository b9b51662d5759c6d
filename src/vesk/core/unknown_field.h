// Helpers of the token readers: a well-formedness check of payload bytes, the
// unknown-member rule over a parsed payload, and recognising unknown-member errors.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "vesk/core/json_error.h"
#include "vesk/core/json_value.h"

namespace vesk {

// Nothing when the bytes begin with one well-formed JSON value (depth budget 128), else
// the error text with its position. Repeated member names are left to the typed readers.
// Bytes after that first value are not looked at.
std::optional<std::string> parse_json_value(std::string_view bytes);
inline std::optional<std::string> parse_json_value(std::span<const std::uint8_t> bytes) {
    return parse_json_value(
        std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

// The member name of an "unknown field `x`, ..." error, else nothing.
std::optional<std::string> unknown_field_name(const json::Error& error);

// The first top-level member of an object whose name is not among `names` (exact,
// case-sensitive), in member order; nothing for non-objects or when all are known.
std::optional<std::string> first_unknown_field(const json::Value& value,
                                               std::span<const std::string_view> names);

}  // namespace vesk
