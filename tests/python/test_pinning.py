"""SPKI pinning: the hash of a certificate's SubjectPublicKeyInfo and the pin list.

Certificates are made here with `cryptography`; the expected hash is SHA-256 of the DER
SubjectPublicKeyInfo that `cryptography` extracts from the certificate.
"""

import datetime
import hashlib

import pytest
from cryptography import x509
from cryptography.hazmat.primitives import hashes, serialization
from cryptography.hazmat.primitives.asymmetric import ec, ed25519, rsa
from cryptography.x509.oid import NameOID

import vesk

KEYS = {
    "rsa": lambda: rsa.generate_private_key(public_exponent=65537, key_size=2048),
    "ec": lambda: ec.generate_private_key(ec.SECP256R1()),
    "ed25519": ed25519.Ed25519PrivateKey.generate,
}


def certificate(key, days=30, serial=1) -> bytes:
    """A self-signed certificate in DER; a negative lifetime gives an expired one."""
    name = x509.Name([x509.NameAttribute(NameOID.COMMON_NAME, "peer.example")])
    start = datetime.datetime(2020, 1, 1, tzinfo=datetime.timezone.utc)
    cert = (
        x509.CertificateBuilder()
        .subject_name(name)
        .issuer_name(name)
        .public_key(key.public_key())
        .serial_number(serial)
        .not_valid_before(start if days > 0 else start - datetime.timedelta(days=400))
        .not_valid_after(start + datetime.timedelta(days=days))
        .sign(key, None if isinstance(key, ed25519.Ed25519PrivateKey) else hashes.SHA256())
    )
    return cert.public_bytes(serialization.Encoding.DER)


def spki_hash(cert_der: bytes) -> bytes:
    spki = x509.load_der_x509_certificate(cert_der).public_key().public_bytes(
        serialization.Encoding.DER, serialization.PublicFormat.SubjectPublicKeyInfo
    )
    return hashlib.sha256(spki).digest()


def assert_noted(error: BaseException, parameter: str) -> None:
    """Conversion failures name their parameter in a note where notes exist (3.11+)."""
    if hasattr(error, "add_note"):
        assert f"while processing '{parameter}'" in error.__notes__


@pytest.fixture(scope="module", params=sorted(KEYS))
def key(request):
    return KEYS[request.param]()


def test_hash_is_sha256_of_the_subject_public_key_info(key):
    cert = certificate(key)
    expected = spki_hash(cert)
    assert vesk.compute_spki_hash(cert) == expected
    # Whatever else the certificate says, the same key gives the same hash.
    assert vesk.compute_spki_hash(certificate(key, days=-10, serial=7)) == expected
    # Bytes after the certificate are ignored.
    assert vesk.compute_spki_hash(cert + b"\x00trailing bytes") == expected


def test_pinned_certificates(key):
    cert = certificate(key)
    other = certificate(KEYS["ec"]())
    pin = vesk.compute_spki_hash(cert)
    verifier = vesk.SpkiPinVerifier([vesk.compute_spki_hash(other), pin, pin])
    assert verifier.len == 3
    assert verifier.is_pinned(certificate(key, days=-1)) is True
    assert vesk.SpkiPinVerifier([vesk.compute_spki_hash(other)]).is_pinned(cert) is False
    assert vesk.SpkiPinVerifier([list(pin)]).is_pinned(cert) is True
    assert vesk.SpkiPinVerifier([bytearray(pin)]).is_pinned(cert) is True
    assert vesk.SpkiPinVerifier((pin,)).is_pinned(cert) is True


@pytest.mark.parametrize("der", [b"", b"not a certificate", b"\x30\x03\x02\x01\x01"])
def test_unparseable_certificates_raise(der):
    with pytest.raises(ValueError, match=r"^invalid X\.509 certificate \(DER\): "):
        vesk.compute_spki_hash(der)
    with pytest.raises(ValueError, match=r"^invalid X\.509 certificate \(DER\): "):
        vesk.SpkiPinVerifier([]).is_pinned(der)


def test_a_truncated_certificate_is_refused():
    cert = certificate(KEYS["ec"]())
    with pytest.raises(ValueError):
        vesk.compute_spki_hash(cert[:-1])


def test_empty_pin_list_pins_nothing():
    verifier = vesk.SpkiPinVerifier([])
    assert verifier.len == 0
    assert verifier.is_pinned(certificate(KEYS["ed25519"]())) is False


@pytest.mark.parametrize(
    "pins,message",
    [
        ([b"\x01" * 31], "pin at index 0 must be exactly 32 bytes (got 31)"),
        ([b"\x01" * 32, b"\x01" * 33], "pin at index 1 must be exactly 32 bytes (got 33)"),
        ([b"\x01" * 32, []], "pin at index 1 must be exactly 32 bytes (got 0)"),
    ],
)
def test_pins_must_be_32_bytes(pins, message):
    with pytest.raises(ValueError) as raised:
        vesk.SpkiPinVerifier(pins)
    assert str(raised.value) == message


@pytest.mark.parametrize(
    "pins,message",
    [
        ("x" * 32, "Can't extract `str` to `Vec`"),
        (["x" * 32], "Can't extract `str` to `Vec`"),
        ({b"\x01" * 32}, "Sequence"),
        ([7], "Sequence"),
        ([[256] * 32], "out of range integral type conversion attempted"),
        ([[-1] * 32], "out of range integral type conversion attempted"),
        ([[2**70] * 32], "out of range integral type conversion attempted"),
        ([[1.0] * 32], "integer"),
    ],
)
def test_pin_conversion_failures_name_the_argument(pins, message):
    with pytest.raises(TypeError) as raised:
        vesk.SpkiPinVerifier(pins)
    assert message in str(raised.value)
    assert_noted(raised.value, "pins")


@pytest.mark.parametrize("value", [bytearray(b"x"), memoryview(b"x"), "x", None])
def test_certificates_must_be_bytes(value):
    with pytest.raises(TypeError) as raised:
        vesk.compute_spki_hash(value)
    assert_noted(raised.value, "cert_der")


def test_surface():
    assert vesk.compute_spki_hash.__text_signature__ == "(cert_der)"
    assert vesk.SpkiPinVerifier.__text_signature__ == "(pins)"
    assert vesk.SpkiPinVerifier.is_pinned.__text_signature__ == "($self, cert_der)"
    assert vesk.SpkiPinVerifier.is_pinned.__doc__ == (
        "Returns True iff the SPKI hash of `cert_der` is in the pin list."
    )
