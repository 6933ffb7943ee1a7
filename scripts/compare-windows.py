#!/usr/bin/env python3
"""Runs the Linux tromel-check and the Windows tromel-check.exe (under Wine) on the same configs and
compares what they print: standard output, standard error and exit status.

Every config alone, all of them at once, --format json, --audit and --audit --format json must be
byte for byte the same. The paths the program builds (a folder's files, the files that exec runs)
carry the system's separator, so where those appear the outputs may differ in that separator only.
A run that differs is run once more, since Wine now and then ends a program before it starts; a
difference that shows twice fails, and is shown with its statuses and first differing line.

    python3 scripts/compare-windows.py [--linux PATH] [--windows PATH] [--configs DIR] [--list PATH]
"""

import argparse
import os
import subprocess
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent


def parse_args():
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("--linux", default=ROOT / "build/ci/bin/tromel-check", type=Path)
    p.add_argument("--windows", default=ROOT / "build/windows/bin/tromel-check.exe", type=Path)
    p.add_argument("--configs", default=ROOT.parent / "shared/realworld/cfg", type=Path)
    p.add_argument("--list", default=ROOT / "resources/cvars.ini", type=Path)
    return p.parse_args()


def wine_environment(exe):
    # The prefix of the Windows build's tests, so that nothing lands in HOME.
    wine = exe.parent.parent / "wine"
    env = dict(os.environ)
    env.update(WINEPREFIX=str(wine / "prefix"), HOME=str(wine / "home"), WINEDEBUG="-all",
               WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree,mshtml=")
    return env


def run(command, cwd, env=None):
    r = subprocess.run(command, cwd=cwd, env=env, capture_output=True, timeout=300)
    return r.returncode, r.stdout, r.stderr


def separators_only(linux, windows):
    """True when the two differ at most in path separators, printed or escaped in JSON. Both read
    the same bytes, so a backslash from a config is in both and cannot hide a difference."""

    def slashes(text):
        return text.replace(b"\\\\", b"/").replace(b"\\", b"/")

    return slashes(linux) == slashes(windows)


def verdict(linux, windows):
    if linux == windows:
        return "same"
    if linux[0] == windows[0] and all(map(separators_only, linux[1:], windows[1:])):
        return "separators"
    return None


def describe(linux, windows):
    """What a difference looks like: statuses, sizes, and the first line that differs."""
    lines = [f"status {linux[0]} on Linux, {windows[0]} on Windows"]
    for name, a, b in (("stdout", linux[1], windows[1]), ("stderr", linux[2], windows[2])):
        if a == b:
            continue
        la, lb = a.splitlines(), b.splitlines()
        i = next((i for i, (x, y) in enumerate(zip(la, lb)) if x != y), min(len(la), len(lb)))
        first = lambda ls: ls[i][:120] if i < len(ls) else b"(end)"
        lines.append(f"{name}: {len(a)} and {len(b)} bytes; line {i + 1}: {first(la)!r} and {first(lb)!r}")
    return lines


def main():
    args = parse_args()
    for exe in (args.linux, args.windows):
        if not exe.exists():
            sys.exit(f"{exe} is missing: build the ci and windows presets first")
    configs = args.configs.resolve()
    base = configs.parent
    files = sorted(str(p.relative_to(base)) for p in configs.rglob("*") if p.is_file())
    top = configs.name
    listing = ["--list", str(args.list.resolve())]  # typed the same for both, so printed the same

    cases = []
    for f in files:
        cases += [("one file", [f]), ("one file, audit", ["--audit", f])]
    cases += [
        ("several files", files),
        ("several files, json", ["--format", "json"] + files),
        ("several files, audit", ["--audit"] + files),
        ("several files, audit json", ["--audit", "--format", "json"] + files),
        ("folder", [top]),
        ("folder, json", ["--format", "json", top]),
        ("folder, audit", ["--audit", top]),
    ]
    env = wine_environment(args.windows.resolve())
    # A server and Wine's own services that outlive each run, as in the tests. Otherwise each run
    # starts them, they hold its output pipes open until the server quits, and a run takes seconds
    # while the last run's server shuts down.
    quiet = dict(env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    subprocess.run(["wineserver", "-p30"], check=False, **quiet)
    subprocess.run(["wine", "wineboot.exe"], check=False, timeout=300, **quiet)
    counts = {"same": 0, "separators": 0}
    failures, reruns = [], []
    for label, case in cases:
        name = f"{label}: {' '.join(case[:3])}{' ...' if len(case) > 3 else ''}"
        # Now and then Wine ends a program before it starts; a real difference shows twice.
        for attempt in (1, 2):
            linux = run([str(args.linux.resolve())] + listing + case, base)
            windows = run(["wine", str(args.windows.resolve())] + listing + case, base, env)
            v = verdict(linux, windows)
            if v or attempt == 2:
                break
            reruns.append([name] + describe(linux, windows))
        if v:
            counts[v] += 1
        else:
            failures.append([name] + describe(linux, windows))
    print(f"{len(cases)} runs over {len(files)} configs in {configs}:")
    print(f"  {counts['same']} byte for byte the same")
    print(f"  {counts['separators']} the same but for the separator in paths the program built")
    print(f"  {len(failures)} different")
    for what in failures:
        print("    " + "\n      ".join(what))
    if reruns:
        print(f"  {len(reruns)} of them differed at first and agreed when run again:")
        for what in reruns:
            print("    " + "\n      ".join(what))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
