"""Reads BaseTools' VolInfo listing of a firmware volume and checks that each prebuilt
driver's file carries what its INF promises: a driver file with a DXE_DEPEX section that
decodes to the INF's dependency expression, its PE32 image and a UI section with its
name; for a Traditional MM driver (DXE_SMM_DRIVER) an MM file with an SMM_DEPEX section,
which VolInfo calls EFI_FV_FILETYPE_MM and EFI_SECTION_MM_DEPEX. Python standard library only."""

import os
import re
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "packaging"))

import depex  # noqa: E402

FILE_NAME = re.compile(r"^File Name:\s+([0-9A-Fa-f-]{36})", re.MULTILINE)
GUID = re.compile(r"[0-9A-Fa-f]{8}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{12}")
DEPEX_OPCODES = {"PUSH", "AND", "OR", "NOT", "TRUE", "FALSE", "BEFORE", "AFTER", "SOR", "END DEPEX"}


def inf_module(path):
    """BASE_NAME, FILE_GUID, the dependency-expression tokens the INF's DEPEX line makes, the
    size of the image beside the INF (None when it is not there) and MODULE_TYPE."""
    with open(path, encoding="utf-8") as handle:
        text = handle.read()
    name = re.search(r"^\s*BASE_NAME\s*=\s*(\S+)", text, re.MULTILINE)
    guid = re.search(r"^\s*FILE_GUID\s*=\s*(\S+)", text, re.MULTILINE)
    module_type = re.search(r"^\s*MODULE_TYPE\s*=\s*(\S+)", text, re.MULTILINE)
    if not name or not guid:
        raise ValueError(f"{path}: no BASE_NAME or FILE_GUID")
    image = os.path.join(os.path.dirname(path), name[1] + ".efi")
    size = os.path.getsize(image) if os.path.isfile(image) else None
    return (name[1], guid[1].upper(), depex.decode(depex.encode(depex.inf_expression(text))), size,
            module_type[1] if module_type else None)


def split_files(listing):
    """[(file GUID, text of that file's entry)] in volume order."""
    starts = list(FILE_NAME.finditer(listing))
    files = []
    for index, match in enumerate(starts):
        end = starts[index + 1].start() if index + 1 < len(starts) else len(listing)
        files.append((match[1].upper(), listing[match.start():end]))
    return files


def section_types(entry):
    return re.findall(r"^\s*Type:\s+(EFI_SECTION_\w+)", entry, re.MULTILINE)


def depex_tokens(entry):
    """The dependency expression VolInfo decoded, as depex.decode spells it."""
    tokens = []
    lines = [line.strip() for line in entry.splitlines()]
    index = 0
    while index < len(lines):
        line = lines[index]
        if line == "PUSH" and index + 1 < len(lines):
            guid = GUID.search(lines[index + 1])
            tokens.append("PUSH " + (guid[0].upper() if guid else "?"))
            index += 2
            continue
        if line in DEPEX_OPCODES:
            tokens.append("END" if line == "END DEPEX" else line)
        index += 1
    return tokens


def check_listing(listing, modules):
    """(ok, text) results; modules are inf_module()'s tuples in their FDF order (a tuple
    without the module type is a DXE driver's)."""
    results = []
    files = split_files(listing)
    order = [guid for guid, _ in files]
    for name, guid, tokens, image_size, *module_type in modules:
        mm = module_type[:1] == ["DXE_SMM_DRIVER"]
        file_type, depex_section = ("EFI_FV_FILETYPE_MM", "EFI_SECTION_MM_DEPEX") if mm else \
            ("EFI_FV_FILETYPE_DRIVER", "EFI_SECTION_DXE_DEPEX")
        entries = [entry for file_guid, entry in files if file_guid == guid]
        results.append((len(entries) == 1, f"{name}: one file {guid} in the volume ({len(entries)})"))
        if len(entries) != 1:
            continue
        entry = entries[0]
        kind = re.search(r"^File Type:.*\s(EFI_FV_FILETYPE_\w+)\s*$", entry, re.MULTILINE)
        results.append((kind is not None and kind[1] == file_type, f"{name}: file type {file_type}"))
        types = section_types(entry)
        for wanted in (depex_section, "EFI_SECTION_PE32", "EFI_SECTION_USER_INTERFACE"):
            results.append((types.count(wanted) == 1, f"{name}: one {wanted} section ({types})"))
        pe32 = re.search(r"Type:\s+EFI_SECTION_PE32\s*\n\s*Size:\s+(0x[0-9A-Fa-f]+)", entry)
        if image_size is not None:
            # A section is a 4-byte header and its content: the image, byte count for byte count.
            got = int(pe32[1], 16) - 4 if pe32 else None
            results.append((got == image_size, f"{name}: PE32 section holds the {image_size}-byte image ({got})"))
        ui = re.search(r"^\s*String:\s*(\S+)", entry, re.MULTILINE)
        results.append((ui is not None and ui[1] == name, f"{name}: UI section names it ({ui[1] if ui else None})"))
        got = depex_tokens(entry)
        results.append((got == tokens, f"{name}: {depex_section[12:]} decodes to {' '.join(tokens)}"
                        + ("" if got == tokens else f" (VolInfo: {' '.join(got)})")))
    present = [module[1] for module in modules if module[1] in order]
    positions = [order.index(guid) for guid in present]
    results.append((positions == sorted(positions), "the files keep their FDF order in the volume"))
    return results


def volinfo(tool, volume, xref=None):
    command = [tool, volume] + (["-x", xref] if xref else [])
    done = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, check=False)
    return done.returncode, done.stdout.decode("latin-1")
