"""The four-message handshake between two agents, by pinned key or OIDC token. Messages are tampered
with as parsed JSON; where a tampered opening message must still carry a valid identity proof, the
proof is made again here, independently of the module."""

import hashlib
import json

import jwt
import pytest

import vesk
from parties import GRANTS_A, ISSUER, Handshake, b64u, b64u_decode, edit, party, provider


def raises(text, call, *args, error=RuntimeError, prefix=False):
    with pytest.raises(error) as caught:
        call(*args)
    message = str(caught.value)
    assert message.startswith(text) if prefix else message == text, message


KINDS = ["ed25519-pinned", "ed25519-oidc", "p256-oidc"]


@pytest.mark.parametrize("kind_a", KINDS)
@pytest.mark.parametrize("kind_b", KINDS)
def test_every_pairing_of_suites_and_identities_completes(kind_a, kind_b):
    a, b = party(kind_a), party(kind_b, "bob")
    run = Handshake(a, b).run()
    # The initiator holds the requested grant the responder offers; the responder everything
    # the initiator's Manifest offers.
    assert list(run.a_holds) == list(run.b_holds) == ["tct", "grant_voucher"]
    a_identity = a.agent.verify_tct(run.a_holds["tct"], "search")
    assert (a_identity.peer_aid, a_identity.grants) == (b.aid, ["search"])
    b_identity = b.agent.verify_tct(run.b_holds["tct"], "write")
    assert (b_identity.peer_aid, b_identity.grants) == (a.aid, GRANTS_A)
    hello_nonce = json.loads(run.hello_json)["payload"]["pop_nonce"]
    assert not a.oidc or a.nonces[-1] == hello_nonce
    # The voucher the initiator received lets it delegate to a third agent.
    carol = vesk.VeskAgent.generate()
    token = a.agent.build_delegation(run.a_holds["grant_voucher"], carol.aid, ["search"])
    verified = vesk.verify_delegation(token, b.aid)
    assert (verified.issued_by, verified.delegatee) == (a.aid, carol.aid)


def test_messages_carry_types_senders_echoes_and_proofs():
    run = Handshake().run()
    a, b = run.a, run.b
    envelopes = [json.loads(m) for m in (run.hello_json, run.ack_json, run.commit_json, run.commit_ack_json)]
    assert [e["message_type"] for e in envelopes] == [
        "mutual_hello", "mutual_hello_ack", "mutual_commit", "mutual_commit_ack"]
    assert [e["sender"]["agent_id"] for e in envelopes] == [a.aid, b.aid, a.aid, b.aid]
    assert not any("extensions" in e or "extensions" in e["payload"] for e in envelopes)
    hello, ack, commit, commit_ack = [e["payload"] for e in envelopes]
    assert ack["requested_grants"] == GRANTS_A
    assert (ack["pop_nonce_echo"], commit["pop_nonce_echo"], commit_ack["pop_nonce_echo"]) == (
        hello["pop_nonce"], ack["pop_nonce"], hello["pop_nonce"])
    # The proof of possession is the sender's signature over SHA-256 of the nonce's bytes.
    assert b64u_decode(hello["identity"]["public_key"]) == a.public_key().public_bytes_raw()
    a.check_digest(hashlib.sha256(b64u_decode(ack["pop_nonce"])).digest(), commit["pop_signature"])
    to_b = jwt.decode(commit["tct"], options={"verify_signature": False})
    assert (to_b["iss"], to_b["sub"], to_b["aud"]) == (a.aid, b.aid, b.aid)
    assert to_b["grants"] == GRANTS_A
    assert (run.a_holds["tct"], run.b_holds["tct"]) == (commit_ack["tct"], commit["tct"])


def test_steps_called_out_of_order():
    ref = Handshake().run()
    fresh = Handshake()
    raises("invalid envelope JSON: ", fresh.initiator.process_hello_ack, "{", "", error=ValueError, prefix=True)
    raises("call build_hello() first", fresh.initiator.process_hello_ack, ref.ack_json, "")
    raises("call process_hello_ack() first", fresh.initiator.complete, ref.commit_ack_json)
    raises("call process_hello() first", fresh.responder.process_commit, ref.commit_json)
    fresh.hello()
    raises("handshake state error: on_commit_ack out of order", fresh.initiator.complete, ref.commit_ack_json)
    fresh.run("commit")
    raises("handshake state error: on_hello_ack out of order",
           fresh.initiator.process_hello_ack, fresh.ack_json, "")
    fresh.commit_ack()
    raises("handshake state error: on_commit out of order", fresh.responder.process_commit, fresh.commit_json)
    fresh.complete()
    raises("handshake state error: on_commit_ack out of order", fresh.initiator.complete, fresh.commit_ack_json)
    fresh.run()  # new hellos start over on the same sessions


def test_unreadable_payloads_are_value_errors_and_change_nothing():
    run = Handshake().run("ack")
    raises("invalid hello payload: unknown field `session_id`, expected one of `identity`, "
           "`manifest`, `requested_grants`, `pop_nonce`, `extensions`",
           run.responder.process_hello,
           edit(run.hello_json, lambda e, p: p.update(session_id="x")), error=ValueError)
    raises("invalid hello_ack payload: missing field `pop_nonce_echo`",
           run.initiator.process_hello_ack,
           edit(run.ack_json, lambda e, p: p.pop("pop_nonce_echo")), "", error=ValueError)
    run.commit()
    raises("invalid commit payload: missing field `pop_signature`", run.responder.process_commit,
           edit(run.commit_json, lambda e, p: p.pop("pop_signature")), error=ValueError)
    run.commit_ack()
    raises("invalid commit_ack payload: unknown field `x`", run.initiator.complete,
           edit(run.commit_ack_json, lambda e, p: p.update(x=1)), error=ValueError, prefix=True)
    run.complete()


def tamper(text):
    return text[:-2] + ("A" if text[-2] != "A" else "B") + text[-1]


ZERO_NONCE = b64u(bytes(16))
CAROL = "aid:pubkey:" + b64u(bytes(range(32)))
# (step, change, message, whether the session fails for good)
PEER_FAULTS = [
    ("commit", lambda e, p: e["sender"].update(agent_id=CAROL),
     "invalid envelope: HELLO_ACK sender AID does not match the intended peer", True),
    ("commit", lambda e, p: e["sender"].update(agent_id=e["sender"]["agent_id"].replace(
        "aid:pubkey:", "aid:pubkey:ed25519:")),
     "invalid envelope: HELLO_ACK sender AID does not match the intended peer", True),
    ("commit", lambda e, p: p["manifest"].update(aid=CAROL),
     "invalid envelope: HELLO_ACK manifest AID does not match the intended peer", True),
    ("commit", lambda e, p: p.update(pop_nonce_echo=ZERO_NONCE), "nonce mismatch", True),
    ("commit", lambda e, p: p.update(pop_nonce=ZERO_NONCE),
     "identity verification failed: pinned_key signature invalid", True),
    ("commit", lambda e, p: p["manifest"].update(offered_capabilities=["all"]),
     "manifest verification failed: manifest signature is invalid", True),
    ("commit", lambda e, p: p.update(requested_grants=["fly"]),
     "policy denies handshake (empty grant intersection)", False),
    ("commit_ack", lambda e, p: e["sender"].update(agent_id=CAROL),
     "invalid envelope: commit sender mismatch", True),
    ("commit_ack", lambda e, p: p.update(pop_nonce_echo=ZERO_NONCE), "nonce mismatch", True),
    ("commit_ack", lambda e, p: p.update(pop_signature=tamper(p["pop_signature"])),
     "pop signature verification failed", False),
    ("commit_ack", lambda e, p: p.update(tct=tamper(p["tct"])),
     "TCT verification failed: signature verification failed", False),
    ("commit_ack", lambda e, p: p.update(grant_voucher=tamper(p["grant_voucher"])),
     "TCT verification failed: signature verification failed", False),
    ("complete", lambda e, p: e["sender"].update(agent_id=CAROL),
     "invalid envelope: commit_ack sender mismatch", True),
    ("complete", lambda e, p: p.update(pop_nonce_echo=ZERO_NONCE), "nonce mismatch", True),
    ("complete", lambda e, p: p.update(pop_signature=tamper(p["pop_signature"])),
     "pop signature verification failed", False),
    ("complete", lambda e, p: p.update(tct=tamper(p["tct"])),
     "TCT verification failed: signature verification failed", False),
]
PREVIOUS = {"commit": "ack", "commit_ack": "commit", "complete": "commit_ack"}
ORDER_ERROR = {"commit": "on_hello_ack", "commit_ack": "on_commit", "complete": "on_commit_ack"}


@pytest.mark.parametrize("step, change, message, fatal", PEER_FAULTS)
def test_peer_faults_fail_the_session_or_leave_it_waiting(step, change, message, fatal):
    run = Handshake().run(PREVIOUS[step])
    received = getattr(run, PREVIOUS[step] + "_json")
    call = getattr(run, step)
    raises(message, call, edit(received, change))
    if fatal:
        raises(f"handshake state error: {ORDER_ERROR[step]} out of order", call, received)
    else:
        call(received)  # the honest message is still accepted


def test_voucher_mirror_absence_and_grants_issued():
    first, second = Handshake().run("commit"), Handshake().run("commit")
    other_voucher = json.loads(second.commit_json)["payload"]["grant_voucher"]
    raises("TCT verification failed: claims malformed: grant voucher does not mirror the "
           "companion TCT", first.responder.process_commit,
           edit(first.commit_json, lambda e, p: p.update(grant_voucher=other_voucher)))
    # Without a voucher the TCT alone is accepted and handed over with null.
    first.commit_ack(edit(first.commit_json, lambda e, p: p.pop("grant_voucher")))
    assert first.b_holds["grant_voucher"] is None
    first.complete(edit(first.commit_ack_json, lambda e, p: p.update(grant_voucher=None)))
    assert first.a_holds["grant_voucher"] is None
    # The responder issues only what its Manifest offers, after accepting the COMMIT's TCT.
    nothing = Handshake(requested=["fly"]).run("commit")
    raises("policy denies handshake (empty grant intersection)",
           nothing.responder.process_commit, nothing.commit_json)


@pytest.mark.parametrize("peer_kind", ["ed25519-pinned", "p256-oidc"])
@pytest.mark.parametrize("length", [0, 15, 32])
def test_only_sixteen_byte_peer_nonces_are_signed(peer_kind, length):
    """A peer's nonce is signed as a digest: any other length would turn the agent into a
    signing oracle for texts of the peer's choosing."""
    wrong = "invalid envelope: pop nonce must decode to exactly 16 bytes"
    pinned_a, pinned_b = party(), party(name="bob")

    # The initiator refuses to sign the responder's nonce and keeps waiting for a HELLO_ACK.
    b = party(peer_kind, "bob")
    run = Handshake(pinned_a, b).run("ack")

    def odd_nonce(sender, verifier):
        def change(envelope, payload):
            payload["pop_nonce"] = b64u(bytes(range(length)))
            sender.prove(envelope, payload, verifier.aid)
        return change

    raises(wrong, run.initiator.process_hello_ack, edit(run.ack_json, odd_nonce(b, pinned_a)), "")
    run.commit()
    run.commit_ack()
    run.complete()

    # The responder accepts the HELLO but refuses to sign its nonce when the COMMIT comes.
    a = party(peer_kind)
    run = Handshake(a, pinned_b)
    run.hello()
    honest = json.loads(run.hello_json)["payload"]["pop_nonce"]
    run.ack(edit(run.hello_json, odd_nonce(a, pinned_b)))
    run.commit(edit(run.ack_json, lambda e, p: p.update(pop_nonce_echo=honest)))
    for _ in range(2):  # the session stays waiting: the same refusal, not an order error
        raises(wrong, run.responder.process_commit, run.commit_json)


def test_replaced_handshakes():
    run = Handshake().run("ack")
    # A failed HELLO leaves the responder's earlier handshake alone.
    raises("invalid envelope: manifest.aid does not match sender.agent_id",
           run.responder.process_hello,
           edit(run.hello_json, lambda e, p: e["sender"].update(agent_id=CAROL)))
    first_ack = run.ack_json
    run.ack()  # the same HELLO again: a new handshake replaces the first
    nonces = [json.loads(m)["payload"]["pop_nonce"] for m in (first_ack, run.ack_json)]
    assert nonces[0] != nonces[1]
    run.commit(first_ack)
    raises("nonce mismatch", run.responder.process_commit, run.commit_json)
    # A second build_hello makes the first HELLO_ACK's echo stale.
    run = Handshake().run("ack")
    run.hello()
    raises("nonce mismatch", run.initiator.process_hello_ack, run.ack_json, "")


def test_oidc_callback_and_key_set_rules():
    a, b = party("p256-oidc"), party(name="bob")
    initiator = a.agent.new_session(jwks=provider(), trust_anchors=[ISSUER])
    raises("agent manifest is OIDC; `oidc_mint_jwt` callable is required",
           initiator.build_hello, b.manifest_json, ["search"], error=ValueError)
    failed = "identity verification failed: oidc mint_jwt callback failed: "
    raises(failed + "oidc_mint_jwt must return str: ", initiator.build_hello,
           b.manifest_json, ["search"], lambda nonce: b"jwt", prefix=True)
    raises(failed + "oidc_mint_jwt raised: ", initiator.build_hello, b.manifest_json, ["search"],
           lambda nonce: initiator.complete("{}"), prefix=True)
    # A pinned-key agent ignores the argument, even when it is not callable.
    b.agent.new_session().build_hello(a.manifest_json, ["read"], 42)

    hello = a.agent.new_session().build_hello(b.manifest_json, ["search"], a.minter(b))
    raises(f"issuer key resolution failed for {ISSUER}: could not resolve issuer keys: "
           "no JWKS resolver configured for this session (pinned-key only)",
           b.agent.new_responder(trust_anchors=[ISSUER]).process_hello, hello)
    raises("incompatible trust anchors",
           b.agent.new_responder(jwks=provider(), trust_anchors=[]).process_hello, hello)
