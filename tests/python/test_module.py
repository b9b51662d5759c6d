import importlib
import shutil
import subprocess
import sys

import pytest

import vesk

ORDER = ["VeskAgent", "InitiatorSession", "ResponderSession", "TctIdentity", "TctStore",
         "DelegationVerified", "JwksProvider", "verify_delegation", "verify_revocation_list",
         "revocation_signing_bytes", "ManifestVerificationError", "RevocationVerificationError",
         "verify_delegation_multihop", "verify_manifest_json", "compute_aid_jkt",
         "SessionBundleBuilder", "verify_session_bundle", "SpkiPinVerifier", "compute_spki_hash"]
MODULE_ATTRIBUTES = {"__all__", "__doc__", "__file__", "__loader__", "__name__", "__package__", "__spec__"}


def test_module_lists_and_binds_exactly_what_is_registered():
    assert vesk.__doc__ == "The `vesk` Python module."
    assert vesk.__all__ == [name for name in ORDER if name in vesk.__all__]
    assert {"ManifestVerificationError", "RevocationVerificationError"} <= set(vesk.__all__)
    assert set(dir(vesk)) == MODULE_ATTRIBUTES | set(vesk.__all__)


def test_module_is_an_abi3_library_exporting_only_its_initialiser():
    assert vesk.__file__.endswith(".abi3.so")
    if shutil.which("nm") is None:
        pytest.skip("nm is not installed")
    out = subprocess.run(
        ["nm", "-D", "--defined-only", vesk.__file__], capture_output=True, text=True, check=True
    ).stdout
    exported = [line.split()[-1] for line in out.splitlines() if line.split()[1:2] != ["A"]]
    assert exported == ["PyInit_vesk"]


@pytest.mark.parametrize("name", ["ManifestVerificationError", "RevocationVerificationError"])
def test_code_carrying_exceptions_are_runtime_errors_of_module_vesk(name):
    cls = getattr(vesk, name)
    assert (cls.__module__, cls.__qualname__, cls.__bases__) == ("vesk", name, (RuntimeError,))
    assert "`code`" in cls.__doc__
    error = cls("message")
    assert str(error) == "message" and not hasattr(error, "code")


def test_reimport_registers_the_same_class_objects():
    first = vesk.ManifestVerificationError
    del sys.modules["vesk"]
    try:
        again = importlib.import_module("vesk")
        assert again is not vesk
        assert again.ManifestVerificationError is first
        assert again.__all__ == vesk.__all__
    finally:
        sys.modules["vesk"] = vesk


def test_text_signatures_show_defaults():
    assert vesk.VeskAgent.from_seed.__text_signature__ == '(seed, suite="ed25519")'
    assert vesk.verify_delegation_multihop.__text_signature__ == (
        "(delegation_token, verifier_aid, max_delegation_hops=..., revoked_jtis=None)")
