# The README's commands. Each one installs what is missing first.
BUILD_DIR ?= build
BUILD_TYPE ?= RelWithDebInfo
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: all build deps run test install package test-sanitized fuzz clean

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

test: build
	cd $(BUILD_DIR) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)
	@$(MAKE) --no-print-directory test-sanitized

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
# in one table.
BENCH_DIR ?= build-release
.PHONY: bench
bench: deps
	cmake -S . -B $(BENCH_DIR) -DCMAKE_BUILD_TYPE=Release -DZRV_BUILD_TESTS=OFF $(CMAKE_FLAGS)
	cmake --build $(BENCH_DIR) -j $(JOBS) --target zrv_bench zrvimage-batch
	$(BENCH_DIR)/zrv_bench $(BENCH_ARGS)

# Every build folder the commands above make.
clean:
	rm -rf $(BUILD_DIR) $(ASAN_DIR) $(BENCH_DIR) build-fuzz
