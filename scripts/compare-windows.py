#!/usr/bin/env python3
"""Runs the Linux tromel-check and the Windows tromel-check.exe (under Wine) on the same configs and
compares what they print: standard output, standard error and exit status.

Every config alone, all of them at once, --format json, --audit and --audit --format json must be
byte for byte the same. The paths the program builds (a folder's files, the files that exec runs)
carry the system's separator, so where those appear the outputs may differ in that separator only.

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
               WINEDLLOVERRIDES="winemenubuilder.exe=d")
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
    # A server that outlives each run, as in the tests: each run then takes a tenth of a second.
    subprocess.run(["wineserver", "-p30"], env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, check=False)
    same = separators = 0
    failures = []
    for label, case in cases:
        linux = run([str(args.linux.resolve())] + listing + case, base)
        windows = run(["wine", str(args.windows.resolve())] + listing + case, base, env)
        if linux == windows:
            same += 1
        elif linux[0] == windows[0] and all(map(separators_only, linux[1:], windows[1:])):
            separators += 1
        else:
            failures.append(f"{label}: {' '.join(case[:3])}{' ...' if len(case) > 3 else ''}")
    print(f"{len(cases)} runs over {len(files)} configs in {configs}:")
    print(f"  {same} byte for byte the same")
    print(f"  {separators} the same but for the separator in paths the program built")
    print(f"  {len(failures)} different")
    for f in failures:
        print("    " + f)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
