// The tests' known-answer data: hex texts and the files of the conformance vectors.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>

#include "vesk/core/base64url.h"
#include "vesk/core/hex.h"
#include "vesk/core/json_reader.h"

namespace vesk::test {

inline Bytes from_hex(std::string_view hex) {
    Bytes out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        out.push_back(static_cast<std::uint8_t>(hex_value(hex[i]) * 16 + hex_value(hex[i + 1])));
    }
    return out;
}

inline std::span<const std::uint8_t> as_bytes(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// The path of a file below the conformance-data folder.
inline std::string data_path(const std::string& relative) {
    return std::string(VESK_TESTDATA_DIR) + "/" + relative;
}

// The bytes of a data file; a failure naming the file, and "", when it cannot be read.
inline std::string read_data(const std::string& relative) {
    std::ifstream file(data_path(relative), std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    if (!file || !text) ADD_FAILURE() << data_path(relative) << ": cannot be read";
    return text.str();
}

// The JSON document in a data file; a failure, and null, when it cannot be read or parsed.
inline json::Value load_json(const std::string& relative) {
    auto value = json::parse(read_data(relative));
    if (!value) ADD_FAILURE() << relative << ": " << value.error().text();
    return value ? std::move(*value) : json::Value();
}

// The member `name` of an object; a failure, and null, when it is missing.
inline const json::Value& member(const json::Value& value, std::string_view name) {
    static const json::Value null;
    const json::Value* found = value.as_object() ? value.as_object()->find(name) : nullptr;
    if (!found) ADD_FAILURE() << "missing member " << name;
    return found ? *found : null;
}

// The elements of an array; a failure, and none, when the value is no array.
inline const json::Array& elements(const json::Value& value) {
    static const json::Array none;
    if (!value.as_array()) ADD_FAILURE() << "not an array";
    return value.as_array() ? *value.as_array() : none;
}

// The string member `name`, or "" when it is no string.
inline std::string text_of(const json::Value& value, std::string_view name) {
    const json::String* text = member(value, name).as_string();
    return text ? std::string(*text) : "";
}

}  // namespace vesk::test
