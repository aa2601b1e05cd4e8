# Two set-up commands on a fresh Debian 12 machine: `make run` and `make test`.
BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=
GENERATOR := $(shell command -v ninja >/dev/null 2>&1 && echo "-G Ninja")

.PHONY: all bootstrap configure build run test bench format-check clean

all: build

bootstrap:
	@bash scripts/bootstrap

configure: bootstrap
	@if [ ! -f $(BUILD)/CMakeCache.txt ]; then cmake -S . -B $(BUILD) $(GENERATOR) $(CMAKE_FLAGS); else cmake $(BUILD) >/dev/null; fi

build: configure
	cmake --build $(BUILD) -j $(JOBS)

run: build
	bash scripts/run-app $(BUILD)/ZEPAquarn/zepaquarn

test: build
	bash scripts/run-sanitized-tests $(BUILD)-asan $(JOBS)
	cd $(BUILD) && ctest -j $(JOBS) --output-on-failure --timeout 600

format-check: bootstrap
	bash scripts/check-format

bench: build
	bash scripts/run-benchmarks $(BUILD)

clean:
	rm -rf $(BUILD) $(BUILD)-asan
