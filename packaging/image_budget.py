#!/usr/bin/env python3
"""The drivers' size on flash against their budget: bytes on disk, LZMA-compressed as a
firmware volume compresses them (the .lzma format of BaseTools' LzmaCompress), and the
size loaded in memory. Fails when an image is over its on-disk budget; the compressed
size is reported beside its target. Python standard library only."""

import lzma
import os
import struct
import sys

KIB = 1024
# name: (on-disk budget, compressed target)
BUDGETS = {"Roster.efi": (20 * KIB, 10 * KIB), "Hotlatch.efi": (16 * KIB, 7 * KIB)}


def size_of_image(data):
    """SizeOfImage from the PE32+ optional header."""
    if len(data) < 0x40 or data[:2] != b"MZ":
        raise ValueError("no MZ header")
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        raise ValueError("no PE signature")
    return struct.unpack_from("<I", data, pe + 24 + 56)[0]


def lzma_size(data):
    """The size LZMA gives at its strongest preset, in the .lzma (alone) container."""
    return len(lzma.compress(data, format=lzma.FORMAT_ALONE, preset=9 | lzma.PRESET_EXTREME))


def measure(path):
    with open(path, "rb") as handle:
        data = handle.read()
    return len(data), lzma_size(data), size_of_image(data)


def main(paths):
    failed = 0
    for path in paths:
        name = os.path.basename(path)
        disk_budget, lzma_target = BUDGETS[name]
        disk, packed, loaded = measure(path)
        over = disk > disk_budget
        failed += over
        print(f"{name}: {disk} bytes on disk (budget {disk_budget}{', OVER' if over else ''}), "
              f"{packed} LZMA (target {lzma_target}{', over' if packed > lzma_target else ''}), "
              f"{loaded} loaded")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
