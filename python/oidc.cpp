// JwksProvider, and the adapter that calls a Python `oidc_mint_jwt` for a session's own
// OIDC identity.
#include "oidc.h"

#include <string>
#include <utility>
#include <vector>

#include "session.h"
#include "vesk/core/json_reader.h"
#include "vesk/core/url.h"
#include "vesk/handshake/jwk.h"

namespace vesk::python {
namespace {

using frame::Error;
using frame::Ref;

Error python_error() {
    return Error::python(frame::take_exception());
}

// str(object), or nothing with an exception set.
std::optional<std::string> str_of(PyObject* object) {
    Ref text = Ref::steal(PyObject_Str(object));
    if (!text) return std::nullopt;
    return frame::Arg<std::string>::convert(text.get());
}

// "TypeError: message", as an exception is shown in error texts.
std::string render_exception(const Ref& exception) {
    std::string out = "<unknown>";
    Ref type = Ref::borrow(reinterpret_cast<PyObject*>(Py_TYPE(exception.get())));
    Ref name = Ref::steal(PyObject_GetAttrString(type.get(), "__qualname__"));
    if (auto text = name ? frame::Arg<std::string>::convert(name.get()) : std::nullopt) out = *text;
    PyErr_Clear();
    auto message = str_of(exception.get());
    PyErr_Clear();
    return out + ": " + message.value_or("<exception str() failed>");
}

// The reading of one list of JWK dicts; json.dumps errors propagate as raised.
frame::Result<std::vector<handshake::Jwk>> read_jwks(PyObject* list) {
    std::vector<handshake::Jwk> keys;
    for (Py_ssize_t i = 0; i < PyList_Size(list); ++i) {
        const std::string index = std::to_string(i);
        Ref item = Ref::borrow(PyList_GetItem(list, i));
        if (!item) return std::unexpected(python_error());
        if (!PyDict_Check(item.get())) {
            return std::unexpected(Error::value("JWK at index " + index + " must be a dict"));
        }
        Ref json_module = Ref::steal(PyImport_ImportModule("json"));
        if (!json_module) return std::unexpected(python_error());
        Ref dumped = Ref::steal(PyObject_CallMethod(json_module.get(), "dumps", "O", item.get()));
        if (!dumped) return std::unexpected(python_error());
        auto text = frame::Arg<std::string>::convert(dumped.get());
        if (!text) return std::unexpected(python_error());
        auto value = json::parse(*text);
        if (!value) {
            return std::unexpected(
                Error::runtime("could not re-parse JWK JSON: " + value.error().text()));
        }
        const json::Object* object = value->as_object();
        if (!object) {
            return std::unexpected(Error::value("JWK at index " + index + " must be a dict"));
        }
        auto key = handshake::read_jwk(*object);
        if (!key) {
            return std::unexpected(
                Error::value("JWK at index " + index + " invalid: " + key.error().text()));
        }
        keys.push_back(std::move(*key));
    }
    return keys;
}

frame::Result<void> register_issuer(handshake::JwksStore& store, const std::string& issuer,
                                    PyObject* list) {
    auto url = parse_url(issuer);
    if (!url) {
        return std::unexpected(
            Error::value("invalid issuer URL '" + issuer + "': " + url.error().text()));
    }
    auto keys = read_jwks(list);
    if (!keys) return std::unexpected(keys.error());
    if (auto done = store.upsert(*url, std::move(*keys)); !done) {
        return std::unexpected(Error::runtime(done.error()));
    }
    return {};
}

frame::Result<PyJwksProvider> new_provider(std::optional<frame::Dict> keys) {
    auto store = std::make_shared<handshake::JwksStore>();
    if (keys) {
        // A snapshot of the items: json.dumps may run arbitrary code.
        Ref items = Ref::steal(PyDict_Items(keys->object.get()));
        if (!items) return std::unexpected(python_error());
        for (Py_ssize_t i = 0; i < PyList_Size(items.get()); ++i) {
            PyObject* pair = PyList_GetItem(items.get(), i);
            PyObject* issuer = PyTuple_GetItem(pair, 0);
            PyObject* list = PyTuple_GetItem(pair, 1);
            if (!PyUnicode_Check(issuer)) {
                return std::unexpected(
                    Error::value("JwksProvider keys must be issuer URL strings"));
            }
            auto text = frame::Arg<std::string>::convert(issuer);
            if (!text) return std::unexpected(python_error());
            if (!PyList_Check(list)) {
                return std::unexpected(
                    Error::value("JwksProvider['" + *text + "'] must be a list"));
            }
            if (auto done = register_issuer(*store, *text, list); !done) {
                return std::unexpected(done.error());
            }
        }
    }
    return PyJwksProvider{std::move(store)};
}

frame::Result<void> upsert(const PyJwksProvider& self, std::string issuer, frame::List keys) {
    return register_issuer(*self.store, issuer, keys.object.get());
}

frame::Result<void> remove(const PyJwksProvider& self, std::string issuer) {
    if (auto done = self.store->remove(issuer); !done) {
        return std::unexpected(Error::runtime(done.error()));
    }
    return {};
}

frame::Result<std::vector<std::string>> issuers(const PyJwksProvider& self) {
    auto listed = self.store->issuers();
    if (!listed) return std::unexpected(Error::runtime(listed.error()));
    return std::move(*listed);
}

// Calls the Python minter with the nonce; its failures become texts.
handshake::MintJwtFn mint_jwt_adapter(frame::Callable callable) {
    return [object = std::move(callable.object)](
               std::string_view nonce) -> std::expected<std::string, std::string> {
        Ref argument = frame::text_to_python(nonce);
        if (!argument)
            return std::unexpected("oidc_mint_jwt raised: " +
                                   render_exception(frame::take_exception()));
        Ref result =
            Ref::steal(PyObject_CallFunctionObjArgs(object.get(), argument.get(), nullptr));
        if (!result) {
            return std::unexpected("oidc_mint_jwt raised: " +
                                   render_exception(frame::take_exception()));
        }
        auto token = frame::Arg<std::string>::convert(result.get());
        if (!token) {
            Ref error = frame::take_exception();
            auto message = str_of(error.get());
            PyErr_Clear();
            return std::unexpected("oidc_mint_jwt must return str: " + message.value_or(""));
        }
        return std::move(*token);
    };
}

const frame::Export provider_export = frame::export_class<PyJwksProvider>();

}  // namespace

std::optional<handshake::MintJwtFn> mint_jwt(std::optional<frame::Callable> oidc_mint_jwt) {
    if (!oidc_mint_jwt) return std::nullopt;
    return mint_jwt_adapter(std::move(*oidc_mint_jwt));
}

const frame::ClassSpec& PyJwksProvider::python_class() {
    static const frame::ClassSpec spec = frame::define_class<PyJwksProvider>(
        "JwksProvider", frame::constructor<&new_provider>({"keys"}),
        "In-memory OIDC JWKS provider — issuer URL → list of JWK dicts.\n\n"
        "The Python caller fetches the JWKS (the SDK has no HTTP client) and\n"
        "hands the parsed dicts to this provider. Implements `JwksResolver`\n"
        "internally so the handshake state machine can dispatch through it.",
        {
            frame::method<&upsert>("upsert", {"issuer", "keys"},
                                   "Add or replace the JWKs for an issuer."),
            frame::method<&remove>("remove", {"issuer"},
                                   "Drop all keys for an issuer (no-op if not present)."),
            frame::method<&issuers>("issuers", {}, "Return the issuer URLs currently registered."),
        });
    return spec;
}

}  // namespace vesk::python
