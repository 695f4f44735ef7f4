# Two commands on a fresh machine: `make demo` and `make test`. Both install what is missing first.
MAKEFLAGS += --no-print-directory
BUILD ?= build
PREFIX ?= $(CURDIR)/install
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
# Tests spend most of their time waiting on servers and time-outs, so twice as many run as there
# are cores.
TEST_JOBS ?= $(shell expr 2 \* $(JOBS))

WINDOWS_BUILD ?= build-windows/build
WINDOWS_SDK ?= $(CURDIR)/build-windows/sdk

.PHONY: all deps test-deps package-deps docs-deps docs configure build demo test netns-test torture bench bench-scale install package package-test asan tsan coverage clean windows-deps windows-configure windows windows-test windows-package windows-package-test api-docs

all: build

deps:
	@bash scripts/install-deps.sh

configure: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo > /dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

demo: build
	@$(BUILD)/tools/ostrel/ostrel demo

test-deps:
	@bash scripts/install-deps.sh --tests --docs

# Every test but the package test (make package-test: a few minutes, root, Debian's mirror).
test: build test-deps
	@cd $(BUILD) && ctest --output-on-failure -j $(TEST_JOBS) -LE package

# Only the tests across hosts made of network namespaces (also part of `make test`); they need
# root and say why they are skipped without it.
netns-test: build test-deps
	@cd $(BUILD) && ctest --output-on-failure -L netns

# The delivery contract under faults: N seeded schedules from SEED (`make torture N=2000`).
N ?= 2000
SEED ?=
torture: build
	@cmake --build $(BUILD) --target delivery_torture > /dev/null
	@$(BUILD)/tests/delivery_torture --schedules $(N) $(if $(SEED),--seed $(SEED),)

# The C++ API reference from the installed headers' comments: XML for the documentation site in
# $(BUILD)/docs/doxygen/xml. Fails on any doxygen warning (an undocumented public symbol).
api-docs: deps
	@bash scripts/install-deps.sh --docs
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo > /dev/null
	@cmake --build $(BUILD) --target api-docs

bench: build
	@bash scripts/run-benchmarks.sh $(BUILD)

# How each cost grows with the size of the work (about five minutes; not part of `make test`).
bench-scale: build
	@bash scripts/bench-scale.sh $(BUILD)

install: build
	@cmake --install $(BUILD) --prefix $(PREFIX)

package-deps:
	@bash scripts/install-deps.sh --package

# The Debian package and the Python wheel, in $(BUILD)/package (scripts/package.sh).
package: build package-deps
	@bash scripts/package.sh $(BUILD)

# Both installed into a fresh Debian root and used there (ctest label package; needs root and
# Debian's mirror; the root's tarball is cached in $(BUILD)/package-test).
package-test: package
	@cd $(BUILD) && ctest --output-on-failure -L package

asan: deps test-deps
	@cmake -S . -B build-asan -DOSTREL_SANITIZE=ON -DOSTREL_BENCH=OFF -DCMAKE_BUILD_TYPE=Debug > /dev/null
	@cmake --build build-asan -j $(JOBS)
	@cd build-asan && ASAN_OPTIONS=detect_leaks=1 \
	  LSAN_OPTIONS=fast_unwind_on_malloc=0:print_suppressions=0:suppressions=$(CURDIR)/scripts/lsan.supp \
	  ctest --output-on-failure -j $(TEST_JOBS) -LE "install|package"

# The suite under ThreadSanitizer, in build-tsan (the suppressions name each lazy singleton of
# the ACE and omniORB libraries that is reported, with the reason). Not the Python package: an
# interpreter cannot load the ThreadSanitizer runtime after its start; nor the browser test and
# the delivery torture, which the other builds run.
tsan: deps test-deps
	@cmake -S . -B build-tsan -DOSTREL_TSAN=ON -DOSTREL_BENCH=OFF -DCMAKE_BUILD_TYPE=Debug > /dev/null
	@cmake --build build-tsan -j $(JOBS)
	@cd build-tsan && TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1:suppressions=$(CURDIR)/scripts/tsan.supp \
	  ctest --output-on-failure -j $(TEST_JOBS) -LE "install|package|torture|browser|python"

# The documentation site (the Markdown pages of docs/ through Sphinx and MyST) with the C++
# reference (Doxygen's XML of the installed headers through Breathe), in $(BUILD)/docs/html. Any
# warning fails it, an undocumented public symbol included.
docs-deps:
	@bash scripts/install-deps.sh --docs

docs: docs-deps configure
	@cmake --build $(BUILD) --target api-docs
	@OSTREL_DOXYGEN_XML=$(CURDIR)/$(BUILD)/docs/doxygen/xml sphinx-build -W --keep-going -q -b html docs $(BUILD)/docs/html
	@echo "docs: $(BUILD)/docs/html/index.html"

# Line and branch coverage of the tests per area (clang source-based), in build-coverage.
coverage: deps test-deps
	@JOBS=$(JOBS) bash scripts/coverage.sh

# Windows x64: ostrel.dll, ostrel.exe and the test programs, cross-built with mingw-w64 against the
# SDK that scripts/install-windows-deps.sh builds once into $(WINDOWS_SDK); the tests run under
# wine64, against Linux tarnd processes, tarnd.exe and the embedded server, and the Linux tests of
# the data folder, snapshots and points against tarnd.exe (scripts/windows-tests.sh).
windows-deps:
	@OSTREL_WINDOWS_SDK=$(WINDOWS_SDK) JOBS=$(JOBS) bash scripts/install-windows-deps.sh

windows-configure: deps windows-deps
	@cmake -S . -B $(WINDOWS_BUILD) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
	  -DOSTREL_WINDOWS_SDK=$(WINDOWS_SDK) -DOSTREL_BENCH=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo > /dev/null

windows: windows-configure
	@cmake --build $(WINDOWS_BUILD) -j $(JOBS)

windows-test: windows configure
	@cmake --build $(WINDOWS_BUILD) -j $(JOBS) --target windows_package
	@cmake --build $(BUILD) -j $(JOBS) --target tarnd integration_data_folder_test integration_snapshots_test \
	  integration_datapoints_test
	@bash scripts/windows-tests.sh $(WINDOWS_BUILD) $(BUILD)/tarn/tarnd

# The SDK zip of the Windows build, $(WINDOWS_BUILD)/ostrel-VERSION-windows-x64.zip
# (cmake/windows_package.cmake): the DLL, the programs, headers, a CMake package, docs, licences.
windows-package: windows-configure
	@cmake --build $(WINDOWS_BUILD) -j $(JOBS) --target windows_package

# The zip unpacked into an empty folder and used by an outside CMake project under wine
# (tests/windows/package_test.sh), against tarnd.exe from the zip; its tool and demo from the zip too.
windows-package-test: windows-package
	@bash tests/windows/package_test.sh $(WINDOWS_BUILD)

clean:
	@rm -rf $(BUILD) build-asan build-coverage build-fuzz build-windows install
