import math

import pytest
from cryptography.hazmat.primitives.asymmetric import ec, ed25519, rsa
from cryptography.hazmat.primitives.serialization import Encoding, PublicFormat

import vesk
from signers import b64u
from vesk import JwksProvider


def okp_jwk(**extra):
    raw = ed25519.Ed25519PrivateKey.generate().public_key().public_bytes(
        Encoding.Raw, PublicFormat.Raw
    )
    return {"kty": "OKP", "crv": "Ed25519", "x": b64u(raw), **extra}


def ec_jwk():
    numbers = ec.generate_private_key(ec.SECP256R1()).public_key().public_numbers()
    return {
        "kty": "EC",
        "crv": "P-256",
        "x": b64u(numbers.x.to_bytes(32, "big")),
        "y": b64u(numbers.y.to_bytes(32, "big")),
    }


def rsa_jwk():
    numbers = rsa.generate_private_key(65537, 2048).public_key().public_numbers()
    return {
        "kty": "RSA",
        "n": b64u(numbers.n.to_bytes(256, "big")),
        "e": b64u(numbers.e.to_bytes(3, "big")),
    }


def test_issuers_are_normalised_replaced_and_removed_by_exact_text():
    assert JwksProvider().issuers() == JwksProvider({}).issuers() == JwksProvider(keys=None).issuers() == []
    # Constructor keys that normalise alike leave one entry.
    provider = JwksProvider({"HTTPS://Issuer.EXAMPLE:443": [okp_jwk(), ec_jwk(), rsa_jwk()],
                             "https://issuer.example/": []})
    assert provider.issuers() == ["https://issuer.example/"]
    assert provider.upsert("https://a.example/path", [okp_jwk()]) is None
    provider.upsert("https://A.example/path", [])
    provider.upsert(issuer="https://b.example", keys=[okp_jwk(kid=7, alg="RS256", use="sig")])
    assert sorted(provider.issuers()) == ["https://a.example/path", "https://b.example/",
                                          "https://issuer.example/"]
    provider.remove("HTTPS://Issuer.EXAMPLE:443")
    provider.remove("https://issuer.example")
    assert "https://issuer.example/" in provider.issuers()
    provider.remove("https://issuer.example/")
    provider.remove("https://issuer.example/")  # absent: no error
    assert sorted(provider.issuers()) == ["https://a.example/path", "https://b.example/"]


# The JWK rules themselves are the reader's; here: index, wrapping and an untouched store.
@pytest.mark.parametrize(
    "jwk, detail",
    [
        ({"kty": "oct", "k": "AA"}, "unsupported JWK: kty=oct"),
        ({"kty": "OKP", "crv": "Ed25519", "x": "AAAA="},
         "malformed JWK: x: base64url padding is forbidden in VESK"),
    ],
)
def test_bad_jwk_reports_index_and_keeps_the_previous_list(jwk, detail):
    provider = JwksProvider({"https://a.example/": [okp_jwk()]})
    with pytest.raises(ValueError) as raised:
        provider.upsert("https://a.example/", [okp_jwk(), jwk])
    assert str(raised.value) == "JWK at index 1 invalid: " + detail
    assert provider.issuers() == ["https://a.example/"]


def test_argument_and_entry_errors():
    provider = JwksProvider()
    cases = [
        (lambda: provider.upsert("not a url", []), ValueError,
         "invalid issuer URL 'not a url': relative URL without a base"),
        (lambda: provider.upsert("https://a/", [okp_jwk(), "jwk"]), ValueError,
         "JWK at index 1 must be a dict"),
        (lambda: JwksProvider({1: []}), ValueError, "JwksProvider keys must be issuer URL strings"),
        (lambda: JwksProvider({"https://a/": ({},)}), ValueError,
         "JwksProvider['https://a/'] must be a list"),
        (lambda: provider.upsert("https://a/", ({},)), TypeError,
         "'tuple' object is not an instance of 'list'"),
        (lambda: provider.upsert("https://a/", [{"kty": "OKP", "x": object()}]), TypeError,
         "Object of type object is not JSON serializable"),
        (lambda: provider.upsert("https://a/", [{"kty": "OKP", "x": math.nan}]), RuntimeError,
         "could not re-parse JWK JSON: expected value at line 1 column 21"),
    ]
    for call, kind, text in cases:
        with pytest.raises(kind) as raised:
            call()
        assert str(raised.value) == text
    assert provider.issuers() == []
    # A failing constructor entry abandons the whole provider, earlier entries included.
    with pytest.raises(ValueError):
        JwksProvider({"https://ok.example/": [okp_jwk()], "https://bad.example/": ["x"]})

