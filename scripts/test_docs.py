#!/usr/bin/env python3
"""Runs the commands that the guides show (README.md, docs/*.md and
docs/course/*.md) against a built tree, and checks the output they show.

    python3 scripts/test_docs.py [BUILD_DIR]

BUILD_DIR (also taken from the environment; default build/) holds quern, cgi
and explain.

Every fenced block says what it is by its info string; a block without one
fails. A block tagged sh, bash, shell or console holds commands:

- If lines start with "$ ", it is a transcript: each such line is a command,
  run by a bash of its own (a line ending in "\\" goes on to the next), and
  the lines up to the next "$ " are what the command prints, its standard
  output then its standard error. A line "..." alone (not indented) stands
  for any lines, "..." in a line with other text for any text. A command
  shown without output must exit 0; one shown with output is judged by that
  output alone (a compiler's report comes with exit status 1). A
  "$ cat NAME" shown with output makes the file NAME of those lines, for
  that block and the guide's later ones.
- Otherwise bash runs the block as a script, with -e and pipefail; it must
  exit 0.

Any other block is data. HTML comments on the lines just before a fence mark
it:

    <!-- not run: REASON -->    the commands are not run here; says why
    <!-- needs: TOOL ... -->    the commands need programs beyond the build
                                (dot, curl); without them the block is not
                                run. Commands that name a program of EXTRA
                                without this mark fail: the guide must say.
    <!-- file: PATH -->         this data block is the file PATH, written for
                                the guide's later command blocks
    <!-- output of: COMMAND --> this data block is lines, in a row, of what
                                COMMAND prints (run as a transcript's command)

Each command block runs in a fresh temporary directory that holds build/
(links to BUILD_DIR's entries), links to the repository's other top-level
entries, a copy of docs/ and the guide's files so far; BUILD_DIR comes first
on the PATH. A block that runs writes only there: what would write through
the links (building the site, serving) is marked not run. Prints a line per
block that runs or is not run, and ends with "N passed, M failed"; exits 1
on a failure, 2 on bad use.
"""
import difflib
import os
import re
import shutil
import subprocess
import sys
import tempfile
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
FENCE = re.compile(r"^( {0,3})(`{3,}|~{3,})(.*)$")
MARK = re.compile(r"^\s*<!--\s*(not run|needs|file|output of):\s*(.*?)\s*-->\s*$")
COMMENT = re.compile(r"^\s*<!--.*-->\s*$")
SHELL = {"sh", "bash", "shell", "console"}
# Programs a guide's commands may use that the build does not bring, each
# with the Debian package that has it.
EXTRA = {"dot": "graphviz", "curl": "curl", "nvim": "neovim", "node": "nodejs", "npm": "npm"}
TIMEOUT = 30


class Block:
    def __init__(self, guide, line, info, text, marks):
        self.guide, self.line, self.info, self.text, self.marks = guide, line, info, text, marks

    @property
    def where(self):
        return f"{self.guide}:{self.line}"

    @property
    def shell(self):
        return self.info.split()[0] in SHELL if self.info else False


def blocks(path, name):
    """The fenced blocks of a Markdown file, each with the marks above it."""
    lines = path.read_text(encoding="utf-8").split("\n")
    i = 0
    while i < len(lines):
        opened = FENCE.match(lines[i])
        if not opened:
            i += 1
            continue
        indent, fence, info = len(opened.group(1)), opened.group(2), opened.group(3).strip()
        marks, k = [], i - 1
        while k >= 0 and (not lines[k].strip() or COMMENT.match(lines[k])):
            mark = MARK.match(lines[k])
            if mark:
                marks.append((mark.group(1), mark.group(2)))
            k -= 1
        body, j = [], i + 1
        while j < len(lines):
            closing = FENCE.match(lines[j])
            if closing and closing.group(2)[0] == fence[0] and len(closing.group(2)) >= len(fence) \
                    and not closing.group(3).strip():
                break
            line = lines[j]
            body.append(line[min(indent, len(line) - len(line.lstrip(" "))):])
            j += 1
        yield Block(name, i + 1, info, "\n".join(body), dict(reversed(marks)))
        i = j + 1


def transcript(text):
    """(command, expected output lines) pairs of a transcript."""
    steps, command = [], None
    for line in text.split("\n"):
        if command is not None and command.endswith("\\"):
            command += "\n" + line
            steps[-1] = (command, [])
        elif line.startswith("$ "):
            command = line[2:]
            steps.append((command, []))
        elif steps:
            steps[-1][1].append(line)
    return steps


def cat_file(command, output):
    """The file that a "$ cat NAME" shown with its lines makes, or None."""
    words = command.split()
    if len(words) == 2 and words[0] == "cat" and re.fullmatch(r"[\w./-]+", words[1]) and output:
        return words[1], "\n".join(output) + "\n"
    return None


def matches(expected, actual):
    """Whether actual lines fit expected ones, "..." standing for any lines
    alone and for any text within a line."""
    def line_fits(e, a):
        if "..." not in e:
            return e == a
        return re.fullmatch(".*".join(re.escape(p) for p in e.split("...")), a, re.S) is not None

    seen = {}

    def fit(i, j):
        if (i, j) not in seen:
            if i == len(expected):
                seen[i, j] = j == len(actual)
            elif expected[i] == "...":
                seen[i, j] = any(fit(i + 1, k) for k in range(j, len(actual) + 1))
            else:
                seen[i, j] = j < len(actual) and line_fits(expected[i], actual[j]) and fit(i + 1, j + 1)
        return seen[i, j]

    return fit(0, 0)


def trimmed(lines):
    lines = [line.rstrip() for line in lines]
    while lines and not lines[-1]:
        lines.pop()
    return lines


class Stage:
    def __init__(self, build):
        self.build = build
        self.passed = self.failed = self.skipped = 0

    def workspace(self, files):
        """A fresh directory laid out as the repository with the build."""
        top = Path(tempfile.mkdtemp(prefix="quern-docs-"))
        for entry in ROOT.iterdir():
            if entry.name in {"build", ".git", "docs"}:
                continue
            (top / entry.name).symlink_to(entry)
        shutil.copytree(ROOT / "docs", top / "docs")
        (top / "build").mkdir()
        for entry in self.build.iterdir():
            (top / "build" / entry.name).symlink_to(entry)
        for name, text in files.items():
            path = top / name
            path.parent.mkdir(parents=True, exist_ok=True)
            path.write_text(text, encoding="utf-8")
        return top

    def run(self, command, cwd, script=False):
        env = dict(os.environ, PATH=f"{self.build}{os.pathsep}{os.environ.get('PATH', '')}",
                   HOME=str(cwd), LC_ALL="C.UTF-8")
        argv = ["bash", "-e", "-o", "pipefail", "-c", command] if script else ["bash", "-c", command]
        try:
            done = subprocess.run(argv, cwd=cwd, env=env, stdin=subprocess.DEVNULL,
                                  capture_output=True, timeout=TIMEOUT)
        except subprocess.TimeoutExpired:
            return None, [f"(still running after {TIMEOUT} s)"]
        lines = [line for stream in (done.stdout, done.stderr) if stream
                 for line in stream.decode("utf-8", "replace").removesuffix("\n").split("\n")]
        return done.returncode, lines

    def check(self, command, expected, cwd):
        """What is wrong with a command's run, or None."""
        status, output = self.run(command, cwd)
        expected, output = trimmed(expected), trimmed(output)
        if status is None:
            return "does not end", output
        if expected:
            if matches(expected, output):
                return None
            shown = [line for line in expected if line != "..."]
            diff = difflib.unified_diff(shown, output, "shown", "printed", lineterm="", n=1)
            return "prints other output", list(diff)[2:]
        if status != 0:
            return f"exits with status {status}", output[-10:]
        return None

    def report(self, block, problem):
        if problem is None:
            self.passed += 1
            print(f"passed: {block.where}")
            return
        self.failed += 1
        why, detail = problem if isinstance(problem, tuple) else (problem, [])
        print(f"FAILED: {block.where}: {why}")
        for line in detail[:30]:
            print(f"    {line}")

    def guide(self, path, name):
        files = {}
        for block in blocks(path, name):
            if not block.info:
                self.report(block, "a fenced block without an info string: say what it holds "
                                   "(sh or console for commands, text, c, json, ...)")
                continue
            if "file" in block.marks:
                files[block.marks["file"]] = block.text + "\n"
                continue
            if "output of" in block.marks:
                top = self.workspace(files)
                try:
                    problem = self.check(block.marks["output of"], ["..."] + block.text.split("\n") + ["..."], top)
                finally:
                    shutil.rmtree(top)
                self.report(block, problem and (f"{block.marks['output of']}: {problem[0]}", problem[1]))
                continue
            if not block.shell:
                continue
            steps = transcript(block.text)
            commands = [c for c, _ in steps] if steps else [block.text]
            for c, output in steps:
                made = cat_file(c, output)
                if made:
                    files[made[0]] = made[1]
            code = [re.sub(r"(^|\s)#.*", "", c, flags=re.M) for c in commands]  # comments dropped
            used = {tool for tool in EXTRA for c in code
                    if re.search(rf"(^|[\s|;&(]){re.escape(tool)}(\s|$)", c, re.M)}
            said = set(block.marks.get("needs", "").split())
            if used - said:
                tool = sorted(used - said)[0]
                self.report(block, f"uses {tool} (Debian's {EXTRA[tool]}) without saying so: "
                                   f"mark it <!-- needs: {tool} --> and say it in the guide")
                continue
            if "not run" in block.marks:
                self.skipped += 1
                print(f"not run: {block.where}: {block.marks['not run']}")
                continue
            missing = [tool for tool in sorted(said) if shutil.which(tool) is None]
            if missing:
                self.skipped += 1
                print(f"not run: {block.where}: needs {', '.join(missing)}")
                continue
            top = self.workspace(files)
            try:
                if steps:
                    problem = None
                    for c, output in steps:
                        problem = self.check(c, output, top)
                        if problem:
                            problem = (f"$ {c.splitlines()[0]}: {problem[0]}", problem[1])
                            break
                else:
                    status, output = self.run(block.text, top, script=True)
                    problem = None if status == 0 else (
                        "does not end" if status is None else f"exits with status {status}", trimmed(output)[-10:])
            finally:
                shutil.rmtree(top)
            self.report(block, problem)


def main():
    args = sys.argv[1:]
    if len(args) > 1 or (args and args[0].startswith("-")):
        print("usage: test_docs.py [BUILD_DIR]", file=sys.stderr)
        return 2
    build = Path(args[0] if args else os.environ.get("BUILD_DIR") or ROOT / "build").resolve()
    absent = [p for p in ("quern", "cgi", "explain") if not os.access(build / p, os.X_OK)]
    if absent:
        print(f"test_docs.py: {build} has no {', '.join(absent)}: build it first", file=sys.stderr)
        return 2
    stage = Stage(build)
    guides = [ROOT / "README.md", *sorted((ROOT / "docs").glob("*.md")), *sorted((ROOT / "docs/course").glob("*.md"))]
    for path in guides:
        stage.guide(path, str(path.relative_to(ROOT)))
    print(f"{stage.skipped} blocks not run")
    print(f"{stage.passed} passed, {stage.failed} failed")
    return 1 if stage.failed else 0


if __name__ == "__main__":
    sys.exit(main())
