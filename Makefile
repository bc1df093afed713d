# The project's commands. Everything sets itself up: a fresh Debian machine
# goes from clone to green with `make test`.
BUILD ?= build
JOBS ?= 2
PYTHON := /usr/bin/python3

.PHONY: all deps configure build test format-check format lint sanitize fuzz-build fuzz fuzz-smoke install qgis-test demo bench clean

all: build

deps:
	@scripts/install-deps.sh

configure: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPython3_EXECUTABLE=$(PYTHON)

build: configure
	cmake --build $(BUILD) -j$(JOBS)

test: build format-check lint
	cd $(BUILD) && ctest --output-on-failure -j$(JOBS)
	$(MAKE) qgis-test
	$(MAKE) sanitize
	$(MAKE) fuzz-smoke

# The C++ sources of the module, the tests and the micro-benchmarks in the
# style of .clang-format; `make format` rewrites them in it.
CLANG_FORMAT := clang-format-14
FORMATTED = $(shell find module tests bench -name '*.cpp' -o -name '*.h')
format-check: deps
	@$(CLANG_FORMAT) --dry-run --Werror $(FORMATTED) || \
	  { echo "format-check: run 'make format' to apply .clang-format"; exit 1; }

format: deps
	$(CLANG_FORMAT) -i $(FORMATTED)
	black --quiet $(PY_LINTED)

# The Python package in black's style (pyproject.toml: line length 100) and
# clean by flake8 (.flake8); `make format` applies black.
PY_LINTED = python/kavu qgis
lint: deps
	@black --check --quiet $(PY_LINTED) || \
	  { echo "lint: run 'make format' to apply black"; exit 1; }
	$(PYTHON) -m flake8 $(PY_LINTED)

# The C++ suites again under AddressSanitizer, UndefinedBehaviorSanitizer and
# LeakSanitizer, built with clang; then the host's call path on several
# threads at once under ThreadSanitizer (the thread test alone).
sanitize: deps
	CC=clang CXX=clang++ cmake -S . -B $(BUILD)-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DKAVU_SANITIZE=ON -DKAVU_BUILD_PYTHON=OFF
	cmake --build $(BUILD)-asan -j$(JOBS)
	cd $(BUILD)-asan && ASAN_OPTIONS=detect_leaks=1 ctest --output-on-failure -j$(JOBS)
	CC=clang CXX=clang++ cmake -S . -B $(BUILD)-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DKAVU_TSAN=ON -DKAVU_BUILD_PYTHON=OFF
	cmake --build $(BUILD)-tsan -j$(JOBS) --target threads_tests
	TSAN_OPTIONS=halt_on_error=1 $(BUILD)-tsan/threads_tests

# Coverage-guided fuzzing of routine calls through the host (libFuzzer, clang).
# `make fuzz FUZZ_SECONDS=600` explores and grows a corpus in $(BUILD)-fuzz/corpus;
# `make fuzz-smoke` is the short run CI makes from the committed seeds. Crash
# and slow-input files go into $(BUILD)-fuzz, never into the work tree.
FUZZ_SECONDS ?= 300
fuzz-build: deps
	CC=clang CXX=clang++ cmake -S . -B $(BUILD)-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DKAVU_FUZZ=ON -DKAVU_BUILD_TESTS=OFF -DKAVU_BUILD_PYTHON=OFF
	cmake --build $(BUILD)-fuzz -j$(JOBS) --target routine_call_fuzzer

fuzz: fuzz-build
	mkdir -p $(BUILD)-fuzz/corpus
	$(BUILD)-fuzz/routine_call_fuzzer -max_total_time=$(FUZZ_SECONDS) -rss_limit_mb=4096 -malloc_limit_mb=65536 \
	  -artifact_prefix=$(BUILD)-fuzz/ $(BUILD)-fuzz/corpus tests/fuzz/corpus

fuzz-smoke: fuzz-build
	rm -rf $(BUILD)-fuzz/smoke $(BUILD)-fuzz/slow-unit-* && mkdir -p $(BUILD)-fuzz/smoke
	$(BUILD)-fuzz/routine_call_fuzzer -max_total_time=30 -rss_limit_mb=4096 -malloc_limit_mb=65536 \
	  -artifact_prefix=$(BUILD)-fuzz/ $(BUILD)-fuzz/smoke tests/fuzz/corpus
	@for f in $(BUILD)-fuzz/slow-unit-*; do [ -e "$$f" ] && echo "fuzz-smoke: an input ran over \
	10 s, kept as $$f (replay: $(BUILD)-fuzz/routine_call_fuzzer $$f)"; done; true

# Every routine family against its peers (scikit-image, OpenCV, scipy, numpy)
# in a release build: one table, also written to bench/results/. Each row shows
# our figures before -> after: the commit BENCH_BEFORE (the start of the
# per-pixel work; empty for none) built beside in $(BENCH_BUILD)-before and
# run on the same data. BENCH_ARGS passes options to bench/run.py: --quick
# for a short trial, --full for the large runs and the C++ micro-benchmarks
# (bench/*_bench.cpp) too.
BENCH_BUILD ?= build-release
BENCH_ARGS ?=
BENCH_BEFORE ?= dd36630
bench: deps
	cmake -S . -B $(BENCH_BUILD) -DCMAKE_BUILD_TYPE=Release -DKAVU_BUILD_TESTS=OFF \
	  -DPython3_EXECUTABLE=$(PYTHON)
	cmake --build $(BENCH_BUILD) -j$(JOBS)
	$(if $(BENCH_BEFORE),JOBS=$(JOBS) scripts/build-baseline.sh $(BENCH_BEFORE) $(BENCH_BUILD)-before $(PYTHON))
	scripts/fetch-sample.sh data/L7_ETMs.tif || echo "bench: no sample scene, going on without it"
	PYTHONPATH=$(CURDIR)/$(BENCH_BUILD)/python $(PYTHON) bench/run.py \
	  --build $(BENCH_BUILD) --work $(BENCH_BUILD)/bench-work \
	  $(if $(BENCH_BEFORE),--before $(CURDIR)/$(BENCH_BUILD)-before) $(BENCH_ARGS)

# The README's pictures from a fresh machine: the Landsat 7 sample scene
# (349 x 352 pixels) segmented tile by tile with tiles smaller than the scene,
# the boundaries drawn over a true-colour composite, the region statistics and
# the merge schedule, in demo-output/.
DEMO_SCENE := data/L7_ETMs.tif
DEMO_OUT := demo-output
KAVU := $(BUILD)/bin/kavu
# Builds the package and the command line alone, none of the tests.
demo: configure
	cmake --build $(BUILD) -j$(JOBS) --target kavu_python
	scripts/fetch-sample.sh $(DEMO_SCENE)
	mkdir -p $(DEMO_OUT)
	$(KAVU) segment $(DEMO_SCENE) $(DEMO_OUT)/labels.tif --tile 128 --regions 1000
	$(KAVU) overlay $(DEMO_SCENE) $(DEMO_OUT)/labels.tif $(DEMO_OUT)/overlay.png --bands 3,2,1
	$(KAVU) stats $(DEMO_SCENE) $(DEMO_OUT)/labels.tif -o $(DEMO_OUT)/stats.csv
	$(KAVU) schedule $(DEMO_SCENE) $(DEMO_OUT)/schedule.npz
	@echo "demo: $(DEMO_SCENE) segmented with 128-pixel tiles into about 1000 regions:"
	@echo "  labels      $(CURDIR)/$(DEMO_OUT)/labels.tif ($$(($$(wc -l < $(DEMO_OUT)/stats.csv) - 1)) regions)"
	@echo "  overlay     $(CURDIR)/$(DEMO_OUT)/overlay.png"
	@echo "  statistics  $(CURDIR)/$(DEMO_OUT)/stats.csv"
	@echo "  schedule    $(CURDIR)/$(DEMO_OUT)/schedule.png (regions against lambda)"

# Installs the kavu package (with the host and the module) for $(PYTHON),
# and the QGIS Processing plugin into the user's default QGIS profile, enabled
# (qgis_process.bin: Debian's qgis_process wrapper adds an option 3.22 refuses).
QGIS_PLUGINS ?= $(HOME)/.local/share/QGIS/QGIS3/profiles/default/python/plugins
install: build
	cmake --install $(BUILD)
	mkdir -p $(QGIS_PLUGINS)
	rm -rf $(QGIS_PLUGINS)/kavu_processing
	cp -r qgis/kavu_processing $(QGIS_PLUGINS)/
	QT_QPA_PLATFORM=offscreen qgis_process.bin plugins enable kavu_processing >/dev/null

# The QGIS algorithms headless: each through qgis_process on the Landsat
# scene with the plugin in a profile of its own under $(BUILD)/qgis-check,
# outputs checked, and Cancel leaving nothing.
qgis-test: build
	scripts/fetch-sample.sh $(BUILD)/data/L7_ETMs.tif
	PYTHONPATH=$(CURDIR)/$(BUILD)/python $(PYTHON) qgis/check_algorithms.py \
	  $(BUILD)/data/L7_ETMs.tif $(BUILD)/qgis-check

clean:
	rm -rf $(BUILD) $(BUILD)-asan $(BUILD)-tsan $(BUILD)-fuzz
