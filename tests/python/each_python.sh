#!/usr/bin/env bash
# Runs the Python suite against one built module under every CPython from 3.10 up that this
# machine has (python3.N on the PATH, and pyenv's interpreters), each in its own venv with the
# test requirements. Usage: each_python.sh MODULE_DIR WORK_DIR
set -u
module=$(cd "$1" && pwd)
work=$2
root=$(cd "$(dirname "$0")/../.." && pwd)
requirements=$root/tests/requirements.txt

candidates() {
    compgen -c python3. | sort -u
    if command -v pyenv >/dev/null; then ls "$(pyenv root)"/versions/*/bin/python3.*; fi
}

declare -A found  # minor version -> interpreter
skipped=()
for candidate in $(candidates 2>/dev/null | grep -E '(^|/)python3\.[0-9]+$'); do
    # A pyenv shim of a version not selected does not run: that version is reached directly.
    about=$("$candidate" -c 'import sys; print(sys.implementation.name, sys.version_info[1])' \
        2>/dev/null) || continue
    read -r name minor <<<"$about"
    if [ "$name" != cpython ] || [ "$minor" -lt 10 ]; then
        skipped+=("$candidate ($name 3.$minor)")
    elif [ -z "${found[$minor]:-}" ]; then
        found[$minor]=$candidate
    fi
done

ran=() failed=()
for minor in $(printf '%s\n' "${!found[@]}" | sort -n); do
    version=3.$minor venv=$work/3.$minor
    echo "=== Python $version (${found[$minor]})"
    if [ ! "$venv/.ready" -nt "$requirements" ]; then
        "${found[$minor]}" -m venv --clear "$venv" && "$venv/bin/python" -m pip install -q \
            --disable-pip-version-check -r "$requirements" && touch "$venv/.ready" ||
            { skipped+=("$version (its venv could not be set up)"); continue; }
    fi
    if (cd "$root" && PYTHONPATH=$module "$venv/bin/python" -m pytest -q -p no:cacheprovider \
        tests/python); then
        ran+=("$version")
    else
        failed+=("$version")
    fi
done

echo "passed: ${ran[*]:-none}; failed: ${failed[*]:-none}; skipped: ${skipped[*]:-none}"
[ ${#failed[@]} -eq 0 ] && [ ${#ran[@]} -gt 0 ]
