# `make test` and `make demo` set up everything they need on a fresh Debian machine.
SHELL := /bin/bash
VENV := .venv
PY := $(VENV)/bin/python
JOBS := $(shell nproc)
APT_PACKAGES := build-essential cmake ninja-build pkg-config libsodium-dev libssl-dev libicu-dev libgtest-dev
SANITIZER_RUNTIME = $(shell gcc -print-file-name=libasan.so):$(shell gcc -print-file-name=libubsan.so)
export CMAKE_BUILD_PARALLEL_LEVEL := $(JOBS)

.PHONY: all deps venv build test test-cpp test-python test-asan demo bench clean

all: build

deps:
	@missing=$$(for p in $(APT_PACKAGES); do dpkg -s $$p >/dev/null 2>&1 || echo $$p; done); \
	if [ -n "$$missing" ]; then \
	  echo "installing: $$missing"; \
	  SUDO=$$( [ "$$(id -u)" = 0 ] || echo sudo ); \
	  $$SUDO apt-get update -qq && DEBIAN_FRONTEND=noninteractive $$SUDO apt-get install -y -qq $$missing >/dev/null; \
	fi

$(VENV)/.ready: tests/requirements.txt
	python3 -m venv $(VENV)
	$(PY) -m pip install -q --upgrade pip
	$(PY) -m pip install -q -r tests/requirements.txt
	touch $@

venv: deps $(VENV)/.ready

build: venv
	$(PY) -m pip install -q --no-build-isolation --no-deps -Ccmake.define.VESK_TESTS=ON .

test-cpp: build
	ctest --test-dir build/wheel --output-on-failure

test-python: build
	$(PY) -m pytest -q tests/python

test: test-cpp test-python

test-asan: venv
	cmake -S . -B build/asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVESK_SANITIZE=ON -DVESK_TESTS=ON \
	  -DPython_EXECUTABLE=$(abspath $(PY)) >/dev/null
	cmake --build build/asan
	ctest --test-dir build/asan --output-on-failure
	ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 PYTHONMALLOC=malloc \
	  LD_PRELOAD=$(SANITIZER_RUNTIME) PYTHONPATH=build/asan $(PY) -m pytest -q -p no:cacheprovider tests/python

demo: build
	$(PY) examples/demo.py

bench: build
	cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DVESK_BENCH=ON \
	  -DPython_EXECUTABLE=$(abspath $(PY)) >/dev/null
	cmake --build build/bench --target vesk_bench
	$(PY) bench/run.py --core build/bench/vesk_bench --out bench/RESULTS.md

clean:
	rm -rf build
