"""Capability tokens: verification, the verification cache and in-band renewal. Tokens under test
are minted here with PyJWT; tokens the module mints are checked the other way round with PyJWT."""

import hashlib
import json
import time
import uuid

import pytest

import vesk
from parties import ALICE, BOB, CAROL_P256, Signer, b64u_decode

DAVE_P256 = Signer(4, "p256")


@pytest.mark.parametrize(
    "issuer,holder",
    [(ALICE, BOB), (CAROL_P256, BOB), (ALICE, DAVE_P256), (CAROL_P256, DAVE_P256)],
    ids=["eddsa-ed25519", "es256-ed25519", "eddsa-p256", "es256-p256"],
)
def test_independently_minted_token_verifies_to_its_identity(issuer, holder):
    jti = uuid.uuid4()
    claims = issuer.tct_claims(holder, jti=str(jti).upper(), grants=["b", "a", "b"], ext={"z": [1, None]})
    identity = holder.agent.verify_tct(issuer.token("vesk-tct+jwt", claims), "a")
    assert (identity.peer_aid, identity.grants, identity.jti, identity.expires_at) == (
        issuer.aid, ["b", "a", "b"], str(jti), claims["exp"])
    assert identity.grants is not identity.grants


def refusals():
    """(name, token, keyword arguments of verify_tct, exception raised)."""
    failed = "TCT verification failed: "
    tampered = ALICE.tct(BOB)
    tampered = tampered[:-2] + ("A" if tampered[-2] != "A" else "B") + tampered[-1]
    jti = str(uuid.uuid4())
    nbf = ALICE.tct(BOB, nbf=1)
    column = b64u_decode(nbf.split(".")[1]).decode().index('"nbf"') + 5
    claim_names = "`ver`, `jti`, `iss`, `sub`, `aud`, `iat`, `exp`, `grants`, `cnf`, `ext`"
    return [
        ("aud-not-sub", ALICE.tct(BOB, aud=CAROL_P256.aid), {}, RuntimeError(failed + "TCT audience does not match")),
        ("other-audience", ALICE.tct(BOB), {"expected_audience": ALICE.aid},
         RuntimeError(failed + "TCT audience does not match")),
        ("long-form-audience", ALICE.tct(BOB), {"expected_audience": "aid:pubkey:ed25519:" + BOB.aid[11:]},
         RuntimeError(failed + "TCT audience does not match")),
        ("tampered-signature", tampered, {}, RuntimeError(failed + "signature verification failed")),
        ("cnf-of-another-key", ALICE.tct(BOB, cnf={"jkt": ALICE.jkt}), {},
         RuntimeError(failed + "TCT cnf.jkt does not match the subject key")),
        ("revoked", ALICE.tct(BOB, jti=jti), {"revoked_jtis": frozenset({jti, "x"})},
         RuntimeError(failed + "TCT jti is revoked")),
        ("revoked-without-grant", ALICE.tct(BOB, jti=jti), {"required_grant": "admin", "revoked_jtis": {jti}},
         RuntimeError(failed + "TCT jti is revoked")),
        ("grant-missing", ALICE.tct(BOB, grants=["read", 'say "hi"\n']), {"required_grant": "admin"},
         RuntimeError("TCT does not grant 'admin'; grants: [\"read\", \"say \\\"hi\\\"\\n\"]")),
        ("not-three-segments", "a.b.c.", {"expected_audience": "bad"},
         ValueError("malformed TCT compact JWS: compact JWS malformed: expected exactly three non-empty segments")),
        ("unknown-claim", nbf, {"expected_audience": "bad"}, ValueError(
            f"invalid TCT claims: unknown field `nbf`, expected one of {claim_names} at line 1 column {column}")),
        ("bad-expected-audience", ALICE.tct(BOB), {"expected_audience": "example.com"},
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


def test_store_and_the_checks_that_still_run_on_a_hit():
    with pytest.raises(ValueError, match="^max_entries must be >= 1$"):
        vesk.TctStore(0)
    store = vesk.TctStore(max_entries=8)
    jti = str(uuid.uuid4())
    token = ALICE.tct(BOB, jti=jti)
    assert BOB.agent.verify_tct_cached(token, "read", store).jti == jti and store.len() == 1
    with pytest.raises(RuntimeError, match="^TCT verification failed: TCT jti is revoked$"):
        BOB.agent.verify_tct_cached(token, "read", store, revoked_jtis={jti})
    with pytest.raises(RuntimeError, match="^TCT does not grant 'admin'"):
        BOB.agent.verify_tct_cached(token, "admin", store)
    with pytest.raises(RuntimeError, match="TCT audience does not match"):
        ALICE.agent.verify_tct_cached(token, "read", store)
    # Failures leave the entry in place, and it still answers.
    assert store.len() == 1
    assert BOB.agent.verify_tct_cached(token, "read", store).jti == jti
    assert store.clear() is None and store.len() == 0


@pytest.mark.parametrize("issuer,holder", [(ALICE, BOB), (CAROL_P256, BOB), (ALICE, DAVE_P256)],
                         ids=["eddsa", "es256", "eddsa-p256-holder"])
def test_renewed_token_and_voucher_verify_with_pyjwt(issuer, holder):
    old_claims = issuer.tct_claims(holder, grants=["write", "read", "write"])
    request = holder.agent.build_renewal_request(issuer.token("vesk-tct+jwt", old_claims))
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


def test_renewal_request_and_its_refusals():
    token = ALICE.tct(BOB)
    text = BOB.agent.build_renewal_request(token)
    request = json.loads(text)
    assert text == json.dumps(request, separators=(",", ":"))
    assert list(request) == ["current_tct", "pop_nonce", "pop_signature"] and request["current_tct"] == token
    BOB.check_digest(hashlib.sha256(b64u_decode(request["pop_nonce"])).digest(), request["pop_signature"])
    assert json.loads(DAVE_P256.agent.build_renewal_request("x"))["pop_signature"].startswith("p256.")

    far = int(time.time()) + 86400

    def rejected(request, manifest_exp=far, ttl=60):
        with pytest.raises(RuntimeError) as raised:
            ALICE.agent.process_renewal_request(request, manifest_exp, ttl)
        return str(raised.value).removeprefix("renewal request rejected: ")

    assert rejected(BOB.agent.build_renewal_request("a.b")).startswith("compact JWS malformed: ")
    assert rejected(CAROL_P256.agent.build_renewal_request(token)) == "TCT signature is invalid"
    other_nonce = json.loads(BOB.agent.build_renewal_request(token))["pop_nonce"]
    assert other_nonce != request["pop_nonce"]
    assert rejected(json.dumps({**request, "pop_nonce": other_nonce})) == "TCT signature is invalid"
    assert rejected(json.dumps({**request, "pop_nonce": request["pop_nonce"] + "=="})) == (
        "claims malformed: pop_nonce: base64url padding is forbidden in VESK")
    # The proof is checked before the lifetime.
    assert rejected(json.dumps({**request, "pop_signature": "x"}), 0, 0) == "TCT signature is invalid"
    assert rejected(text, 0) == "TCT has expired or is not yet valid"
    with pytest.raises(ValueError, match="^invalid renewal payload JSON: unknown field `x`, expected one of "):
        ALICE.agent.process_renewal_request(json.dumps({**request, "x": 1}), far, 60)
