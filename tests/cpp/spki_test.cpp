#include "vesk/pinning/spki.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <algorithm>
#include <memory>
#include <string>

namespace vesk::pinning {
namespace {

using KeyPtr = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;

KeyPtr make_key(const std::string& kind) {
    EVP_PKEY* key = kind == "rsa"    ? EVP_PKEY_Q_keygen(nullptr, nullptr, "RSA", size_t{2048})
                    : kind == "p256" ? EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256")
                                     : EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519");
    return KeyPtr(key, &EVP_PKEY_free);
}

template <class T, class Encode>
Bytes der(T* object, Encode encode) {
    Bytes out(static_cast<std::size_t>(encode(object, nullptr)));
    unsigned char* cursor = out.data();
    encode(object, &cursor);
    return out;
}

Bytes spki_of(EVP_PKEY* key) {
    return der(key, i2d_PUBKEY);
}

// A self-signed certificate; version 0 leaves the version field out, and a negative
// lifetime makes it expired.
Bytes make_cert(EVP_PKEY* key, long version = 2, long days = 30) {
    std::unique_ptr<X509, decltype(&X509_free)> cert(X509_new(), &X509_free);
    X509_set_version(cert.get(), version);
    ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), version + days);
    X509_NAME* name = X509_get_subject_name(cert.get());
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("t"), -1, -1, 0);
    X509_set_issuer_name(cert.get(), name);
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), -400L * 86400);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), days * 86400);
    X509_set_pubkey(cert.get(), key);
    bool ed25519 = EVP_PKEY_get_id(key) == EVP_PKEY_ED25519;
    EXPECT_NE(X509_sign(cert.get(), key, ed25519 ? nullptr : EVP_sha256()), 0);
    return der(cert.get(), i2d_X509);
}

TEST(SpkiHash, HashesTheKeyWhateverElseTheCertificateSays) {
    for (const std::string type : {"rsa", "p256", "ed25519"}) {
        KeyPtr key = make_key(type), other = make_key(type);
        SpkiHash want = sha256(spki_of(key.get()));
        EXPECT_EQ(compute_spki_hash(make_cert(key.get())), want) << type;
        EXPECT_EQ(compute_spki_hash(make_cert(key.get(), 0, -10)), want) << type;  // v1, expired
        EXPECT_NE(compute_spki_hash(make_cert(other.get())), want) << type;
    }
}

TEST(SpkiHash, HashesTheKeyBytesAsTheyStandNotAReencoding) {
    KeyPtr key = make_key("ed25519");
    Bytes spki = spki_of(key.get()), cert = make_cert(key.get());
    auto at = std::ranges::search(cert, spki).begin();
    // Write the key's length 0x2a in the long form 0x81 0x2a, which the parser accepts; the
    // certificate (0x81 form) and TBS (short form) lengths grow by one.
    ASSERT_TRUE(cert[1] == 0x81 && cert[4] < 0x7f && spki[1] == 0x2a);
    cert.insert(at + 1, 0x81);
    cert[2] += 1;
    cert[4] += 1;
    spki.insert(spki.begin() + 1, 0x81);
    EXPECT_EQ(compute_spki_hash(cert), sha256(spki));

    // A key the parser cannot decode (a point off the curve) is hashed all the same.
    KeyPtr ec = make_key("p256");
    Bytes ec_spki = spki_of(ec.get()), ec_cert = make_cert(ec.get());
    std::ranges::search(ec_cert, ec_spki).end()[-1] ^= 0xff;
    ec_spki.back() ^= 0xff;
    EXPECT_EQ(compute_spki_hash(ec_cert), sha256(ec_spki));
}

TEST(SpkiHash, ReadsOneCertificateAndRefusesAnythingElse) {
    KeyPtr key = make_key("p256");
    Bytes cert = make_cert(key.get());
    Bytes followed = cert;
    followed.insert(followed.end(), cert.begin(), cert.end());
    EXPECT_EQ(compute_spki_hash(followed), sha256(spki_of(key.get())));

    ASSERT_EQ(cert[1], 0x82);
    Bytes indefinite{0x30, 0x80};  // a BER length the parser takes but DER forbids
    indefinite.insert(indefinite.end(), cert.begin() + 4, cert.end());
    indefinite.insert(indefinite.end(), {0, 0});
    // The same inside: an Ed25519 certificate's issuer name, after the version, serial and
    // algorithm, written with an indefinite length and its end-of-contents mark.
    KeyPtr ed = make_key("ed25519");
    Bytes inner = make_cert(ed.get());
    ASSERT_TRUE(inner[1] == 0x81 && inner[4] < 0x7e && inner[20] == 0x30 && inner[21] < 0x80);
    inner.insert(inner.begin() + 22 + inner[21], {0, 0});
    inner[21] = 0x80;
    inner[2] += 2;
    inner[4] += 2;
    struct Case {
        Bytes input;
        std::string text;  // ours; empty where the parser's reason is passed on
    };
    for (const Case& c :
         {Case{{}, ""}, Case{{0x02, 0x01, 0x00}, ""},
          Case{{0x30, 0x84, 0xff, 0xff, 0xff, 0xff}, ""},
          Case{Bytes(cert.begin(), cert.end() - 1), ""}, Case{spki_of(key.get()), ""},
          Case{indefinite, "certificate is not DER-encoded"},
          Case{inner, "certificate is not DER-encoded"}}) {
        auto hash = compute_spki_hash(c.input);
        ASSERT_FALSE(hash) << c.input.size() << " bytes";
        EXPECT_EQ(hash.error().kind, PinningError::Kind::Certificate);
        const std::string text = hash.error().text();
        if (!c.text.empty()) {
            EXPECT_EQ(text, c.text);
        } else {  // the parser's wording is its own to change: only its presence is checked
            EXPECT_TRUE(!text.empty() && text != "unparseable certificate" &&
                        text != "certificate is not DER-encoded")
                << c.input.size() << " bytes: " << text;
        }
    }
}

}  // namespace
}  // namespace vesk::pinning
