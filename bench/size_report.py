#!/usr/bin/env python3
"""Where the bytes of a PE exe go: headers, each section's contents and the
padding up to the file alignment, the DLLs it imports and what its resources take.

size_report.py <objdump> <out.json> <label>=<exe>... [--objects <dir>]

With --objects, also lists the largest function and data sections of the
object files under <dir> (built with -ffunction-sections -fdata-sections, so
each function and each constant is a section of its own)."""
import json
import os
import struct
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests"))
from check_exe import Image  # noqa: E402  (the PE reader of the exe check)

RESOURCE_KINDS = {24: "manifest", 16: "version information"}


def pe_layout(path):
    data = open(path, "rb").read()
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        raise SystemExit(f"{path}: not a PE file")
    sections_count = struct.unpack_from("<H", data, pe + 6)[0]
    optional_size = struct.unpack_from("<H", data, pe + 20)[0]
    optional = pe + 24
    file_alignment = struct.unpack_from("<I", data, optional + 36)[0]
    section_alignment = struct.unpack_from("<I", data, optional + 32)[0]
    headers_size = struct.unpack_from("<I", data, optional + 60)[0]
    table = optional + optional_size
    headers_used = table + 40 * sections_count
    sections = []
    for i in range(sections_count):
        entry = table + 40 * i
        name = data[entry:entry + 8].rstrip(b"\0").decode("ascii", "replace")
        virtual_size, _, raw_size, _ = struct.unpack_from("<IIII", data, entry + 8)
        used = min(virtual_size, raw_size) if raw_size else 0
        sections.append({
            "name": name,
            "contents": used,
            "file_bytes": raw_size,
            "padding": raw_size - used,
        })
    return {
        "bytes": len(data),
        "file_alignment": file_alignment,
        "section_alignment": section_alignment,
        "headers": {"contents": headers_used, "file_bytes": headers_size,
                    "padding": headers_size - headers_used},
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
        layout = pe_layout(path)
        image = Image(open(path, "rb").read())
        layout["imports"] = sorted(image.imports())
        layout["resources"] = {RESOURCE_KINDS.get(key[0], f"type {key[0]}"): len(value)
                               for key, value in image.resources().items()}
        report["exes"][label] = layout
    if objects:
        report["object_sections"] = object_sections(objdump, objects)[:40]
    json.dump(report, open(out, "w"), indent=1)


if __name__ == "__main__":
    main()
