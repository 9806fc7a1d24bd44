# The README's commands. Each installs what is missing, then builds.
BUILD ?= build
SANITIZE_BUILD ?= build-sanitize
FUZZ_BUILD ?= build-fuzz
# Seconds each fuzz target runs after its regression inputs.
FUZZ_SECONDS ?= 30
GENERATOR ?= Ninja
JOBS ?= $(shell nproc)
# A compiler cache, when the machine has one, makes rebuilds of other checkouts cheap.
LAUNCHER := $(if $(shell command -v ccache),-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)

.PHONY: deps configure build run test sanitize fuzz bench bench-scaling package screenshots format format-check clean

deps:
	@bash scripts/install-deps.sh

configure: deps
	@cmake -S . -B $(BUILD) -G $(GENERATOR) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(LAUNCHER) $(CMAKE_ARGS) >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

run: build
	@./$(BUILD)/bin/zavrin

# After the run, every skipped case is listed with its reason.
test: build
	@(cd $(BUILD) && ctest --output-on-failure -j $(JOBS)); status=$$?; \
		bash scripts/test-summary.sh $(BUILD); exit $$status

sanitize: deps
	@cmake -S . -B $(SANITIZE_BUILD) -G $(GENERATOR) -DCMAKE_BUILD_TYPE=Debug -DZAVRIN_SANITIZE=ON $(LAUNCHER) $(CMAKE_ARGS) >/dev/null
	@cmake --build $(SANITIZE_BUILD) -j $(JOBS)
	@(cd $(SANITIZE_BUILD) && ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=print_stacktrace=1 \
		ctest --output-on-failure -j $(JOBS)); status=$$?; bash scripts/test-summary.sh $(SANITIZE_BUILD); exit $$status

# The fuzz targets, built with clang into their own folder, then each run
# over its regression inputs and for FUZZ_SECONDS (FUZZ_TARGETS: a subset).
fuzz:
	@bash scripts/install-fuzz-deps.sh
	@cmake -S . -B $(FUZZ_BUILD) -G $(GENERATOR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
		-DZAVRIN_FUZZ=ON $(LAUNCHER) $(CMAKE_ARGS) >/dev/null
	@cmake --build $(FUZZ_BUILD) -j $(JOBS) --target fuzzers
	@bash scripts/run-fuzz.sh $(FUZZ_BUILD) $(FUZZ_SECONDS) $(FUZZ_TARGETS)

# A Debian package of the installed files, written into the build folder.
package: build
	@cd $(BUILD) && cpack -G DEB

# Every registered screen in both languages at scale 1 and 2, offscreen.
screenshots: build
	@for lang in zh_CN en; do for scale in 1 2; do \
		QT_QPA_PLATFORM=offscreen LANGUAGE=$$lang LC_ALL=C.UTF-8 QT_SCALE_FACTOR=$$scale \
			./$(BUILD)/bin/zavrin-screenshots $(BUILD)/screenshots || exit 1; \
	done; done

# Zavrin against the peer tools, round by round (BENCH_ARGS=--quick: a
# 30 MB corpus); bench-scaling: time and memory from 1 000 to 1 000 000
# entries and one 4 GB file. Neither is part of make test.
bench: build
	@bash bench/run.sh $(BUILD) $(BENCH_ARGS)

bench-scaling: build
	@python3 bench/scaling.py $(BUILD) $(BENCH_ARGS)

# Rewrites the tracked C++ files in the checked-in style; format-check only
# lists those that differ and fails.
format: deps
	@bash scripts/format.sh

format-check: deps
	@bash scripts/format.sh --check

clean:
	@rm -rf $(BUILD) $(SANITIZE_BUILD) $(FUZZ_BUILD)
