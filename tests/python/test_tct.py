"""Capability tokens from Python: verification, the verification cache and in-band renewal.

Tokens under test are minted here, independently of the module: the issuer's private key is
loaded into `cryptography`, the claims are canonicalised with `rfc8785` and the compact JWS is
assembled by hand. Tokens the module mints are checked the other way round with PyJWT.
"""

import hashlib
import json
import re
import time
import uuid

import pytest
import rfc8785

import vesk
from signers import Signer, b64u_decode, payload_of

I64_MIN = -(2**63)

ALICE = Signer(1)
BOB = Signer(2)
CAROL_P256 = Signer(3, "p256")
DAVE_P256 = Signer(4, "p256")


def claims_for(issuer: Signer, holder: Signer, **overrides) -> dict:
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


def tct(issuer: Signer, holder: Signer, **overrides) -> str:
    return issuer.token("vesk-tct+jwt", claims_for(issuer, holder, **overrides))


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
    claims = claims_for(issuer, holder, jti=str(jti).upper(), grants=["b", "a", "b"],
                        ext={"z": [1, None]})
    identity = holder.agent.verify_tct(issuer.jws(rfc8785.dumps(claims)), "a")
    assert (identity.peer_aid, identity.grants, identity.jti, identity.expires_at) == (
        issuer.aid, ["b", "a", "b"], str(jti), claims["exp"])
    assert identity.grants is not identity.grants


def refusals():
    """(name, token, keyword arguments of verify_tct, exception raised)."""
    failed = "TCT verification failed: "
    signed = lambda **c: ALICE.jws(rfc8785.dumps(claims_for(ALICE, BOB, **c)))  # noqa: E731
    loose = lambda **c: ALICE.jws(json.dumps(claims_for(ALICE, BOB, **c)).encode())  # noqa: E731
    tampered = tct(ALICE, BOB)
    tampered = tampered[:-2] + ("A" if tampered[-2] != "A" else "B") + tampered[-1]
    jti = str(uuid.uuid4())
    claim_names = "`ver`, `jti`, `iss`, `sub`, `aud`, `iat`, `exp`, `grants`, `cnf`, `ext`"

    def bad_claims(sign, fragment, message, kwargs, **claims):
        """A token whose claims do not read; the error points at the fragment's last byte."""
        token = sign(**claims)
        column = b64u_decode(token.split(".")[1]).decode().index(fragment) + len(fragment)
        return token, kwargs, ValueError(f"invalid TCT claims: {message} at line 1 column {column}")

    return [
        ("aud-not-sub", signed(aud=CAROL_P256.aid), {}, RuntimeError(failed + "TCT audience does not match")),
        ("other-audience", signed(), {"expected_audience": ALICE.aid},
         RuntimeError(failed + "TCT audience does not match")),
        ("long-form-audience", signed(), {"expected_audience": "aid:pubkey:ed25519:" + BOB.aid[11:]},
         RuntimeError(failed + "TCT audience does not match")),
        ("tampered-signature", tampered, {}, RuntimeError(failed + "signature verification failed")),
        ("signed-by-another-key", Signer(9).jws(rfc8785.dumps(claims_for(ALICE, BOB))), {},
         RuntimeError(failed + "signature verification failed")),
        ("old-version", signed(ver="vesk/0.1"), {}, RuntimeError(failed + "TCT version is not supported")),
        ("empty-grants", signed(grants=[]), {}, RuntimeError(failed + "TCT grants must be non-empty")),
        ("cnf-of-another-key", signed(cnf={"jkt": ALICE.jkt}), {},
         RuntimeError(failed + "TCT cnf.jkt does not match the subject key")),
        ("revoked", signed(jti=jti), {"revoked_jtis": frozenset({jti, "x"})}, RuntimeError(failed + "TCT jti is revoked")),
        ("revoked-and-expired", signed(jti=jti, iat=0, exp=1), {"revoked_jtis": {jti}},
         RuntimeError(failed + "TCT has expired or is not yet valid")),
        ("revoked-without-grant", signed(jti=jti), {"required_grant": "admin", "revoked_jtis": {jti}},
         RuntimeError(failed + "TCT jti is revoked")),
        ("grant-missing", signed(grants=["read", 'say "hi"\n']), {"required_grant": "admin"},
         RuntimeError("TCT does not grant 'admin'; grants: [\"read\", \"say \\\"hi\\\"\\n\"]")),
        ("not-three-segments", "a.b.c.", {"expected_audience": "bad"},
         ValueError("malformed TCT compact JWS: compact JWS malformed: expected exactly three non-empty segments")),
        ("unknown-claim", *bad_claims(signed, '"nbf"', "unknown field `nbf`, expected one of " + claim_names,
                                      {"expected_audience": "bad"}, nbf=1)),
        ("unknown-cnf-member", *bad_claims(loose, '"kid"', "unknown field `kid`, expected `jkt`", {},
                                           cnf={"jkt": "x", "kid": "y"})),
        ("aud-not-an-aid", *bad_claims(loose, '"example.com"', "AID does not start with 'aid:'", {},
                                       aud="example.com")),
        ("exp-beyond-i64", *bad_claims(loose, str(2**63), "invalid value: integer `9223372036854775808`, "
                                       "expected i64", {}, exp=2**63)),
        ("bad-expected-audience", signed(), {"expected_audience": "example.com"},
         ValueError("bad expected_audience AID 'example.com': AID does not start with 'aid:'")),
    ]


@pytest.mark.parametrize("token,kwargs,raised", [case[1:] for case in refusals()],
                         ids=[case[0] for case in refusals()])
def test_each_failed_check_raises_its_exception(token, kwargs, raised):
    grant = kwargs.pop("required_grant", "read")
    for verify in (BOB.agent.verify_tct, lambda *a, **k: BOB.agent.verify_tct_cached(*a[:2], vesk.TctStore(1), **k)):
        with pytest.raises(type(raised)) as caught:
            verify(token, grant, **kwargs)
        assert str(caught.value) == str(raised)


def test_revocation_matches_the_exact_jti_text_of_a_set():
    jti = str(uuid.uuid4())
    token = tct(ALICE, BOB, jti=jti)
    for revoked in (set(), {jti.upper()}, frozenset({"x"})):
        assert BOB.agent.verify_tct(token, "read", revoked_jtis=revoked).jti == jti


# --- verify_tct_cached and TctStore ---------------------------------------------------------


def test_store_construction_and_methods():
    with pytest.raises(ValueError, match="^max_entries must be >= 1$"):
        vesk.TctStore(0)
    store = vesk.TctStore(max_entries=1)
    assert store.len() == 0 and store.clear() is None


def test_hit_returns_the_same_identity():
    store = vesk.TctStore(8)
    token = tct(ALICE, BOB)
    first = BOB.agent.verify_tct_cached(token, "read", store)
    again = BOB.agent.verify_tct_cached(token, "write", store)
    assert store.len() == 1
    assert (again.peer_aid, again.grants, again.jti, again.expires_at) == (
        first.peer_aid, first.grants, first.jti, first.expires_at)


def test_cheap_checks_still_run_on_a_hit():
    store = vesk.TctStore(8)
    jti = str(uuid.uuid4())
    token = tct(ALICE, BOB, jti=jti)
    BOB.agent.verify_tct_cached(token, "read", store)
    with pytest.raises(RuntimeError, match="^TCT verification failed: TCT jti is revoked$"):
        BOB.agent.verify_tct_cached(token, "read", store, revoked_jtis={jti})
    with pytest.raises(RuntimeError, match="^TCT does not grant 'admin'"):
        BOB.agent.verify_tct_cached(token, "admin", store)
    with pytest.raises(RuntimeError, match="TCT audience does not match"):
        ALICE.agent.verify_tct_cached(token, "read", store)
    # Failures leave the entry in place, and it still answers.
    assert store.len() == 1
    assert BOB.agent.verify_tct_cached(token, "read", store).jti == jti


# --- renewal --------------------------------------------------------------------------------


@pytest.mark.parametrize("issuer,holder", [(ALICE, BOB), (CAROL_P256, BOB), (ALICE, DAVE_P256)],
                         ids=["eddsa", "es256", "eddsa-p256-holder"])
def test_renewed_token_and_voucher_verify_with_pyjwt(issuer, holder):
    old_claims = claims_for(issuer, holder, grants=["write", "read", "write"])
    request = holder.agent.build_renewal_request(issuer.jws(rfc8785.dumps(old_claims)))
    answer = json.loads(issuer.agent.process_renewal_request(request, int(time.time()) + 86400, 3600))
    assert list(answer) == ["tct", "grant_voucher"]

    claims = issuer.read(answer["tct"], "vesk-tct+jwt")
    assert list(claims) == ["aud", "cnf", "exp", "grants", "iat", "iss", "jti", "sub", "ver"]
    assert {k: claims[k] for k in ("iss", "sub", "aud", "grants", "cnf", "ver")} == {
        "iss": issuer.aid, "sub": holder.aid, "aud": holder.aid, "grants": ["write", "read", "write"],
        "cnf": {"jkt": holder.jkt}, "ver": "vesk/0.2"}
    assert claims["exp"] - claims["iat"] == 3600 and abs(claims["iat"] - time.time()) <= 2
    assert claims["jti"] != old_claims["jti"] and str(uuid.UUID(claims["jti"], version=4)) == claims["jti"]

    voucher = issuer.read(answer["grant_voucher"], "vesk-grant+jwt")
    assert voucher == {"exp": claims["exp"], "grants": claims["grants"], "iat": claims["iat"],
                       "iss": issuer.aid, "src_jti": claims["jti"], "sub": holder.aid, "ver": "vesk/0.2"}
    assert holder.agent.verify_tct(answer["tct"], "read").jti == claims["jti"]


@pytest.mark.parametrize(
    "manifest_exp,ttl,lifetime",
    [(100, 3600, 100), (7200, 60, 60), (0, 3600, None), (7200, 0, None), (7200, -5, None),
     # Without saturation, manifest_exp - now wraps to a huge positive remaining lifetime.
     (I64_MIN, 3600, None), (I64_MIN + 1, 3600, None)],
)
def test_renewal_lifetime_is_bounded_by_manifest_and_request(manifest_exp, ttl, lifetime):
    token = tct(ALICE, BOB)

    def check(now):
        request = BOB.agent.build_renewal_request(token)
        bound = manifest_exp if manifest_exp < 0 else now + manifest_exp
        return outcome_of(lambda: ALICE.agent.process_renewal_request(request, bound, ttl))

    outcome = at_steady_second(check)
    if lifetime is None:
        assert repr(outcome) == repr(RuntimeError("renewal request rejected: TCT has expired or is not yet valid"))
    else:
        claims = payload_of(json.loads(outcome)["tct"])
        assert claims["exp"] - claims["iat"] == lifetime


def test_renewal_refusals_in_order():
    token = tct(ALICE, BOB)
    far = int(time.time()) + 86400

    def rejected(request, manifest_exp=far, ttl=60):
        with pytest.raises(RuntimeError) as raised:
            ALICE.agent.process_renewal_request(request, manifest_exp, ttl)
        return str(raised.value).removeprefix("renewal request rejected: ")

    envelope = json.dumps({"tct": token, "grant_voucher": None})
    assert rejected(BOB.agent.build_renewal_request(envelope)).startswith("compact JWS malformed: ")
    assert rejected(BOB.agent.build_renewal_request(tct(Signer(9), BOB))) == "signature verification failed"
    assert rejected(BOB.agent.build_renewal_request(tct(ALICE, BOB, iat=0, exp=1))) == (
        "TCT has expired or is not yet valid")
    assert rejected(CAROL_P256.agent.build_renewal_request(token)) == "TCT signature is invalid"
    request = json.loads(BOB.agent.build_renewal_request(token))
    other_nonce = json.loads(BOB.agent.build_renewal_request(token))["pop_nonce"]
    assert other_nonce != request["pop_nonce"]
    assert rejected(json.dumps({**request, "pop_nonce": other_nonce})) == "TCT signature is invalid"
    assert rejected(json.dumps({**request, "pop_nonce": request["pop_nonce"] + "=="})) == (
        "claims malformed: pop_nonce: base64url padding is forbidden in VESK")
    # The proof is checked before the lifetime.
    assert rejected(json.dumps({**request, "pop_signature": "x"}), 0, 0) == "TCT signature is invalid"


def test_renewal_payload_wire_form():
    token = tct(ALICE, BOB)
    text = BOB.agent.build_renewal_request(token)
    request = json.loads(text)
    assert text == json.dumps(request, separators=(",", ":"))
    assert list(request) == ["current_tct", "pop_nonce", "pop_signature"] and request["current_tct"] == token
    BOB.public_key().verify(b64u_decode(request["pop_signature"]),
                            hashlib.sha256(b64u_decode(request["pop_nonce"])).digest())
    assert json.loads(DAVE_P256.agent.build_renewal_request("x"))["pop_signature"].startswith("p256.")

    far = int(time.time()) + 86400
    as_array = json.dumps(list(request.values()))
    assert json.loads(ALICE.agent.process_renewal_request(as_array, far, 60))["tct"]
    for bad, message in [
        (json.dumps({**request, "x": 1}), "unknown field `x`, expected one of `current_tct`, `pop_nonce`, "
                                          "`pop_signature`"),
        (json.dumps([token, request["pop_nonce"]]), "invalid length 2, expected struct TctRenewalPayload with 3 elements"),
    ]:
        with pytest.raises(ValueError, match="^invalid renewal payload JSON: " + re.escape(message)):
            ALICE.agent.process_renewal_request(bad, far, 60)


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
        (vesk.VeskAgent.process_renewal_request, "($self, request_payload_json, manifest_exp_unix_secs, new_ttl_secs)"),
    ],
)
def test_text_signatures(member, signature):
    assert member.__text_signature__ == signature and member.__doc__
