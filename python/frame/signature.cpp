#include "frame/signature.h"

#include "frame/errors.h"
#include "frame/ref.h"

namespace vesk::frame {
namespace {

std::string quoted_list(const std::vector<std::string>& names) {
    std::string list;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i > 0) list += names.size() == 2 ? " and " : ", ";
        if (i > 0 && i + 1 == names.size() && names.size() > 2) list += "and ";
        list += "'" + names[i] + "'";
    }
    return list;
}

bool type_error(const std::string& message) {
    Ref text = text_to_python(message);
    if (text) PyErr_SetObject(PyExc_TypeError, text.get());
    return false;
}

}  // namespace

Param::Param(const char* name, DefaultValue value, std::string shown)
    : name(name), fixed(std::move(value)), shown(std::move(shown)) {
    if (!this->shown.empty()) return;
    if (const auto* text = std::get_if<std::string>(&*fixed)) {
        this->shown = "\"" + *text + "\"";
    } else if (const auto* number = std::get_if<std::int64_t>(&*fixed)) {
        this->shown = std::to_string(*number);
    } else {
        this->shown = std::to_string(std::get<std::uint64_t>(*fixed));
    }
}

std::string Signature::text(std::string_view name, bool with_self) const {
    std::string text = std::string(name) + "(";
    if (with_self) text += params.empty() ? "$self" : "$self, ";
    for (std::size_t i = 0; i < params.size(); ++i) {
        if (i > 0) text += ", ";
        text += params[i].name;
        if (params[i].fixed) {
            text += "=" + params[i].shown;
        } else if (none_absent[i]) {
            text += "=None";
        }
    }
    return text + ")";
}

bool Signature::extract(PyObject* args, PyObject* kwargs, std::vector<PyObject*>& slots) const {
    slots.assign(params.size(), nullptr);
    const Py_ssize_t given = args ? PyTuple_Size(args) : 0;
    if (given > static_cast<Py_ssize_t>(params.size())) {
        std::size_t required_count = 0;
        for (std::size_t i = 0; i < params.size(); ++i) required_count += required(i);
        std::string range =
            required_count == params.size()
                ? std::to_string(params.size())
                : "from " + std::to_string(required_count) + " to " + std::to_string(params.size());
        return type_error(display + " takes " + range + " positional arguments but " +
                          std::to_string(given) + (given == 1 ? " was" : " were") + " given");
    }
    for (Py_ssize_t i = 0; i < given; ++i) slots[i] = PyTuple_GetItem(args, i);

    if (kwargs) {
        Py_ssize_t position = 0;
        PyObject* key = nullptr;
        PyObject* value = nullptr;
        while (PyDict_Next(kwargs, &position, &key, &value)) {
            Py_ssize_t size = 0;
            const char* utf8 = PyUnicode_AsUTF8AndSize(key, &size);
            if (!utf8) return false;
            const std::string_view keyword(utf8, static_cast<std::size_t>(size));
            std::size_t index = 0;
            while (index < params.size() && params[index].name != keyword) ++index;
            if (index == params.size()) {
                return type_error(display + " got an unexpected keyword argument '" +
                                  std::string(keyword) + "'");
            }
            if (slots[index]) {
                return type_error(display + " got multiple values for argument '" +
                                  std::string(keyword) + "'");
            }
            slots[index] = value;
        }
    }

    std::vector<std::string> missing;
    for (std::size_t i = 0; i < params.size(); ++i) {
        if (!slots[i] && required(i)) missing.push_back(params[i].name);
    }
    if (!missing.empty()) {
        return type_error(
            display + " missing " + std::to_string(missing.size()) + " required positional " +
            (missing.size() == 1 ? "argument: " : "arguments: ") + quoted_list(missing));
    }
    return true;
}

void note_parameter(std::string_view name) {
    PyObject* type = nullptr;
    PyObject* value = nullptr;
    PyObject* traceback = nullptr;
    PyErr_Fetch(&type, &value, &traceback);
    PyErr_NormalizeException(&type, &value, &traceback);
    if (value && PyObject_HasAttrString(value, "add_note")) {
        Ref note = text_to_python("while processing '" + std::string(name) + "'");
        Ref done =
            note ? Ref::steal(PyObject_CallMethod(value, "add_note", "O", note.get())) : Ref{};
        if (!done) PyErr_Clear();
    }
    PyErr_Restore(type, value, traceback);
}

}  // namespace vesk::frame
