# One entry point for building, running and testing the setup.
#   make          build the host tools and build/setup.exe
#   make run      build and run setup.exe under Wine
#   make test     every test (host, Wine, end to end, short fuzz passes) and the format check
#   make bench    setup.exe against NSIS from the same payload (bench/RESULTS.md)
#   make bench-scale  one silent install of a generated 1.6 GB payload (bench/SCALE.md)
#   make fuzz     every fuzz target for FUZZ_SECONDS (default 60) each, FUZZ_JOBS at a time,
#                 with FUZZ_FLAGS passed on to libFuzzer
#   make sign     CERT=<cert.pem> KEY=<key.pem>, or CERT=<bundle.p12>, [PASS=] [TIMESTAMP=<url>]:
#                 an Authenticode signature on a copy of build/setup.exe, build/setup-signed.exe
#                 (SIGNED=<file> writes elsewhere, UNSIGNED=<file> signs another build)
#   make fresh    DIST=trixie|bookworm: the two commands on a fresh minbase Debian in a chroot
#                 (debootstrap; needs root and the package mirror; about a quarter of an hour)
#   make verify   FILE=<exe> [CA=<trusted certificates>] [TSA_CA=]: the signature, its signer,
#                 what it covers and the file's SHA-256
#   make packaging [FILE=<exe>] [INSTALLER_URL=<https address>]: the winget manifests of
#                 build/setup.exe (or of FILE=, a signed copy) in build/packaging/winget
SHELL := /bin/bash
# The same locale for every step, whatever the shell has (the Wine scripts set it too).
export LC_ALL := C.UTF-8
unexport LANGUAGE
ROOT := $(abspath .)
BUILD := $(ROOT)/build
HOST := $(BUILD)/host
WIN32 := $(BUILD)/win32
WIN64 := $(BUILD)/win64
FUZZ := $(BUILD)/fuzz
FUZZ_SECONDS ?= 60
FUZZ_JOBS ?= 1
FUZZ_FLAGS ?=
JOBS ?= $(shell nproc)
CMAKE_GEN := -G Ninja
# A word for the shell, in single quotes.
quote = '$(subst ','\'',$(1))'
# LOGO=<png> and ICON=<ico> build a packager's own art into setup.exe (the logo
# must be an 8-bit palette PNG with unfiltered rows), COPYRIGHT="..." the version
# resource's copyright line; LOGO=, ICON= and COPYRIGHT= go back to the product's own.
ART_VARS := $(strip \
  $(if $(filter-out undefined,$(origin LOGO)),-DNORVANTA_LOGO="$(if $(LOGO),$(abspath $(LOGO)))") \
  $(if $(filter-out undefined,$(origin ICON)),-DNORVANTA_ICON="$(if $(ICON),$(abspath $(ICON)))") \
  $(if $(filter-out undefined,$(origin COPYRIGHT)),-DNORVANTA_COPYRIGHT=$(call quote,$(COPYRIGHT))))
# The payload's time stamps are clamped to the last commit's time, so that a
# fresh clone packs the same bytes on any machine.
SOURCE_DATE_EPOCH ?= $(shell git -C "$(ROOT)" log -1 --format=%ct 2>/dev/null)
export SOURCE_DATE_EPOCH
# make PAYLOAD=<folder> packs a packager's own folder instead of the demo.
PAYLOAD ?=
SIGNED ?= $(BUILD)/setup-signed.exe
UNSIGNED ?= $(BUILD)/setup.exe
# The Windows tests run the product, the 32-bit build; on a machine whose kernel runs no
# 32-bit code they run the 64-bit build under wine64 (scripts/wine-bits.sh), and say so.
# That is known only once the bootstrap has installed wine32: run, test and screenshots
# bootstrap first, then go on in a make of their own (the *-steps targets).
WIN_TESTS = $(if $(filter 64,$(shell bash scripts/wine-bits.sh)),win64,win32)

.PHONY: all bootstrap host win32 win64 run test bench bench-scale format format-check clean screenshots fuzz \
  fuzz-build sign verify fresh packaging run-steps test-steps screenshots-steps

all: win32

bootstrap:
	@bash scripts/bootstrap.sh

$(HOST)/build.ninja: | bootstrap
	@cmake -S . -B $(HOST) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug >/dev/null

host: bootstrap $(HOST)/build.ninja
	@cmake --build $(HOST) -j $(JOBS)

$(WIN32)/build.ninja: | bootstrap
	@cmake -S . -B $(WIN32) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Release \
	  -DCMAKE_TOOLCHAIN_FILE=$(ROOT)/cmake/mingw-i686.cmake \
	  -DNORVANTA_HOST_TOOLS=$(HOST)/tools -DNORVANTA_PRODUCT_DIR=$(BUILD) >/dev/null

# The chosen payload folder is kept in the build; a change reconfigures it.
win32: host $(WIN32)/build.ninja
	$(if $(ART_VARS),@cmake -S . -B $(WIN32) $(ART_VARS) >/dev/null)
	@want="$$( [ -n '$(PAYLOAD)' ] && realpath -m -- '$(PAYLOAD)' )"; \
	  if [ "$$(cat $(WIN32)/payload-folder 2>/dev/null)" != "$$want" ]; then \
	    cmake -S . -B $(WIN32) -DNORVANTA_PAYLOAD="$$want" >/dev/null && printf '%s' "$$want" > $(WIN32)/payload-folder; \
	  fi
	@[ "$$(cat $(WIN32)/source-date-epoch 2>/dev/null)" = "$(SOURCE_DATE_EPOCH)" ] || \
	  printf '%s' "$(SOURCE_DATE_EPOCH)" > $(WIN32)/source-date-epoch
	@cmake --build $(WIN32) -j $(JOBS)

$(WIN64)/build.ninja: | bootstrap
	@cmake -S . -B $(WIN64) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Release \
	  -DCMAKE_TOOLCHAIN_FILE=$(ROOT)/cmake/mingw-x86_64.cmake \
	  -DNORVANTA_HOST_TOOLS=$(HOST)/tools -DNORVANTA_RELEASE_BUILD=$(WIN32) \
	  -DNORVANTA_RELEASE_PRODUCT=$(BUILD)/setup.exe >/dev/null

# The 64-bit build must compile; the 32-bit one is the product.
win64: host $(WIN64)/build.ninja
	$(if $(ART_VARS),@cmake -S . -B $(WIN64) $(ART_VARS) >/dev/null)
	@grep -qx 'NORVANTA_RELEASE_BUILD:PATH=$(WIN32)' $(WIN64)/CMakeCache.txt || cmake -S . -B $(WIN64) \
	  -DNORVANTA_RELEASE_BUILD=$(WIN32) -DNORVANTA_RELEASE_PRODUCT=$(BUILD)/setup.exe >/dev/null
	@cmake --build $(WIN64) -j $(JOBS)

# The README's pictures of the six pages, made under Xvfb.
run test screenshots: bootstrap
	@$(MAKE) --no-print-directory $@-steps

screenshots-steps: win32 $(if $(filter win64,$(WIN_TESTS)),win64)
	@bash scripts/screenshots.sh

# The fuzz targets: clang with libFuzzer, ASan and UBSan; seeded from the
# program's resources, so the program is built first.
$(FUZZ)/build.ninja: | bootstrap
	@CC=clang CXX=clang++ cmake -S . -B $(FUZZ) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug -DNORVANTA_FUZZ=ON \
	  -DNORVANTA_SEED_BUILD=$(BUILD) >/dev/null

fuzz-build: win32 $(FUZZ)/build.ninja
	@cmake --build $(FUZZ) -j $(JOBS)

fuzz: fuzz-build
	@FUZZ_FLAGS='$(FUZZ_FLAGS)' bash tests/fuzz/fuzz.sh run $(FUZZ) $(FUZZ_SECONDS) $(FUZZ_JOBS)

run-steps: win32 $(if $(filter win64,$(WIN_TESTS)),win64)
	@bash scripts/run.sh

format-check: bootstrap
	@bash scripts/format.sh --check

format: bootstrap
	@bash scripts/format.sh

test-steps: win32 $(if $(filter win64,$(WIN_TESTS)),win64) fuzz-build format-check
	@rm -rf $(HOST)/test-results $(BUILD)/$(WIN_TESTS)/test-results $(FUZZ)/test-results
	@[ $(WIN_TESTS) = win32 ] || echo "test: this machine's kernel runs no 32-bit code (ia32_emulation off):" \
	  "the Windows tests run the 64-bit build under wine64, not the 32-bit product" >&2
	@printf 'subdirs("host" "$(WIN_TESTS)" "fuzz")\n' > $(BUILD)/CTestTestfile.cmake
	@bash scripts/with-wine.sh ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS) ; rc=$$?; \
	  python3 scripts/test-summary.py $(HOST)/test-results $(BUILD)/$(WIN_TESTS)/test-results $(FUZZ)/test-results; \
	  exit $$rc

# Signs what was built (it builds nothing: a plain make here would go back to the
# demo payload). PASS reaches the script through the environment only.
sign: bootstrap
	@python3 scripts/authenticode.py sign --cert $(call quote,$(CERT)) --key $(call quote,$(KEY)) \
	  --timestamp $(call quote,$(TIMESTAMP)) --time '$(SOURCE_DATE_EPOCH)' $(call quote,$(UNSIGNED)) \
	  $(call quote,$(SIGNED))

# The host tool mkpayload finds the payload in the file.
verify: bootstrap $(HOST)/build.ninja
	@cmake --build $(HOST) --target mkpayload >/dev/null
	@python3 scripts/authenticode.py verify --ca $(call quote,$(CA)) --tsa-ca $(call quote,$(TSA_CA)) \
	  --mkpayload $(HOST)/tools/mkpayload $(call quote,$(FILE))

# The manifests of what was built; FILE= names the signed copy to publish instead.
packaging: win32
	@python3 scripts/packaging.py --setup $(call quote,$(or $(FILE),$(BUILD)/setup.exe)) \
	  --url $(call quote,$(INSTALLER_URL)) --out $(BUILD)/packaging/winget

# NSIS is installed only for this; the paint figures always come from Xvfb.
# The scale payloads (4, 100, 400 MB) are generated and packed by the build.
bench: win32
	@BOOTSTRAP_EXTRA=nsis bash scripts/bootstrap.sh
	@cmake --build $(WIN32) -j $(JOBS) --target setup_scaled_4 setup_scaled_100 setup_scaled_400
	@env -u DISPLAY bash scripts/with-wine.sh python3 bench/bench.py

# One silent install of a generated 1.6 GB payload, checked file by file (bench/SCALE.md).
bench-scale: win32
	@cmake --build $(WIN32) -j $(JOBS) --target setup_scaled_1600
	@env -u DISPLAY bash scripts/with-wine.sh python3 bench/bench.py scale 1600

DIST ?= trixie
fresh:
	@bash scripts/fresh.sh $(DIST)

clean:
	rm -rf $(BUILD)
