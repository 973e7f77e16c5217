# The two commands of the README:
#   make run    installs what is missing, builds, runs Lumivar: its window
#               on this machine's network when there is a display, else
#               its model (lumivar-headless) in a private network with an
#               example light and a media server
#   make test   installs what is missing, builds and runs every test in a
#               normal and in an ASan+UBSan build, then short fuzz runs
BUILD ?= build
ASAN_BUILD ?= build-asan
TSAN_BUILD ?= build-tsan
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 20
JOBS ?= $(shell nproc)

.PHONY: run test deps build test-normal test-asan test-tsan test-fuzz bench clean

deps:
	tools/install-deps

build: deps
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD) -j $(JOBS)

# Lumivar keeps Zentrova.ini and log.txt in its working directory.
LUMIVAR_HOME ?= $(BUILD)/lumivar-home
run: build
	@if [ -n "$${DISPLAY:-}$${WAYLAND_DISPLAY:-}" ] && [ -x $(BUILD)/explorer/ui/lumivar ]; then \
	  mkdir -p $(LUMIVAR_HOME) && cd $(LUMIVAR_HOME) && exec $(abspath $(BUILD))/explorer/ui/lumivar; \
	else \
	  tools/lumivar-demo $(BUILD); \
	fi

test-normal: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

test-asan: deps
	cmake -S . -B $(ASAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQN_SANITIZE=address,undefined
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	ctest --test-dir $(ASAN_BUILD) --output-on-failure -j $(JOBS)

# ThreadSanitizer over the programs that drive the stack from several
# threads while the server thread runs.
TSAN_TESTS ?= entity_nettest server_nettest soap_nettest gena_nettest modelLock_nettest deviceExplorer_nettest eventTable_test headless_nettest virtualDevices_nettest controlPointMonitor_nettest deviceOperations_nettest attackProtocol_nettest attackLoop_nettest
test-tsan: deps
	cmake -S . -B $(TSAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQN_SANITIZE=thread -DQN_BUILD_BENCH=OFF
	cmake --build $(TSAN_BUILD) -j $(JOBS) --target $(TSAN_TESTS)
	for t in $(TSAN_TESTS); do TSAN_OPTIONS=halt_on_error=1 $(TSAN_BUILD)/tests/$$t || exit 1; done

test-fuzz: deps
	cmake -S . -B $(FUZZ_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQN_FUZZ=ON \
	  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++
	cmake --build $(FUZZ_BUILD) -j $(JOBS)
	tools/run-fuzzers $(FUZZ_BUILD) $(FUZZ_SECONDS)

test: test-normal test-asan test-tsan test-fuzz

bench: build
	for b in $(BUILD)/bench/*_bench; do $$b --benchmark_repetitions=5 --benchmark_report_aggregates_only=true; done

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(TSAN_BUILD) $(FUZZ_BUILD)
