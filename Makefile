# Set-up, build and test entry points. `make test` and `make demo` each do the
# whole set-up on a fresh Debian 12 machine (run as root for the package install).

BUILD      ?= build
BUILD_ASAN ?= build-asan
BUILD_FUZZ ?= build-fuzz
# Seconds each fuzz target runs in `make fuzz`; calls of `make soak`.
FUZZ_SECONDS ?= 60
SOAK_CALLS ?= 1000000
JOBS       ?= $(shell nproc)
CMAKE_ARGS ?=
# Warnings are errors in every build made through this Makefile (and so in CI).
WERROR     ?= ON
# ooRexx 5, the second interpreter every REXX script runs under in `make test`:
# a binary archive in ../shared/tools beside the repository (for a git
# worktree, beside its main clone). `make test` fails without it.
OOREXX_TAR     = oorexx-5.3.0-debian12-amd64.tar.gz
OOREXX_ARCHIVE ?= $(abspath $(firstword $(wildcard ../shared/tools/$(OOREXX_TAR) \
                    $(shell git rev-parse --git-common-dir 2>/dev/null)/../../shared/tools/$(OOREXX_TAR))))

# Debian packages the project needs to build, test and run its demo.
DEB_PACKAGES = build-essential cmake make g++ clang pkg-config \
               freetds-dev freetds-bin libregina3-dev regina-rexx \
               libsqlite3-dev sqlite3 googletest libgtest-dev libssl-dev openssl \
               python3 python3-tds python3-pymssql procps valgrind libclang-rt-14-dev \
               groff-base man-db

.PHONY: all deps configure build build-asan test test-fast test-asan test-tsan demo bench fuzz soak valgrind \
        format clean \
        doc install uninstall deb deb-test build-fuzz fuzz-smoke

all: build

deps:
	@missing=""; \
	for p in $(DEB_PACKAGES); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q "install ok installed" || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  echo "installing:$$missing"; \
	  if [ "$$(id -u)" != 0 ]; then echo "deps: run as root to install:$$missing" >&2; exit 1; fi; \
	  export DEBIAN_FRONTEND=noninteractive; \
	  apt-get update -qq && apt-get install -y -qq --no-install-recommends $$missing; \
	fi

configure: deps
	cmake -S . -B $(BUILD) -DKTDB_OOREXX_ARCHIVE=$(OOREXX_ARCHIVE) -DKTDB_WERROR=$(WERROR) $(CMAKE_ARGS)

build: configure
	cmake --build $(BUILD) -j $(JOBS)

build-asan: deps
	cmake -S . -B $(BUILD_ASAN) -DKTDB_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug \
	  -DKTDB_OOREXX_ARCHIVE=$(OOREXX_ARCHIVE) -DKTDB_WERROR=$(WERROR) $(CMAKE_ARGS)
	cmake --build $(BUILD_ASAN) -j $(JOBS)

# Every test: the plain build first, then the same suite under ASan and UBSan.
test: build build-asan
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)
	cd $(BUILD_ASAN) && ctest --output-on-failure -j $(JOBS)
	$(MAKE) fuzz-smoke

test-fast: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

test-asan: build-asan
	cd $(BUILD_ASAN) && ctest --output-on-failure -j $(JOBS)

# tdslite's concurrency tests (sessions side by side, the server's threads)
# under ThreadSanitizer.
BUILD_TSAN ?= build-tsan
test-tsan: deps
	cmake -S . -B $(BUILD_TSAN) -DKTDB_TSAN=ON -DKTDB_OOREXX_ARCHIVE=$(OOREXX_ARCHIVE) \
	  -DKTDB_WERROR=$(WERROR) $(CMAKE_ARGS)
	cmake --build $(BUILD_TSAN) -j $(JOBS) --target tdslite tdslite_exec_test tdslite_robustness_test
	cd $(BUILD_TSAN) && ctest --output-on-failure -j $(JOBS) -R 'SessionTest|tdslite.robustness'

# The demo needs the library and tdslite only, not the tests.
demo: configure
	cmake --build $(BUILD) -j $(JOBS) --target rexxktdb tdslite
	examples/demo.sh $(BUILD)

# Benchmarks print figures (ratios measured in one run); they never fail on timing.
bench: build
	$(BUILD)/tdslite_bench $(BUILD)/tdslite
	$(BUILD)/tls_bench $(BUILD)/tdslite
	cmake --build $(BUILD) --target bench_package
	cmake --build $(BUILD) --target bench_lob

# The manual, rendered into $(BUILD)/doc (rexxktdb.3, rexxktdb.html, tdslite.1, tdslite.html).
doc: build
	cmake --build $(BUILD) --target doc

# Installs under PREFIX (default /usr/local); DESTDIR stages the files under
# another root. Without DESTDIR it runs ldconfig so that Regina finds
# librexxktdb.so at once.
PREFIX  ?= /usr/local
DESTDIR ?=
install: build
	DESTDIR="$(DESTDIR)" cmake --install $(BUILD) --prefix $(PREFIX)

# Removes what the last install from $(BUILD) wrote (install_manifest.txt).
uninstall:
	DESTDIR="$(DESTDIR)" cmake --build $(BUILD) --target uninstall

# The Debian package rexxktdb_VERSION_amd64.deb, in $(BUILD).
deb: build
	cd $(BUILD) && cpack -G DEB
	@ls $(BUILD)/rexxktdb_*.deb

# Installs the package into a clean Debian 12 root made with debootstrap and
# runs every example there (as root; downloads about 150 MB the first time).
deb-test: deb
	tests/install/deb_test.sh "$$(ls -t $(BUILD)/rexxktdb_*.deb | head -n 1)" $(BUILD)/deb-test

# libFuzzer targets (clang, ASan, UBSan) in $(BUILD_FUZZ), each run for
# FUZZ_SECONDS after replaying tests/fuzz/regressions. `make test` runs the repeatable fuzz-smoke pass instead.
build-fuzz: deps
	CC=clang CXX=clang++ cmake -S . -B $(BUILD_FUZZ) -DKTDB_FUZZ=ON -DKTDB_SANITIZE=ON -DKTDB_WERROR=$(WERROR) \
	  -DCMAKE_BUILD_TYPE=Debug -DCMAKE_C_FLAGS=-fsanitize=fuzzer-no-link \
	  -DCMAKE_CXX_FLAGS=-fsanitize=fuzzer-no-link $(CMAKE_ARGS)
	cmake --build $(BUILD_FUZZ) -j $(JOBS) --target tdslite frame_fuzz tds_decode_fuzz tsql_fuzz tls_fuzz package_fuzz

fuzz: build-fuzz
	tests/fuzz/run.sh $(BUILD_FUZZ)/fuzz $(FUZZ_SECONDS)

# The repeatable part of fuzzing that `make test` runs: saved regressions and
# FUZZ_SMOKE_RUNS mutations from a fixed seed per server-less target.
FUZZ_SMOKE_RUNS ?= 20000
fuzz-smoke: build-fuzz
	tests/fuzz/smoke.sh $(BUILD_FUZZ)/fuzz $(FUZZ_SMOKE_RUNS)

# SOAK_CALLS mixed calls from one Regina process against tdslite; prints the
# process's memory and descriptors after 10,000 calls and at the end.
soak: build
	bench/soak/soak.sh $(BUILD) $(SOAK_CALLS)

# The end-to-end REXX scripts with regina and tdslite under valgrind memcheck.
valgrind: build
	tests/harness/valgrind.sh $(BUILD)

format:
	git ls-files '*.cc' '*.h' | xargs clang-format -i

clean:
	rm -rf $(BUILD) $(BUILD_ASAN) $(BUILD_FUZZ)
