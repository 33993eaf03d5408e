BUILD ?= build
JOBS ?= $(shell nproc)

.PHONY: all build deps demo test asan bench clean

all: build

deps:
	@sh tools/install-deps.sh

$(BUILD)/CMakeCache.txt:
	cmake -S . -B $(BUILD)

build: $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

demo: deps build
	$(BUILD)/bin/tovik examples/demo.tcl

test: deps build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

asan: deps
	cmake -S . -B build-asan -DTOVIK_ASAN=ON
	cmake --build build-asan -j $(JOBS)
	cd build-asan && ASAN_OPTIONS=detect_leaks=1 ctest --output-on-failure -j $(JOBS)

# One benchmark at a time: they compare speeds, and must not share the cores.
bench: deps build
	cmake --build $(BUILD) --target benchmarks -j 1

clean:
	rm -rf $(BUILD) build-asan
