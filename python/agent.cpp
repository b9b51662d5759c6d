#include "agent.h"

#include "vesk/crypto/thumbprint.h"

namespace vesk::python {
namespace {

using frame::Error;

Error unknown_suite(const std::string& suite) {
    return Error::value("unknown suite '" + suite + "': expected 'ed25519' or 'p256'");
}

frame::Result<Agent> generate(std::string suite) {
    if (suite == "ed25519") return Agent{SigningKey::generate_ed25519()};
    if (suite == "p256") return Agent{SigningKey::generate_p256()};
    return std::unexpected(unknown_suite(suite));
}

frame::Result<Agent> agent_from_seed(std::span<const std::uint8_t, 32> seed,
                                     const std::string& suite) {
    if (suite == "ed25519") return Agent{SigningKey::from_ed25519_seed(seed)};
    if (suite != "p256") return std::unexpected(unknown_suite(suite));
    auto key = SigningKey::from_p256_scalar(seed);
    if (!key) return std::unexpected(Error::value("invalid P-256 seed: " + key.error().text()));
    return Agent{std::move(*key)};
}

// The seed's copy wipes itself when released, refused or not.
frame::Result<Agent> from_seed(SecretBytes seed, std::string suite) {
    // The length is checked before the suite is looked at.
    if (seed.size() != 32) return std::unexpected(Error::value("seed must be exactly 32 bytes"));
    return agent_from_seed(std::span<const std::uint8_t, 32>(seed), suite);
}

std::string aid(const Agent& self) {
    return self.key->aid().as_str();
}

frame::Result<std::string> compute_aid_jkt(std::string text) {
    auto parsed = Aid::parse(text);
    if (!parsed) {
        return std::unexpected(
            Error::value("invalid AID '" + text + "': " + parsed.error().text()));
    }
    auto key = VerifyingKey::from_aid(*parsed);
    if (!key) {
        return std::unexpected(Error::value("AID has invalid key bytes: " + key.error().text()));
    }
    return jwk_thumbprint(*key);
}

const frame::Export agent_export = frame::export_class<Agent>();
const frame::Export jkt_export = frame::export_function<&compute_aid_jkt>(
    "compute_aid_jkt", {"aid"},
    "Return the RFC 7638 JWK thumbprint of the public key that an AID embeds.\n\n"
    "This is the value an OIDC identity provider must place in a JWT's `cnf.jkt` claim to "
    "bind the agent's key. It works for both Ed25519 and P-256 AIDs; use it in a token minter "
    "instead of computing the thumbprint yourself.");

}  // namespace

const frame::ClassSpec& Agent::python_class() {
    static const frame::ClassSpec spec = frame::define_class<Agent>(
        "VeskAgent",
        "A VESK agent: an Ed25519 or P-256 signing key plus, once built, its signed Manifest.",
        {
            frame::static_method<&generate>(
                "generate", {{"suite", "ed25519"}},
                "Generate an agent with a fresh random key.\n\n"
                "`suite` selects the signing algorithm: \"ed25519\" (the default, with smaller "
                "AIDs) or \"p256\" (P-256 ECDSA, giving \"aid:pubkey:p256:\" AIDs of 44 "
                "identifier characters and \"p256.\" signatures of 86 characters)."),
            frame::static_method<&from_seed>(
                "from_seed", {"seed", {"suite", "ed25519"}},
                "Create an agent whose key is derived from a 32-byte seed.\n\n"
                "The same seed and suite always give the same key and AID. `suite` is "
                "\"ed25519\" (the default) or \"p256\". For \"p256\" a very small fraction of "
                "32-byte seeds are not valid P-256 private scalars (zero or not below the curve "
                "order) and raise ValueError."),
            frame::property<&aid>("aid", "The agent's AID string (`aid:pubkey:...`)."),
        });
    return spec;
}

}  // namespace vesk::python
