# `make test` and `make demo` set up everything they need on a fresh Debian 12 or 13 machine.
SHELL := /bin/bash
VENV := .venv
PY := $(VENV)/bin/python
JOBS := $(shell nproc)
MODULE_PACKAGES := build-essential cmake ninja-build pkg-config python3 python3-venv python3-dev \
  libsodium-dev libssl-dev libicu-dev
TEST_PACKAGES := libgtest-dev
SANITIZER_RUNTIME = $(shell gcc -print-file-name=libasan.so):$(shell gcc -print-file-name=libubsan.so)
PIP_INSTALL := $(PY) -m pip install -q --no-build-isolation --no-deps
CTEST := ctest --test-dir build/wheel --output-on-failure
PYTEST := $(PY) -m pytest -q tests/python
export CMAKE_BUILD_PARALLEL_LEVEL := $(JOBS)

.PHONY: all deps test-deps fuzz-deps venv module build test test-cpp test-python test-pythons \
  test-asan fuzz demo bench clean

all: build

# Installs those of the given Debian packages that are missing, as root or through sudo.
define apt_install
	@missing=$$(for p in $(1); do dpkg -s $$p >/dev/null 2>&1 || echo $$p; done); \
	if [ -n "$$missing" ]; then \
	  if [ "$$(id -u)" = 0 ]; then SUDO=; \
	  elif command -v sudo >/dev/null; then SUDO=sudo; \
	  else echo "Missing Debian packages; as root run: apt-get install" $$missing >&2; exit 1; fi; \
	  echo "installing:" $$missing; \
	  $$SUDO apt-get update -qq && \
	  $$SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $$missing >/dev/null; \
	fi
endef

deps:
	$(call apt_install,$(MODULE_PACKAGES))

test-deps: deps
	$(call apt_install,$(TEST_PACKAGES))

$(VENV)/.ready: tests/requirements.txt
	python3 -m venv $(VENV)
	$(PY) -m pip install -q --upgrade pip
	$(PY) -m pip install -q -r tests/requirements.txt
	touch $@

venv: deps $(VENV)/.ready

# The extension module alone, installed into the venv.
module: venv
	$(PIP_INSTALL) -Ccmake.define.VESK_TESTS=OFF .

# The module and the C++ test binaries.
build: venv test-deps
	$(PIP_INSTALL) -Ccmake.define.VESK_TESTS=ON .

test-cpp: build
	$(CTEST)

test-python: build
	$(PYTEST)

# Both halves run even when the first fails; either failing fails the whole.
test: build
	$(CTEST); cpp=$$?; $(PYTEST) && exit $$cpp

# The Python suite against the one abi3 module under each CPython from 3.10 up found here.
test-pythons: module
	tests/python/each_python.sh build/wheel build/pythons

test-asan: venv test-deps
	cmake -S . -B build/asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVESK_SANITIZE=ON -DVESK_TESTS=ON \
	  -DPython_EXECUTABLE=$(abspath $(PY)) >/dev/null
	cmake --build build/asan
	ctest --test-dir build/asan --output-on-failure
	ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 PYTHONMALLOC=malloc \
	  LD_PRELOAD=$(SANITIZER_RUNTIME) PYTHONPATH=build/asan $(PY) -m pytest -q -p no:cacheprovider tests/python

# libFuzzer runs: FUZZ_SECONDS per target, FUZZ_JOBS targets at once, built with the newest
# clang-N that is installed or installable together with its libFuzzer runtime (FUZZ_CLANG=N
# picks another).
FUZZ_SECONDS ?= 60
FUZZ_JOBS ?= 4
ifneq ($(filter fuzz fuzz-deps,$(MAKECMDGOALS)),)
ifeq ($(origin FUZZ_CLANG),undefined)
FUZZ_CLANG := $(shell apt-cache search --names-only '^(clang-[0-9]+|libclang-rt-[0-9]+-dev)$$' | \
  sed -E 's/^(clang|libclang-rt)-([0-9]+).*/\2/' | sort -n | uniq -d | tail -1)
endif
endif
# libstdc++ 12 offers std::expected only to compilers announcing the final C++20 concepts;
# clang before 19 implements them but announces an earlier value, hence the redefinition there.
FUZZ_CONCEPTS = $(shell echo 'std::expected<int, int> e;' | clang++-$(FUZZ_CLANG) -std=c++2b \
  -include expected -fsyntax-only -x c++ - 2>/dev/null || echo -U__cpp_concepts -D__cpp_concepts=202002L)
FUZZ_FLAGS := -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined \
  -fno-omit-frame-pointer
FUZZ_TARGETS = $(sort $(basename $(notdir $(wildcard tests/fuzz/*_fuzz.cpp))))

fuzz-deps:
	@[ -n "$(FUZZ_CLANG)" ] || { echo "no clang-N with libclang-rt-N-dev found; run apt-get update" >&2; exit 1; }
	$(call apt_install,clang-$(FUZZ_CLANG) libclang-rt-$(FUZZ_CLANG)-dev)

# A build made by another clang is configured afresh: CMake cannot switch compilers in place.
fuzz: venv test-deps fuzz-deps
	grep -qs '^CMAKE_CXX_COMPILER:.*clang++-$(FUZZ_CLANG)$$' build/fuzz/CMakeCache.txt || \
	  rm -rf build/fuzz/CMakeCache.txt build/fuzz/CMakeFiles
	cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVESK_TESTS=ON -DVESK_FUZZ=ON \
	  -DCMAKE_C_COMPILER=clang-$(FUZZ_CLANG) -DCMAKE_CXX_COMPILER=clang++-$(FUZZ_CLANG) \
	  -DCMAKE_C_FLAGS="$(FUZZ_FLAGS)" -DCMAKE_CXX_FLAGS="$(FUZZ_FLAGS) $(FUZZ_CONCEPTS)" \
	  -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" \
	  -DPython_EXECUTABLE=$(abspath $(PY)) >/dev/null
	cmake --build build/fuzz --target $(FUZZ_TARGETS)
	tests/fuzz/run.sh build/fuzz $(FUZZ_SECONDS) $(FUZZ_JOBS) $(FUZZ_TARGETS)

demo: module
	$(PY) examples/demo.py

bench: build
	cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DVESK_BENCH=ON \
	  -DPython_EXECUTABLE=$(abspath $(PY)) >/dev/null
	cmake --build build/bench --target vesk_bench vesk_json_bench
	$(PY) bench/run.py --core build/bench/vesk_bench --json build/bench/vesk_json_bench \
	  --out bench/RESULTS.md

clean:
	rm -rf build
