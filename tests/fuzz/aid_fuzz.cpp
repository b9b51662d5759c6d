// AID parsing: an accepted text is kept as given, its key decodes, and writing the key again
// gives the same text (the ed25519-prefixed input form becomes the short form).
#include "fuzz.h"
#include "vesk/core/aid.h"
#include "vesk/crypto/keys.h"

void vesk::fuzz::check_input(std::string_view text) {
    auto aid = Aid::parse(text);
    if (refused(aid)) return;
    require(aid->as_str() == text, "an AID is kept as received");
    const Bytes key = aid->public_key_bytes();
    if (aid->algorithm() == Algorithm::P256) {
        auto point = aid->p256_key_bytes();
        require(point && key.size() == 33, "a P-256 AID holds a 33-byte point");
        require(Aid::from_p256(*point) == *aid, "a P-256 AID is written as read");
    } else {
        auto bytes = aid->ed25519_key_bytes();
        require(bytes && key.size() == 32, "an Ed25519 AID holds a 32-byte key");
        std::string expected(text);
        if (expected.starts_with("aid:pubkey:ed25519:")) expected.erase(11, 8);
        require(Aid::from_ed25519(*bytes).as_str() == expected,
                "an Ed25519 AID is written in its short form");
    }
    // The key itself may still be refused (not a curve point), but never by a fault.
    auto verifying = VerifyingKey::from_aid(*aid);
    require(
        !verifying || (verifying->algorithm() == aid->algorithm() && verifying->to_bytes() == key),
        "the key has the AID's suite and bytes");
}
