// Delegation from Python: DelegationVerified, verify_delegation, verify_delegation_multihop and
// the VeskAgent methods that build a delegation and redeem a verified one.
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "agent.h"
#include "frame/members.h"
#include "vesk/core/clock.h"
#include "vesk/delegation/builder.h"
#include "vesk/delegation/verifier.h"
#include "vesk/tokens/mint.h"

namespace vesk::python {
namespace {

using frame::Error;

// The salient fields of a verified delegation token; immutable.
struct PyDelegationVerified {
    static constexpr bool frozen = true;
    DelegationVerified value;
    static const frame::ClassSpec& python_class();
};

std::string delegator(const PyDelegationVerified& self) {
    return self.value.delegator;
}
std::string delegatee(const PyDelegationVerified& self) {
    return self.value.delegatee;
}
std::string issued_by(const PyDelegationVerified& self) {
    return self.value.issued_by;
}
std::vector<std::string> grants(const PyDelegationVerified& self) {
    return self.value.grants;
}
std::int64_t expires_at(const PyDelegationVerified& self) {
    return self.value.expires_at;
}
std::string cnf(const PyDelegationVerified& self) {
    return self.value.cnf;
}

const frame::ClassSpec& PyDelegationVerified::python_class() {
    static const frame::ClassSpec spec = frame::define_class<PyDelegationVerified>(
        "DelegationVerified",
        "The salient fields of a verified delegation token, returned by verify_delegation.",
        {
            frame::property<&delegator>(
                "delegator",
                "The AID of the agent that issued the grant voucher (the root grantor)."),
            frame::property<&delegatee>("delegatee",
                                        "The AID the delegation is handed to: the token's `sub`."),
            frame::property<&issued_by>("issued_by",
                                        "The AID that signed the delegation token: its `iss`."),
            frame::property<&grants>("grants", "The delegated capabilities, in token order."),
            frame::property<&expires_at>("expires_at",
                                         "The delegation token's expiry, in Unix seconds."),
            frame::property<&cnf>("cnf", "The delegatee's key thumbprint: the token's `cnf.jkt`."),
        });
    return spec;
}

// An AID argument; `role` names it in the error text.
frame::Result<Aid> aid_argument(const std::string& text, const std::string& role) {
    auto aid = Aid::parse(text);
    if (!aid) {
        return std::unexpected(Error::value("invalid " + role + " AID: " + aid.error().text()));
    }
    return std::move(*aid);
}

frame::Result<PyDelegationVerified> verify(const std::string& token,
                                           const std::string& verifier_aid,
                                           std::uint64_t max_delegation_hops,
                                           std::optional<std::set<std::string>>& revoked_jtis) {
    auto verifier = aid_argument(verifier_aid, "verifier");
    if (!verifier) return std::unexpected(std::move(verifier.error()));
    std::optional<RevokedJtiSet> root_check;
    std::optional<RevokedHopSet> hop_check;
    if (revoked_jtis) {
        root_check.emplace(*revoked_jtis);
        hop_check.emplace(std::move(*revoked_jtis));
    }
    const DelegationVerifyOptions options{
        .verifier = *verifier,
        .now = unix_now(),
        .max_delegation_hops = max_delegation_hops,
        .root_revocation_check = root_check ? &*root_check : nullptr,
        // Single-hop verification never asks about hops.
        .hop_revocation_check = hop_check && max_delegation_hops > 0 ? &*hop_check : nullptr,
    };
    auto verified = verify_delegation_core(token, options);
    if (!verified) {
        return std::unexpected(
            Error::runtime("delegation verification failed: " + verified.error().text()));
    }
    return PyDelegationVerified{DelegationVerified::from_verified(*verified)};
}

frame::Result<PyDelegationVerified> verify_delegation(
    std::string delegation_token, std::string verifier_aid,
    std::optional<std::set<std::string>> revoked_jtis) {
    return verify(delegation_token, verifier_aid, 0, revoked_jtis);
}

frame::Result<PyDelegationVerified> verify_delegation_multihop(
    std::string delegation_token, std::string verifier_aid, std::uint64_t max_delegation_hops,
    std::optional<std::set<std::string>> revoked_jtis) {
    return verify(delegation_token, verifier_aid, max_delegation_hops, revoked_jtis);
}

frame::Result<std::string> build_delegation(const Agent& self, std::string voucher_token,
                                            std::string delegatee_aid,
                                            std::vector<std::string> scope,
                                            std::optional<std::int64_t> ttl_secs) {
    auto delegatee = aid_argument(delegatee_aid, "delegatee");
    if (!delegatee) return std::unexpected(std::move(delegatee.error()));
    DelegationBuildRequest request(*self.key, std::move(voucher_token), unix_now());
    request.delegatee = std::move(*delegatee);
    request.scope = std::move(scope);
    if (ttl_secs) request.ttl_secs = *ttl_secs;
    auto token = vesk::build_delegation(request);
    if (!token) {
        return std::unexpected(Error::runtime("delegation build failed: " + token.error().text()));
    }
    return std::move(*token);
}

frame::Result<std::string> issue_tct_for_delegatee(const Agent& self,
                                                   const PyDelegationVerified& verified,
                                                   std::optional<std::int64_t> ttl_secs) {
    auto delegatee = aid_argument(verified.value.delegatee, "delegatee");
    if (!delegatee) return std::unexpected(std::move(delegatee.error()));
    auto key = VerifyingKey::from_aid(*delegatee);
    if (!key) {
        return std::unexpected(
            Error::value("delegatee AID has invalid key bytes: " + key.error().text()));
    }
    TctMintRequest request(*self.key);
    request.subject_pubkey = std::move(*key);
    request.grants = verified.value.grants;
    request.subject = *delegatee;
    request.audience = std::move(*delegatee);
    if (ttl_secs) request.ttl_secs = *ttl_secs;
    auto minted = mint_tct(std::move(request));
    if (!minted) {
        return std::unexpected(Error::runtime("TCT mint failed: " + minted.error().text()));
    }
    return tct_envelope_json(minted->token, minted->grant_voucher);
}

const frame::AddMembers<Agent> delegation_methods{{
    frame::method<&build_delegation>(
        "build_delegation", {"voucher_token", "delegatee_aid", "scope", "ttl_secs"},
        "Builds a single-hop delegation token (compact JWS) from a held grant voucher.\n\n"
        "This agent, the delegator, signs it, and its audience is fixed to the voucher's issuer,\n"
        "the root grantor. `voucher_token` is the grant voucher this agent received with its TCT\n"
        "in the handshake commit (the \"grant_voucher\" member returned by\n"
        "InitiatorSession.complete and ResponderSession.process_commit); its `sub` must be this\n"
        "agent's AID. The recipient is named by `delegatee_aid`, from which its key binding is\n"
        "derived, so no public key is passed. `ttl_secs` defaults to 3600; the token never\n"
        "outlives the voucher."),
    frame::method<&issue_tct_for_delegatee>(
        "issue_tct_for_delegatee", {"verified", "ttl_secs"},
        "Mints a fresh TCT ({\"tct\", \"grant_voucher\"} JSON) for a delegatee after this agent\n"
        "has verified the delegation, carrying the delegated grants. The subject key binding is\n"
        "derived from the delegatee's AID. `ttl_secs` defaults to 3600."),
}};

const frame::Export verified_export = frame::export_class<PyDelegationVerified>();
const frame::Export verify_export = frame::export_function<&verify_delegation>(
    "verify_delegation", {"delegation_token", "verifier_aid", "revoked_jtis"},
    "Verifies a delegation token under strict single-hop rules.\n\n"
    "Verification fails unless `verifier_aid` equals the embedded grant voucher's `iss` and the\n"
    "token's `aud`; a token that carries a `chain` is rejected. `revoked_jtis` is the verifier's\n"
    "own deny list, consulted for the voucher's `src_jti` after every signature check has\n"
    "passed. Verifiers should supply it: omitting it lets a delegation of a revoked TCT through.");
const frame::Export verify_multihop_export = frame::export_function<&verify_delegation_multihop>(
    "verify_delegation_multihop",
    {"delegation_token",
     "verifier_aid",
     {"max_delegation_hops", kDefaultMaxDelegationHops, "..."},
     "revoked_jtis"},
    "Verifies a single-hop delegation token or a chain of them.\n\n"
    "Chains are allowed up to `max_delegation_hops` total hops (the root grant, each chain\n"
    "entry and the outer token); 3, the default, is the recommended ceiling, a smaller value\n"
    "tightens the bound and 0 restores the strict single-hop behaviour of verify_delegation.\n"
    "When `revoked_jtis` is given it is consulted after every signature check: for the root\n"
    "voucher's `src_jti` and for the `jti` of every hop (each chain entry and the outer\n"
    "token).");

}  // namespace
}  // namespace vesk::python
