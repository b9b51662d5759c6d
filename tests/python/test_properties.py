"""Random and mutated input to every public callable.

Whatever comes in, only the documented exception types come out (never PanicException, never a
crash), a damaged artefact never passes as valid, and the objects used keep working afterwards.
"""

import json
import time

import pytest
from hypothesis import example, given, strategies as st

import vesk
from artefacts import ALICE, BOB, CAROL_P256, ENDPOINT, FAR_FUTURE, Party, artefacts, b64u, tct_claims

I64 = (-(2**63), 2**63 - 1)
U64 = (0, 2**64 - 1)
MANIFEST_CODES = {"signature_invalid", "pop_failed", "aid_mismatch", "expired", "version_unknown",
                  "identity_hint_malformed", "incompatible_identity_type", "malformed"}
ARTEFACTS = artefacts()
STORE = vesk.TctStore(64)


def outcome(call, *allowed):
    """The call's result, or the exception it raised when its type is exactly one of `allowed`."""
    try:
        return call()
    except Exception as error:  # PanicException is a BaseException and escapes on purpose
        assert type(error) in allowed, f"{type(error).__name__}: {error}"
        assert str(error), "an exception without a message"
        if type(error) is vesk.ManifestVerificationError:
            assert error.code in MANIFEST_CODES
        return error


FAILURES = (ValueError, RuntimeError, vesk.ManifestVerificationError)


def still_works():
    """The long-lived objects answer correctly after a storm of bad calls."""
    text = BOB.agent.build_manifest("Bob", ENDPOINT, ["read"])
    assert vesk.verify_manifest_json(text) is None
    token = ALICE.tct(BOB)
    before = STORE.len()
    first = BOB.agent.verify_tct_cached(token, "read", STORE)
    assert STORE.len() == min(before + 1, 64)
    again = BOB.agent.verify_tct_cached(token, "read", STORE)
    assert (again.jti, again.grants) == (first.jti, ["read", "write"])
    assert BOB.agent.verify_tct(token, "write").peer_aid == ALICE.aid


# --- mutated artefacts ------------------------------------------------------------------------

STRUCTURAL = st.sampled_from(list('{}[]",:.\\ -_=0129aAzZ') + ["\u00e9", "\x00", "\ud800", "\U0001f600"])


@st.composite
def mutations(draw, text):
    """The text with one to four characters flipped, inserted or deleted; never the text itself."""
    chars = list(text)
    for _ in range(draw(st.integers(1, 4))):
        at = draw(st.integers(0, len(chars)))
        op = draw(st.sampled_from(["flip", "insert", "delete"]))
        new = draw(STRUCTURAL | st.characters())
        if op == "insert" or not chars or at == len(chars):
            chars.insert(at, new)
        elif op == "delete":
            del chars[at]
        else:
            chars[at] = new
    mutated = "".join(chars)
    return mutated if mutated != text else text + " x"


def same_json(a, b):
    try:
        return json.loads(a) == json.loads(b)
    except ValueError:
        return False


@pytest.mark.parametrize("name", sorted(ARTEFACTS))
def test_valid_artefacts_pass_their_check(name):
    text, check = ARTEFACTS[name]
    check(text)


@pytest.mark.parametrize("name", [n for n in sorted(ARTEFACTS) if n.startswith("tct")])
def test_mutated_token_never_verifies_and_cache_agrees(name):
    text, _ = ARTEFACTS[name]

    @given(mutations(text))
    def run(token):
        plain = outcome(lambda: BOB.agent.verify_tct(token, "read"), ValueError, RuntimeError, UnicodeEncodeError)
        cached = outcome(lambda: BOB.agent.verify_tct_cached(token, "read", STORE),
                         ValueError, RuntimeError, UnicodeEncodeError)
        assert isinstance(plain, Exception), f"damaged token verified: {token!r}"
        assert (type(plain), str(plain)) == (type(cached), str(cached))
        request = outcome(lambda: BOB.agent.build_renewal_request(token), UnicodeEncodeError)
        if isinstance(request, str):
            renewal = outcome(lambda: ALICE.agent.process_renewal_request(request, FAR_FUTURE, 60), *FAILURES)
            assert isinstance(renewal, Exception), f"damaged token renewed: {token!r}"

    run()
    still_works()


@pytest.mark.parametrize("name", [n for n in sorted(ARTEFACTS) if not n.startswith("tct")])
def test_mutated_json_artefact_passes_only_when_unchanged_in_meaning(name):
    text, check = ARTEFACTS[name]

    @given(mutations(text))
    def run(mutated):
        result = outcome(lambda: check(mutated), *FAILURES, UnicodeEncodeError)
        if name == "voucher":  # the renewal request is built from any encodable text
            assert isinstance(result, (str, UnicodeEncodeError))
        elif not isinstance(result, Exception):
            assert same_json(mutated, text), f"changed artefact accepted: {mutated!r}"

    run()
    still_works()


def test_signature_segment_is_not_malleable_through_non_ascii_characters():
    # A decoder that read every byte from 0x80 up as '_' let "é" (two bytes) pass for "__".
    token = next(t for t in (ALICE.tct(BOB) for _ in range(5000)) if "__" in t.rsplit(".", 1)[1])
    head, signature = token.rsplit(".", 1)
    with pytest.raises(RuntimeError, match="^TCT verification failed: "):
        BOB.agent.verify_tct(head + "." + signature.replace("__", "\u00e9", 1), "read")


# --- random content behind a valid signature ------------------------------------------------

JSON = st.recursive(
    st.none() | st.booleans() | st.integers() | st.floats(allow_nan=False, allow_infinity=False)
    | st.text(max_size=8),
    lambda inner: st.lists(inner, max_size=4) | st.dictionaries(st.text(max_size=6), inner, max_size=4),
    max_leaves=10)
CLAIM_NAMES = ["ver", "jti", "iss", "sub", "aud", "iat", "exp", "grants", "cnf", "ext", "nbf"]


@given(st.dictionaries(st.sampled_from(CLAIM_NAMES), JSON, max_size=3),
       st.lists(st.sampled_from(CLAIM_NAMES), max_size=2), st.sampled_from([ALICE, CAROL_P256]))
@example({"iat": 2**63}, [], ALICE)
@example({"exp": -(2**63) - 1}, [], ALICE)
@example({"grants": [" "]}, [], ALICE)
def test_signed_random_claims_verify_only_when_sound(replaced, dropped, issuer):
    claims = tct_claims(issuer, BOB, **replaced)
    for name in dropped:
        claims.pop(name, None)
    token = issuer.jws(json.dumps(claims).encode())
    result = outcome(lambda: BOB.agent.verify_tct(token, "read"), ValueError, RuntimeError)
    if isinstance(result, vesk.TctIdentity):
        now = int(time.time())
        assert claims["ver"] == "vesk/0.2" and claims["iss"] == issuer.aid and claims["aud"] == BOB.aid
        assert claims["cnf"] == {"jkt": BOB.jkt} and claims["iat"] <= now + 1 and claims["exp"] >= now - 1
        assert result.grants == claims["grants"] and "read" in result.grants


@given(st.binary(max_size=64) | JSON.map(lambda v: json.dumps(v).encode()),
       st.sampled_from(["vesk-tct+jwt", "vesk-grant+jwt", "JWT"]))
@example(b"[" * 100000, "vesk-tct+jwt")
@example(b'{"ver":' * 5000, "vesk-tct+jwt")
def test_signed_random_payload_is_refused(payload, typ):
    token = ALICE.jws(payload, typ)
    for call in (lambda: BOB.agent.verify_tct(token, "read"),
                 lambda: BOB.agent.verify_tct_cached(token, "read", STORE),
                 lambda: ALICE.agent.process_renewal_request(BOB.agent.build_renewal_request(token),
                                                             FAR_FUTURE, 60)):
        assert isinstance(outcome(call, ValueError, RuntimeError), Exception)


MANIFEST = json.loads(ARTEFACTS["manifest-eddsa"][0])["manifest"]


@given(st.dictionaries(st.sampled_from(sorted(MANIFEST) + ["extensions", "x"]), JSON, max_size=2))
@example({"extensions": {"a": [[[[1.5e300]]]]}})
@example({"published_at": 2**63})
def test_random_manifest_members_are_refused_cleanly(replaced):
    text = json.dumps({"manifest": {**MANIFEST, **replaced}})
    result = outcome(lambda: vesk.verify_manifest_json(text), ValueError, vesk.ManifestVerificationError)
    if result is None:
        # A null optional member reads like an absent one.
        assert all(MANIFEST[k] == v if k in MANIFEST else v is None for k, v in replaced.items()), text


# --- random arguments -------------------------------------------------------------------------

ANY_TEXT = st.text(st.characters(blacklist_categories=()), max_size=40) | st.sampled_from(
    ["", "aid:pubkey:", "aid:pubkey:p256:" + "A" * 44, "[" * 300, '{"manifest":' * 200, "\ud800"])


@given(ANY_TEXT, ANY_TEXT, st.integers(*I64))
def test_random_text_in_every_text_parameter(a, b, n):
    errors = (ValueError, RuntimeError, vesk.ManifestVerificationError, UnicodeEncodeError)
    calls = [
        lambda: vesk.VeskAgent.generate(a),
        lambda: vesk.VeskAgent.from_seed(bytes(32), a),
        lambda: vesk.compute_aid_jkt(a),
        lambda: vesk.verify_manifest_json(a, n),
        lambda: BOB.agent.verify_tct(a, b),
        lambda: BOB.agent.verify_tct(ARTEFACTS["tct-eddsa"][0], a, b),
        lambda: BOB.agent.verify_tct_cached(a, b, STORE, b, {a}),
        lambda: BOB.agent.build_renewal_request(a),
        lambda: ALICE.agent.process_renewal_request(a, n, n),
        lambda: BOB.agent.build_manifest(a, b, [a, b], [b], n),
        lambda: BOB.agent.build_manifest("n", ENDPOINT, [], identity_type=a),
        lambda: BOB.agent.build_manifest("n", a, [], identity_type="oidc", oidc_issuer=b, oidc_subject=a,
                                         accepted_trust_anchors=[a, b]),
    ]
    for call in calls:
        outcome(call, *errors)
    still_works() if n % 50 == 0 else None


def on_curve(raw: bytes) -> bool:
    """Whether 32 bytes decode as an Edwards point: y taken modulo p, sign bit aside."""
    p = 2**255 - 19
    d = -121665 * pow(121666, -1, p) % p
    y = int.from_bytes(raw, "little") & ((1 << 255) - 1)
    u, v = (y * y - 1) % p, (d * y * y + 1) % p
    x2 = u * pow(v, -1, p) % p
    return x2 == 0 or pow(x2, (p - 1) // 2, p) == 1


@given(st.binary(min_size=32, max_size=32))
@example(bytes(32))
@example(b"\xff" * 32)
@example(bytes([1]) + bytes(30) + b"\x80")
def test_ed25519_aid_key_check_matches_the_curve(raw):
    aid = "aid:pubkey:" + b64u(raw)
    result = outcome(lambda: vesk.compute_aid_jkt(aid), ValueError)
    assert isinstance(result, str) == on_curve(raw), aid
    if isinstance(result, str):
        assert result == vesk.compute_aid_jkt("aid:pubkey:ed25519:" + b64u(raw))


@given(st.binary(min_size=32, max_size=32), st.sampled_from([2, 3]))
def test_p256_aid_key_check_matches_cryptography(x, tag):
    from cryptography.hazmat.primitives.asymmetric import ec

    try:
        ec.EllipticCurvePublicKey.from_encoded_point(ec.SECP256R1(), bytes([tag]) + x)
        valid = True
    except ValueError:
        valid = False
    result = outcome(lambda: vesk.compute_aid_jkt("aid:pubkey:p256:" + b64u(bytes([tag]) + x)), ValueError)
    assert isinstance(result, str) == valid


@given(st.text(max_size=30), st.lists(st.text(max_size=10), max_size=5),
       st.lists(st.text(max_size=10), max_size=3), st.integers(-(2**40), 2**40), st.booleans())
@example("\u0000\u2028\ud7ff\"\\", ["a"], [], 0, False)
def test_built_manifest_round_trips_whatever_it_accepts(name, offered, required, ttl, p256):
    party = CAROL_P256 if p256 else BOB
    oidc = {"identity_type": "oidc", "oidc_issuer": "https://i.example", "oidc_subject": name} if p256 else {}
    result = outcome(lambda: party.agent.build_manifest(name, ENDPOINT, offered, required, ttl, **oidc),
                     ValueError, RuntimeError)
    if isinstance(result, str):
        manifest = json.loads(result)["manifest"]
        assert (manifest["display_name"], manifest["offered_capabilities"]) == (name, offered)
        assert manifest.get("required_peer_capabilities", []) == required
        assert manifest["expires_at"] - manifest["published_at"] == ttl
        if ttl >= 0:
            assert vesk.verify_manifest_json(result, manifest["published_at"]) is None


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
    "list": ["read", {"read"}, 5, [1], ["a", None], {"a": 1}],
    "set": [["a"], ("a",), {1}, "a", frozenset({None})],
    "store": [object(), 1, "store"],
}
# (name, call taking the full keyword arguments, valid keyword arguments, kinds of the parameters)
TOKEN = ARTEFACTS["tct-eddsa"][0]
SIGNATURES = [
    ("generate", vesk.VeskAgent.generate, {"suite": "ed25519"}, {"suite": "text"}),
    ("from_seed", vesk.VeskAgent.from_seed, {"seed": bytes([7]) * 32, "suite": "p256"}, {"seed": "bytes", "suite": "text"}),
    ("compute_aid_jkt", vesk.compute_aid_jkt, {"aid": BOB.aid}, {"aid": "text"}),
    ("verify_manifest_json", vesk.verify_manifest_json,
     {"manifest_envelope_json": ARTEFACTS["manifest-eddsa"][0], "now_unix_secs": None},
     {"manifest_envelope_json": "text", "now_unix_secs": "int"}),
    ("TctStore", vesk.TctStore, {"max_entries": 4}, {"max_entries": "int"}),
    ("build_manifest", BOB.agent.build_manifest,
     {"display_name": "d", "handshake_endpoint": ENDPOINT, "offered_caps": ["a"], "required_caps": None,
      "ttl_secs": None, "identity_type": "pinned_key", "oidc_issuer": None, "oidc_subject": None,
      "accepted_trust_anchors": None},
     {"display_name": "text", "handshake_endpoint": "text", "offered_caps": "list", "required_caps": "list",
      "ttl_secs": "int", "identity_type": "text", "oidc_issuer": "text", "oidc_subject": "text",
      "accepted_trust_anchors": "list"}),
    ("verify_tct", BOB.agent.verify_tct,
     {"tct_token": TOKEN, "required_grant": "read", "expected_audience": None, "revoked_jtis": None},
     {"tct_token": "text", "required_grant": "text", "expected_audience": "text", "revoked_jtis": "set"}),
    ("verify_tct_cached", BOB.agent.verify_tct_cached,
     {"tct_token": TOKEN, "required_grant": "read", "store": STORE, "expected_audience": None, "revoked_jtis": None},
     {"tct_token": "text", "required_grant": "text", "store": "store", "expected_audience": "text",
      "revoked_jtis": "set"}),
    ("build_renewal_request", BOB.agent.build_renewal_request, {"current_tct_envelope_json": TOKEN},
     {"current_tct_envelope_json": "text"}),
    ("process_renewal_request", ALICE.agent.process_renewal_request,
     {"request_payload_json": ARTEFACTS["renewal-request"][0], "manifest_exp_unix_secs": FAR_FUTURE,
      "new_ttl_secs": 60},
     {"request_payload_json": "text", "manifest_exp_unix_secs": "int", "new_ttl_secs": "int"}),
]


@pytest.mark.parametrize("name,call,valid,kinds", SIGNATURES, ids=[s[0] for s in SIGNATURES])
def test_wrong_argument_types_raise_type_error_naming_the_parameter(name, call, valid, kinds):
    assert not isinstance(outcome(lambda: call(**valid)), Exception)

    @given(st.sampled_from(sorted(kinds)), st.data())
    def run(parameter, data):
        wrong = list(WRONG[kinds[parameter]])
        if parameter not in OPTIONAL:  # None stands for an omitted argument only where optional
            wrong.append(None)
        value = data.draw(st.sampled_from(wrong))
        error = outcome(lambda: call(**{**valid, parameter: value}), TypeError)
        assert isinstance(error, TypeError), f"{name}({parameter}={value!r}) returned {error!r}"
        assert f"while processing '{parameter}'" in getattr(error, "__notes__", [""])[0]

    run()
    still_works()


OPTIONAL = {"required_caps", "ttl_secs", "oidc_issuer", "oidc_subject", "accepted_trust_anchors",
            "expected_audience", "revoked_jtis", "now_unix_secs"}
INTEGERS = [(name, call, valid, parameter) for name, call, valid, kinds in SIGNATURES
            for parameter, kind in kinds.items() if kind == "int"]


@pytest.mark.parametrize("name,call,valid,parameter", INTEGERS, ids=[f"{i[0]}-{i[3]}" for i in INTEGERS])
def test_integers_overflow_exactly_outside_their_range(name, call, valid, parameter):
    low, high = U64 if parameter == "max_entries" else I64

    @given(st.integers(-(2**70), 2**70) | st.sampled_from([low - 1, low, high, high + 1]))
    def run(value):
        result = outcome(lambda: call(**{**valid, parameter: value}), ValueError, RuntimeError,
                         vesk.ManifestVerificationError, OverflowError)
        assert (type(result) is OverflowError) == (not low <= value <= high), value

    run()


def test_list_arguments_are_read_by_iteration_not_by_claimed_length():
    text = BOB.agent.build_manifest("d", ENDPOINT, LyingSequence())
    assert json.loads(text)["manifest"]["offered_capabilities"] == ["read", "read"]
    assert vesk.TctStore(2**64 - 1).len() == 0
    still_works()


def test_new_objects_after_the_storm():
    for suite in ("ed25519", "p256"):
        agent = vesk.VeskAgent.generate(suite)
        oidc = {"identity_type": "oidc", "oidc_issuer": "https://i.example", "oidc_subject": "s"}
        vesk.verify_manifest_json(agent.build_manifest("n", ENDPOINT, ["a"], **(oidc if suite == "p256" else {})))
    party = Party(77)
    assert BOB.agent.verify_tct(party.tct(BOB), "read").peer_aid == party.aid
    still_works()
