#!/usr/bin/env python3
"""Applies small faults to the source one at a time and reports those that no
test catches.

    scripts/mutate.py [--list scripts/mutations.txt] [--only SUBSTRING] [--keep DIR]

The tree is copied once into a scratch folder (outside the work tree) and
built there; each mutation edits one file of the copy, rebuilds the test
executable it names, runs it, and puts the file back. A mutation is killed when
the executable fails (or times out), survives when it passes, and is reported
as not compiled when the build fails (a fault the compiler already catches).

The list holds one mutation per block:

    @ FILE TEST_EXECUTABLE [GTEST_FILTER]
    - text of the original (exactly one occurrence in FILE)
    + text that replaces it
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


class Mutation:
    def __init__(self, line_no, path, target, test_filter):
        self.line_no = line_no
        self.path = path
        self.target = target
        self.test_filter = test_filter
        self.original = None
        self.replacement = None

    def name(self):
        return f"{self.path}: '{self.original.strip()}' -> '{self.replacement.strip()}'"


def read_list(path):
    mutations = []
    with open(path) as f:
        for n, raw in enumerate(f, 1):
            line = raw.rstrip("\n")
            if not line.strip() or line.startswith("#"):
                continue
            if line.startswith("@ "):
                fields = line[2:].split()
                if len(fields) not in (2, 3):
                    sys.exit(f"{path}:{n}: expected '@ FILE TEST_EXECUTABLE [GTEST_FILTER]'")
                mutations.append(Mutation(n, fields[0], fields[1], fields[2] if len(fields) == 3 else None))
            elif line.startswith("- ") and mutations and mutations[-1].original is None:
                mutations[-1].original = line[2:]
            elif line.startswith("+ ") and mutations and mutations[-1].original is not None:
                mutations[-1].replacement = line[2:]
            else:
                sys.exit(f"{path}:{n}: expected '@', '- ' or '+ ' line")
    for m in mutations:
        if m.original is None or m.replacement is None:
            sys.exit(f"{path}:{m.line_no}: mutation without '-' and '+' lines")
    return mutations


def copy_tree(dest):
    files = subprocess.run(["git", "-C", ROOT, "ls-files", "-z", "--cached", "--others", "--exclude-standard"],
                           check=True, capture_output=True).stdout.split(b"\0")
    for rel in filter(None, files):
        rel = rel.decode()
        src = os.path.join(ROOT, rel)
        if not os.path.isfile(src):
            continue
        os.makedirs(os.path.dirname(os.path.join(dest, rel)), exist_ok=True)
        shutil.copy2(src, os.path.join(dest, rel))


def run(cmd, cwd=None, timeout=None):
    try:
        return subprocess.run(cmd, cwd=cwd, capture_output=True, timeout=timeout).returncode
    except subprocess.TimeoutExpired:
        return "timeout"


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--list", default=os.path.join(ROOT, "scripts", "mutations.txt"))
    ap.add_argument("--only", help="run only mutations whose file contains this text")
    ap.add_argument("--keep", help="scratch folder to use and keep (default: a temporary one)")
    ap.add_argument("--timeout", type=int, default=300, help="seconds a test run may take")
    args = ap.parse_args()

    mutations = read_list(args.list)
    if args.only:
        mutations = [m for m in mutations if args.only in m.path]
    scratch = args.keep or tempfile.mkdtemp(prefix="orb-mutate-")
    src, build = os.path.join(scratch, "src"), os.path.join(scratch, "build")
    shutil.rmtree(src, ignore_errors=True)
    copy_tree(src)

    # Every mutation must apply to the current source before anything is built.
    for m in mutations:
        with open(os.path.join(src, m.path)) as f:
            count = f.read().count(m.original)
        if count != 1:
            sys.exit(f"{args.list}:{m.line_no}: '{m.original}' occurs {count} times in {m.path}")

    env_launcher = ["-DCMAKE_CXX_COMPILER_LAUNCHER=ccache"] if shutil.which("ccache") else []
    if run(["cmake", "-S", src, "-B", build, "-DCMAKE_BUILD_TYPE=RelWithDebInfo", "-DORB_BUILD_BENCH=OFF",
            "-DORB_BUILD_APP=OFF", *env_launcher]) != 0:
        sys.exit("mutate: configuring the scratch copy failed")
    targets = sorted({m.target for m in mutations})
    jobs = str(os.cpu_count() or 2)
    if run(["cmake", "--build", build, "-j", jobs, "--target", *targets]) != 0:
        sys.exit("mutate: the unmutated scratch copy does not build")

    def test(m):
        cmd = [os.path.join(build, "tests", m.target), "--gtest_brief=1"]
        if m.test_filter:
            cmd.append(f"--gtest_filter={m.test_filter}")
        return run(cmd, cwd=build, timeout=args.timeout)

    for target in targets:
        if run([os.path.join(build, "tests", target), "--gtest_brief=1"], cwd=build, timeout=args.timeout) != 0:
            sys.exit(f"mutate: {target} fails without any mutation")

    killed, survived, uncompiled = [], [], []
    for i, m in enumerate(mutations, 1):
        path = os.path.join(src, m.path)
        with open(path) as f:
            text = f.read()
        started = time.time()
        try:
            with open(path, "w") as f:
                f.write(text.replace(m.original, m.replacement))
            if run(["cmake", "--build", build, "-j", jobs, "--target", m.target]) != 0:
                outcome, bucket = "not compiled", uncompiled
            elif test(m) == 0:
                outcome, bucket = "SURVIVED", survived
            else:
                outcome, bucket = "killed", killed
        finally:
            with open(path, "w") as f:
                f.write(text)
        bucket.append(m)
        print(f"[{i}/{len(mutations)}] {outcome:12} {time.time() - started:5.0f} s  {m.name()}", flush=True)

    judged = len(killed) + len(survived)
    print(f"\n{len(killed)} killed, {len(survived)} survived, {len(uncompiled)} not compiled"
          f" ({100 * len(killed) / max(judged, 1):.0f} % of the compiled mutations killed)")
    for m in survived:
        print(f"survivor: {m.name()}  ({args.list}:{m.line_no})")
    if not args.keep:
        shutil.rmtree(scratch, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
