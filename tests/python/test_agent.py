import hashlib
import json

import pytest
from cryptography.hazmat.primitives.asymmetric import ec, ed25519
from cryptography.hazmat.primitives.serialization import Encoding, PublicFormat

import vesk
from signers import b64u
from vesk import VeskAgent

P256_ORDER = 0xFFFFFFFF00000000FFFFFFFFFFFFFFFFBCE6FAADA7179E84F3B9CAC2FC632551
INVALID_P256_SEED = "invalid P-256 seed: public key parsing failed: signature error"


def ed25519_public(seed: bytes):
    return ed25519.Ed25519PrivateKey.from_private_bytes(seed).public_key()


def p256_public(seed: bytes):
    return ec.derive_private_key(int.from_bytes(seed, "big"), ec.SECP256R1()).public_key()


def expected_aid(seed: bytes, suite: str) -> str:
    if suite == "ed25519":
        return "aid:pubkey:" + b64u(ed25519_public(seed).public_bytes(Encoding.Raw, PublicFormat.Raw))
    point = p256_public(seed).public_bytes(Encoding.X962, PublicFormat.CompressedPoint)
    return "aid:pubkey:p256:" + b64u(point)


def rfc7638_thumbprint(public_key) -> str:
    if isinstance(public_key, ed25519.Ed25519PublicKey):
        raw = public_key.public_bytes(Encoding.Raw, PublicFormat.Raw)
        jwk = {"crv": "Ed25519", "kty": "OKP", "x": b64u(raw)}
    else:
        numbers = public_key.public_numbers()
        jwk = {"crv": "P-256", "kty": "EC", "x": b64u(numbers.x.to_bytes(32, "big")),
               "y": b64u(numbers.y.to_bytes(32, "big"))}
    canonical = json.dumps(jwk, sort_keys=True, separators=(",", ":")).encode()
    return b64u(hashlib.sha256(canonical).digest())


SEEDS = [bytes(32), bytes(range(32)), b"\x01" * 32, (P256_ORDER - 1).to_bytes(32, "big")]


@pytest.mark.parametrize("seed, suite", [(seed, suite) for seed in SEEDS for suite in
                                          ("ed25519", "p256") if seed != bytes(32) or suite == "ed25519"])
def test_from_seed_derives_the_independently_computed_aid(seed, suite):
    agent = VeskAgent.from_seed(seed, suite)
    assert agent.aid == expected_aid(seed, suite)
    assert VeskAgent.from_seed(seed=seed, suite=suite).aid == agent.aid


def test_zero_seed_gives_the_rfc8032_key_in_the_short_form():
    aid = VeskAgent.from_seed(bytes(32)).aid
    assert aid == "aid:pubkey:O2onvM62pC1io6jQKm8Nc2UyFXcd4kOmOsBIoYtZ2ik"


@pytest.mark.parametrize("scalar", [0, P256_ORDER, 2**256 - 1], ids=["zero", "order", "all-ones"])
def test_p256_seeds_outside_the_scalar_range_are_refused(scalar):
    with pytest.raises(ValueError) as raised:
        VeskAgent.from_seed(scalar.to_bytes(32, "big"), "p256")
    assert str(raised.value) == INVALID_P256_SEED


@pytest.mark.parametrize("suite, prefix, length",
                         [("ed25519", "aid:pubkey:", 54), ("p256", "aid:pubkey:p256:", 60)])
def test_generate_gives_fresh_keys_of_the_suite(suite, prefix, length):
    first, second = VeskAgent.generate(suite).aid, VeskAgent.generate(suite=suite).aid
    assert first.startswith(prefix) and len(first) == length
    assert first != second
    assert VeskAgent.generate().aid.startswith("aid:pubkey:") and len(VeskAgent.generate().aid) == 54


@pytest.mark.parametrize("call, message", [
    (lambda: VeskAgent.generate("P256"), "unknown suite 'P256': expected 'ed25519' or 'p256'"),
    (lambda: VeskAgent.generate("Ed25519"),
     "unknown suite 'Ed25519': expected 'ed25519' or 'p256'"),
    (lambda: VeskAgent.from_seed(bytes(32), "rsa"),
     "unknown suite 'rsa': expected 'ed25519' or 'p256'"),
    (lambda: VeskAgent.from_seed(bytes(31), "rsa"), "seed must be exactly 32 bytes"),
    (lambda: VeskAgent.from_seed(bytes(33)), "seed must be exactly 32 bytes"),
])
def test_bad_suites_and_seed_lengths_raise_value_error(call, message):
    with pytest.raises(ValueError) as raised:
        call()
    assert str(raised.value) == message


@pytest.mark.parametrize("seed", SEEDS[1:], ids=["counting", "ones", "order-minus-one"])
def test_compute_aid_jkt_equals_an_independent_rfc7638_thumbprint(seed):
    ed_aid = VeskAgent.from_seed(seed, "ed25519").aid
    assert vesk.compute_aid_jkt(ed_aid) == rfc7638_thumbprint(ed25519_public(seed))
    long_form = "aid:pubkey:ed25519:" + ed_aid[len("aid:pubkey:"):]
    assert vesk.compute_aid_jkt(aid=long_form) == vesk.compute_aid_jkt(ed_aid)
    p256_aid = VeskAgent.from_seed(seed, "p256").aid
    assert vesk.compute_aid_jkt(p256_aid) == rfc7638_thumbprint(p256_public(seed))
    assert len(vesk.compute_aid_jkt(p256_aid)) == 43


@pytest.mark.parametrize("aid, prefix", [
    ("nope", "invalid AID 'nope': "),
    ("aid:pubkey:short", "invalid AID 'aid:pubkey:short': "),
    ("aid:pubkey:" + b64u(b"\x02" + bytes(31)), "AID has invalid key bytes: "),
    ("aid:pubkey:p256:" + b64u(b"\x02" + b"\x01" * 32), "AID has invalid key bytes: "),
])
def test_compute_aid_jkt_refuses_bad_aids_and_keys(aid, prefix):
    with pytest.raises(ValueError) as raised:
        vesk.compute_aid_jkt(aid)
    assert str(raised.value).startswith(prefix)


def test_agent_class_surface():
    with pytest.raises(AttributeError):
        VeskAgent.from_seed(bytes(32)).aid = "x"
    assert VeskAgent.generate.__text_signature__ == '(suite="ed25519")'
    assert VeskAgent.from_seed.__text_signature__ == '(seed, suite="ed25519")'
    assert vesk.compute_aid_jkt.__text_signature__ == "(aid)"
    assert VeskAgent.aid.__doc__ == "The agent's AID string (`aid:pubkey:...`)."
    assert "cnf.jkt" in vesk.compute_aid_jkt.__doc__
