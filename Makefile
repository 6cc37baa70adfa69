# make run : install what is missing, build the command-line program, run the bundled
#            example end to end
# make test: the same set-up, build everything, then every test
# make gui : the same set-up, build the desktop program kaven-gui and start it
# make sanitize: clang build with AddressSanitizer and UndefinedBehaviorSanitizer, every
#            test and every fuzz target on its seed corpus (and FUZZ_TEST_SECONDS of fuzzing)
# make fuzz: the fuzz targets (FUZZ_TARGETS), each for FUZZ_SECONDS, corpus kept in
#            $(SAN_BUILD)/corpus/<target>; SANITIZERS=undefined,float-cast-overflow with another
#            SAN_BUILD leaves AddressSanitizer out and fuzzes a few times faster
BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=
EXAMPLE ?= examples/yig/yig.inp
SAN_BUILD ?= build-san
SANITIZERS ?= address,undefined,float-cast-overflow
FUZZ_SECONDS ?= 60
FUZZ_TEST_SECONDS ?= 10
FUZZ_TARGETS ?= free_format input obs_list cad4 huber cif
FUZZ_FLAGS ?=

.PHONY: all deps configure build run test gui bench clean sanitize-build sanitize fuzz

all: build

deps:
	@bash tools/install-deps.sh

configure: deps
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS)

build: configure
	cmake --build $(BUILD) -j $(JOBS)

# run and gui build what they start, not the tests and benchmarks
run: configure
	cmake --build $(BUILD) -j $(JOBS) --target kaven
	@$(BUILD)/kaven $(EXAMPLE)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

gui: configure
	@cmake --build $(BUILD) --target help | grep -E '(^|[ .])kaven-gui(:| |$$)' >/dev/null || \
	  { echo "kaven-gui was not built: Qt 6 was not found"; exit 1; }
	cmake --build $(BUILD) -j $(JOBS) --target kaven-gui
	$(BUILD)/kaven-gui

bench: build
	$(BUILD)/benchmarks/event_search_bench
	$(BUILD)/benchmarks/scan_simulation_bench
	$(BUILD)/benchmarks/whole_run_bench
	$(BUILD)/benchmarks/output_bench

sanitize-build: deps
	cmake -S . -B $(SAN_BUILD) -DCMAKE_CXX_COMPILER=clang++ -DKAVEN_SANITIZE=ON -DKAVEN_FUZZ=ON \
	  -DKAVEN_SANITIZERS=$(SANITIZERS) \
	  -DKAVEN_BENCHMARKS=OFF -DKAVEN_GUI=OFF -DKAVEN_FUZZ_TEST_SECONDS=$(FUZZ_TEST_SECONDS) $(CMAKE_FLAGS)
	cmake --build $(SAN_BUILD) -j $(JOBS)

sanitize: sanitize-build
	cd $(SAN_BUILD) && ctest --output-on-failure -j $(JOBS)

fuzz: sanitize-build
	@for t in $(FUZZ_TARGETS); do \
	  mkdir -p $(SAN_BUILD)/corpus/$$t && \
	  echo "fuzz_$$t: $(FUZZ_SECONDS) s" && \
	  $(SAN_BUILD)/tests/fuzz/fuzz_$$t -max_total_time=$(FUZZ_SECONDS) -timeout=10 -rss_limit_mb=1024 \
	    -print_final_stats=1 $(FUZZ_FLAGS) $(SAN_BUILD)/corpus/$$t tests/fuzz/corpus/$$t || exit 1; \
	done

clean:
	rm -rf $(BUILD) $(SAN_BUILD)
