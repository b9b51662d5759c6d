import shutil
import subprocess

import pytest

import vesk


def test_module_imports_with_its_docstring():
    assert vesk.__name__ == "vesk"
    assert vesk.__doc__ == "The `vesk` Python module."


def test_module_is_an_abi3_library_exporting_only_its_initialiser():
    assert vesk.__file__.endswith(".abi3.so")
    if shutil.which("nm") is None:
        pytest.skip("nm is not installed")
    out = subprocess.run(
        ["nm", "-D", "--defined-only", vesk.__file__], capture_output=True, text=True, check=True
    ).stdout
    exported = [line.split()[-1] for line in out.splitlines() if line.split()[1:2] != ["A"]]
    assert exported == ["PyInit_vesk"]
