"""Agent keys held twice, by the module (`VeskAgent.from_seed`) and by `cryptography`, so that
tests sign, mint and check artefacts independently of the module."""

import base64
import datetime
import hashlib
import json
import uuid

import jwt
import rfc8785
from cryptography import x509
from cryptography.hazmat.primitives import hashes, serialization
from cryptography.hazmat.primitives.asymmetric import ec, ed25519
from cryptography.hazmat.primitives.asymmetric.utils import (
    decode_dss_signature,
    encode_dss_signature,
)
from cryptography.x509.oid import NameOID

import vesk


def b64u(data: bytes) -> str:
    return base64.urlsafe_b64encode(data).rstrip(b"=").decode()


def b64u_decode(text: str) -> bytes:
    return base64.urlsafe_b64decode(text + "=" * (-len(text) % 4))


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


def payload_of(token: str) -> dict:
    return json.loads(b64u_decode(token.split(".")[1]))


class Signer:
    def __init__(self, seed_byte: int, suite: str = "ed25519"):
        seed = bytes([seed_byte]) * 32
        self.agent = vesk.VeskAgent.from_seed(seed, suite)
        self.p256 = suite == "p256"
        if self.p256:
            self.private = ec.derive_private_key(int.from_bytes(seed, "big"), ec.SECP256R1())
            point = self.private.public_key().public_numbers()
            raw = self.private.public_key().public_bytes(
                serialization.Encoding.X962, serialization.PublicFormat.CompressedPoint)
            self.aid = "aid:pubkey:p256:" + b64u(raw)
            jwk = {"crv": "P-256", "kty": "EC", "x": b64u(point.x.to_bytes(32, "big")),
                   "y": b64u(point.y.to_bytes(32, "big"))}
        else:
            self.private = ed25519.Ed25519PrivateKey.from_private_bytes(seed)
            raw = self.private.public_key().public_bytes(
                serialization.Encoding.Raw, serialization.PublicFormat.Raw)
            self.aid = "aid:pubkey:" + b64u(raw)
            jwk = {"crv": "Ed25519", "kty": "OKP", "x": b64u(raw)}
        self.jkt = b64u(hashlib.sha256(rfc8785.dumps(jwk)).digest())
        self.alg = "ES256" if self.p256 else "EdDSA"
        assert self.agent.aid == self.aid

    def public_key(self):
        return self.private.public_key()

    def sign_body(self, body) -> str:
        """The signature text over SHA-256 of the body's canonical JSON."""
        digest = hashlib.sha256(rfc8785.dumps(body)).digest()
        if not self.p256:
            return b64u(self.private.sign(digest))
        r, s = decode_dss_signature(self.private.sign(digest, ec.ECDSA(hashes.SHA256())))
        return "p256." + b64u(r.to_bytes(32, "big") + s.to_bytes(32, "big"))

    def check_body(self, body, text: str) -> None:
        """Raises unless `text` is this key's signature over the body's canonical JSON."""
        digest = hashlib.sha256(rfc8785.dumps(body)).digest()
        raw = base64.urlsafe_b64decode(text.removeprefix("p256.") + "==")
        if not self.p256:
            return self.private.public_key().verify(raw, digest)
        assert text.startswith("p256.")
        der = encode_dss_signature(int.from_bytes(raw[:32], "big"), int.from_bytes(raw[32:], "big"))
        self.private.public_key().verify(der, digest, ec.ECDSA(hashes.SHA256()))

    def tct(self, holder: "Signer", iat: int, exp: int, jti=None, **overrides) -> str:
        """A TCT issued by this key to `holder`, minted with PyJWT over canonical claims."""
        claims = {"ver": "vesk/0.2", "jti": str(jti or uuid.uuid4()), "iss": self.aid,
                  "sub": holder.aid, "aud": holder.aid, "iat": iat, "exp": exp,
                  "grants": ["read"], "cnf": {"jkt": holder.jkt}, **overrides}
        return jwt.api_jws.encode(rfc8785.dumps(claims), self.private,
                                  algorithm="ES256" if self.p256 else "EdDSA",
                                  headers={"typ": "vesk-tct+jwt"})

    def jws(self, payload: bytes, typ: str = "vesk-tct+jwt") -> str:
        """A compact JWS over exactly these payload bytes, assembled by hand."""
        header = ('{"alg":"%s","typ":"%s"}' % (self.alg, typ)).encode()
        signing_input = (b64u(header) + "." + b64u(payload)).encode()
        if self.p256:
            r, s = decode_dss_signature(self.private.sign(signing_input, ec.ECDSA(hashes.SHA256())))
            signature = r.to_bytes(32, "big") + s.to_bytes(32, "big")
        else:
            signature = self.private.sign(signing_input)
        return signing_input.decode() + "." + b64u(signature)

    def token(self, typ: str, claims: dict) -> str:
        """A token over the canonical form of `claims`, members set to None left out."""
        return self.jws(rfc8785.dumps({k: v for k, v in claims.items() if v is not None}), typ)

    def read(self, token: str, typ: str) -> dict:
        """The claims of a token this key signed, checked by PyJWT; the payload is canonical."""
        assert jwt.get_unverified_header(token) == {"alg": self.alg, "typ": typ}
        payload = jwt.api_jws.PyJWS().decode(token, self.public_key(), [self.alg])
        assert rfc8785.dumps(json.loads(payload)) == payload
        return json.loads(payload)
