// Module definition: multi-phase initialisation with one execution slot that registers the
// exports declared by the area files, in the module's fixed order.
#include <array>
#include <string_view>

#include "frame/errors.h"
#include "frame/exports.h"
#include "vesk/core/fault.h"

namespace vesk::frame {
namespace {

// Every name the module may export, in registration order. Names no area declares are
// skipped.
constexpr std::array<std::string_view, 19> registration_order = {
    "VeskAgent",
    "InitiatorSession",
    "ResponderSession",
    "TctIdentity",
    "TctStore",
    "DelegationVerified",
    "JwksProvider",
    "verify_delegation",
    "verify_revocation_list",
    "revocation_signing_bytes",
    "ManifestVerificationError",
    "RevocationVerificationError",
    "verify_delegation_multihop",
    "verify_manifest_json",
    "compute_aid_jkt",
    "SessionBundleBuilder",
    "verify_session_bundle",
    "SpkiPinVerifier",
    "compute_spki_hash",
};

// Appends `name` to the module's `__all__` (created empty if missing), then binds it.
bool add_export(PyObject* module, std::string_view name, const Ref& object) {
    Ref all = Ref::steal(PyObject_GetAttrString(module, "__all__"));
    if (!all) {
        PyErr_Clear();
        all = Ref::steal(PyList_New(0));
        if (!all || PyObject_SetAttrString(module, "__all__", all.get()) < 0) return false;
    }
    Ref text = text_to_python(name);
    if (!text || PyList_Append(all.get(), text.get()) < 0) {
        PyErr_Clear();
        fault("could not append to __all__");
    }
    return PyObject_SetAttr(module, text.get(), object.get()) == 0;
}

int exec_module(PyObject* module) {
    return guarded(
        [&] {
            if (!PyModule_Check(module)) {
                PyErr_SetString(PyExc_TypeError, "expected a module object");
                return -1;
            }
            const auto& declared = exports();
            std::size_t registered = 0;
            for (std::string_view name : registration_order) {
                auto found = declared.find(std::string(name));
                if (found == declared.end()) continue;
                Ref object = found->second(module);
                if (!object || !add_export(module, name, object)) return -1;
                ++registered;
            }
            if (registered != declared.size()) fault("an export is missing from the module order");
            return 0;
        },
        -1);
}

PyModuleDef_Slot module_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(exec_module)},
    {0, nullptr},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT,
    "vesk",
    "The `vesk` Python module.",
    0,
    nullptr,
    module_slots,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace
}  // namespace vesk::frame

extern "C" __attribute__((visibility("default"))) PyObject* PyInit_vesk() {
    return PyModuleDef_Init(&vesk::frame::module_def);
}
