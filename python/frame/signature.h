// A callable's parameter list: how its text signature reads and how a call's positional and
// keyword arguments are placed into parameters, with the binding layer's TypeError texts.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "frame/python.h"

namespace vesk::frame {

using DefaultValue = std::variant<std::string, std::int64_t, std::uint64_t>;

struct Param {
    // A parameter that is required, or (when its C++ type is optional) treats None as absent.
    Param(const char* name) : name(name) {}
    // A parameter that takes `value` when omitted; `shown` overrides how the text signature
    // writes the default.
    Param(const char* name, DefaultValue value, std::string shown = {});

    std::string name;
    std::optional<DefaultValue> fixed;
    std::string shown;
};

struct Signature {
    std::string display;            // "VeskAgent.from_seed()" or "compute_aid_jkt()"
    std::vector<Param> params;      // in declaration order
    std::vector<bool> none_absent;  // from the C++ parameter types: None means absent
    std::string doc;

    bool required(std::size_t index) const { return !none_absent[index] && !params[index].fixed; }
    // "name(a, b=None, c=\"x\")", with "$self, " first for methods.
    std::string text(std::string_view name, bool with_self) const;
    // Places the call's arguments into one slot per parameter (borrowed, null when not given).
    // Returns false with TypeError set when the arguments do not fit the parameters.
    bool extract(PyObject* args, PyObject* kwargs, std::vector<PyObject*>& slots) const;
};

// Adds "while processing '<name>'" to the pending exception when it supports notes.
void note_parameter(std::string_view name);

}  // namespace vesk::frame
