# `make test` and `make demo` set up everything they need on a fresh Debian machine.
SHELL := /bin/bash
VENV := .venv
PY := $(VENV)/bin/python
JOBS := $(shell nproc)
APT_PACKAGES := build-essential cmake ninja-build pkg-config libsodium-dev libssl-dev libicu-dev libgtest-dev
FUZZ_APT_PACKAGES := clang-16 libclang-rt-16-dev
SANITIZER_RUNTIME = $(shell gcc -print-file-name=libasan.so):$(shell gcc -print-file-name=libubsan.so)
export CMAKE_BUILD_PARALLEL_LEVEL := $(JOBS)

.PHONY: all deps fuzz-deps venv build test test-cpp test-python test-asan fuzz demo bench clean

all: build

# Installs those of the given Debian packages that are missing.
define apt_install
	@missing=$$(for p in $(1); do dpkg -s $$p >/dev/null 2>&1 || echo $$p; done); \
	if [ -n "$$missing" ]; then \
	  echo "installing: $$missing"; \
	  SUDO=$$( [ "$$(id -u)" = 0 ] || echo sudo ); \
	  $$SUDO apt-get update -qq && DEBIAN_FRONTEND=noninteractive $$SUDO apt-get install -y -qq $$missing >/dev/null; \
	fi
endef

deps:
	$(call apt_install,$(APT_PACKAGES))

fuzz-deps:
	$(call apt_install,$(FUZZ_APT_PACKAGES))

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

# libFuzzer runs: FUZZ_SECONDS per target, FUZZ_JOBS targets at once. libstdc++ 12 offers
# std::expected only to compilers announcing the final C++20 concepts; clang 16 implements
# them but announces the earlier value, hence the redefinition.
FUZZ_SECONDS ?= 60
FUZZ_JOBS ?= 4
FUZZ_FLAGS := -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined \
  -fno-omit-frame-pointer -U__cpp_concepts -D__cpp_concepts=202002L
FUZZ_TARGETS = $(sort $(basename $(notdir $(wildcard tests/fuzz/*_fuzz.cpp))))

fuzz: venv fuzz-deps
	cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVESK_TESTS=ON -DVESK_FUZZ=ON \
	  -DCMAKE_C_COMPILER=clang-16 -DCMAKE_CXX_COMPILER=clang++-16 \
	  -DCMAKE_C_FLAGS="$(FUZZ_FLAGS)" -DCMAKE_CXX_FLAGS="$(FUZZ_FLAGS)" \
	  -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" \
	  -DPython_EXECUTABLE=$(abspath $(PY)) >/dev/null
	cmake --build build/fuzz --target $(FUZZ_TARGETS)
	tests/fuzz/run.sh build/fuzz $(FUZZ_SECONDS) $(FUZZ_JOBS) $(FUZZ_TARGETS)

demo: build
	$(PY) examples/demo.py

bench: build
	cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DVESK_BENCH=ON \
	  -DPython_EXECUTABLE=$(abspath $(PY)) >/dev/null
	cmake --build build/bench --target vesk_bench vesk_json_bench
	$(PY) bench/run.py --core build/bench/vesk_bench --json build/bench/vesk_json_bench \
	  --out bench/RESULTS.md

clean:
	rm -rf build
