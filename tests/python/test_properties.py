"""Random text and wrong types into every public callable.

Whatever comes in, only the documented exception types come out (never PanicException, never a
crash), and the objects used keep working afterwards. Where `cryptography` judges the same input
(certificates, P-256 points) the module agrees with it.
"""

import hashlib
import json
import operator

import pytest
from cryptography import x509
from cryptography.hazmat.primitives import serialization
from cryptography.hazmat.primitives.asymmetric import ec
from hypothesis import example, given, strategies as st

import vesk
from parties import ALICE, BOB, CAROL_P256, ENDPOINT, FAR_FUTURE, SCRATCH, Handshake, artefacts, b64u, party

I64 = (-(2**63), 2**63 - 1)
U64 = (0, 2**64 - 1)
MANIFEST_CODES = {"signature_invalid", "pop_failed", "aid_mismatch", "expired", "version_unknown",
                  "identity_hint_malformed", "incompatible_identity_type", "malformed"}
REVOCATION_CODES = {"signature_invalid", "issuer_mismatch", "version_unknown", "expired", "malformed"}
FAILURES = (ValueError, RuntimeError, vesk.ManifestVerificationError, vesk.RevocationVerificationError,
            UnicodeEncodeError)
ARTEFACTS = artefacts()
VERIFIED = vesk.verify_delegation(ARTEFACTS["delegation"], ALICE.aid)
STORE = vesk.TctStore(64)
INITIATOR, RESPONDER = party(), party(name="bob")


def outcome(call, *allowed):
    """The call's result, or the exception it raised when its type is exactly one of `allowed`."""
    try:
        return call()
    except Exception as error:  # PanicException is a BaseException and escapes on purpose
        assert type(error) in allowed, f"{type(error).__name__}: {error}"
        assert str(error), "an exception without a message"
        if type(error) is vesk.ManifestVerificationError:
            assert error.code in MANIFEST_CODES
        if type(error) is vesk.RevocationVerificationError:
            assert error.code in REVOCATION_CODES
        return error


def still_works():
    """The long-lived objects answer correctly after a storm of bad calls."""
    assert vesk.verify_manifest_json(SCRATCH.agent.build_manifest("Bob", ENDPOINT, ["read"])) is None
    token = ALICE.tct(BOB)
    before = STORE.len()
    first = BOB.agent.verify_tct_cached(token, "read", STORE)
    assert STORE.len() == min(before + 1, 64)
    again = BOB.agent.verify_tct_cached(token, "read", STORE)
    assert (again.jti, again.grants) == (first.jti, ["read", "write"])
    assert BOB.agent.verify_tct(token, "write").peer_aid == ALICE.aid
    assert Handshake().run().a_holds["grant_voucher"]


LONG_LABEL = "\u00e9" * 1001  # more than ICU's IDNA takes in one label
# Hostile text: long labels and strings, odd Unicode, huge numbers, deep nesting, alone or
# after a prefix that gets it past the first checks.
HOSTILE = st.builds(operator.add, st.sampled_from(["", "https://", "https://a.", "aid:pubkey:", '{"a":', "["]),
                    st.sampled_from([LONG_LABEL, LONG_LABEL + ".example", "a" * 1000 + "\u0301", "xn--" + "a" * 5000,
                                     "\u200d\u05d0\u3002\uff0e\U0010ffff\ufeff", "\udfff", "9" * 5000, "1e999999",
                                     "-0.0e-99999", "[" * 100000, '{"a":' * 20000, '"' + "a" * 1000000 + '"']))
ANY_TEXT = st.text(st.characters(blacklist_categories=()), max_size=40) | HOSTILE | st.sampled_from(
    ["", "aid:pubkey:", "aid:pubkey:p256:" + "A" * 44, "[" * 300, '{"manifest":' * 200, "\ud800"])


@given(ANY_TEXT, ANY_TEXT, st.integers(*I64))
def test_random_text_in_every_text_parameter(a, b, n):
    hops = abs(n) % 8
    provider = vesk.JwksProvider()
    calls = [
        lambda: vesk.VeskAgent.generate(a),
        lambda: vesk.VeskAgent.from_seed(bytes(32), a),
        lambda: vesk.compute_aid_jkt(a),
        lambda: vesk.verify_manifest_json(a, n),
        lambda: BOB.agent.verify_tct(a, b),
        lambda: BOB.agent.verify_tct(ARTEFACTS["tct"], a, b),
        lambda: BOB.agent.verify_tct_cached(a, b, STORE, b, {a}),
        lambda: BOB.agent.build_renewal_request(a),
        lambda: ALICE.agent.process_renewal_request(a, n, n),
        lambda: SCRATCH.agent.build_manifest(a, b, [a, b], [b], n),
        lambda: SCRATCH.agent.build_manifest("n", ENDPOINT, [], identity_type=a),
        lambda: SCRATCH.agent.build_manifest("n", a, [], identity_type="oidc", oidc_issuer=b, oidc_subject=a,
                                         accepted_trust_anchors=[a, b]),
        lambda: vesk.verify_delegation(a, b, {a}),
        lambda: vesk.verify_delegation_multihop(a, b, hops),
        lambda: BOB.agent.build_delegation(a, b, [a], n),
        lambda: BOB.agent.build_delegation(ARTEFACTS["voucher"], a, [b]),
        lambda: vesk.verify_revocation_list(a, b, n),
        lambda: vesk.revocation_signing_bytes(a),
        lambda: ALICE.agent.sign_revocation_list([{"jti": a, "reason": b, "revoked_at": n}], n),
        lambda: vesk.SessionBundleBuilder(ALICE.agent).session_id(a).issued_at(n).participant(b, a).build(),
        lambda: vesk.verify_session_bundle(a, b, n, lambda jti: jti == a),
        lambda: vesk.JwksProvider({a: [{"kty": b, "x": a}]}),
        lambda: provider.upsert(a, [{"kty": "OKP", "crv": "Ed25519", "x": b}]),
        lambda: provider.remove(a),
        lambda: INITIATOR.agent.new_session(provider, [a]).build_hello(b, [a], lambda nonce: a),
        lambda: RESPONDER.agent.new_responder(provider, [b]).process_hello(a, lambda nonce: b),
        lambda: INITIATOR.agent.new_session().process_hello_ack(a, b),
        lambda: RESPONDER.agent.new_responder().process_commit(a),
        lambda: INITIATOR.agent.new_session().complete(a),
    ]
    for call in calls:
        outcome(call, *FAILURES)
    still_works() if n % 50 == 0 else None


def on_curve(raw: bytes) -> bool:
    """Whether 32 bytes decode as an Edwards point: y taken modulo p, sign bit aside."""
    p = 2**255 - 19
    d = -121665 * pow(121666, -1, p) % p
    y = int.from_bytes(raw, "little") & ((1 << 255) - 1)
    u, v = (y * y - 1) % p, (d * y * y + 1) % p
    x2 = u * pow(v, -1, p) % p
    return x2 == 0 or pow(x2, (p - 1) // 2, p) == 1


@given(st.binary(min_size=32, max_size=32), st.sampled_from([None, 2, 3]))
@example(bytes(32), None)
@example(b"\xff" * 32, None)
@example(bytes([1]) + bytes(30) + b"\x80", None)
def test_aid_key_check_matches_the_curve(x, tag):
    """An Ed25519 key (no tag) against the curve equation, a compressed P-256 point against `cryptography`."""
    if tag is None:
        aid, valid = "aid:pubkey:" + b64u(x), on_curve(x)
    else:
        aid = "aid:pubkey:p256:" + b64u(bytes([tag]) + x)
        try:
            valid = bool(ec.EllipticCurvePublicKey.from_encoded_point(ec.SECP256R1(), bytes([tag]) + x))
        except ValueError:
            valid = False
    assert isinstance(outcome(lambda: vesk.compute_aid_jkt(aid), ValueError), str) == valid, aid


CERTIFICATE = ARTEFACTS["certificate"]
CAROL_SPKI_HASH = hashlib.sha256(x509.load_der_x509_certificate(CERTIFICATE).public_key().public_bytes(
    serialization.Encoding.DER, serialization.PublicFormat.SubjectPublicKeyInfo)).digest()
PINS = vesk.SpkiPinVerifier([bytes(32), CAROL_SPKI_HASH])


@st.composite
def byte_mutations(draw, data):
    out = bytearray(data)
    for _ in range(draw(st.integers(1, 4))):
        at, byte = draw(st.integers(0, len(out))), draw(st.integers(0, 255))
        op = draw(st.sampled_from(["flip", "insert", "delete", "truncate"]))
        if op == "insert" or at == len(out):
            out.insert(at, byte)
        elif op == "delete":
            del out[at]
        elif op == "truncate":
            del out[at:]
        else:
            out[at] ^= byte or 1
    return bytes(out)


@pytest.mark.filterwarnings("ignore:Parsed a serial number")
@given(byte_mutations(CERTIFICATE) | st.binary(max_size=64))
def test_mutated_certificate_is_hashed_like_cryptography_or_refused(der):
    pin = outcome(lambda: vesk.compute_spki_hash(der), ValueError)
    pinned = outcome(lambda: PINS.is_pinned(der), ValueError)
    assert isinstance(pin, bytes) == isinstance(pinned, bool)
    if isinstance(pin, bytes):
        assert pinned == (pin == CAROL_SPKI_HASH)
    try:
        spki = x509.load_der_x509_certificate(der).public_key().public_bytes(
            serialization.Encoding.DER, serialization.PublicFormat.SubjectPublicKeyInfo)
    except Exception:  # cryptography refuses it: nothing to compare with
        return
    if isinstance(pin, bytes):
        assert pin == hashlib.sha256(spki).digest()


# --- wrong argument types and integer ranges ---------------------------------------------------

class LyingSequence:
    """A sequence that claims an absurd length."""

    def __len__(self):
        return 2**62

    def __getitem__(self, index):
        if index < 2:
            return "read"
        raise IndexError(index)


WRONG = {
    "text": [1, b"x", bytearray(b"x"), ["x"], 1.5],
    "bytes": ["x" * 32, bytearray(32), memoryview(bytes(32)), 32, [0] * 32],
    "int": ["1", 1.5, b"1", [1]],
    "uint": ["1", 1.5, b"1", [1]],
    "list": ["read", {"read"}, 5, [1], ["a", None], {"a": 1}],
    "set": [["a"], ("a",), {1}, "a", frozenset({None})],
    "store": [object(), 1, "store"],
    "agent": [object(), "agent", STORE],
    "verified": [object(), 1, "verified"],
    "provider": [object(), "jwks", STORE],
    "dict": [[], "x", 5, [("a", [])]],
    "dicts": ["x", 5, {"jti": "x"}],  # a malformed item is a ValueError naming its index
    "pins": ["x" * 32, 5, [1], [None], {bytes(32)}],
}
# (name, call taking the full keyword arguments, {parameter: (valid value, kind of wrong values or None)})
TOKEN = ARTEFACTS["tct"]
VERIFIED_JTI = "7d444840-9dc0-41d1-b245-5ffdce74fad2"
BUILDER = vesk.SessionBundleBuilder(ALICE.agent)
PROVIDER = vesk.JwksProvider()
SIGNATURES = [
    ("generate", vesk.VeskAgent.generate, {"suite": ("ed25519", "text")}),
    ("from_seed", vesk.VeskAgent.from_seed, {"seed": (bytes([7]) * 32, "bytes"), "suite": ("p256", "text")}),
    ("compute_aid_jkt", vesk.compute_aid_jkt, {"aid": (BOB.aid, "text")}),
    ("verify_manifest_json", vesk.verify_manifest_json, {
     "manifest_envelope_json": (ARTEFACTS["manifest"], "text"),
     "now_unix_secs": (None, "int")}),
    ("TctStore", vesk.TctStore, {"max_entries": (4, "uint")}),
    ("build_manifest", SCRATCH.agent.build_manifest, {"display_name": ("d", "text"),
     "handshake_endpoint": (ENDPOINT, "text"), "offered_caps": (["a"], "list"),
     "required_caps": (None, "list"), "ttl_secs": (None, "int"), "identity_type": ("pinned_key", "text"),
     "oidc_issuer": (None, "text"), "oidc_subject": (None, "text"), "accepted_trust_anchors": (None, "list")}),
    ("verify_tct", BOB.agent.verify_tct, {"tct_token": (TOKEN, "text"), "required_grant": ("read", "text"),
     "expected_audience": (None, "text"), "revoked_jtis": (None, "set")}),
    ("verify_tct_cached", BOB.agent.verify_tct_cached, {"tct_token": (TOKEN, "text"),
     "required_grant": ("read", "text"), "store": (STORE, "store"), "expected_audience": (None, "text"),
     "revoked_jtis": (None, "set")}),
    ("build_renewal_request", BOB.agent.build_renewal_request, {"current_tct_envelope_json": (TOKEN, "text")}),
    ("process_renewal_request", ALICE.agent.process_renewal_request, {
     "request_payload_json": (ARTEFACTS["renewal-request"], "text"),
     "manifest_exp_unix_secs": (FAR_FUTURE, "int"), "new_ttl_secs": (60, "int")}),
    ("verify_delegation", vesk.verify_delegation, {"delegation_token": (ARTEFACTS["delegation"], "text"),
     "verifier_aid": (ALICE.aid, "text"), "revoked_jtis": (None, "set")}),
    ("verify_delegation_multihop", vesk.verify_delegation_multihop, {
     "delegation_token": (ARTEFACTS["delegation"], "text"),
     "verifier_aid": (ALICE.aid, "text"), "max_delegation_hops": (3, "uint"), "revoked_jtis": (None, "set")}),
    ("build_delegation", BOB.agent.build_delegation, {"voucher_token": (ARTEFACTS["voucher"], "text"),
     "delegatee_aid": (CAROL_P256.aid, "text"), "scope": (["read"], "list"), "ttl_secs": (None, "int")}),
    ("issue_tct_for_delegatee", ALICE.agent.issue_tct_for_delegatee, {"verified": (VERIFIED, "verified"),
     "ttl_secs": (None, "int")}),
    ("sign_revocation_list", ALICE.agent.sign_revocation_list, {"entries": ([{"jti": VERIFIED_JTI}], "dicts"),
     "expires_in_secs": (None, "int")}),
    ("verify_revocation_list", vesk.verify_revocation_list, {"envelope_json": (ARTEFACTS["revocation"], "text"),
     "expected_issuer_aid": (ALICE.aid, "text"), "now_unix_secs": (None, "int")}),
    ("revocation_signing_bytes", vesk.revocation_signing_bytes,
     {"envelope_json": (ARTEFACTS["revocation"], "text")}),
    ("SessionBundleBuilder", vesk.SessionBundleBuilder, {"coordinator": (ALICE.agent, "agent")}),
    ("session_id", BUILDER.session_id, {"uuid_str": (VERIFIED_JTI, "text")}),
    ("issued_at", BUILDER.issued_at, {"unix_secs": (5, "int")}),
    ("participant", BUILDER.participant, {"aid": (BOB.aid, "text"), "tct_token": (TOKEN, "text")}),
    ("verify_session_bundle", vesk.verify_session_bundle, {
     "bundle_envelope_json": (ARTEFACTS["bundle"], "text"),
     "verifier_aid": (BOB.aid, "text"), "now_unix_secs": (None, "int"), "revocation_check": (None, None)}),
    ("compute_spki_hash", vesk.compute_spki_hash, {"cert_der": (CERTIFICATE, "bytes")}),
    ("SpkiPinVerifier", vesk.SpkiPinVerifier, {"pins": ([bytes(32)], "pins")}),
    ("is_pinned", PINS.is_pinned, {"cert_der": (CERTIFICATE, "bytes")}),
    ("JwksProvider", vesk.JwksProvider, {"keys": (None, "dict")}),
    ("upsert", PROVIDER.upsert, {"issuer": ("https://issuer.example", "text"), "keys": ([], "dicts")}),
    ("remove", PROVIDER.remove, {"issuer": ("https://issuer.example", "text")}),
    ("new_session", INITIATOR.agent.new_session, {"jwks": (None, "provider"), "trust_anchors": (None, "list")}),
    ("new_responder", RESPONDER.agent.new_responder, {"jwks": (None, "provider"), "trust_anchors": (None, "list")}),
    ("build_hello", INITIATOR.agent.new_session().build_hello, {
     "peer_manifest_json": (RESPONDER.manifest_json, "text"),
     "requested_grants": (["read"], "list"), "oidc_mint_jwt": (None, None)}),
]


@pytest.mark.parametrize("name,call,parameters", SIGNATURES, ids=[s[0] for s in SIGNATURES])
def test_wrong_argument_types_raise_type_error_naming_the_parameter(name, call, parameters):
    valid = {parameter: value for parameter, (value, _) in parameters.items()}
    kinds = {parameter: kind for parameter, (_, kind) in parameters.items() if kind}
    assert not isinstance(outcome(lambda: call(**valid)), Exception)

    @given(st.sampled_from(sorted(kinds)), st.data())
    def run(parameter, data):
        wrong = list(WRONG[kinds[parameter]])
        if valid[parameter] is not None:  # None stands for an omitted argument only where optional
            wrong.append(None)
        value = data.draw(st.sampled_from(wrong))
        error = outcome(lambda: call(**{**valid, parameter: value}), TypeError)
        assert isinstance(error, TypeError), f"{name}({parameter}={value!r}) returned {error!r}"
        # The parameter is named in a note where the interpreter has notes (3.11 and later).
        notes = [f"while processing '{parameter}'"] if hasattr(error, "add_note") else []
        assert getattr(error, "__notes__", []) == notes

    run()
    still_works()


INTEGERS = [(name, call, {p: value for p, (value, _) in parameters.items()}, parameter, kind)
            for name, call, parameters in SIGNATURES
            for parameter, (_, kind) in parameters.items() if kind in ("int", "uint")]


@pytest.mark.parametrize("name,call,valid,parameter,kind", INTEGERS, ids=[f"{i[0]}-{i[3]}" for i in INTEGERS])
def test_integers_overflow_exactly_outside_their_range(name, call, valid, parameter, kind):
    low, high = U64 if kind == "uint" else I64

    @given(st.integers(-(2**70), 2**70) | st.sampled_from([low - 1, low, high, high + 1]))
    def run(value):
        result = outcome(lambda: call(**{**valid, parameter: value}), *FAILURES, OverflowError)
        assert (type(result) is OverflowError) == (not low <= value <= high), value

    run()


def test_list_arguments_are_read_by_iteration_not_by_claimed_length():
    text = SCRATCH.agent.build_manifest("d", ENDPOINT, LyingSequence())
    assert json.loads(text)["manifest"]["offered_capabilities"] == ["read", "read"]
    assert vesk.TctStore(2**64 - 1).len() == 0
