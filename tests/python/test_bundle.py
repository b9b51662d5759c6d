"""Session trust bundles: the fluent builder and verification with the revocation callback.

Participant TCTs are minted independently with PyJWT over canonical claims from keys that the
module's agents share; bundle signatures are checked (or made) with `cryptography` over the
`rfc8785` bytes of the bundle without its signature.
"""

import hashlib
import json
import re
import uuid

import pytest

import vesk
from signers import Signer, canonical, compact

NOW = 1_800_000_000
SESSION = "7d444840-9dc0-11d1-b245-5ffdce74fad2"
COORDINATOR, P256_COORDINATOR = Signer(1), Signer(2, "p256")
ALICE, BOB, CAROL, STRANGER = Signer(3), Signer(4, "p256"), Signer(5), Signer(6)
EVERYONE = [ALICE.aid, BOB.aid, CAROL.aid]


def jti(n: int) -> str:
    return str(uuid.UUID(int=n, version=4))


def members(coordinator=COORDINATOR):
    """Three participants whose TCTs expire at NOW + 110, + 100 and + 120."""
    return [(p.aid, coordinator.tct(p, NOW - 10, NOW + exp, jti(i + 1)))
            for i, (p, exp) in enumerate([(ALICE, 110), (BOB, 100), (CAROL, 120)])]


def build(coordinator=COORDINATOR, participants=None):
    builder = vesk.SessionBundleBuilder(coordinator.agent).session_id(SESSION).issued_at(NOW - 5)
    for aid, token in members(coordinator) if participants is None else participants:
        builder.participant(aid, token)
    return builder.build()


def signed_by_hand(signer, participants, expires_at=NOW + 100, **overrides) -> str:
    """A bundle assembled and signed here, past the builder's checks."""
    bundle = {
        "version": "vesk/0.2",
        "session_id": SESSION,
        "coordinator": signer.aid,
        "issued_at": NOW - 5,
        "expires_at": expires_at,
        "participants": [{"aid": aid, "tct": token} for aid, token in participants],
    }
    bundle.update(overrides)
    bundle["signature"] = signer.sign_body(bundle)
    return compact({"session_bundle": bundle})


def edited(envelope: str, **members) -> str:
    """The envelope with members of its bundle replaced, signature kept."""
    parsed = json.loads(envelope)
    parsed["session_bundle"].update(members)
    return compact(parsed)


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
    assert list(bundle) == ["version", "session_id", "coordinator", "issued_at", "expires_at",
                            "participants", "signature"]
    assert (bundle["coordinator"], bundle["expires_at"]) == (coordinator.aid, NOW + 100)
    coordinator.check_digest(hashlib.sha256(canonical(
        {k: v for k, v in bundle.items() if k != "signature"})).digest(), bundle["signature"])
    result = vesk.verify_session_bundle(envelope, BOB.aid, NOW + 100)
    assert list(result) == ["kind", "active_aids", "dropped_aids"]
    assert result == {"kind": "clear", "active_aids": EVERYONE, "dropped_aids": []}
    assert build(coordinator, participants) == envelope, "both signature schemes are deterministic"
    # A bundle signed elsewhere, with extensions, verifies too.
    by_hand = signed_by_hand(coordinator, participants, extensions={"b": 1, "a": [{}]})
    assert vesk.verify_session_bundle(by_hand, CAROL.aid, NOW)["kind"] == "clear"


def raise_error(_):
    raise ValueError("callback failed")


@pytest.mark.parametrize(
    "answer,revoked",
    [
        (lambda j: True, EVERYONE),
        (lambda j: j == jti(1), [ALICE.aid]),  # the verifier's own entry is dropped too
        (lambda j: False, []),
        (lambda j: 1, []),
        (lambda j: "yes", []),
        (lambda j: [True], []),
        (raise_error, []),
    ],
    ids=["true", "verifier", "false", "one", "string", "list", "raises"],
)
def test_only_true_means_revoked(answer, revoked):
    calls = []

    def check(jti_text):
        calls.append(jti_text)
        return answer(jti_text)

    result = vesk.verify_session_bundle(build(), ALICE.aid, NOW, check)
    assert calls == [jti(1), jti(2), jti(3)]
    assert result == {
        "kind": "degraded" if revoked else "clear",
        "active_aids": [aid for aid in EVERYONE if aid not in revoked],
        "dropped_aids": revoked,
    }


def test_callback_oddities():
    envelope = build()
    assert vesk.verify_session_bundle(envelope, ALICE.aid, NOW, "not callable")["kind"] == "clear"
    numpy = pytest.importorskip("numpy")
    only_bob = lambda j: numpy.bool_(j == jti(2))  # noqa: E731
    result = vesk.verify_session_bundle(envelope, ALICE.aid, NOW, only_bob)
    assert result["dropped_aids"] == [BOB.aid]


def test_failing_participant_stops_the_callbacks():
    participants = members()
    participants[1] = (BOB.aid, STRANGER.tct(BOB, NOW - 10, NOW + 100))
    calls = []
    message = refusal(signed_by_hand(COORDINATOR, participants), revocation_check=calls.append)
    assert message.startswith("participant TCT verification failed: ")
    assert calls == [jti(1)]


def test_verification_failures_in_check_order():
    good = build()
    entries = json.loads(good)["session_bundle"]["participants"]
    participants = [(p["aid"], p["tct"]) for p in entries]
    long_alice = "aid:pubkey:ed25519:" + ALICE.aid[len("aid:pubkey:"):]

    def second(token):
        return signed_by_hand(COORDINATOR, [participants[0], (BOB.aid, token), participants[2]])

    cases = [
        (edited(good, version="vesk/0.3"), ALICE.aid, NOW + 10**6, "bundle version mismatch"),
        (good, ALICE.aid, NOW + 101, "bundle has expired"),
        (edited(good, participants=[]), ALICE.aid, NOW + 101, "bundle has expired"),
        (edited(good, participants=[]), ALICE.aid, NOW, "participants array is empty"),
        (edited(good, expires_at=NOW + 99, signature="x"), ALICE.aid, NOW,
         "bundle expires_at does not equal min(participant TCT expiries)"),
        (good, COORDINATOR.aid, NOW, "verifier is not a member of this bundle"),
        (good, long_alice, NOW, "verifier is not a member of this bundle"),
        (edited(good, participants=[participants[1], participants[0], participants[2]]),
         ALICE.aid, NOW, "bundle signature is invalid"),
        (edited(good, signature="not a signature"), ALICE.aid, NOW, "bundle signature is invalid"),
        (signed_by_hand(STRANGER, participants, coordinator=COORDINATOR.aid), ALICE.aid, NOW,
         "bundle signature is invalid"),
        (second(COORDINATOR.tct(CAROL, NOW - 10, NOW + 100)), ALICE.aid, NOW,
         "participant TCT audience does not match entry AID"),
        (second(COORDINATOR.tct(BOB, NOW - 10, NOW + 100, iss=STRANGER.aid)), ALICE.aid, NOW,
         "participant TCT issuer does not match coordinator"),
        (second(COORDINATOR.tct(BOB, NOW + 1, NOW + 100)), ALICE.aid, NOW,
         "participant TCT verification failed: TCT has expired or is not yet valid"),
    ]
    for envelope, verifier, now, message in cases:
        assert refusal(envelope, verifier, now) == message
    assert vesk.verify_session_bundle(good, ALICE.aid, NOW + 100)["kind"] == "clear"


@pytest.mark.parametrize(
    "envelope,message",
    [
        ("{", "invalid bundle envelope JSON: EOF while parsing"),
        ('{"session_bundle":{"note":1}}', "invalid bundle envelope JSON: unknown field `note`"),
        ('{"session_bundle":["v","nope"]}', "invalid bundle envelope JSON: UUID parsing failed: "),
        (None, "invalid verifier AID: "),
    ],
)
def test_unreadable_input_raises_value_error(envelope, message):
    # An unreadable envelope is reported before an unreadable verifier AID.
    with pytest.raises(ValueError, match="^" + re.escape(message)):
        vesk.verify_session_bundle(envelope or build(), "not an aid")


def test_builder_is_fluent_and_keeps_its_settings():
    agent = vesk.VeskAgent.from_seed(bytes([1]) * 32)
    builder = vesk.SessionBundleBuilder(agent)
    del agent  # the builder holds the key itself
    assert builder.session_id("{%s}" % SESSION.upper()) is builder
    assert builder.issued_at(-5) is builder
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
    first, second = (json.loads(fresh.build())["session_bundle"] for _ in range(2))
    assert first["session_id"] != second["session_id"]
    assert uuid.UUID(first["session_id"]).version == 4


def test_build_failures():
    cases = [
        ([], "participants array is empty"),
        ([(ALICE.aid, STRANGER.tct(ALICE, NOW, NOW + 9)),
          (BOB.aid, COORDINATOR.tct(CAROL, NOW, NOW + 9))],
         "participant TCT issuer does not match coordinator"),
        ([("aid:pubkey:ed25519:" + ALICE.aid[11:], COORDINATOR.tct(ALICE, NOW, NOW + 9))],
         "participant TCT audience does not match entry AID"),
        ([(ALICE.aid, "x.y.z")], "canonicalization failed: participant tct: "),
        ([(ALICE.aid, COORDINATOR.tct(ALICE, NOW, NOW + 9, extra=1))], "unknown field: extra"),
    ]
    for participants, message in cases:
        with pytest.raises(RuntimeError) as raised:
            build(participants=participants)
        assert str(raised.value).startswith("bundle build failed: " + message)
    # An expired TCT is accepted by the builder; the verifier then refuses the bundle.
    envelope = build(participants=[(ALICE.aid, COORDINATOR.tct(ALICE, NOW - 100, NOW - 50))])
    assert refusal(envelope) == "bundle has expired"


def test_argument_kinds():
    with pytest.raises(TypeError):
        vesk.SessionBundleBuilder("not an agent")
    with pytest.raises(TypeError):
        vesk.SessionBundleBuilder(ALICE.agent).participant(ALICE.aid, None)
    assert vesk.verify_session_bundle.__text_signature__ == (
        "(bundle_envelope_json, verifier_aid, now_unix_secs=None, revocation_check=None)"
    )
