# Thin wrappers over CMake and CTest. Folders and parallelism can be overridden: make test BUILD_DIR=build-x
BUILD_DIR ?= build
ASAN_DIR ?= build-asan
BENCH_DIR ?= build-bench
PACKAGE_DIR ?= build-package
WIN_DIR ?= build-win
JOBS ?= 2

# StormLib's release tarball, where there is one: builds that compile StormLib (for Windows always, on Linux
# where libstorm-dev is missing) then need no network.
STORMLIB_TARBALL ?= $(wildcard $(abspath ../shared/vendor/StormLib-9.40.tar.gz))

CONFIGURE = cmake -G Ninja -S . $(if $(STORMLIB_TARBALL),-DBRINDLEMARK_STORMLIB_TARBALL=$(STORMLIB_TARBALL))

.PHONY: run test test-noarchive bench deps package deps-windows windows test-windows compare-windows format format-check

deps:
	scripts/install-deps.sh

# Builds the window and the command-line tool, then opens the window. Without a display the program says so.
run: deps
	$(CONFIGURE) -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBRINDLEMARK_GUI=ON
	cmake --build $(BUILD_DIR) -j $(JOBS) --target brindlemark brindlemark-cli
	$(BUILD_DIR)/app/qt/brindlemark

# Everything, tested; then the tests again under AddressSanitizer and UndefinedBehaviorSanitizer.
test: deps
	$(CONFIGURE) -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBRINDLEMARK_GUI=ON
	cmake --build $(BUILD_DIR) -j $(JOBS)
	ctest --test-dir $(BUILD_DIR) --output-on-failure -j $(JOBS)
	$(CONFIGURE) -B $(ASAN_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBRINDLEMARK_GUI=ON -DBRINDLEMARK_SANITIZE=ON
	cmake --build $(ASAN_DIR) -j $(JOBS)
	ctest --test-dir $(ASAN_DIR) --output-on-failure -j $(JOBS)

# The build without the archive module (no StormLib) and without the window: map archives are refused, and
# bundles, object files, map folders and import work; every test that needs no archive runs.
NOARCHIVE_DIR ?= build-noarchive
test-noarchive: deps
	$(CONFIGURE) -B $(NOARCHIVE_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBRINDLEMARK_GUI=OFF -DBRINDLEMARK_MAPS=OFF
	cmake --build $(NOARCHIVE_DIR) -j $(JOBS)
	ctest --test-dir $(NOARCHIVE_DIR) --output-on-failure -j $(JOBS)

# The packages: a .deb (its dependencies worked out by dpkg-shlibdeps) and a .tar.gz, in $(PACKAGE_DIR)/packages.
package: deps
	$(CONFIGURE) -B $(PACKAGE_DIR) -DCMAKE_BUILD_TYPE=Release -DBRINDLEMARK_GUI=ON -DBRINDLEMARK_TESTS=OFF
	cmake --build $(PACKAGE_DIR) -j $(JOBS)
	cd $(PACKAGE_DIR) && cpack

# The repository's .clang-format over every C++ source it tracks: `format` applies it, `format-check` fails
# naming each file that does not follow it (CI runs it).
FORMAT_FILES = git ls-files -z -- '*.cpp' '*.h'
format: deps
	$(FORMAT_FILES) | xargs -0 clang-format -i
format-check: deps
	$(FORMAT_FILES) | xargs -0 clang-format --dry-run --Werror

# A release build of the benchmarks, run; they print their figures.
bench: deps
	$(CONFIGURE) -B $(BENCH_DIR) -DCMAKE_BUILD_TYPE=Release -DBRINDLEMARK_BENCH=ON -DBRINDLEMARK_TESTS=OFF
	cmake --build $(BENCH_DIR) -j $(JOBS)
	cmake --build $(BENCH_DIR) --target run-benchmarks

deps-windows:
	scripts/install-deps.sh windows

# The Windows programs, cross-built with MinGW-w64, and what a Windows user downloads: the zip to run from any
# folder, $(WIN_DIR)/brindlemark-<version>-win64.zip, and the installer, $(WIN_DIR)/brindlemark-<version>-win64-setup.exe.
windows: deps-windows
	$(CONFIGURE) -B $(WIN_DIR) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DCMAKE_BUILD_TYPE=Release
	cmake --build $(WIN_DIR) -j $(JOBS) --target windows-zip windows-installer

# Every test program for Windows, run under wine in a wine folder of the build's own; the window's test draws
# on a virtual display. The wine folder is made ready first: wine processes that start together on a folder
# not yet set up wait on each other for minutes.
test-windows: windows
	cmake --build $(WIN_DIR) -j $(JOBS)
	WINEPREFIX=$(abspath $(WIN_DIR))/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" \
	  xvfb-run -a sh -c 'wineboot --init && ctest --test-dir $(WIN_DIR) --output-on-failure -j $(JOBS)'

# The Linux and the Windows command-line tool on the same corpus files and commands: the bytes they write must be
# the same; in maps, the files inside. Uses the programs that make test and make test-windows built (the Linux
# build's tests/map/mapfiles packs and unpacks the maps).
compare-windows:
	WINEPREFIX=$(abspath $(WIN_DIR))/wineprefix WINEDLLOVERRIDES="mscoree,mshtml=" \
	  scripts/compare-windows.sh $(BUILD_DIR)/cli/brindlemark-cli $(WIN_DIR)/cli/brindlemark-cli.exe \
	  $(wildcard $(BUILD_DIR)/tests/map/mapfiles)
