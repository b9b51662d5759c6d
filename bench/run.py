"""Runs every benchmark in one go and writes the table of results with the machine's details.

    python bench/run.py --core build/bench/vesk_bench --out bench/RESULTS.md

The module under test is the one Python imports (`make bench` installs a release build first);
`--core` is the C++ benchmark binary (CMake option VESK_BENCH), `--json` the one for reading JSON.
"""

import argparse
import importlib.metadata
import json
import os
import platform
import subprocess
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).parent))

import bench_import  # noqa: E402
import bench_manifest  # noqa: E402
import bench_p256  # noqa: E402
import bench_tct  # noqa: E402

try:
    import bench_handshake  # noqa: E402
except ImportError:
    bench_handshake = None


def command_output(*command) -> str:
    try:
        return subprocess.run(command, capture_output=True, text=True, check=True).stdout.strip()
    except (OSError, subprocess.CalledProcessError):
        return "unknown"


def cpu_model() -> str:
    for line in Path("/proc/cpuinfo").read_text().splitlines():
        if line.startswith("model name"):
            return line.split(":", 1)[1].strip()
    return platform.processor() or "unknown"


def machine() -> list:
    versions = {name: importlib.metadata.version(name) for name in ("cryptography", "PyJWT")}
    return [
        ("CPU", f"{cpu_model()}, {os.cpu_count()} logical cores"),
        ("Load average at start", " ".join(f"{x:.1f}" for x in os.getloadavg())),
        ("OS", f"{platform.system()} {platform.release()} ({platform.machine()})"),
        ("Python", platform.python_version()),
        ("Compiler", command_output("c++", "--version").splitlines()[0]),
        ("libsodium", command_output("pkg-config", "--modversion", "libsodium")),
        ("OpenSSL", command_output("pkg-config", "--modversion", "libcrypto")),
        ("ICU", command_output("pkg-config", "--modversion", "icu-uc")),
        ("cryptography / PyJWT", f"{versions['cryptography']} / {versions['PyJWT']}"),
    ]


def us(seconds: float) -> str:
    return f"{seconds * 1e6:.1f} µs"


def rows(core: dict, py: dict) -> list:
    """(measure, figure, target or None, met or None)."""
    ns = 1e-9
    out = []

    def ratio(name, numerator, denominator, limit=None, at_least=False):
        value = numerator / denominator
        target = None if limit is None else (f"≥ {limit}×" if at_least else f"≤ {limit}×")
        met = None if limit is None else (value >= limit if at_least else value <= limit)
        out.append((name, f"{value:.2f}× ({us(numerator)} / {us(denominator)})", target, met))

    if core:
        ratio("core verify_tct_token ÷ libsodium Ed25519 verify",
              core["verify_tct_token_ed25519"] * ns, core["bare_verify_ed25519"] * ns, 1.15)
        ratio("core agent-level verify ÷ libsodium Ed25519 verify",
              core["verify_tct_for_agent_ed25519"] * ns, core["bare_verify_ed25519"] * ns, 1.15)
        ratio("core verify_tct_token, P-256 ÷ bare P-256 verify",
              core["verify_tct_token_p256"] * ns, core["bare_verify_p256"] * ns)
        ratio("core verify_tct_token, P-256 ÷ Ed25519",
              core["verify_tct_token_p256"] * ns, core["verify_tct_token_ed25519"] * ns)
    ratio("Python verify_tct ÷ libsodium Ed25519 verify (C++)", py["verify_tct"],
          core["bare_verify_ed25519"] * ns, 1.15) if core else None
    ratio("Python verify_tct ÷ `cryptography` Ed25519 verify", py["verify_tct"], py["bare_verify_cryptography"])
    ratio("PyJWT + `cryptography`, same checks ÷ verify_tct", py["pyjwt"], py["verify_tct"], 3, at_least=True)
    ratio("TctStore miss ÷ hit", py["cached_miss"], py["cached_hit"], 30, at_least=True)
    ratio("verify_tct, ES256 ÷ EdDSA token", py["verify_tct_es256"], py["verify_tct"])
    if "handshake" in py:
        counts = (bench_handshake.SIGNS, bench_handshake.VERIFIES)
        if core:
            floor = (counts[0] * core["bare_sign_ed25519"] + counts[1] * core["bare_verify_ed25519"]) * ns
            ratio(f"whole handshake ÷ its {counts[0]} signs + {counts[1]} verifies (libsodium)",
                  py["handshake"], floor, 1.3)
        floor = counts[0] * py["sign_cryptography"] + counts[1] * py["verify_cryptography"]
        ratio("whole handshake ÷ the same operations in `cryptography`", py["handshake"], floor)
    for suite in ("ed25519", "p256"):
        out.append((f"build_manifest, {suite}", us(py[f"build_manifest_{suite}"]), None, None))
        out.append((f"verify_manifest_json, {suite}", us(py[f"verify_manifest_json_{suite}"]), None, None))
    out.append(("import vesk (fresh interpreter, median)", f"{py['import_vesk'] * 1e3:.2f} ms", None, None))
    return out


def ratio_row(name, numerator, denominator, limit=None, at_least=False):
    value = numerator / denominator
    target = None if limit is None else (f"≥ {limit}×" if at_least else f"≤ {limit}×")
    met = None if limit is None else (value >= limit if at_least else value <= limit)
    return name, f"{value:.2f}× ({us(numerator)} / {us(denominator)})", target, met


def p256_rows(core: dict, p256: dict) -> list:
    """The P-256 checks of bench_p256.py against bare OpenSSL operations timed in the same rounds,
    less what calling them from Python adds."""
    ns = 1e-9
    verify = p256["bare_verify"] - p256["python_call"]
    sign = p256["bare_sign"] - p256["python_call"]
    m = bench_p256
    floor = m.SIGNS * sign + m.VERIFIES * verify + m.MINTS * p256["mint_identity_token"]
    out = [
        ratio_row("verify_tct ÷ bare verify", p256["verify_tct"], verify, 1.2),
        ratio_row("PyJWT + `cryptography` ES256, same checks ÷ verify_tct", p256["pyjwt"],
                  p256["verify_tct"], 1.6, at_least=True),
        ratio_row("verify_manifest_json ÷ 2 bare verifies", p256["verify_manifest_json"], 2 * verify),
        ratio_row(f"verify_delegation ÷ {m.DELEGATION_VERIFIES} bare verifies",
                  p256["verify_delegation"], m.DELEGATION_VERIFIES * verify),
        ratio_row(f"OIDC handshake ÷ its {m.SIGNS} bare signs + {m.VERIFIES} bare verifies + "
                  f"{m.MINTS} identity token mints", p256["handshake"], floor, 1.4),
    ]
    if core:
        out.append(ratio_row("core sign (RFC 6979 nonce) ÷ bare sign (random nonce), both in C++",
                             core["sign_p256"] * ns, core["bare_sign_p256"] * ns))
    return out


def table(results: list) -> str:
    lines = ["| Measure | Result | Target | Met |", "|---|---|---|---|"]
    for name, figure, target, met in results:
        lines.append(f"| {name} | {figure} | {target or ''} | {'' if met is None else ('yes' if met else 'NO')} |")
    return "\n".join(lines)


JSON_SHAPES = {"numbers": "`[1,1,…]`", "arrays": "`[[],[],…]`", "objects": '`[{"k":0},…]`'}
JSON_PEAK_MB = 16
JSON_TIME_MB = (1, 4, 16)
JSON_CALLS = {"verify_manifest_json": "the Manifest's `extensions`",
              "ResponderSession.process_hello": "the hello payload's `extensions`",
              "VeskAgent.verify_tct": "the token's `ext`"}


def json_section(binary: str) -> list:
    """Peak memory of reading each shape as a generic value (one process each) and the time per
    byte of text at growing sizes, which stays flat when reading is linear; then the peak of
    each shape read through the public calls that take peer text (bench_json_peak.py)."""
    times = json.loads(command_output(binary, "time", *map(str, JSON_TIME_MB)))
    lines = ["## Reading JSON", "",
             f"A {JSON_PEAK_MB} MB text of each shape read as a generic value by the core reader.", "",
             "| Shape | Peak memory ÷ text | Target | Met | "
             + " | ".join(f"ns/byte, {mb} MB" for mb in JSON_TIME_MB) + " |",
             "|---|---|---|---|" + "---|" * len(JSON_TIME_MB)]
    for shape, shown in JSON_SHAPES.items():
        peak = json.loads(command_output(binary, "peak", shape, str(JSON_PEAK_MB)))
        ratio = peak["peak"] / peak["text"]
        per_byte = " | ".join(f"{times[f'{shape}/{mb}']:.2f}" for mb in JSON_TIME_MB)
        lines.append(f"| {shown} | {ratio:.1f}× ({peak['peak'] / 2**20:.0f} MB) | ≤ 16× | "
                     f"{'yes' if ratio <= 16 else 'NO'} | {per_byte} |")
    lines += ["", f"The same {JSON_PEAK_MB} MB shapes read through public calls, one process each: "
              "peak memory ÷ the text passed (for a token, its base64url form).", "",
              "| Call (shape in) | " + " | ".join(JSON_SHAPES.values()) + " | Target | Met |",
              "|---|" + "---|" * (len(JSON_SHAPES) + 2)]
    script = str(Path(__file__).with_name("bench_json_peak.py"))
    for call, where in JSON_CALLS.items():
        ratios = []
        for shape in JSON_SHAPES:
            peak = json.loads(command_output(sys.executable, script, call.split(".")[-1], shape,
                                             str(JSON_PEAK_MB)))
            ratios.append(peak["peak"] / peak["text"])
        lines.append(f"| `{call}` ({where}) | " + " | ".join(f"{r:.1f}×" for r in ratios)
                     + f" | ≤ 16× | {'yes' if max(ratios) <= 16 else 'NO'} |")
    return lines + [""]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--core", help="the C++ benchmark binary")
    parser.add_argument("--json", help="the C++ benchmark binary for reading JSON")
    parser.add_argument("--out", help="write the Markdown table here")
    args = parser.parse_args()

    details = machine()
    core = json.loads(command_output(args.core)) if args.core else {}
    py = {**bench_tct.measure(), **bench_manifest.measure(), **bench_import.measure()}
    if bench_handshake is not None:
        py.update(bench_handshake.measure())
    p256 = bench_p256.measure()
    report = "\n".join([
        "# Benchmark results", "",
        "Written by `make bench` (bench/run.py). Times are the best mean of several rounds; ratios",
        "compare figures taken in the same run.", "",
        *(f"- {name}: {value}" for name, value in details), "",
        table(rows(core, py)), "",
        "## P-256", "",
        "A P-256 holder and issuer throughout. Bare signs and verifies are OpenSSL's, with a key",
        "built once, SHA-256 and DER conversion included (bench/bare_p256.py).", "",
        table(p256_rows(core, p256)), "",
        *(json_section(args.json) if args.json else []),
    ])
    print(report)
    if args.out:
        Path(args.out).write_text(report)


if __name__ == "__main__":
    main()
