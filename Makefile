# The two commands of the README, and the longer runs beside them.
#   make run    set up, build, and run the station's main job on the handset bench
#   make test   set up, build, run every test; again under ASan/UBSan; the station end to end
#               under TSan; then short fuzzing passes
#   make chaos  TRIALS (1000) handsets with random faults against one station; make soak: loop_test
#               on eight handsets for SOAK_MINUTES (10)
SHELL := /bin/bash
JOBS  ?= $(shell nproc)
BUILD      := build
BUILD_SAN  := build-asan
BUILD_FUZZ := build-fuzz
BUILD_TSAN := build-tsan
CMAKE_GEN  := -G Ninja
FUZZ_SECONDS ?= 20
FUZZ_LONG_SECONDS ?= 600
TRIALS ?= 1000
SOAK_MINUTES ?= 10
SEED ?=

.PHONY: all setup build run test test-unit test-asan test-tsan test-fuzz test-kernel fuzz bench chaos soak clean

all: build

setup:
	@scripts/setup.sh

build: setup
	cmake -S . -B $(BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD) -j $(JOBS)

run: build
	@scripts/run-demo.sh $(BUILD)

test: setup
	$(MAKE) --no-print-directory test-unit
	$(MAKE) --no-print-directory test-asan
	$(MAKE) --no-print-directory test-tsan
	$(MAKE) --no-print-directory test-fuzz
	@echo "make test: all passes succeeded"

test-unit:
	cmake -S . -B $(BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD) -j $(JOBS)
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS) -LE 'fuzz'

test-asan:
	cmake -S . -B $(BUILD_SAN) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug -DNORVANE_SANITIZE=address,undefined
	cmake --build $(BUILD_SAN) -j $(JOBS)
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  ctest --test-dir $(BUILD_SAN) --output-on-failure -j $(JOBS) -LE 'fuzz|nosan'

# The station's end-to-end run once more with the station and the bench under ThreadSanitizer.
test-tsan:
	cmake -S . -B $(BUILD_TSAN) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DNORVANE_SANITIZE=thread
	cmake --build $(BUILD_TSAN) -j $(JOBS) --target norvane_pc handset_bench onefi test_plugin_full \
	  test_plugin_agent post_plugin_example
	TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
	  ctest --test-dir $(BUILD_TSAN) --output-on-failure -R '^station_e2e$$'

test-fuzz:
	CC=clang CXX=clang++ cmake -S . -B $(BUILD_FUZZ) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DNORVANE_FUZZ=ON -DNORVANE_FUZZ_SECONDS=$(FUZZ_SECONDS)
	cmake --build $(BUILD_FUZZ) -j $(JOBS) --target fuzzers
	ctest --test-dir $(BUILD_FUZZ) --output-on-failure -L fuzz

# The charger on Debian's kernel under QEMU only (also part of test-unit); screenshots in
# $(BUILD)/artefacts.
test-kernel: setup
	cmake -S . -B $(BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD) -j $(JOBS) --target poweroff_charger
	ctest --test-dir $(BUILD) --output-on-failure -V -R '^charger_kernel$$'

# A longer campaign: every target for FUZZ_LONG_SECONDS, new finds kept in the corpora.
fuzz: setup
	CC=clang CXX=clang++ cmake -S . -B $(BUILD_FUZZ) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DNORVANE_FUZZ=ON
	cmake --build $(BUILD_FUZZ) -j $(JOBS) --target fuzzers
	scripts/fuzz-campaign.sh $(BUILD_FUZZ) $(FUZZ_LONG_SECONDS)

bench: build
	@scripts/run-benchmarks.sh $(BUILD)

# The station against the bench with a random fault per handset, TRIALS handsets (SEED= repeats a run).
chaos: setup
	cmake -S . -B $(BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD) -j $(JOBS) --target norvane_pc handset_bench
	python3 bench/chaos/chaos_run.py --norvane-pc $(BUILD)/src/station/norvane_pc \
	  --bench $(BUILD)/sim/handset_bench --trials $(TRIALS) $(if $(SEED),--seed $(SEED))

# loop_test on eight handsets for SOAK_MINUTES, every flash read back and compared.
soak: setup
	cmake -S . -B $(BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD) -j $(JOBS) --target norvane_pc handset_bench
	python3 bench/chaos/soak.py --norvane-pc $(BUILD)/src/station/norvane_pc \
	  --bench $(BUILD)/sim/handset_bench --minutes $(SOAK_MINUTES) $(if $(SEED),--seed $(SEED))

clean:
	rm -rf $(BUILD) $(BUILD_SAN) $(BUILD_TSAN) $(BUILD_FUZZ)
