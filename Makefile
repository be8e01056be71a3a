# The README's commands. Each one installs what is missing first.
BUILD_DIR ?= build
BUILD_TYPE ?= RelWithDebInfo
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: all build deps run view test install package test-sanitized test-tsan fuzz clean

all: build

deps:
	@scripts/install-deps

# Each build folder remembers the settings it was configured with; a change of
# BUILD_TYPE or CMAKE_FLAGS configures it again.
configured = $(shell mkdir -p $(1) && (printf '%s\n' '$(2)' | cmp -s - $(1)/.zrv-settings \
                 || printf '%s\n' '$(2)' > $(1)/.zrv-settings))

$(call configured,$(BUILD_DIR),$(BUILD_TYPE) $(CMAKE_FLAGS))
$(BUILD_DIR)/CMakeCache.txt: $(BUILD_DIR)/.zrv-settings
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) $(CMAKE_FLAGS)
	@touch $@

build: deps $(BUILD_DIR)/CMakeCache.txt
	cmake --build $(BUILD_DIR) -j $(JOBS)

run: build
	$(BUILD_DIR)/zrvimage

# The viewer on FILE, or on the sample frame (made once by zrv_view_sample_frame, a
# field with a white panel and a dark target) when no FILE is given.
FILE ?=
SAMPLE_FRAME = $(BUILD_DIR)/sample-frame.bmp
view: build
	@if [ -z "$(FILE)" ] && [ ! -f "$(SAMPLE_FRAME)" ]; then \
	  cmake --build $(BUILD_DIR) --target zrv_view_sample_frame && \
	  $(BUILD_DIR)/view/zrv_view_sample_frame "$(SAMPLE_FRAME)" >/dev/null; fi
	$(BUILD_DIR)/zrvimage-view "$(if $(FILE),$(FILE),$(SAMPLE_FRAME))"

test: build
	cd $(BUILD_DIR) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)
	@$(MAKE) --no-print-directory test-sanitized
	@$(MAKE) --no-print-directory test-tsan

# The whole suite again under AddressSanitizer and UndefinedBehaviorSanitizer, in its
# own folder; any report ends the test that made it, so the run fails.
ASAN_DIR ?= build-asan
SANITIZE = -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer

$(call configured,$(ASAN_DIR),$(SANITIZE) $(CMAKE_FLAGS))
$(ASAN_DIR)/CMakeCache.txt: $(ASAN_DIR)/.zrv-settings
	cmake -S . -B $(ASAN_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo "-DCMAKE_CXX_FLAGS=$(SANITIZE)" $(CMAKE_FLAGS)
	@touch $@

test-sanitized: deps $(ASAN_DIR)/CMakeCache.txt
	cmake --build $(ASAN_DIR) -j $(JOBS)
	cd $(ASAN_DIR) && QT_QPA_PLATFORM=offscreen UBSAN_OPTIONS=print_stacktrace=1 \
	  LSAN_OPTIONS=suppressions=$(CURDIR)/tests/sanitizers/lsan.supp ctest --output-on-failure -j $(JOBS)

# The engine's and the batch tool's tests again under ThreadSanitizer, in a folder of
# their own: the code with threads of its own (the block writer, the batch's workers).
# Only those two test programs and what they need are built. Run with the address space
# laid out without randomisation: kernels with many mmap_rnd_bits place mappings where
# ThreadSanitizer cannot shadow them ("unexpected memory mapping").
TSAN_DIR ?= build-tsan
TSAN = -fsanitize=thread -fno-omit-frame-pointer

$(call configured,$(TSAN_DIR),$(TSAN) $(CMAKE_FLAGS))
$(TSAN_DIR)/CMakeCache.txt: $(TSAN_DIR)/.zrv-settings
	cmake -S . -B $(TSAN_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo "-DCMAKE_CXX_FLAGS=$(TSAN)" $(CMAKE_FLAGS)
	@touch $@

TSAN_RUN = QT_QPA_PLATFORM=offscreen setarch $$(uname -m) -R env \
  TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$(CURDIR)/tests/sanitizers/tsan.supp"
# The crash sweep is left out there: it kills whole programs at file calls, a hundred
# times over, which says nothing about threads and takes minutes under ThreadSanitizer.
test-tsan: deps $(TSAN_DIR)/CMakeCache.txt
	cmake --build $(TSAN_DIR) -j $(JOBS) --target engine_tests batch_tests
	for tests in engine batch; do \
	  $(TSAN_RUN) ctest --test-dir $(TSAN_DIR)/tests/$$tests --output-on-failure -j $(JOBS) -E '^CrashSweep\.' || exit 1; \
	done

# Every fuzz target for FUZZ_SECONDS each, one after the other (fuzz/run-fuzz).
FUZZ_SECONDS ?= 60
fuzz: deps
	FUZZ_DIR=build-fuzz JOBS=$(JOBS) fuzz/run-fuzz $(FUZZ_SECONDS)

# The programs, the launcher entry, the icons and the AppStream file (packaging/) under
# PREFIX, staged under DESTDIR when that is set.
PREFIX ?= /usr/local
install: build
	DESTDIR="$(DESTDIR)" cmake --install $(BUILD_DIR) --prefix "$(PREFIX)"

# The Debian package, $(BUILD_DIR)/zrvimage_<version>_<architecture>.deb.
package: build
	cd $(BUILD_DIR) && cpack -G DEB

# The benchmark (bench/, docs/performance.md) in an optimised build of its own: every
# operation through the window and zrvimage-batch against the plain file I/O it needs,
# in one table, and the float TIFF against GDAL's (whose tools only the bench installs).
BENCH_DIR ?= build-release
.PHONY: bench
bench: deps
	@scripts/install-bench-deps
	cmake -S . -B $(BENCH_DIR) -DCMAKE_BUILD_TYPE=Release -DZRV_BUILD_TESTS=OFF $(CMAKE_FLAGS)
	cmake --build $(BENCH_DIR) -j $(JOBS) --target zrv_bench zrv_bench_floor zrvimage-batch
	$(BENCH_DIR)/zrv_bench $(BENCH_ARGS)

# Every build folder the commands above make.
# The Windows cross-build in its own folder: the mingw-w64 compiler, static libraries
# built from Debian's sources, the programs, their tests (run under wine) and the
# installer.
WIN_DIR ?= build-windows
WINDOWS_TARGETS ?= runtime_tests engine_tests batch_tests zrvimage-batch zrvimage window_win32_tests windows_installer

.PHONY: windows-deps windows test-windows windows-package
windows-deps:
	@scripts/install-windows-deps
	@ZRV_WINDOWS_BUILD=$(CURDIR)/$(WIN_DIR) scripts/build-windows-libs

$(call configured,$(WIN_DIR),$(BUILD_TYPE) $(CMAKE_FLAGS))
$(WIN_DIR)/CMakeCache.txt: $(WIN_DIR)/.zrv-settings
	cmake -S . -B $(WIN_DIR) -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/mingw-w64.cmake \
	  -DZRV_WINDOWS_DEPS=$(CURDIR)/$(WIN_DIR)/deps -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) $(CMAKE_FLAGS)
	@touch $@

windows: windows-deps $(WIN_DIR)/CMakeCache.txt
	cmake --build $(WIN_DIR) -j $(JOBS) --target $(WINDOWS_TARGETS)

# The tests of the targets built above, each test program started by scripts/wine-run;
# the window's on a virtual X server (scripts/wine-run-gui), the installer's in a wine
# prefix of its own.
test-windows: windows
	cd $(WIN_DIR) && ctest --output-on-failure -j $(JOBS) -E '_NOT_BUILT$$'

# The zip, $(WIN_DIR)/zrvimage-windows-<version>.zip (both programs, a read-me in
# Japanese, the libraries' licence texts), and the installer,
# $(WIN_DIR)/zrvimage-setup-<version>.exe (the same, a Start-menu entry and an
# uninstaller); packaging/windows/.
windows-package: windows-deps $(WIN_DIR)/CMakeCache.txt
	cmake --build $(WIN_DIR) -j $(JOBS) --target windows_zip windows_installer

clean:
	rm -rf $(BUILD_DIR) $(ASAN_DIR) $(TSAN_DIR) $(BENCH_DIR) $(WIN_DIR) build-fuzz
