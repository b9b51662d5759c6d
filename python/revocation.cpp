// Revocation snapshots from Python: VeskAgent.sign_revocation_list, verify_revocation_list and
// revocation_signing_bytes.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "agent.h"
#include "frame/members.h"
#include "vesk/core/clock.h"
#include "vesk/core/protocol.h"
#include "vesk/core/saturating.h"
#include "vesk/revocation/revocation_list.h"

namespace vesk::python {
namespace {

using frame::Error;
using revocation::RevocationEntry;
using revocation::RevocationList;
using revocation::RevocationListEnvelope;

// The value under `key`, or null when absent; a failing lookup leaves its exception set.
frame::Ref dict_item(PyObject* dict, const char* key) {
    frame::Ref name = frame::Ref::steal(PyUnicode_FromString(key));
    if (!name) return {};
    return frame::Ref::borrow(PyDict_GetItemWithError(dict, name.get()));
}

// The text of a `str`, or nothing (with no exception left pending).
std::optional<std::string> text_of(PyObject* object) {
    auto text = frame::Arg<std::string>::convert(object);
    if (!text) frame::take_exception();
    return text;
}

// One item of `entries`, read in the fixed order jti, revoked_at, reason.
frame::Result<RevocationEntry> read_entry(PyObject* item, std::size_t index, std::int64_t now) {
    const std::string at = "entries[" + std::to_string(index);
    if (!PyDict_Check(item)) {
        return std::unexpected(Error::value(at + "] must be a dict with at least a 'jti' key"));
    }
    frame::Ref jti = dict_item(item, "jti");
    if (!jti) {
        if (PyErr_Occurred()) return std::unexpected(Error::python(frame::take_exception()));
        return std::unexpected(Error::value(at + "].jti is required"));
    }
    std::optional<std::string> jti_text = text_of(jti.get());
    if (!jti_text) return std::unexpected(Error::value(at + "].jti must be a string"));
    auto uuid = Uuid::parse(*jti_text);
    if (!uuid) {
        return std::unexpected(
            Error::value(at + "].jti is not a valid UUID: " + uuid.error().text()));
    }
    RevocationEntry entry{*uuid, now, std::nullopt};

    frame::Ref revoked_at = dict_item(item, "revoked_at");
    if (!revoked_at && PyErr_Occurred()) {
        return std::unexpected(Error::python(frame::take_exception()));
    }
    if (revoked_at && revoked_at.get() != Py_None) {
        auto seconds = frame::Arg<std::int64_t>::convert(revoked_at.get());
        if (!seconds) {
            frame::take_exception();
            return std::unexpected(Error::value(at + "].revoked_at must be an int (unix seconds)"));
        }
        entry.revoked_at = *seconds;
    }

    frame::Ref reason = dict_item(item, "reason");
    if (!reason && PyErr_Occurred()) return std::unexpected(Error::python(frame::take_exception()));
    if (reason && reason.get() != Py_None) {
        entry.reason = text_of(reason.get());
        if (!entry.reason) return std::unexpected(Error::value(at + "].reason must be a string"));
    }
    return entry;
}

frame::Result<std::string> sign_revocation_list(const Agent& self, frame::List entries,
                                                std::optional<std::int64_t> expires_in_secs) {
    const std::int64_t now = unix_now();
    RevocationList list{std::string(kProtocolVersion),
                        self.key->aid(),
                        now,
                        sat_add(now, expires_in_secs.value_or(revocation::kDefaultSnapshotTtlSecs)),
                        {},
                        std::nullopt};
    // The length is read afresh for each item: converting an item may run Python code.
    PyObject* items = entries.object.get();
    for (Py_ssize_t i = 0; i < PyList_Size(items); ++i) {
        frame::Ref item = frame::Ref::borrow(PyList_GetItem(items, i));
        auto entry = read_entry(item.get(), static_cast<std::size_t>(i), now);
        if (!entry) return std::unexpected(std::move(entry.error()));
        list.entries.push_back(std::move(*entry));
    }
    auto envelope = revocation::sign(std::move(list), *self.key);
    if (!envelope) {
        return std::unexpected(
            Error::runtime("sign_revocation_list failed: " + envelope.error().text()));
    }
    return json::to_json(*envelope);
}

frame::Result<void> verify_revocation_list(std::string envelope_json,
                                           std::string expected_issuer_aid,
                                           std::optional<std::int64_t> now_unix_secs) {
    auto envelope = json::from_json<RevocationListEnvelope>(envelope_json);
    if (!envelope) {
        return std::unexpected(Error::revocation_verification(
            "invalid revocation envelope JSON: " + envelope.error().text(), "malformed"));
    }
    auto expected = Aid::parse(expected_issuer_aid);
    if (!expected) {
        return std::unexpected(
            Error::value("invalid expected_issuer_aid: " + expected.error().text()));
    }
    const std::int64_t now = now_unix_secs ? *now_unix_secs : unix_now();
    auto verified = revocation::verify(*envelope, *expected, now);
    if (!verified) {
        return std::unexpected(Error::revocation_verification(
            "revocation snapshot verification failed: " + verified.error().text(),
            std::string(revocation::error_code(verified.error()))));
    }
    return {};
}

frame::Result<std::vector<std::uint8_t>> revocation_signing_bytes(std::string envelope_json) {
    auto envelope = json::from_json<RevocationListEnvelope>(envelope_json);
    if (!envelope) {
        return std::unexpected(
            Error::value("invalid revocation envelope JSON: " + envelope.error().text()));
    }
    auto bytes = revocation::signing_bytes(envelope->revocation_list);
    if (!bytes) {
        return std::unexpected(Error::runtime("canonicalization failed: " + bytes.error().text()));
    }
    return std::vector<std::uint8_t>(bytes->begin(), bytes->end());
}

const frame::AddMembers<Agent> revocation_methods{{
    frame::method<&sign_revocation_list>(
        "sign_revocation_list", {"entries", "expires_in_secs"},
        "Sign a `RevocationList` with this agent's key.\n\n"
        "`entries` is a list of dicts with keys `jti` (UUID string, required), `revoked_at` (int\n"
        "unix seconds, optional, defaults to now) and `reason` (str, optional).\n"
        "`expires_in_secs` defaults to 3600. Returns the on-wire `RevocationListEnvelope` JSON."),
}};

const frame::Export verify_export = frame::export_function<&verify_revocation_list>(
    "verify_revocation_list", {"envelope_json", "expected_issuer_aid", "now_unix_secs"},
    "Verify a `RevocationListEnvelope` JSON string against a pinned issuer.\n\n"
    "Returns None on success and raises `RevocationVerificationError` with a `.code` otherwise.\n"
    "It establishes authenticity and non-expiry only: the snapshot is signed by the holder of\n"
    "`expected_issuer_aid` and its `expires_at` has not passed. It does not check `published_at`\n"
    "staleness, which is the consuming peer's freshness policy: callers own the staleness\n"
    "budget.");

const frame::Export signing_bytes_export = frame::export_function<&revocation_signing_bytes>(
    "revocation_signing_bytes", {"envelope_json"},
    "The exact bytes a revocation snapshot's signature is computed over: `JCS(revocation_list)`,\n"
    "the inner body and not the transport wrapper.\n\n"
    "Exposed so that a caller needing the signed bytes (an independent verifier, a hardware\n"
    "signing path, a debugging tool) obtains them instead of reconstructing the shape itself.");

}  // namespace
}  // namespace vesk::python
