import math

import pytest
from cryptography.hazmat.primitives.asymmetric import ed25519

from parties import CAROL_P256, b64u, ec_jwk
from vesk import JwksProvider


def okp_jwk(**extra):
    raw = ed25519.Ed25519PrivateKey.generate().public_key().public_bytes_raw()
    return {"kty": "OKP", "crv": "Ed25519", "x": b64u(raw), **extra}


def test_issuers_are_registered_by_url_and_removed_by_exact_text():
    assert JwksProvider().issuers() == JwksProvider({}).issuers() == JwksProvider(keys=None).issuers() == []
    provider = JwksProvider({"HTTPS://Issuer.EXAMPLE:443": [okp_jwk(), ec_jwk(CAROL_P256.public_key())]})
    assert provider.upsert(issuer="https://b.example", keys=[okp_jwk(kid=7, alg="RS256", use="sig")]) is None
    assert sorted(provider.issuers()) == ["https://b.example/", "https://issuer.example/"]
    provider.remove("https://issuer.example")  # not the registered text: nothing removed
    assert "https://issuer.example/" in provider.issuers()
    provider.remove("https://issuer.example/")
    provider.remove("https://issuer.example/")  # absent: no error
    assert provider.issuers() == ["https://b.example/"]


# The JWK rules themselves are the reader's; here: index, wrapping and an untouched store.
def test_bad_jwk_reports_index_and_keeps_the_previous_list():
    provider = JwksProvider({"https://a.example/": [okp_jwk()]})
    with pytest.raises(ValueError) as raised:
        provider.upsert("https://a.example/", [okp_jwk(), {"kty": "oct", "k": "AA"}])
    assert str(raised.value) == "JWK at index 1 invalid: unsupported JWK: kty=oct"
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
        (lambda: provider.upsert("https://a/", [{"kty": "OKP", "x": object()}]), TypeError, None),  # json.dumps's
        (lambda: provider.upsert("https://a/", [{"kty": "OKP", "x": math.nan}]), RuntimeError,
         "could not re-parse JWK JSON: expected value at line 1 column 21"),
    ]
    for call, kind, text in cases:
        with pytest.raises(kind) as raised:
            call()
        assert text is None or str(raised.value) == text
    assert provider.issuers() == []
    # A failing constructor entry abandons the whole provider, earlier entries included.
    with pytest.raises(ValueError):
        JwksProvider({"https://ok.example/": [okp_jwk()], "https://bad.example/": ["x"]})

