# Thin wrapper over the CMake presets.
PRESET ?= release
BUILD := build/$(PRESET)
JOBS ?= $(shell nproc 2>/dev/null || echo 2)

.PHONY: all build test demo bench package clean

all: build

build:
	cmake --preset $(PRESET) >/dev/null
	cmake --build --preset $(PRESET) -j $(JOBS)

test: build
	ctest --preset $(PRESET) -j $(JOBS)

demo: build
	sh examples/run_demo.sh $(BUILD)/vorlang build/demo

# A .deb of both programs and their man pages, in $(BUILD).
package: build
	cmake --build --preset $(PRESET) --target package

bench: build
	sh bench/run_bench.sh $(BUILD)

clean:
	rm -rf build
