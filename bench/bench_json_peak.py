"""Peak memory of reading a large generic JSON value through a public call, one per process:

    PYTHONPATH=build/dev python bench/bench_json_peak.py CALL SHAPE MB

prints {"text": bytes passed to the call, "peak": bytes the call added to the resident peak}.
CALL is verify_manifest_json (the shape in the Manifest's `extensions`; the added member
breaks the signature, which is checked after the signed bytes are made), process_hello (in the
hello payload's `extensions`) or verify_tct (in the token's `ext`). SHAPE is one of
run.JSON_SHAPES.
"""

import json
import sys
from pathlib import Path

import vesk
from bench_tct import make_token

ELEMENTS = {"numbers": "1", "arrays": "[]", "objects": '{"k":0}'}


def shape_text(shape: str, megabytes: int) -> str:
    element = ELEMENTS[shape]
    return "[" + ",".join([element] * ((megabytes << 20) // (len(element) + 1))) + "]"


def with_shape(text: str, path: list, shape: str) -> str:
    """The JSON `text` with {"shape": <shape>} as the `extensions` of the object at `path`."""
    value = json.loads(text)
    target = value
    for name in path:
        target = target[name]
    target["extensions"] = {"shape": "@SHAPE@"}
    return json.dumps(value, separators=(",", ":")).replace('"@SHAPE@"', shape)


def prepare(call: str, shape: str):
    """The call to measure, and the text it is given."""
    alice, bob = vesk.VeskAgent.from_seed(b"\x01" * 32), vesk.VeskAgent.from_seed(b"\x02" * 32)
    bob_manifest = bob.build_manifest("bob", "https://bob.example/vesk", ["read"])
    if call == "verify_manifest_json":
        text = with_shape(bob_manifest, ["manifest"], shape)
        return lambda: vesk.verify_manifest_json(text), text
    if call == "process_hello":
        alice.build_manifest("alice", "https://alice.example/vesk", ["read"])
        hello = alice.new_session().build_hello(bob_manifest, ["read"])
        text = with_shape(hello, ["payload"], shape)
        responder = bob.new_responder()
        return lambda: responder.process_hello(text), text
    if call == "verify_tct":
        text, _ = make_token("ed25519", alice, ext=shape)
        return lambda: alice.verify_tct(text, "read"), text
    raise SystemExit(f"unknown call {call}")


def status_bytes(field: str) -> int:
    for line in Path("/proc/self/status").read_text().splitlines():
        if line.startswith(field):
            return int(line.split()[1]) * 1024
    return 0


def main():
    call, shape, megabytes = sys.argv[1], sys.argv[2], int(sys.argv[3])
    run, text = prepare(call, shape_text(shape, megabytes))
    Path("/proc/self/clear_refs").write_text("5")  # resets VmHWM to VmRSS
    before = status_bytes("VmRSS:")
    try:
        run()
    except vesk.ManifestVerificationError:
        pass  # the signature, checked after the signed bytes are made
    print(json.dumps({"text": len(text), "peak": status_bytes("VmHWM:") - before}))


if __name__ == "__main__":
    main()
