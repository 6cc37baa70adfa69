# make run : install what is missing, build, run the bundled example end to end
# make test: the same set-up, then every test
# make gui : the same set-up, then the desktop program kaven-gui
BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=
EXAMPLE ?= examples/yig/yig.inp

.PHONY: all deps configure build run test gui bench clean

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

gui: build
	@test -x $(BUILD)/kaven-gui || { echo "kaven-gui was not built: Qt 6 was not found"; exit 1; }
	$(BUILD)/kaven-gui

bench: build
	$(BUILD)/benchmarks/event_search_bench
	$(BUILD)/benchmarks/scan_simulation_bench

clean:
	rm -rf $(BUILD)
