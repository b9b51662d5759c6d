"""Time of `import vesk` in a fresh interpreter: the median of several runs.

    PYTHONPATH=build/dev python bench/bench_import.py
"""

import statistics
import subprocess
import sys

PROGRAM = "import time; t = time.perf_counter(); import vesk; print(time.perf_counter() - t)"


def measure(runs=9) -> dict:
    samples = [float(subprocess.run([sys.executable, "-c", PROGRAM], check=True, capture_output=True,
                                    text=True).stdout) for _ in range(runs)]
    return {"import_vesk": statistics.median(samples)}


if __name__ == "__main__":
    print(f"import vesk: {measure()['import_vesk'] * 1e3:.2f} ms")
