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
	@cd $(dir $(EXAMPLE)) && $(CURDIR)/$(BUILD)/kaven $(notdir $(EXAMPLE)); \
	  status=$$?; echo "kaven exit status $$status"; \
	  echo "listing: $(basename $(EXAMPLE)).out"; test $$status -ne 1 -a $$status -ne 2

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

bench: build
	$(BUILD)/benchmarks/event_search_bench

clean:
	rm -rf $(BUILD)
