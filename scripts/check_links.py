#!/usr/bin/env python3
"""Checks the relative links of README.md and docs/*.md: each link's file or
folder exists and, where the link names one, so does the #anchor (a heading
of a Markdown file, its anchor made as Git hosts make them). Links to other
hosts and links inside code are not checked. Prints each broken link as
FILE:LINE: TARGET: why, and exits 1 if there is any."""
import re
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
FENCE = re.compile(r"^ {0,3}(`{3,}|~{3,})")
CODE_SPAN = re.compile(r"(`+).*?\1")
LINK = re.compile(r"!?\[[^\]]*\]\(\s*<?([^)\s>]+)>?(?:\s+\"[^\"]*\")?\s*\)")
REFERENCE = re.compile(r"^ {0,3}\[[^\]]+\]:\s*<?(\S+?)>?(?:\s|$)")
HEADING = re.compile(r"^ {0,3}#{1,6}\s+(.*?)(?:\s+#+)?\s*$")


def prose_lines(text):
    """Yields (line number, line) for the lines outside fenced code, with code
    spans blanked out."""
    fence = None
    for number, line in enumerate(text.splitlines(), 1):
        opened = FENCE.match(line)
        if fence:
            if opened and opened.group(1)[0] == fence[0] and len(opened.group(1)) >= len(fence):
                fence = None
            continue
        if opened:
            fence = opened.group(1)
            continue
        yield number, CODE_SPAN.sub(lambda m: " " * len(m.group(0)), line)


def slug(heading):
    text = re.sub(r"`", "", heading).strip().lower()
    text = re.sub(r"\[([^\]]*)\]\([^)]*\)", r"\1", text)
    text = "".join(c for c in text if c.isalnum() or c in " -_")
    return text.replace(" ", "-")


def anchors(path, cache={}):
    if path not in cache:
        seen, found = {}, set()
        for _, line in prose_lines(path.read_text(encoding="utf-8")):
            heading = HEADING.match(line)
            if not heading:
                continue
            base = slug(heading.group(1))
            count = seen.get(base, 0)
            seen[base] = count + 1
            found.add(base if count == 0 else f"{base}-{count}")
        cache[path] = found
    return cache[path]


def problems(path):
    for number, line in prose_lines(path.read_text(encoding="utf-8")):
        targets = [m.group(1) for m in LINK.finditer(line)]
        reference = REFERENCE.match(line)
        if reference:
            targets.append(reference.group(1))
        for target in targets:
            if re.match(r"^[a-zA-Z][a-zA-Z0-9+.-]*:", target) or target.startswith("//"):
                continue  # another host, or mailto:
            file_part, _, anchor = target.partition("#")
            linked = (path.parent / file_part).resolve() if file_part else path
            where = f"{path.relative_to(ROOT)}:{number}: {target}"
            if not linked.exists():
                yield f"{where}: no such file"
            elif anchor and linked.suffix == ".md" and anchor not in anchors(linked):
                yield f"{where}: no heading makes #{anchor}"
            elif anchor and linked.suffix != ".md":
                yield f"{where}: an anchor into a file that is not Markdown"


def main():
    files = [ROOT / "README.md", *sorted((ROOT / "docs").glob("*.md"))]
    broken = [p for f in files for p in problems(f)]
    for p in broken:
        print(p)
    print(f"check_links: {len(files)} files, {len(broken)} broken links")
    return 1 if broken else 0


if __name__ == "__main__":
    sys.exit(main())
