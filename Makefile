# Thin wrapper over the CMake presets.
PRESET ?= release
BUILD := build/$(PRESET)
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
PREFIX ?= /usr/local
DESTDIR ?=
# No "Entering directory" lines from the makes that CMake runs.
MAKEFLAGS += --no-print-directory

.PHONY: all build configure test test-slow demo bench package install uninstall clean

all: build

configure:
	@cmake --preset $(PRESET) >/dev/null

build: configure
	@cmake --build --preset $(PRESET) -j $(JOBS)

# The default run leaves out the tests labelled slow; test-slow runs them.
test: build
	@ctest --preset $(PRESET) -j $(JOBS) -LE slow
	@echo "Not run: the slow tests (a 4 GiB copy: about 20 s and 5 GiB of free disk); make test-slow runs them."

test-slow: build
	@ctest --preset $(PRESET) -L slow

demo: configure
	@cmake --build --preset $(PRESET) -j $(JOBS) --target vorlang vorlang-extract vorlang-lint
	@sh examples/run_demo.sh $(BUILD)/vorlang build/demo

# A .deb of both programs and their man pages, in $(BUILD).
package: build
	@cmake --build --preset $(PRESET) --target package

# The programs in $(DESTDIR)$(PREFIX)/bin, the man pages and documents below
# $(DESTDIR)$(PREFIX)/share; uninstall removes what install put there.
install: build
	DESTDIR="$(DESTDIR)" cmake --install $(BUILD) --prefix "$(PREFIX)"
	@sed 's|^|$(DESTDIR)|' $(BUILD)/install_manifest.txt > $(BUILD)/installed_files.txt

uninstall:
	@test -f $(BUILD)/installed_files.txt || { echo "nothing installed from $(BUILD)"; exit 1; }
	tr '\n' '\0' < $(BUILD)/installed_files.txt | xargs -0 rm -f --
	@sed -n 's|/[^/]*$$||p' $(BUILD)/installed_files.txt | sort -u | grep '/vorlang$$' | xargs -r rmdir --
	@rm -f $(BUILD)/installed_files.txt

bench: build
	@sh bench/run_bench.sh $(BUILD)

clean:
	rm -rf build
