"""Valid artefacts of every kind, made once, for the property and leak tests.

Tokens are signed here with `cryptography`, independently of the module; the module's own
artefacts (manifests, renewal requests, renewed tokens and vouchers) come from its public API.
"""

import base64
import hashlib
import json
import time
import uuid

from cryptography.hazmat.primitives import hashes, serialization
from cryptography.hazmat.primitives.asymmetric import ec, ed25519
from cryptography.hazmat.primitives.asymmetric.utils import decode_dss_signature

import vesk

ENDPOINT = "https://agent.example/vesk/handshake/hello"
FAR_FUTURE = 2**62


def b64u(data: bytes) -> str:
    return base64.urlsafe_b64encode(data).rstrip(b"=").decode()


class Party:
    """An agent of the module and the same key held by `cryptography`."""

    def __init__(self, seed_byte: int, suite: str = "ed25519"):
        seed = bytes([seed_byte]) * 32
        self.agent = vesk.VeskAgent.from_seed(seed, suite)
        self.aid = self.agent.aid
        self.jkt = vesk.compute_aid_jkt(self.aid)
        if suite == "ed25519":
            self.private = ed25519.Ed25519PrivateKey.from_private_bytes(seed)
            self.alg = "EdDSA"
        else:
            self.private = ec.derive_private_key(int.from_bytes(seed, "big"), ec.SECP256R1())
            self.alg = "ES256"

    def sign(self, message: bytes) -> bytes:
        if self.alg == "EdDSA":
            return self.private.sign(message)
        r, s = decode_dss_signature(self.private.sign(message, ec.ECDSA(hashes.SHA256())))
        return r.to_bytes(32, "big") + s.to_bytes(32, "big")

    def public_raw(self) -> bytes:
        return self.private.public_key().public_bytes(serialization.Encoding.Raw,
                                                      serialization.PublicFormat.Raw)

    def jws(self, payload: bytes, typ: str = "vesk-tct+jwt") -> str:
        header = json.dumps({"alg": self.alg, "typ": typ}, separators=(",", ":")).encode()
        signing_input = b64u(header) + "." + b64u(payload)
        return signing_input + "." + b64u(self.sign(signing_input.encode()))

    def tct(self, holder: "Party", **overrides) -> str:
        return self.jws(json.dumps(tct_claims(self, holder, **overrides),
                                   separators=(",", ":")).encode())


def tct_claims(issuer: Party, holder: Party, **overrides) -> dict:
    now = int(time.time())
    claims = {
        "ver": "vesk/0.2", "jti": str(uuid.uuid4()), "iss": issuer.aid, "sub": holder.aid,
        "aud": holder.aid, "iat": now - 10, "exp": now + 3600, "grants": ["read", "write"],
        "cnf": {"jkt": holder.jkt},
    }
    claims.update(overrides)
    return claims


ALICE = Party(1)
BOB = Party(2)
CAROL_P256 = Party(3, "p256")


def manifest(party: Party) -> str:
    if party.alg == "ES256":
        return party.agent.build_manifest("Carol", ENDPOINT, ["read"], identity_type="oidc",
                                          oidc_issuer="https://issuer.example", oidc_subject="c")
    return party.agent.build_manifest("Bob", ENDPOINT, ["read", "write"], ["read"])


def renewed(issuer: Party, holder: Party) -> dict:
    """A TCT and grant voucher minted by the module itself, through in-band renewal."""
    request = holder.agent.build_renewal_request(issuer.tct(holder))
    return json.loads(issuer.agent.process_renewal_request(request, FAR_FUTURE, 3600))


def artefacts() -> dict:
    """Name -> (valid text, the call that checks it and returns normally for the valid text)."""
    from_alice = renewed(ALICE, BOB)
    from_carol = renewed(CAROL_P256, BOB)
    request = BOB.agent.build_renewal_request(ALICE.tct(BOB))
    return {
        "tct-eddsa": (ALICE.tct(BOB), lambda t: BOB.agent.verify_tct(t, "read")),
        "tct-es256": (CAROL_P256.tct(BOB), lambda t: BOB.agent.verify_tct(t, "read")),
        "tct-minted": (from_alice["tct"], lambda t: BOB.agent.verify_tct(t, "read")),
        "tct-minted-es256": (from_carol["tct"], lambda t: BOB.agent.verify_tct(t, "write")),
        "voucher": (from_alice["grant_voucher"], BOB.agent.build_renewal_request),
        "manifest-eddsa": (manifest(BOB), vesk.verify_manifest_json),
        "manifest-es256": (manifest(CAROL_P256), vesk.verify_manifest_json),
        "renewal-request": (request, lambda t: ALICE.agent.process_renewal_request(t, FAR_FUTURE, 60)),
    }


def sha256(data: bytes) -> bytes:
    return hashlib.sha256(data).digest()
