// Class objects and their instances: an instance is the object header, the C++ value and, for
// classes that are not frozen, a borrow counter.
#pragma once

#include <concepts>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "frame/borrow.h"
#include "frame/ref.h"
#include "frame/signature.h"

namespace vesk::frame {

// One entry of a class's member table (see members.h for how entries are declared).
struct Member {
    enum class Kind { Method, NoArgsMethod, StaticMethod, Property };
    Kind kind;
    std::string name;
    void* function;        // the trampoline: a PyCFunction or, for properties, a getter
    Signature* signature;  // null for properties
    std::string doc;       // properties only; callables keep theirs in the signature
};

struct Constructor {
    newfunc function;
    Signature* signature;
};

// A class of the module: its type object is created from this description on first use and
// kept for the life of the process.
class ClassSpec {
  public:
    // `added` collects members that other files declare for this class (see AddMembers);
    // they join the class when its type object is created.
    ClassSpec(std::string name, std::string description, int basic_size, destructor dealloc,
              std::optional<Constructor> constructor, std::vector<Member> members,
              const std::vector<Member>& added);
    ClassSpec(const ClassSpec&) = delete;
    ClassSpec& operator=(const ClassSpec&) = delete;

    const std::string& name() const { return name_; }
    // The class object (borrowed), or null with an exception set if it cannot be created.
    PyTypeObject* type() const;

  private:
    std::string name_;
    std::string type_name_;  // "builtins." + name; the type object points into it
    std::string doc_;
    int basic_size_;
    destructor dealloc_;
    std::optional<Constructor> constructor_;
    mutable std::vector<Member> members_;
    const std::vector<Member>& added_;
    mutable std::vector<PyMethodDef> method_defs_;
    mutable std::vector<PyGetSetDef> getset_defs_;
    mutable PyTypeObject* type_ = nullptr;

    void build_tables() const;
};

// A C++ value type exposed as a class of the module. Its `python_class()` returns the class
// declaration; a frozen class (immutable results) declares `static constexpr bool frozen = true`
// and carries no borrow counter.
template <class T>
concept ModuleClass = requires {
    { T::python_class() } -> std::same_as<const ClassSpec&>;
};

template <class T>
constexpr bool is_frozen = requires {
    requires T::frozen;
};

struct NoCounter {};

template <class T>
struct Instance {
    PyObject header;
    alignas(T) unsigned char storage[sizeof(T)];
    [[no_unique_address]] std::conditional_t<is_frozen<T>, NoCounter, BorrowCounter> counter;

    T& value() { return *std::launder(reinterpret_cast<T*>(storage)); }
};

template <class T>
Instance<T>& instance_of(PyObject* object) {
    return *reinterpret_cast<Instance<T>*>(object);
}

// A new instance of T's class owning `value`; null with an exception set on failure.
template <ModuleClass T>
Ref new_instance(T&& value) {
    PyTypeObject* type = T::python_class().type();
    if (!type) return {};
    auto alloc = reinterpret_cast<allocfunc>(PyType_GetSlot(type, Py_tp_alloc));
    Ref object = Ref::steal(alloc(type, 0));
    if (!object) return {};
    Instance<T>& instance = instance_of<T>(object.get());
    new (instance.storage) T(std::move(value));
    if constexpr (!is_frozen<T>) new (&instance.counter) BorrowCounter();
    return object;
}

// Releases an instance: the value, then the memory through the type's free slot, then the
// instance's reference to its type.
template <class T>
void dealloc_instance(PyObject* object) {
    PyTypeObject* type = Py_TYPE(object);
    instance_of<T>(object).value().~T();
    auto free_memory = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
    free_memory(object);
    Py_DECREF(type);
}

}  // namespace vesk::frame
