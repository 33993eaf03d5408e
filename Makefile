BUILD ?= build
JOBS ?= $(shell nproc)
PREFIX ?= /usr/local

.PHONY: all build deps demo test asan bench install clean

all: build

deps:
	@sh tools/install-deps.sh

# The packages come first, in order, also under make -j.
build: deps
	@test -f $(BUILD)/CMakeCache.txt || cmake -S . -B $(BUILD)
	cmake --build $(BUILD) -j $(JOBS)

demo: build
	$(BUILD)/bin/tovik examples/demo.tcl

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

asan: deps
	cmake -S . -B build-asan -DTOVIK_ASAN=ON
	cmake --build build-asan -j $(JOBS)
	cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 ctest --output-on-failure -j $(JOBS)

# One benchmark at a time: they compare speeds, and must not share the cores.
bench: build
	cmake --build $(BUILD) --target benchmarks -j 1

# Each package in its own folder under $(PREFIX)/lib/tcltk, programs in $(PREFIX)/bin.
install: build
	cmake --install $(BUILD) --prefix $(PREFIX)

clean:
	rm -rf $(BUILD) build-asan
