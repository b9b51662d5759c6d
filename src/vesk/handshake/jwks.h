// OIDC issuer key sets: the resolver interface the handshake looks keys up through, the
// resolver of sessions without key sets, and the shared in-memory store the caller fills.
#pragma once

#include <expected>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "vesk/core/keyed_hash.h"
#include "vesk/core/url.h"
#include "vesk/handshake/error.h"
#include "vesk/handshake/jwk.h"

namespace vesk::handshake {

class JwksResolver {
  public:
    virtual ~JwksResolver() = default;
    // A fresh copy of the issuer's keys, in their registered order.
    virtual std::expected<std::vector<Jwk>, JwksResolveError> resolve(const Url& issuer) const = 0;
};

using SharedJwksResolver = std::shared_ptr<const JwksResolver>;

// For sessions made without a key set: every lookup fails.
class NoJwksResolver final : public JwksResolver {
  public:
    std::expected<std::vector<Jwk>, JwksResolveError> resolve(const Url& issuer) const override;
};

// Issuer URL (normalised serialisation) to that issuer's keys, behind one mutex. An operation
// that fails while holding the mutex leaves it poisoned: every later operation then fails.
class JwksStore final : public JwksResolver {
  public:
    // "jwks mutex poisoned: ..." when poisoned.
    using Poisoned = std::string;

    // Registers `keys` under the URL's serialisation, replacing what was there.
    std::expected<void, Poisoned> upsert(const Url& issuer, std::vector<Jwk> keys);
    // Removes the entry whose key is exactly `issuer`; nothing when there is none.
    std::expected<void, Poisoned> remove(std::string_view issuer);
    // The registered keys, in no particular order.
    std::expected<std::vector<std::string>, Poisoned> issuers() const;

    // An issuer without an entry, or with an empty list, is not trusted.
    std::expected<std::vector<Jwk>, JwksResolveError> resolve(const Url& issuer) const override;

  private:
    class Lock;
    mutable std::mutex mutex_;
    mutable bool poisoned_ = false;
    std::unordered_map<std::string, std::vector<Jwk>, KeyedHash, std::equal_to<>> keys_;
};

}  // namespace vesk::handshake
