"""SPKI pinning, checked against SHA-256 of the DER SubjectPublicKeyInfo that `cryptography`
extracts from certificates made here."""

import hashlib

import pytest
from cryptography import x509
from cryptography.hazmat.primitives import serialization
from cryptography.hazmat.primitives.asymmetric import ec, ed25519, rsa

import vesk
from parties import self_signed

KEYS = {
    "rsa": lambda: rsa.generate_private_key(public_exponent=65537, key_size=2048),
    "ec": lambda: ec.generate_private_key(ec.SECP256R1()),
    "ed25519": ed25519.Ed25519PrivateKey.generate,
}


@pytest.mark.parametrize("kind", sorted(KEYS))
def test_hash_and_pins(kind):
    key = KEYS[kind]()
    cert = self_signed(key)
    spki = x509.load_der_x509_certificate(cert).public_key().public_bytes(
        serialization.Encoding.DER, serialization.PublicFormat.SubjectPublicKeyInfo)
    pin = vesk.compute_spki_hash(cert)
    assert pin == hashlib.sha256(spki).digest()

    other = vesk.compute_spki_hash(self_signed(KEYS[kind]()))
    verifier = vesk.SpkiPinVerifier([other, list(pin), bytearray(pin), pin])
    assert verifier.len == 4
    assert verifier.is_pinned(self_signed(key, days=-1)) is True
    assert vesk.SpkiPinVerifier((other,)).is_pinned(cert) is False
    assert vesk.SpkiPinVerifier([]).is_pinned(cert) is False
    for call in (verifier.is_pinned, vesk.compute_spki_hash):
        with pytest.raises(ValueError, match=r"^invalid X\.509 certificate \(DER\): "):
            call(cert[:-1])


LyingBytes = type("LyingBytes", (bytes,), {"__len__": lambda self: 32})
LyingByteArray = type("LyingByteArray", (bytearray,), {"__len__": lambda self: 32})


@pytest.mark.parametrize("pins,error,message", [
    ([b"\x01" * 32, b"\x01" * 31], ValueError, "pin at index 1 must be exactly 32 bytes (got 31)"),
    # A pin's length is that of its contents, whatever its type's __len__ says.
    ([LyingBytes(b"\x01" * 8)], ValueError, "pin at index 0 must be exactly 32 bytes (got 8)"),
    ([LyingByteArray(b"\x01" * 40)], ValueError, "pin at index 0 must be exactly 32 bytes (got 40)"),
    ("x" * 32, TypeError, "Can't extract `str` to `Vec`"),
    ([7], TypeError, "'int' object is not an instance of 'Sequence'"),
    ([[256] * 32], TypeError, "out of range integral type conversion attempted"),
    ([[-2**70] * 32], TypeError, "out of range integral type conversion attempted"),
])
def test_bad_pins(pins, error, message):
    with pytest.raises(error) as raised:
        vesk.SpkiPinVerifier(pins)
    assert str(raised.value) == message
    if error is TypeError and hasattr(raised.value, "add_note"):
        assert raised.value.__notes__ == ["while processing 'pins'"]
