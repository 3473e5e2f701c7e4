# Two commands for a new machine: `make demo` and `make test`.
PYTHON ?= python3
VENV := .venv
VPY := $(VENV)/bin/python
BUILD ?= build/dev
WHEEL_BUILD := build/wheel

.PHONY: venv install test demo dev devtest unit clean

$(VPY):
	$(PYTHON) -m venv $(VENV)
	$(VPY) -m pip install --quiet --upgrade pip

# Build requirements come from the package index into the virtual
# environment, so the install needs nothing installed by hand.
$(VENV)/.deps: $(VPY) pyproject.toml
	$(VPY) -m pip install --quiet "scikit-build-core>=0.8" "numpy>=1.20,<2" cmake ninja pytest
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

# Development build into $(BUILD)/pkg, without installing: several work
# trees can build side by side with BUILD=build/<name>.
dev: venv
	$(VENV)/bin/cmake -S . -B $(BUILD) -G Ninja -DPython_EXECUTABLE=$(abspath $(VPY)) \
		-DCMAKE_BUILD_TYPE=RelWithDebInfo > /dev/null
	$(VENV)/bin/cmake --build $(BUILD)

devtest: dev
	PYTHONPATH=$(BUILD)/pkg $(VPY) -m pytest -q tests $(ARGS)

clean:
	rm -rf build
