# make run : install what is missing, build, run the bundled example end to end
# make test: the same set-up, then every test
BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=
EXAMPLE ?= examples/yig/yig-sim.inp

.PHONY: all deps configure build run test bench clean

all: build

deps:
	@bash tools/install-deps.sh

configure: deps
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS)

build: configure
	cmake --build $(BUILD) -j $(JOBS)

run: build
	@$(BUILD)/kaven $(EXAMPLE)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

bench: build
	$(BUILD)/benchmarks/event_search_bench
	$(BUILD)/benchmarks/scan_simulation_bench

clean:
	rm -rf $(BUILD)
