"""Session trust bundles: the fluent builder, and verification with the revocation callback.
Participant TCTs are minted with PyJWT and bundles signed or checked with `cryptography`."""

import json
import re
import uuid

import pytest

import vesk
from parties import Signer

NOW = 1_800_000_000
SESSION = "7d444840-9dc0-11d1-b245-5ffdce74fad2"
COORDINATOR, P256_COORDINATOR = Signer(1), Signer(2, "p256")
ALICE, BOB, CAROL, STRANGER = Signer(3), Signer(4, "p256"), Signer(5), Signer(6)
EVERYONE = [ALICE.aid, BOB.aid, CAROL.aid]


def jti(n: int) -> str:
    return str(uuid.UUID(int=n, version=4))


def tct(coordinator, holder, iat, exp, n=None, **overrides):
    return coordinator.tct(holder, iat=iat, exp=exp, jti=jti(n) if n else str(uuid.uuid4()), **overrides)


def members(coordinator=COORDINATOR, bob_tct=None):
    """Alice, Bob and Carol, whose TCTs expire at NOW + 110, + 100 and + 120."""
    return [(ALICE.aid, tct(coordinator, ALICE, NOW - 10, NOW + 110, 1)),
            (BOB.aid, bob_tct or tct(coordinator, BOB, NOW - 10, NOW + 100, 2)),
            (CAROL.aid, tct(coordinator, CAROL, NOW - 10, NOW + 120, 3))]


def build(coordinator=COORDINATOR, participants=None):
    builder = vesk.SessionBundleBuilder(coordinator.agent).session_id(SESSION).issued_at(NOW - 5)
    for aid, token in members(coordinator) if participants is None else participants:
        builder.participant(aid, token)
    return builder.build()


def signed_by_hand(signer, participants, **overrides) -> str:
    """A bundle assembled and signed here, past the builder's checks."""
    bundle = {"version": "vesk/0.2", "session_id": SESSION, "coordinator": signer.aid,
              "issued_at": NOW - 5, "expires_at": NOW + 100,
              "participants": [{"aid": aid, "tct": token} for aid, token in participants],
              **overrides}
    return json.dumps({"session_bundle": dict(bundle, signature=signer.sign_body(bundle))})


def edited(envelope: str, **members) -> str:
    parsed = json.loads(envelope)
    parsed["session_bundle"].update(members)
    return json.dumps(parsed)


def refusal(envelope, verifier=ALICE.aid, now=NOW, revocation_check=None) -> str:
    with pytest.raises(RuntimeError) as raised:
        vesk.verify_session_bundle(envelope, verifier, now, revocation_check)
    prefix, _, reason = str(raised.value).partition(": ")
    assert prefix == "bundle verification failed"
    return reason


@pytest.mark.parametrize("coordinator", [COORDINATOR, P256_COORDINATOR], ids=["ed25519", "p256"])
def test_built_bundle_verifies_and_cross_checks(coordinator):
    participants = members(coordinator)
    envelope = build(coordinator, participants)
    assert not re.search(r"\s", envelope) and "extensions" not in envelope
    bundle = json.loads(envelope)["session_bundle"]
    signature = bundle.pop("signature")
    coordinator.check_body(bundle, signature)
    assert (bundle["coordinator"], bundle["expires_at"]) == (coordinator.aid, NOW + 100)
    result = vesk.verify_session_bundle(envelope, BOB.aid, NOW + 100)
    assert list(result.items()) == [("kind", "clear"), ("active_aids", EVERYONE), ("dropped_aids", [])]
    assert build(coordinator, participants) == envelope, "both signature schemes are deterministic"
    by_hand = signed_by_hand(coordinator, participants, extensions={"b": 1, "a": [{}]})
    assert vesk.verify_session_bundle(by_hand, CAROL.aid, NOW)["kind"] == "clear"


def raise_error(_):
    raise ValueError("callback failed")


def numpy_like(name, truth, module="numpy"):
    """A stand-in for a numpy scalar, known by its type's module and name."""
    def to_bool(_):
        if isinstance(truth, Exception):
            raise truth
        return truth
    return type(name, (), {"__module__": module, "__bool__": to_bool})()


@pytest.mark.parametrize("answer,revoked", [
    (lambda j: True, EVERYONE),
    (lambda j: j == jti(1), [ALICE.aid]),  # the verifier's own entry is dropped too
    (lambda j: 1, []),
    (raise_error, []),
    ("not callable", []),
    (lambda j: numpy_like("bool_", j == jti(2)), [BOB.aid]),
    (lambda j: numpy_like("bool", True), EVERYONE),
    (lambda j: numpy_like("bool_", ValueError("no truth value")), []),
    (lambda j: numpy_like("bool_", True, module="numpyish"), []),
    (lambda j: numpy_like("int64", True), []),
    (lambda j: vesk.verify_session_bundle(build(), ALICE.aid, NOW)["kind"] == "clear", EVERYONE),
], ids=["true", "verifier", "one", "raises", "not-callable", "numpy-bool_",
        "numpy-bool", "numpy-failing", "other-module", "numpy-int", "re-entered"])
def test_only_true_means_revoked(answer, revoked):
    calls = []

    def check(jti_text):
        calls.append(jti_text)
        return answer(jti_text)

    result = vesk.verify_session_bundle(build(), ALICE.aid, NOW, check if callable(answer) else answer)
    assert calls == ([jti(1), jti(2), jti(3)] if callable(answer) else [])
    assert result == {"kind": "degraded" if revoked else "clear",
                      "active_aids": [aid for aid in EVERYONE if aid not in revoked],
                      "dropped_aids": revoked}


def test_verification_failures_in_check_order():
    good = build()
    participants = members()
    long_alice = "aid:pubkey:ed25519:" + ALICE.aid[len("aid:pubkey:"):]
    with_bob = [(tct(COORDINATOR, CAROL, NOW - 10, NOW + 100),
                 "participant TCT audience does not match entry AID"),
                (tct(COORDINATOR, BOB, NOW - 10, NOW + 100, iss=STRANGER.aid),
                 "participant TCT issuer does not match coordinator"),
                (tct(COORDINATOR, BOB, NOW + 1, NOW + 100),
                 "participant TCT verification failed: TCT has expired or is not yet valid")]
    reordered = json.loads(good)["session_bundle"]["participants"][::-1]
    cases = [
        (edited(good, version="vesk/0.3"), ALICE.aid, NOW + 10**6, "bundle version mismatch"),
        (good, ALICE.aid, NOW + 101, "bundle has expired"),
        (edited(good, participants=[]), ALICE.aid, NOW + 101, "bundle has expired"),
        (edited(good, participants=[]), ALICE.aid, NOW, "participants array is empty"),
        (edited(good, expires_at=NOW + 99, signature="x"), ALICE.aid, NOW,
         "bundle expires_at does not equal min(participant TCT expiries)"),
        (good, COORDINATOR.aid, NOW, "verifier is not a member of this bundle"),
        (good, long_alice, NOW, "verifier is not a member of this bundle"),
        (edited(good, participants=reordered), ALICE.aid, NOW, "bundle signature is invalid"),
        (edited(good, signature="not a signature"), ALICE.aid, NOW, "bundle signature is invalid"),
        (signed_by_hand(STRANGER, participants, coordinator=COORDINATOR.aid), ALICE.aid, NOW,
         "bundle signature is invalid"),
    ] + [(signed_by_hand(COORDINATOR, members(bob_tct=tct)), ALICE.aid, NOW, message)
         for tct, message in with_bob]
    for envelope, verifier, now, message in cases:
        assert refusal(envelope, verifier, now) == message
    # A failing participant ends verification after the callbacks of those before it.
    calls = []
    bad = signed_by_hand(COORDINATOR, members(bob_tct=tct(STRANGER, BOB, NOW - 10, NOW + 100)))
    assert refusal(bad, revocation_check=calls.append).startswith("participant TCT verification failed: ")
    assert calls == [jti(1)]


@pytest.mark.parametrize("envelope,message", [
    ("{", "invalid bundle envelope JSON: EOF while parsing"),
    (None, "invalid verifier AID: "),
])
def test_unreadable_input_raises_value_error(envelope, message):
    with pytest.raises(ValueError, match="^" + re.escape(message)):
        vesk.verify_session_bundle(envelope or build(), "not an aid")


def test_builder_is_fluent_and_keeps_its_settings():
    agent = vesk.VeskAgent.from_seed(bytes([1]) * 32)
    builder = vesk.SessionBundleBuilder(agent)
    del agent  # the builder shares the key, not the agent
    assert builder.session_id("{%s}" % SESSION.upper()).issued_at(-5) is builder
    with pytest.raises(ValueError, match="^invalid uuid: "):
        builder.session_id("nope")
    (aid, token), *_ = members()
    assert builder.participant(aid, token) is builder
    with pytest.raises(ValueError, match="^invalid participant AID: "):
        builder.participant("aid:x", token)
    bundle = json.loads(builder.build())["session_bundle"]
    assert (bundle["session_id"], bundle["issued_at"]) == (SESSION, -5)
    assert [p["aid"] for p in bundle["participants"]] == [aid]
    fresh = vesk.SessionBundleBuilder(COORDINATOR.agent).participant(aid, token)
    ids = {json.loads(fresh.build())["session_bundle"]["session_id"] for _ in range(2)}
    assert len(ids) == 2 and all(uuid.UUID(i).version == 4 for i in ids)


@pytest.mark.parametrize("participants,message", [
    ([], "participants array is empty"),
    ([(ALICE.aid, tct(STRANGER, ALICE, NOW, NOW + 9)),
      (BOB.aid, tct(COORDINATOR, CAROL, NOW, NOW + 9))],
     "participant TCT issuer does not match coordinator"),
    ([("aid:pubkey:ed25519:" + ALICE.aid[11:], tct(COORDINATOR, ALICE, NOW, NOW + 9))],
     "participant TCT audience does not match entry AID"),
    ([(ALICE.aid, "x.y.z")], "canonicalization failed: participant tct: "),
])
def test_build_failures(participants, message):
    with pytest.raises(RuntimeError, match="^" + re.escape("bundle build failed: " + message)):
        build(participants=participants)
