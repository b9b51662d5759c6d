// Declaring a class or module function: each member is one entry naming its kind, its
// parameters and the C++ function to call; the frame does the rest. How `self` is borrowed
// follows from the function's first parameter: `const T&` is shared, `T&` exclusive.
//
//   const frame::ClassSpec& Agent::python_class() {
//       static const frame::ClassSpec spec = frame::define_class<Agent>(
//           "VeskAgent", "An agent: ...", {
//               frame::static_method<&generate>("generate", {{"suite", "ed25519"}}, "..."),
//               frame::property<&aid>("aid", "The agent's AID."),
//           });
//       return spec;
//   }
//   const frame::Export agent_export = frame::export_class<Agent>();
//   const frame::Export jkt_export =
//       frame::export_function<&compute_aid_jkt>("compute_aid_jkt", {"aid"}, "...");
//
// A C++ function returns its result directly or as frame::Result<R>; the error value names the
// Python exception (frame::Error::value, ::runtime, ::manifest_verification, ...).
#pragma once

#include <initializer_list>
#include <tuple>
#include <type_traits>

#include "frame/convert.h"
#include "frame/exports.h"
#include "vesk/core/fault.h"

namespace vesk::frame {

namespace detail {

// Method tables store every trampoline under the one C function type they name.
template <class Trampoline>
PyCFunction as_cfunction(Trampoline trampoline) {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(trampoline));
}

template <class F>
struct Function;
template <class R, class... A>
struct Function<R (*)(A...)> {
    using Result = R;
    using Params = std::tuple<A...>;
};

template <class T>
struct IsResult : std::false_type {};
template <class T>
struct IsResult<std::expected<T, Error>> : std::true_type {};

template <class A>
using Kind = Arg<std::remove_cvref_t<A>>;

// The parameter list of a declared callable; one signature per C++ function.
template <auto F>
inline std::optional<Signature> signature_of;

template <class... A>
struct Params {
    using Held = std::tuple<std::optional<typename Kind<A>::Held>...>;

    static void declare(Signature& signature) {
        if (signature.params.size() != sizeof...(A)) {
            fault(signature.display + " declares " + std::to_string(signature.params.size()) +
                  " parameters for a function of " + std::to_string(sizeof...(A)));
        }
        signature.none_absent = {Kind<A>::none_absent...};
        check_defaults(signature, std::index_sequence_for<A...>{});
    }

    template <std::size_t... I>
    static void check_defaults(const Signature& signature, std::index_sequence<I...>) {
        (check_default<I, A>(signature), ...);
    }
    template <std::size_t I, class Each>
    static void check_default(const Signature& signature) {
        const Param& param = signature.params[I];
        if (!param.fixed) return;
        bool usable = false;
        if constexpr (requires { Kind<Each>::from_default(*param.fixed); }) {
            usable = Kind<Each>::from_default(*param.fixed).has_value();
        }
        if (!usable) fault(signature.display + ": unusable default for " + param.name);
    }

    // Converts every present argument in parameter order; a failure gains the parameter's note.
    static bool convert(const Signature& signature, const std::vector<PyObject*>& slots,
                        Held& held) {
        return convert_each(signature, slots, held, std::index_sequence_for<A...>{});
    }
    template <std::size_t... I>
    static bool convert_each(const Signature& signature, const std::vector<PyObject*>& slots,
                             Held& held, std::index_sequence<I...>) {
        return (convert_one<I, A>(signature, slots[I], std::get<I>(held)) && ...);
    }
    template <std::size_t I, class Each>
    static bool convert_one(const Signature& signature, PyObject* slot,
                            std::optional<typename Kind<Each>::Held>& held) {
        if (!slot || (slot == Py_None && Kind<Each>::none_absent)) {
            if constexpr (Kind<Each>::none_absent) {
                held.emplace();
            } else if constexpr (requires { Kind<Each>::from_default(DefaultValue{}); }) {
                held = Kind<Each>::from_default(*signature.params[I].fixed);
            }
            return true;
        }
        held = Kind<Each>::convert(slot);
        if (!held) note_parameter(signature.params[I].name);
        return held.has_value();
    }

    template <class Call>
    static decltype(auto) call(Held& held, Call&& call) {
        return call_each(held, call, std::index_sequence_for<A...>{});
    }
    template <class Call, std::size_t... I>
    static decltype(auto) call_each(Held& held, Call& call, std::index_sequence<I...>) {
        return call(Kind<A>::pass(*std::get<I>(held))...);
    }
};

// The parameters of a function, and of a method after its `self`.
template <class Tuple>
struct FunctionParams;
template <class... A>
struct FunctionParams<std::tuple<A...>> {
    using Type = Params<A...>;
};
template <class Tuple>
struct MethodParams;
template <class Self_, class... A>
struct MethodParams<std::tuple<Self_, A...>> {
    using Type = Params<A...>;
    using Self = Self_;
};

// The Python value of a result; `self` is returned for SameObject.
template <class R>
Ref finish(R&& result, PyObject* self) {
    using Plain = std::remove_cvref_t<R>;
    if constexpr (IsResult<Plain>::value) {
        if (!result) {
            result.error().raise();
            return {};
        }
        if constexpr (std::is_void_v<typename Plain::value_type>) {
            return Ref::borrow(Py_None);
        } else {
            return finish(std::move(*result), self);
        }
    } else if constexpr (std::is_same_v<Plain, SameObject>) {
        return Ref::borrow(self);
    } else {
        return to_python(std::forward<R>(result));
    }
}

// Runs the function, giving "no result" a value so every path can be converted alike.
struct Unit {};
template <class Call>
auto run(Call&& call) {
    if constexpr (std::is_void_v<decltype(call())>) {
        call();
        return Unit{};
    } else {
        return call();
    }
}
template <class R>
Ref finish_run(R&& result, PyObject* self) {
    if constexpr (std::is_same_v<std::remove_cvref_t<R>, Unit>) {
        return Ref::borrow(Py_None);
    } else {
        return finish(std::forward<R>(result), self);
    }
}

// The borrow of `self` a method's first parameter asks for.
template <class Self>
struct SelfBorrow {
    using T = std::remove_cvref_t<Self>;
    static constexpr bool exclusive = !std::is_const_v<std::remove_reference_t<Self>>;
    static_assert(std::is_lvalue_reference_v<Self>, "self is taken by reference");
    static_assert(!(exclusive && is_frozen<T>), "a frozen class cannot be borrowed exclusively");

    std::optional<SharedBorrow> shared;
    std::optional<ExclusiveBorrow> unique;

    bool take(PyObject* self) {
        if constexpr (is_frozen<T>) {
            return true;
        } else if constexpr (exclusive) {
            unique = ExclusiveBorrow::take(instance_of<T>(self).counter);
            return unique.has_value();
        } else {
            shared = SharedBorrow::take(instance_of<T>(self).counter);
            return shared.has_value();
        }
    }
};

// One call of a method (self given) or of a static method, module function or constructor:
// extract, borrow self, convert, run, release the borrows, convert the result.
template <auto F, bool WithSelf>
Ref invoke(PyObject* self, PyObject* args, PyObject* kwargs) {
    using Fn = Function<decltype(F)>;
    using Out = std::conditional_t<std::is_void_v<typename Fn::Result>, Unit, typename Fn::Result>;
    const Signature& signature = *signature_of<F>;
    std::vector<PyObject*> slots;
    if (!signature.extract(args, kwargs, slots)) return {};
    std::optional<Out> result;
    if constexpr (WithSelf) {
        using Split = MethodParams<typename Fn::Params>;
        using T = typename SelfBorrow<typename Split::Self>::T;
        SelfBorrow<typename Split::Self> borrow;
        typename Split::Type::Held held;
        if (!borrow.take(self) || !Split::Type::convert(signature, slots, held)) return {};
        result.emplace(run([&] {
            return Split::Type::call(held, [&](auto&&... a) {
                return F(instance_of<T>(self).value(), std::forward<decltype(a)>(a)...);
            });
        }));
    } else {
        using P = typename FunctionParams<typename Fn::Params>::Type;
        typename P::Held held;
        if (!P::convert(signature, slots, held)) return {};
        result.emplace(run([&] {
            return P::call(held, [&](auto&&... a) { return F(std::forward<decltype(a)>(a)...); });
        }));
    }
    // Every borrow is released by now; only the result remains to convert.
    return finish_run(std::move(*result), self);
}

template <auto F>
PyObject* call_method(PyObject* self, PyObject* args, PyObject* kwargs) {
    return guarded([&] { return invoke<F, true>(self, args, kwargs).release(); }, nullptr);
}
template <auto F>
PyObject* call_noargs_method(PyObject* self, PyObject*) {
    return guarded([&] { return invoke<F, true>(self, nullptr, nullptr).release(); }, nullptr);
}
template <auto F>
PyObject* call_function(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded([&] { return invoke<F, false>(nullptr, args, kwargs).release(); }, nullptr);
}
template <auto F>
PyObject* call_noargs_function(PyObject*, PyObject*) {
    return guarded([&] { return invoke<F, false>(nullptr, nullptr, nullptr).release(); }, nullptr);
}
template <auto F>
PyObject* call_constructor(PyTypeObject*, PyObject* args, PyObject* kwargs) {
    return guarded([&] { return invoke<F, false>(nullptr, args, kwargs).release(); }, nullptr);
}
template <auto F>
PyObject* get_property(PyObject* self, void*) {
    return guarded([&] { return invoke<F, true>(self, nullptr, nullptr).release(); }, nullptr);
}

template <auto F>
Signature* declare(std::initializer_list<Param> params, std::string description) {
    if (signature_of<F>) fault("a function is declared as two members");
    Signature& signature = signature_of<F>.emplace();
    signature.display = "function";
    signature.params.assign(params);
    signature.doc = std::move(description);
    return &signature;
}

template <auto F, bool WithSelf>
void declare_types(Signature& signature) {
    using Fn = Function<decltype(F)>;
    if constexpr (WithSelf) {
        MethodParams<typename Fn::Params>::Type::declare(signature);
    } else {
        FunctionParams<typename Fn::Params>::Type::declare(signature);
    }
}

// Completes a signature once its owner is known: error display name and docstring.
void finish_signature(Signature& signature, const std::string& owner, const std::string& name,
                      bool with_self);

}  // namespace detail

// A method: `R f(const T& self, args...)` (shared) or `R f(T& self, args...)` (exclusive).
// One without parameters takes no arguments at all.
template <auto F>
Member method(const char* name, std::initializer_list<Param> params, std::string description) {
    Signature* signature = detail::declare<F>(params, std::move(description));
    detail::declare_types<F, true>(*signature);
    const bool noargs = signature->params.empty();
    return {noargs ? Member::Kind::NoArgsMethod : Member::Kind::Method,
            name,
            noargs ? reinterpret_cast<void*>(&detail::call_noargs_method<F>)
                   : reinterpret_cast<void*>(&detail::call_method<F>),
            signature,
            {}};
}

// A static method: `R f(args...)`.
template <auto F>
Member static_method(const char* name, std::initializer_list<Param> params,
                     std::string description) {
    Signature* signature = detail::declare<F>(params, std::move(description));
    detail::declare_types<F, false>(*signature);
    return {Member::Kind::StaticMethod,
            name,
            signature->params.empty() ? reinterpret_cast<void*>(&detail::call_noargs_function<F>)
                                      : reinterpret_cast<void*>(&detail::call_function<F>),
            signature,
            {}};
}

// A read-only property: `R f(const T& self)`; a new Python value on every read.
template <auto F>
Member property(const char* name, std::string description) {
    Signature* signature = detail::declare<F>({}, {});
    detail::declare_types<F, true>(*signature);
    return {Member::Kind::Property, name, reinterpret_cast<void*>(&detail::get_property<F>),
            signature, std::move(description)};
}

// A constructor: `T f(args...)` or `Result<T> f(args...)`.
template <auto F>
Constructor constructor(std::initializer_list<Param> params) {
    Signature* signature = detail::declare<F>(params, {});
    detail::declare_types<F, false>(*signature);
    return {&detail::call_constructor<F>, signature};
}

// Members of T declared in other files than the class itself.
template <ModuleClass T>
std::vector<Member>& added_members() {
    static std::vector<Member> members;
    return members;
}

// Lets an area add members to a class declared elsewhere, at file scope:
//   const frame::AddMembers<Agent> tct_methods{{frame::method<&verify_tct>(...)}};
template <ModuleClass T>
struct AddMembers {
    AddMembers(std::vector<Member> members) {
        for (Member& member : members) added_members<T>().push_back(std::move(member));
    }
};

// Builds a class declaration; the description follows the constructor's text signature.
ClassSpec make_class(std::string name, std::string description, int basic_size, destructor dealloc,
                     std::optional<Constructor> constructor, std::vector<Member> members,
                     const std::vector<Member>& added);

template <ModuleClass T>
ClassSpec define_class(const char* name, std::string description, std::vector<Member> members) {
    return make_class(name, std::move(description), sizeof(Instance<T>), &dealloc_instance<T>,
                      std::nullopt, std::move(members), added_members<T>());
}
template <ModuleClass T>
ClassSpec define_class(const char* name, Constructor constructor, std::string description,
                       std::vector<Member> members) {
    return make_class(name, std::move(description), sizeof(Instance<T>), &dealloc_instance<T>,
                      constructor, std::move(members), added_members<T>());
}

template <ModuleClass T>
Export export_class() {
    return Export(T::python_class().name(), [](PyObject*) {
        return Ref::borrow(reinterpret_cast<PyObject*>(T::python_class().type()));
    });
}

// A module function: `R f(args...)`, bound to the module.
template <auto F>
Export export_function(const char* name, std::initializer_list<Param> params,
                       std::string description) {
    static PyMethodDef definition{};
    Signature* signature = detail::declare<F>(params, std::move(description));
    detail::declare_types<F, false>(*signature);
    detail::finish_signature(*signature, {}, name, false);
    definition = {name,
                  signature->params.empty() ? detail::as_cfunction(&detail::call_noargs_function<F>)
                                            : detail::as_cfunction(&detail::call_function<F>),
                  signature->params.empty() ? METH_NOARGS : METH_VARARGS | METH_KEYWORDS,
                  signature->doc.c_str()};
    return Export(name, [](PyObject* module) {
        Ref module_name = Ref::steal(PyModule_GetNameObject(module));
        if (!module_name) return Ref{};
        return Ref::steal(PyCFunction_NewEx(&definition, module, module_name.get()));
    });
}

}  // namespace vesk::frame
