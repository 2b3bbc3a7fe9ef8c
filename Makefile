# Front door of the project. On a fresh Debian 12 machine, as root:
#   make demo    builds everything and shows the stub at work
#   make test    builds everything and runs the tests
# Targets are safe to repeat; an up-to-date tree costs a few seconds.

SHELL := /bin/bash
.SHELLFLAGS := -euo pipefail -c
.DEFAULT_GOAL := dist

JOBS ?= 2
HOST_BUILD := build/host
WIN32_BUILD := build/win32
WIN64_BUILD := build/win64
PEFIX_BUILD := build/pefix
HOST_BUILD_TYPE ?= RelWithDebInfo
FUZZ_SECONDS ?= 600

DEB_PACKAGES := g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine wine32:i386 wine64 \
  cmake g++ make pkg-config liblzma-dev zlib1g-dev libgtest-dev libgmock-dev \
  libbenchmark-dev libcli11-dev nlohmann-json3-dev dpkg-dev xz-utils clang \
  libclang-rt-14-dev osslsigncode hyperfine jq time ca-certificates

.PHONY: deps dist host win32 stub64 setupprog wine32-tier wine-test test bench fuzz demo clean distclean

# apt runs only when a package is missing, so a ready machine pays one
# dpkg-query per package.
deps:
	@missing=""; \
	for p in $(DEB_PACKAGES); do \
	  dpkg-query -W -f='$${Status}\n' "$$p" 2>/dev/null | grep '^install ok installed$$' >/dev/null \
	    || missing="$$missing $$p"; \
	done; \
	if [[ -n "$$missing" ]]; then \
	  if [[ $$(id -u) -ne 0 ]]; then echo "missing packages:$$missing (run make deps as root)" >&2; exit 1; fi; \
	  echo "installing:$$missing"; \
	  if [[ "$$missing" == *":i386"* ]] && ! dpkg --print-foreign-architectures | grep -x i386 >/dev/null; then \
	    dpkg --add-architecture i386; \
	  fi; \
	  apt-get update; \
	  DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends $$missing; \
	fi

host: deps
	@[[ -f $(HOST_BUILD)/CMakeCache.txt ]] || cmake -S . -B $(HOST_BUILD) -DCMAKE_BUILD_TYPE=$(HOST_BUILD_TYPE)
	cmake --build $(HOST_BUILD) -j$(JOBS)

# The first configure also builds liblzma for the stub (cached in the build
# folder, kept by `make clean`).
win32: deps
	@[[ -f $(WIN32_BUILD)/CMakeCache.txt ]] || cmake -S . -B $(WIN32_BUILD) \
	  -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-i686-mingw.cmake
	cmake --build $(WIN32_BUILD) -j$(JOBS)

# Test-only 64-bit build of the stub, for Wine on kernels without 32-bit
# support. Never shipped.
stub64: deps
	@[[ -f $(WIN64_BUILD)/CMakeCache.txt ]] || cmake -S . -B $(WIN64_BUILD) \
	  -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-x86_64-mingw.cmake
	cmake --build $(WIN64_BUILD) -j$(JOBS)

dist: host win32
	@mkdir -p dist
	@cp -p $(WIN32_BUILD)/Stub32.exe dist/Stub32.exe
	@if cmake --build $(HOST_BUILD) --target help | grep -E '^\.\.\. pkgtool$$' >/dev/null; then \
	  tool=$$(find $(HOST_BUILD) -type f -name pkgtool -perm -u+x | head -n 1); \
	  [[ -n "$$tool" ]] && cp -p "$$tool" dist/pkgtool; \
	fi
	@ls -l dist

test: dist
	@# pefix's tests run on their own until the host build includes them.
	@if ! grep -qs pefix tools/CMakeLists.txt; then \
	  [[ -f $(PEFIX_BUILD)/CMakeCache.txt ]] || cmake -S tools/pefix -B $(PEFIX_BUILD) -DCMAKE_BUILD_TYPE=$(HOST_BUILD_TYPE); \
	  cmake --build $(PEFIX_BUILD) -j$(JOBS); \
	  ctest --test-dir $(PEFIX_BUILD) --output-on-failure -j$(JOBS); \
	fi
	@# The Wine suite runs last, against the stub built for it (wine-test).
	ctest --test-dir $(HOST_BUILD) --output-on-failure -j$(JOBS) -LE wine
	bash tools/asan-tests.sh
	bash tools/fuzz.sh short
	$(MAKE) --no-print-directory wine-test

# Ratios against references measured in the same run (bench/README.md): the
# core in a Release build, then the launcher's whole run under Wine. The
# scale run (64 MiB to 1 GiB) takes longer: bash bench/startup.sh 64 256 1024.
bench: dist stub64
	bash bench/run.sh
	bash bench/startup.sh 64

fuzz: deps
	bash tools/fuzz.sh long $(FUZZ_SECONDS)

# End to end under Wine, on the shipped Stub32.exe. Where the kernel runs no
# 32-bit code, Wine's 32-bit half runs under qemu's user-mode emulation from a
# private folder made once (WINE32_DIR; tools/wine32-tier.sh), with no change
# to the machine. Stub64.exe, the 64-bit build of the same sources, is tested
# only where neither works, and serves the benchmarks.
SETUPPROG_DIR := build/setupprog
WINE32_DIR := build/wine32
setupprog: deps
	bash tests/setupprog/build.sh $(SETUPPROG_DIR)

wine32-tier:
	@bash tools/wine32-tier.sh $(WINE32_DIR) | grep -E '^WINE32_(TIER|WHY)='

wine-test: dist stub64 setupprog wine32-tier
	WINE32_DIR=$(WINE32_DIR) bash tests/wine/e2e.sh dist/Stub32.exe $(WIN64_BUILD)/Stub64.exe
	WINE32_DIR=$(WINE32_DIR) bash tests/wine/planted/run.sh

demo: dist stub64 setupprog wine32-tier
	@WINE32_DIR=$(WINE32_DIR) bash tools/demo.sh $(WIN64_BUILD)/Stub64.exe dist/pkgtool $(SETUPPROG_DIR)

# Keeps the liblzma builds: they come from the Debian source package and
# take a while. distclean removes them too.
clean:
	rm -rf $(HOST_BUILD) $(PEFIX_BUILD) build/asan build/fuzz $(SETUPPROG_DIR) dist
	@for d in $(WIN32_BUILD) $(WIN64_BUILD); do \
	  [[ -d $$d ]] && find $$d -mindepth 1 -maxdepth 1 ! -name 'liblzma-*' -exec rm -rf {} +; \
	done; true

distclean:
	rm -rf $(HOST_BUILD) $(WIN32_BUILD) $(WIN64_BUILD) $(PEFIX_BUILD) $(WINE32_DIR) dist
