# The two entry points: `make run` and `make test`. Both install what is missing first.
MAKEFLAGS += --no-print-directory
BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo
SAN_BUILD ?= build-san
SANITIZE ?= 1

.PHONY: deps configure build app run test sanitize fuzz soak bench format screenshot package clean \
	windows package-windows installer-windows test-windows screenshot-windows record-traces mutate

deps:
	@bash packaging/install-deps.sh

configure: deps
	@cmake -S . -B $(BUILD) $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

# The program and its companions only: what `make run` needs.
app: configure
	@cmake --build $(BUILD) -j $(JOBS) --target kav-update kav-dc-sim kav-fwr demo_firmware

run: app
	@bash scripts/run-wizard.sh $(BUILD) $(ARGS)

# The suite, then (unless SANITIZE=0) the suite again in a build with AddressSanitizer and UBSan.
test: build
	@cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)
	@if [ "$(SANITIZE)" != 0 ]; then JOBS=$(JOBS) bash scripts/sanitize.sh $(SAN_BUILD); fi

# The wire of every road in tests/traces/roads.txt recorded afresh from the program (TRACES=pattern: some of
# them): a deliberate wire change re-records them in the same commit, so that review sees it in the diff.
record-traces: build
	@bash scripts/traces.sh $(BUILD) record $(TRACES)

# The mutation check: every mutant of tests/mutants.txt planted alone and the suites that cover it run
# (MUTANTS=pattern: some of them); not part of `make test`.
mutate: deps
	@JOBS=$(JOBS) bash scripts/mutate.sh

sanitize: deps
	@JOBS=$(JOBS) bash scripts/sanitize.sh $(SAN_BUILD)

# Each libFuzzer target for a minute (FUZZ_SECONDS), in the sanitizer build.
FUZZ_SECONDS ?= 60
fuzz: deps
	@JOBS=$(JOBS) bash scripts/sanitize.sh --fuzz $(FUZZ_SECONDS) $(SAN_BUILD)

# The campaign of random faults at length: SOAK_RUNS whole updates, one random fault each.
SOAK_RUNS ?= 100000
soak: build
	@cd $(BUILD) && KAV_CAMPAIGN_RUNS=$(SOAK_RUNS) QTEST_FUNCTION_TIMEOUT=86400000 QT_QPA_PLATFORM=offscreen \
		KAV_TEST_LNG=$$PWD/FirmwareUpdate.lng tests/test_fault_matrix randomFaultsAtRandomFrames

bench: build
	@cmake --build $(BUILD) --target benchmarks -j $(JOBS)
	@for b in $(BUILD)/bench/bench_*; do if [ -f "$$b" ] && [ -x "$$b" ]; then "$$b"; fi; done

format:
	@git ls-files '*.cpp' '*.h' | xargs clang-format -i

# The .deb (programs, data, desktop file, icons, metainfo, manual pages, udev rule, licence, changelog) into
# $(BUILD)/. Built apart, in $(DEB_BUILD), with the compiler and linker flags Debian builds its packages with
# (dpkg-buildflags, all hardening on), and without the tests; lintian checks it when it is installed.
DEB_BUILD ?= build-deb
DEB_FLAGS = DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get
package: deps
	@cmake -S . -B $(DEB_BUILD) $(CMAKE_FLAGS) -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON \
		-DCMAKE_CXX_FLAGS="$$($(DEB_FLAGS) CPPFLAGS) $$($(DEB_FLAGS) CXXFLAGS)" \
		-DCMAKE_EXE_LINKER_FLAGS="$$($(DEB_FLAGS) LDFLAGS)" >/dev/null
	@cmake --build $(DEB_BUILD) -j $(JOBS) --target installed_files
	@cd $(DEB_BUILD) && cpack -G DEB -B "$(abspath $(BUILD))"

# Windows: kav-update.exe cross-built with mingw-w64 into $(WIN_BUILD)/ (Qt for Windows from ../shared/windows,
# else built once from Debian's sources), its zip, and its tests under Wine against the simulated DC.
# WINDOWS_QT=prebuilt-only skips (one line, success) rather than build Qt: what CI wants.
WIN_BUILD ?= build-win
WINDOWS_QT ?=
windows: app
	@cmake --build $(BUILD) --target kav-lngc >/dev/null
	@JOBS=$(JOBS) bash scripts/windows-build.sh $(BUILD) $(WIN_BUILD) $(WINDOWS_QT)

package-windows: windows
	@cd $(WIN_BUILD) && cpack -G ZIP -B "$(abspath $(WIN_BUILD))" >/dev/null
	@echo "$(WIN_BUILD)/kav-update-$$(cat $(WIN_BUILD)/version.txt)-windows-x64.zip"

# The installer (NSIS): per user without administrator rights, for all users when run as administrator.
installer-windows: windows
	@bash scripts/windows-installer.sh $(WIN_BUILD)

test-windows: deps
	@JOBS=$(JOBS) BUILD=$(BUILD) WIN_BUILD=$(WIN_BUILD) bash scripts/test-windows.sh $(WINDOWS_QT)

# The window under Wine, page 1 and a finished update, as the Windows tests take them; the installer's pages.
screenshot-windows: test-windows
	@cp $(WIN_BUILD)/windows-page1.png $(WIN_BUILD)/windows-finished.png docs/
	@bash scripts/screenshot-installer.sh $(WIN_BUILD)/kav-update-$$(cat $(WIN_BUILD)/version.txt)-setup.exe docs

screenshot: build
	@bash scripts/screenshot.sh $(BUILD)

clean:
	@rm -rf $(BUILD) $(SAN_BUILD) $(DEB_BUILD) $(WIN_BUILD)
