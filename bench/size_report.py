#!/usr/bin/env python3
"""Where the bytes of a PE exe go: headers, each section's contents and the
padding up to the file alignment, the DLLs it imports and what its resources take.

size_report.py <objdump> <out.json> <label>=<exe>... [--objects <dir>]

With --objects, also lists the largest function and data sections of the
object files under <dir> (built with -ffunction-sections -fdata-sections, so
each function and each constant is a section of its own)."""
import json
import math
import os
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests"))
from check_exe import Image  # noqa: E402  (the PE reader of the exe check)

RESOURCE_KINDS = {24: "manifest", 16: "version information"}


def pe_layout(image):
    """Headers and sections of the image, each as contents, bytes in the file and padding."""
    placed = [s for s in image.sections if s[3]]
    headers_bytes = min(s[4] for s in placed)
    # The headers end with the section table; zeros after it are padding.
    headers_used = len(image.data[:headers_bytes].rstrip(b"\0"))
    sections = []
    for name, virtual_size, _, raw_size, _ in image.sections:
        used = min(virtual_size, raw_size) if raw_size else 0
        sections.append({
            "name": name.rstrip(b"\0").decode("ascii", "replace"),
            "contents": used,
            "file_bytes": raw_size,
            "padding": raw_size - used,
        })
    return {
        "bytes": len(image.data),
        # Every part of the file starts at, and fills, a multiple of this.
        "alignment": math.gcd(headers_bytes, *(n for s in placed for n in (s[3], s[4]))),
        "headers": {"contents": headers_used, "file_bytes": headers_bytes,
                    "padding": headers_bytes - headers_used},
        "sections": sections,
    }


def object_sections(objdump, directory):
    found = []
    for base, _, files in os.walk(directory):
        for name in files:
            if not name.endswith((".obj", ".o")):
                continue
            dump = subprocess.run([objdump, "-h", os.path.join(base, name)], check=True,
                                  capture_output=True, text=True).stdout
            for line in dump.splitlines():
                parts = line.split()
                if len(parts) >= 3 and parts[0].isdigit():
                    size = int(parts[2], 16)
                    if size and not parts[1].startswith((".debug", ".rdata$zzz")):
                        found.append({"object": name, "section": parts[1], "bytes": size})
    found.sort(key=lambda s: -s["bytes"])
    return found


def main():
    args = sys.argv[1:]
    objdump, out = args[0], args[1]
    objects = None
    if "--objects" in args:
        at = args.index("--objects")
        objects = args[at + 1]
        args = args[:at] + args[at + 2:]
    report = {"exes": {}}
    for item in args[2:]:
        label, path = item.split("=", 1)
        image = Image(open(path, "rb").read())
        layout = pe_layout(image)
        layout["imports"] = sorted(image.imports())
        layout["resources"] = {RESOURCE_KINDS.get(key[0], f"type {key[0]}"): len(value)
                               for key, value in image.resources().items()}
        report["exes"][label] = layout
    if objects:
        report["object_sections"] = object_sections(objdump, objects)[:40]
    json.dump(report, open(out, "w"), indent=1)


if __name__ == "__main__":
    main()
