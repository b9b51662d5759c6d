"""Agents whose keys are held twice, by the module (`VeskAgent.from_seed`) and by `cryptography`,
so that tests sign, mint and check artefacts independently of the module; and one driver of the
handshake between two of them, with an OIDC issuer whose identity tokens PyJWT mints."""

import base64
import datetime
import hashlib
import json
import time
import uuid

import jwt
import rfc8785
from cryptography import x509
from cryptography.hazmat.primitives import hashes, serialization
from cryptography.hazmat.primitives.asymmetric import ec, ed25519
from cryptography.hazmat.primitives.asymmetric.utils import decode_dss_signature, encode_dss_signature
from cryptography.x509.oid import NameOID

import vesk

ENDPOINT = "https://agent.example/vesk/handshake/hello"
FAR_FUTURE = 2**62
RAW, X962 = serialization.Encoding.Raw, serialization.Encoding.X962


def b64u(data: bytes) -> str:
    return base64.urlsafe_b64encode(data).rstrip(b"=").decode()


def b64u_decode(text: str) -> bytes:
    return base64.urlsafe_b64decode(text + "=" * (-len(text) % 4))


def payload_of(token: str) -> dict:
    return json.loads(b64u_decode(token.split(".")[1]))


def self_signed(key, days=30) -> bytes:
    """A self-signed certificate in DER; a negative lifetime gives an expired one."""
    name = x509.Name([x509.NameAttribute(NameOID.COMMON_NAME, "peer.example")])
    start = datetime.datetime(2020, 1, 1, tzinfo=datetime.timezone.utc)
    cert = (x509.CertificateBuilder().subject_name(name).issuer_name(name)
            .public_key(key.public_key()).serial_number(days + 1000)
            .not_valid_before(start - datetime.timedelta(days=400))
            .not_valid_after(start + datetime.timedelta(days=days))
            .sign(key, None if isinstance(key, ed25519.Ed25519PrivateKey) else hashes.SHA256()))
    return cert.public_bytes(serialization.Encoding.DER)


def ec_jwk(public_key) -> dict:
    numbers = public_key.public_numbers()
    return {"crv": "P-256", "kty": "EC", "x": b64u(numbers.x.to_bytes(32, "big")),
            "y": b64u(numbers.y.to_bytes(32, "big"))}


class Signer:
    """One agent's key; `seed` is 32 bytes, or one byte value repeated."""

    def __init__(self, seed, suite: str = "ed25519"):
        seed = bytes([seed]) * 32 if isinstance(seed, int) else seed
        self.agent = vesk.VeskAgent.from_seed(seed, suite)
        self.p256 = suite == "p256"
        if self.p256:
            self.private = ec.derive_private_key(int.from_bytes(seed, "big"), ec.SECP256R1())
            raw = self.public_key().public_bytes(X962, serialization.PublicFormat.CompressedPoint)
            self.aid = "aid:pubkey:p256:" + b64u(raw)
            jwk = ec_jwk(self.public_key())
        else:
            self.private = ed25519.Ed25519PrivateKey.from_private_bytes(seed)
            raw = self.public_key().public_bytes(RAW, serialization.PublicFormat.Raw)
            self.aid = "aid:pubkey:" + b64u(raw)
            jwk = {"crv": "Ed25519", "kty": "OKP", "x": b64u(raw)}
        self.jkt = b64u(hashlib.sha256(rfc8785.dumps(jwk)).digest())
        self.alg = "ES256" if self.p256 else "EdDSA"
        assert self.agent.aid == self.aid

    def public_key(self):
        return self.private.public_key()

    def sign_digest(self, digest: bytes) -> str:
        """The signature text over a digest: raw Ed25519, or "p256." and r || s."""
        if not self.p256:
            return b64u(self.private.sign(digest))
        r, s = decode_dss_signature(self.private.sign(digest, ec.ECDSA(hashes.SHA256())))
        return "p256." + b64u(r.to_bytes(32, "big") + s.to_bytes(32, "big"))

    def check_digest(self, digest: bytes, text: str) -> None:
        """Raises unless `text` is this key's signature text over the digest."""
        assert text.startswith("p256.") == self.p256
        raw = b64u_decode(text.removeprefix("p256."))
        if not self.p256:
            return self.public_key().verify(raw, digest)
        der = encode_dss_signature(int.from_bytes(raw[:32], "big"), int.from_bytes(raw[32:], "big"))
        self.public_key().verify(der, digest, ec.ECDSA(hashes.SHA256()))

    def sign_body(self, body) -> str:
        """The signature text over SHA-256 of the body's canonical JSON."""
        return self.sign_digest(hashlib.sha256(rfc8785.dumps(body)).digest())

    def check_body(self, body, text: str) -> None:
        self.check_digest(hashlib.sha256(rfc8785.dumps(body)).digest(), text)

    def jws(self, payload: bytes, typ: str = "vesk-tct+jwt") -> str:
        """A compact JWS over exactly these payload bytes, signed by PyJWT."""
        return jwt.api_jws.encode(payload, self.private, algorithm=self.alg, headers={"typ": typ})

    def token(self, typ: str, claims: dict) -> str:
        """A token over the canonical form of `claims`, members set to None left out."""
        return self.jws(rfc8785.dumps({k: v for k, v in claims.items() if v is not None}), typ)

    def tct_claims(self, holder: "Signer", **overrides) -> dict:
        """The claims of a TCT from this key to `holder`, valid now."""
        now = int(time.time())
        return {"ver": "vesk/0.2", "jti": str(uuid.uuid4()), "iss": self.aid, "sub": holder.aid,
                "aud": holder.aid, "iat": now - 10, "exp": now + 3600, "grants": ["read", "write"],
                "cnf": {"jkt": holder.jkt}, **overrides}

    def tct(self, holder: "Signer", **overrides) -> str:
        return self.token("vesk-tct+jwt", self.tct_claims(holder, **overrides))

    def read(self, token: str, typ: str) -> dict:
        """The claims of a token this key signed, checked by PyJWT; the payload is canonical."""
        assert jwt.get_unverified_header(token) == {"alg": self.alg, "typ": typ}
        payload = jwt.api_jws.PyJWS().decode(token, self.public_key(), [self.alg])
        assert rfc8785.dumps(json.loads(payload)) == payload
        return json.loads(payload)


ALICE, BOB, CAROL_P256 = Signer(1), Signer(2), Signer(3, "p256")
SCRATCH = Signer(9)  # builds manifests freely: no session relies on its manifest

# --- the handshake ---------------------------------------------------------------------------

ISSUER = "https://issuer.example/tenant"
ISSUER_KEY = ec.generate_private_key(ec.SECP256R1())
ISSUER_JWK = {**ec_jwk(ISSUER_KEY.public_key()), "kid": "k1"}


def id_token(subject, holder_aid, audience_aid, nonce):
    now = int(time.time())
    claims = {"iss": ISSUER, "sub": subject, "aud": audience_aid, "iat": now, "exp": now + 300,
              "nonce": nonce, "cnf": {"jkt": vesk.compute_aid_jkt(holder_aid)}}
    return jwt.encode(claims, ISSUER_KEY, algorithm="ES256", headers={"kid": "k1"})


def provider():
    return vesk.JwksProvider({ISSUER: [ISSUER_JWK]})


class Party(Signer):
    """A signer with its built Manifest; `kind` is "<suite>-<pinned|oidc>"."""

    def __init__(self, kind, name, offered):
        suite, identity = kind.split("-")
        super().__init__(hashlib.sha256(name.encode()).digest(), suite)
        self.oidc = identity == "oidc"
        self.subject = f"{name}@agents.example" if self.oidc else name
        oidc = dict(identity_type="oidc", oidc_issuer=ISSUER, oidc_subject=self.subject)
        self.manifest_json = self.agent.build_manifest(
            name, f"https://{name}.example/vesk", offered, **(oidc if self.oidc else {}))
        self.nonces = []

    def minter(self, peer):
        def mint(nonce):
            self.nonces.append(nonce)
            return id_token(self.subject, self.aid, peer.aid, nonce)

        return mint if self.oidc else None

    def prove(self, envelope, payload, verifier_aid):
        """Makes the identity proof of a tampered opening message again."""
        nonce = payload["pop_nonce"]
        if self.oidc:
            payload["identity"]["proof"] = id_token(self.subject, self.aid, verifier_aid, nonce)
            return
        fields = [b"vesk-pinned-key-v1", self.aid.encode(), verifier_aid.encode(),
                  envelope["message_id"].encode(), str(envelope["timestamp"]).encode(),
                  b64u_decode(nonce)]
        payload["identity"]["proof"] = self.sign_digest(hashlib.sha256(b"\x00".join(fields)).digest())


_PARTIES = {}
GRANTS_A, GRANTS_B = ["read", "write"], ["search", "index"]


def party(kind="ed25519-pinned", name="alice"):
    """The party of that kind and name, made once; alice offers GRANTS_A, anyone else GRANTS_B."""
    if (kind, name) not in _PARTIES:
        _PARTIES[kind, name] = Party(kind, name, GRANTS_A if name == "alice" else GRANTS_B)
    return _PARTIES[kind, name]


def edit(envelope_json, change):
    """The envelope with `change(envelope, payload)` applied."""
    envelope = json.loads(envelope_json)
    change(envelope, envelope["payload"])
    return json.dumps(envelope)


class Handshake:
    """One handshake between initiator `a` and responder `b`, one step at a time; each step takes
    the message it receives, by default the one the other side sent. Where either side proves its
    identity by OIDC token, both sessions trust the issuer and hold its key set."""

    STEPS = ("hello", "ack", "commit", "commit_ack", "complete")

    def __init__(self, a=None, b=None, requested=("search", "fly")):
        self.a, self.b = a or party(), b or party(name="bob")
        self.requested = list(requested)
        oidc = dict(jwks=provider(), trust_anchors=[ISSUER]) if self.a.oidc or self.b.oidc else {}
        self.initiator = self.a.agent.new_session(**oidc)
        self.responder = self.b.agent.new_responder(**oidc)

    def hello(self):
        self.hello_json = self.initiator.build_hello(
            self.b.manifest_json, self.requested, self.a.minter(self.b))

    def ack(self, hello=None):
        self.ack_json, self.session_id = self.responder.process_hello(
            hello or self.hello_json, self.b.minter(self.a))

    def commit(self, ack=None):
        self.commit_json = self.initiator.process_hello_ack(ack or self.ack_json, self.session_id)

    def commit_ack(self, commit=None):
        self.commit_ack_json, b_holds = self.responder.process_commit(commit or self.commit_json)
        self.b_holds = json.loads(b_holds)

    def complete(self, commit_ack=None):
        self.a_holds = json.loads(self.initiator.complete(commit_ack or self.commit_ack_json))

    def run(self, until="complete"):
        for step in self.STEPS:
            getattr(self, step)()
            if step == until:
                return self


def artefacts() -> dict:
    """A valid text of each kind. Tokens are signed here; the module's own artefacts (manifests,
    renewal requests, renewed tokens and vouchers) come from its public API."""
    request = BOB.agent.build_renewal_request(ALICE.tct(BOB))
    voucher = json.loads(ALICE.agent.process_renewal_request(request, FAR_FUTURE, 3600))["grant_voucher"]
    bundle = (vesk.SessionBundleBuilder(ALICE.agent).participant(BOB.aid, ALICE.tct(BOB))
              .participant(CAROL_P256.aid, ALICE.tct(CAROL_P256)).build())
    return {
        "tct": ALICE.tct(BOB),
        "voucher": voucher,
        "delegation": BOB.agent.build_delegation(voucher, CAROL_P256.aid, ["read"]),
        "manifest": SCRATCH.agent.build_manifest("Bob", ENDPOINT, ["read", "write"], ["read"]),
        "renewal-request": request,
        "revocation": ALICE.agent.sign_revocation_list([{"jti": str(uuid.uuid4()), "reason": "lost"}]),
        "bundle": bundle,
        "certificate": self_signed(CAROL_P256.private),
    }
