import base64
import copy
import hashlib
import json

import pytest
import rfc8785
from cryptography.hazmat.primitives import hashes
from cryptography.hazmat.primitives.asymmetric import ec, ed25519
from cryptography.hazmat.primitives.asymmetric.utils import decode_dss_signature

import vesk

ED_SEED = bytes(range(32))
P256_SEED = bytes([7] * 32)
OTHER_SEED = bytes(range(100, 132))
ENDPOINT = "https://agent.example/vesk/handshake/hello"
ISSUER = "https://issuer.example/"

# An Ed25519 identifier whose 32 bytes (y = 2) are not a curve point, and a P-256 one whose x = 1
# has no point on the curve.
ED_AID_OFF_CURVE = "aid:pubkey:AgAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA"
P256_AID_OFF_CURVE = "aid:pubkey:p256:AgAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAB"


def b64u(data):
    return base64.urlsafe_b64encode(data).rstrip(b"=").decode()


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
        public_key.verify(base64.urlsafe_b64decode(text + "=="), digest)
        return
    assert text.startswith("p256.")
    raw = base64.urlsafe_b64decode(text[5:] + "==")
    r, s = int.from_bytes(raw[:32], "big"), int.from_bytes(raw[32:], "big")
    from cryptography.hazmat.primitives.asymmetric.utils import encode_dss_signature

    public_key.verify(encode_dss_signature(r, s), digest, ec.ECDSA(hashes.SHA256()))


def as_doubles(value):
    """Numbers enter the signed bytes as IEEE doubles."""
    if isinstance(value, dict):
        return {k: as_doubles(v) for k, v in value.items()}
    if isinstance(value, list):
        return [as_doubles(v) for v in value]
    if isinstance(value, int) and not isinstance(value, bool):
        return float(value)
    return value


def canonical_digest(manifest):
    body = {k: v for k, v in manifest.items() if k != "signature"}
    return hashlib.sha256(rfc8785.dumps(as_doubles(body))).digest()


def resign(manifest, key):
    manifest["signature"] = sign_digest(key, canonical_digest(manifest))
    return manifest


def build(suite="ed25519", seed=None, **kwargs):
    seed = seed or (ED_SEED if suite == "ed25519" else P256_SEED)
    agent = vesk.VeskAgent.from_seed(seed, suite)
    if suite == "p256":
        kwargs.setdefault("identity_type", "oidc")
    if kwargs.get("identity_type") == "oidc":
        kwargs.setdefault("oidc_issuer", ISSUER)
        kwargs.setdefault("oidc_subject", "agent-7")
    kwargs.setdefault("offered_caps", ["read", "write"])
    text = agent.build_manifest("Agent Seven", ENDPOINT, **kwargs)
    return agent, json.loads(text)["manifest"], private_key(seed, suite)


def verify(manifest, now=None):
    vesk.verify_manifest_json(json.dumps({"manifest": manifest}), now)


def failure_code(manifest, now=None):
    with pytest.raises(vesk.ManifestVerificationError) as info:
        verify(manifest, now)
    assert str(info.value).startswith("manifest verification failed: ")
    return info.value.code


SUITES = ["ed25519", "p256"]


# --- building and the round trip -------------------------------------------------------------


@pytest.mark.parametrize("suite", SUITES)
def test_built_manifest_verifies_here_and_with_independent_libraries(suite):
    agent, manifest, key = build(suite)
    verify(manifest)
    assert manifest["aid"] == agent.aid
    assert manifest["version"] == "vesk/0.2"

    public_key = key.public_key()
    verify_digest(public_key, canonical_digest(manifest), manifest["signature"])
    pop = manifest["proof_of_possession"]
    assert len(pop["challenge"]) == 22
    challenge = base64.urlsafe_b64decode(pop["challenge"] + "==")
    verify_digest(public_key, hashlib.sha256(challenge).digest(), pop["signature"])
    if suite == "p256":
        assert manifest["signature"].startswith("p256.") and len(manifest["signature"]) == 91
    else:
        assert len(manifest["signature"]) == 86


def test_minimal_call_fills_the_pinned_key_defaults():
    agent = vesk.VeskAgent.from_seed(ED_SEED)
    text = agent.build_manifest("Solo", "https://solo.example/hs", [])
    assert " " not in text and text.startswith('{"manifest":{"version":"vesk/0.2","aid":')
    manifest = json.loads(text)["manifest"]
    assert list(manifest) == [
        "version", "aid", "display_name", "identity_hint", "handshake_endpoint",
        "accepted_trust_anchors", "accepted_identity_types", "offered_capabilities",
        "proof_of_possession", "published_at", "expires_at", "signature",
    ]  # fmt: skip
    public_key = ed25519.Ed25519PrivateKey.from_private_bytes(ED_SEED).public_key()
    raw = b64u(public_key.public_bytes_raw())
    assert agent.aid == "aid:pubkey:" + raw
    assert manifest["identity_hint"] == {"type": "pinned_key", "subject": "Solo", "public_key": raw}
    assert manifest["accepted_identity_types"] == ["pinned_key"]
    assert manifest["accepted_trust_anchors"] == [] and manifest["offered_capabilities"] == []
    assert manifest["expires_at"] - manifest["published_at"] == 3600


def test_oidc_manifest_serialises_urls_and_defaults_trust_anchors_to_issuer():
    _, manifest, _ = build(
        identity_type="oidc", oidc_issuer="HTTPS://Issuer.EXAMPLE", oidc_subject="s",
        required_caps=["audit", "audit"], offered_caps=["a b", "a b"],
    )  # fmt: skip
    assert manifest["identity_hint"] == {"type": "oidc", "subject": "s", "issuer": "https://issuer.example/"}
    assert manifest["accepted_trust_anchors"] == ["https://issuer.example/"]
    assert manifest["accepted_identity_types"] == ["oidc"]
    assert manifest["offered_capabilities"] == ["a b", "a b"]
    assert manifest["required_peer_capabilities"] == ["audit", "audit"]
    _, manifest, _ = build(identity_type="oidc", accepted_trust_anchors=[])
    assert manifest["accepted_trust_anchors"] == []


def test_endpoint_and_trust_anchors_are_stored_as_serialised_urls():
    agent = vesk.VeskAgent.from_seed(ED_SEED)
    manifest = json.loads(
        agent.build_manifest(
            "n", "HTTP://Host.Example", [], accepted_trust_anchors=["WSS://A.example", "urn:x:y"]
        )
    )["manifest"]
    assert manifest["handshake_endpoint"] == "http://host.example/"
    assert manifest["accepted_trust_anchors"] == ["wss://a.example/", "urn:x:y"]


@pytest.mark.parametrize(
    "ttl, delta", [(None, 3600), (0, 0), (-10, -10), (86400, 86400)], ids=["default", "0", "-10", "day"]
)
def test_lifetime_sets_expiry_relative_to_publication(ttl, delta):
    _, manifest, _ = build(ttl_secs=ttl)
    assert manifest["expires_at"] - manifest["published_at"] == delta


def test_maximal_lifetime_saturates_and_still_verifies():
    _, manifest, _ = build(ttl_secs=2**63 - 1)
    assert manifest["expires_at"] == 2**63 - 1
    verify(manifest)


def test_required_caps_empty_list_leaves_member_out():
    _, manifest, _ = build(required_caps=[])
    assert "required_peer_capabilities" not in manifest


@pytest.mark.parametrize(
    "kwargs, exc, message",
    [
        ({"handshake_endpoint": "not a url"}, ValueError,
         "invalid handshake_endpoint URL: relative URL without a base"),
        ({"handshake_endpoint": "x", "identity_type": "bogus"}, ValueError,
         "invalid handshake_endpoint URL: relative URL without a base"),
        ({"identity_type": "PINNED_KEY"}, ValueError,
         "unknown identity_type 'PINNED_KEY': expected 'pinned_key' or 'oidc'"),
        ({"identity_type": "oidc "}, ValueError,
         "unknown identity_type 'oidc ': expected 'pinned_key' or 'oidc'"),
        ({"identity_type": ""}, ValueError, "unknown identity_type '': expected 'pinned_key' or 'oidc'"),
        ({"identity_type": "oidc"}, ValueError, "oidc_issuer is required when identity_type='oidc'"),
        ({"identity_type": "oidc", "oidc_issuer": ISSUER}, ValueError,
         "oidc_subject is required when identity_type='oidc'"),
        ({"identity_type": "oidc", "oidc_issuer": "issuer", "oidc_subject": "s"}, ValueError,
         "invalid oidc_issuer URL: relative URL without a base"),
        ({"accepted_trust_anchors": ["https://ok.example", "bad one", "also bad"]}, ValueError,
         "invalid accepted_trust_anchors URL: relative URL without a base"),
        ({"handshake_endpoint": "https://"}, ValueError, "invalid handshake_endpoint URL: empty host"),
    ],
)  # fmt: skip
def test_build_manifest_argument_failures_in_check_order(kwargs, exc, message):
    agent = vesk.VeskAgent.from_seed(ED_SEED)
    args = {"display_name": "n", "handshake_endpoint": ENDPOINT, "offered_caps": []}
    args.update(kwargs)
    with pytest.raises(exc) as info:
        agent.build_manifest(**args)
    assert str(info.value) == message


def test_pinned_key_needs_an_ed25519_agent():
    agent = vesk.VeskAgent.from_seed(P256_SEED, "p256")
    with pytest.raises(RuntimeError) as info:
        agent.build_manifest("n", ENDPOINT, [])
    assert str(info.value) == (
        "pinned_key identity_hint with a P-256 agent key is not supported; "
        "the manifest's identity_hint.public_key is Ed25519-only in v0.1"
    )


@pytest.mark.parametrize(
    "kwargs, parameter",
    [
        ({"identity_type": None}, "identity_type"),
        ({"offered_caps": "read"}, "offered_caps"),
        ({"offered_caps": ["read", 3]}, "offered_caps"),
        ({"ttl_secs": "60"}, "ttl_secs"),
        ({"display_name": b"n"}, "display_name"),
    ],
)
def test_build_manifest_refuses_wrong_argument_types(kwargs, parameter):
    agent = vesk.VeskAgent.from_seed(ED_SEED)
    args = {"display_name": "n", "handshake_endpoint": ENDPOINT, "offered_caps": []}
    args.update(kwargs)
    with pytest.raises(TypeError) as info:
        agent.build_manifest(**args)
    notes = getattr(info.value, "__notes__", [])
    assert f"while processing '{parameter}'" in notes


def test_two_builds_differ_in_their_proof_of_possession():
    agent = vesk.VeskAgent.from_seed(ED_SEED)
    a = json.loads(agent.build_manifest("n", ENDPOINT, []))["manifest"]
    b = json.loads(agent.build_manifest("n", ENDPOINT, []))["manifest"]
    assert a["proof_of_possession"]["challenge"] != b["proof_of_possession"]["challenge"]


# --- verification ----------------------------------------------------------------------------


@pytest.mark.parametrize("suite", SUITES)
def test_expiry_boundary(suite):
    _, manifest, _ = build(suite)
    verify(manifest, manifest["published_at"] - 100)
    verify(manifest, manifest["published_at"])
    verify(manifest, manifest["expires_at"])
    assert failure_code(manifest, manifest["expires_at"] + 1) == "expired"


def test_now_none_and_omitted_both_use_the_clock():
    _, manifest, _ = build(ttl_secs=-10)
    text = json.dumps({"manifest": manifest})
    for call in (lambda: vesk.verify_manifest_json(text), lambda: vesk.verify_manifest_json(text, None)):
        with pytest.raises(vesk.ManifestVerificationError) as info:
            call()
        assert info.value.code == "expired"
    with pytest.raises(OverflowError):
        vesk.verify_manifest_json(text, 2**63)


def tamper_display_name(m):
    m["display_name"] = m["display_name"][:-1] + "X"


def replace_proof_of_possession(m):
    suite = "p256" if m["aid"].startswith("aid:pubkey:p256:") else "ed25519"
    m["proof_of_possession"] = build(suite)[1]["proof_of_possession"]


def swap_signature_prefix(m):
    text = m["signature"]
    m["signature"] = text[5:] if text.startswith("p256.") else "p256." + text


def add_member(name, value):
    return lambda m: m.__setitem__(name, value)


@pytest.mark.parametrize("suite", SUITES)
@pytest.mark.parametrize(
    "tamper",
    [
        tamper_display_name,
        add_member("accepted_signature_algorithms", ["EdDSA"]),
        add_member("extensions", {}),
        add_member("offered_capabilities", ["read"]),
        add_member("published_at", 0),
        lambda m: m["identity_hint"].__setitem__("subject", "mallory"),
        replace_proof_of_possession,
        lambda m: m.__setitem__("signature", m["signature"] + "="),
        swap_signature_prefix,
        lambda m: m.__setitem__("signature", m["signature"][:-2]),
    ],
    ids=["display_name", "algorithms", "extensions", "caps", "published_at", "subject", "pop",
         "padding", "wrong_prefix", "short"],
)  # fmt: skip
def test_changed_manifest_fails_its_signature(suite, tamper):
    _, manifest, _ = build(suite)
    tamper(manifest)
    assert failure_code(manifest) == "signature_invalid"


def test_member_order_and_whitespace_do_not_matter():
    _, manifest, _ = build()
    shuffled = dict(reversed(list(manifest.items())))
    vesk.verify_manifest_json(json.dumps({"manifest": shuffled}, indent=3))


def test_ed25519_signature_may_carry_its_prefix():
    _, manifest, _ = build()
    manifest["signature"] = "ed25519." + manifest["signature"]
    verify(manifest)


@pytest.mark.parametrize("suite", SUITES)
def test_manifest_signed_by_another_key_than_its_aid(suite):
    other = vesk.VeskAgent.from_seed(OTHER_SEED, suite)
    _, manifest, key = build(suite)
    manifest["aid"] = other.aid
    resign(manifest, key)
    assert failure_code(manifest) == "signature_invalid"


@pytest.mark.parametrize("suite", SUITES)
def test_proof_of_possession_by_another_key_fails(suite):
    _, manifest, key = build(suite)
    challenge = base64.urlsafe_b64decode(manifest["proof_of_possession"]["challenge"] + "==")
    stranger = private_key(OTHER_SEED, suite)
    manifest["proof_of_possession"]["signature"] = sign_digest(stranger, hashlib.sha256(challenge).digest())
    resign(manifest, key)
    assert failure_code(manifest) == "pop_failed"


@pytest.mark.parametrize(
    "challenge, sign_over",
    [("AAAAAAAAAAAAAAAAAAAAAA==", b"\0" * 16), ("AAAA+AAA", b""), ("", b""), ("QQ", b"A")],
    ids=["padding", "alphabet", "empty", "short"],
)
def test_proof_of_possession_challenge_rules(challenge, sign_over):
    _, manifest, key = build()
    manifest["proof_of_possession"] = {
        "challenge": challenge,
        "signature": sign_digest(key, hashlib.sha256(sign_over).digest()),
    }
    resign(manifest, key)
    if challenge in ("", "QQ"):  # any decodable length is accepted
        verify(manifest)
    else:
        assert failure_code(manifest) == "pop_failed"


@pytest.mark.parametrize(
    "hint, detail",
    [
        ({"type": "pinned_key", "subject": "s"}, "pinned_key requires `public_key`"),
        ({"type": "oidc", "subject": "s"}, "oidc requires `issuer`"),
        ({"type": "oidc", "subject": "s", "issuer": ISSUER, "public_key": "k"},
         "oidc must not include `public_key`"),
        ({"type": "pinned_key", "subject": "s", "issuer": ISSUER, "public_key": "anything"}, None),
    ],
)  # fmt: skip
def test_identity_hint_rules(hint, detail):
    _, manifest, key = build()
    manifest["identity_hint"] = hint
    resign(manifest, key)
    if detail is None:
        verify(manifest)
        return
    with pytest.raises(vesk.ManifestVerificationError) as info:
        verify(manifest)
    assert info.value.code == "identity_hint_malformed"
    assert str(info.value) == "manifest verification failed: identity_hint malformed: " + detail


def test_check_order_version_then_expiry_then_signature():
    _, manifest, key = build(ttl_secs=-10)
    manifest["signature"] = manifest["signature"][::-1]
    assert failure_code(manifest) == "expired"
    manifest["version"] = "vesk/0.1"
    assert failure_code(manifest) == "version_unknown"
    _, manifest, key = build()
    manifest["version"] = "VESK/0.2"
    resign(manifest, key)
    assert failure_code(manifest) == "version_unknown"


@pytest.mark.parametrize(
    "aid, text",
    [
        (ED_AID_OFF_CURVE, "AID does not yield a valid Ed25519 public key: signature error"),
        (P256_AID_OFF_CURVE, "public key parsing failed: signature error"),
    ],
)
def test_aid_without_a_curve_point_is_malformed(aid, text):
    _, manifest, _ = build()
    manifest["aid"] = aid
    with pytest.raises(vesk.ManifestVerificationError) as info:
        verify(manifest)
    assert info.value.code == "malformed"
    assert str(info.value) == "manifest verification failed: " + text


def test_verification_error_is_a_runtime_error_with_code():
    _, manifest, _ = build(ttl_secs=-1)
    with pytest.raises(RuntimeError) as info:
        verify(manifest)
    assert isinstance(info.value, vesk.ManifestVerificationError)
    assert info.value.code == "expired"
    assert type(info.value).__module__ == "vesk"


def wrap(manifest):
    return json.dumps({"manifest": manifest})


@pytest.mark.parametrize(
    "make_text, message",
    [
        (lambda m: "", "EOF while parsing a value at line 1 column 0"),
        (lambda m: json.dumps(m), "unknown field `version`, expected `manifest` at line 1 column 10"),
        (lambda m: wrap(m)[:-1] + ', "x": 1}', "unknown field `x`, expected `manifest`"),
        (lambda m: wrap({**m, "Version": "vesk/0.2"}), "unknown field `Version`, expected one of `version`, `aid`"),
        (lambda m: wrap({k: v for k, v in m.items() if k != "signature"}), "missing field `signature`"),
        (lambda m: wrap(m)[:-2] + ', "aid": "' + m["aid"] + '"}}', "duplicate field `aid`"),
        (lambda m: wrap({**m, "aid": m["aid"][:-1]}), "AID identifier must be exactly 43 characters; got 42"),
        (lambda m: wrap({**m, "published_at": 1.5}), "invalid type: floating point `1.5`, expected i64"),
        (lambda m: wrap({**m, "identity_hint": {**m["identity_hint"], "type": "PINNED_KEY"}}),
         "unknown variant `PINNED_KEY`, expected `oidc` or `pinned_key`"),
        (lambda m: "[]", "invalid length 0, expected struct ManifestEnvelope with 1 element"),
        (lambda m: wrap(m) + "x", "trailing characters"),
    ],
    ids=["empty", "bare", "extra", "case", "missing", "duplicate", "aid", "float", "variant", "array",
         "trailing"],
)  # fmt: skip
def test_unreadable_envelope_raises_value_error(make_text, message):
    _, manifest, _ = build()
    with pytest.raises(ValueError) as info:
        vesk.verify_manifest_json(make_text(manifest))
    assert not isinstance(info.value, vesk.ManifestVerificationError)
    assert str(info.value).startswith("invalid manifest JSON: " + message)


def test_positional_and_null_forms_read_like_the_object_form():
    _, manifest, _ = build()
    nulls = {**manifest, "required_peer_capabilities": None, "extensions": None}
    vesk.verify_manifest_json(wrap(nulls))
    vesk.verify_manifest_json(json.dumps([manifest]))
    unit_form = copy.deepcopy(manifest)
    unit_form["identity_hint"]["type"] = {"pinned_key": None}
    vesk.verify_manifest_json(wrap(unit_form))
