import pytest

import vesk
from vesk import InitiatorSession, JwksProvider, ResponderSession, VeskAgent

ENDPOINT = "https://agent.example/vesk/handshake/hello"


def built_agent(suite="ed25519", **kwargs):
    agent = VeskAgent.generate(suite)
    agent.build_manifest("Agent", ENDPOINT, ["read"], **kwargs)
    return agent


MAKERS = [
    pytest.param("new_session", InitiatorSession, id="initiator"),
    pytest.param("new_responder", ResponderSession, id="responder"),
]


@pytest.mark.parametrize("method, cls", MAKERS)
def test_sessions_with_and_without_provider_and_anchors(method, cls):
    agent = built_agent()
    provider = JwksProvider()
    make = getattr(agent, method)
    sessions = [
        make(),
        make(None, None),
        make(provider),
        make(jwks=provider, trust_anchors=["https://Issuer.example", "https://issuer.example/"]),
        make(trust_anchors=[]),
        make(trust_anchors=("https://a.example/x",)),
    ]
    assert all(type(s) is cls for s in sessions)
    assert len({id(s) for s in sessions}) == len(sessions)
    # A provider used by sessions stays usable on its own.
    provider.upsert("https://issuer.example", [])
    assert provider.issuers() == ["https://issuer.example/"]


@pytest.mark.parametrize("method, cls", MAKERS)
def test_session_creation_refusals(method, cls):
    fresh = VeskAgent.generate()
    with pytest.raises(RuntimeError, match=r"^call build_manifest\(\) before creating a session$"):
        getattr(fresh, method)()
    agent = built_agent("p256", identity_type="oidc", oidc_issuer="https://idp.example",
                        oidc_subject="svc")
    make = getattr(agent, method)
    cases = [
        (dict(trust_anchors=["https://ok.example/", "no scheme"]), ValueError,
         "invalid trust anchor URL: relative URL without a base", "trust_anchors"),
        (dict(trust_anchors=["https://[::1"]), ValueError,
         "invalid trust anchor URL: invalid IPv6 address", "trust_anchors"),
        (dict(trust_anchors="https://a.example/"), TypeError, "Can't extract `str` to `Vec`",
         "trust_anchors"),
        (dict(jwks={}), TypeError, "'dict' object is not an instance of 'JwksProvider'", "jwks"),
        # Both wrong: the trust anchors are converted first.
        (dict(jwks=1, trust_anchors="x"), TypeError, "Can't extract `str` to `Vec`",
         "trust_anchors"),
    ]
    for kwargs, kind, text, parameter in cases:
        with pytest.raises(kind) as raised:
            make(**kwargs)
        assert str(raised.value) == text
        if kind is TypeError:
            assert getattr(raised.value, "__notes__", [f"while processing '{parameter}'"]) == [
                f"while processing '{parameter}'"
            ]
    with pytest.raises(TypeError):
        make(None, None, None)
    with pytest.raises(TypeError):
        make(provider=None)


def test_session_classes_surface():
    assert VeskAgent.new_session.__text_signature__ == "($self, jwks=None, trust_anchors=None)"
    assert VeskAgent.new_responder.__text_signature__ == "($self, jwks=None, trust_anchors=None)"
    assert VeskAgent.new_session.__doc__.startswith(
        "Create a new outbound (initiator) handshake session."
    )
    assert "new inbound (responder) handshake session" in VeskAgent.new_responder.__doc__
    for cls in (InitiatorSession, ResponderSession):
        with pytest.raises(TypeError, match=rf"^cannot create 'builtins.{cls.__name__}' instances$"):
            cls()
        with pytest.raises(TypeError):
            type("Sub", (cls,), {})
    assert vesk.__all__.index("InitiatorSession") == 1
    assert vesk.__all__.index("ResponderSession") == 2

