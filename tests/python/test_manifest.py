import hashlib
import json

import pytest
import rfc8785
from cryptography.hazmat.primitives import hashes
from cryptography.hazmat.primitives.asymmetric import ec, ed25519
from cryptography.hazmat.primitives.asymmetric.utils import decode_dss_signature, encode_dss_signature

import vesk
from signers import b64u, b64u_decode

SEEDS = {"ed25519": bytes(range(32)), "p256": bytes([7] * 32)}
OTHER_SEED = bytes(range(100, 132))
ENDPOINT = "https://agent.example/vesk/handshake/hello"


def private_key(seed, suite):
    if suite == "ed25519":
        return ed25519.Ed25519PrivateKey.from_private_bytes(seed)
    return ec.derive_private_key(int.from_bytes(seed, "big"), ec.SECP256R1())


def sign_digest(key, digest):
    if isinstance(key, ed25519.Ed25519PrivateKey):
        return b64u(key.sign(digest))
    r, s = decode_dss_signature(key.sign(digest, ec.ECDSA(hashes.SHA256())))
    return "p256." + b64u(r.to_bytes(32, "big") + s.to_bytes(32, "big"))


def verify_digest(public_key, digest, text):
    if isinstance(public_key, ed25519.Ed25519PublicKey):
        return public_key.verify(b64u_decode(text), digest)
    raw = b64u_decode(text.removeprefix("p256."))
    signature = encode_dss_signature(int.from_bytes(raw[:32], "big"), int.from_bytes(raw[32:], "big"))
    public_key.verify(signature, digest, ec.ECDSA(hashes.SHA256()))


def canonical_digest(manifest):
    """SHA-256 of the signed bytes, computed without our writer; numbers enter as doubles."""
    body = {k: v for k, v in manifest.items() if k != "signature"}
    as_doubles = json.loads(json.dumps(body), parse_int=float)
    return hashlib.sha256(rfc8785.dumps(as_doubles)).digest()


def resign(manifest, key):
    manifest["signature"] = sign_digest(key, canonical_digest(manifest))


def build(suite="ed25519", **kwargs):
    agent = vesk.VeskAgent.from_seed(SEEDS[suite], suite)
    if suite == "p256":
        kwargs.update(identity_type="oidc", oidc_issuer="https://issuer.example", oidc_subject="s")
    text = agent.build_manifest("Agent Seven", ENDPOINT, ["read", "write"], **kwargs)
    return agent, json.loads(text)["manifest"], private_key(SEEDS[suite], suite)


def failure_code(manifest, now=None):
    with pytest.raises(vesk.ManifestVerificationError) as info:
        vesk.verify_manifest_json(json.dumps({"manifest": manifest}), now)
    assert str(info.value).startswith("manifest verification failed: ")
    return info.value.code


SUITES = ["ed25519", "p256"]


@pytest.mark.parametrize("suite", SUITES)
def test_built_manifest_verifies_here_and_with_independent_libraries(suite):
    agent, manifest, key = build(suite)
    vesk.verify_manifest_json(json.dumps({"manifest": manifest}))
    assert manifest["aid"] == agent.aid
    verify_digest(key.public_key(), canonical_digest(manifest), manifest["signature"])
    pop = manifest["proof_of_possession"]
    assert len(pop["challenge"]) == 22
    verify_digest(key.public_key(), hashlib.sha256(b64u_decode(pop["challenge"])).digest(), pop["signature"])


def test_minimal_pinned_key_manifest():
    agent = vesk.VeskAgent.from_seed(SEEDS["ed25519"])
    text = agent.build_manifest("Solo", "HTTPS://Solo.Example", [])
    assert text.startswith('{"manifest":{"version":"vesk/0.2","aid":') and " " not in text
    manifest = json.loads(text)["manifest"]
    raw_key = private_key(SEEDS["ed25519"], "ed25519").public_key().public_bytes_raw()
    assert agent.aid == "aid:pubkey:" + b64u(raw_key)
    assert manifest["identity_hint"] == {"type": "pinned_key", "subject": "Solo", "public_key": b64u(raw_key)}
    assert manifest["handshake_endpoint"] == "https://solo.example/"
    assert manifest["accepted_identity_types"] == ["pinned_key"]
    assert manifest["accepted_trust_anchors"] == [] == manifest["offered_capabilities"]
    assert "required_peer_capabilities" not in manifest and "extensions" not in manifest
    assert manifest["expires_at"] - manifest["published_at"] == 3600


@pytest.mark.parametrize(
    "kwargs, exc, message",
    [
        ({"handshake_endpoint": "x", "identity_type": "bogus"}, ValueError,
         "invalid handshake_endpoint URL: relative URL without a base"),
        ({"identity_type": "oidc "}, ValueError,
         "unknown identity_type 'oidc ': expected 'pinned_key' or 'oidc'"),
        ({"identity_type": "oidc"}, ValueError, "oidc_issuer is required when identity_type='oidc'"),
        ({"identity_type": "oidc", "oidc_issuer": "https://i.example"}, ValueError,
         "oidc_subject is required when identity_type='oidc'"),
        ({"identity_type": "oidc", "oidc_issuer": "https://", "oidc_subject": "s"}, ValueError,
         "invalid oidc_issuer URL: empty host"),
        ({"accepted_trust_anchors": ["https://ok.example", "bad", "also bad"]}, ValueError,
         "invalid accepted_trust_anchors URL: relative URL without a base"),
        ({"suite": "p256"}, RuntimeError,
         "pinned_key identity_hint with a P-256 agent key is not supported; "
         "the manifest's identity_hint.public_key is Ed25519-only in v0.1"),
    ],
)  # fmt: skip
def test_build_manifest_refusals_in_check_order(kwargs, exc, message):
    suite = kwargs.pop("suite", "ed25519")
    agent = vesk.VeskAgent.from_seed(SEEDS[suite], suite)
    args = {"display_name": "n", "handshake_endpoint": ENDPOINT, "offered_caps": [], **kwargs}
    with pytest.raises(exc) as info:
        agent.build_manifest(**args)
    assert str(info.value) == message


@pytest.mark.parametrize("suite", SUITES)
def test_expiry_boundary(suite):
    _, manifest, _ = build(suite, ttl_secs=0)
    assert manifest["expires_at"] == manifest["published_at"]
    vesk.verify_manifest_json(json.dumps({"manifest": manifest}), manifest["expires_at"])
    assert failure_code(manifest, manifest["expires_at"] + 1) == "expired"
    assert failure_code(build(suite, ttl_secs=-10)[1]) == "expired"  # system clock


def test_oidc_issuer_is_serialised_and_is_the_default_trust_anchor():
    _, manifest, _ = build("p256", required_caps=["audit"])
    assert manifest["identity_hint"] == {"type": "oidc", "subject": "s", "issuer": "https://issuer.example/"}
    assert manifest["accepted_trust_anchors"] == ["https://issuer.example/"]
    assert manifest["required_peer_capabilities"] == ["audit"]
    _, manifest, _ = build("p256", accepted_trust_anchors=[], required_caps=[])
    assert manifest["accepted_trust_anchors"] == [] and "required_peer_capabilities" not in manifest


@pytest.mark.parametrize("suite", SUITES)
def test_resigned_manifests_fail_the_later_checks(suite):
    other = vesk.VeskAgent.from_seed(OTHER_SEED, suite)
    _, original, key = build(suite)

    wrong_version = {**original, "version": "vesk/0.3"}
    resign(wrong_version, key)
    assert failure_code(wrong_version) == "version_unknown"

    other_aid = {**original, "aid": other.aid}
    resign(other_aid, key)
    assert failure_code(other_aid) == "signature_invalid"

    oidc_with_key = {**original, "identity_hint": {"type": "oidc", "subject": "s", "issuer": "i", "public_key": "k"}}
    resign(oidc_with_key, key)
    with pytest.raises(vesk.ManifestVerificationError) as info:
        vesk.verify_manifest_json(json.dumps({"manifest": oidc_with_key}))
    assert info.value.code == "identity_hint_malformed"
    assert str(info.value).endswith("identity_hint malformed: oidc must not include `public_key`")


def test_aid_without_a_curve_point_is_malformed():
    _, manifest, _ = build()
    manifest["aid"] = "aid:pubkey:AgAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA"  # y = 2: no point
    with pytest.raises(RuntimeError) as info:
        vesk.verify_manifest_json(json.dumps({"manifest": manifest}))
    assert info.value.code == "malformed" and type(info.value).__module__ == "vesk"
    assert str(info.value).endswith("AID does not yield a valid Ed25519 public key: signature error")


@pytest.mark.parametrize(
    "make_text, message",
    [
        (lambda m: json.dumps(m), "unknown field `version`, expected `manifest` at line 1 column 10"),
        (lambda m: json.dumps({"manifest": {**m, "x": 1}}), "unknown field `x`, expected one of `version`"),
        (lambda m: json.dumps({"manifest": {**m, "aid": m["aid"][:-1]}}),
         "AID identifier must be exactly 43 characters; got 42"),
        (lambda m: json.dumps({"manifest": {**m, "published_at": 1.5}}),
         "invalid type: floating point `1.5`, expected i64"),
        (lambda m: json.dumps({"manifest": m}) + "x", "trailing characters"),
    ],
    ids=["bare", "unknown", "aid", "float", "trailing"],
)  # fmt: skip
def test_unreadable_envelope_raises_value_error(make_text, message):
    _, manifest, _ = build()
    with pytest.raises(ValueError) as info:
        vesk.verify_manifest_json(make_text(manifest))
    assert str(info.value).startswith("invalid manifest JSON: " + message)
