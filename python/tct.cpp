// Capability tokens from Python: TctIdentity, TctStore and the VeskAgent methods that verify,
// cache and renew TCTs.
#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>

#include "agent.h"
#include "frame/members.h"
#include "vesk/core/clock.h"
#include "vesk/core/json_record.h"
#include "vesk/tokens/cache.h"
#include "vesk/tokens/renewal.h"
#include "vesk/tokens/verify.h"

namespace vesk::python {
namespace {

// The verified peer identity a TCT carries; immutable, possibly shared with a cache entry.
struct PyTctIdentity {
    static constexpr bool frozen = true;
    std::shared_ptr<const TctIdentity> value;
    static const frame::ClassSpec& python_class();
};

struct PyTctStore {
    std::unique_ptr<TctCache> cache;
    static const frame::ClassSpec& python_class();
};

std::string peer_aid(const PyTctIdentity& self) {
    return self.value->peer_aid;
}
std::vector<std::string> grants(const PyTctIdentity& self) {
    return self.value->grants;
}
std::int64_t expires_at(const PyTctIdentity& self) {
    return self.value->expires_at;
}
std::string jti(const PyTctIdentity& self) {
    return self.value->jti;
}

const frame::ClassSpec& PyTctIdentity::python_class() {
    static const frame::ClassSpec spec = frame::define_class<PyTctIdentity>(
        "TctIdentity", "The verified peer identity carried by a TCT.",
        {
            frame::property<&peer_aid>(
                "peer_aid", "The AID of the agent that issued the TCT and is bound by it."),
            frame::property<&grants>("grants", "The capabilities the TCT grants, in token order."),
            frame::property<&expires_at>("expires_at", "The TCT's expiry, in Unix seconds."),
            frame::property<&jti>("jti", "The TCT's identifier, a lowercase hyphenated UUID."),
        });
    return spec;
}

frame::Result<PyTctStore> new_store(std::uint64_t max_entries) {
    if (max_entries == 0) return std::unexpected(frame::Error::value("max_entries must be >= 1"));
    return PyTctStore{std::make_unique<TctCache>(max_entries)};
}
std::uint64_t store_len(const PyTctStore& self) {
    return self.cache->size();
}
void store_clear(const PyTctStore& self) {
    self.cache->clear();
}

const frame::ClassSpec& PyTctStore::python_class() {
    static const frame::ClassSpec spec = frame::define_class<PyTctStore>(
        "TctStore", frame::constructor<&new_store>({"max_entries"}),
        "A bounded in-memory cache of successful TCT verifications, keyed by the SHA-256 of the\n"
        "exact token bytes. Only the signature check is skipped on a hit: revocation, audience,\n"
        "expiry and the required grant are checked on every call. Once max_entries is reached,\n"
        "the oldest entry is evicted first (first in, first out).",
        {
            frame::method<&store_len>("len", {}, "The number of cached verifications."),
            frame::method<&store_clear>("clear", {}, "Drops every cached verification."),
        });
    return spec;
}

// A refused token is a ValueError when it could not be read, a RuntimeError when a check failed.
frame::Error check_error(const TctCheckError& error,
                         const std::optional<std::string>& expected_audience) {
    using Kind = TctCheckError::Kind;
    switch (error.kind) {
        case Kind::Compact:
            return frame::Error::value("malformed TCT compact JWS: " + error.detail);
        case Kind::Claims:
            return frame::Error::value("invalid TCT claims: " + error.detail);
        case Kind::Audience:
            return frame::Error::value("bad expected_audience AID '" +
                                       expected_audience.value_or("") + "': " + error.detail);
        case Kind::Verification:
            return frame::Error::runtime("TCT verification failed: " + error.detail);
        case Kind::GrantMissing:
            break;
    }
    return frame::Error::runtime(error.detail);
}

std::optional<RevokedJtiSet> revocation(std::optional<std::set<std::string>>& revoked_jtis) {
    if (!revoked_jtis) return std::nullopt;
    return RevokedJtiSet(std::move(*revoked_jtis));
}

frame::Result<PyTctIdentity> verify_tct(const Agent& self, std::string tct_token,
                                        std::string required_grant,
                                        std::optional<std::string> expected_audience,
                                        std::optional<std::set<std::string>> revoked_jtis) {
    const auto revoked = revocation(revoked_jtis);
    auto verified =
        verify_tct_for_agent(self.key->aid(), tct_token, required_grant, expected_audience,
                             revoked ? &*revoked : nullptr, unix_now());
    if (!verified) return std::unexpected(check_error(verified.error(), expected_audience));
    return PyTctIdentity{std::make_shared<const TctIdentity>(std::move(verified->identity))};
}

frame::Result<PyTctIdentity> verify_tct_cached_method(
    const Agent& self, std::string tct_token, std::string required_grant, const PyTctStore& store,
    std::optional<std::string> expected_audience,
    std::optional<std::set<std::string>> revoked_jtis) {
    const auto revoked = revocation(revoked_jtis);
    auto verified = verify_tct_cached(*store.cache, self.key->aid(), tct_token, required_grant,
                                      expected_audience, revoked ? &*revoked : nullptr, unix_now());
    if (!verified) return std::unexpected(check_error(verified.error(), expected_audience));
    return PyTctIdentity{std::move(*verified)};
}

std::string build_renewal_request_method(const Agent& self, std::string current_tct_envelope_json) {
    return build_renewal_request(*self.key, current_tct_envelope_json);
}

frame::Result<std::string> process_renewal_request_method(const Agent& self,
                                                          std::string request_payload_json,
                                                          std::int64_t manifest_exp_unix_secs,
                                                          std::int64_t new_ttl_secs) {
    auto request = json::from_json<TctRenewalPayload>(request_payload_json);
    if (!request) {
        return std::unexpected(
            frame::Error::value("invalid renewal payload JSON: " + request.error().text()));
    }
    auto minted = process_renewal_request(*request, *self.key, manifest_exp_unix_secs, unix_now(),
                                          new_ttl_secs);
    if (!minted) {
        return std::unexpected(
            frame::Error::runtime("renewal request rejected: " + minted.error().text()));
    }
    return tct_envelope_json(minted->token, minted->grant_voucher);
}

const frame::AddMembers<Agent> tct_methods{{
    frame::method<&verify_tct>(
        "verify_tct", {"tct_token", "required_grant", "expected_audience", "revoked_jtis"},
        "Verifies a TCT compact-JWS string and requires `required_grant`, raising on an invalid,\n"
        "mis-audienced, expired, revoked or under-scoped token.\n\n"
        "With `expected_audience` None the agent verifies as the holder, against its own AID. A\n"
        "resource server checking a TCT presented by a peer passes the TCT's own `aud` claim\n"
        "(which equals its `sub`). Verifiers should supply `revoked_jtis`: without it a revoked\n"
        "but unexpired token is honoured. A plain set keeps the check free of Python callbacks."),
    frame::method<&verify_tct_cached_method>(
        "verify_tct_cached",
        {"tct_token", "required_grant", "store", "expected_audience", "revoked_jtis"},
        "`verify_tct` with a `TctStore` consulted first. A token whose exact bytes were verified\n"
        "before is answered without the signature check when it is not revoked, was verified\n"
        "for the same audience, has not reached its expiry and carries `required_grant`; every\n"
        "other call verifies in full and records a success. Raises what `verify_tct` raises."),
    frame::method<&build_renewal_request_method>(
        "build_renewal_request", {"current_tct_envelope_json"},
        "Holder side of an in-band renewal: builds a TctRenewalPayload JSON for the given TCT\n"
        "(its compact JWS text), with a fresh nonce signed by this agent's key."),
    frame::method<&process_renewal_request_method>(
        "process_renewal_request",
        {"request_payload_json", "manifest_exp_unix_secs", "new_ttl_secs"},
        "Issuer side of an in-band renewal: verifies a TctRenewalPayload request for a TCT this\n"
        "agent issued, checks the holder's proof of possession and mints a fresh TCT and grant\n"
        "voucher, returned as {\"tct\", \"grant_voucher\"} JSON. The new TCT never outlives\n"
        "the Manifest expiry; the requested lifetime is capped by that bound."),
}};

const frame::Export identity_export = frame::export_class<PyTctIdentity>();
const frame::Export store_export = frame::export_class<PyTctStore>();

}  // namespace
}  // namespace vesk::python
