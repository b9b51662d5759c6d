// Issuing TCTs and their companion grant vouchers.
#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <vector>

#include "vesk/core/aid.h"
#include "vesk/core/uuid.h"
#include "vesk/crypto/keys.h"
#include "vesk/tokens/claims.h"
#include "vesk/tokens/tct_error.h"

namespace vesk {

inline constexpr std::int64_t kDefaultTctTtlSecs = 3600;

// The settings of one mint; fields left alone keep the defaults shown.
struct TctMintRequest {
    explicit TctMintRequest(const SigningKey& issuer_key) : issuer_key(issuer_key) {}

    std::optional<std::int64_t> issued_at;  // absent: the clock
    std::optional<VerifyingKey> subject_pubkey;
    std::vector<std::string> grants;
    std::optional<Aid> subject;
    std::optional<Aid> audience;   // must be the same text as subject
    const SigningKey& issuer_key;  // borrowed; signs the TCT and the voucher
    std::int64_t ttl_secs = kDefaultTctTtlSecs;
    bool with_grant_voucher = true;
    std::optional<Uuid> jti;  // absent: a new version-4 UUID
};

struct MintedTct {
    std::string token;
    TctClaims claims;  // exactly as signed
    std::optional<std::string> grant_voucher;
};
using IssuedTct = MintedTct;

std::expected<MintedTct, TctError> mint_tct(TctMintRequest request);

// The compact JWS of type vesk-tct+jwt over the canonical claims.
std::expected<std::string, CryptoError> encode_tct_jws(const SigningKey& key,
                                                       const TctClaims& claims);

// {"tct":...,"grant_voucher":...} with null for an absent voucher.
std::string tct_envelope_json(std::string_view tct,
                              const std::optional<std::string>& grant_voucher);

}  // namespace vesk
