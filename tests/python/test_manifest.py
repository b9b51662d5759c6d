import hashlib
import json

import pytest

import vesk
from parties import ENDPOINT, Signer, b64u, b64u_decode

SIGNERS = {"ed25519": Signer(bytes(range(32))), "p256": Signer(7, "p256")}
OIDC = {"identity_type": "oidc", "oidc_issuer": "https://issuer.example", "oidc_subject": "s"}


def build(suite="ed25519", **kwargs):
    """A manifest built by the signer of the suite (an OIDC one for P-256), parsed."""
    signer = SIGNERS[suite]
    text = signer.agent.build_manifest("Agent Seven", ENDPOINT, ["write", "read", "write"],
                                       **({**OIDC, **kwargs} if suite == "p256" else kwargs))
    return signer, json.loads(text)["manifest"]


def resigned(manifest, signer, **changes):
    body = {k: v for k, v in {**manifest, **changes}.items() if k != "signature"}
    return {**body, "signature": signer.sign_body(body)}


@pytest.mark.parametrize("suite", SIGNERS)
def test_built_manifest_verifies_here_and_with_independent_libraries(suite):
    signer, manifest = build(suite)
    vesk.verify_manifest_json(json.dumps({"manifest": manifest}))
    assert (manifest["aid"], manifest["offered_capabilities"]) == (signer.aid, ["write", "read", "write"])
    signer.check_body({k: v for k, v in manifest.items() if k != "signature"}, manifest["signature"])
    pop = manifest["proof_of_possession"]
    assert len(pop["challenge"]) == 22
    signer.check_digest(hashlib.sha256(b64u_decode(pop["challenge"])).digest(), pop["signature"])


def test_defaults_of_a_minimal_pinned_key_manifest():
    signer = SIGNERS["ed25519"]
    text = signer.agent.build_manifest("Solo", "HTTPS://Solo.Example", [])
    assert text.startswith('{"manifest":{"version":"vesk/0.2","aid":') and " " not in text
    manifest = json.loads(text)["manifest"]
    raw_key = signer.public_key().public_bytes_raw()
    assert manifest["identity_hint"] == {"type": "pinned_key", "subject": "Solo", "public_key": b64u(raw_key)}
    assert manifest["handshake_endpoint"] == "https://solo.example/"
    assert manifest["accepted_identity_types"] == ["pinned_key"]
    assert manifest["accepted_trust_anchors"] == [] == manifest["offered_capabilities"]
    assert "required_peer_capabilities" not in manifest and "extensions" not in manifest
    assert manifest["expires_at"] - manifest["published_at"] == 3600


def test_oidc_issuer_is_serialised_and_is_the_default_trust_anchor():
    _, manifest = build("p256", required_caps=["audit"])
    assert manifest["identity_hint"] == {"type": "oidc", "subject": "s", "issuer": "https://issuer.example/"}
    assert manifest["accepted_trust_anchors"] == ["https://issuer.example/"]
    assert manifest["required_peer_capabilities"] == ["audit"]
    _, manifest = build("p256", accepted_trust_anchors=[], required_caps=[])
    assert manifest["accepted_trust_anchors"] == [] and "required_peer_capabilities" not in manifest


@pytest.mark.parametrize("kwargs, exc, message", [
    ({"handshake_endpoint": "x", "identity_type": "bogus"}, ValueError,
     "invalid handshake_endpoint URL: relative URL without a base"),
    ({"handshake_endpoint": "https://" + "\u00e9" * 1001 + ".example"}, ValueError,  # past ICU's label limit
     "invalid handshake_endpoint URL: invalid international domain name"),
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
])
def test_build_manifest_refusals_in_check_order(kwargs, exc, message):
    agent = SIGNERS[kwargs.pop("suite", "ed25519")].agent
    args = {"display_name": "n", "handshake_endpoint": ENDPOINT, "offered_caps": [], **kwargs}
    with pytest.raises(exc) as info:
        agent.build_manifest(**args)
    assert str(info.value) == message


@pytest.mark.parametrize("suite", SIGNERS)
def test_failed_checks_raise_with_their_code(suite):
    signer, original = build(suite)
    other = Signer(bytes(range(100, 132)), suite)
    not_a_point = "aid:pubkey:AgAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA"  # y = 2: no point
    cases = [
        (resigned(original, signer, version="vesk/0.3"), "version_unknown", "manifest version is not supported"),
        (resigned(original, signer, aid=other.aid), "signature_invalid", "manifest signature is invalid"),
        (resigned(original, signer, identity_hint={"type": "oidc", "subject": "s", "issuer": "i", "public_key": "k"}),
         "identity_hint_malformed", "identity_hint malformed: oidc must not include `public_key`"),
        (dict(original, aid=not_a_point), "malformed", "AID does not yield a valid Ed25519 public key: signature error"),
        (build(suite, ttl_secs=-10)[1], "expired", "manifest has expired"),  # the system clock
    ]
    for manifest, code, text in cases:
        with pytest.raises(vesk.ManifestVerificationError) as info:
            vesk.verify_manifest_json(json.dumps({"manifest": manifest}))
        assert (info.value.code, str(info.value)) == (code, "manifest verification failed: " + text)
    with pytest.raises(vesk.ManifestVerificationError):
        vesk.verify_manifest_json(json.dumps({"manifest": original}), original["expires_at"] + 1)


def test_unreadable_envelope_raises_value_error():
    _, manifest = build()
    with pytest.raises(ValueError) as info:
        vesk.verify_manifest_json(json.dumps(manifest))
    assert type(info.value) is ValueError
    assert str(info.value) == "invalid manifest JSON: unknown field `version`, expected `manifest` at line 1 column 10"
