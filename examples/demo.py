"""The main job: two agents meet, prove who they are, and trust each other with capabilities.

Alice (Ed25519, pinned-key identity) and Bob (P-256, identity vouched for by an OIDC issuer)
publish signed Manifests, run the four-message handshake, and each ends up holding a capability
token (TCT) issued by the other. Alice then delegates part of her grant to Carol; Bob, the
grantor, verifies the delegation and issues Carol a TCT of her own.

The OIDC issuer is simulated here: its key is made locally and its ID tokens are minted with
PyJWT. Exits non-zero if any step fails.
"""

import base64
import json
import sys
import time

import jwt
from cryptography.hazmat.primitives.asymmetric import ec

import vesk

ISSUER = "https://issuer.example/tenant"


def b64u(data):
    return base64.urlsafe_b64encode(data).rstrip(b"=").decode()


def step(text):
    print(f"- {text}")


def check(condition, what):
    if not condition:
        raise AssertionError(f"expected: {what}")


class Issuer:
    """A stand-in OIDC issuer: one P-256 key, published as a JWK."""

    def __init__(self):
        self.key = ec.generate_private_key(ec.SECP256R1())
        numbers = self.key.public_key().public_numbers()
        self.jwk = {"kty": "EC", "crv": "P-256", "kid": "demo",
                    "x": b64u(numbers.x.to_bytes(32, "big")),
                    "y": b64u(numbers.y.to_bytes(32, "big"))}

    def minter(self, subject, holder_aid, audience_aid):
        """The `oidc_mint_jwt` callback: an ID token bound to the handshake's nonce."""

        def mint(nonce):
            now = int(time.time())
            claims = {"iss": ISSUER, "sub": subject, "aud": audience_aid, "iat": now,
                      "exp": now + 300, "nonce": nonce,
                      "cnf": {"jkt": vesk.compute_aid_jkt(holder_aid)}}
            return jwt.encode(claims, self.key, algorithm="ES256", headers={"kid": "demo"})

        return mint


def main():
    issuer = Issuer()
    keys = vesk.JwksProvider({ISSUER: [issuer.jwk]})

    alice = vesk.VeskAgent.generate()
    bob = vesk.VeskAgent.generate("p256")
    alice_manifest = alice.build_manifest(
        "alice", "https://alice.example/vesk/handshake/hello", ["calendar.read", "calendar.write"])
    bob_manifest = bob.build_manifest(
        "bob", "https://bob.example/vesk/handshake/hello", ["search", "summarise"],
        identity_type="oidc", oidc_issuer=ISSUER, oidc_subject="bob@agents.example")
    for name, agent, manifest in (("alice", alice, alice_manifest), ("bob", bob, bob_manifest)):
        vesk.verify_manifest_json(manifest)
        step(f"{name} published a verified Manifest as {agent.aid}")

    # Alice opens; Bob answers. Each side's Python program carries the texts between them.
    initiator = alice.new_session(jwks=keys, trust_anchors=[ISSUER])
    responder = bob.new_responder(jwks=keys)
    hello = initiator.build_hello(bob_manifest, ["search", "translate"])
    step("alice -> bob   MUTUAL_HELLO (asks for search and translate)")
    hello_ack, session_id = responder.process_hello(
        hello, issuer.minter("bob@agents.example", bob.aid, alice.aid))
    step(f"bob -> alice   MUTUAL_HELLO_ACK (session {session_id})")
    commit = initiator.process_hello_ack(hello_ack, session_id)
    step("alice -> bob   MUTUAL_COMMIT (a TCT for bob)")
    commit_ack, bob_holds = responder.process_commit(commit)
    step("bob -> alice   MUTUAL_COMMIT_ACK (a TCT for alice)")
    alice_holds = initiator.complete(commit_ack)
    alice_pair, bob_pair = json.loads(alice_holds), json.loads(bob_holds)

    # Each presents its TCT to the other, who checks it as a resource server would.
    for name, presenter, verifier, pair, grant in (
            ("alice", alice, bob, alice_pair, "search"),
            ("bob", bob, alice, bob_pair, "calendar.read")):
        identity = verifier.verify_tct(pair["tct"], grant, expected_audience=presenter.aid)
        check(identity.peer_aid == verifier.aid, "the TCT names its issuer")
        step(f"{name} presented its TCT: grants {identity.grants}, "
             f"jti {identity.jti}, expires {identity.expires_at}")

    carol = vesk.VeskAgent.generate()
    token = alice.build_delegation(alice_pair["grant_voucher"], carol.aid, ["search"])
    step("alice delegated search to carol")
    verified = vesk.verify_delegation(token, bob.aid)
    step(f"bob verified the delegation: {verified.issued_by[:24]}... -> "
         f"{verified.delegatee[:24]}..., grants {verified.grants}")
    check(verified.grants == ["search"], "the delegation carries the delegated grant")
    carol_pair = json.loads(bob.issue_tct_for_delegatee(verified))
    identity = bob.verify_tct(carol_pair["tct"], "search", expected_audience=carol.aid)
    step(f"bob redeemed it: carol presented her own TCT from bob for {identity.grants}")


if __name__ == "__main__":
    try:
        main()
    except Exception as error:
        print(f"demo failed: {type(error).__name__}: {error}", file=sys.stderr)
        sys.exit(1)
    print("demo complete")
