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
from signers import Signer, b64u, canonical, compact

NOW = 1_800_000_000
SESSION = "7d444840-9dc0-11d1-b245-5ffdce74fad2"

COORDINATOR = Signer(1)
P256_COORDINATOR = Signer(2, "p256")
ALICE = Signer(3)
BOB = Signer(4, "p256")
CAROL = Signer(5)
STRANGER = Signer(6)


def jti(n: int) -> str:
    return str(uuid.UUID(int=n, version=4))


def members(coordinator=COORDINATOR, exp=NOW + 100):
    """Three participants whose TCTs expire at exp, exp + 10 and exp + 20."""
    return [
        (ALICE.aid, coordinator.tct(ALICE, NOW - 10, exp, jti(1))),
        (BOB.aid, coordinator.tct(BOB, NOW - 10, exp + 10, jti(2))),
        (CAROL.aid, coordinator.tct(CAROL, NOW - 10, exp + 20, jti(3))),
    ]


def build(coordinator=COORDINATOR, participants=None, session_id=SESSION, issued_at=NOW - 5):
    builder = vesk.SessionBundleBuilder(coordinator.agent)
    if session_id is not None:
        builder.session_id(session_id)
    if issued_at is not None:
        builder.issued_at(issued_at)
    for aid, token in members(coordinator) if participants is None else participants:
        builder.participant(aid, token)
    return builder.build()


def signed_by_hand(signer, participants, expires_at, **overrides) -> str:
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


def verify(envelope, verifier=ALICE.aid, now=NOW, revocation_check=None):
    return vesk.verify_session_bundle(envelope, verifier, now, revocation_check)


def refusal(envelope, verifier=ALICE.aid, now=NOW, revocation_check=None) -> str:
    with pytest.raises(RuntimeError) as raised:
        verify(envelope, verifier, now, revocation_check)
    message = str(raised.value)
    assert message.startswith("bundle verification failed: ")
    return message[len("bundle verification failed: "):]


def edited(envelope: str, edit) -> str:
    """The envelope with its bundle changed by `edit`, signature kept."""
    parsed = json.loads(envelope)
    edit(parsed["session_bundle"])
    return compact(parsed)


@pytest.mark.parametrize("coordinator", [COORDINATOR, P256_COORDINATOR], ids=["ed25519", "p256"])
def test_built_bundle_verifies_and_cross_checks(coordinator):
    participants = members(coordinator)
    envelope = build(coordinator, participants)
    assert not re.search(r"\s", envelope)
    bundle = json.loads(envelope)["session_bundle"]
    assert list(bundle) == [
        "version", "session_id", "coordinator", "issued_at", "expires_at", "participants",
        "signature",
    ]
    assert bundle["coordinator"] == coordinator.aid
    assert bundle["expires_at"] == NOW + 100
    assert [list(p) for p in bundle["participants"]] == [["aid", "tct"]] * 3
    signature = bundle.pop("signature")
    coordinator.check_digest(hashlib.sha256(canonical(bundle)).digest(), signature)

    result = verify(envelope, BOB.aid)
    assert list(result) == ["kind", "active_aids", "dropped_aids"]
    assert result == {
        "kind": "clear",
        "active_aids": [ALICE.aid, BOB.aid, CAROL.aid],
        "dropped_aids": [],
    }
    # Deterministic signatures: the same settings give the same text.
    assert build(coordinator, participants) == envelope


def test_independently_signed_bundle_verifies():
    participants = members()
    envelope = signed_by_hand(COORDINATOR, participants, NOW + 100, extensions={"b": 1, "a": [{}]})
    assert verify(envelope)["kind"] == "clear"


def test_expiry_boundary():
    envelope = build()
    assert verify(envelope, now=NOW + 100)["kind"] == "clear"
    assert refusal(envelope, now=NOW + 101) == "bundle has expired"


def callback(answer):
    calls = []

    def check(jti_text):
        calls.append(jti_text)
        return answer(jti_text)

    return check, calls


def raise_error(_):
    raise ValueError("callback failed")


@pytest.mark.parametrize(
    "answer,kind",
    [
        (lambda _: True, "degraded"),
        (lambda _: False, "clear"),
        (lambda _: None, "clear"),
        (lambda _: 1, "clear"),
        (lambda _: "yes", "clear"),
        (lambda _: [True], "clear"),
        (raise_error, "clear"),
    ],
    ids=["true", "false", "none", "one", "string", "list", "raises"],
)
def test_only_true_means_revoked(answer, kind):
    check, calls = callback(answer)
    result = verify(build(), revocation_check=check)
    assert calls == [jti(1), jti(2), jti(3)]
    everyone = [ALICE.aid, BOB.aid, CAROL.aid]
    if kind == "clear":
        assert result == {"kind": "clear", "active_aids": everyone, "dropped_aids": []}
    else:
        assert result == {"kind": "degraded", "active_aids": [], "dropped_aids": everyone}


def test_numpy_booleans_count_as_booleans():
    numpy = pytest.importorskip("numpy")
    result = verify(build(), revocation_check=lambda j: numpy.bool_(j == jti(2)))
    assert result["dropped_aids"] == [BOB.aid]


def test_revocation_callback_edge_cases():
    envelope = build()
    # Not callable: calling it fails, which counts as not revoked.
    assert verify(envelope, revocation_check="not callable")["kind"] == "clear"
    # The verifier's own revoked entry is dropped; membership does not depend on revocation.
    result = verify(envelope, ALICE.aid, revocation_check=lambda j: j in (jti(1), jti(3)))
    assert result == {"kind": "degraded", "active_aids": [BOB.aid],
                      "dropped_aids": [ALICE.aid, CAROL.aid]}
    # A repeated member appears once per entry.
    twice = members() + [(ALICE.aid, COORDINATOR.tct(ALICE, NOW - 10, NOW + 500, jti(4)))]
    result = verify(build(participants=twice), revocation_check=lambda j: j == jti(4))
    assert result["active_aids"] == [ALICE.aid, BOB.aid, CAROL.aid]
    assert result["dropped_aids"] == [ALICE.aid]


def test_failing_participant_stops_the_callbacks():
    participants = members()
    participants[1] = (BOB.aid, STRANGER.tct(BOB, NOW - 10, NOW + 110))
    envelope = signed_by_hand(COORDINATOR, participants, NOW + 100)
    check, calls = callback(lambda _: False)
    message = refusal(envelope, revocation_check=check)
    assert message.startswith("participant TCT verification failed: ")
    assert calls == [jti(1)]


def test_verification_failures_in_check_order():
    good = build()
    long_alice = "aid:pubkey:ed25519:" + ALICE.aid[len("aid:pubkey:"):]

    def swap_first_two(b):
        b["participants"][:2] = b["participants"][1::-1]

    cases = [
        (edited(good, lambda b: b.update(version="vesk/0.3")), ALICE.aid, NOW + 10**6,
         "bundle version mismatch"),
        (edited(good, lambda b: b.update(participants=[])), ALICE.aid, NOW + 101,
         "bundle has expired"),
        (edited(good, lambda b: b.update(participants=[])), ALICE.aid, NOW,
         "participants array is empty"),
        (edited(good, lambda b: b.update(expires_at=NOW + 99, signature="x")), ALICE.aid, NOW,
         "bundle expires_at does not equal min(participant TCT expiries)"),
        (good, COORDINATOR.aid, NOW, "verifier is not a member of this bundle"),
        (good, long_alice, NOW, "verifier is not a member of this bundle"),
        (edited(good, swap_first_two), ALICE.aid, NOW, "bundle signature is invalid"),
        (edited(good, lambda b: b.update(signature="not a signature")), ALICE.aid, NOW,
         "bundle signature is invalid"),
        (edited(good, lambda b: b.update(issued_at=NOW)), ALICE.aid, NOW,
         "bundle signature is invalid"),
        (signed_by_hand(STRANGER, members(), NOW + 100, coordinator=COORDINATOR.aid), ALICE.aid,
         NOW, "bundle signature is invalid"),
    ]
    for envelope, verifier, now, message in cases:
        assert refusal(envelope, verifier, now) == message


def test_participant_tokens_must_come_from_the_coordinator_for_the_member():
    def with_second(token):
        participants = members()
        participants[1] = (BOB.aid, token)
        return signed_by_hand(COORDINATOR, participants, NOW + 100)

    assert refusal(with_second(COORDINATOR.tct(CAROL, NOW - 10, NOW + 110))) == (
        "participant TCT audience does not match entry AID"
    )
    assert refusal(with_second(COORDINATOR.tct(BOB, NOW - 10, NOW + 110, iss=STRANGER.aid))) == (
        "participant TCT issuer does not match coordinator"
    )
    assert refusal(with_second(COORDINATOR.tct(BOB, NOW + 1, NOW + 110))) == (
        "participant TCT verification failed: TCT has expired or is not yet valid"
    )
    assert refusal(with_second("a.b")) == (
        "canonicalization failed: participant tct: compact JWS malformed: "
        "expected exactly three non-empty segments"
    )


def test_unreadable_input_raises_value_error():
    good = build()
    cases = [
        ("{", "invalid bundle envelope JSON: "),
        (good + "x", "invalid bundle envelope JSON: trailing characters"),
        (edited(good, lambda b: b.update(note=1)),
         "invalid bundle envelope JSON: unknown field `note`"),
        (edited(good, lambda b: b.update(session_id="nope")),
         "invalid bundle envelope JSON: UUID parsing failed: "),
        (edited(good, lambda b: b.update(coordinator="aid:x")), "invalid bundle envelope JSON: "),
    ]
    for envelope, prefix in cases:
        with pytest.raises(ValueError) as raised:
            verify(envelope, "not an aid")
        assert str(raised.value).startswith(prefix)
        assert " at line " in str(raised.value)
    with pytest.raises(ValueError, match="^invalid verifier AID: "):
        verify(good, "not an aid")


def test_builder_is_fluent_and_keeps_its_settings():
    builder = vesk.SessionBundleBuilder(COORDINATOR.agent)
    assert builder.session_id(SESSION.upper()) is builder
    assert builder.issued_at(-5) is builder
    with pytest.raises(ValueError, match="^invalid uuid: "):
        builder.session_id("nope")
    (aid, token), *_ = members()
    assert builder.participant(aid, token) is builder
    with pytest.raises(ValueError, match="^invalid participant AID: "):
        builder.participant("aid:x", token)
    first = builder.build()
    bundle = json.loads(first)["session_bundle"]
    assert bundle["session_id"] == SESSION, "a failed session_id() keeps the earlier value"
    assert bundle["issued_at"] == -5
    assert [p["aid"] for p in bundle["participants"]] == [aid], "a failed participant() adds none"
    assert builder.build() == first

    braced = vesk.SessionBundleBuilder(COORDINATOR.agent).session_id("{%s}" % SESSION.upper())
    version1 = vesk.SessionBundleBuilder(COORDINATOR.agent).session_id(
        "urn:uuid:7d444840-9dc0-11d1-b245-5ffdce74fad2")
    for b in (braced, version1):
        bundle = json.loads(b.participant(aid, token).build())["session_bundle"]
        assert bundle["session_id"] == SESSION


def test_builder_draws_fresh_identifiers_and_outlives_its_agent():
    agent = vesk.VeskAgent.from_seed(bytes([1]) * 32)
    builder = vesk.SessionBundleBuilder(agent)
    del agent
    for aid, token in members():
        builder.participant(aid, token)
    first, second = (json.loads(builder.build())["session_bundle"] for _ in range(2))
    assert first["session_id"] != second["session_id"]
    assert uuid.UUID(first["session_id"]).version == 4
    assert verify(compact({"session_bundle": first}))["kind"] == "clear"


def test_build_failures():
    expired = COORDINATOR.tct(ALICE, NOW - 100, NOW - 50)
    cases = [
        ([], "participants array is empty"),
        ([(ALICE.aid, STRANGER.tct(ALICE, NOW, NOW + 9)),
          (BOB.aid, COORDINATOR.tct(CAROL, NOW, NOW + 9))],
         "participant TCT issuer does not match coordinator"),
        ([(ALICE.aid, COORDINATOR.tct(ALICE, NOW, NOW + 9)),
          (BOB.aid, COORDINATOR.tct(CAROL, NOW, NOW + 9))],
         "participant TCT audience does not match entry AID"),
        ([("aid:pubkey:ed25519:" + ALICE.aid[11:], COORDINATOR.tct(ALICE, NOW, NOW + 9))],
         "participant TCT audience does not match entry AID"),
        ([(ALICE.aid, "x.y.z")], "canonicalization failed: participant tct: "),
        ([(ALICE.aid, COORDINATOR.tct(ALICE, NOW, NOW + 9, extra=1))], "unknown field: extra"),
    ]
    for participants, message in cases:
        with pytest.raises(RuntimeError) as raised:
            build(participants=participants)
        assert str(raised.value).startswith("bundle build failed: " + message)
    # An expired TCT is accepted; the verifier then refuses the bundle.
    envelope = build(participants=[(ALICE.aid, expired)])
    assert json.loads(envelope)["session_bundle"]["expires_at"] == NOW - 50
    assert refusal(envelope) == "bundle has expired"


def test_argument_kinds_and_signatures():
    with pytest.raises(TypeError):
        vesk.SessionBundleBuilder("not an agent")
    builder = vesk.SessionBundleBuilder(COORDINATOR.agent)
    with pytest.raises(TypeError):
        builder.participant(ALICE.aid, None)
    with pytest.raises(OverflowError):
        builder.issued_at(2**63)
    assert vesk.SessionBundleBuilder.__text_signature__ == "(coordinator)"
    assert vesk.SessionBundleBuilder.participant.__text_signature__ == "($self, aid, tct_token)"
    assert vesk.verify_session_bundle.__text_signature__ == (
        "(bundle_envelope_json, verifier_aid, now_unix_secs=None, revocation_check=None)"
    )
    assert "exception" in vesk.verify_session_bundle.__doc__
