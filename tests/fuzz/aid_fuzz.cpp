// AID parsing: an accepted text is kept as given, its key decodes, and writing the key again
// gives the same text (the ed25519-prefixed input form becomes the short form).
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_check.h"
#include "vesk/core/aid.h"
#include "vesk/crypto/keys.h"

using namespace vesk;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text = fuzz::as_text(data, size);
    auto aid = Aid::parse(text);
    if (!aid) {
        fuzz::require(!aid.error().text().empty(), "a refusal has a text");
        return 0;
    }
    fuzz::require(aid->as_str() == text, "an AID is kept as received");
    const Bytes key = aid->public_key_bytes();
    if (aid->algorithm() == Algorithm::P256) {
        auto point = aid->p256_key_bytes();
        fuzz::require(point && key.size() == 33, "a P-256 AID holds a 33-byte point");
        fuzz::require(Aid::from_p256(*point) == *aid, "a P-256 AID is written as read");
    } else {
        auto bytes = aid->ed25519_key_bytes();
        fuzz::require(bytes && key.size() == 32, "an Ed25519 AID holds a 32-byte key");
        std::string expected(text);
        if (expected.starts_with("aid:pubkey:ed25519:")) expected.erase(11, 8);
        fuzz::require(Aid::from_ed25519(*bytes).as_str() == expected,
                      "an Ed25519 AID is written in its short form");
    }
    // The key itself may still be refused (not a curve point), but never by a fault.
    auto verifying = VerifyingKey::from_aid(*aid);
    if (verifying) {
        fuzz::require(verifying->algorithm() == aid->algorithm(), "the key has the AID's suite");
        fuzz::require(verifying->to_bytes() == key, "the key's bytes are the AID's");
    }
    return 0;
}
