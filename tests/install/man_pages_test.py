"""The installed manual pages against the installed programs: ostrel(1) names every command that
`ostrel help` lists, and tarnd(8) every flag that `tarnd --help` lists. The lists come from the
programs as installed, not from the page's generator, so a page that misses a command, or a
stale page, fails here. Usage: man_pages_test.py BUILD_DIR
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile


def page_text(path):
    """The words of a roff page as a reader sees them: escapes and font changes undone."""
    with open(path, encoding="utf-8") as f:
        text = f.read()
    text = re.sub(r"\\f[BIRP]", "", text)
    return text.replace("\\-", "-").replace("\\&", "").replace("\\e", "\\")


def listed_commands(help_text):
    commands, inside = [], False
    for line in help_text.splitlines():
        if line.strip() == "Subcommands:":
            inside = True
        elif inside and re.match(r"^  \S", line):
            commands.append(line.split()[0])
        elif inside and not line.startswith("   "):
            inside = False
    return commands


def main():
    build = os.path.abspath(sys.argv[1])
    prefix = tempfile.mkdtemp(prefix="ostrel-man-")
    failures = []
    try:
        subprocess.run(["cmake", "--install", build, "--prefix", prefix], check=True, stdout=subprocess.DEVNULL)
        env = {k: v for k, v in os.environ.items() if not k.startswith("TARN_")}
        run = lambda *cmd: subprocess.run([os.path.join(prefix, "bin", cmd[0]), *cmd[1:]], env=env,  # noqa: E731
                                          check=True, capture_output=True, text=True).stdout
        pages = {"ostrel": os.path.join(prefix, "share", "man", "man1", "ostrel.1"),
                 "tarnd": os.path.join(prefix, "share", "man", "man8", "tarnd.8")}
        for name, path in pages.items():
            if not os.path.isfile(path):
                failures.append(f"{path} is not installed")
        if failures:
            sys.exit("\n".join(failures))

        ostrel_page = page_text(pages["ostrel"])
        commands = listed_commands(run("ostrel", "help"))
        if len(commands) < 10:
            failures.append(f"ostrel help lists only {commands}: its format changed under the test")
        for command in commands:
            # Each command has a section of its own, not only a line in the overview.
            if f'.SS "ostrel {command}"' not in ostrel_page:
                failures.append(f"ostrel(1) has no section for the command {command}")
            for option in re.findall(r"(?m)^\s+(?:-\w,)?(--[a-z][a-z0-9-]*)", run("ostrel", "help", command)):
                if option not in ostrel_page:
                    failures.append(f"ostrel(1) does not name {option} of ostrel {command}")

        tarnd_page = page_text(pages["tarnd"])
        flags = sorted(set(re.findall(r"(?m)^  (--[a-z][a-z0-9-]*)", run("tarnd", "--help"))))
        if len(flags) < 20:
            failures.append(f"tarnd --help lists only {flags}: its format changed under the test")
        for flag in flags:
            # An entry of its own: a tagged paragraph whose head is the flag (and its value).
            if not re.search(rf"(?m)^\.TP\n{re.escape(flag)}(?= |$)", tarnd_page):
                failures.append(f"tarnd(8) has no entry for {flag}")
        for variable in re.findall(r"(?m)^  ([A-Z][A-Z_]+)\s", run("tarnd", "--help")):
            if variable not in tarnd_page:
                failures.append(f"tarnd(8) does not name {variable}")
    finally:
        shutil.rmtree(prefix, ignore_errors=True)
    if failures:
        sys.exit("\n".join(failures))
    print(f"ostrel(1): {len(commands)} commands; tarnd(8): {len(flags)} flags")


if __name__ == "__main__":
    main()
