# One entry point for setting up, building, testing and running Quenvol.
BUILD      ?= build
ASAN_BUILD ?= build-asan
JOBS       ?= $(shell nproc)
CMAKE_OPTS ?=

export CTEST_OUTPUT_ON_FAILURE = 1

.PHONY: all setup configure build test test-asan run screenshots demo clean fuzz bench package

all: build

setup:
	./scripts/install-deps.sh

$(BUILD)/build.ninja:
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUENVOL_WERROR=ON $(CMAKE_OPTS)

$(ASAN_BUILD)/build.ninja:
	cmake -S . -B $(ASAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQUENVOL_WERROR=ON \
	      -DQUENVOL_SANITIZE=ON $(CMAKE_OPTS)

configure: setup $(BUILD)/build.ninja

build: configure
	cmake --build $(BUILD) -j $(JOBS)

# Every test, then every test again under AddressSanitizer and UndefinedBehaviorSanitizer.
test: build test-asan
	cd $(BUILD) && ctest -j $(JOBS) --timeout 600

test-asan: setup $(ASAN_BUILD)/build.ninja
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
	    UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 ctest -j $(JOBS) --timeout 900

# The Debian package, build/quenvol_<version>_<arch>.deb.
package: build
	cd $(BUILD) && cpack -G DEB

# A sample MINIDOS crisis diskette image under build/demo/, verified and listed.
demo: build
	./scripts/demo.sh $(BUILD)

# PNG images of the main dialog and the About box, drawn offscreen.
screenshots: build
	cmake --build $(BUILD) --target quenvol-screenshots
	$(BUILD)/src/quenvol-screenshots $(BUILD)/screenshots

# The dialog in a real window (needs a display).
# The sample kit is the start directory and drive A: a blank image under build/run/, unless
# QUENVOL_DRIVE_A names another.
run: build
	mkdir -p $(BUILD)/run
	test -e $(BUILD)/run/a.img || truncate -s 1474560 $(BUILD)/run/a.img
	cd $(BUILD)/examples/kit && \
	    QUENVOL_DRIVE_A="$${QUENVOL_DRIVE_A:-$(CURDIR)/$(BUILD)/run/a.img}" \
	    $(CURDIR)/$(BUILD)/src/quenvol $(CURDIR)/$(BUILD)/examples/project

# Each fuzz target for FUZZ_SECONDS (default 60) from its seed corpus, built with clang and
# sanitizers in build-fuzz; new inputs and crashes go to a scratch folder under /tmp.
fuzz:
	./scripts/fuzz.sh $(CURDIR)/build-fuzz

# Build time against the mtools pipeline, writes to drive A: against the least needed, and
# peak memory, for the sample MINIDOS diskette (see Performance in README.md).
bench: build
	$(BUILD)/bench/quenvol-bench

clean:
	rm -rf $(BUILD) $(ASAN_BUILD)
