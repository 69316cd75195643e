# One entry point for setting up, building, testing and running Quenvol.
BUILD      ?= build
ASAN_BUILD ?= build-asan
WIN64_BUILD ?= build-win64
WIN32_BUILD ?= build-win32
JOBS       ?= $(shell nproc)
CMAKE_OPTS ?=

export CTEST_OUTPUT_ON_FAILURE = 1

.PHONY: all setup configure build test test-asan run screenshots demo clean fuzz bench package \
        windows test-windows windows-dist screenshots-windows

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

# Every test, then every test again under AddressSanitizer and UndefinedBehaviorSanitizer, then
# the portable core's tests cross-built for Windows under wine64.
test: build test-asan test-windows
	cd $(BUILD) && ctest -j $(JOBS) --timeout 600

test-asan: setup $(ASAN_BUILD)/build.ninja
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
	    UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 ctest -j $(JOBS) --timeout 900

# Every layer, quenvol-cli.exe and the tests for Windows, 64- and 32-bit, cross-built with
# mingw-w64. Only the 64-bit tests run (under wine64): 32-bit programs cannot run here.
$(WIN64_BUILD)/build.ninja:
	cmake -S cmake/windows -B $(WIN64_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	      -DQUENVOL_LINUX_CLI=$(CURDIR)/$(BUILD)/src/quenvol-cli \
	      --toolchain $(CURDIR)/cmake/mingw-w64-x86_64.cmake

$(WIN32_BUILD)/build.ninja:
	cmake -S cmake/windows -B $(WIN32_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	      --toolchain $(CURDIR)/cmake/mingw-w64-i686.cmake

windows: setup $(WIN64_BUILD)/build.ninja $(WIN32_BUILD)/build.ninja
	cmake --build $(WIN64_BUILD) -j $(JOBS)
	cmake --build $(WIN32_BUILD) -j $(JOBS)

# A wine prefix of the build tree's own, with drive A: mapped to an image in it, its server
# started before CTest lists the tests and stopped after them, whatever they gave. The
# whole-build test compares quenvol-cli.exe with the Linux program of $(BUILD).
test-windows: build windows
	sh cmake/windows/wine-prefix.sh $(CURDIR)/$(WIN64_BUILD)/wine
	cd $(WIN64_BUILD) && export WINEPREFIX=$(CURDIR)/$(WIN64_BUILD)/wine WINEDEBUG=-all \
	    WINEDLLOVERRIDES=winemenubuilder.exe=d \
	    QUENVOL_WINE_DRIVE_A=$(CURDIR)/$(WIN64_BUILD)/wine/drive-a.img && \
	    { ctest -j $(JOBS) --timeout 300; status=$$?; wineserver -k; exit $$status; }

# The Windows release: $(WIN64_BUILD)/dist/quenvol-<version>-win64.zip and its installer
# quenvol-<version>-win64-setup.exe (Debian's nsis), and
# $(WIN32_BUILD)/dist/quenvol-<version>-win32.zip.
# The 64-bit release is checked by make test-windows (the installer under wine64); the 32-bit
# zip's contents are checked here, since no other target runs that build's tests.
windows-dist: setup $(WIN64_BUILD)/build.ninja $(WIN32_BUILD)/build.ninja
	cmake --build $(WIN64_BUILD) -j $(JOBS) --target dist
	cmake --build $(WIN32_BUILD) -j $(JOBS) --target dist
	cd $(WIN32_BUILD) && ctest -R '^packaging\.windows_dist'

# The Debian package, build/quenvol_<version>_<arch>.deb.
package: build
	cd $(BUILD) && cpack -G DEB

# A sample MINIDOS crisis diskette image under build/demo/, verified and listed.
demo: build
	./scripts/demo.sh $(BUILD)

# PNG images of the main dialog, the About box and the format dialog, drawn offscreen.
screenshots: build
	cmake --build $(BUILD) --target quenvol-screenshots
	$(BUILD)/src/quenvol-screenshots $(BUILD)/screenshots

# PNG images of the main dialog, the About box, the system menu and its Drive A: submenu, the
# format dialog and the folder chooser as the Win32 backend shows them under wine64, in
# $(WIN64_BUILD)/screenshots/.
screenshots-windows: setup $(WIN64_BUILD)/build.ninja
	cmake --build $(WIN64_BUILD) -j $(JOBS) --target quenvol_win32_screenshots
	sh scripts/screenshots-windows.sh $(WIN64_BUILD)

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
	rm -rf $(BUILD) $(ASAN_BUILD) $(WIN64_BUILD) $(WIN32_BUILD)
