"""Cost of one whole handshake, in one run.

Two Ed25519 agents with pinned-key identities run the four messages (build_hello,
process_hello, process_hello_ack, process_commit, complete). The time is reported against the
sum of the handshake's signature operations, each timed in the same run as a bare Ed25519
sign or verify by the `cryptography` package:

    signs:    2 (hello: proof, envelope) + 2 (hello_ack: proof, envelope)
              + 4 (commit: TCT, voucher, nonce, envelope) + 4 (commit_ack: the same)
    verifies: 3 (hello: Manifest signature and proof of possession, identity proof)
              + 3 (hello_ack: the same) + 3 (commit: nonce, TCT, voucher)
              + 3 (complete: nonce, TCT, voucher)

Run alone, the reference operations run in OpenSSL (through `cryptography`), whose Ed25519
verification is slower than the module's own; a ratio below 1 therefore still leaves room for
overhead. bench/run.py also reports the ratio against libsodium's own sign and verify, timed by
the core benchmark binary in the same run: the fair floor.

    PYTHONPATH=build/dev python bench/bench_handshake.py
"""

from cryptography.hazmat.primitives.asymmetric import ed25519

import vesk
from timing import per_call_many

SIGNS, VERIFIES = 12, 12


def measure() -> dict:
    """Seconds per whole handshake, and per bare `cryptography` Ed25519 sign and verify."""
    alice, bob = vesk.VeskAgent.from_seed(b"\x01" * 32), vesk.VeskAgent.from_seed(b"\x02" * 32)
    bob_manifest = bob.build_manifest("bob", "https://bob.example/vesk", ["search"])
    alice.build_manifest("alice", "https://alice.example/vesk", ["read"])

    def handshake():
        initiator, responder = alice.new_session(), bob.new_responder()
        ack, session_id = responder.process_hello(initiator.build_hello(bob_manifest, ["search"]))
        commit_ack, _ = responder.process_commit(initiator.process_hello_ack(ack, session_id))
        initiator.complete(commit_ack)

    key = ed25519.Ed25519PrivateKey.from_private_bytes(b"\x03" * 32)
    public = key.public_key()
    digest = b"\x04" * 32
    signature = key.sign(digest)

    return per_call_many({
        "handshake": handshake,
        "sign_cryptography": lambda: key.sign(digest),
        "verify_cryptography": lambda: public.verify(signature, digest),
    })


def main():
    measured = measure()
    whole, sign, verify = (measured[k] for k in ("handshake", "sign_cryptography", "verify_cryptography"))
    floor = SIGNS * sign + VERIFIES * verify
    print(f"handshake:            {whole * 1e6:9.1f} us")
    print(f"Ed25519 sign:         {sign * 1e6:9.1f} us  x {SIGNS}")
    print(f"Ed25519 verify:       {verify * 1e6:9.1f} us  x {VERIFIES}")
    print(f"signature operations: {floor * 1e6:9.1f} us")
    print(f"ratio:                {whole / floor:9.2f}")


if __name__ == "__main__":
    main()
