"""The programs of the README and the documentation pages as a reader would use them: installs the build into a scratch prefix,
compiles every ```cpp block against it (pkg-config flags, nothing else) and runs each, then runs
the ```python block, all against a tarnd named "plant" at position "own" that this script starts.
Usage: readme_blocks.py SOURCE_DIR BUILD_DIR. Exit status 0 when every block compiled and ran."""
import os
import re
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from tarnd_start import start_tarnd  # noqa: E402


def blocks(readme, language):
    """(line, text) of every ```language block."""
    found, inside, start, lines = [], False, 0, []
    with open(readme, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            line = line.rstrip("\n")
            if not inside and line == "```" + language:
                inside, start, lines = True, number, []
            elif inside and line == "```":
                inside = False
                found.append((start, "\n".join(lines) + "\n"))
            elif inside:
                lines.append(line)
    return found


def pages(source):
    """README.md, then every page under docs/ in the order of their paths (relative to source)."""
    found = sorted(os.path.relpath(os.path.join(root, name), source)
                   for root, dirs, files in os.walk(os.path.join(source, "docs")) for name in files if name.endswith(".md"))
    return ["README.md"] + found


def every_block(source, language):
    """(where, text) of every ```language block of every page, where as FILE:LINE."""
    return [(f"{page}:{start}", text) for page in pages(source)
            for start, text in blocks(os.path.join(source, page), language)]


def main(source, build):
    prefix = os.path.join(build, "install-readme")
    shutil.rmtree(prefix, ignore_errors=True)
    subprocess.run(["cmake", "--install", build, "--prefix", prefix], check=True, stdout=subprocess.DEVNULL)
    pcdirs = [os.path.join(root) for root, dirs, files in os.walk(prefix) if "ostrel.pc" in files]
    env = dict(os.environ, PKG_CONFIG_PATH=":".join(pcdirs))
    flags = subprocess.run(["pkg-config", "--cflags", "--libs", "ostrel"], env=env, check=True,
                           capture_output=True, text=True).stdout.split()

    work = tempfile.mkdtemp(prefix="ostrel-readme-blocks-")
    settings = os.path.join(work, "settings.xml")
    tarnd = os.path.join(prefix, "bin", "tarnd")

    def name_port(port):
        with open(settings, "w") as f:
            f.write(f'<tarn><server name="plant" position="own" first="127.0.0.1:{port}"/></tarn>\n')
    run_env = dict(os.environ, TARN_SETTINGS=settings)
    run_env.pop("LD_LIBRARY_PATH", None)  # the installed run path must find the libraries
    failures = []
    for start, text in every_block(source, "cpp"):
        # Each program gets a server of its own: what one creates does not clash with the next.
        server, _ = start_tarnd(tarnd, name_port)
        try:
            program = os.path.join(work, "block" + re.sub(r"[^A-Za-z0-9]", "_", start))
            with open(program + ".cc", "w") as f:
                f.write(text)
            built = subprocess.run(["c++", "-std=c++17", "-Wall", "-Werror", program + ".cc", *flags, "-o", program],
                                   capture_output=True, text=True)
            if built.returncode != 0:
                failures.append(f"{start}: does not compile:\n{built.stderr}")
                continue
            ran = subprocess.run([program], cwd=work, env=run_env, capture_output=True, text=True, timeout=120)
            if ran.returncode != 0:
                failures.append(f"{start}: exits {ran.returncode}:\n{ran.stdout}{ran.stderr}")
            else:
                print(f"{start}: compiled and ran")
        finally:
            server.terminate()
            server.wait(10)

    site = [root for root, dirs, files in os.walk(prefix) if root.endswith(os.path.join("site-packages"))]
    for start, text in every_block(source, "python"):
        if not site:
            print(f"{start}: the Python package is not built; skipped")
            continue
        server, _ = start_tarnd(tarnd, name_port)
        try:
            ran = subprocess.run([sys.executable, "-c", text], cwd=work, capture_output=True, text=True, timeout=120,
                                 env=dict(run_env, PYTHONPATH=site[0]))
            if ran.returncode != 0:
                failures.append(f"{start}: the Python block fails:\n{ran.stdout}{ran.stderr}")
            else:
                print(f"{start}: ran")
        finally:
            server.terminate()
            server.wait(10)
    shutil.rmtree(work, ignore_errors=True)
    for failure in failures:
        print(failure, file=sys.stderr)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1], sys.argv[2]))
