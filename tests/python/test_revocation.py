"""Revocation snapshots: signing, verification with stable codes, and the signed bytes.

Snapshots are cross-checked independently: the signed bytes are rebuilt with `rfc8785` and the
signatures checked (or made) with `cryptography` from the same seed as the agent.
"""

import hashlib
import json
import time

import pytest
import rfc8785

import vesk
from signers import Signer, b64u

JTI = "0b6f0e6c-3c2a-4d7e-9b1a-5f0c2d3e4f50"
NOW = 1_800_000_000


def signed_envelope(signer: Signer, body: dict) -> str:
    """A snapshot signed here, independently of the module."""
    return json.dumps({"revocation_list": body, "signature": signer.sign_body(body)})


ED = Signer(1, "ed25519")
P256 = Signer(2, "p256")
OTHER = Signer(3, "ed25519")
SUITES = pytest.mark.parametrize("signer", [ED, P256], ids=["ed25519", "p256"])


def body(issuer: str, **overrides) -> dict:
    b = {
        "version": "vesk/0.2",
        "issuer": issuer,
        "published_at": NOW - 60,
        "expires_at": NOW + 60,
        "entries": [{"jti": JTI, "revoked_at": NOW - 100, "reason": "key lost"}],
    }
    b.update(overrides)
    return b


def failure(envelope: str, issuer: str, now: int = NOW):
    with pytest.raises(vesk.RevocationVerificationError) as raised:
        vesk.verify_revocation_list(envelope, issuer, now)
    return raised.value


@SUITES
def test_signed_snapshot_round_trips_and_cross_checks(signer):
    entries = [
        {"jti": JTI.upper(), "revoked_at": 5, "reason": ""},
        {"jti": "{" + JTI + "}", "ignored": object()},
        {"jti": "urn:uuid:" + JTI, "revoked_at": None, "reason": None},
    ]
    before = int(time.time())
    envelope = signer.agent.sign_revocation_list(entries, 120)
    after = int(time.time())
    assert " " not in envelope
    parsed = json.loads(envelope)
    assert list(parsed) == ["revocation_list", "signature"]
    snapshot = parsed["revocation_list"]
    assert list(snapshot) == ["version", "issuer", "published_at", "expires_at", "entries"]
    assert snapshot["version"] == "vesk/0.2"
    assert snapshot["issuer"] == signer.agent.aid
    published = snapshot["published_at"]
    assert before <= published <= after
    assert snapshot["expires_at"] == published + 120
    assert snapshot["entries"] == [
        {"jti": JTI, "revoked_at": 5, "reason": ""},
        {"jti": JTI, "revoked_at": published},
        {"jti": JTI, "revoked_at": published},
    ]

    signed = vesk.revocation_signing_bytes(envelope)
    assert signed == rfc8785.dumps(snapshot)
    signer.check_digest(hashlib.sha256(signed).digest(), parsed["signature"])
    assert vesk.verify_revocation_list(envelope, signer.agent.aid) is None
    # Other whitespace and member order still verify: the verifier recomputes the bytes.
    reversed_body = dict(reversed(list(snapshot.items())))
    reordered = json.dumps({"signature": parsed["signature"], "revocation_list": reversed_body},
                           indent=2)
    assert vesk.verify_revocation_list(reordered, signer.agent.aid, published) is None


@SUITES
def test_independently_signed_snapshot_verifies(signer):
    extensions = {"b": [1, {"y": 2, "x": None}], "a": "é/"}
    envelope = signed_envelope(signer, body(signer.agent.aid, entries=[], extensions=extensions))
    assert vesk.verify_revocation_list(envelope, signer.agent.aid, NOW) is None


def test_defaults_and_unusual_lifetimes():
    envelope = json.loads(ED.agent.sign_revocation_list([]))["revocation_list"]
    assert envelope["entries"] == []
    assert envelope["expires_at"] - envelope["published_at"] == 3600
    for expires_in, verifies in [(0, True), (-1, False)]:
        text = ED.agent.sign_revocation_list([], expires_in_secs=expires_in)
        snapshot = json.loads(text)["revocation_list"]
        assert snapshot["expires_at"] == snapshot["published_at"] + expires_in
        now = snapshot["published_at"]
        if verifies:
            vesk.verify_revocation_list(text, ED.agent.aid, now)
        else:
            assert failure(text, ED.agent.aid, now).code == "expired"
    # A lifetime past the end of time saturates instead of wrapping round.
    far = json.loads(ED.agent.sign_revocation_list([], 2**63 - 1))["revocation_list"]
    assert far["expires_at"] == 2**63 - 1


class RaisingKey:
    """A dict key that collides with "jti" and fails every comparison."""

    def __hash__(self):
        return hash("jti")

    def __eq__(self, other):
        raise KeyError("comparison failed")


@pytest.mark.parametrize(
    "entry,message",
    [
        ("not a dict", "entries[1] must be a dict with at least a 'jti' key"),
        ({"revoked_at": 1}, "entries[1].jti is required"),
        ({"jti": None}, "entries[1].jti must be a string"),
        ({"jti": 7}, "entries[1].jti must be a string"),
        ({"jti": "nope"}, "entries[1].jti is not a valid UUID: "),
        ({"jti": JTI, "revoked_at": "1"}, "entries[1].revoked_at must be an int (unix seconds)"),
        ({"jti": JTI, "revoked_at": 2**63}, "entries[1].revoked_at must be an int (unix seconds)"),
        ({"jti": JTI, "revoked_at": 1.0}, "entries[1].revoked_at must be an int (unix seconds)"),
        ({"jti": JTI, "reason": b"x"}, "entries[1].reason must be a string"),
        # Checked in order: a bad jti is reported before a bad revoked_at.
        ({"jti": 1, "revoked_at": "x", "reason": 1}, "entries[1].jti must be a string"),
    ],
)
def test_malformed_entries_name_their_position(entry, message):
    with pytest.raises(ValueError) as raised:
        ED.agent.sign_revocation_list([{"jti": JTI}, entry])
    assert str(raised.value).startswith(message)


def test_entry_argument_kinds():
    with pytest.raises(KeyError, match="comparison failed"):
        ED.agent.sign_revocation_list([{RaisingKey(): 1}])
    for not_a_list in [({"jti": JTI},), {"jti": JTI}, None]:
        with pytest.raises(TypeError):
            ED.agent.sign_revocation_list(not_a_list)

    class Entries(list):
        pass

    class Entry(dict):
        pass

    text = ED.agent.sign_revocation_list(Entries([Entry(jti=JTI)]), expires_in_secs=None)
    assert json.loads(text)["revocation_list"]["entries"][0]["jti"] == JTI


@SUITES
def test_verification_failures_carry_codes_in_check_order(signer):
    aid = signer.agent.aid
    other = OTHER.agent.aid
    good = signed_envelope(signer, body(aid))
    parsed = json.loads(good)
    tampered = dict(parsed, revocation_list=dict(parsed["revocation_list"], published_at=NOW))
    cases = [
        (signed_envelope(signer, body(aid, version="vesk/0.2\x00")), aid, NOW + 10**6,
         "version_unknown", "TCT version is not supported"),
        (signed_envelope(signer, body(aid, version="vesk/0.")), aid, NOW, "version_unknown",
         "TCT version is not supported"),
        (good, aid, NOW + 61, "expired", "TCT has expired or is not yet valid"),
        (json.dumps(dict(parsed, signature="bad")), aid, NOW + 61, "expired",
         "TCT has expired or is not yet valid"),
        (json.dumps(dict(parsed, signature="bad")), other, NOW, "issuer_mismatch",
         "TCT issuer does not match the verifying key"),
        (json.dumps(dict(parsed, signature="bad=")), aid, NOW, "signature_invalid",
         "TCT signature is invalid"),
        (json.dumps(tampered), aid, NOW, "signature_invalid", "TCT signature is invalid"),
        (signed_envelope(OTHER, body(aid)), aid, NOW, "signature_invalid",
         "TCT signature is invalid"),
    ]
    for envelope, issuer, now, code, text in cases:
        error = failure(envelope, issuer, now)
        prefix = "revocation snapshot verification failed: "
        assert (error.code, str(error)) == (code, prefix + text)
    assert vesk.verify_revocation_list(good, aid, NOW + 60) is None


def test_issuer_forms_and_keys():
    short = ED.agent.aid
    long = "aid:pubkey:ed25519:" + short[len("aid:pubkey:"):]
    envelope = signed_envelope(ED, body(long))
    assert vesk.verify_revocation_list(envelope, long, NOW) is None
    assert failure(envelope, short).code == "issuer_mismatch"
    short_envelope = signed_envelope(ED, body(short))
    assert vesk.revocation_signing_bytes(envelope) != vesk.revocation_signing_bytes(short_envelope)

    not_a_point = "aid:pubkey:" + b64u(bytes([2]) + bytes(31))
    error = failure(signed_envelope(ED, body(not_a_point)), not_a_point)
    assert error.code == "malformed"
    assert str(error).startswith(
        "revocation snapshot verification failed: "
        "AID does not yield a valid Ed25519 public key: "
    )


@pytest.mark.parametrize(
    "text,fragment",
    [
        ("not json", "expected ident"),
        ('{"signature":"s","x":1}', "unknown field `x`"),
        ('{"signature":"s"}', "missing field `revocation_list`"),
        ('[{"version":"v","issuer":"x"}]', "AID"),
    ],
)
def test_unreadable_envelopes(text, fragment):
    error = failure(text, ED.agent.aid)
    assert error.code == "malformed"
    assert str(error).startswith("invalid revocation envelope JSON: ")
    assert fragment in str(error) and " at line " in str(error)
    with pytest.raises(ValueError) as raised:
        vesk.revocation_signing_bytes(text)
    assert type(raised.value) is ValueError
    assert str(raised.value) == str(error)
    # An unreadable envelope is reported before an unreadable expected issuer.
    assert failure(text, "not an aid").code == "malformed"


def test_expected_issuer_must_be_an_aid():
    with pytest.raises(ValueError) as raised:
        vesk.verify_revocation_list(signed_envelope(ED, body(ED.agent.aid)), "aid:nope")
    assert type(raised.value) is ValueError
    assert str(raised.value).startswith("invalid expected_issuer_aid: ")


def test_signing_bytes_follow_the_canonical_rules():
    envelope = json.dumps(
        [
            {
                "version": "anything",
                "issuer": ED.agent.aid,
                "published_at": 1,
                "expires_at": 2,
                "entries": [[JTI.replace("-", "").upper(), 9007199254740993]],
                "extensions": None,
            },
            "not checked",
        ]
    )
    assert vesk.revocation_signing_bytes(envelope) == (
        '{"entries":[{"jti":"%s","revoked_at":9007199254740992}],"expires_at":2,'
        '"issuer":"%s","published_at":1,"version":"anything"}' % (JTI, ED.agent.aid)
    ).encode()


def test_exception_class():
    assert issubclass(vesk.RevocationVerificationError, RuntimeError)
    assert vesk.RevocationVerificationError.__module__ == "vesk"
    for code in ["signature_invalid", "issuer_mismatch", "version_unknown", "expired", "malformed"]:
        assert code in vesk.RevocationVerificationError.__doc__
    assert (
        vesk.verify_revocation_list.__text_signature__
        == "(envelope_json, expected_issuer_aid, now_unix_secs=None)"
    )
    assert vesk.revocation_signing_bytes.__text_signature__ == "(envelope_json)"
    assert (
        vesk.VeskAgent.sign_revocation_list.__text_signature__
        == "($self, entries, expires_in_secs=None)"
    )
