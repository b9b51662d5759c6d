"""Delegation: A grants B, B delegates to C, A verifies and redeems. A's grant and every hand-made
delegation token are minted here with PyJWT; tokens the module signs are checked with PyJWT."""

import hashlib
import json
import time
import uuid

import pytest
import rfc8785

import vesk
from parties import Signer, b64u, payload_of

A, B, C, E = Signer(1), Signer(2), Signer(3), Signer(6)


def grant(issuer, holder, grants=("read", "write"), exp_in=600, **voucher_overrides):
    """The TCT, grant voucher and jti that `issuer` issues to `holder`."""
    tct = issuer.tct_claims(holder, grants=list(grants), exp=int(time.time()) + exp_in)
    voucher = {k: tct[k] for k in ("ver", "iss", "sub", "grants", "iat", "exp")}
    voucher.update(src_jti=tct["jti"], **voucher_overrides)
    return issuer.token("vesk-tct+jwt", tct), issuer.token("vesk-grant+jwt", voucher), tct["jti"]


_, VOUCHER, SRC_JTI = grant(A, B)


def delegation(delegator=B, delegatee=C, voucher=VOUCHER, typ="vesk-delegation+jwt", **overrides):
    """A single-hop delegation token signed by `delegator`."""
    claims = {"ver": "vesk/0.2", "iss": delegator.aid, "sub": delegatee.aid, "aud": A.aid,
              "scope": ["read"], "exp": int(time.time()) + 300, "cnf": {"jkt": delegatee.jkt},
              "voucher": voucher}
    return delegator.token(typ, dict(claims, **overrides))


def outcome(call):
    try:
        call()
    except Exception as error:  # noqa: BLE001 - compared by type and text
        return type(error), str(error)
    return "ok"


def failed(text):
    return RuntimeError, "delegation verification failed: " + text


def built_failure(text):
    return RuntimeError, "delegation build failed: " + text


def test_delegation_is_built_verified_and_redeemed():
    _, voucher, _ = grant(A, B, grants=("read", "write", "admin"))
    token = B.agent.build_delegation(voucher, C.aid, ["write", "read"])
    claims = B.read(token, "vesk-delegation+jwt")
    assert list(payload_of(token)) == ["aud", "cnf", "exp", "iss", "scope", "sub", "ver", "voucher"]
    assert (claims["aud"], claims["cnf"], claims["voucher"]) == (A.aid, {"jkt": C.jkt}, voucher)

    for verified in (vesk.verify_delegation(token, A.aid),
                     vesk.verify_delegation_multihop(token, A.aid, 1, frozenset())):
        assert (verified.delegator, verified.delegatee, verified.issued_by) == (A.aid, C.aid, B.aid)
        assert verified.grants == ["write", "read"]
        assert (verified.expires_at, verified.cnf) == (claims["exp"], C.jkt)

    issued = json.loads(A.agent.issue_tct_for_delegatee(verified))
    assert list(issued) == ["tct", "grant_voucher"]
    tct = A.read(issued["tct"], "vesk-tct+jwt")
    assert (tct["iss"], tct["sub"], tct["aud"]) == (A.aid, C.aid, C.aid)
    assert tct["grants"] == ["write", "read"] and tct["exp"] == tct["iat"] + 3600
    assert tct["cnf"] == {"jkt": verified.cnf}
    assert A.read(issued["grant_voucher"], "vesk-grant+jwt")["src_jti"] == tct["jti"]
    identity = A.agent.verify_tct(issued["tct"], "read", expected_audience=C.aid)
    assert identity.peer_aid == A.aid and identity.grants == ["write", "read"]
    # Whoever redeems issues the TCT, for the lifetime asked.
    by_other = E.read(json.loads(E.agent.issue_tct_for_delegatee(verified, 60))["tct"], "vesk-tct+jwt")
    assert by_other["iss"] == E.aid and by_other["exp"] - by_other["iat"] == 60


def voucher_from_a(**overrides):
    claims = payload_of(VOUCHER)
    claims.update(overrides)
    return A.token("vesk-grant+jwt", claims)


@pytest.mark.parametrize("voucher,delegatee,scope,expected", [
    ("a.b", "nope", ["read"], (ValueError, "invalid delegatee AID: AID does not start with 'aid:'")),
    ("a.b", C.aid, ["read"], built_failure("compact JWS malformed: expected exactly three non-empty segments")),
    (voucher_from_a(aud=A.aid), C.aid, ["read"], built_failure("unknown field: aud")),
    (voucher_from_a(sub=C.aid), C.aid, [], built_failure("delegation voucher is invalid")),
    (VOUCHER, C.aid, [], built_failure("delegation scope must be non-empty")),
    (VOUCHER, B.aid, ["read"], built_failure("self-delegation is forbidden")),
    (VOUCHER, C.aid, ["read", "admin"], built_failure(
        "delegation scope exceeds grant proof capabilities")),
    (VOUCHER, "aid:pubkey:ed25519:" + B.aid[11:], ["read"], "ok"),
    (VOUCHER, C.aid, ("read", "read"), "ok"),
    # Only decoded when building: a forged voucher of another type is signed all the same.
    (E.token("vesk-tct+jwt", payload_of(VOUCHER)), C.aid, ["read"], "ok"),
])
def test_build_checks_in_order(voucher, delegatee, scope, expected):
    assert outcome(lambda: B.agent.build_delegation(voucher, delegatee, scope)) == expected


def test_build_reports_voucher_reading_errors_and_caps_expiry():
    kind, text = outcome(lambda: B.agent.build_delegation(voucher_from_a(iat=None), C.aid, ["x"]))
    assert kind is RuntimeError and text.startswith(
        "delegation build failed: delegation claims malformed: voucher: missing field `iat` at ")
    long_voucher = voucher_from_a(exp=int(time.time()) + 10**6)
    before = int(time.time())
    exp = payload_of(B.agent.build_delegation(long_voucher, C.aid, ["read"], None))["exp"]
    assert before + 3600 <= exp <= int(time.time()) + 3600
    for ttl in (None, 2**63 - 1):
        token = B.agent.build_delegation(VOUCHER, C.aid, ["read"], ttl)
        assert payload_of(token)["exp"] == payload_of(VOUCHER)["exp"]


def tampered(token):
    head, _, signature = token.rpartition(".")
    return head + "." + ("B" if signature[0] == "A" else "A") + signature[1:]


def single_hop_cases():
    now = int(time.time())
    return [
        ("valid", delegation(), "ok"),
        ("repeated granted scope", delegation(scope=["write", "write"]), "ok"),
        ("elsewhere and expired", delegation(aud=C.aid, exp=now - 5),
         failed("delegation audience mismatch")),
        ("expired without voucher", delegation(exp=now - 5, voucher=None),
         failed("delegation token or grant proof has expired")),
        ("no voucher", delegation(voucher=None), failed("delegation voucher is invalid")),
        ("voucher of another issuer", delegation(voucher=grant(E, B)[1]), failed("signature verification failed")),
        ("voucher of old version", delegation(voucher=voucher_from_a(ver="vesk/0.1")),
         failed("delegation token version is not supported")),
        ("voucher without grants", delegation(voucher=voucher_from_a(grants=[])),
         failed("delegation voucher is invalid")),
        ("voucher issued to another", delegation(voucher=grant(A, C)[1]),
         failed("delegation voucher is invalid")),
        ("ungranted scope", delegation(scope=["read", "delete"]),
         failed("delegation scope exceeds grant proof capabilities")),
        ("empty scope", delegation(scope=[]), failed("delegation scope must be non-empty")),
        ("self-issued, empty scope", delegation(delegatee=B, scope=[]),
         failed("self-delegation is forbidden")),
        ("cnf of another key", delegation(cnf={"jkt": E.jkt}), failed("delegation cnf is malformed")),
        ("old version", delegation(ver="vesk/0.1"),
         failed("delegation token version is not supported")),
        ("TCT type", delegation(typ="vesk-tct+jwt"),
         failed("JWS typ header mismatch: expected vesk-delegation+jwt, got vesk-tct+jwt")),
        ("extra claim, bad signature", tampered(delegation(iat=now)), failed("unknown field: iat")),
        ("bad signature", tampered(delegation()), failed("delegation signature is invalid")),
        ("two segments", "abc.def", failed("compact JWS malformed: expected exactly three non-empty segments")),
        ("signed by the delegatee", C.token("vesk-delegation+jwt", payload_of(delegation())),
         failed("delegation signature is invalid")),
    ]


@pytest.mark.parametrize("name,token,expected", single_hop_cases())
def test_single_hop_checks_in_order(name, token, expected):
    assert outcome(lambda: vesk.verify_delegation(token, A.aid)) == expected
    assert outcome(lambda: vesk.verify_delegation_multihop(token, A.aid)) == expected


def test_chain_and_jti_claims_route_the_verification():
    empty_chain, with_jti = delegation(chain=[]), delegation(jti=str(uuid.uuid4()))
    no_jti = failed("delegation claims malformed: jti claim requires multi-hop opt-in")
    assert outcome(lambda: vesk.verify_delegation(empty_chain, A.aid)) == failed(
        "multi-hop delegation is not supported")
    assert outcome(lambda: vesk.verify_delegation(with_jti, A.aid)) == no_jti
    assert outcome(lambda: vesk.verify_delegation_multihop(with_jti, A.aid, 0)) == no_jti
    for hops in (1, 2, 2**64 - 1):
        assert vesk.verify_delegation_multihop(empty_chain, A.aid, hops).delegatee == C.aid
        assert vesk.verify_delegation_multihop(with_jti, A.aid, hops).delegatee == C.aid

    first_jti, outer_jti = str(uuid.uuid4()), str(uuid.uuid4())
    first = delegation(jti=first_jti)
    digest = b64u(hashlib.sha256(first.encode()).digest())
    chain_hash = b64u(hashlib.sha256(rfc8785.dumps([digest])).digest())
    outer = delegation(C, E, voucher=None, jti=outer_jti, chain=[first], chain_hash=chain_hash)
    assert vesk.verify_delegation_multihop(outer, A.aid).issued_by == C.aid  # 3 hops by default
    assert outcome(lambda: vesk.verify_delegation_multihop(outer, A.aid, 2)) == failed(
        "delegation hop limit exceeded")
    assert outcome(lambda: vesk.verify_delegation_multihop(outer, A.aid, 3, {first_jti})) == (
        failed("source TCT has been revoked"))


def test_revocation_by_source_and_by_the_token_own_jti():
    revoked = failed("source TCT has been revoked")
    for verify in (vesk.verify_delegation, vesk.verify_delegation_multihop):
        for jtis, expected in [({SRC_JTI}, revoked), (frozenset({SRC_JTI, "x"}), revoked),
                               ({SRC_JTI.upper()}, "ok"), (set(), "ok"), (None, "ok")]:
            assert outcome(lambda: verify(delegation(), A.aid, revoked_jtis=jtis)) == expected
    # Revocation is asked last.
    expired = delegation(exp=int(time.time()) - 5)
    assert outcome(lambda: vesk.verify_delegation(expired, A.aid, {SRC_JTI})) == failed(
        "delegation token or grant proof has expired")

    # A single-hop token that names itself is revoked by that name when hops are checked.
    jti = str(uuid.uuid4())
    for token in (delegation(jti=jti), delegation(jti=jti, chain=[])):
        assert outcome(lambda: vesk.verify_delegation_multihop(token, A.aid, 3, {jti})) == revoked


def test_verifier_argument_and_result_class():
    token = delegation()
    assert outcome(lambda: vesk.verify_delegation(token, "nope")) == (
        ValueError, "invalid verifier AID: AID does not start with 'aid:'")
    verified = vesk.verify_delegation(token, A.aid)
    verified.grants.append("x")
    assert verified.grants == ["read"]
