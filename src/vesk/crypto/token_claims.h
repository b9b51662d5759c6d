// Reading the claims of compact tokens, the one road from token text to typed claims: the token is
// split, its payload decoded and read strictly once, and a token that does not read is looked
// into the way verifiers look before a signature is checked.
#pragma once

#include <expected>
#include <optional>
#include <string>
#include <string_view>

#include "vesk/core/aid.h"
#include "vesk/core/json_reader.h"
#include "vesk/core/json_record.h"
#include "vesk/crypto/crypto_error.h"
#include "vesk/crypto/jws.h"

namespace vesk::jws {

// Why a token's claims could not be had.
struct ClaimsFault {
    enum class Kind {
        Crypto,         // crypto: the token did not split, decode or verify
        NotJson,        // json: the payload does not begin with one well-formed JSON value
        UnknownMember,  // member: a top-level member the claims do not declare
        Claims,         // json: the strict reading of the claims failed
    };
    Kind kind;
    std::optional<CryptoError> crypto{};
    json::Error json{};
    std::string member{};

    static ClaimsFault of(CryptoError error) { return {Kind::Crypto, std::move(error)}; }
    static ClaimsFault of(json::Error error) { return {Kind::Claims, {}, std::move(error)}; }

    // The unknown member, whether the early look or the strict reading found it. A name the
    // reader reports is cut at its first backquote, as its message delimits it.
    std::optional<std::string> unknown_member() const;
    // NotJson and Claims: the JSON error's text.
    std::string text() const { return json.text(); }
};

// A token whose claims were read; its views point into the token's text.
template <class Claims>
struct ReadToken {
    DecodedToken decoded;
    Claims claims;
};

// Reads the claims from a decoded token. When they do not read, the early look decides first: a
// payload whose leading JSON value is malformed is NotJson, and a payload that is one whole object
// naming a member the claims do not declare gives the first such member, in member order.
template <class Claims>
std::expected<ReadToken<Claims>, ClaimsFault> read_claims(DecodedToken decoded) {
    const std::string_view text = decoded.payload_text();
    auto claims = json::from_json<Claims>(text);
    if (claims) return ReadToken<Claims>{std::move(decoded), std::move(*claims)};
    json::TextReader leading(text);
    auto value = leading.read_value();
    if (!value) {
        return std::unexpected(
            ClaimsFault{ClaimsFault::Kind::NotJson, std::nullopt, value.error()});
    }
    if (leading.finish()) {
        if (auto name = json::first_undeclared_member<Claims>(*value)) {
            return std::unexpected(
                ClaimsFault{ClaimsFault::Kind::UnknownMember, std::nullopt, {}, std::move(*name)});
        }
    }
    return std::unexpected(ClaimsFault::of(std::move(claims.error())));
}

// Splits the token, decodes its payload and reads its claims, without any signature check.
template <class Claims>
std::expected<ReadToken<Claims>, ClaimsFault> read_token(std::string_view token) {
    auto decoded = decode_payload(token);
    if (!decoded) return std::unexpected(ClaimsFault::of(std::move(decoded.error())));
    return read_claims<Claims>(std::move(*decoded));
}

// The header and signature checks of verify_compact over a token whose claims read, whose payload
// is therefore one whole JSON value: an object, or the positional array form.
template <class Claims>
std::expected<void, CryptoError> verify_read(const Aid& signer, std::string_view typ,
                                             const ReadToken<Claims>& read) {
    if (auto verified = verify_decoded(signer, typ, read.decoded); !verified) return verified;
    const std::string_view text = read.decoded.payload_text();
    const std::size_t first = text.find_first_not_of(" \t\n\r");
    if (first == std::string_view::npos || text[first] != '{') {
        return std::unexpected(CryptoError::jws_malformed("payload is not a JSON object"));
    }
    return {};
}

// Verifies a token of type `typ` signed by `signer` and reads its claims. A token whose header
// declares `typ` has its payload looked into before its signature is checked; any other token is
// verified first, and its claims read after.
template <class Claims>
std::expected<Claims, ClaimsFault> verify_token(std::string_view token, std::string_view typ,
                                                const Aid& signer) {
    auto read = read_token<Claims>(token);
    if (read) {
        if (auto verified = verify_read(signer, typ, *read); !verified) {
            return std::unexpected(ClaimsFault::of(std::move(verified.error())));
        }
        return std::move(read->claims);
    }
    if (read.error().kind != ClaimsFault::Kind::Claims && JwsHeader::parse(token) == typ) {
        return std::unexpected(std::move(read.error()));
    }
    auto payload = verify_compact(signer, typ, token);
    if (!payload) return std::unexpected(ClaimsFault::of(std::move(payload.error())));
    auto claims = json::from_json<Claims>(
        std::string_view(reinterpret_cast<const char*>(payload->data()), payload->size()));
    if (!claims) return std::unexpected(ClaimsFault::of(std::move(claims.error())));
    return std::move(*claims);
}

}  // namespace vesk::jws
