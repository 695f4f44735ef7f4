#!/usr/bin/env python3
"""Writes a manual page from the help a program prints, so that the page says what the program
says and cannot drift from it.

    man_page.py --name ostrel --section 1 --summary TEXT [--commands] [--see-also PAGE]... \\
                --version X.Y.Z --output FILE -- PROGRAM [ARG]...

Without --commands the page is `PROGRAM --help`. With --commands the program is a tool of
commands: the page opens with `PROGRAM help`, then has a section per command (`PROGRAM help CMD`)
and, for a command that has subcommands, one per subcommand (`PROGRAM help CMD SUB`).

Help text is turned into roff line by line: an unindented line ending in ":" is a heading, an
indented "head  description" line is a tagged paragraph (deeper-indented lines continue it),
anything else is running text. The programs run with the middleware's settings variables unset,
so that the page does not depend on the machine that builds it.
"""
import argparse
import os
import re
import subprocess
import sys

# The value names tarnd's option table prints after a flag when the flag is too long for its
# column to leave two spaces: upper-case words, or a list of choices.
USAGE = re.compile(r"^[Uu]sage: ")
_VALUE = re.compile(r"^([A-Z][A-Z0-9_\[\]:=.]*|[a-z]+(\|[a-z]+)+)$")


def run_help(program, args):
    env = {k: v for k, v in os.environ.items() if k not in ("TARN_SETTINGS", "TARN_ADDRESS", "TARN_LOG")}
    done = subprocess.run(program + args, env=env, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                          text=True, timeout=60)
    if done.returncode != 0 or not done.stdout.strip():
        sys.exit(f"man_page: {' '.join(program + args)} failed ({done.returncode})")
    return done.stdout


def escape(text):
    text = text.replace("\\", "\\e").replace("-", "\\-")
    if text.startswith((".", "'")):
        text = "\\&" + text
    return text


def split_entry(line):
    """(head, description) of a table line (indented by two)."""
    body = line[2:]
    gap = re.search(r"\S(\s{2,})\S", body)
    if gap:
        return body[:gap.start(1)], body[gap.end(1):]
    words = body.split(" ", 2)
    if words[0].startswith("-"):
        if len(words) >= 2 and _VALUE.match(words[1]):
            return " ".join(words[:2]), (words[2] if len(words) > 2 else "")
        return words[0], " ".join(words[1:])
    return body, ""  # a head too long for its column: the description follows on deeper lines


def to_roff(text):
    out = []
    last = "blank"  # what the previous line was: blank, heading, entry, usage or text
    for line in text.rstrip().splitlines():
        indent = len(line) - len(line.lstrip())
        if not line.strip():
            out.append(".PP")
            last = "blank"
        elif indent == 0 and line.endswith(":"):
            out += [".PP", f"\\fB{escape(line)}\\fR"]
            last = "heading"
        elif indent == 0 and USAGE.match(line):
            out += [".PP", escape(line)]
            last = "usage"
        elif indent == 2:
            head, description = split_entry(line)
            out += [".TP", f"\\fB{escape(head.strip())}\\fR"]
            if description.strip():
                out.append(escape(description.strip()))
            last = "entry"
        elif indent > 2 and last == "entry":
            out.append(escape(line.strip()))  # the description goes on
        else:
            # Running text: a paragraph of its own after a table entry or a usage line; an
            # indented line keeps its own line.
            if last in ("entry", "usage"):
                out.append(".PP")
            elif indent > 0 and last == "text":
                out.append(".br")
            out.append(escape(line.strip()))
            last = "text"
    return out


def take_usage(help_text):
    """(the usage a help text opens with, the text without it); ("", text) when it has none."""
    lines = help_text.splitlines()
    for i, line in enumerate(lines[:3]):
        if USAGE.match(line):
            return USAGE.sub("", line).strip(), "\n".join(lines[:i] + lines[i + 1:])
    return "", help_text


def commands_of(help_text):
    """The command names a CLI11 help lists under its "Subcommands:" heading."""
    names, inside = [], False
    for line in help_text.splitlines():
        if line.rstrip() == "Subcommands:":
            inside = True
            continue
        if inside:
            if not line.startswith("  ") or not line.strip():
                break
            if not line.startswith("   "):
                names.append(line.split()[0])
    return names


def without_footer(text, footer):
    """A command's help without the footer every command repeats from the overview."""
    text = text.rstrip()
    return text[:-len(footer)].rstrip() if footer and text.endswith(footer) else text


def synopsis(usage):
    if not usage:
        return []
    program, _, rest = usage.partition(" ")
    return [".SH SYNOPSIS", f"\\fB{escape(program)}\\fR {escape(rest)}"]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--name", required=True)
    parser.add_argument("--section", required=True)
    parser.add_argument("--summary", required=True)
    parser.add_argument("--version", required=True)
    parser.add_argument("--output", required=True)
    parser.add_argument("--commands", action="store_true")
    parser.add_argument("--see-also", action="append", default=[])
    parser.add_argument("program", nargs="+")
    args = parser.parse_args()

    title = "User Commands" if args.section == "1" else "System Administration"
    page = [f'.TH {args.name.upper()} {args.section} "" "Ostrel {args.version}" "{title}"',
            ".nh", ".ad l",
            ".SH NAME", f"{escape(args.name)} \\- {escape(args.summary)}"]
    if args.commands:
        overview = run_help(args.program, ["help"])
        usage, text = take_usage(overview)
        page += synopsis(usage) + [".SH DESCRIPTION"] + to_roff(text) + [".SH COMMANDS"]
        footer = overview.rstrip().split("\n\n")[-1]
        for command in commands_of(overview):
            text = run_help(args.program, ["help", command])
            page += [f'.SS "{escape(args.name + " " + command)}"'] + to_roff(without_footer(text, footer))
            for sub in commands_of(text):
                page += [f'.SS "{escape(" ".join([args.name, command, sub]))}"']
                page += to_roff(without_footer(run_help(args.program, ["help", command, sub]), footer))
    else:
        usage, text = take_usage(run_help(args.program, ["--help"]))
        page += synopsis(usage) + [".SH DESCRIPTION"] + to_roff(text)
    if args.see_also:
        page += [".SH SEE ALSO", ", ".join(f"\\fB{escape(p.split('(')[0])}\\fR({p.split('(')[1]}" for p in args.see_also)]
    with open(args.output + ".tmp", "w", encoding="utf-8") as f:
        f.write("\n".join(page) + "\n")
    os.replace(args.output + ".tmp", args.output)


if __name__ == "__main__":
    main()
