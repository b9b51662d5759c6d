"""Capability tokens from Python: verification, the verification cache and in-band renewal.

Tokens under test are minted here, independently of the module: the issuer's private key is
loaded into `cryptography`, the claims are canonicalised with `rfc8785` and the compact JWS is
assembled by hand. Tokens the module mints are checked the other way round with PyJWT.
"""

import base64
import hashlib
import json
import statistics
import time
import uuid

import jwt
import pytest
import rfc8785
from cryptography.hazmat.primitives import hashes, serialization
from cryptography.hazmat.primitives.asymmetric import ec, ed25519
from cryptography.hazmat.primitives.asymmetric.utils import decode_dss_signature

import vesk

I64_MIN = -(2**63)


def b64u(data: bytes) -> str:
    return base64.urlsafe_b64encode(data).rstrip(b"=").decode()


def b64u_decode(text: str) -> bytes:
    return base64.urlsafe_b64decode(text + "=" * (-len(text) % 4))


class Party:
    """An agent of the module together with the same key held by `cryptography`."""

    def __init__(self, seed_byte: int, suite: str = "ed25519"):
        seed = bytes([seed_byte]) * 32
        self.agent = vesk.VeskAgent.from_seed(seed, suite)
        self.suite = suite
        if suite == "ed25519":
            self.private = ed25519.Ed25519PrivateKey.from_private_bytes(seed)
            raw = self.private.public_key().public_bytes(
                serialization.Encoding.Raw, serialization.PublicFormat.Raw
            )
            self.aid = "aid:pubkey:" + b64u(raw)
            jwk = {"crv": "Ed25519", "kty": "OKP", "x": b64u(raw)}
            self.alg = "EdDSA"
        else:
            self.private = ec.derive_private_key(int.from_bytes(seed, "big"), ec.SECP256R1())
            public = self.private.public_key()
            compressed = public.public_bytes(
                serialization.Encoding.X962, serialization.PublicFormat.CompressedPoint
            )
            self.aid = "aid:pubkey:p256:" + b64u(compressed)
            numbers = public.public_numbers()
            jwk = {
                "crv": "P-256",
                "kty": "EC",
                "x": b64u(numbers.x.to_bytes(32, "big")),
                "y": b64u(numbers.y.to_bytes(32, "big")),
            }
            self.alg = "ES256"
        self.jkt = b64u(hashlib.sha256(json.dumps(jwk, separators=(",", ":")).encode()).digest())
        assert self.agent.aid == self.aid

    def public_key(self):
        return self.private.public_key()

    def sign(self, signing_input: bytes) -> bytes:
        if self.suite == "ed25519":
            return self.private.sign(signing_input)
        r, s = decode_dss_signature(self.private.sign(signing_input, ec.ECDSA(hashes.SHA256())))
        return r.to_bytes(32, "big") + s.to_bytes(32, "big")

    def jws(self, payload: bytes, typ: str = "vesk-tct+jwt", header: bytes = None) -> str:
        if header is None:
            header = ('{"alg":"%s","typ":"%s"}' % (self.alg, typ)).encode()
        signing_input = b64u(header) + "." + b64u(payload)
        return signing_input + "." + b64u(self.sign(signing_input.encode()))

    def tct(self, holder: "Party", **overrides) -> str:
        return self.jws(rfc8785.dumps(claims_for(self, holder, **overrides)))


ALICE = Party(1)
BOB = Party(2)
CAROL_P256 = Party(3, "p256")
DAVE_P256 = Party(4, "p256")


def claims_for(issuer: Party, holder: Party, **overrides) -> dict:
    now = int(time.time())
    claims = {
        "ver": "vesk/0.2",
        "jti": str(uuid.uuid4()),
        "iss": issuer.aid,
        "sub": holder.aid,
        "aud": holder.aid,
        "iat": now - 10,
        "exp": now + 600,
        "grants": ["read", "write"],
        "cnf": {"jkt": holder.jkt},
    }
    claims.update(overrides)
    return {k: v for k, v in claims.items() if v is not None}


def at_steady_second(make_and_check):
    """Runs `make_and_check(now)` until it starts and ends within one clock second."""
    for _ in range(20):
        now = int(time.time())
        outcome = make_and_check(now)
        if int(time.time()) == now:
            return outcome
    raise AssertionError("clock kept moving")


def outcome_of(call):
    try:
        return call()
    except (ValueError, RuntimeError) as error:
        return error


# --- verify_tct ---------------------------------------------------------------------------


@pytest.mark.parametrize(
    "issuer,holder",
    [(ALICE, BOB), (CAROL_P256, BOB), (ALICE, DAVE_P256), (CAROL_P256, DAVE_P256)],
    ids=["eddsa-ed25519", "es256-ed25519", "eddsa-p256", "es256-p256"],
)
def test_independently_minted_token_verifies_to_its_identity(issuer, holder):
    jti = uuid.uuid4()
    claims = claims_for(issuer, holder, jti=str(jti).upper(), grants=["b", "a", "b"])
    identity = holder.agent.verify_tct(issuer.jws(rfc8785.dumps(claims)), "a")
    assert isinstance(identity, vesk.TctIdentity)
    assert identity.peer_aid == issuer.aid
    assert identity.grants == ["b", "a", "b"]
    assert identity.jti == str(jti)
    assert identity.expires_at == claims["exp"]
    # Properties are fresh objects, and the class cannot be made from Python.
    assert identity.grants is not identity.grants
    with pytest.raises(TypeError, match="cannot create 'builtins.TctIdentity' instances"):
        vesk.TctIdentity()


@pytest.mark.parametrize(
    "iat_offset,exp_offset,valid",
    [(0, 0, True), (-5, -1, False), (1, 5, False), (-100, 100, True)],
    ids=["iat-and-exp-equal-now", "exp-one-second-ago", "iat-one-second-ahead", "inside"],
)
def test_validity_window_is_inclusive_at_both_ends(iat_offset, exp_offset, valid):
    def check(now):
        token = ALICE.tct(BOB, iat=now + iat_offset, exp=now + exp_offset)
        return outcome_of(lambda: BOB.agent.verify_tct(token, "read"))

    outcome = at_steady_second(check)
    if valid:
        assert isinstance(outcome, vesk.TctIdentity)
    else:
        assert isinstance(outcome, RuntimeError)
        assert str(outcome) == "TCT verification failed: TCT has expired or is not yet valid"


def failing_tokens():
    wrong_header = b'{"alg":"EdDSA","typ":"vesk-tct+jwt","kid":"k"}'
    other = Party(9)
    tampered = ALICE.tct(BOB)
    tampered = tampered[:-2] + ("A" if tampered[-2] != "A" else "B") + tampered[-1]
    return [
        ("aud-not-sub", ALICE.tct(BOB, aud=CAROL_P256.aid), "TCT audience does not match"),
        ("other-holder", ALICE.tct(CAROL_P256), "TCT audience does not match"),
        ("tampered-signature", tampered, "signature verification failed"),
        ("signed-by-another-key", other.jws(rfc8785.dumps(claims_for(ALICE, BOB))),
         "signature verification failed"),
        ("wrong-typ", ALICE.jws(rfc8785.dumps(claims_for(ALICE, BOB)), typ="JWT"),
         "JWS typ header mismatch: expected vesk-tct+jwt, got JWT"),
        ("es256-header-for-ed25519-issuer",
         ALICE.jws(rfc8785.dumps(claims_for(ALICE, BOB)), header=b'{"alg":"ES256","typ":"vesk-tct+jwt"}'),
         "JWS alg header does not match the signer AID's algorithm: expected EdDSA for this AID, got ES256"),
        ("extra-header-member", ALICE.jws(rfc8785.dumps(claims_for(ALICE, BOB)), header=wrong_header),
         "compact JWS malformed: protected header: unknown field `kid`, expected `alg` or `typ` at line 1 column 41"),
        ("old-version", ALICE.tct(BOB, ver="vesk/0.1"), "TCT version is not supported"),
        ("empty-grants", ALICE.tct(BOB, grants=[]), "TCT grants must be non-empty"),
        ("cnf-of-another-key", ALICE.tct(BOB, cnf={"jkt": ALICE.jkt}), "TCT cnf.jkt does not match the subject key"),
    ]


@pytest.mark.parametrize("token,text", [case[1:] for case in failing_tokens()],
                         ids=[case[0] for case in failing_tokens()])
def test_each_failed_check_raises_its_text(token, text):
    with pytest.raises(RuntimeError) as raised:
        BOB.agent.verify_tct(token, "read")
    assert str(raised.value) == "TCT verification failed: " + text


def test_expected_audience_is_compared_as_text():
    token = ALICE.tct(BOB)
    assert CAROL_P256.agent.verify_tct(token, "read", expected_audience=BOB.aid).peer_aid == ALICE.aid
    with pytest.raises(RuntimeError, match="^TCT verification failed: TCT audience does not match$"):
        CAROL_P256.agent.verify_tct(token, "read")
    long_form = BOB.aid.replace("aid:pubkey:", "aid:pubkey:ed25519:")
    with pytest.raises(RuntimeError, match="TCT audience does not match"):
        BOB.agent.verify_tct(token, "read", expected_audience=long_form)
    with pytest.raises(ValueError) as raised:
        BOB.agent.verify_tct(token, "read", expected_audience="example.com")
    assert str(raised.value).startswith("bad expected_audience AID 'example.com': ")


def test_missing_grant_lists_the_granted_ones():
    token = ALICE.tct(BOB, grants=["read", 'say "hi"\n'])
    with pytest.raises(RuntimeError) as raised:
        BOB.agent.verify_tct(token, "admin")
    assert str(raised.value) == "TCT does not grant 'admin'; grants: [\"read\", \"say \\\"hi\\\"\\n\"]"


def test_revoked_jti_is_refused_only_for_its_exact_text():
    jti = str(uuid.uuid4())
    token = ALICE.tct(BOB, jti=jti)
    for revoked in (set(), {jti.upper()}, frozenset({"x"})):
        assert BOB.agent.verify_tct(token, "read", revoked_jtis=revoked).jti == jti
    for revoked in ({jti}, frozenset({jti, "y"})):
        with pytest.raises(RuntimeError, match="^TCT verification failed: TCT jti is revoked$"):
            BOB.agent.verify_tct(token, "read", revoked_jtis=revoked)
    with pytest.raises(TypeError):
        BOB.agent.verify_tct(token, "read", revoked_jtis=[jti])
    # Revocation is the last check: an expired revoked token reports its expiry, and a revoked
    # token that lacks the grant reports the revocation.
    expired = ALICE.tct(BOB, jti=jti, iat=0, exp=1)
    with pytest.raises(RuntimeError, match="expired"):
        BOB.agent.verify_tct(expired, "read", revoked_jtis={jti})
    with pytest.raises(RuntimeError, match="revoked"):
        BOB.agent.verify_tct(token, "admin", revoked_jtis={jti})


@pytest.mark.parametrize(
    "payload,message",
    [
        ({"nbf": 1}, "invalid TCT claims: unknown field `nbf`, expected one of `ver`, `jti`, `iss`, "
                     "`sub`, `aud`, `iat`, `exp`, `grants`, `cnf`, `ext`"),
        ({"cnf": {"jkt": "x", "kid": "y"}}, "invalid TCT claims: unknown field `kid`, expected `jkt`"),
        ({"aud": "example.com"}, "invalid TCT claims: AID does not start with 'aid:'"),
        ({"jti": "not-a-uuid"}, "invalid TCT claims: UUID parsing failed: "),
        ({"exp": 2**63}, "invalid TCT claims: "),
    ],
    ids=["unknown-claim", "unknown-cnf-member", "aud-not-an-aid", "bad-jti", "exp-out-of-range"],
)
def test_malformed_claims_raise_value_error_before_any_check(payload, message):
    claims = claims_for(ALICE, BOB)
    claims.update(payload)
    token = ALICE.jws(json.dumps(claims).encode())  # the reader does not need canonical bytes
    with pytest.raises(ValueError) as raised:
        BOB.agent.verify_tct(token, "read", expected_audience="not an aid either")
    assert str(raised.value).startswith(message)


def test_token_that_is_not_three_segments_is_malformed():
    for token in ("a.b", "a.b.c.d", "a..c", ALICE.tct(BOB) + "."):
        with pytest.raises(ValueError) as raised:
            BOB.agent.verify_tct(token, "read", expected_audience="bad")
        assert str(raised.value) == (
            "malformed TCT compact JWS: compact JWS malformed: expected exactly three non-empty segments"
        )


def test_ext_claim_is_accepted_and_null_means_absent():
    for ext in ({"tier": {"b": 1, "a": [True, None]}}, None):
        claims = claims_for(ALICE, BOB)
        claims["ext"] = ext
        assert BOB.agent.verify_tct(ALICE.jws(rfc8785.dumps(claims)), "write").peer_aid == ALICE.aid


# --- verify_tct_cached and TctStore ---------------------------------------------------------


def test_store_construction_and_methods():
    with pytest.raises(ValueError, match="^max_entries must be >= 1$"):
        vesk.TctStore(0)
    with pytest.raises(OverflowError):
        vesk.TctStore(-1)
    store = vesk.TctStore(max_entries=1)
    assert store.len() == 0
    with pytest.raises(TypeError):
        len(store)
    assert store.clear() is None
    with pytest.raises(TypeError):
        BOB.agent.verify_tct_cached(ALICE.tct(BOB), "read", object())


def median_seconds(call, rounds=30):
    samples = []
    for _ in range(rounds):
        start = time.perf_counter()
        call()
        samples.append(time.perf_counter() - start)
    return statistics.median(samples)


def test_hit_returns_the_same_identity_without_the_signature_check():
    store = vesk.TctStore(8)
    token = ALICE.tct(BOB)
    first = BOB.agent.verify_tct_cached(token, "read", store)
    assert store.len() == 1
    again = BOB.agent.verify_tct_cached(token, "write", store)
    assert store.len() == 1
    assert (again.peer_aid, again.grants, again.jti, again.expires_at) == (
        first.peer_aid, first.grants, first.jti, first.expires_at)

    def uncached():
        store.clear()
        BOB.agent.verify_tct_cached(token, "read", store)

    hit = median_seconds(lambda: BOB.agent.verify_tct_cached(token, "read", store))
    miss = median_seconds(uncached)
    assert hit * 4 < miss, (hit, miss)


def test_cheap_checks_still_run_on_a_hit():
    store = vesk.TctStore(8)
    jti = str(uuid.uuid4())
    token = ALICE.tct(BOB, jti=jti, exp=int(time.time()) + 2)
    BOB.agent.verify_tct_cached(token, "read", store)

    with pytest.raises(RuntimeError, match="^TCT verification failed: TCT jti is revoked$"):
        BOB.agent.verify_tct_cached(token, "read", store, revoked_jtis={jti})
    with pytest.raises(RuntimeError, match="^TCT does not grant 'admin'"):
        BOB.agent.verify_tct_cached(token, "admin", store)
    with pytest.raises(RuntimeError, match="TCT audience does not match"):
        BOB.agent.verify_tct_cached(token, "read", store, expected_audience=ALICE.aid)
    with pytest.raises(RuntimeError, match="TCT audience does not match"):
        ALICE.agent.verify_tct_cached(token, "read", store)
    # Failures leave the entry in place, and it still answers.
    assert store.len() == 1
    assert BOB.agent.verify_tct_cached(token, "read", store).jti == jti

    time.sleep(max(0.0, token_exp(token) + 1 - time.time()) + 0.05)
    with pytest.raises(RuntimeError, match="^TCT verification failed: TCT has expired or is not yet valid$"):
        BOB.agent.verify_tct_cached(token, "read", store)
    assert store.len() == 1


def token_exp(token):
    return json.loads(b64u_decode(token.split(".")[1]))["exp"]


def test_store_answers_exactly_like_verify_tct():
    store = vesk.TctStore(4)
    for token, text in [case[1:] for case in failing_tokens()]:
        with pytest.raises(RuntimeError) as raised:
            BOB.agent.verify_tct_cached(token, "read", store)
        assert str(raised.value) == "TCT verification failed: " + text
    with pytest.raises(ValueError, match="^malformed TCT compact JWS: "):
        BOB.agent.verify_tct_cached("a.b", "read", store)
    assert store.len() == 0


def test_eviction_is_first_in_first_out():
    store = vesk.TctStore(2)
    a, b, c = (ALICE.tct(BOB) for _ in range(3))
    for token in (a, b, c):
        BOB.agent.verify_tct_cached(token, "read", store)
    assert store.len() == 2

    # Whether a token is cached shows in the time of one call: a hit skips the signature check.
    hit_time = median_seconds(lambda: BOB.agent.verify_tct_cached(c, "read", store))
    miss_time = median_seconds(lambda: BOB.agent.verify_tct(c, "read"))
    threshold = (hit_time * miss_time) ** 0.5

    def single_call(token):
        start = time.perf_counter()
        BOB.agent.verify_tct_cached(token, "read", store)
        return time.perf_counter() - start

    assert min(single_call(b) for _ in range(3)) < threshold  # b and c stayed
    assert single_call(a) > threshold  # a was evicted first; coming back, it evicts b
    assert single_call(b) > threshold
    assert store.len() == 2
    store.clear()
    assert store.len() == 0
    assert single_call(c) > threshold


# --- renewal --------------------------------------------------------------------------------


def renew(issuer: Party, holder: Party, token: str, manifest_exp=None, ttl=3600) -> dict:
    request = holder.agent.build_renewal_request(token)
    if manifest_exp is None:
        manifest_exp = int(time.time()) + 86400
    return json.loads(issuer.agent.process_renewal_request(request, manifest_exp, ttl))


def pyjwt_claims(token: str, issuer: Party, typ: str) -> dict:
    header = jwt.get_unverified_header(token)
    assert header == {"alg": issuer.alg, "typ": typ}
    return jwt.decode(token, issuer.public_key(), algorithms=[issuer.alg],
                      options={"verify_aud": False, "require": ["exp", "iat"]})


@pytest.mark.parametrize("issuer,holder", [(ALICE, BOB), (CAROL_P256, BOB), (ALICE, DAVE_P256)],
                         ids=["eddsa", "es256", "eddsa-p256-holder"])
def test_renewed_token_verifies_with_pyjwt(issuer, holder):
    old_claims = claims_for(issuer, holder, grants=["write", "read", "write"])
    old = issuer.jws(rfc8785.dumps(old_claims))
    answer = renew(issuer, holder, old)
    assert list(answer) == ["tct", "grant_voucher"]

    claims = pyjwt_claims(answer["tct"], issuer, "vesk-tct+jwt")
    # The payload is the canonical form of the claims.
    assert b64u_decode(answer["tct"].split(".")[1]) == rfc8785.dumps(claims)
    assert list(claims) == ["aud", "cnf", "exp", "grants", "iat", "iss", "jti", "sub", "ver"]
    assert claims["iss"] == issuer.aid
    assert claims["sub"] == claims["aud"] == holder.aid
    assert claims["grants"] == ["write", "read", "write"]
    assert claims["cnf"] == {"jkt": holder.jkt}
    assert claims["ver"] == "vesk/0.2"
    assert claims["exp"] - claims["iat"] == 3600
    assert abs(claims["iat"] - time.time()) <= 2
    assert claims["jti"] != old_claims["jti"] and uuid.UUID(claims["jti"]).version == 4
    assert str(uuid.UUID(claims["jti"])) == claims["jti"]

    voucher = pyjwt_claims(answer["grant_voucher"], issuer, "vesk-grant+jwt")
    assert b64u_decode(answer["grant_voucher"].split(".")[1]) == rfc8785.dumps(voucher)
    assert voucher == {"exp": claims["exp"], "grants": claims["grants"], "iat": claims["iat"],
                       "iss": issuer.aid, "src_jti": claims["jti"], "sub": holder.aid, "ver": "vesk/0.2"}

    identity = holder.agent.verify_tct(answer["tct"], "read")
    assert identity.jti == claims["jti"] and identity.expires_at == claims["exp"]
    # A renewed token renews again.
    assert renew(issuer, holder, answer["tct"])["tct"] != answer["tct"]


@pytest.mark.parametrize(
    "manifest_in,ttl,lifetime",
    [(100, 3600, 100), (7200, 60, 60), (0, 3600, None), (7200, 0, None), (7200, -5, None),
     (-1, 3600, None)],
)
def test_lifetime_is_bounded_by_manifest_and_request(manifest_in, ttl, lifetime):
    token = ALICE.tct(BOB)

    def check(now):
        request = BOB.agent.build_renewal_request(token)
        return outcome_of(lambda: ALICE.agent.process_renewal_request(request, now + manifest_in, ttl))

    outcome = at_steady_second(check)
    if lifetime is None:
        assert isinstance(outcome, RuntimeError)
        assert str(outcome) == "renewal request rejected: TCT has expired or is not yet valid"
    else:
        claims = json.loads(b64u_decode(json.loads(outcome)["tct"].split(".")[1]))
        assert claims["exp"] - claims["iat"] == lifetime


@pytest.mark.parametrize("manifest_exp", [I64_MIN, I64_MIN + 1, I64_MIN + 10**6])
def test_manifest_expiry_at_the_bottom_of_the_range_is_refused(manifest_exp):
    # Without saturation, manifest_exp - now wraps to a huge positive lifetime.
    request = BOB.agent.build_renewal_request(ALICE.tct(BOB))
    with pytest.raises(RuntimeError) as raised:
        ALICE.agent.process_renewal_request(request, manifest_exp, 3600)
    assert str(raised.value) == "renewal request rejected: TCT has expired or is not yet valid"


def test_renewal_refusals():
    token = ALICE.tct(BOB)
    far = int(time.time()) + 86400

    def rejected(request):
        with pytest.raises(RuntimeError) as raised:
            ALICE.agent.process_renewal_request(request, far, 60)
        return str(raised.value).removeprefix("renewal request rejected: ")

    for voucher in (None, token):
        envelope = json.dumps({"tct": token, "grant_voucher": voucher})
        assert rejected(BOB.agent.build_renewal_request(envelope)).startswith("compact JWS malformed: ")
    assert rejected(BOB.agent.build_renewal_request(CAROL_P256.tct(BOB))) == (
        "JWS alg header does not match the signer AID's algorithm: expected EdDSA for this AID, got ES256")
    assert rejected(BOB.agent.build_renewal_request(Party(9).tct(BOB))) == "signature verification failed"
    assert rejected(BOB.agent.build_renewal_request(ALICE.tct(BOB, iat=0, exp=1))) == (
        "TCT has expired or is not yet valid")
    # The proof of possession must come from the subject's key.
    assert rejected(CAROL_P256.agent.build_renewal_request(token)) == "TCT signature is invalid"
    request = json.loads(BOB.agent.build_renewal_request(token))
    assert rejected(json.dumps({**request, "pop_signature": "nope"})) == "TCT signature is invalid"
    assert rejected(json.dumps({**request, "pop_nonce": request["pop_nonce"] + "=="})) == (
        "claims malformed: pop_nonce: base64url padding is forbidden in VESK")
    other_nonce = json.loads(BOB.agent.build_renewal_request(token))["pop_nonce"]
    assert rejected(json.dumps({**request, "pop_nonce": other_nonce})) == "TCT signature is invalid"
    # The PoP is checked only after the token, and the lifetime only after the PoP.
    with pytest.raises(RuntimeError, match="TCT signature is invalid"):
        ALICE.agent.process_renewal_request(json.dumps({**request, "pop_signature": "x"}), 0, 0)


def test_renewal_payload_wire_form():
    token = ALICE.tct(BOB)
    text = BOB.agent.build_renewal_request(token)
    request = json.loads(text)
    assert list(request) == ["current_tct", "pop_nonce", "pop_signature"]
    assert text == json.dumps(request, separators=(",", ":"))
    assert request["current_tct"] == token
    assert len(request["pop_nonce"]) == 22 and len(request["pop_signature"]) == 86
    # The proof is an Ed25519 signature over SHA-256 of the nonce bytes.
    BOB.public_key().verify(b64u_decode(request["pop_signature"]),
                            hashlib.sha256(b64u_decode(request["pop_nonce"])).digest())
    assert json.loads(BOB.agent.build_renewal_request(token))["pop_nonce"] != request["pop_nonce"]

    p256_request = json.loads(DAVE_P256.agent.build_renewal_request("anything"))
    assert p256_request["pop_signature"].startswith("p256.") and len(p256_request["pop_signature"]) == 91

    far = int(time.time()) + 86400
    as_array = json.dumps([request["current_tct"], request["pop_nonce"], request["pop_signature"]])
    assert json.loads(ALICE.agent.process_renewal_request(as_array, far, 60))["tct"]
    for bad, start in [
        (json.dumps({**request, "extra": 1}), "invalid renewal payload JSON: unknown field `extra`, expected "
                                              "one of `current_tct`, `pop_nonce`, `pop_signature`"),
        (json.dumps({"current_tct": token, "pop_nonce": request["pop_nonce"]}),
         "invalid renewal payload JSON: missing field `pop_signature`"),
        (json.dumps([token, request["pop_nonce"]]),
         "invalid renewal payload JSON: invalid length 2, expected struct TctRenewalPayload with 3 elements"),
    ]:
        with pytest.raises(ValueError) as raised:
            ALICE.agent.process_renewal_request(bad, far, 60)
        assert str(raised.value).startswith(start)


@pytest.mark.parametrize(
    "member,signature",
    [
        (vesk.TctStore, "(max_entries)"),
        (vesk.TctStore.len, "($self)"),
        (vesk.TctStore.clear, "($self)"),
        (vesk.VeskAgent.verify_tct, "($self, tct_token, required_grant, expected_audience=None, revoked_jtis=None)"),
        (vesk.VeskAgent.verify_tct_cached,
         "($self, tct_token, required_grant, store, expected_audience=None, revoked_jtis=None)"),
        (vesk.VeskAgent.build_renewal_request, "($self, current_tct_envelope_json)"),
        (vesk.VeskAgent.process_renewal_request,
         "($self, request_payload_json, manifest_exp_unix_secs, new_ttl_secs)"),
    ],
)
def test_text_signatures(member, signature):
    assert member.__text_signature__ == signature
    assert member.__doc__
