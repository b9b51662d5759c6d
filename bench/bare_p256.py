"""Bare P-256 signs and verifies by the OpenSSL the module itself uses, called from Python so
that they can be timed in the same rounds as the module's own calls.

The key and its contexts are made once, as `openssl speed ecdsap256` does; each call hashes its
message and signs or verifies the digest, with signatures in DER as OpenSSL takes them. What
calling from Python adds is measured apart (`python_call`) and taken off by bench/run.py.
"""

import ctypes
import ctypes.util
import hashlib

from cryptography.hazmat.primitives import serialization
from cryptography.hazmat.primitives.asymmetric import ec
from cryptography.hazmat.primitives.asymmetric.utils import encode_dss_signature

libcrypto = ctypes.CDLL(ctypes.util.find_library("crypto"))
pointer, size = ctypes.c_void_p, ctypes.c_size_t
for reader in (libcrypto.d2i_PUBKEY, libcrypto.d2i_AutoPrivateKey):
    reader.restype = pointer
    reader.argtypes = [pointer, ctypes.POINTER(ctypes.c_char_p), ctypes.c_long]
libcrypto.EVP_PKEY_CTX_new_from_pkey.restype = pointer
libcrypto.EVP_PKEY_CTX_new_from_pkey.argtypes = [pointer, pointer, pointer]
libcrypto.EVP_PKEY_verify_init.argtypes = libcrypto.EVP_PKEY_sign_init.argtypes = [pointer]
libcrypto.EVP_PKEY_verify.argtypes = [pointer, ctypes.c_char_p, size, ctypes.c_char_p, size]
libcrypto.EVP_PKEY_sign.argtypes = [pointer, ctypes.c_char_p, ctypes.POINTER(size),
                                    ctypes.c_char_p, size]
libcrypto.CRYPTO_memcmp.argtypes = [ctypes.c_char_p, ctypes.c_char_p, size]


def context(der: bytes, reader, init) -> int:
    """A context of the DER key, made ready by `init`."""
    key = reader(None, ctypes.byref(ctypes.c_char_p(der)), len(der))
    made = libcrypto.EVP_PKEY_CTX_new_from_pkey(None, key, None)
    assert key and made and init(made) == 1, "OpenSSL refused the key"
    return made


def der_signature(raw: bytes) -> bytes:
    """A 64-byte r || s signature in DER."""
    return encode_dss_signature(int.from_bytes(raw[:32], "big"), int.from_bytes(raw[32:], "big"))


class BareP256:
    """The P-256 key whose scalar is `seed`."""

    def __init__(self, seed: bytes):
        key = ec.derive_private_key(int.from_bytes(seed, "big"), ec.SECP256R1())
        pkcs8 = key.private_bytes(serialization.Encoding.DER, serialization.PrivateFormat.PKCS8,
                                  serialization.NoEncryption())
        spki = key.public_key().public_bytes(serialization.Encoding.DER,
                                             serialization.PublicFormat.SubjectPublicKeyInfo)
        self.verifying = context(spki, libcrypto.d2i_PUBKEY, libcrypto.EVP_PKEY_verify_init)
        self.signing = context(pkcs8, libcrypto.d2i_AutoPrivateKey, libcrypto.EVP_PKEY_sign_init)
        self.out = ctypes.create_string_buffer(80)
        self.out_size = size()

    def verify(self, message: bytes, der: bytes) -> bool:
        return libcrypto.EVP_PKEY_verify(self.verifying, der, len(der),
                                         hashlib.sha256(message).digest(), 32) == 1

    def sign(self, message: bytes) -> bytes:
        self.out_size.value = len(self.out)
        assert libcrypto.EVP_PKEY_sign(self.signing, self.out, ctypes.byref(self.out_size),
                                       hashlib.sha256(message).digest(), 32) == 1
        return self.out.raw[:self.out_size.value]

    def python_call(self, message: bytes, der: bytes) -> bool:
        """A call of the same shape into OpenSSL that does no work."""
        return libcrypto.CRYPTO_memcmp(der, message, 0) == 0
