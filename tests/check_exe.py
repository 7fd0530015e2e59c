#!/usr/bin/env python3
"""Checks what Windows reads from kelvor.exe or kelvor-cpus.exe besides its code.

    check_exe.py <exe> --license LICENSE --imports KERNEL32.dll[,...] [--compiler GNU]
                 [--name kelvor|kelvor-cpus]

No Windows machine tells us when these are wrong, and Wine forgives most of it:
- at most its SIZE_LIMITS bytes, unless built by Clang, whose larger exe is only measured;
- a PE32 Windows GUI program for i386 with ASLR (and its relocations), DEP,
  Terminal Server awareness and no SEH handlers, importing exactly the DLLs named;
- one manifest (type 24, id 1): well-formed XML with its own assemblyIdentity,
  no repeated element (Windows refuses to start an exe with either fault), and
  the settings that exe relies on (MANIFESTS);
- a version resource whose numbers and strings match the release, LICENSE and the
  exe's name (--name, kelvor unless given).
The release number is the tests' own, from tests/data/facts.def.
Exit code 0 when everything holds; otherwise each fault is printed and it is 1.
"""

import argparse
import struct
import sys
import xml.etree.ElementTree as ET

import pefile  # Debian's python3-pefile: run with /usr/bin/python3

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
LEVEL = "/".join(ASM_V3 + tag for tag in ("trustInfo", "security", "requestedPrivileges",
                                          "requestedExecutionLevel"))
SETTINGS = f"{ASM_V3}application/{ASM_V3}windowsSettings/"
SHARED_SETTINGS = [
    (LEVEL, "level", "asInvoker"), (LEVEL, "uiAccess", "false"),
    (SETTINGS + f"{WS2005}dpiAware", None, "true/pm"),
    (SETTINGS + f"{WS2016}dpiAwareness", None, "PerMonitorV2, PerMonitor"),
] + [(f"{ASM_V1}dependency/{ASM_V1}dependentAssembly/{ASM_V1}assemblyIdentity", key, value)
     for key, value in [("type", "win32"), ("name", "Microsoft.Windows.Common-Controls"),
                        ("version", "6.0.0.0"), ("processorArchitecture", "*"),
                        ("publicKeyToken", "6595b64144ccf1df"), ("language", "*")]]
CODE_PAGE = (SETTINGS + f"{WS2019}activeCodePage", None, "UTF-8")
# Per exe: its supportedOS ids and settings. kelvor-cpus shows ASCII only and asks
# for no version number, so it needs neither the UTF-8 code page nor supportedOS
# (its manifest is smaller for it); it must not carry them half-way either.
MANIFESTS = {
    "kelvor": (SUPPORTED_OS, SHARED_SETTINGS + [CODE_PAGE]),
    "kelvor-cpus": (set(), SHARED_SETTINGS + [(CODE_PAGE[0], None, None)]),
}

# The GCC builds, resources included; bench/report.py reports kelvor's against SIZE_LIMIT.
SIZE_LIMITS = {"kelvor": 7168, "kelvor-cpus": 8192}
SIZE_LIMIT = SIZE_LIMITS["kelvor"]
DLL_CHARACTERISTICS = ["DYNAMIC_BASE", "NX_COMPAT", "NO_SEH", "TERMINAL_SERVER_AWARE"]
faults = []


def expect(ok, what):
    if not ok:
        faults.append(what)
    return ok


def imports(pe):
    return [entry.dll.decode("ascii") for entry in getattr(pe, "DIRECTORY_ENTRY_IMPORT", [])]


def resources(pe):
    """{(type, name, language): bytes} of the resource tree (a named level's id is None)."""
    root = getattr(pe, "DIRECTORY_ENTRY_RESOURCE", None)
    return {(kind.id, name.id, language.id):
            pe.get_data(language.data.struct.OffsetToData, language.data.struct.Size)
            for kind in (root.entries if root else []) for name in kind.directory.entries
            for language in name.directory.entries}


def check_manifest(manifest, version, name):
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
    supported_os, settings = MANIFESTS[name]
    expect(sorted(ids) == sorted(supported_os), f"supportedOS ids: {ids}")
    for path, attribute, value in settings:
        element = root.find(path)
        got = None if element is None else (
            element.text if attribute is None else element.get(attribute))
        expect(got == value, f"manifest {path} {attribute or 'text'}: {got!r}, want {value!r}")


def check_version_info(pe, info, version, copyright_line, name):
    """pefile finds the blocks; each string is then taken as its own header sizes it,
    so text hidden after a NUL still shows."""
    if not expect(len(getattr(pe, "VS_VERSIONINFO", [])) == 1, "no VS_VERSION_INFO block"):
        return
    expect(not info[pe.VS_VERSIONINFO[0].Length:].strip(b"\0"), "data after VS_VERSION_INFO")
    fixed = pe.VS_FIXEDFILEINFO[0]
    expect(fixed.Signature == 0xFEEF04BD, "no VS_FIXEDFILEINFO")
    major, minor = (int(part) for part in version.split("."))
    words = (fixed.FileVersionMS, fixed.FileVersionLS, fixed.ProductVersionMS,
             fixed.ProductVersionLS)
    expect(words == ((major << 16) | minor, 0, (major << 16) | minor, 0),
           f"FILEVERSION/PRODUCTVERSION words {[hex(n) for n in words]}")
    expect((fixed.FileOS, fixed.FileType) == (0x40004, 1), "not VOS_NT_WINDOWS32 / VFT_APP")
    blocks = {block.Key: block for block in pe.FileInfo[0]}
    tables = {table.LangID: table.entries_offsets
              for table in getattr(blocks.get(b"StringFileInfo"), "StringTable", [])}
    strings = {}
    for key, (key_at, value_at) in tables.get(b"040904B0", {}).items():
        _, size, kind = struct.unpack_from("<HHH", pe.__data__, key_at - 6)
        value = pe.__data__[value_at:value_at + (2 if kind == 1 else 1) * size]
        strings[key.decode()] = value.decode("utf-16-le").rstrip("\0")
    description = strings.pop("FileDescription", "")
    expect(description and "\n" not in description, "FileDescription: one short line")
    want = {"CompanyName": "The kelvor developers", "ProductName": "kelvor",
            "InternalName": name, "FileVersion": version, "ProductVersion": version,
            "OriginalFilename": f"{name}.exe", "LegalCopyright": copyright_line}
    expect(strings == want, f"version strings {strings}, want {want}")
    var_info = blocks.get(b"VarFileInfo")
    variables = getattr(var_info, "Var", [])
    translation = [(getattr(var, "entry", None), var.ValueLength) for var in variables]
    # pefile reads the first Var only: it must also be the block's last.
    expect(translation == [({b"Translation": "0x0409 0x04b0"}, 4)] and
           var_info.get_file_offset() + var_info.Length ==
           variables[0].get_file_offset() + variables[0].Length, f"Translation {translation}")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("exe")
    parser.add_argument("--license", required=True)
    parser.add_argument("--imports", required=True)
    parser.add_argument("--compiler", default="GNU", help="CMake's id of the exe's compiler")
    parser.add_argument("--name", default="kelvor", choices=sorted(SIZE_LIMITS))
    args = parser.parse_args()
    size_limit = SIZE_LIMITS[args.name]
    version = facts()["release"].decode("ascii")
    data = open(args.exe, "rb").read()
    try:
        pe = pefile.PE(data=data)
    except pefile.PEFormatError as error:
        print(f"check_exe: not a PE file: {error}")
        return 1
    limited = args.compiler != "Clang"
    expect(len(data) <= size_limit or not limited,
           f"{args.exe} is {len(data):,} bytes, over the limit of {size_limit:,}")

    expect(pe.FILE_HEADER.Machine == pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_I386"] and
           pe.OPTIONAL_HEADER.Magic == pefile.OPTIONAL_HEADER_MAGIC_PE,
           "not a 32-bit (PE32, i386) image")
    subsystem = pe.OPTIONAL_HEADER.Subsystem
    expect(subsystem == 2, f"subsystem {subsystem}, want 2 (Windows GUI)")
    for name in DLL_CHARACTERISTICS:
        expect(pe.OPTIONAL_HEADER.DllCharacteristics &
               pefile.DLL_CHARACTERISTICS["IMAGE_DLLCHARACTERISTICS_" + name],
               f"DllCharacteristics lacks {name}")
    expect(not pe.FILE_HEADER.IMAGE_FILE_RELOCS_STRIPPED and
           pe.OPTIONAL_HEADER.DATA_DIRECTORY[5].Size > 0,
           "no base relocations: ASLR could not move the image")
    names = imports(pe)
    expect(sorted(name.upper() for name in names) ==
           sorted(name.upper() for name in args.imports.split(",")), f"imports {names}")

    found = resources(pe)
    manifests = {key: value for key, value in found.items() if key[0] == 24}
    if expect(list(manifests) and [key[:2] for key in manifests] == [(24, 1)],
              f"manifests {list(manifests)}, want one of type 24, id 1"):
        check_manifest(next(iter(manifests.values())), version, args.name)
    infos = [value for key, value in found.items() if key[:2] == (16, 1)]
    copyright_line = next(line.strip() for line in open(args.license)
                          if line.startswith("Copyright"))
    if expect(len(infos) == 1, f"{len(infos)} version resources, want 1"):
        check_version_info(pe, infos[0], version, copyright_line, args.name)

    for fault in faults:
        print(f"check_exe: {fault}")
    if not faults:
        print(f"check_exe: {args.exe}: {len(data):,} bytes (limit {size_limit:,}"
              f"{'' if limited else ', not applied to Clang builds'}), imports "
              f"{', '.join(names)}, manifest and version {version} as expected")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
