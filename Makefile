# The front door: `make` builds every configuration and stages the results
# in dist/; `make test` runs every suite and check that can run on this
# machine; `make demo` packs the bundled samples and runs the package under
# Wine; `make install` and `make deb` install or package the staged build.
# Each target first installs missing Debian packages (scripts/install-deps.sh).

JOBS ?= $(shell nproc)
PREFIX ?= /usr/local
DESTDIR ?=
BUILD_PRESETS := native native-asan native-release mingw-x64 mingw-x86
TEST_PRESETS := native native-asan mingw-x64

.PHONY: all deps build stage test demo install deb fuzz bench clean $(addprefix build-,$(BUILD_PRESETS) fuzz)

all: build stage

deps:
	@scripts/install-deps.sh

build: $(addprefix build-,$(BUILD_PRESETS))

$(addprefix build-,$(BUILD_PRESETS) fuzz): build-%: deps
	@cmake --preset $* >/dev/null
	@cmake --build --preset $* -j $(JOBS)

stage: build
	@scripts/stage-dist.sh

# The suites of the test presets and the fuzz seeds, then the checks of the
# staged build: format, install (and .deb), reproducible stubs, tool and
# library.
test: all build-fuzz
	@JOBS=$(JOBS) scripts/run-tests.sh $(TEST_PRESETS) fuzz

demo: all
	@scripts/demo.sh

install: all
	@PREFIX='$(PREFIX)' DESTDIR='$(DESTDIR)' scripts/install.sh

deb: all
	@scripts/make-deb.sh

fuzz: build-fuzz
	@FUZZ_SECONDS=$${FUZZ_SECONDS:-600} ctest --test-dir build/fuzz -L fuzz-run --output-on-failure

# Whole processes beside their peers, one summary table against the speed
# targets, then pack --compression lzx beside gcab and xz against the size
# and speed targets; fails when either misses one. The per-decoder
# benchmarks run by themselves with scripts/run-bench.sh.
bench: build-native-release build-mingw-x64
	@status=0; bench/whole/run.sh || status=1; bench/pack-lzx/run.sh || status=1; exit $$status

# One-line faults the tests must catch (scripts/mutants.sh); slow, so not
# part of `make test`.
.PHONY: mutants
mutants: deps
	@scripts/mutants.sh

clean:
	rm -rf build dist
