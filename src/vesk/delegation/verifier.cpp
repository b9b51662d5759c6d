#include "vesk/delegation/verifier.h"

#include <algorithm>
#include <optional>

#include "vesk/core/fault.h"
#include "vesk/core/protocol.h"
#include "vesk/crypto/jws.h"
#include "vesk/crypto/keys.h"
#include "vesk/crypto/thumbprint.h"

namespace vesk {
namespace {

using K = DelegationError::Kind;

std::unexpected<DelegationError> fail(K kind) {
    return std::unexpected(DelegationError::of(kind));
}

DelegationError voucher_error(TctError error) {
    switch (error.kind) {
        case TctError::Kind::VersionUnsupported:
            return DelegationError::of(K::UnsupportedVersion);
        case TctError::Kind::UnknownField:
            return DelegationError::unknown_field(std::move(error.detail));
        case TctError::Kind::Crypto:
            if (error.crypto) return DelegationError::from(std::move(*error.crypto));
            break;
        default:
            break;
    }
    return DelegationError::of(K::VoucherInvalid);
}

// The voucher must be the verifier's own, issued to the delegator and not expired.
std::expected<GrantVoucherClaims, DelegationError> check_grant_voucher_for_delegation(
    std::string_view voucher, std::string_view delegator, const Aid& verifier, std::int64_t now) {
    auto claims = verify_grant_voucher(voucher, verifier);
    if (!claims) return std::unexpected(voucher_error(std::move(claims.error())));
    if (claims->sub.as_str() != delegator) return fail(K::VoucherInvalid);
    if (claims->exp < now) return fail(K::Expired);
    return std::move(*claims);
}

// Every hop is addressed to the verifier, is not self-issued, delegates something and binds
// its subject's key.
std::expected<void, DelegationError> check_cnf_jkt(const DelegationClaims& claims,
                                                   const Aid& verifier) {
    if (claims.aud.as_str() != verifier.as_str()) return fail(K::AudienceMismatch);
    if (claims.iss.as_str() == claims.sub.as_str()) return fail(K::SelfDelegation);
    if (claims.scope.empty()) return fail(K::EmptyScope);
    auto key = VerifyingKey::from_aid(claims.sub);
    if (!key) return std::unexpected(DelegationError::from(std::move(key.error())));
    if (jwk_thumbprint(*key) != claims.cnf.jkt) return fail(K::CnfMalformed);
    return {};
}

std::expected<DelegationClaims, DelegationError> read_claims(const Bytes& payload) {
    auto claims = json::from_json<DelegationClaims>(as_text(payload));
    if (!claims) return std::unexpected(delegation_read_error(claims.error()));
    return std::move(*claims);
}

std::expected<VerifiedDelegation, DelegationError> verify_single_hop(
    std::string_view token, const DelegationVerifyOptions& options) {
    auto claims = verify_delegation_token(token);
    if (!claims) return std::unexpected(std::move(claims.error()));
    const DelegationClaims& d = *claims;
    if (d.aud.as_str() != options.verifier.as_str()) return fail(K::AudienceMismatch);
    if (d.exp < options.now) return fail(K::Expired);
    if (!d.voucher) return fail(K::VoucherInvalid);
    auto voucher = check_grant_voucher_for_delegation(*d.voucher, d.iss.as_str(), options.verifier,
                                                      options.now);
    if (!voucher) return std::unexpected(std::move(voucher.error()));
    if (d.exp > voucher->exp) return fail(K::Expired);
    if (!scope_within(d.scope, voucher->grants)) return fail(K::ScopeExceedsGrant);
    if (auto bound = check_cnf_jkt(d, options.verifier); !bound) {
        return std::unexpected(std::move(bound.error()));
    }
    if (options.root_revocation_check &&
        options.root_revocation_check->is_revoked(voucher->src_jti)) {
        return fail(K::SourceRevoked);
    }
    // A token that names itself is revoked by that name too, when hops are checked at all.
    if (options.hop_revocation_check && d.jti &&
        options.hop_revocation_check->is_revoked(d.iss.as_str(), *d.jti)) {
        return fail(K::SourceRevoked);
    }
    return VerifiedDelegation{std::string(token), std::move(*claims), std::move(*voucher)};
}

struct HopRecord {
    std::string iss;
    Uuid jti;
};

// Checks an earlier token's own record of the chain before it: `earlier` exactly, hashed.
std::expected<void, DelegationError> check_embedded_chain(const DelegationClaims& hop,
                                                          std::span<const std::string> earlier) {
    if (!hop.chain) return {};
    if (!std::ranges::equal(*hop.chain, earlier)) return fail(K::VoucherInvalid);
    auto hash = delegation_chain_hash(*hop.chain);
    if (!hash) return std::unexpected(std::move(hash.error()));
    if (hop.chain_hash != *hash) return fail(K::VoucherInvalid);
    return {};
}

std::expected<VerifiedDelegation, DelegationError> verify_multi_hop(
    std::string_view outer, const DelegationClaims& routing,
    const DelegationVerifyOptions& options) {
    const std::vector<std::string>& chain = *routing.chain;
    const std::size_t n = chain.size();
    // The root grant, the chain tokens and the outer token each count as one hop.
    if (options.max_delegation_hops < 2 || n > options.max_delegation_hops - 2) {
        return fail(K::HopLimitExceeded);
    }
    if (!routing.chain_hash) return fail(K::ChainHashMismatch);
    auto hash = delegation_chain_hash(chain);
    if (!hash) return std::unexpected(std::move(hash.error()));
    if (*routing.chain_hash != *hash) return fail(K::ChainHashMismatch);

    std::optional<GrantVoucherClaims> voucher;
    std::optional<DelegationClaims> previous;
    std::vector<HopRecord> hops;
    hops.reserve(n + 1);
    for (std::size_t i = 0; i <= n; ++i) {
        const std::string_view token = i < n ? std::string_view(chain[i]) : outer;
        auto hop = verify_delegation_token(token);
        if (!hop) return std::unexpected(std::move(hop.error()));
        const DelegationClaims& t = *hop;
        if (auto bound = check_cnf_jkt(t, options.verifier); !bound) {
            return std::unexpected(std::move(bound.error()));
        }
        if (!t.jti ||
            std::ranges::any_of(hops, [&](const HopRecord& h) { return h.jti == *t.jti; })) {
            return fail(K::VoucherInvalid);
        }
        hops.push_back({t.iss.as_str(), *t.jti});
        if (t.exp < options.now) return fail(K::Expired);

        if (i == 0) {
            if (!t.voucher) return fail(K::VoucherInvalid);
            auto v = check_grant_voucher_for_delegation(*t.voucher, t.iss.as_str(),
                                                        options.verifier, options.now);
            if (!v) return std::unexpected(std::move(v.error()));
            if (t.exp > v->exp) return fail(K::Expired);
            if (!scope_within(t.scope, v->grants)) return fail(K::ScopeExceedsGrant);
            voucher = std::move(*v);
        } else {
            if (!previous) fault("set after first iteration");
            if (t.voucher || t.iss.as_str() != previous->sub.as_str()) {
                return fail(K::VoucherInvalid);
            }
            if (t.exp > previous->exp) return fail(K::Expired);
            if (!scope_within(t.scope, previous->scope)) return fail(K::ScopeExceedsGrant);
        }
        if (i < n) {
            auto consistent = check_embedded_chain(t, std::span(chain.data(), i));
            if (!consistent) return std::unexpected(std::move(consistent.error()));
        }
        previous = std::move(*hop);
    }
    if (!voucher) fault("first hop sets the voucher");
    if (!previous) fault("loop ran for every hop");

    if (options.root_revocation_check &&
        options.root_revocation_check->is_revoked(voucher->src_jti)) {
        return fail(K::SourceRevoked);
    }
    if (options.hop_revocation_check) {
        for (const HopRecord& hop : hops) {
            if (options.hop_revocation_check->is_revoked(hop.iss, hop.jti)) {
                return fail(K::SourceRevoked);
            }
        }
    }
    return VerifiedDelegation{std::string(outer), std::move(*previous), std::move(*voucher)};
}

}  // namespace

std::expected<DelegationClaims, DelegationError> decode_delegation_unverified(
    std::string_view token) {
    if (auto typ = JwsHeader::parse(token); typ && *typ != jws::kTypDelegation) {
        return std::unexpected(DelegationError::from(
            CryptoError::jws_typ_mismatch(std::string(jws::kTypDelegation), std::move(*typ))));
    }
    auto payload = early_payload(token, kDelegationClaimNames);
    if (!payload) return std::unexpected(std::move(payload.error()));
    return read_claims(*payload);
}

std::expected<DelegationClaims, DelegationError> verify_delegation_token(std::string_view token) {
    auto unverified = decode_delegation_unverified(token);
    if (!unverified) return std::unexpected(std::move(unverified.error()));
    auto payload = jws::verify_compact(unverified->iss, jws::kTypDelegation, token);
    if (!payload) {
        if (payload.error().kind == CryptoError::Kind::VerificationFailed) {
            return fail(K::SignatureInvalid);
        }
        return std::unexpected(DelegationError::from(std::move(payload.error())));
    }
    auto claims = read_claims(*payload);
    if (!claims) return claims;
    if (claims->ver != kProtocolVersion) return fail(K::UnsupportedVersion);
    return claims;
}

std::expected<VerifiedDelegation, DelegationError> verify_delegation_core(
    std::string_view token, const DelegationVerifyOptions& options) {
    auto routing = decode_delegation_unverified(token);
    if (!routing) return std::unexpected(std::move(routing.error()));
    const bool multi_hop_allowed = options.max_delegation_hops > 0;
    if (!routing->chain) {
        if (!multi_hop_allowed && routing->jti) {
            return std::unexpected(
                DelegationError::claims_malformed("jti claim requires multi-hop opt-in"));
        }
        return verify_single_hop(token, options);
    }
    if (!multi_hop_allowed) return fail(K::MultiHopNotSupported);
    if (routing->chain->empty()) return verify_single_hop(token, options);
    return verify_multi_hop(token, *routing, options);
}

DelegationVerified DelegationVerified::from_verified(const VerifiedDelegation& verified) {
    const DelegationClaims& claims = verified.claims;
    return {verified.voucher.iss.as_str(),
            claims.sub.as_str(),
            claims.iss.as_str(),
            claims.scope,
            claims.cnf.jkt,
            claims.exp};
}

}  // namespace vesk
