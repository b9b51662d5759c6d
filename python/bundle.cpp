// Session trust bundles from Python: SessionBundleBuilder and verify_session_bundle.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "agent.h"
#include "frame/members.h"
#include "vesk/core/clock.h"
#include "vesk/session_bundle/builder.h"
#include "vesk/session_bundle/verify.h"

namespace vesk::python {
namespace {

using frame::Error;
using session_bundle::ParticipantEntry;

struct PyBundleBuilder {
    SharedSigningKey coordinator;
    std::vector<ParticipantEntry> participants;
    std::optional<Uuid> session_id_field;
    std::optional<std::int64_t> issued_at_field;

    static const frame::ClassSpec& python_class();
};

PyBundleBuilder new_builder(const Agent& coordinator) {
    return PyBundleBuilder{coordinator.key, {}, std::nullopt, std::nullopt};
}

frame::Result<frame::SameObject> set_session_id(PyBundleBuilder& self, std::string uuid_str) {
    auto uuid = Uuid::parse(uuid_str);
    if (!uuid) return std::unexpected(Error::value("invalid uuid: " + uuid.error().text()));
    self.session_id_field = *uuid;
    return frame::SameObject{};
}

frame::SameObject set_issued_at(PyBundleBuilder& self, std::int64_t unix_secs) {
    self.issued_at_field = unix_secs;
    return {};
}

frame::Result<frame::SameObject> add_participant(PyBundleBuilder& self, std::string aid,
                                                 std::string tct_token) {
    auto parsed = Aid::parse(aid);
    if (!parsed) {
        return std::unexpected(Error::value("invalid participant AID: " + parsed.error().text()));
    }
    self.participants.push_back({std::move(*parsed), std::move(tct_token)});
    return frame::SameObject{};
}

frame::Result<std::string> build(const PyBundleBuilder& self) {
    auto bundle = session_bundle::build(*self.coordinator, self.participants, self.session_id_field,
                                        self.issued_at_field);
    if (!bundle) {
        return std::unexpected(Error::runtime("bundle build failed: " + bundle.error().text()));
    }
    return json::to_json(session_bundle::SessionBundleEnvelope{std::move(*bundle)});
}

const frame::ClassSpec& PyBundleBuilder::python_class() {
    static const frame::ClassSpec spec = frame::define_class<PyBundleBuilder>(
        "SessionBundleBuilder", frame::constructor<&new_builder>({"coordinator"}),
        "Fluent builder for issuing a `SessionBundleEnvelope`.\n\n"
        "Construct it from the coordinator's `VeskAgent`, call `participant()` once per\n"
        "participant, then `build()` to sign and serialise.",
        {
            frame::method<&set_session_id>(
                "session_id", {"uuid_str"},
                "Sets the session identifier, a UUIDv4 string. When unset, a fresh identifier is\n"
                "drawn at `build()`. Returns the builder."),
            frame::method<&set_issued_at>(
                "issued_at", {"unix_secs"},
                "Overrides the issue time in Unix seconds; it defaults to the time of `build()`.\n"
                "Returns the builder."),
            frame::method<&add_participant>(
                "participant", {"aid", "tct_token"},
                "Adds a participant entry. `tct_token` is the participant's TCT in compact JWS\n"
                "form; its issuer must equal the coordinator's AID and its audience must equal\n"
                "`aid`, checked at `build()`. Returns the builder."),
            frame::method<&build>(
                "build", {}, "Constructs, signs and returns the `SessionBundleEnvelope` JSON."),
        });
    return spec;
}

// The caller's revocation callback. Only a Python `True` (or a numpy boolean that is true)
// means revoked; an exception from the callback is discarded and any other result, however
// truthy, counts as not revoked.
class PyRevocationCheck final : public JtiRevocationCheck {
  public:
    explicit PyRevocationCheck(frame::Ref callable) : callable_(std::move(callable)) {}

    bool is_revoked(const Uuid& jti) const override {
        frame::Ref argument = frame::text_to_python(jti.to_string());
        if (!argument) return discard();
        frame::Ref result = frame::Ref::steal(
            PyObject_CallFunctionObjArgs(callable_.get(), argument.get(), nullptr));
        if (!result) return discard();
        if (PyBool_Check(result.get())) return result.get() == Py_True;
        if (!is_numpy_bool(result.get())) return false;
        const int truth = PyObject_IsTrue(result.get());
        if (truth < 0) return discard();
        return truth == 1;
    }

  private:
    // Drops a pending exception (a PanicException still ends the call) and answers false.
    static bool discard() {
        frame::take_exception();
        return false;
    }

    static bool is_numpy_bool(PyObject* object) {
        PyObject* type = reinterpret_cast<PyObject*>(Py_TYPE(object));
        frame::Ref module = frame::Ref::steal(PyObject_GetAttrString(type, "__module__"));
        frame::Ref name = frame::Ref::steal(PyObject_GetAttrString(type, "__name__"));
        if (!module || !name) return discard();
        auto module_text = frame::Arg<std::string>::convert(module.get());
        auto name_text = module_text ? frame::Arg<std::string>::convert(name.get()) : std::nullopt;
        if (!name_text) return discard();
        return *module_text == "numpy" && (*name_text == "bool_" || *name_text == "bool");
    }

    frame::Ref callable_;
};

frame::Result<frame::Dict> verification_result(const session_bundle::BundleVerdict& verdict) {
    using Kind = session_bundle::BundleVerdict::Kind;
    frame::Ref dict = frame::Ref::steal(PyDict_New());
    if (!dict) return std::unexpected(Error::python(frame::take_exception()));
    const frame::Ref values[] = {
        frame::to_python(std::string(verdict.kind == Kind::Clear ? "clear" : "degraded")),
        frame::to_python(verdict.active_aids),
        frame::to_python(verdict.dropped_aids),
    };
    const char* keys[] = {"kind", "active_aids", "dropped_aids"};
    for (std::size_t i = 0; i < 3; ++i) {
        if (!values[i] || PyDict_SetItemString(dict.get(), keys[i], values[i].get()) < 0) {
            return std::unexpected(Error::python(frame::take_exception()));
        }
    }
    return frame::Dict{std::move(dict)};
}

frame::Result<frame::Dict> verify_session_bundle(std::string bundle_envelope_json,
                                                 std::string verifier_aid,
                                                 std::optional<std::int64_t> now_unix_secs,
                                                 std::optional<frame::Callable> revocation_check) {
    auto envelope = json::from_json<session_bundle::SessionBundleEnvelope>(bundle_envelope_json);
    if (!envelope) {
        return std::unexpected(
            Error::value("invalid bundle envelope JSON: " + envelope.error().text()));
    }
    auto verifier = Aid::parse(verifier_aid);
    if (!verifier) {
        return std::unexpected(Error::value("invalid verifier AID: " + verifier.error().text()));
    }
    const std::int64_t now = now_unix_secs ? *now_unix_secs : unix_now();
    std::optional<PyRevocationCheck> check;
    if (revocation_check) check.emplace(std::move(revocation_check->object));
    auto verdict = session_bundle::verify(envelope->session_bundle,
                                          {*verifier, now, check ? &*check : nullptr});
    if (!verdict) {
        return std::unexpected(
            Error::runtime("bundle verification failed: " + verdict.error().text()));
    }
    return verification_result(*verdict);
}

const frame::Export builder_export = frame::export_class<PyBundleBuilder>();
const frame::Export verify_export = frame::export_function<&verify_session_bundle>(
    "verify_session_bundle",
    {"bundle_envelope_json", "verifier_aid", "now_unix_secs", "revocation_check"},
    "Verify a `SessionBundleEnvelope` JSON.\n\n"
    "Returns a dict with the verification outcome: \"kind\" is \"clear\" when every participant\n"
    "TCT verified and \"degraded\" when one or more participant TCTs were revoked; "
    "\"active_aids\"\n"
    "and \"dropped_aids\" list the members kept and dropped, in bundle order.\n\n"
    "`revocation_check` is an optional callable that receives a TCT jti (UUID string) and\n"
    "returns True if revoked. Only `True` (or a numpy boolean) means revoked: any other result,\n"
    "such as `1` or a string, counts as not revoked, and an exception raised by the callable is\n"
    "discarded and the member counts as not revoked.");

}  // namespace
}  // namespace vesk::python
