"""Valid artefacts of every kind, made once, for the property and leak tests.

Tokens are signed here with `cryptography`, independently of the module; the module's own
artefacts (manifests, renewal requests, renewed tokens and vouchers) come from its public API.
"""

import json
import time
import uuid

import vesk
from signers import Signer, self_signed

ENDPOINT = "https://agent.example/vesk/handshake/hello"
FAR_FUTURE = 2**62


def tct_claims(issuer: Signer, holder: Signer, **overrides) -> dict:
    now = int(time.time())
    claims = {
        "ver": "vesk/0.2", "jti": str(uuid.uuid4()), "iss": issuer.aid, "sub": holder.aid,
        "aud": holder.aid, "iat": now - 10, "exp": now + 3600, "grants": ["read", "write"],
        "cnf": {"jkt": holder.jkt},
    }
    claims.update(overrides)
    return claims


def fresh_tct(issuer: Signer, holder: Signer, **overrides) -> str:
    """A TCT valid now, signed here over compact (not canonical) JSON."""
    return issuer.jws(json.dumps(tct_claims(issuer, holder, **overrides), separators=(",", ":")).encode())


ALICE = Signer(1)
BOB = Signer(2)
CAROL_P256 = Signer(3, "p256")
SCRATCH = Signer(9)  # builds manifests freely; the others keep the ones their handshakes rely on


def manifest(party: Signer) -> str:
    if party.p256:
        return party.agent.build_manifest("Carol", ENDPOINT, ["read"], identity_type="oidc",
                                          oidc_issuer="https://issuer.example", oidc_subject="c")
    return party.agent.build_manifest("Bob", ENDPOINT, ["read", "write"], ["read"])


def renewed(issuer: Signer, holder: Signer) -> dict:
    """A TCT and grant voucher minted by the module itself, through in-band renewal."""
    request = holder.agent.build_renewal_request(fresh_tct(issuer, holder))
    return json.loads(issuer.agent.process_renewal_request(request, FAR_FUTURE, 3600))


def certificate() -> bytes:
    """A self-signed certificate in DER for CAROL_P256's key."""
    return self_signed(CAROL_P256.private)


class Handshake:
    """A pinned-key handshake of BOB (initiator) with ALICE (responder), up to a chosen step;
    `check(step, text)` feeds a message to fresh sessions that expect it next."""

    ALICE_MANIFEST = manifest(ALICE)
    BOB_MANIFEST = manifest(BOB)
    STEPS = ["hello", "hello_ack", "commit", "commit_ack"]

    def __init__(self):
        self.initiator, self.responder = BOB.agent.new_session(), ALICE.agent.new_responder()
        self.messages = {}

    def run(self, until=None):
        self.messages["hello"] = self.initiator.build_hello(self.ALICE_MANIFEST, ["read"])
        if until == "hello":
            return self
        self.messages["hello_ack"], self.session_id = self.responder.process_hello(self.messages["hello"])
        if until == "hello_ack":
            return self
        self.messages["commit"] = self.initiator.process_hello_ack(self.messages["hello_ack"], self.session_id)
        if until == "commit":
            return self
        self.messages["commit_ack"], _ = self.responder.process_commit(self.messages["commit"])
        if until == "commit_ack":
            return self
        return self.initiator.complete(self.messages["commit_ack"])

    def receive(self, step, text):
        """Feeds `text` where the message of `step` is due, in sessions that sent the ones before."""
        if step == "hello":
            return self.responder.process_hello(text)
        if step == "hello_ack":
            return self.initiator.process_hello_ack(text, self.session_id)
        if step == "commit":
            return self.responder.process_commit(text)
        return self.initiator.complete(text)


def artefacts() -> dict:
    """Name -> (valid text, the call that checks it and returns normally for the valid text,
    whether it is a compact token)."""
    from_alice = renewed(ALICE, BOB)
    from_carol = renewed(CAROL_P256, BOB)
    request = BOB.agent.build_renewal_request(fresh_tct(ALICE, BOB))
    delegation = BOB.agent.build_delegation(from_alice["grant_voucher"], CAROL_P256.aid, ["read"])
    bundle = (vesk.SessionBundleBuilder(ALICE.agent).participant(BOB.aid, fresh_tct(ALICE, BOB))
              .participant(CAROL_P256.aid, fresh_tct(ALICE, CAROL_P256)).build())
    revocation = ALICE.agent.sign_revocation_list([{"jti": str(uuid.uuid4()), "reason": "lost"}])
    return {
        "tct-eddsa": (fresh_tct(ALICE, BOB), lambda t: BOB.agent.verify_tct(t, "read"), True),
        "tct-es256": (fresh_tct(CAROL_P256, BOB), lambda t: BOB.agent.verify_tct(t, "read"), True),
        "tct-minted": (from_alice["tct"], lambda t: BOB.agent.verify_tct(t, "read"), True),
        "tct-minted-es256": (from_carol["tct"], lambda t: BOB.agent.verify_tct(t, "write"), True),
        "delegation": (delegation, lambda t: vesk.verify_delegation_multihop(t, ALICE.aid), True),
        "voucher": (from_alice["grant_voucher"], lambda t: vesk.verify_delegation(
            BOB.agent.build_delegation(t, CAROL_P256.aid, ["read"]), ALICE.aid), True),
        "manifest-eddsa": (manifest(BOB), vesk.verify_manifest_json, False),
        "manifest-es256": (manifest(CAROL_P256), vesk.verify_manifest_json, False),
        "renewal-request": (request, lambda t: ALICE.agent.process_renewal_request(t, FAR_FUTURE, 60), False),
        "revocation": (revocation, lambda t: vesk.verify_revocation_list(t, ALICE.aid), False),
        "bundle": (bundle, lambda t: vesk.verify_session_bundle(t, BOB.aid), False),
    }
