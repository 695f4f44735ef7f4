"""pip install ./python into a fresh virtual environment, as a user would, and the package's
tests against what pip installed.

The build folder is installed into a scratch prefix first (the C++ library pip builds against);
pip runs offline (--no-index, --no-build-isolation). The environment sees the interpreter's own
packages (pytest) but not the build folder. Usage:
    pip_install_check.py --build BUILD --source SOURCE [--python INTERPRETER] [--no-tests]
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--source", required=True)
    parser.add_argument("--python", default=sys.executable)
    parser.add_argument("--no-tests", action="store_true", help="only check an import and one call")
    args = parser.parse_args()
    work = tempfile.mkdtemp(prefix="ostrel-pip-")
    try:
        args.build, args.source = os.path.abspath(args.build), os.path.abspath(args.source)
        prefix, venv = os.path.join(work, "prefix"), os.path.join(work, "venv")
        subprocess.run(["cmake", "--install", args.build, "--prefix", prefix], check=True, stdout=subprocess.DEVNULL)
        subprocess.run([args.python, "-m", "venv", "--system-site-packages", venv], check=True)
        python = os.path.join(venv, "bin", "python")
        env = {k: v for k, v in os.environ.items() if k not in ("PYTHONPATH", "LD_LIBRARY_PATH")}
        env["OSTREL_PREFIX"] = prefix
        subprocess.run([python, "-m", "pip", "install", "-q", "--no-index", "--no-build-isolation",
                        os.path.join(args.source, "python")], check=True, env=env, cwd=work)
        where = subprocess.run([python, "-c", "import ostrel; ostrel.connect(); print(ostrel.__file__)"],
                               check=True, env=env, cwd=work, capture_output=True, text=True).stdout.strip()
        if not where.startswith(venv):
            sys.exit(f"ostrel was imported from {where}, not from the virtual environment")
        print(f"installed into {where}")
        if args.no_tests:
            return
        subprocess.run([python, "-m", "pytest", "-q", "-p", "no:cacheprovider",
                        os.path.join(args.source, "tests", "python")], check=True, env=env, cwd=work)
    except subprocess.CalledProcessError as failed:
        sys.exit(f"failed: {' '.join(failed.cmd)} ({failed.returncode})")
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
