"""Cost of TCT verification from Python, in one run.

`VeskAgent.verify_tct` against one bare Ed25519 signature check by `cryptography` of the same
token, against PyJWT doing the same work (key from the issuer AID, signature, exp/iat/aud/iss,
type, version, required grant and the cnf thumbprint of the subject's key), a `TctStore` hit
against a miss, and ES256 against EdDSA tokens.

    PYTHONPATH=build/dev python bench/bench_tct.py
"""

import base64
import hashlib
import json
import time
import uuid

import jwt
from cryptography.hazmat.primitives import hashes, serialization
from cryptography.hazmat.primitives.asymmetric import ec, ed25519
from cryptography.hazmat.primitives.asymmetric.utils import decode_dss_signature

import vesk
from timing import per_call_many


def b64u(data: bytes) -> str:
    return base64.urlsafe_b64encode(data).rstrip(b"=").decode()


def unb64u(text: str) -> bytes:
    return base64.urlsafe_b64decode(text + "=" * (-len(text) % 4))


def make_token(suite: str, holder: vesk.VeskAgent, ext: str = None):
    """A TCT for `holder` signed by a `cryptography` key of the suite, and that key; `ext`, a
    JSON text, goes into {"shape": ext} as the token's `ext`."""
    seed = bytes([1]) * 32
    if suite == "ed25519":
        key = ed25519.Ed25519PrivateKey.from_private_bytes(seed)
        alg = "EdDSA"
        sign = key.sign
    else:
        key = ec.derive_private_key(int.from_bytes(seed, "big"), ec.SECP256R1())
        alg = "ES256"

        def sign(message):
            r, s = decode_dss_signature(key.sign(message, ec.ECDSA(hashes.SHA256())))
            return r.to_bytes(32, "big") + s.to_bytes(32, "big")

    issuer = vesk.VeskAgent.from_seed(seed, suite).aid
    now = int(time.time())
    claims = {
        "aud": holder.aid, "cnf": {"jkt": vesk.compute_aid_jkt(holder.aid)}, "exp": now + 3600,
        "grants": ["read", "write"], "iat": now, "iss": issuer, "jti": str(uuid.uuid4()),
        "sub": holder.aid, "ver": "vesk/0.2",
    }
    header = json.dumps({"alg": alg, "typ": "vesk-tct+jwt"}, separators=(",", ":")).encode()
    payload = json.dumps(claims, separators=(",", ":"), sort_keys=True).encode()
    if ext is not None:
        payload = payload[:-1] + b',"ext":{"shape":' + ext.encode() + b"}}"
    signing_input = b64u(header) + "." + b64u(payload)
    return signing_input + "." + b64u(sign(signing_input.encode())), key.public_key()


def ed25519_jkt(aid: str) -> str:
    jwk = '{"crv":"Ed25519","kty":"OKP","x":"%s"}' % aid.rsplit(":", 1)[1]
    return b64u(hashlib.sha256(jwk.encode()).digest())


def ed25519_key(aid: str):
    return ed25519.Ed25519PublicKey.from_public_bytes(unb64u(aid.rsplit(":", 1)[1]))


def pyjwt_verify(token: str, own_aid: str, required_grant: str, alg: str = "EdDSA",
                 aid_key=ed25519_key, jkt=ed25519_jkt) -> dict:
    """What verify_tct does, with PyJWT and `cryptography`: `aid_key` and `jkt` give an AID's
    public key and thumbprint in the token's suite."""
    issuer = json.loads(unb64u(token.split(".")[1]))["iss"]
    decoded = jwt.decode_complete(
        token, aid_key(issuer), algorithms=[alg], audience=own_aid, issuer=issuer,
        options={"require": ["exp", "iat", "aud", "iss", "sub", "jti"]})
    claims = decoded["payload"]
    if decoded["header"].get("typ") != "vesk-tct+jwt" or claims.get("ver") != "vesk/0.2":
        raise ValueError("wrong token type or version")
    if claims["cnf"]["jkt"] != jkt(claims["sub"]):
        raise ValueError("cnf.jkt does not match the subject key")
    if required_grant not in claims["grants"]:
        raise ValueError("grant missing")
    return claims


def measure() -> dict:
    """Seconds per call of each measured operation."""
    holder = vesk.VeskAgent.from_seed(bytes([2]) * 32)
    token, public_key = make_token("ed25519", holder)
    es256_token, _ = make_token("p256", holder)
    signing_input, signature = token.rsplit(".", 1)
    message, signature = signing_input.encode(), unb64u(signature)
    store = vesk.TctStore(16)
    assert holder.verify_tct_cached(token, "read", store).jti == pyjwt_verify(token, holder.aid, "read")["jti"]
    holder.verify_tct(es256_token, "read")

    def miss():
        store.clear()
        holder.verify_tct_cached(token, "read", store)

    return per_call_many({
        "bare_verify_cryptography": lambda: public_key.verify(signature, message),
        "verify_tct": lambda: holder.verify_tct(token, "read"),
        "verify_tct_es256": lambda: holder.verify_tct(es256_token, "read"),
        "pyjwt": lambda: pyjwt_verify(token, holder.aid, "read"),
        "cached_hit": lambda: holder.verify_tct_cached(token, "read", store),
        "cached_miss": miss,
    })


def main():
    for name, seconds in measure().items():
        print(f"{name:26s} {seconds * 1e6:9.2f} us")


if __name__ == "__main__":
    main()
