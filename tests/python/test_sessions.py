import pytest

from parties import ENDPOINT
from vesk import InitiatorSession, JwksProvider, ResponderSession, VeskAgent


@pytest.mark.parametrize("method, cls", [("new_session", InitiatorSession), ("new_responder", ResponderSession)],
                         ids=["initiator", "responder"])
def test_sessions_are_made_or_refused(method, cls):
    with pytest.raises(RuntimeError, match=r"^call build_manifest\(\) before creating a session$"):
        getattr(VeskAgent.generate(), method)()
    agent = VeskAgent.generate("p256")
    agent.build_manifest("Agent", ENDPOINT, ["read"], identity_type="oidc",
                         oidc_issuer="https://idp.example", oidc_subject="svc")
    make, provider = getattr(agent, method), JwksProvider()
    assert all(type(s) is cls for s in [make(), make(provider, ["https://Issuer.example"]), make(trust_anchors=[])])
    provider.upsert("https://issuer.example", [])  # no session holds the provider borrowed
    assert provider.issuers() == ["https://issuer.example/"]

    with pytest.raises(ValueError) as raised:
        make(trust_anchors=["https://ok.example/", "no scheme"])
    assert str(raised.value) == "invalid trust anchor URL: relative URL without a base"
    # Both wrong: the trust anchors are converted first.
    with pytest.raises(TypeError) as raised:
        make(jwks=1, trust_anchors="x")
    assert str(raised.value) == "Can't extract `str` to `Vec`"
    assert getattr(raised.value, "__notes__", ["while processing 'trust_anchors'"]) == [
        "while processing 'trust_anchors'"]
