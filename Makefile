# The project's commands. Everything sets itself up: a fresh Debian machine
# goes from clone to green with `make test`.
BUILD ?= build
JOBS ?= 2
PYTHON := /usr/bin/python3

.PHONY: all deps configure build test sanitize install demo bench clean

all: build

deps:
	@scripts/install-deps.sh

configure: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPython3_EXECUTABLE=$(PYTHON)

build: configure
	cmake --build $(BUILD) -j$(JOBS)

test: build
	cd $(BUILD) && ctest --output-on-failure -j$(JOBS)
	$(MAKE) sanitize

# The C++ suites again under AddressSanitizer, UndefinedBehaviorSanitizer and
# LeakSanitizer, built with clang.
sanitize: deps
	CC=clang CXX=clang++ cmake -S . -B $(BUILD)-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DKAVU_SANITIZE=ON -DKAVU_BUILD_PYTHON=OFF
	cmake --build $(BUILD)-asan -j$(JOBS)
	cd $(BUILD)-asan && ASAN_OPTIONS=detect_leaks=1 ctest --output-on-failure -j$(JOBS)

# Installs the kavu package (with the host and the module) for $(PYTHON).
install: build
	cmake --install $(BUILD)

clean:
	rm -rf $(BUILD) $(BUILD)-asan
