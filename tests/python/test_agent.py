import pytest

import vesk
from parties import Signer, b64u
from vesk import VeskAgent

P256_ORDER = 0xFFFFFFFF00000000FFFFFFFFFFFFFFFFBCE6FAADA7179E84F3B9CAC2FC632551
SEEDS = [bytes(range(32)), b"\x01" * 32, (P256_ORDER - 1).to_bytes(32, "big")]


@pytest.mark.parametrize("suite", ["ed25519", "p256"])
@pytest.mark.parametrize("seed", SEEDS, ids=["counting", "ones", "order-minus-one"])
def test_from_seed_aid_and_jkt_equal_those_computed_with_cryptography(seed, suite):
    signer = Signer(seed, suite)  # checks the AID against the one it computes
    assert VeskAgent.from_seed(seed=seed, suite=suite).aid == signer.aid
    assert vesk.compute_aid_jkt(signer.aid) == signer.jkt
    if suite == "ed25519":
        long_form = "aid:pubkey:ed25519:" + signer.aid[len("aid:pubkey:"):]
        assert vesk.compute_aid_jkt(aid=long_form) == signer.jkt


@pytest.mark.parametrize("suite, prefix, length",
                         [("ed25519", "aid:pubkey:", 54), ("p256", "aid:pubkey:p256:", 60)])
def test_generate_gives_fresh_keys_of_the_suite(suite, prefix, length):
    first, second = VeskAgent.generate(suite).aid, VeskAgent.generate(suite=suite).aid
    assert first.startswith(prefix) and len(first) == length
    assert first != second
    assert len(VeskAgent.generate().aid) == 54
    assert VeskAgent.from_seed(bytes(32)).aid == VeskAgent.from_seed(bytes(32), "ed25519").aid


@pytest.mark.parametrize("call, message", [
    (lambda: VeskAgent.generate("P256"), "unknown suite 'P256': expected 'ed25519' or 'p256'"),
    (lambda: VeskAgent.from_seed(bytes(32), "rsa"),
     "unknown suite 'rsa': expected 'ed25519' or 'p256'"),
    (lambda: VeskAgent.from_seed(bytes(31), "rsa"), "seed must be exactly 32 bytes"),
    (lambda: VeskAgent.from_seed(bytes(33)), "seed must be exactly 32 bytes"),
    *[(lambda s=scalar: VeskAgent.from_seed(s.to_bytes(32, "big"), "p256"),
       "invalid P-256 seed: public key parsing failed: signature error")
      for scalar in (0, P256_ORDER, 2**256 - 1)],
    (lambda: vesk.compute_aid_jkt("nope"), "invalid AID 'nope': "),
    (lambda: vesk.compute_aid_jkt("aid:pubkey:short"), "invalid AID 'aid:pubkey:short': "),
    (lambda: vesk.compute_aid_jkt("aid:pubkey:" + b64u(b"\x02" + bytes(31))),
     "AID has invalid key bytes: "),
    (lambda: vesk.compute_aid_jkt("aid:pubkey:p256:" + b64u(b"\x02" + b"\x01" * 32)),
     "AID has invalid key bytes: "),
])
def test_bad_suites_seeds_and_aids_raise_value_error(call, message):
    with pytest.raises(ValueError) as raised:
        call()
    assert str(raised.value) == message or message.endswith(": ") and str(raised.value).startswith(message)
