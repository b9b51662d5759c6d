#include "vesk/core/unknown_field.h"

#include <algorithm>

#include "vesk/core/json_reader.h"

namespace vesk {

namespace {

std::optional<std::string> check_leading_value(std::string_view bytes, bool reject_duplicates) {
    json::TextReader reader(bytes);
    auto value = reader.read_value(reject_duplicates);
    if (!value) return value.error().text();
    return std::nullopt;
}

}  // namespace

std::optional<std::string> parse_json_value(std::string_view bytes) {
    return check_leading_value(bytes, /*reject_duplicates=*/false);
}

std::optional<std::string> parse_json_value_unique(std::string_view bytes) {
    return check_leading_value(bytes, /*reject_duplicates=*/true);
}

std::optional<std::string> unknown_field_name(const json::Error& error) {
    constexpr std::string_view kPrefix = "unknown field `";
    std::string text = error.text();
    if (!text.starts_with(kPrefix)) return std::nullopt;
    auto end = text.find('`', kPrefix.size());
    if (end == std::string::npos) return std::nullopt;
    return text.substr(kPrefix.size(), end - kPrefix.size());
}

std::optional<std::string> first_unknown_field(const json::Value& value,
                                               std::span<const std::string_view> names) {
    const json::Object* object = value.as_object();
    if (!object) return std::nullopt;
    for (const auto& [name, member] : *object) {
        if (std::find(names.begin(), names.end(), name) == names.end()) return std::string(name);
    }
    return std::nullopt;
}

}  // namespace vesk
