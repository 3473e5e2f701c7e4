"""The type stubs catch mistakes: mypy --strict over a file of typed use
(tests/typing/usage.py, whose rejected lines carry `# type: ignore[code]`),
the examples and the package's Python modules, against the stubs of the work
tree."""

import os
import subprocess
import sys

import pytest

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")


def test_mypy_strict(tmp_path):
    pytest.importorskip("mypy", reason="mypy is not installed")
    targets = ["tests/typing/usage.py", "examples", "python/borvane/paper.py", "python/borvane/frames.py"]
    out = subprocess.run(
        [sys.executable, "-m", "mypy", "--config-file", "pyproject.toml", "--cache-dir", str(tmp_path)] + targets,
        cwd=ROOT, capture_output=True, text=True, timeout=300, env=dict(os.environ, MYPYPATH="python"))
    assert out.returncode == 0, out.stdout + out.stderr
    assert out.stdout.startswith("Success: no issues found")
