#include "frame/errors.h"
#include "frame/members.h"

namespace vesk::frame {
namespace {

std::string attribute_text(PyObject* object, const char* name) {
    Ref value = Ref::steal(PyObject_GetAttrString(object, name));
    const char* utf8 = value ? PyUnicode_AsUTF8AndSize(value.get(), nullptr) : nullptr;
    if (!utf8) {
        PyErr_Clear();
        return "<unknown>";
    }
    return utf8;
}

// tp_new of a class that Python code cannot instantiate.
PyObject* refuse_construction(PyTypeObject* type, PyObject*, PyObject*) {
    return guarded(
        [&]() -> PyObject* {
            PyObject* object = reinterpret_cast<PyObject*>(type);
            Ref text = text_to_python("cannot create '" + attribute_text(object, "__module__") +
                                      "." + attribute_text(object, "__qualname__") + "' instances");
            if (text) PyErr_SetObject(PyExc_TypeError, text.get());
            return nullptr;
        },
        nullptr);
}

}  // namespace

namespace detail {
void finish_signature(Signature& signature, const std::string& owner, const std::string& name,
                      bool with_self) {
    signature.display = (owner.empty() ? name : owner + "." + name) + "()";
    signature.doc = signature.text(name, with_self) + "\n--\n\n" + signature.doc;
}
}  // namespace detail

ClassSpec make_class(std::string name, std::string description, int basic_size, destructor dealloc,
                     std::optional<Constructor> constructor, std::vector<Member> members,
                     const std::vector<Member>& added) {
    if (constructor) {
        Signature& signature = *constructor->signature;
        signature.display = name + ".__new__()";
        description = signature.text(name, false) + "\n--\n\n" + description;
    }
    return ClassSpec(std::move(name), std::move(description), basic_size, dealloc, constructor,
                     std::move(members), added);
}

ClassSpec::ClassSpec(std::string name, std::string description, int basic_size, destructor dealloc,
                     std::optional<Constructor> constructor, std::vector<Member> members,
                     const std::vector<Member>& added)
    : name_(std::move(name)),
      type_name_("builtins." + name_),
      doc_(std::move(description)),
      basic_size_(basic_size),
      dealloc_(dealloc),
      constructor_(constructor),
      members_(std::move(members)),
      added_(added) {}

// Runs once, with the interpreter lock held and before the type object exists; the tables
// point into members_, which does not change afterwards.
void ClassSpec::build_tables() const {
    members_.insert(members_.end(), added_.begin(), added_.end());
    for (const Member& member : members_) {
        if (member.kind != Member::Kind::Property) {
            detail::finish_signature(*member.signature, name_, member.name,
                                     member.kind != Member::Kind::StaticMethod);
        }
        switch (member.kind) {
            case Member::Kind::Property:
                getset_defs_.push_back({member.name.c_str(),
                                        reinterpret_cast<getter>(member.function), nullptr,
                                        member.doc.c_str(), nullptr});
                break;
            case Member::Kind::Method:
                method_defs_.push_back(
                    {member.name.c_str(), reinterpret_cast<PyCFunction>(member.function),
                     METH_VARARGS | METH_KEYWORDS, member.signature->doc.c_str()});
                break;
            case Member::Kind::NoArgsMethod:
                method_defs_.push_back({member.name.c_str(),
                                        reinterpret_cast<PyCFunction>(member.function), METH_NOARGS,
                                        member.signature->doc.c_str()});
                break;
            case Member::Kind::StaticMethod:
                method_defs_.push_back(
                    {member.name.c_str(), reinterpret_cast<PyCFunction>(member.function),
                     (member.signature->params.empty() ? METH_NOARGS
                                                       : METH_VARARGS | METH_KEYWORDS) |
                         METH_STATIC,
                     member.signature->doc.c_str()});
                break;
        }
    }
    method_defs_.push_back({nullptr, nullptr, 0, nullptr});
    getset_defs_.push_back({nullptr, nullptr, nullptr, nullptr, nullptr});
}

PyTypeObject* ClassSpec::type() const {
    if (type_) return type_;
    if (method_defs_.empty()) build_tables();
    PyType_Slot slots[] = {
        {Py_tp_doc, const_cast<char*>(doc_.c_str())},
        {Py_tp_new,
         reinterpret_cast<void*>(constructor_ ? constructor_->function : &refuse_construction)},
        {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_)},
        {Py_tp_methods, const_cast<PyMethodDef*>(method_defs_.data())},
        {Py_tp_getset, const_cast<PyGetSetDef*>(getset_defs_.data())},
        {0, nullptr},
    };
    PyType_Spec spec = {type_name_.c_str(), basic_size_, 0, Py_TPFLAGS_DEFAULT, slots};
    PyObject* created = PyType_FromSpec(&spec);
    if (!created) return nullptr;
    // The interpreter lock is held; should creation have let another thread finish first, its
    // class object is kept and ours dropped.
    if (type_) {
        Py_DECREF(created);
    } else {
        type_ = reinterpret_cast<PyTypeObject*>(created);
    }
    return type_;
}

}  // namespace vesk::frame
