#include "vesk/core/json_error.h"

#include "vesk/core/json_value.h"
#include "vesk/core/json_write.h"

namespace vesk::json {

std::string Error::text() const {
    if (!has_position()) return message;
    return message + " at line " + std::to_string(line) + " column " + std::to_string(column);
}

std::string one_of(std::span<const std::string_view> names) {
    std::string out;
    auto quoted = [&](std::string_view n) {
        out.push_back('`');
        out += n;
        out.push_back('`');
    };
    if (names.size() == 1) {
        quoted(names[0]);
    } else if (names.size() == 2) {
        quoted(names[0]);
        out += " or ";
        quoted(names[1]);
    } else {
        out += "one of ";
        for (std::size_t i = 0; i < names.size(); ++i) {
            if (i) out += ", ";
            quoted(names[i]);
        }
    }
    return out;
}

std::string describe_unsigned(std::uint64_t n) {
    return "integer `" + std::to_string(n) + "`";
}
std::string describe_negative(std::int64_t n) {
    return "integer `" + std::to_string(n) + "`";
}
std::string describe_double(double d) {
    return "floating point `" + format_double(d) + "`";
}
std::string describe_string(std::string_view s) {
    return "string " + debug_quote(s);
}

std::string describe(const Value& value) {
    switch (value.kind()) {
        case Kind::Null:
            return "null";
        case Kind::Bool:
            return *value.as_bool() ? "boolean `true`" : "boolean `false`";
        case Kind::Unsigned:
            return describe_unsigned(*value.as_unsigned());
        case Kind::Negative:
            return describe_negative(*value.as_negative());
        case Kind::Double:
            return describe_double(*value.as_double());
        case Kind::String:
            return describe_string(*value.as_string());
        case Kind::Array:
            return std::string(kDescribeArray);
        case Kind::Object:
            return std::string(kDescribeObject);
    }
    return {};
}

Error invalid_type(std::string_view found, std::string_view expected) {
    return {"invalid type: " + std::string(found) + ", expected " + std::string(expected)};
}

Error invalid_value(std::string_view found, std::string_view expected) {
    return {"invalid value: " + std::string(found) + ", expected " + std::string(expected)};
}

Error invalid_length(std::size_t length, std::string_view expected) {
    return {"invalid length " + std::to_string(length) + ", expected " + std::string(expected)};
}

Error unknown_field(std::string_view name, std::span<const std::string_view> expected) {
    std::string head = "unknown field `" + std::string(name) + "`, ";
    std::string message =
        expected.empty() ? head + "there are no fields" : head + "expected " + one_of(expected);
    return {std::move(message), 0, 0, Error::Kind::UnknownField, std::string(name)};
}

Error unknown_variant(std::string_view name, std::span<const std::string_view> expected) {
    std::string head = "unknown variant `" + std::string(name) + "`, ";
    if (expected.empty()) return {head + "there are no variants"};
    return {head + "expected " + one_of(expected)};
}

Error missing_field(std::string_view name) {
    return {"missing field `" + std::string(name) + "`", 0, 0, Error::Kind::MissingField,
            std::string(name)};
}

Error duplicate_field(std::string_view name) {
    return {"duplicate field `" + std::string(name) + "`", 0, 0, Error::Kind::DuplicateField,
            std::string(name)};
}

}  // namespace vesk::json
