#!/usr/bin/env python3
"""What EDK II's build generates from a module's INF, generated here from a module
description (NAME.module) and the library catalogues (Libraries.list):

  AutoGen.cpp        the module's identity (gEfiCallerIdGuid, gEfiCallerBaseName), its
                     library constructor and destructor lists and its start routine
  NAMEFileGuid.h     gNAMEFileGuid, for code that must recognise the module's reports
  module.cmake       STEM_FILE_GUID, STEM_BASE_NAME, STEM_MODULE_TYPE for the build, STEM
                     being the description's file name without .module, upper case

Constructors run in dependency order: each library after the libraries its DEPENDS names,
otherwise in the order the module lists them. Destructors run in the reverse order.

The module's linked sources (--source) are read for constructor and destructor
definitions: a source that defines one of a catalogued library the module does not list
would be linked and never called, so it is an error, as is a listed library whose
constructor no linked source defines.

The binary INF a module ships with takes its [Defines] from the description the same way:
@BASE_NAME@, @FILE_GUID@ and @MODULE_TYPE@ in --inf-template.

Usage: autogen.py --module FILE --libraries FILE... [--source FILE...] [--out DIR]
       [--source-root DIR] [--inf-template FILE --inf-out FILE]
"""

import argparse
import os
import re
import sys
import uuid

ENTRY_SIGNATURE = "(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable)"
DEFINITION = re.compile(r"^EFI_STATUS\s+(\w+)\s*\(\s*EFI_HANDLE\s+\w+\s*,\s*EFI_SYSTEM_TABLE\s*\*\s*\w+\s*\)\s*\{",
                        re.MULTILINE)
MODULE_DEFINES = ("BASE_NAME", "FILE_GUID", "MODULE_TYPE", "ENTRY_POINT")
LIBRARY_KEYS = ("CONSTRUCTOR", "DESTRUCTOR", "DEPENDS")
IDENTIFIER = re.compile(r"^[A-Za-z_]\w*$")


class DescriptionError(Exception):
    pass


def read_sections(path):
    """[(section, [(line number, text)])] of an INF-style file: '#' starts a comment."""
    sections = []
    with open(path, encoding="utf-8") as handle:
        for number, raw in enumerate(handle, 1):
            line = raw.split("#", 1)[0].strip()
            if not line:
                continue
            if line.startswith("[") and line.endswith("]"):
                sections.append((line[1:-1].strip(), []))
            elif not sections:
                raise DescriptionError(f"{path}:{number}: text before the first [section]")
            else:
                sections[-1][1].append((number, line))
    return sections


def key_values(path, lines, allowed):
    values = {}
    for number, line in lines:
        key, equals, value = line.partition("=")
        key, value = key.strip(), value.strip()
        if not equals or key not in allowed:
            raise DescriptionError(f"{path}:{number}: expected one of {', '.join(allowed)} = VALUE")
        if key in values:
            raise DescriptionError(f"{path}:{number}: {key} given twice")
        values[key] = value
    return values


def read_module(path):
    """{BASE_NAME, FILE_GUID (uuid.UUID), MODULE_TYPE, ENTRY_POINT, LIBRARIES [names]}."""
    sections = dict()
    for name, lines in read_sections(path):
        if name in sections:
            raise DescriptionError(f"{path}: [{name}] given twice")
        sections[name] = lines
    unknown = set(sections) - {"Defines", "LibraryClasses"}
    if unknown:
        raise DescriptionError(f"{path}: unknown section [{sorted(unknown)[0]}]")
    module = key_values(path, sections.get("Defines", []), MODULE_DEFINES)
    for key in MODULE_DEFINES:
        if not module.get(key):
            raise DescriptionError(f"{path}: [Defines] has no {key}")
    for key in ("BASE_NAME", "MODULE_TYPE", "ENTRY_POINT"):
        if not IDENTIFIER.match(module[key]):
            raise DescriptionError(f"{path}: {key} {module[key]!r} is not a name")
    try:
        module["FILE_GUID"] = uuid.UUID(module["FILE_GUID"])
    except ValueError as error:
        raise DescriptionError(f"{path}: FILE_GUID: {error}") from error
    libraries = []
    for number, line in sections.get("LibraryClasses", []):
        if not IDENTIFIER.match(line) or line in libraries:
            raise DescriptionError(f"{path}:{number}: {line!r} is not a new library name")
        libraries.append(line)
    module["LIBRARIES"] = libraries
    return module


def read_catalogues(paths):
    """{library: {CONSTRUCTOR, DESTRUCTOR, DEPENDS [names]}} over every catalogue."""
    catalogue = {}
    for path in paths:
        for name, lines in read_sections(path):
            if not IDENTIFIER.match(name) or name in catalogue:
                raise DescriptionError(f"{path}: [{name}] is not a new library name")
            entry = key_values(path, lines, LIBRARY_KEYS)
            entry["DEPENDS"] = entry.get("DEPENDS", "").split()
            for key in ("CONSTRUCTOR", "DESTRUCTOR"):
                if entry.get(key) and not IDENTIFIER.match(entry[key]):
                    raise DescriptionError(f"{path}: [{name}] {key} is not a name")
            catalogue[name] = entry
    return catalogue


def constructor_order(module, catalogue):
    """The module's libraries, each after everything it depends on, else in listed order."""
    listed = module["LIBRARIES"]
    for name in listed:
        if name not in catalogue:
            raise DescriptionError(f"{module['BASE_NAME']}: no library catalogue describes {name}")
    order, state = [], {}

    def visit(name, path):
        if state.get(name) == "done":
            return
        if state.get(name) == "visiting":
            raise DescriptionError(f"{module['BASE_NAME']}: library dependency cycle {' -> '.join(path + [name])}")
        state[name] = "visiting"
        for dependency in catalogue[name]["DEPENDS"]:
            if dependency not in listed:
                raise DescriptionError(f"{module['BASE_NAME']}: {name} depends on {dependency}, which the module "
                                       "does not link")
            visit(dependency, path + [name])
        state[name] = "done"
        order.append(name)

    for name in listed:
        visit(name, [])
    return order


def check_sources(module, catalogue, sources):
    """Every catalogued constructor or destructor defined in the linked sources belongs to a
    listed library, and every listed one is defined there."""
    owner = {}
    for name, entry in catalogue.items():
        for key in ("CONSTRUCTOR", "DESTRUCTOR"):
            if entry.get(key):
                owner[entry[key]] = name
    defined = set()
    for path in sources:
        with open(path, encoding="utf-8") as handle:
            defined.update(DEFINITION.findall(handle.read()))
    for function in sorted(defined & set(owner)):
        if owner[function] not in module["LIBRARIES"]:
            raise DescriptionError(f"{module['BASE_NAME']}: a linked source defines {function} of "
                                   f"{owner[function]}, which the module does not list")
    for name in module["LIBRARIES"]:
        for key in ("CONSTRUCTOR", "DESTRUCTOR"):
            function = catalogue[name].get(key)
            if function and function not in defined:
                raise DescriptionError(f"{module['BASE_NAME']}: no linked source defines {function} of {name}")


def guid_initializer(guid):
    data = guid.bytes_le
    fields = (int.from_bytes(data[0:4], "little"), int.from_bytes(data[4:6], "little"),
              int.from_bytes(data[6:8], "little"))
    tail = ", ".join(f"0x{byte:02X}" for byte in data[8:])
    return f"{{0x{fields[0]:08X}, 0x{fields[1]:04X}, 0x{fields[2]:04X}, {{{tail}}}}}"


def call_list(name, calls):
    lines = [f"VOID {name}{ENTRY_SIGNATURE} {{"]
    if calls:
        lines += ["  EFI_STATUS Status;", ""]
        for function in calls:
            lines += [f"  Status = {function}(ImageHandle, SystemTable);", "  ASSERT_EFI_ERROR(Status);"]
    lines.append("}")
    return lines


def autogen_source(module, catalogue, origin):
    order = constructor_order(module, catalogue)
    constructors = [catalogue[name]["CONSTRUCTOR"] for name in order if catalogue[name].get("CONSTRUCTOR")]
    destructors = [catalogue[name]["DESTRUCTOR"] for name in reversed(order) if catalogue[name].get("DESTRUCTOR")]
    lines = [f"// Generated by cmake/autogen.py from {origin}; edit that file, not this one.",
             "#include <Uefi.h>", "#include <Library/DebugLib.h>", "#include <Library/ModuleEntryPoint.h>", ""]
    for function in constructors + destructors + [module["ENTRY_POINT"]]:
        lines.append(f"EFI_STATUS {function}{ENTRY_SIGNATURE};")
    lines += ["", "const UINT32 _gUefiDriverRevision = 0;",
              "// No unload handler: the image stays for the whole boot.",
              "const UINT8 _gDriverUnloadImageCount = 0;", "",
              f"const EFI_GUID gEfiCallerIdGuid = {guid_initializer(module['FILE_GUID'])};",
              f"const CHAR8 *const gEfiCallerBaseName = \"{module['BASE_NAME']}\";", "",
              "// A failing constructor is reported and the chain goes on, as EDK II's generated lists do."]
    lines += call_list("ProcessLibraryConstructorList", constructors) + [""]
    lines += call_list("ProcessLibraryDestructorList", destructors) + [""]
    lines += [f"EFI_STATUS ProcessModuleEntryPointList{ENTRY_SIGNATURE} {{",
              f"  return {module['ENTRY_POINT']}(ImageHandle, SystemTable);", "}", "",
              "EFI_STATUS ProcessModuleUnloadList(EFI_HANDLE ImageHandle) { return EFI_SUCCESS; }"]
    return "\n".join(lines) + "\n"


def file_guid_header(module, origin):
    name = module["BASE_NAME"]
    return "\n".join([f"// Generated by cmake/autogen.py from {origin}: the file GUID of {name}.",
                      "#pragma once", "#include <Guid.h>", "",
                      f"inline constexpr EFI_GUID g{name}FileGuid = {guid_initializer(module['FILE_GUID'])};", ""])


def cmake_variables(module, prefix):
    name = prefix
    return "".join(f"set({name}_{key} \"{value}\")\n" for key, value in (
        ("BASE_NAME", module["BASE_NAME"]), ("FILE_GUID", str(module["FILE_GUID"]).upper()),
        ("MODULE_TYPE", module["MODULE_TYPE"])))


def render_inf(template, module):
    """The binary INF: @BASE_NAME@, @FILE_GUID@ and @MODULE_TYPE@ from the description."""
    values = {"BASE_NAME": module["BASE_NAME"], "FILE_GUID": str(module["FILE_GUID"]).upper(),
              "MODULE_TYPE": module["MODULE_TYPE"]}
    text = re.sub(r"@(\w+)@", lambda match: values[match[1]] if match[1] in values else match[0], template)
    left = re.search(r"@\w+@", text)
    if left:
        raise DescriptionError(f"the INF template names {left[0]}, which a module description does not give")
    return text


def write_if_changed(path, text):
    """Leaves an unchanged file alone, so a reconfigure rebuilds nothing."""
    if os.path.isfile(path):
        with open(path, encoding="utf-8") as handle:
            if handle.read() == text:
                return
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w", encoding="utf-8") as handle:
        handle.write(text)


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--module", required=True)
    parser.add_argument("--libraries", nargs="*", default=[])
    parser.add_argument("--source", nargs="*", default=[])
    parser.add_argument("--out", help="AutoGen.cpp, module.cmake and include/ go here")
    parser.add_argument("--source-root", help="descriptions are named relative to this in the generated files")
    parser.add_argument("--inf-template")
    parser.add_argument("--inf-out")
    args = parser.parse_args(argv)
    origin = os.path.relpath(args.module, args.source_root) if args.source_root else os.path.basename(args.module)
    try:
        module = read_module(args.module)
        catalogue = read_catalogues(args.libraries)
        if args.out and not args.libraries:
            raise DescriptionError("AutoGen.cpp needs the library catalogues (--libraries)")
        if args.source:
            check_sources(module, catalogue, args.source)
        name = module["BASE_NAME"]
        if args.out:
            write_if_changed(os.path.join(args.out, "AutoGen.cpp"), autogen_source(module, catalogue, origin))
            write_if_changed(os.path.join(args.out, "include", f"{name}FileGuid.h"), file_guid_header(module, origin))
            stem = os.path.splitext(os.path.basename(args.module))[0]
            write_if_changed(os.path.join(args.out, "module.cmake"), cmake_variables(module, stem.upper()))
        if args.inf_template:
            with open(args.inf_template, encoding="utf-8") as handle:
                write_if_changed(args.inf_out, render_inf(handle.read(), module))
    except (DescriptionError, OSError) as error:
        print(f"autogen.py: {error}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
