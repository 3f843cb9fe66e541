# Thin wrapper over CMake. `make run` plays the bundled demo, `make test` is what CI runs.
JOBS ?= $(shell nproc)
WERROR ?= OFF
BUILD ?= build
ASAN_BUILD ?= build-asan
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 60
PREFIX ?= /usr/local

.PHONY: all deps configure build test test-asan bench fuzz demo run panel install package clean

all: build

deps:
	@scripts/install-deps

configure: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORVL_WERROR=$(WERROR) >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

test: build
	@scripts/install-node-packages $(BUILD) >/dev/null 2>&1 || echo "install-node-packages failed; the glTF tests will skip"
	@cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

test-asan: deps
	@cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DORVL_SANITIZE=ON -DORVL_WERROR=$(WERROR) >/dev/null
	@cmake --build $(ASAN_BUILD) -j $(JOBS)
	@scripts/install-node-packages $(ASAN_BUILD) >/dev/null 2>&1 || echo "install-node-packages failed; the glTF tests will skip"
	@cd $(ASAN_BUILD) && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
		LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp:print_suppressions=0 \
		ctest --output-on-failure -j $(JOBS)

bench: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release -DORVL_WERROR=$(WERROR) >/dev/null
	@cmake --build $(BUILD) -j $(JOBS) --target orvl_bench
	@$(BUILD)/bench/orvl_bench --benchmark_repetitions=5 --benchmark_report_aggregates_only=true

# Runs every libFuzzer target for FUZZ_SECONDS each, growing its corpus under fuzz/corpus/<target>.
fuzz: deps
	@CC=clang CXX=clang++ cmake -S . -B $(FUZZ_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORVL_FUZZ=ON >/dev/null
	@cmake --build $(FUZZ_BUILD) -j $(JOBS)
	@for t in $(FUZZ_BUILD)/fuzz/fuzz_*; do \
		name=$$(basename $$t); mkdir -p fuzz/corpus/$$name; \
		echo "== $$name"; $$t -max_total_time=$(FUZZ_SECONDS) -print_final_stats=1 fuzz/corpus/$$name || exit 1; \
	done

# The demo show is generated, not committed: scenes, objects and music under demo/.
demo: configure
	@cmake --build $(BUILD) -j $(JOBS) --target make-demo
	@rm -rf demo/scene demo/objects demo/music demo/images
	@$(BUILD)/tools/make-demo demo
	@cmake --build $(BUILD) -j $(JOBS) --target orvl_doc
	@cp $(BUILD)/doc/Orvl_16.htm demo/Orvl_16.htm

# Plays the demo from demo/ (the show names its files relative to the working directory).
# Without a display it renders headless at 30 frames per second: one picture per second of
# show time into out/show/ and the whole show with its music into out/show.mp4.
run: build demo
	@if [ -n "$$DISPLAY$$WAYLAND_DISPLAY" ]; then \
		cd demo && $(abspath $(BUILD))/app/orvl; \
	else \
		rm -rf out/show out/show.mp4 && mkdir -p out/show && \
		(cd demo && $(abspath $(BUILD))/app/orvl --headless --fps 30 --every 30 --out ../out/show --video ../out/show.mp4) && \
		echo "Pictures (one per second of show time): $(CURDIR)/out/show/" && \
		echo "Video with music: $(CURDIR)/out/show.mp4"; \
	fi

# The control panel on the demo (its Help menu opens demo/Orvl_16.htm).
panel: build demo
	@cd demo && $(abspath $(BUILD))/app/orvl panel

# A Linux installation under PREFIX (DESTDIR is honoured), and the Debian package.
install: build
	@cmake --install $(BUILD) --prefix $(PREFIX)

package: build
	@cd $(BUILD) && cpack -G DEB

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(FUZZ_BUILD)
