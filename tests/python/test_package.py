"""The package as a user meets it: every public name has type hints and says in help() what it
raises, and the Python page of the documentation runs as printed."""
import ast
import inspect
import os
import re
import subprocess
import sys

import pytest

import ostrel

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


def _public():
    for name in ostrel.__all__:
        value = getattr(ostrel, name)
        if inspect.isclass(value) and not issubclass(value, (BaseException, tuple)):
            for member in vars(value):
                if callable(getattr(value, member)) and not member.startswith("_"):
                    yield f"{name}.{member}", getattr(value, member)
            yield name, type("", (), {"__doc__": f"{value.__doc__} {value.__init__.__doc__}"})
        elif callable(value) and not inspect.isclass(value):
            yield name, value


def test_every_public_name_has_hints_and_help_says_what_it_raises():
    hints = ast.parse(open(os.path.join(os.path.dirname(ostrel.__file__), "__init__.pyi")).read())
    hinted = {node.name for node in hints.body if isinstance(node, (ast.FunctionDef, ast.ClassDef))}
    assert set(ostrel.__all__) <= hinted, set(ostrel.__all__) - hinted
    silent = [name for name, call in _public() if "Raises" not in (call.__doc__ or "") and "raises" not in
              (call.__doc__ or "")]
    assert not silent, f"help() does not say what these raise: {silent}"


def _readme_python_blocks():
    section = open(os.path.join(ROOT, "docs", "python.md"), encoding="utf-8").read()
    return re.findall(r"```python\n(.*?)```", section, re.S), section


def test_readme_lists_every_function():
    _, section = _readme_python_blocks()
    missing = [name for name in ostrel.__all__ if not re.search(rf"\b{name}\b", section)]
    assert not missing, f"the Python page does not mention {missing}"


def test_readme_examples_run_as_printed(tmp_path):
    blocks, _ = _readme_python_blocks()
    assert blocks
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    env.pop("TARN_SETTINGS")  # as a new user runs them: the embedded server
    for block in blocks:
        out = subprocess.run([sys.executable, "-c", block], env=env, cwd=tmp_path, capture_output=True, text=True,
                             timeout=120)
        assert out.returncode == 0, f"{block}\n--- failed:\n{out.stderr}"


def test_readme_prints_the_one_table_of_error_classes():
    _, section = _readme_python_blocks()
    printed = {int(code): name for code, name in re.findall(r"^\s*\| (\d+) \| `(\w+)` \|", section, re.M)}
    assert printed == {code: cls.__name__ for code, cls in ostrel._ostrel._error_classes().items()}
    # one cause, one class; and except clauses written for the older classes still catch it
    assert {ostrel._ostrel._error_classes()[code] for code in (2002, 2015, 2016)} == {ostrel.Unreachable}
    assert issubclass(ostrel.Unreachable, ostrel.NotConnected) and issubclass(ostrel.Unreachable, ostrel.TimedOut)


def test_version_is_the_project_version():
    pyproject = open(os.path.join(ROOT, "python", "pyproject.toml")).read()
    cmake = open(os.path.join(ROOT, "CMakeLists.txt")).read()
    assert f'version = "{ostrel.__version__}"' in pyproject
    assert f"VERSION {ostrel.__version__} " in cmake
