import pytest

import vesk

ORDER = ["VeskAgent", "InitiatorSession", "ResponderSession", "TctIdentity", "TctStore",
         "DelegationVerified", "JwksProvider", "verify_delegation", "verify_revocation_list",
         "revocation_signing_bytes", "ManifestVerificationError", "RevocationVerificationError",
         "verify_delegation_multihop", "verify_manifest_json", "compute_aid_jkt",
         "SessionBundleBuilder", "verify_session_bundle", "SpkiPinVerifier", "compute_spki_hash"]
MODULE_ATTRIBUTES = {"__all__", "__doc__", "__file__", "__loader__", "__name__", "__package__",
                     "__spec__"}


def test_module_lists_and_binds_exactly_what_is_registered():
    assert vesk.__doc__ == "The `vesk` Python module."
    assert vesk.__all__ == [name for name in ORDER if name in vesk.__all__]
    assert {"ManifestVerificationError", "RevocationVerificationError"} <= set(vesk.__all__)
    assert set(dir(vesk)) == MODULE_ATTRIBUTES | set(vesk.__all__)


@pytest.mark.parametrize("name", ["ManifestVerificationError", "RevocationVerificationError"])
def test_code_carrying_exceptions_are_runtime_errors_of_module_vesk(name):
    cls = getattr(vesk, name)
    assert cls.__module__ == "vesk"
    assert cls.__qualname__ == name
    assert cls.__bases__ == (RuntimeError,)
    assert "`code`" in cls.__doc__
    error = cls("message")
    assert str(error) == "message"
    assert not hasattr(error, "code")
    with pytest.raises(RuntimeError):
        raise error


def test_reimport_registers_the_same_class_objects():
    import importlib
    import sys

    first = vesk.ManifestVerificationError
    del sys.modules["vesk"]
    try:
        again = importlib.import_module("vesk")
        assert again is not vesk
        assert again.ManifestVerificationError is first
        assert again.__all__ == vesk.__all__
    finally:
        sys.modules["vesk"] = vesk
