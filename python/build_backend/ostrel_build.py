"""The build backend of the ostrel package (PEP 517): CMake builds the module against the
installed library, and the wheel is written here, so that no other build tool is needed.

Where the library is: the environment's CMAKE_PREFIX_PATH, or OSTREL_PREFIX, or
``--config-settings prefix=DIR`` (pip's -C); CMake's default places otherwise. The module's run
path is the library's folder there, or what ``--config-settings rpath=DIR`` gives (``rpath=``
for none: a library in the system's library path, as the Debian package puts it). The build runs
``cmake`` from PATH with two jobs unless CMAKE_BUILD_PARALLEL_LEVEL says otherwise.
"""
import base64
import hashlib
import os
import re
import shutil
import subprocess
import sys
import sysconfig
import tempfile
import zipfile

_HERE = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def _project():
    with open(os.path.join(_HERE, "pyproject.toml"), encoding="utf-8") as f:
        text = f.read()
    section = text[text.index("[project]"):]
    field = lambda key: re.search(rf'^{key}\s*=\s*"([^"]*)"', section, re.M).group(1)  # noqa: E731
    return field("name"), field("version"), field("description"), field("requires-python")


def _tag():
    impl = sys.implementation.name
    abbr = {"cpython": "cp", "pypy": "pp"}.get(impl, impl)
    python = f"{abbr}{sys.version_info[0]}{sys.version_info[1]}"
    platform = re.sub(r"[-.]", "_", sysconfig.get_platform())
    return f"{python}-{python}-{platform}"


def _metadata(name, version, summary, requires):
    return (f"Metadata-Version: 2.1\nName: {name}\nVersion: {version}\nSummary: {summary}\n"
            f"Requires-Python: {requires}\n")


def _wheel_file(tag):
    return f"Wheel-Version: 1.0\nGenerator: ostrel_build\nRoot-Is-Purelib: false\nTag: {tag}\n"


def get_requires_for_build_wheel(config_settings=None):
    return []


def prepare_metadata_for_build_wheel(metadata_directory, config_settings=None):
    name, version, summary, requires = _project()
    info = f"{name}-{version}.dist-info"
    os.makedirs(os.path.join(metadata_directory, info), exist_ok=True)
    with open(os.path.join(metadata_directory, info, "METADATA"), "w", encoding="utf-8") as f:
        f.write(_metadata(name, version, summary, requires))
    with open(os.path.join(metadata_directory, info, "WHEEL"), "w", encoding="utf-8") as f:
        f.write(_wheel_file(_tag()))
    return info


def _cmake(work, stage, config_settings):
    args = ["cmake", "-S", _HERE, "-B", os.path.join(work, "build"),
            f"-DPython3_EXECUTABLE={sys.executable}", "-DCMAKE_BUILD_TYPE=Release"]
    prefix = (config_settings or {}).get("prefix") or os.environ.get("OSTREL_PREFIX")
    if prefix:
        args.append(f"-DCMAKE_PREFIX_PATH={prefix}")
    if "rpath" in (config_settings or {}):
        args.append(f"-DOSTREL_PY_RPATH={config_settings['rpath'] or ''}")
    run = lambda command: subprocess.run(command, check=True, stdout=sys.stderr)  # noqa: E731
    run(args)
    jobs = os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL", "2")
    run(["cmake", "--build", os.path.join(work, "build"), "-j", jobs])
    run(["cmake", "--install", os.path.join(work, "build"), "--prefix", stage])


def build_wheel(wheel_directory, config_settings=None, metadata_directory=None):
    name, version, summary, requires = _project()
    tag = _tag()
    wheel = os.path.join(wheel_directory, f"{name}-{version}-{tag}.whl")
    info = f"{name}-{version}.dist-info"
    work = tempfile.mkdtemp(prefix="ostrel-wheel-")
    try:
        stage = os.path.join(work, "stage")
        _cmake(work, stage, config_settings)
        records = []
        with zipfile.ZipFile(wheel, "w", zipfile.ZIP_DEFLATED) as out:
            def add(arcname, data):
                out.writestr(arcname, data)
                digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()
                records.append(f"{arcname},sha256={digest},{len(data)}")

            for root, _, files in os.walk(stage):
                for file in sorted(files):
                    path = os.path.join(root, file)
                    with open(path, "rb") as f:
                        add(os.path.relpath(path, stage).replace(os.sep, "/"), f.read())
            add(f"{info}/METADATA", _metadata(name, version, summary, requires).encode())
            add(f"{info}/WHEEL", _wheel_file(tag).encode())
            records.append(f"{info}/RECORD,,")
            out.writestr(f"{info}/RECORD", "\n".join(records) + "\n")
    finally:
        shutil.rmtree(work, ignore_errors=True)
    return os.path.basename(wheel)
