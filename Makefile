# Front door of the project. On a fresh Debian 12 machine, as root:
#   make demo    builds everything and shows the stub at work
#   make test    builds everything and runs the tests
# Targets are safe to repeat, also after one failed halfway; an up-to-date
# tree costs a few seconds.

SHELL := /bin/bash
.SHELLFLAGS := -euo pipefail -c
.DEFAULT_GOAL := dist

JOBS ?= 2
HOST_BUILD := build/host
WIN32_BUILD := build/win32
WIN64_BUILD := build/win64
PKGTOOL_EXE_BUILD := build/pkgtool-win64
PEFIX_BUILD := build/pefix
HOST_BUILD_TYPE ?= RelWithDebInfo
FUZZ_SECONDS ?= 60

# Only what the build and the tests call. No i386 multiarch: the 32-bit tiers
# fetch their i386 files into build/ themselves (tools/debian-fetch.sh).
# llvm-14 brings llvm-symbolizer, without which the sanitizers' reports and
# the leak suppressions (matched by function name) do not work.
DEB_PACKAGES := g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine64 qemu-user-static \
  g++-i686-linux-gnu cmake g++ make pkg-config liblzma-dev zlib1g-dev \
  libgtest-dev libgmock-dev googletest libbenchmark-dev libcli11-dev \
  nlohmann-json3-dev dpkg-dev xz-utils clang libclang-rt-14-dev llvm-14 \
  osslsigncode openssl hyperfine icoutils jq time ca-certificates python3

# The Windows release archive: dist/pkgtool-VERSION-win64.zip.
VERSION := $(shell sed -n 's/^project.SetupLauncher VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
WIN64_ZIP := dist/pkgtool-$(VERSION)-win64.zip
# What the archive holds: NAME=SOURCE. The licence notices are those of
# what pkgtool.exe links, as this machine's Debian packages state them.
WIN64_ZIP_FILES := pkgtool.exe=dist/pkgtool.exe Stub32.exe=dist/Stub32.exe \
  README.txt=tools/pkgtool/README-Windows.txt \
  LICENSES/liblzma.txt=$(PKGTOOL_EXE_BUILD)/liblzma-x86_64-pkgtool/share/COPYING \
  LICENSES/CLI11.txt=/usr/share/doc/libcli11-dev/copyright \
  LICENSES/nlohmann-json.txt=/usr/share/doc/nlohmann-json3-dev/copyright \
  LICENSES/MinGW-w64-runtime.txt=/usr/share/doc/mingw-w64-x86-64-dev/copyright \
  LICENSES/GCC-runtime.txt=/usr/share/doc/gcc-mingw-w64-base/copyright

# Configures build folder $(1) with arguments $(2) unless it holds a complete
# configuration: a configure that failed halfway leaves a cache without build
# files, and is simply run again.
configure = [[ -f $(1)/CMakeCache.txt && -f $(1)/Makefile ]] || cmake -S $(or $(3),.) -B $(1) $(2)

.PHONY: deps dist install install-files host win32 pkgtool-exe stub64 setupprog wine32-tier wine-test test unit32 bench fuzz demo fresh-check clean distclean

# apt runs only when a package is missing (tools/deps.sh).
deps:
	@bash tools/deps.sh $(DEB_PACKAGES)

host: deps
	@$(call configure,$(HOST_BUILD),-DCMAKE_BUILD_TYPE=$(HOST_BUILD_TYPE))
	cmake --build $(HOST_BUILD) -j$(JOBS)

# The first configure also builds liblzma for the stub (cached in the build
# folder, kept by `make clean`).
win32: deps
	@$(call configure,$(WIN32_BUILD),-DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-i686-mingw.cmake)
	cmake --build $(WIN32_BUILD) -j$(JOBS)

# Test-only 64-bit build of the stub, for Wine on kernels without 32-bit
# support. Never shipped.
stub64: deps
	@$(call configure,$(WIN64_BUILD),-DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-x86_64-mingw.cmake)
	cmake --build $(WIN64_BUILD) -j$(JOBS)

# pkgtool.exe, for vendors who build on Windows: 64-bit, cross-built with
# the posix-threads MinGW-w64 and a liblzma with the encoder, built once from
# the same Debian source as the stub's and cached in the build folder (kept
# by make clean). holdopen.exe is a helper of its tests, never shipped.
pkgtool-exe: deps
	@$(call configure,$(PKGTOOL_EXE_BUILD),-DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-x86_64-mingw-posix.cmake -DPKGTOOL_EXE=ON -DCMAKE_BUILD_TYPE=Release)
	cmake --build $(PKGTOOL_EXE_BUILD) -j$(JOBS) --target pkgtool holdopen

dist: host win32 pkgtool-exe
	@mkdir -p dist
	@cp -p $(WIN32_BUILD)/Stub32.exe dist/Stub32.exe
	@if cmake --build $(HOST_BUILD) --target help | grep -E '^\.\.\. pkgtool$$' >/dev/null; then \
	  tool=$$(find $(HOST_BUILD) -type f -name pkgtool -perm -u+x | head -n 1); \
	  [[ -n "$$tool" ]] && cp -p "$$tool" dist/pkgtool; \
	fi
	@cp -p $(PKGTOOL_EXE_BUILD)/tools/pkgtool/pkgtool.exe dist/pkgtool.exe
	@# Dated by the last commit, so that the same tree gives the same archive.
	@SOURCE_DATE_EPOCH=$${SOURCE_DATE_EPOCH:-$$(git log -1 --format=%ct 2>/dev/null || true)} \
	  python3 tools/win64-zip.py $(WIN64_ZIP) pkgtool-$(VERSION)-win64 $(WIN64_ZIP_FILES)
	@ls -l dist

# The Wine suites need the stand-in setup programs and the 32-bit Wine:
# pkgtool.exe's packages launch in CTest's run, before wine-test's.
test: dist stub64 setupprog wine32-tier
	@# pefix's tests run on their own until the host build includes them.
	@if ! grep -qs pefix tools/CMakeLists.txt; then \
	  $(call configure,$(PEFIX_BUILD),-DCMAKE_BUILD_TYPE=$(HOST_BUILD_TYPE),tools/pefix); \
	  cmake --build $(PEFIX_BUILD) -j$(JOBS); \
	  ctest --test-dir $(PEFIX_BUILD) --output-on-failure -j$(JOBS); \
	fi
	@# The Wine suite runs last, against the stub built for it (wine-test).
	ctest --test-dir $(HOST_BUILD) --output-on-failure -j$(JOBS) -LE wine
	bash tools/asan-tests.sh
	$(MAKE) --no-print-directory unit32
	bash tools/fuzz.sh short
	$(MAKE) --no-print-directory wine-test

# The core's unit tests as 32-bit code (32-bit size_t): natively where the
# kernel runs 32-bit code, else under qemu-i386. The i386 libraries and
# GoogleTest are cached in build/i386-libs, kept by make clean.
unit32: deps
	bash tools/unit32.sh

# Ratios against references measured in the same run (bench/README.md): the
# core in a Release build, then the launcher's whole run under Wine. The
# scale run (64 MiB to 1 GiB) takes longer: bash bench/startup.sh 64 256 1024.
bench: dist stub64
	bash bench/run.sh
	bash bench/startup.sh 64

# Every fuzz target in turn, FUZZ_SECONDS each on both cores; FUZZ_TARGET
# names one for a campaign (tools/fuzz.sh).
fuzz: deps
	FUZZ_TARGET=$${FUZZ_TARGET:-all} bash tools/fuzz.sh long $(FUZZ_SECONDS)

# End to end under Wine, on the shipped Stub32.exe, through the 32-bit Wine
# tools/wine32-tier.sh chooses: the installed one (native system), else
# Debian's i386 Wine from a private folder made once (WINE32_DIR) run natively
# where the kernel runs 32-bit code (native private), else that Wine under
# qemu's user-mode emulation (emulated). No change to the machine either way.
# WINE32_EMULATE=1 forces the emulated tier. Stub64.exe, the 64-bit build of
# the same sources, is tested only where none works, and serves the benchmarks.
SETUPPROG_DIR := build/setupprog
WINE32_DIR := build/wine32
setupprog: deps
	bash tests/setupprog/build.sh $(SETUPPROG_DIR)

wine32-tier: deps
	@bash tools/wine32-tier.sh $(WINE32_DIR) | grep -E '^WINE32_(TIER|WHY)='

wine-test: dist stub64 setupprog wine32-tier
	WINE32_DIR=$(WINE32_DIR) bash tests/wine/e2e.sh dist/Stub32.exe $(WIN64_BUILD)/Stub64.exe
	WINE32_DIR=$(WINE32_DIR) bash tests/wine/planted/run.sh
	@# 77: nothing to test the tier's choice with here (the script says why).
	bash tests/wine/tier_test.sh $(WINE32_DIR) || [[ $$? -eq 77 ]]

demo: dist stub64 setupprog wine32-tier
	@WINE32_DIR=$(WINE32_DIR) bash tools/demo.sh $(WIN64_BUILD)/Stub64.exe dist/pkgtool $(SETUPPROG_DIR)

# The newcomer's path: the README's two commands in a freshly bootstrapped
# Debian 12 root (tools/fresh-machine.sh). Not part of make test.
# FRESH_ARGS=--broken-entry adds an archive entry that makes apt-get update fail.
fresh-check:
	bash tools/fresh-machine.sh $(FRESH_ARGS)

# pkgtool on the PATH with the stub it uses (an installed pkgtool looks for
# Stub32.exe in ../share/setup-launcher/ when none lies beside it), its man
# page, its bash completion and the CMake package (find_package(SetupLauncher)
# and setup_launcher_add_package). DESTDIR stages the tree for packagers.
# install-files installs without building first: INSTALL_PKGTOOL and
# INSTALL_STUB name other files to install (the CMake sample's test does).
PREFIX ?= /usr/local
DESTDIR ?=
INSTALL_PKGTOOL ?= dist/pkgtool
INSTALL_STUB ?= dist/Stub32.exe
CMAKE_PACKAGE_DIR = $(DESTDIR)$(PREFIX)/lib/cmake/SetupLauncher
install: dist
	@$(MAKE) --no-print-directory install-files

install-files:
	install -d "$(DESTDIR)$(PREFIX)/bin" "$(DESTDIR)$(PREFIX)/share/setup-launcher" \
	  "$(DESTDIR)$(PREFIX)/share/man/man1" "$(DESTDIR)$(PREFIX)/share/bash-completion/completions" \
	  "$(CMAKE_PACKAGE_DIR)"
	install -m 0755 "$(INSTALL_PKGTOOL)" "$(DESTDIR)$(PREFIX)/bin/pkgtool"
	install -m 0644 "$(INSTALL_STUB)" "$(DESTDIR)$(PREFIX)/share/setup-launcher/Stub32.exe"
	install -m 0644 tools/pkgtool/pkgtool.1 "$(DESTDIR)$(PREFIX)/share/man/man1/pkgtool.1"
	install -m 0644 tools/pkgtool/pkgtool.bash \
	  "$(DESTDIR)$(PREFIX)/share/bash-completion/completions/pkgtool"
	install -m 0644 cmake/package/SetupLauncherConfig.cmake "$(CMAKE_PACKAGE_DIR)/SetupLauncherConfig.cmake"
	sed 's/@VERSION@/$(VERSION)/' cmake/package/SetupLauncherConfigVersion.cmake.in \
	  > "$(CMAKE_PACKAGE_DIR)/SetupLauncherConfigVersion.cmake"
	chmod 0644 "$(CMAKE_PACKAGE_DIR)/SetupLauncherConfigVersion.cmake"

# Keeps the liblzma builds (they come from the Debian source package and
# take a while) and the i386 libraries of unit32. distclean removes them too.
clean:
	rm -rf $(HOST_BUILD) $(PEFIX_BUILD) build/asan build/fuzz build/unit32 $(SETUPPROG_DIR) dist
	@for d in $(WIN32_BUILD) $(WIN64_BUILD) $(PKGTOOL_EXE_BUILD); do \
	  [[ -d $$d ]] && find $$d -mindepth 1 -maxdepth 1 ! -name 'liblzma-*' -exec rm -rf {} +; \
	done; true

# Everything built or fetched, the cached liblzma builds and Debian files
# included.
distclean:
	rm -rf --one-file-system build dist
