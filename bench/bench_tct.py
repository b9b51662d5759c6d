"""Cost of TCT verification, in one run.

Reports `VeskAgent.verify_tct` against one bare Ed25519 signature check (the `cryptography`
package verifying the same token's signature), and a `verify_tct_cached` hit against an
uncached verification.

    PYTHONPATH=build/dev python bench/bench_tct.py
"""

import base64
import json
import time
import timeit
import uuid

from cryptography.hazmat.primitives import serialization
from cryptography.hazmat.primitives.asymmetric import ed25519

import vesk


def b64u(data: bytes) -> str:
    return base64.urlsafe_b64encode(data).rstrip(b"=").decode()


def make_token():
    issuer_key = ed25519.Ed25519PrivateKey.from_private_bytes(bytes([1]) * 32)
    holder = vesk.VeskAgent.from_seed(bytes([2]) * 32)
    issuer_aid = "aid:pubkey:" + b64u(issuer_key.public_key().public_bytes(
        serialization.Encoding.Raw, serialization.PublicFormat.Raw))
    now = int(time.time())
    claims = {
        "aud": holder.aid, "cnf": {"jkt": vesk.compute_aid_jkt(holder.aid)}, "exp": now + 3600,
        "grants": ["read", "write"], "iat": now, "iss": issuer_aid, "jti": str(uuid.uuid4()),
        "sub": holder.aid, "ver": "vesk/0.2",
    }
    payload = json.dumps(claims, separators=(",", ":"), sort_keys=True).encode()
    signing_input = b64u(b'{"alg":"EdDSA","typ":"vesk-tct+jwt"}') + "." + b64u(payload)
    signature = issuer_key.sign(signing_input.encode())
    return holder, issuer_key.public_key(), signing_input, signature


def per_call(call, seconds=1.0):
    """Best-of-five mean seconds per call."""
    number, _ = timeit.Timer(call).autorange()
    number = max(number, int(number * seconds / 0.2))
    return min(timeit.repeat(call, number=number, repeat=5)) / number


def main():
    holder, public_key, signing_input, signature = make_token()
    token = signing_input + "." + b64u(signature)
    message = signing_input.encode()
    store = vesk.TctStore(16)
    holder.verify_tct_cached(token, "read", store)

    bare = per_call(lambda: public_key.verify(signature, message))
    full = per_call(lambda: holder.verify_tct(token, "read"))
    hit = per_call(lambda: holder.verify_tct_cached(token, "read", store))

    def miss():
        store.clear()
        holder.verify_tct_cached(token, "read", store)

    uncached = per_call(miss)
    print(f"bare Ed25519 verify (cryptography): {bare * 1e6:8.2f} us")
    print(f"verify_tct:                         {full * 1e6:8.2f} us  = {full / bare:.2f} x bare verify")
    print(f"verify_tct_cached, miss:            {uncached * 1e6:8.2f} us")
    print(f"verify_tct_cached, hit:             {hit * 1e6:8.2f} us  = {hit / uncached:.3f} x uncached")


if __name__ == "__main__":
    main()
