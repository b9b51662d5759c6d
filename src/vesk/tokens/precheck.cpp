#include "vesk/tokens/precheck.h"

#include "vesk/core/json_reader.h"
#include "vesk/core/unknown_field.h"
#include "vesk/crypto/jws.h"

namespace vesk {

std::expected<Bytes, PrecheckFailure> check_payload_members(
    std::string_view token, std::span<const std::string_view> member_names) {
    auto payload = jws::decode_segment(token);
    if (!payload) {
        return std::unexpected(
            PrecheckFailure{PrecheckFailure::Kind::Crypto, {}, std::move(payload.error())});
    }
    const std::string_view text(reinterpret_cast<const char*>(payload->data()), payload->size());
    // One whole JSON value is looked into; a payload that is not is either malformed from its
    // first value on (refused here) or carries more after it (refused later by the strict
    // reading). The common case is parsed once.
    auto value = json::parse(text);
    if (!value) {
        if (auto bad = parse_json_value(text)) {
            return std::unexpected(
                PrecheckFailure{PrecheckFailure::Kind::NotJson, std::move(*bad)});
        }
    } else if (auto unknown = first_unknown_field(*value, member_names)) {
        return std::unexpected(
            PrecheckFailure{PrecheckFailure::Kind::UnknownMember, std::move(*unknown)});
    }
    return std::move(*payload);
}

std::expected<void, PrecheckFailure> precheck_token_members(
    std::string_view token, std::string_view typ, std::span<const std::string_view> member_names) {
    if (JwsHeader::parse(token) != typ) return {};
    auto checked = check_payload_members(token, member_names);
    if (!checked) return std::unexpected(std::move(checked.error()));
    return {};
}

}  // namespace vesk
