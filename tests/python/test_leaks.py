"""Each public operation, repeated, keeps memory flat: neither Python objects (traced by
tracemalloc) nor the native heap (glibc's malloc statistics) grow with the number of calls."""

import ctypes
import json
import tracemalloc

import pytest

import vesk
from parties import ALICE, BOB, CAROL_P256, ENDPOINT, FAR_FUTURE, SCRATCH, Handshake, artefacts, party

ARTEFACTS = artefacts()
WARM_UP, ROUNDS, MAX_WINDOWS = 200, 200, 10
NATIVE_BYTES_PER_CALL = 8  # a leaked key, string or exception costs far more than this
PYTHON_BYTES_PER_CALL = 4


class MallInfo2(ctypes.Structure):
    _fields_ = [(name, ctypes.c_size_t) for name in
                "arena ordblks smblks hblks hblkhd usmblks fsmblks uordblks fordblks keepcost".split()]


def native_heap():
    """Bytes in use on the malloc heap, or None where glibc's statistics are not available (a
    sanitizer's allocator, another C library)."""
    try:
        mallinfo2 = ctypes.CDLL(None).mallinfo2
    except AttributeError:
        return None
    mallinfo2.restype = MallInfo2
    return lambda: mallinfo2().uordblks + mallinfo2().hblkhd


def heap_is_glibc(measure):
    before = measure()
    block = ctypes.create_string_buffer(1 << 20)
    grew = measure() - before >= 1 << 20
    del block
    return grew


NATIVE = native_heap()
if NATIVE and not heap_is_glibc(NATIVE):
    NATIVE = None


def failing(call, exception):
    def run():
        with pytest.raises(exception):
            call()
    return run


def fields(obj, *names):
    return tuple(getattr(obj, name) for name in names)


def operations():
    tct, manifest, request, delegation, revocation, bundle, cert = (ARTEFACTS[name] for name in (
        "tct", "manifest", "renewal-request", "delegation", "revocation", "bundle", "certificate"))
    store = vesk.TctStore(4)
    expired = json.dumps({"manifest": json.loads(manifest)["manifest"]})
    revoked = {"x", BOB.agent.verify_tct(tct, "read").jti}
    jti = "7d444840-9dc0-41d1-b245-5ffdce74fad2"
    tampered = tct[:-3] + ("A" if tct[-3] != "A" else "B") + tct[-2:]
    verified = vesk.verify_delegation(delegation, ALICE.aid)
    pins = vesk.SpkiPinVerifier([bytes(32), vesk.compute_spki_hash(cert)])
    jwk = {"kty": "OKP", "crv": "Ed25519", "x": BOB.aid.rsplit(":", 1)[1]}
    stale = Handshake().run(until="ack").ack_json

    def key_sets():
        provider = vesk.JwksProvider({"https://a.example": [jwk]})
        provider.upsert("https://b.example", [jwk, jwk])
        provider.remove("https://a.example")
        return provider.issuers()

    return {
        "generate": lambda: vesk.VeskAgent.generate().aid,
        "generate-p256": lambda: vesk.VeskAgent.generate("p256").aid,
        "from_seed": lambda: vesk.VeskAgent.from_seed(bytes([5]) * 32),
        "from_seed-bad": failing(lambda: vesk.VeskAgent.from_seed(bytes(32), "p256"), ValueError),
        "compute_aid_jkt": lambda: vesk.compute_aid_jkt(CAROL_P256.aid),
        "compute_aid_jkt-bad": failing(lambda: vesk.compute_aid_jkt("aid:x"), ValueError),
        "build_manifest": lambda: SCRATCH.agent.build_manifest("n", ENDPOINT, ["a", "b"], ["c"],
                                                               accepted_trust_anchors=[ENDPOINT]),
        "build_manifest-bad": failing(lambda: SCRATCH.agent.build_manifest("n", "no url", []), ValueError),
        "verify_manifest_json": lambda: vesk.verify_manifest_json(manifest),
        "verify_manifest_json-code": failing(lambda: vesk.verify_manifest_json(expired, FAR_FUTURE),
                                             vesk.ManifestVerificationError),
        "verify_manifest_json-malformed": failing(lambda: vesk.verify_manifest_json(manifest[:-1]), ValueError),
        "verify_tct": lambda: fields(BOB.agent.verify_tct(tct, "read"), "peer_aid", "grants", "jti", "expires_at"),
        "verify_tct-tampered": failing(lambda: BOB.agent.verify_tct(tampered, "read"), RuntimeError),
        "verify_tct-malformed": failing(lambda: BOB.agent.verify_tct("a.b", "read"), ValueError),
        "verify_tct-revoked": failing(lambda: BOB.agent.verify_tct(tct, "read", BOB.aid, revoked), RuntimeError),
        "verify_tct_cached-hit": lambda: BOB.agent.verify_tct_cached(tct, "read", store),
        "verify_tct_cached-miss": lambda: (store.clear(), BOB.agent.verify_tct_cached(tct, "read", store)),
        "TctStore": lambda: vesk.TctStore(8).len(),
        "build_renewal_request": lambda: BOB.agent.build_renewal_request(tct),
        "process_renewal_request": lambda: ALICE.agent.process_renewal_request(request, FAR_FUTURE, 60),
        "process_renewal_request-bad": failing(lambda: ALICE.agent.process_renewal_request(request, 0, 60),
                                               RuntimeError),
        "wrong-type": failing(lambda: BOB.agent.verify_tct(tct, ["read"]), TypeError),
        "missing-argument": failing(lambda: BOB.agent.verify_tct(tct), TypeError),
        "build_delegation": lambda: BOB.agent.build_delegation(ARTEFACTS["voucher"], CAROL_P256.aid, ["read"]),
        "verify_delegation": lambda: fields(vesk.verify_delegation_multihop(delegation, ALICE.aid, 2),
                                            "delegator", "delegatee", "issued_by", "grants", "cnf"),
        "verify_delegation-bad": failing(lambda: vesk.verify_delegation(delegation, BOB.aid), RuntimeError),
        "issue_tct_for_delegatee": lambda: ALICE.agent.issue_tct_for_delegatee(verified),
        "sign_revocation_list": lambda: ALICE.agent.sign_revocation_list(
            [{"jti": jti, "reason": "lost", "revoked_at": 5}]),
        "sign_revocation_list-bad": failing(lambda: ALICE.agent.sign_revocation_list([{"reason": 1}]), ValueError),
        "verify_revocation_list": lambda: vesk.verify_revocation_list(revocation, ALICE.aid),
        "verify_revocation_list-code": failing(lambda: vesk.verify_revocation_list(revocation, BOB.aid),
                                               vesk.RevocationVerificationError),
        "revocation_signing_bytes": lambda: vesk.revocation_signing_bytes(revocation),
        "SessionBundleBuilder": lambda: vesk.SessionBundleBuilder(ALICE.agent).session_id(jti).issued_at(5)
        .participant(BOB.aid, tct).build(),
        "verify_session_bundle": lambda: vesk.verify_session_bundle(bundle, BOB.aid, None, lambda jti: True),
        "verify_session_bundle-raising-callback": lambda: vesk.verify_session_bundle(
            bundle, BOB.aid, None, lambda jti: 1 / 0),
        "compute_spki_hash": lambda: vesk.compute_spki_hash(cert),
        "compute_spki_hash-bad": failing(lambda: vesk.compute_spki_hash(cert[:-1]), ValueError),
        "is_pinned": lambda: pins.is_pinned(cert) and pins.len,
        "JwksProvider": key_sets,
        "handshake": lambda: Handshake().run(),
        "handshake-out-of-order": failing(lambda: party().agent.new_session().process_hello_ack(stale, ""),
                                          RuntimeError),
    }


OPERATIONS = operations()


def settles(operation, measure, bytes_per_call, rounds=ROUNDS):
    """Whether some window of calls grows memory by no more than `bytes_per_call` each: a leak
    grows in every window, while the interpreter's caches stop growing once filled (raising
    with a note takes the longest to fill, a few hundred calls under a sanitizer)."""
    for _ in range(WARM_UP):
        operation()
    for _ in range(MAX_WINDOWS):
        before = measure()
        for _ in range(rounds):
            operation()
        if measure() - before <= bytes_per_call * rounds:
            return True
    return False


@pytest.mark.parametrize("name", sorted(OPERATIONS))
def test_repeated_operation_keeps_memory_flat(name):
    operation = OPERATIONS[name]
    rounds = ROUNDS // 5 if name == "handshake" else ROUNDS  # a whole handshake is 24 signatures
    if NATIVE is not None:
        assert settles(operation, NATIVE, NATIVE_BYTES_PER_CALL, rounds)
    tracemalloc.start()
    try:
        assert settles(operation, lambda: tracemalloc.get_traced_memory()[0], PYTHON_BYTES_PER_CALL, rounds)
    finally:
        tracemalloc.stop()
