"""Valid artefacts of every kind, made once, for the property and leak tests.

Tokens are signed here with `cryptography`, independently of the module; the module's own
artefacts (manifests, renewal requests, renewed tokens and vouchers) come from its public API.
"""

import base64
import datetime
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
SCRATCH = Party(9)  # builds manifests freely; the others keep the ones their handshakes rely on


def manifest(party: Party) -> str:
    if party.alg == "ES256":
        return party.agent.build_manifest("Carol", ENDPOINT, ["read"], identity_type="oidc",
                                          oidc_issuer="https://issuer.example", oidc_subject="c")
    return party.agent.build_manifest("Bob", ENDPOINT, ["read", "write"], ["read"])


def renewed(issuer: Party, holder: Party) -> dict:
    """A TCT and grant voucher minted by the module itself, through in-band renewal."""
    request = holder.agent.build_renewal_request(issuer.tct(holder))
    return json.loads(issuer.agent.process_renewal_request(request, FAR_FUTURE, 3600))


def certificate() -> bytes:
    """A self-signed certificate in DER for CAROL_P256's key."""
    from cryptography import x509
    from cryptography.hazmat.primitives import serialization as ser
    from cryptography.x509.oid import NameOID

    name = x509.Name([x509.NameAttribute(NameOID.COMMON_NAME, "peer.example")])
    now = datetime.datetime(2026, 1, 1, tzinfo=datetime.timezone.utc)
    cert = (x509.CertificateBuilder().subject_name(name).issuer_name(name)
            .public_key(CAROL_P256.private.public_key()).serial_number(7)
            .not_valid_before(now).not_valid_after(now + datetime.timedelta(days=365))
            .sign(CAROL_P256.private, hashes.SHA256()))
    return cert.public_bytes(ser.Encoding.DER)


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
    request = BOB.agent.build_renewal_request(ALICE.tct(BOB))
    delegation = BOB.agent.build_delegation(from_alice["grant_voucher"], CAROL_P256.aid, ["read"])
    bundle = (vesk.SessionBundleBuilder(ALICE.agent).participant(BOB.aid, ALICE.tct(BOB))
              .participant(CAROL_P256.aid, ALICE.tct(CAROL_P256)).build())
    revocation = ALICE.agent.sign_revocation_list([{"jti": str(uuid.uuid4()), "reason": "lost"}])
    return {
        "tct-eddsa": (ALICE.tct(BOB), lambda t: BOB.agent.verify_tct(t, "read"), True),
        "tct-es256": (CAROL_P256.tct(BOB), lambda t: BOB.agent.verify_tct(t, "read"), True),
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
