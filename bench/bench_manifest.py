"""Cost of building and of verifying a Manifest, for both suites.

    PYTHONPATH=build/dev python bench/bench_manifest.py
"""

import vesk
from timing import per_call

ENDPOINT = "https://agent.example/vesk/handshake/hello"


def measure() -> dict:
    results = {}
    for suite in ("ed25519", "p256"):
        agent = vesk.VeskAgent.from_seed(bytes([3]) * 32, suite)
        oidc = {"identity_type": "oidc", "oidc_issuer": "https://issuer.example", "oidc_subject": "s"}

        def build():
            return agent.build_manifest("Agent", ENDPOINT, ["read", "write"], ["read"],
                                        **(oidc if suite == "p256" else {}))

        text = build()
        vesk.verify_manifest_json(text)
        results[f"build_manifest_{suite}"] = per_call(build)
        results[f"verify_manifest_json_{suite}"] = per_call(lambda: vesk.verify_manifest_json(text))
    return results


if __name__ == "__main__":
    for name, seconds in measure().items():
        print(f"{name:30s} {seconds * 1e6:9.2f} us")
