"""Revocation snapshots: signing, verification codes and the signed bytes, cross-checked with
`rfc8785` and `cryptography` from the agent's own seed."""

import json
import re
import time

import pytest
import rfc8785

import vesk
from parties import Signer, b64u

JTI = "0b6f0e6c-3c2a-4d7e-9b1a-5f0c2d3e4f50"
NOW = 1_800_000_000
ED, P256, OTHER = Signer(1), Signer(2, "p256"), Signer(3)


def signed_envelope(signer: Signer, **overrides) -> str:
    """A snapshot signed here, independently of the module."""
    body = {"version": "vesk/0.2", "issuer": signer.aid, "published_at": NOW - 60,
            "expires_at": NOW + 60, "entries": [{"jti": JTI, "revoked_at": NOW - 100}],
            **overrides}
    return json.dumps({"revocation_list": body, "signature": signer.sign_body(body)})


def failure(envelope: str, issuer: str, now: int = NOW):
    with pytest.raises(vesk.RevocationVerificationError) as raised:
        vesk.verify_revocation_list(envelope, issuer, now)
    return raised.value


@pytest.mark.parametrize("signer", [ED, P256], ids=["ed25519", "p256"])
def test_round_trip_and_cross_check(signer):
    entries = [{"jti": JTI.upper(), "revoked_at": 5, "reason": ""},
               {"jti": "urn:uuid:" + JTI, "revoked_at": None, "reason": None, "other": 1}]
    before = int(time.time())
    envelope = signer.agent.sign_revocation_list(entries, 120)
    parsed = json.loads(envelope)
    snapshot = parsed["revocation_list"]
    published = snapshot["published_at"]
    assert before <= published <= int(time.time())
    assert envelope == json.dumps(parsed, separators=(",", ":"))
    assert snapshot == {"version": "vesk/0.2", "issuer": signer.aid, "published_at": published,
                        "expires_at": published + 120,
                        "entries": [{"jti": JTI, "revoked_at": 5, "reason": ""},
                                    {"jti": JTI, "revoked_at": published}]}
    assert vesk.revocation_signing_bytes(envelope) == rfc8785.dumps(snapshot)
    signer.check_body(snapshot, parsed["signature"])
    # Layout and member order do not matter: the verifier recomputes the signed bytes.
    relaid = {"signature": parsed["signature"], "revocation_list": dict(reversed(snapshot.items()))}
    assert vesk.verify_revocation_list(json.dumps(relaid, indent=1), signer.aid) is None
    extensions = {"b": [1, {"y": 2, "x": None}], "a": "é/"}
    vesk.verify_revocation_list(signed_envelope(signer, extensions=extensions), signer.aid, NOW)


def test_lifetime_defaults_to_an_hour_and_ends_at_the_end_of_time():
    for expires_in in (None, -1, 2**63 - 1):
        snapshot = json.loads(ED.agent.sign_revocation_list([], expires_in))["revocation_list"]
        expected = {None: snapshot["published_at"] + 3600, -1: snapshot["published_at"] - 1}
        assert snapshot["expires_at"] == expected.get(expires_in, 2**63 - 1)  # saturates, no wrap-around


class RaisingKey:
    """A dict key that collides with "jti" and fails every comparison."""

    def __hash__(self):
        return hash("jti")

    def __eq__(self, other):
        raise KeyError("comparison failed")


@pytest.mark.parametrize("entry,message", [
    ("not a dict", "entries[1] must be a dict with at least a 'jti' key"),
    ({"revoked_at": 1}, "entries[1].jti is required"),
    ({"jti": None}, "entries[1].jti must be a string"),
    ({"jti": "nope"}, "entries[1].jti is not a valid UUID: "),
    ({"jti": JTI, "revoked_at": 2**63}, "entries[1].revoked_at must be an int (unix seconds)"),
    ({"jti": JTI, "reason": b"x"}, "entries[1].reason must be a string"),
    ({"jti": 1, "revoked_at": "x"}, "entries[1].jti must be a string"),
])
def test_malformed_entries(entry, message):
    with pytest.raises(ValueError, match="^" + re.escape(message)):
        ED.agent.sign_revocation_list([{"jti": JTI}, entry])


def test_entry_containers():
    with pytest.raises(KeyError, match="comparison failed"):
        ED.agent.sign_revocation_list([{RaisingKey(): 1}])
    with pytest.raises(TypeError):
        ED.agent.sign_revocation_list(({"jti": JTI},))


@pytest.mark.parametrize("signer", [ED, P256], ids=["ed25519", "p256"])
def test_failures_carry_codes_in_check_order(signer):
    good = signed_envelope(signer)
    parsed = json.loads(good)

    def changed(signature, **members):
        body = dict(parsed["revocation_list"], **members)
        return json.dumps({"revocation_list": body, "signature": signature or parsed["signature"]})

    long_form = "aid:pubkey:ed25519:" + ED.aid[len("aid:pubkey:"):]
    not_a_point = "aid:pubkey:" + b64u(bytes([2]) + bytes(31))
    cases = [
        (signed_envelope(signer, version="vesk/0.2\x00"), signer.aid, NOW + 10**6,
         "version_unknown", "TCT version is not supported"),
        (good, signer.aid, NOW + 61, "expired", "TCT has expired or is not yet valid"),
        (changed("bad"), signer.aid, NOW + 61, "expired", "TCT has expired or is not yet valid"),
        (changed("bad"), OTHER.aid, NOW, "issuer_mismatch",
         "TCT issuer does not match the verifying key"),
        (signed_envelope(ED, issuer=long_form), ED.aid, NOW, "issuer_mismatch",
         "TCT issuer does not match the verifying key"),
        (changed("bad="), signer.aid, NOW, "signature_invalid", "TCT signature is invalid"),
        (changed(None, published_at=NOW), signer.aid, NOW, "signature_invalid",
         "TCT signature is invalid"),
        (signed_envelope(ED, issuer=not_a_point), not_a_point, NOW, "malformed",
         "AID does not yield a valid Ed25519 public key: signature error"),
    ]
    for envelope, issuer, now, code, text in cases:
        error = failure(envelope, issuer, now)
        prefix = "revocation snapshot verification failed: "
        assert (error.code, str(error)) == (code, prefix + text)
    assert vesk.verify_revocation_list(good, signer.aid, NOW + 60) is None
    vesk.verify_revocation_list(signed_envelope(ED, issuer=long_form), long_form, NOW)


@pytest.mark.parametrize("text", ["not json", '{"signature":"s","x":1}', '[{"issuer":"x"}]'])
def test_unreadable_envelopes(text):
    # Reported before an unreadable expected issuer, with code "malformed"...
    error = failure(text, "not an aid")
    assert error.code == "malformed"
    assert str(error).startswith("invalid revocation envelope JSON: ") and " at line " in str(error)
    # ...but as a plain ValueError by revocation_signing_bytes.
    with pytest.raises(ValueError) as raised:
        vesk.revocation_signing_bytes(text)
    assert type(raised.value) is ValueError and str(raised.value) == str(error)
    with pytest.raises(ValueError, match="^invalid expected_issuer_aid: ") as raised:
        vesk.verify_revocation_list(signed_envelope(ED), "aid:nope")
    assert type(raised.value) is ValueError
