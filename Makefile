# Two commands on a fresh machine: `make demo` and `make test`. Both install what is missing first.
MAKEFLAGS += --no-print-directory
BUILD ?= build
PREFIX ?= $(CURDIR)/install
JOBS ?= $(shell nproc 2>/dev/null || echo 2)

.PHONY: all deps configure build demo test bench install asan clean

all: build

deps:
	@bash scripts/install-deps.sh

configure: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo > /dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

demo: build
	@$(BUILD)/tools/ostrel/ostrel demo

test: build
	@cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

bench: build
	@bash scripts/run-benchmarks.sh $(BUILD)

install: build
	@cmake --install $(BUILD) --prefix $(PREFIX)

asan: deps
	@cmake -S . -B build-asan -DOSTREL_SANITIZE=ON -DOSTREL_BENCH=OFF -DCMAKE_BUILD_TYPE=Debug > /dev/null
	@cmake --build build-asan -j $(JOBS)
	@cd build-asan && ASAN_OPTIONS=detect_leaks=1 \
	  LSAN_OPTIONS=fast_unwind_on_malloc=0:print_suppressions=0:suppressions=$(CURDIR)/scripts/lsan.supp \
	  ctest --output-on-failure -j $(JOBS) -LE install

clean:
	@rm -rf $(BUILD) build-asan build-fuzz install
