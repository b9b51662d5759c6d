import pytest

from vesk import InitiatorSession, JwksProvider, ResponderSession, VeskAgent

ENDPOINT = "https://agent.example/vesk/handshake/hello"
MAKERS = [
    pytest.param("new_session", InitiatorSession, id="initiator"),
    pytest.param("new_responder", ResponderSession, id="responder"),
]


@pytest.mark.parametrize("method, cls", MAKERS)
def test_sessions_are_made_and_leave_the_provider_usable(method, cls):
    agent = VeskAgent.generate()
    agent.build_manifest("Agent", ENDPOINT, ["read"])
    provider = JwksProvider()
    make = getattr(agent, method)
    sessions = [make(), make(provider, ["https://Issuer.example"]), make(trust_anchors=[])]
    assert all(type(s) is cls for s in sessions)
    provider.upsert("https://issuer.example", [])
    assert provider.issuers() == ["https://issuer.example/"]


@pytest.mark.parametrize("method, cls", MAKERS)
def test_session_creation_refusals(method, cls):
    with pytest.raises(RuntimeError, match=r"^call build_manifest\(\) before creating a session$"):
        getattr(VeskAgent.generate(), method)()
    agent = VeskAgent.generate("p256")
    agent.build_manifest("Agent", ENDPOINT, ["read"], identity_type="oidc",
                         oidc_issuer="https://idp.example", oidc_subject="svc")
    make = getattr(agent, method)
    with pytest.raises(ValueError) as raised:
        make(trust_anchors=["https://ok.example/", "no scheme"])
    assert str(raised.value) == "invalid trust anchor URL: relative URL without a base"
    # Both wrong: the trust anchors are converted first.
    with pytest.raises(TypeError) as raised:
        make(jwks=1, trust_anchors="x")
    assert str(raised.value) == "Can't extract `str` to `Vec`"
    assert getattr(raised.value, "__notes__", ["while processing 'trust_anchors'"]) == [
        "while processing 'trust_anchors'"]
