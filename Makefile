# Set-up, build and test entry points. `make test` and `make demo` each do the
# whole set-up on a fresh Debian 12 machine (run as root for the package install).

BUILD      ?= build
BUILD_ASAN ?= build-asan
JOBS       ?= $(shell nproc)
CMAKE_ARGS ?=

# Debian packages the project needs to build, test and run its demo.
DEB_PACKAGES = build-essential cmake make g++ clang pkg-config \
               freetds-dev freetds-bin libregina3-dev regina-rexx \
               libsqlite3-dev sqlite3 googletest libgtest-dev \
               python3 python3-tds python3-pymssql procps

.PHONY: all deps build build-asan test test-fast test-asan demo bench format clean

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

build: deps
	cmake -S . -B $(BUILD) $(CMAKE_ARGS)
	cmake --build $(BUILD) -j $(JOBS)

build-asan: deps
	cmake -S . -B $(BUILD_ASAN) -DKTDB_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug $(CMAKE_ARGS)
	cmake --build $(BUILD_ASAN) -j $(JOBS)

# Every test: the plain build first, then the same suite under ASan and UBSan.
test: build build-asan
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)
	cd $(BUILD_ASAN) && ctest --output-on-failure -j $(JOBS)

test-fast: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

test-asan: build-asan
	cd $(BUILD_ASAN) && ctest --output-on-failure -j $(JOBS)

demo: build
	examples/demo.sh $(BUILD)

# Benchmarks print figures (ratios measured in one run); they never fail on timing.
bench: build
	$(BUILD)/tdslite_bench $(BUILD)/tdslite
	cmake --build $(BUILD) --target bench_package

format:
	git ls-files '*.cc' '*.h' | xargs clang-format -i

clean:
	rm -rf $(BUILD) $(BUILD_ASAN)
