"""Delegation from Python: A grants B, B delegates to C, A verifies and redeems.

A's TCT and grant voucher, and every hand-made delegation token, are minted here independently
of the module: the parties' private keys are loaded into `cryptography`, claims are made
canonical with `rfc8785` and signed with PyJWT. Tokens the module signs are checked with PyJWT.
"""

import base64
import hashlib
import json
import time
import uuid

import jwt
import pytest
import rfc8785
from cryptography.hazmat.primitives import serialization
from cryptography.hazmat.primitives.asymmetric import ec, ed25519

import vesk

I64_MAX = 2**63 - 1


def b64u(data: bytes) -> str:
    return base64.urlsafe_b64encode(data).rstrip(b"=").decode()


def b64u_decode(text: str) -> bytes:
    return base64.urlsafe_b64decode(text + "=" * (-len(text) % 4))


class Party:
    """An agent of the module together with the same key held by `cryptography`."""

    def __init__(self, seed_byte: int, suite: str = "ed25519"):
        seed = bytes([seed_byte]) * 32
        self.agent = vesk.VeskAgent.from_seed(seed, suite)
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

    def token(self, typ: str, claims: dict) -> str:
        return jwt.api_jws.PyJWS().encode(
            rfc8785.dumps(claims), self.private, algorithm=self.alg, headers={"typ": typ}
        )

    def read(self, token: str, typ: str) -> dict:
        """The claims of a token this party signed, checked by PyJWT."""
        assert jwt.get_unverified_header(token) == {"alg": self.alg, "typ": typ}
        payload = jwt.api_jws.PyJWS().decode(
            token, self.private.public_key(), algorithms=[self.alg]
        )
        claims = json.loads(payload)
        assert rfc8785.dumps(claims) == payload
        return claims


A = Party(1)
B = Party(2)
C = Party(3)
B_P256 = Party(4, "p256")
C_P256 = Party(5, "p256")
E = Party(6)


def grant(issuer: Party, holder: Party, grants=("read", "write"), exp_in=600, **overrides):
    """A TCT and grant voucher that `issuer` issues to `holder`, minted here."""
    now = int(time.time())
    jti = str(uuid.uuid4())
    tct = {
        "ver": "vesk/0.2",
        "jti": jti,
        "iss": issuer.aid,
        "sub": holder.aid,
        "aud": holder.aid,
        "iat": now - 10,
        "exp": now + exp_in,
        "grants": list(grants),
        "cnf": {"jkt": holder.jkt},
    }
    voucher = {
        "ver": "vesk/0.2",
        "iss": issuer.aid,
        "sub": holder.aid,
        "grants": list(grants),
        "iat": now - 10,
        "exp": now + exp_in,
        "src_jti": jti,
    }
    voucher.update(overrides)
    voucher = {k: v for k, v in voucher.items() if v is not None}
    return issuer.token("vesk-tct+jwt", tct), issuer.token("vesk-grant+jwt", voucher), jti


TCT, VOUCHER, SRC_JTI = grant(A, B)


def delegation(delegator=B, delegatee=C, voucher=VOUCHER, typ="vesk-delegation+jwt", **overrides):
    """A single-hop delegation token signed by `delegator`, minted here."""
    claims = {
        "ver": "vesk/0.2",
        "iss": delegator.aid,
        "sub": delegatee.aid,
        "aud": A.aid,
        "scope": ["read"],
        "exp": int(time.time()) + 300,
        "cnf": {"jkt": delegatee.jkt},
        "voucher": voucher,
    }
    claims.update(overrides)
    return delegator.token(typ, {k: v for k, v in claims.items() if v is not None})


def outcome(call):
    try:
        call()
    except Exception as error:  # noqa: BLE001 - the outcome is compared by type and text
        return type(error), str(error)
    return "ok"


def failed(text):
    return RuntimeError, "delegation verification failed: " + text


# ---- The whole road: grant, delegate, verify, redeem -----------------------------------------


@pytest.mark.parametrize("delegator,delegatee", [(B, C), (B_P256, C_P256), (B, C_P256)])
def test_delegation_is_built_verified_and_redeemed(delegator, delegatee):
    _, voucher, _ = grant(A, delegator, grants=("read", "write", "admin"))
    token = delegator.agent.build_delegation(voucher, delegatee.aid, ["write", "read"])

    claims = delegator.read(token, "vesk-delegation+jwt")
    assert list(json.loads(b64u_decode(token.split(".")[1]))) == [
        "aud", "cnf", "exp", "iss", "scope", "sub", "ver", "voucher"
    ]
    assert claims["aud"] == A.aid and claims["iss"] == delegator.aid
    assert claims["sub"] == delegatee.aid and claims["cnf"] == {"jkt": delegatee.jkt}
    assert claims["scope"] == ["write", "read"] and claims["voucher"] == voucher

    for verified in (
        vesk.verify_delegation(token, A.aid),
        vesk.verify_delegation_multihop(token, A.aid),
        vesk.verify_delegation_multihop(token, A.aid, 1, frozenset()),
    ):
        assert isinstance(verified, vesk.DelegationVerified)
        assert verified.delegator == A.aid
        assert verified.delegatee == delegatee.aid
        assert verified.issued_by == delegator.aid
        assert verified.grants == ["write", "read"]
        assert verified.expires_at == claims["exp"]
        assert verified.cnf == delegatee.jkt

    envelope = A.agent.issue_tct_for_delegatee(verified)
    assert list(json.loads(envelope)) == ["tct", "grant_voucher"]
    assert envelope == json.dumps(json.loads(envelope), separators=(",", ":"))
    issued = json.loads(envelope)
    tct = A.read(issued["tct"], "vesk-tct+jwt")
    assert (tct["iss"], tct["sub"], tct["aud"]) == (A.aid, delegatee.aid, delegatee.aid)
    assert tct["grants"] == ["write", "read"] and tct["exp"] == tct["iat"] + 3600
    assert tct["cnf"] == {"jkt": verified.cnf}
    new_voucher = A.read(issued["grant_voucher"], "vesk-grant+jwt")
    assert new_voucher["src_jti"] == tct["jti"] and new_voucher["sub"] == delegatee.aid
    assert (new_voucher["iat"], new_voucher["exp"]) == (tct["iat"], tct["exp"])

    identity = A.agent.verify_tct(issued["tct"], "read", expected_audience=delegatee.aid)
    assert identity.peer_aid == A.aid and identity.grants == ["write", "read"]
    assert delegatee.agent.verify_tct(issued["tct"], "write").jti == tct["jti"]


def test_redeemed_tct_lifetime_and_issuer():
    verified = vesk.verify_delegation(B.agent.build_delegation(VOUCHER, C.aid, ["read"]), A.aid)
    for ttl, lifetime in [(None, 3600), (60, 60), (-5, -5)]:
        tct = json.loads(E.agent.issue_tct_for_delegatee(verified, ttl))["tct"]
        claims = E.read(tct, "vesk-tct+jwt")
        assert claims["exp"] - claims["iat"] == lifetime
        # The issuing agent signs even though the delegation was verified for another.
        assert claims["iss"] == E.aid
    tct = json.loads(A.agent.issue_tct_for_delegatee(verified=verified, ttl_secs=I64_MAX))["tct"]
    assert json.loads(b64u_decode(tct.split(".")[1]))["exp"] == 9223372036854776000  # saturated, written as a double


def test_delegation_verified_is_a_frozen_result():
    verified = vesk.verify_delegation(B.agent.build_delegation(VOUCHER, C.aid, ["read"]), A.aid)
    assert verified.grants is not verified.grants
    verified.grants.append("x")
    assert verified.grants == ["read"]
    with pytest.raises(AttributeError):
        verified.delegatee = "x"
    with pytest.raises(TypeError, match="cannot create 'builtins.DelegationVerified' instances"):
        vesk.DelegationVerified()
    with pytest.raises(TypeError):
        A.agent.issue_tct_for_delegatee(A.agent)


# ---- Building -----------------------------------------------------------------------------


def voucher_payload(**overrides):
    claims = {
        "ver": "vesk/0.2",
        "iss": A.aid,
        "sub": B.aid,
        "grants": ["read", "write"],
        "iat": 1,
        "exp": int(time.time()) + 600,
        "src_jti": SRC_JTI,
    }
    claims.update(overrides)
    return {k: v for k, v in claims.items() if v is not None}


BUILD_PREFIX = "delegation build failed: "


@pytest.mark.parametrize(
    "voucher,delegatee,scope,expected",
    [
        ("a.b", "nope", ["read"], (ValueError, "invalid delegatee AID: AID does not start with 'aid:'")),
        ("a.b", C.aid, ["read"], (RuntimeError, BUILD_PREFIX + "compact JWS malformed: expected exactly three non-empty segments")),
        (A.token("vesk-grant+jwt", voucher_payload(aud=A.aid)), C.aid, ["read"], (RuntimeError, BUILD_PREFIX + "unknown field: aud")),
        (A.token("vesk-grant+jwt", voucher_payload(sub=C.aid)), C.aid, [], (RuntimeError, BUILD_PREFIX + "delegation voucher is invalid")),
        (VOUCHER, C.aid, [], (RuntimeError, BUILD_PREFIX + "delegation scope must be non-empty")),
        (VOUCHER, B.aid, ["read"], (RuntimeError, BUILD_PREFIX + "self-delegation is forbidden")),
        (VOUCHER, C.aid, ["read", "admin"], (RuntimeError, BUILD_PREFIX + "delegation scope exceeds grant proof capabilities")),
        (VOUCHER, "aid:pubkey:ed25519:" + B.aid[11:], ["read"], "ok"),
        (VOUCHER, C.aid, ("read", "read"), "ok"),
        # Only decoded when building: a forged voucher of another type is signed all the same.
        (E.token("vesk-tct+jwt", voucher_payload()), C.aid, ["read"], "ok"),
    ],
)
def test_build_failures_in_order(voucher, delegatee, scope, expected):
    assert outcome(lambda: B.agent.build_delegation(voucher, delegatee, scope)) == expected


def test_build_reports_the_voucher_reading_error():
    voucher = A.token("vesk-grant+jwt", voucher_payload(iat=None))
    kind, text = outcome(lambda: B.agent.build_delegation(voucher, C.aid, ["read"]))
    assert kind is RuntimeError
    assert text.startswith(BUILD_PREFIX + "delegation claims malformed: voucher: missing field `iat` at line 1 column ")


def test_build_expiry_is_capped_by_the_voucher():
    def exp_of(token):
        return json.loads(b64u_decode(token.split(".")[1]))["exp"]

    long_voucher = A.token("vesk-grant+jwt", voucher_payload(exp=int(time.time()) + 10**6))
    before = int(time.time())
    default = exp_of(B.agent.build_delegation(long_voucher, C.aid, ["read"], None))
    assert before + 3600 <= default <= int(time.time()) + 3600
    assert exp_of(B.agent.build_delegation(long_voucher, C.aid, ["read"], ttl_secs=0)) <= int(time.time())
    voucher_exp = json.loads(b64u_decode(VOUCHER.split(".")[1]))["exp"]
    assert exp_of(B.agent.build_delegation(VOUCHER, C.aid, ["read"])) == voucher_exp
    assert exp_of(B.agent.build_delegation(VOUCHER, C.aid, ["read"], I64_MAX)) == voucher_exp


def test_build_argument_kinds():
    build = B.agent.build_delegation
    assert outcome(lambda: build(VOUCHER, C.aid, "read"))[0] is TypeError
    assert outcome(lambda: build(VOUCHER, C.aid, {"read"}))[0] is TypeError
    assert outcome(lambda: build(VOUCHER, C.aid, ["read"], 2**63))[0] is OverflowError
    assert outcome(lambda: build(VOUCHER, C.aid))[0] is TypeError


# ---- Verifying ----------------------------------------------------------------------------


def tampered(token):
    head, _, signature = token.rpartition(".")
    return head + "." + ("A" if signature[0] != "A" else "B") + signature[1:]


OTHER_ISSUER_VOUCHER = grant(E, B)[1]
VOUCHER_TO_C = grant(A, C)[1]
EXPIRED_VOUCHER = grant(A, B, exp_in=-5)[1]


def single_hop_cases():
    now = int(time.time())
    voucher_exp = json.loads(b64u_decode(VOUCHER.split(".")[1]))["exp"]
    return [
        ("valid", delegation(), "ok"),
        ("repeated granted scope", delegation(scope=["write", "write"]), "ok"),
        ("same expiry as the voucher", delegation(exp=voucher_exp), "ok"),
        ("other audience, also expired", delegation(aud=C.aid, exp=now - 5), failed("delegation audience mismatch")),
        ("expired, no voucher", delegation(exp=now - 5, voucher=None), failed("delegation token or grant proof has expired")),
        ("no voucher", delegation(voucher=None), failed("delegation voucher is invalid")),
        ("voucher of another issuer", delegation(voucher=OTHER_ISSUER_VOUCHER), failed("signature verification failed")),
        ("voucher issued to another", delegation(voucher=VOUCHER_TO_C), failed("delegation voucher is invalid")),
        ("voucher with an extra claim", delegation(voucher=A.token("vesk-grant+jwt", voucher_payload(aud=A.aid))), failed("unknown field: aud")),
        ("voucher of old version", delegation(voucher=A.token("vesk-grant+jwt", voucher_payload(ver="vesk/0.1"))), failed("delegation token version is not supported")),
        ("voucher without grants", delegation(voucher=A.token("vesk-grant+jwt", voucher_payload(grants=[]))), failed("delegation voucher is invalid")),
        ("TCT as voucher", delegation(voucher=TCT), failed("JWS typ header mismatch: expected vesk-grant+jwt, got vesk-tct+jwt")),
        ("voucher expired", delegation(voucher=EXPIRED_VOUCHER, exp=now + 100), failed("delegation token or grant proof has expired")),
        ("outlives the voucher", delegation(exp=voucher_exp + 1), failed("delegation token or grant proof has expired")),
        ("ungranted scope", delegation(scope=["read", "delete"]), failed("delegation scope exceeds grant proof capabilities")),
        ("empty scope", delegation(scope=[]), failed("delegation scope must be non-empty")),
        ("self-issued with empty scope", delegation(delegatee=B, scope=[]), failed("self-delegation is forbidden")),
        ("cnf of another key", delegation(cnf={"jkt": E.jkt}), failed("delegation cnf is malformed")),
        ("old version", delegation(ver="vesk/0.1"), failed("delegation token version is not supported")),
        ("TCT type", delegation(typ="vesk-tct+jwt"), failed("JWS typ header mismatch: expected vesk-delegation+jwt, got vesk-tct+jwt")),
        ("extra claim, bad signature", tampered(delegation(iat=now)), failed("unknown field: iat")),
        ("bad signature", tampered(delegation()), failed("delegation signature is invalid")),
        ("signed by the delegatee", C.token("vesk-delegation+jwt", json.loads(b64u_decode(delegation().split(".")[1]))), failed("delegation signature is invalid")),
        ("two segments", "abc.def", failed("compact JWS malformed: expected exactly three non-empty segments")),
    ]


@pytest.mark.parametrize("name,token,expected", single_hop_cases(), ids=lambda x: x if isinstance(x, str) and " " in x else "")
def test_single_hop_checks_in_order(name, token, expected):
    assert outcome(lambda: vesk.verify_delegation(token, A.aid)) == expected, name
    assert outcome(lambda: vesk.verify_delegation_multihop(token, A.aid)) == expected, name


def test_claims_that_route_the_verification():
    empty_chain = delegation(chain=[])
    with_jti = delegation(jti=str(uuid.uuid4()))
    assert outcome(lambda: vesk.verify_delegation(empty_chain, A.aid)) == failed("multi-hop delegation is not supported")
    assert outcome(lambda: vesk.verify_delegation(with_jti, A.aid)) == failed(
        "delegation claims malformed: jti claim requires multi-hop opt-in"
    )
    assert outcome(lambda: vesk.verify_delegation_multihop(with_jti, A.aid, 0)) == failed(
        "delegation claims malformed: jti claim requires multi-hop opt-in"
    )
    for hops in (1, 2, 3, 2**64 - 1):
        assert outcome(lambda: vesk.verify_delegation_multihop(empty_chain, A.aid, hops)) == "ok"
        assert outcome(lambda: vesk.verify_delegation_multihop(with_jti, A.aid, hops)) == "ok"


def test_a_chain_of_one_token_respects_the_hop_limit():
    first_jti, outer_jti = str(uuid.uuid4()), str(uuid.uuid4())
    first = delegation(jti=first_jti)
    digest = b64u(hashlib.sha256(first.encode()).digest())
    chain_hash = b64u(hashlib.sha256(rfc8785.dumps([digest])).digest())
    outer = delegation(C, E, voucher=None, jti=outer_jti, chain=[first], chain_hash=chain_hash)
    assert vesk.verify_delegation_multihop(outer, A.aid).issued_by == C.aid
    assert outcome(lambda: vesk.verify_delegation_multihop(outer, A.aid, 2)) == failed("delegation hop limit exceeded")
    assert outcome(lambda: vesk.verify_delegation(outer, A.aid)) == failed("multi-hop delegation is not supported")
    for revoked in (first_jti, outer_jti, SRC_JTI):
        assert outcome(lambda: vesk.verify_delegation_multihop(outer, A.aid, revoked_jtis={revoked})) == failed(
            "source TCT has been revoked"
        )


def test_revocation_by_source_jti():
    token = delegation()
    revoked = failed("source TCT has been revoked")
    for verify in (vesk.verify_delegation, vesk.verify_delegation_multihop):
        assert outcome(lambda: verify(token, A.aid, revoked_jtis={SRC_JTI})) == revoked
        assert outcome(lambda: verify(token, A.aid, revoked_jtis=frozenset({SRC_JTI, "x"}))) == revoked
        assert outcome(lambda: verify(token, A.aid, revoked_jtis={SRC_JTI.upper()})) == "ok"
        assert outcome(lambda: verify(token, A.aid, revoked_jtis=set())) == "ok"
        assert outcome(lambda: verify(token, A.aid, revoked_jtis=None)) == "ok"
    # Revocation is asked last.
    expired = delegation(exp=int(time.time()) - 5)
    assert outcome(lambda: vesk.verify_delegation(expired, A.aid, {SRC_JTI})) == failed(
        "delegation token or grant proof has expired"
    )


def test_single_hop_token_with_its_own_jti_is_revoked_by_it():
    jti = str(uuid.uuid4())
    for token in (delegation(jti=jti), delegation(jti=jti, chain=[])):
        for hops in (1, 3):
            assert outcome(lambda: vesk.verify_delegation_multihop(token, A.aid, hops, {jti})) == failed(
                "source TCT has been revoked"
            )
        assert outcome(lambda: vesk.verify_delegation_multihop(token, A.aid, 3, {jti.upper()})) == "ok"
        assert outcome(lambda: vesk.verify_delegation_multihop(token, A.aid)) == "ok"


def test_verify_argument_kinds():
    token = delegation()
    assert outcome(lambda: vesk.verify_delegation(token, "aid:pubkey:short")) == (
        ValueError,
        "invalid verifier AID: " + outcome(lambda: vesk.compute_aid_jkt("aid:pubkey:short"))[1].split("': ", 1)[1],
    )
    assert outcome(lambda: vesk.verify_delegation(token, "nope"))[1] == "invalid verifier AID: AID does not start with 'aid:'"
    assert outcome(lambda: vesk.verify_delegation(token, A.aid, [SRC_JTI]))[0] is TypeError
    assert outcome(lambda: vesk.verify_delegation_multihop(token, A.aid, None))[0] is TypeError
    assert outcome(lambda: vesk.verify_delegation_multihop(token, A.aid, -1))[0] is OverflowError
    assert outcome(lambda: vesk.verify_delegation_multihop(token, A.aid, 3, [SRC_JTI]))[0] is TypeError
    assert vesk.verify_delegation_multihop(
        delegation_token=token, verifier_aid=A.aid, max_delegation_hops=0
    ).delegatee == C.aid
    assert vesk.verify_delegation_multihop.__text_signature__ == (
        "(delegation_token, verifier_aid, max_delegation_hops=..., revoked_jtis=None)"
    )
    assert vesk.verify_delegation.__text_signature__ == "(delegation_token, verifier_aid, revoked_jtis=None)"
