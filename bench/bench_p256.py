"""P-256 checks from Python against bare OpenSSL P-256 signs and verifies (bare_p256.py), all
timed in the same rounds, so that their ratios hold however fast the machine runs meanwhile.

- `verify_tct`: a P-256 holder checks an ES256 TCT from a P-256 issuer; one verify.
- PyJWT with `cryptography` doing the same work for the same token (as bench_tct.py does for
  EdDSA: issuer key from its AID, signature, exp/iat/aud/iss, type, version, grant, cnf).
- `verify_manifest_json` of a P-256 Manifest: two verifies (signature, proof of possession).
- `verify_delegation` of a single-hop delegation: two verifies (token and grant voucher).
- A whole handshake between two P-256 agents with OIDC identities. Each identity token comes
  from the `oidc_mint_jwt` callback, which signs it with the identity provider's ES256 key
  (PyJWT); the agents check it against that key. Its signature operations:

    signs:    1 (hello: envelope) + 1 (hello_ack: envelope) + 4 (commit: TCT, voucher, nonce,
              envelope) + 4 (commit_ack: the same)
    verifies: 3 (hello: Manifest signature and proof of possession, identity token)
              + 3 (hello_ack: the same) + 3 (commit: nonce, TCT, voucher) + 3 (complete: the same)
    mints:    2 (one identity token per side, by the callback)

    PYTHONPATH=build/dev python bench/bench_p256.py
"""

import base64
import hashlib
import json
import time

import jwt
from cryptography.hazmat.primitives.asymmetric import ec

import vesk
from bare_p256 import BareP256, der_signature
import bench_tct
from bench_tct import make_token, unb64u
from timing import per_call_many

SIGNS, VERIFIES, MINTS = 10, 12, 2
DELEGATION_VERIFIES = 2

ISSUER = "https://issuer.example/tenant"
ISSUER_KEY = ec.derive_private_key(7, ec.SECP256R1())


def b64u(data: bytes) -> str:
    return base64.urlsafe_b64encode(data).rstrip(b"=").decode()


def aid_key(aid: str):
    return ec.EllipticCurvePublicKey.from_encoded_point(ec.SECP256R1(), unb64u(aid.rsplit(":", 1)[1]))


def jkt(aid: str) -> str:
    point = aid_key(aid).public_numbers()
    jwk = '{"crv":"P-256","kty":"EC","x":"%s","y":"%s"}' % (
        b64u(point.x.to_bytes(32, "big")), b64u(point.y.to_bytes(32, "big")))
    return b64u(hashlib.sha256(jwk.encode()).digest())


def pyjwt_verify(token: str, own_aid: str, required_grant: str) -> dict:
    """What verify_tct does, with PyJWT and `cryptography`, for a P-256 issuer and holder."""
    return bench_tct.pyjwt_verify(token, own_aid, required_grant, "ES256", aid_key, jkt)


class OidcAgent:
    """A P-256 agent whose identity tokens the identity provider mints for one peer."""

    def __init__(self, seed: int, name: str, offered: list):
        self.agent = vesk.VeskAgent.from_seed(bytes([seed]) * 32, "p256")
        self.subject = f"{name}@agents.example"
        self.jkt = vesk.compute_aid_jkt(self.agent.aid)
        self.manifest = self.agent.build_manifest(
            name, f"https://{name}.example/vesk", offered, identity_type="oidc",
            oidc_issuer=ISSUER, oidc_subject=self.subject)
        self.peer_aid = None

    def mint(self, nonce: str) -> str:
        now = int(time.time())
        claims = {"iss": ISSUER, "sub": self.subject, "aud": self.peer_aid, "iat": now,
                  "exp": now + 300, "nonce": nonce, "cnf": {"jkt": self.jkt}}
        return jwt.encode(claims, ISSUER_KEY, algorithm="ES256", headers={"kid": "k1"})


def handshake(alice: OidcAgent, bob: OidcAgent, provider) -> str:
    """One whole handshake; returns what Bob holds at the end, as JSON. Both trust the issuer
    their Manifests name."""
    initiator = alice.agent.new_session(jwks=provider)
    responder = bob.agent.new_responder(jwks=provider)
    ack, session_id = responder.process_hello(
        initiator.build_hello(bob.manifest, ["search"], alice.mint), bob.mint)
    commit_ack, bob_holds = responder.process_commit(initiator.process_hello_ack(ack, session_id))
    initiator.complete(commit_ack)
    return bob_holds


def measure() -> dict:
    """Seconds per call of each measured operation."""
    holder = vesk.VeskAgent.from_seed(bytes([2]) * 32, "p256")
    token, _ = make_token("p256", holder)  # issuer scalar 1...1
    signing_input, signature = token.rsplit(".", 1)
    bare = BareP256(bytes([1]) * 32)
    message, der = signing_input.encode(), der_signature(unb64u(signature))
    digest = b"\x04" * 32
    assert bare.verify(message, der) and bare.verify(digest, bare.sign(digest))
    assert holder.verify_tct(token, "read").jti == pyjwt_verify(token, holder.aid, "read")["jti"]

    alice, bob = OidcAgent(1, "alice", ["read"]), OidcAgent(2, "bob", ["search"])
    alice.peer_aid, bob.peer_aid = bob.agent.aid, alice.agent.aid
    numbers = ISSUER_KEY.public_key().public_numbers()
    provider = vesk.JwksProvider({ISSUER: [{"kty": "EC", "crv": "P-256", "kid": "k1",
                                            "x": b64u(numbers.x.to_bytes(32, "big")),
                                            "y": b64u(numbers.y.to_bytes(32, "big"))}]})
    voucher = json.loads(handshake(alice, bob, provider))["grant_voucher"]
    carol = vesk.VeskAgent.from_seed(bytes([3]) * 32, "p256")
    delegation = bob.agent.build_delegation(voucher, carol.aid, ["read"])
    assert vesk.verify_delegation(delegation, alice.agent.aid).delegatee == carol.aid

    return per_call_many({
        "verify_tct": lambda: holder.verify_tct(token, "read"),
        "pyjwt": lambda: pyjwt_verify(token, holder.aid, "read"),
        "verify_manifest_json": lambda: vesk.verify_manifest_json(alice.manifest),
        "verify_delegation": lambda: vesk.verify_delegation(delegation, alice.agent.aid),
        "handshake": lambda: handshake(alice, bob, provider),
        "mint_identity_token": lambda: alice.mint("AAAAAAAAAAAAAAAAAAAAAA"),
        "bare_verify": lambda: bare.verify(message, der),
        "bare_sign": lambda: bare.sign(digest),
        "python_call": lambda: bare.python_call(message, der),
    }, repeat=40)


if __name__ == "__main__":
    for name, seconds in measure().items():
        print(f"{name:22s} {seconds * 1e6:9.2f} us")
