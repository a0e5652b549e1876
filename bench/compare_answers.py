#!/usr/bin/env python3
"""Checks that two builds answer byte for byte alike.

    bench/compare_answers.py [--count N] [--seed S] [--jobs J] [--keep DIR] BUILD_A BUILD_B

BUILD_A and BUILD_B are folders that hold a `cgi` and a `quern` (a build
folder, or one that bench/build_baseline.sh kept). Every body is sent to
both: to the cgi as a web server sends it (the body on standard input,
CONTENT_TYPE and CONTENT_LENGTH set, nothing else in the environment), whose
whole answer and exit status must match, and to `quern --explain FILE`, whose
standard output, standard error and exit status must match. The bodies are
every extreme shape at several sizes and the typical body (written by
BUILD_A's bench/proc_bench, or the one given by --proc-bench), each shape
cut short, with bytes that are not UTF-8 and with a stray token inserted,
then N
generated ones (bench/gen_bodies.py, from the seed). Prints how many bodies
matched; on the first mismatch, prints the body's path and a diff of the two
answers and exits with status 1 (the bodies are kept then).
"""
import argparse
import concurrent.futures
import difflib
import os
import random
import shutil
import subprocess
import sys
import tempfile
import time

sys.dont_write_bytecode = True  # no __pycache__ beside the sources
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import gen_bodies  # noqa: E402

SHAPE_SIZES = [100, 1000, 4096, 32767, 65535]
CONTENT_TYPE = "text/plain; charset=UTF-8"


def answers(build, path, size):
    """The cgi's answer and quern --explain's for the body in path."""
    with open(path, "rb") as body:
        cgi = subprocess.run([os.path.join(build, "cgi")], stdin=body, capture_output=True,
                             env={"CONTENT_TYPE": CONTENT_TYPE, "CONTENT_LENGTH": str(size)})
    explain = subprocess.run([os.path.join(build, "quern"), "--explain", path],
                             stdin=subprocess.DEVNULL, capture_output=True, env={})
    return [("cgi: exit status", str(cgi.returncode).encode()), ("cgi: answer", cgi.stdout),
            ("cgi: standard error", cgi.stderr),
            ("quern --explain: exit status", str(explain.returncode).encode()),
            ("quern --explain: standard output", explain.stdout),
            ("quern --explain: standard error", explain.stderr)]


def compare(builds, path):
    """None when both builds answer alike, else a description with a diff."""
    size = os.path.getsize(path)
    a, b = (answers(build, path, size) for build in builds)
    for (what, mine), (_, theirs) in zip(a, b):
        if mine == theirs:
            continue
        at = next((i for i, (x, y) in enumerate(zip(mine, theirs)) if x != y),
                  min(len(mine), len(theirs)))
        # Both texts around the first difference, then a diff of the lines
        # when there are several (an explanation is one line of JSON).
        start = max(0, at - 80)
        excerpt = [f"  {name}: ...{text[start:at + 160].decode(errors='replace')!r}..."
                   for name, text in zip(builds, (mine, theirs))]
        diff = difflib.unified_diff(
            mine.decode(errors="replace").splitlines(), theirs.decode(errors="replace").splitlines(),
            builds[0], builds[1], lineterm="", n=2)
        lines = [line[:200] for _, line in zip(range(40), diff)] if mine.count(b"\n") > 1 else []
        return "\n".join([f"{path}: {what} differs from byte {at} on ({len(mine)} and "
                          f"{len(theirs)} bytes)"] + excerpt + lines)
    return None


def write_bodies(folder, proc_bench, count, seed):
    """Writes every body to compare into folder; returns their paths."""
    paths = []
    names = subprocess.run([proc_bench, "--list-bodies"], check=True, capture_output=True,
                           text=True).stdout.split()
    for name in names:
        for size in [None] if name == "typical" else SHAPE_SIZES:
            path = os.path.join(folder, f"shape-{name}-{size or 'typical'}.q")
            args = [proc_bench, "--print-body", name] + (["--body-size", str(size)] if size else [])
            text = subprocess.run(args, check=True, capture_output=True).stdout
            with open(path, "wb") as out:
                out.write(text)
            paths.append(path)
            # Each shape spoiled too, at half the largest size (a spoiled
            # body may grow): cut, not UTF-8, a stray token.
            for kind in range(3) if size == SHAPE_SIZES[-2] else []:
                spoiled = gen_bodies.spoil_text(random.Random(f"{seed}:{name}:{kind}"), text, kind)
                path = os.path.join(folder, f"shape-{name}-{size}-spoiled{kind}.q")
                with open(path, "wb") as out:
                    out.write(spoiled)
                paths.append(path)
    for index in range(count):
        path = os.path.join(folder, f"gen-{index:05d}.q")
        with open(path, "wb") as out:
            out.write(gen_bodies.body(seed, index))
        paths.append(path)
    return paths


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--count", type=int, default=5000, help="generated bodies (default 5000)")
    parser.add_argument("--seed", default="1", help="the generator's seed (default 1)")
    parser.add_argument("--jobs", type=int, default=2, help="bodies compared at once (default 2)")
    parser.add_argument("--proc-bench", help="writes the shapes (default BUILD_A/bench/proc_bench)")
    parser.add_argument("--keep", help="write the bodies to this folder and keep them")
    parser.add_argument("builds", nargs=2, metavar="BUILD")
    args = parser.parse_args()
    builds = [os.path.abspath(build) for build in args.builds]
    for build in builds:
        for program in ("cgi", "quern"):
            if not os.access(os.path.join(build, program), os.X_OK):
                parser.error(f"no {program} in {build}")
    proc_bench = args.proc_bench or os.path.join(builds[0], "bench", "proc_bench")

    started = time.monotonic()
    folder = args.keep or tempfile.mkdtemp(prefix="quern-compare-")
    os.makedirs(folder, exist_ok=True)
    paths = write_bodies(folder, proc_bench, args.count, args.seed)
    matched = 0
    mismatch = None
    with concurrent.futures.ThreadPoolExecutor(args.jobs) as pool:
        futures = [pool.submit(compare, builds, path) for path in paths]
        for future in futures:
            mismatch = future.result()
            if mismatch:
                pool.shutdown(cancel_futures=True)
                break
            matched += 1
    print(f"{matched} of {len(paths)} bodies answered alike ({len(paths) - args.count} shapes, "
          f"sizes and spoiled shapes, {args.count} generated with seed {args.seed}) in "
          f"{time.monotonic() - started:.1f} s")
    if mismatch:
        print(f"MISMATCH (the bodies are kept in {folder}):\n{mismatch}")
        return 1
    if not args.keep:
        shutil.rmtree(folder)
    return 0


if __name__ == "__main__":
    sys.exit(main())
