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

using ReadDelegation = jws::ReadToken<DelegationClaims>;

// A read token checked against the key its own `iss` names, then its version.
std::expected<void, DelegationError> verify_hop(const ReadDelegation& hop) {
    if (auto verified = jws::verify_read(hop.claims.iss, jws::kTypDelegation, hop); !verified) {
        if (verified.error().kind == CryptoError::Kind::VerificationFailed) {
            return fail(K::SignatureInvalid);
        }
        return std::unexpected(DelegationError::from(std::move(verified.error())));
    }
    if (hop.claims.ver != kProtocolVersion) return fail(K::UnsupportedVersion);
    return {};
}

std::expected<VerifiedDelegation, DelegationError> verify_single_hop(
    std::string_view token, ReadDelegation read, const DelegationVerifyOptions& options) {
    if (auto verified = verify_hop(read); !verified) return std::unexpected(verified.error());
    const DelegationClaims& d = read.claims;
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
    return VerifiedDelegation{std::string(token), std::move(read.claims), std::move(*voucher)};
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

// The chain tokens are read and walked first hop first; the outer token, read already, last.
std::expected<VerifiedDelegation, DelegationError> verify_multi_hop(
    std::string_view outer_token, ReadDelegation outer, const DelegationVerifyOptions& options) {
    const std::vector<std::string>& chain = *outer.claims.chain;
    const std::size_t n = chain.size();
    // The root grant, the chain tokens and the outer token each count as one hop.
    if (options.max_delegation_hops < 2 || n > options.max_delegation_hops - 2) {
        return fail(K::HopLimitExceeded);
    }
    if (!outer.claims.chain_hash) return fail(K::ChainHashMismatch);
    auto hash = delegation_chain_hash(chain);
    if (!hash) return std::unexpected(std::move(hash.error()));
    if (*outer.claims.chain_hash != *hash) return fail(K::ChainHashMismatch);

    std::optional<GrantVoucherClaims> voucher;
    std::optional<DelegationClaims> previous;
    std::vector<HopRecord> hops;
    hops.reserve(n + 1);
    for (std::size_t i = 0; i <= n; ++i) {
        std::optional<ReadDelegation> chain_hop;
        if (i < n) {
            auto read = decode_delegation_unverified(chain[i]);
            if (!read) return std::unexpected(std::move(read.error()));
            chain_hop = std::move(*read);
        }
        const ReadDelegation& hop = i < n ? *chain_hop : outer;
        if (auto verified = verify_hop(hop); !verified) return std::unexpected(verified.error());
        const DelegationClaims& t = hop.claims;
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
            previous = std::move(chain_hop->claims);
        }
    }
    if (!voucher) fault("first hop sets the voucher");

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
    return VerifiedDelegation{std::string(outer_token), std::move(outer.claims),
                              std::move(*voucher)};
}

}  // namespace

std::expected<ReadDelegation, DelegationError> decode_delegation_unverified(
    std::string_view token) {
    if (auto typ = JwsHeader::parse(token); typ && *typ != jws::kTypDelegation) {
        return std::unexpected(DelegationError::from(
            CryptoError::jws_typ_mismatch(std::string(jws::kTypDelegation), std::move(*typ))));
    }
    auto read = jws::read_token<DelegationClaims>(token);
    if (!read) return std::unexpected(delegation_error(std::move(read.error())));
    return std::move(*read);
}

std::expected<VerifiedDelegation, DelegationError> verify_delegation_core(
    std::string_view token, const DelegationVerifyOptions& options) {
    auto routing = decode_delegation_unverified(token);
    if (!routing) return std::unexpected(std::move(routing.error()));
    const DelegationClaims& claims = routing->claims;
    const bool multi_hop_allowed = options.max_delegation_hops > 0;
    if (!claims.chain) {
        if (!multi_hop_allowed && claims.jti) {
            return std::unexpected(
                DelegationError::claims_malformed("jti claim requires multi-hop opt-in"));
        }
        return verify_single_hop(token, std::move(*routing), options);
    }
    if (!multi_hop_allowed) return fail(K::MultiHopNotSupported);
    if (claims.chain->empty()) return verify_single_hop(token, std::move(*routing), options);
    return verify_multi_hop(token, std::move(*routing), options);
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
