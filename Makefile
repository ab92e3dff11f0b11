# The commands a newcomer needs: `make test` (and, later, `make demo`).
# Each target installs the Debian packages it is missing when run as root, configures
# CMake into build/ and builds.

PACKAGES := cmake ninja-build g++ pkg-config libgtest-dev libgmock-dev \
            libarchive-dev libdeflate-dev zlib1g-dev libbz2-dev liblzma-dev libzstd-dev \
            unzip zip bzip2 \
            libmspack-dev cabextract gcab arj libisal-dev libseccomp-dev \
            lhasa jlha-utils 7zip libarchive-tools unar python3 \
            qt6-base-dev fonts-ipafont-gothic clang-14 libclang-rt-14-dev \
            dpkg-dev desktop-file-utils appstream shared-mime-info libglib2.0-bin
BUILD    := build
JOBS     ?= $(shell nproc)

.PHONY: all setup configure build test test-asan clean format deb

all: build

setup:
	@missing=""; \
	for p in $(PACKAGES); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q 'install ok installed' || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  if [ "$$(id -u)" = 0 ]; then \
	    echo "Installing:$$missing"; \
	    apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $$missing; \
	  else \
	    echo "Missing Debian packages:$$missing (run as root, or install them)"; exit 1; \
	  fi; \
	fi

configure: setup
	cmake --preset default >/dev/null

build: configure
	cmake --build --preset default -j $(JOBS)

# Two passes: the normal build, then the whole suite again under AddressSanitizer and
# UndefinedBehaviorSanitizer (build-asan/); a finding in either fails the run. Then every fuzz
# target is built with clang and run for FUZZ_SMOKE_SECONDS on its seeds, so that the harness
# keeps building and a finding fails the run.
FUZZ_SMOKE_SECONDS ?= 5
test: build
	ctest --preset default -j $(JOBS)
	JOBS=$(JOBS) tests/sanitize.sh
	JOBS=$(JOBS) FUZZ_JOBS=$(JOBS) tests/fuzz/run.sh $(FUZZ_SMOKE_SECONDS)

# The sanitizer pass alone.
test-asan: setup
	JOBS=$(JOBS) tests/sanitize.sh

format:
	git ls-files '*.h' '*.cpp' | xargs -r clang-format -i

clean:
	rm -rf $(BUILD) build-asan build-fuzz

# The main job headless: sample files compressed, listed, tested, run and decompressed
# again with zembrat-cli, and compared (output in demo-out/).
.PHONY: demo run install
demo: build
	./scripts/demo.sh $(BUILD)

# The Debian package zembrat_VERSION_ARCH.deb, here, made by CPack from build/ (the programs
# as built, Depends read from what they link), then checked by lintian (errors fail).
deb: PACKAGES += lintian
deb: build
	rm -rf $(BUILD)/package
	cpack --config $(BUILD)/CPackConfig.cmake -B $(BUILD)/package
	for deb in $(BUILD)/package/*.deb; do \
	  lintian --fail-on error --info "$$deb" && cp "$$deb" . && echo "Made ./$${deb##*/}" || exit 1; \
	done

# The window.
run: build
	$(BUILD)/bin/zembrat

# Into PREFIX (default /usr/local; DESTDIR is honoured): programs in bin/, the libraries and
# the self-extracting stub in lib/zembrat/, the desktop entry, icon and man pages in share/.
install: build
	cmake --install $(BUILD) --prefix "$${PREFIX:-/usr/local}"

# Tables of our codecs beside their peers, each measured in one run: LHA (jlha, gzip, lhasa,
# 7zz, bsdtar), then ZIP through zembrat-cli (zip, 7zz, unzip, bsdtar), then tar.gz through
# zembrat-cli (GNU tar, bsdtar), CAB (cabextract, 7zz, gcab), RAR (bsdtar), ARJ (arj, 7zz,
# unar), GZA and BZA (gzip, bzip2).
.PHONY: bench
bench: build
	bench/run.sh $(BUILD)
	bench/zip_bench.sh $(BUILD)
	bench/tar_bench.sh $(BUILD)
	bench/cab_bench.sh $(BUILD)
	bench/rar_bench.sh $(BUILD)
	bench/arj_bench.sh $(BUILD)
	bench/bga_bench.sh $(BUILD)

# Every fuzz target for FUZZ_SECONDS each (libFuzzer, clang), starting from the seed corpus.
FUZZ_SECONDS ?= 60
.PHONY: fuzz
fuzz: setup
	tests/fuzz/run.sh $(FUZZ_SECONDS)
