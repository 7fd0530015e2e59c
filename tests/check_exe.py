#!/usr/bin/env python3
"""Checks what Windows reads from kelvor.exe besides its code.

    check_exe.py <exe> --license LICENSE --imports KERNEL32.dll[,...] [--compiler GNU]

No Windows machine tells us when these are wrong, and Wine forgives most of it:
- at most SIZE_LIMIT bytes, unless built by Clang, whose larger exe is only measured;
- a PE32 Windows GUI program for i386 with ASLR (and its relocations), DEP,
  Terminal Server awareness and no SEH handlers, importing exactly the DLLs named;
- one manifest (type 24, id 1): well-formed XML with its own assemblyIdentity,
  no repeated element (Windows refuses to start an exe with either fault), and
  the settings kelvor relies on;
- a version resource whose numbers and strings match the release and LICENSE.
The release number is the tests' own, from tests/data/facts.def.
Exit code 0 when everything holds; otherwise each fault is printed and it is 1.
"""

import argparse
import struct
import sys
import xml.etree.ElementTree as ET

from textdata import facts

ASM_V1 = "{urn:schemas-microsoft-com:asm.v1}"
ASM_V3 = "{urn:schemas-microsoft-com:asm.v3}"
COMPAT = "{urn:schemas-microsoft-com:compatibility.v1}"
WS2005 = "{http://schemas.microsoft.com/SMI/2005/WindowsSettings}"
WS2016 = "{http://schemas.microsoft.com/SMI/2016/WindowsSettings}"
WS2019 = "{http://schemas.microsoft.com/SMI/2019/WindowsSettings}"

SUPPORTED_OS = {  # Vista, 7, 8, 8.1, 10 and 11
    "{e2011457-1546-43c5-a5fe-008deee3d3f0}", "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",
    "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}", "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",
    "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"}

# Element path below <assembly>, attribute (None: the text) and the value it must have.
MANIFEST_SETTINGS = [
    (f"{ASM_V3}trustInfo/{ASM_V3}security/{ASM_V3}requestedPrivileges/"
     f"{ASM_V3}requestedExecutionLevel", "level", "asInvoker"),
    (f"{ASM_V3}trustInfo/{ASM_V3}security/{ASM_V3}requestedPrivileges/"
     f"{ASM_V3}requestedExecutionLevel", "uiAccess", "false"),
    (f"{ASM_V3}application/{ASM_V3}windowsSettings/{WS2019}activeCodePage", None, "UTF-8"),
    (f"{ASM_V3}application/{ASM_V3}windowsSettings/{WS2005}dpiAware", None, "true/pm"),
    (f"{ASM_V3}application/{ASM_V3}windowsSettings/{WS2016}dpiAwareness", None,
     "PerMonitorV2, PerMonitor"),
] + [(f"{ASM_V1}dependency/{ASM_V1}dependentAssembly/{ASM_V1}assemblyIdentity", key, value)
     for key, value in [("type", "win32"), ("name", "Microsoft.Windows.Common-Controls"),
                        ("version", "6.0.0.0"), ("processorArchitecture", "*"),
                        ("publicKeyToken", "6595b64144ccf1df"), ("language", "*")]]

SIZE_LIMIT = 7168  # the GCC build, resources included; bench/report.py reports against it
IMAGE_DLLCHARACTERISTICS = {"DYNAMIC_BASE": 0x40, "NX_COMPAT": 0x100, "NO_SEH": 0x400,
                            "TERMINAL_SERVER_AWARE": 0x8000}
faults = []


def expect(ok, what):
    if not ok:
        faults.append(what)
    return ok


class Image:
    def __init__(self, data):
        self.data = data
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        expect(data[:2] == b"MZ" and data[pe:pe + 4] == b"PE\0\0", "not a PE file")
        (self.machine, sections, _, _, _, optional_size,
         self.characteristics) = struct.unpack_from("<HHIIIHH", data, pe + 4)
        optional = pe + 24
        self.magic = struct.unpack_from("<H", data, optional)[0]
        self.subsystem, self.dll_characteristics = struct.unpack_from("<HH", data, optional + 68)
        self.directories = [struct.unpack_from("<II", data, optional + 96 + 8 * i)
                            for i in range(16)]
        table = optional + optional_size
        self.sections = [struct.unpack_from("<8sIIII", data, table + 40 * i)
                         for i in range(sections)]

    def offset(self, rva):
        for _, virtual_size, address, raw_size, raw_offset in self.sections:
            if address <= rva < address + max(virtual_size, raw_size):
                return raw_offset + rva - address
        raise ValueError(f"RVA 0x{rva:x} lies in no section")

    def at(self, rva, size):
        start = self.offset(rva)
        return self.data[start:start + size]

    def text(self, rva):
        start = self.offset(rva)
        return self.data[start:self.data.index(b"\0", start)].decode("ascii")

    def imports(self):
        rva, _ = self.directories[1]
        names = []
        while rva and any(self.at(rva, 20)):
            names.append(self.text(struct.unpack("<5I", self.at(rva, 20))[3]))
            rva += 20
        return names

    def resources(self):
        """{(type, name, language): bytes} of the resource tree (numeric ids only)."""
        root, _ = self.directories[2]
        found = {}

        def walk(offset, path):
            named, numbered = struct.unpack("<HH", self.at(root + offset + 12, 4))
            for i in range(named + numbered):
                ident, target = struct.unpack("<II", self.at(root + offset + 16 + 8 * i, 8))
                if target & 0x80000000:
                    walk(target & 0x7FFFFFFF, path + (ident,))
                else:
                    data_rva, size = struct.unpack("<II", self.at(root + target, 8))
                    found[path + (ident,)] = self.at(data_rva, size)

        if root:
            walk(0, ())
        return found


def check_manifest(manifest, version):
    try:
        root = ET.fromstring(manifest)
    except ET.ParseError as error:
        expect(False, f"manifest is not well-formed XML: {error}")
        return
    expect(root.tag == f"{ASM_V1}assembly" and root.get("manifestVersion") == "1.0",
           f"manifest root is {root.tag} {root.attrib}")
    identity = root.find(f"{ASM_V1}assemblyIdentity")
    if expect(identity is not None, "manifest has no assemblyIdentity of its own"):
        expect(identity.get("type") == "win32" and identity.get("name")
               and identity.get("version") == f"{version}.0.0"
               and identity.get("processorArchitecture") in (None, "x86"),
               f"manifest's own assemblyIdentity: {identity.attrib}")
    for parent in root.iter():
        tags = [child.tag for child in parent if child.tag != f"{COMPAT}supportedOS"]
        for tag in set(tags):
            expect(tags.count(tag) == 1, f"manifest repeats {tag} in {parent.tag}")
    ids = [os.get("Id") for os in root.iterfind(f"{COMPAT}compatibility/{COMPAT}application/"
                                                f"{COMPAT}supportedOS")]
    expect(sorted(ids) == sorted(SUPPORTED_OS), f"supportedOS ids: {ids}")
    for path, attribute, value in MANIFEST_SETTINGS:
        element = root.find(path)
        got = None if element is None else (
            element.text if attribute is None else element.get(attribute))
        expect(got == value, f"manifest {path} {attribute or 'text'}: {got!r}, want {value!r}")


def version_blocks(data, offset=0, end=None):
    """The children of a VS_VERSIONINFO-style block: (key, value bytes, children)."""
    end = len(data) if end is None else end
    blocks = []
    while offset + 6 <= end:
        length, value_length, kind = struct.unpack_from("<HHH", data, offset)
        if length == 0:
            break
        key_end = offset + 6
        while data[key_end:key_end + 2] != b"\0\0":
            key_end += 2
        key = data[offset + 6:key_end].decode("utf-16-le")
        value_start = (key_end + 2 + 3) & ~3
        value_size = value_length * 2 if kind == 1 else value_length
        value = data[value_start:value_start + value_size]
        children = version_blocks(data, (value_start + value_size + 3) & ~3, offset + length)
        blocks.append((key, value, children))
        offset = (offset + length + 3) & ~3
    return blocks


def check_version_info(info, version, copyright_line):
    (key, fixed, children), = version_blocks(info)
    expect(key == "VS_VERSION_INFO", f"version resource key {key!r}")
    major, minor = (int(part) for part in version.split("."))
    numbers = struct.unpack_from("<13I", fixed)
    expect(numbers[0] == 0xFEEF04BD, "no VS_FIXEDFILEINFO")
    expect(numbers[2:6] == ((major << 16) | minor, 0, (major << 16) | minor, 0),
           f"FILEVERSION/PRODUCTVERSION words {[hex(n) for n in numbers[2:6]]}")
    expect(numbers[8:10] == (0x40004, 1), "not VOS_NT_WINDOWS32 / VFT_APP")
    blocks = {key: kids for key, _, kids in children}
    tables = {key: kids for key, _, kids in blocks.get("StringFileInfo", [])}
    strings = {key: value.decode("utf-16-le").rstrip("\0")
               for key, value, _ in tables.get("040904B0", [])}
    description = strings.pop("FileDescription", "")
    expect(description and "\n" not in description, "FileDescription: one short line")
    want = {"CompanyName": "The kelvor developers", "ProductName": "kelvor",
            "InternalName": "kelvor", "FileVersion": version, "ProductVersion": version,
            "OriginalFilename": "kelvor.exe", "LegalCopyright": copyright_line}
    expect(strings == want, f"version strings {strings}, want {want}")
    translation = [value for key, value, _ in blocks.get("VarFileInfo", [])
                   if key == "Translation"]
    expect(translation == [struct.pack("<HH", 0x409, 1200)], f"Translation {translation}")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("exe")
    parser.add_argument("--license", required=True)
    parser.add_argument("--imports", required=True)
    parser.add_argument("--compiler", default="GNU", help="CMake's id of the exe's compiler")
    args = parser.parse_args()
    version = facts()["release"].decode("ascii")
    data = open(args.exe, "rb").read()
    image = Image(data)
    limited = args.compiler != "Clang"
    expect(len(data) <= SIZE_LIMIT or not limited,
           f"{args.exe} is {len(data):,} bytes, over the limit of {SIZE_LIMIT:,}")

    expect(image.machine == 0x14C and image.magic == 0x10B, "not a 32-bit (PE32, i386) image")
    expect(image.subsystem == 2, f"subsystem {image.subsystem}, want 2 (Windows GUI)")
    for name, bit in IMAGE_DLLCHARACTERISTICS.items():
        expect(image.dll_characteristics & bit, f"DllCharacteristics lacks {name}")
    expect(not image.characteristics & 1 and image.directories[5][1] > 0,
           "no base relocations: ASLR could not move the image")
    imports = image.imports()
    expect(sorted(name.upper() for name in imports) ==
           sorted(name.upper() for name in args.imports.split(",")), f"imports {imports}")

    resources = image.resources()
    manifests = {key: value for key, value in resources.items() if key[0] == 24}
    if expect(list(manifests) and [key[:2] for key in manifests] == [(24, 1)],
              f"manifests {list(manifests)}, want one of type 24, id 1"):
        check_manifest(next(iter(manifests.values())), version)
    infos = [value for key, value in resources.items() if key[:2] == (16, 1)]
    copyright_line = next(line.strip() for line in open(args.license)
                          if line.startswith("Copyright"))
    if expect(len(infos) == 1, f"{len(infos)} version resources, want 1"):
        check_version_info(infos[0], version, copyright_line)

    for fault in faults:
        print(f"check_exe: {fault}")
    if not faults:
        print(f"check_exe: {args.exe}: {len(data):,} bytes (limit {SIZE_LIMIT:,}"
              f"{'' if limited else ', not applied to Clang builds'}), imports "
              f"{', '.join(imports)}, manifest and version {version} as expected")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
