#!/usr/bin/env python3
"""Builds a driver's DXE dependency expression (the DXE_DEPEX section body) from the
"DEPEX" line of its binary-module INF: protocol names joined by AND, in the postfix form
of PI's dependency expression grammar. A binary module carries these
bytes in [Binaries]; EDK II builds a [Depex] section only for modules built from source.
Python standard library only."""

import re
import sys
import uuid

OP_PUSH, OP_AND, OP_END = 0x02, 0x03, 0x08
OPCODE_NAMES = {0x00: "BEFORE", 0x01: "AFTER", OP_PUSH: "PUSH", OP_AND: "AND", 0x04: "OR", 0x05: "NOT",
                0x06: "TRUE", 0x07: "FALSE", OP_END: "END", 0x09: "SOR"}

# The protocols a dependency expression here may name: architectural and PI protocols
# with their EDK II names.
PROTOCOLS = {
    "gEfiVariableArchProtocolGuid": "1E5668E2-8481-11D4-BCF1-0080C73C8881",
    "gEfiVariableWriteArchProtocolGuid": "6441F818-6362-4E44-B570-7DBA31DD2453",
    "gEfiStatusCodeRuntimeProtocolGuid": "D2B2B828-0826-48A7-B3DF-983C006024F0",
    "gEfiRscHandlerProtocolGuid": "86212936-0E76-41C8-A03A-2AF2FC1C39E2",
    "gEfiCpuIo2ProtocolGuid": "AD61F191-AE5F-4C0E-B9FA-E869D288C64F",
    "gEfiMetronomeArchProtocolGuid": "26BACCB2-6F42-11D4-BCE7-0080C73C8881",
}

DEPEX_LINE = re.compile(r"^#\s*DEPEX\s+(.+?)\s*$", re.MULTILINE)


class DepexError(ValueError):
    """An expression that cannot be built or bytes that do not decode."""


def inf_expression(text):
    """The protocol names of the INF's DEPEX line, in order."""
    lines = DEPEX_LINE.findall(text)
    if len(lines) != 1:
        raise DepexError(f"expected one DEPEX line, found {len(lines)}")
    words = lines[0].split()
    names = words[0::2]
    if any(word != "AND" for word in words[1::2]) or len(words) % 2 == 0:
        raise DepexError(f"only 'A AND B ...' is supported: {lines[0]}")
    unknown = [name for name in names if name not in PROTOCOLS]
    if unknown:
        raise DepexError("unknown protocol " + ", ".join(unknown))
    return names


def encode(names):
    """PUSH a, PUSH b, AND, PUSH c, AND, ..., END."""
    if not names:
        raise DepexError("empty expression")
    out = bytearray()
    for index, name in enumerate(names):
        out.append(OP_PUSH)
        out += uuid.UUID(PROTOCOLS[name]).bytes_le
        if index > 0:
            out.append(OP_AND)
    out.append(OP_END)
    return bytes(out)


def decode(data):
    """Opcodes as text, a PUSH with its GUID: ["PUSH 1E5668E2-...", "AND", "END"]."""
    tokens = []
    offset = 0
    while offset < len(data):
        opcode = data[offset]
        if opcode not in OPCODE_NAMES:
            raise DepexError(f"unknown opcode {opcode:#04x} at {offset}")
        if opcode in (OP_PUSH, 0x00, 0x01):
            if offset + 17 > len(data):
                raise DepexError(f"GUID cut short at {offset}")
            guid = str(uuid.UUID(bytes_le=bytes(data[offset + 1:offset + 17]))).upper()
            tokens.append(f"{OPCODE_NAMES[opcode]} {guid}")
            offset += 17
        else:
            tokens.append(OPCODE_NAMES[opcode])
            offset += 1
        if opcode == OP_END:
            if offset != len(data):
                raise DepexError(f"{len(data) - offset} bytes after END")
            return tokens
    raise DepexError("no END")


def main(argv):
    if len(argv) != 3:
        print("usage: depex.py MODULE.inf OUT.depex", file=sys.stderr)
        return 2
    with open(argv[1], encoding="utf-8") as handle:
        names = inf_expression(handle.read())
    with open(argv[2], "wb") as handle:
        handle.write(encode(names))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
