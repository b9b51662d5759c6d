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


def certificate(key, days=30) -> bytes:
    """A self-signed certificate in DER; a negative lifetime gives an expired one."""
    name = x509.Name([x509.NameAttribute(NameOID.COMMON_NAME, "peer.example")])
    start = datetime.datetime(2020, 1, 1, tzinfo=datetime.timezone.utc)
    cert = (
        x509.CertificateBuilder()
        .subject_name(name)
        .issuer_name(name)
        .public_key(key.public_key())
        .serial_number(days + 1000)
        .not_valid_before(start - datetime.timedelta(days=400))
        .not_valid_after(start + datetime.timedelta(days=days))
        .sign(key, None if isinstance(key, ed25519.Ed25519PrivateKey) else hashes.SHA256())
    )
    return cert.public_bytes(serialization.Encoding.DER)


@pytest.mark.parametrize("kind", sorted(KEYS))
def test_hash_is_sha256_of_the_subject_public_key_info(kind):
    key = KEYS[kind]()
    cert = certificate(key)
    spki = x509.load_der_x509_certificate(cert).public_key().public_bytes(
        serialization.Encoding.DER, serialization.PublicFormat.SubjectPublicKeyInfo
    )
    pin = vesk.compute_spki_hash(cert)
    assert pin == hashlib.sha256(spki).digest()
    # Whatever else the certificate says (here: expired), the same key gives the same hash;
    # bytes after the certificate are ignored.
    assert vesk.compute_spki_hash(certificate(key, days=-10)) == pin
    assert vesk.compute_spki_hash(cert + b"\x00trailing bytes") == pin

    other = vesk.compute_spki_hash(certificate(KEYS[kind]()))
    verifier = vesk.SpkiPinVerifier([other, list(pin), bytearray(pin), pin])
    assert verifier.len == 4
    assert verifier.is_pinned(certificate(key, days=-1)) is True
    assert vesk.SpkiPinVerifier((other,)).is_pinned(cert) is False
    assert vesk.SpkiPinVerifier([]).is_pinned(cert) is False


@pytest.mark.parametrize("der", [b"", b"not a certificate", b"\x30\x03\x02\x01\x01"])
def test_unparseable_certificates_raise(der):
    for call in (vesk.compute_spki_hash, vesk.SpkiPinVerifier([]).is_pinned):
        with pytest.raises(ValueError, match=r"^invalid X\.509 certificate \(DER\): "):
            call(der)
    with pytest.raises(ValueError):
        vesk.compute_spki_hash(certificate(KEYS["ec"]())[:-1])


@pytest.mark.parametrize(
    "pins,error,message",
    [
        ([b"\x01" * 31], ValueError, "pin at index 0 must be exactly 32 bytes (got 31)"),
        ([b"\x01" * 32, []], ValueError, "pin at index 1 must be exactly 32 bytes (got 0)"),
        ("x" * 32, TypeError, "Can't extract `str` to `Vec`"),
        (["x" * 32], TypeError, "Can't extract `str` to `Vec`"),
        ([7], TypeError, "'int' object is not an instance of 'Sequence'"),
        ([[256] * 32], TypeError, "out of range integral type conversion attempted"),
        ([[-1] * 32], TypeError, "out of range integral type conversion attempted"),
        ([[2**70] * 32], TypeError, "out of range integral type conversion attempted"),
    ],
)
def test_bad_pins(pins, error, message):
    with pytest.raises(error) as raised:
        vesk.SpkiPinVerifier(pins)
    assert str(raised.value) == message
    if error is TypeError and hasattr(raised.value, "add_note"):
        assert raised.value.__notes__ == ["while processing 'pins'"]


@pytest.mark.parametrize("value", [bytearray(b"x"), memoryview(b"x"), "x", None])
def test_certificates_must_be_bytes(value):
    with pytest.raises(TypeError):
        vesk.compute_spki_hash(value)
