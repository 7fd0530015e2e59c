#!/usr/bin/env python3
"""Checks every relative link and anchor of Markdown files as GitHub resolves them: the
linked file must exist, and an anchor must name a heading of the file it points into.
Usage: check_links.py <file.md>..."""
import re
import sys
from pathlib import Path


def without_fences(text: str) -> str:
    return re.sub(r"^```.*?^```", "", text, flags=re.S | re.M)


def slug(heading: str) -> str:
    """GitHub's anchor for a heading: lower case, punctuation dropped, spaces to hyphens."""
    return re.sub(r"[^\w\- ]", "", heading.strip().lower()).replace(" ", "-")


def anchors(path: Path) -> set[str]:
    found: set[str] = set()
    for heading in re.findall(r"^#{1,6} +(.+)$", without_fences(path.read_text("utf-8")), re.M):
        base = anchor = slug(heading)
        while anchor in found:  # repeats get -1, -2, ...
            anchor = f"{base}-{sum(a.startswith(base) for a in found)}"
        found.add(anchor)
    return found


def broken_links(path: Path) -> list[str]:
    text = re.sub(r"`[^`\n]*`", "", without_fences(path.read_text("utf-8")))
    broken = []
    for target in re.findall(r"\]\(([^)\s]+)\)", text):
        if re.match(r"[a-z]+:", target):
            continue  # the web, checked by nobody here
        file, _, anchor = target.partition("#")
        linked = (path.parent / file).resolve() if file else path
        if not linked.exists():
            broken.append(f"{path}: {target}: no file {linked}")
        elif anchor and linked.suffix == ".md" and anchor not in anchors(linked):
            broken.append(f"{path}: {target}: no heading with the anchor #{anchor}")
    return broken


def main() -> int:
    broken = [line for name in sys.argv[1:] for line in broken_links(Path(name))]
    print("\n".join(broken) or f"{len(sys.argv) - 1} files, every link resolves")
    return 1 if broken else 0


if __name__ == "__main__":
    sys.exit(main())
