"""Judges an OS boot on the platform build: the kernel's log (its EFI memory map and memory
attributes table under efi=debug, and any firmware complaint), the init script's "OSBOOT"
lines, and the board driver's runtime lines on the debug console (Tesk conversions at
SetVirtualAddressMap, the probes of Hotlatch's variable writes). Python standard library
only."""

import re
import struct

import board_checks
import board_model
import board_report

# Lines that mean the kernel or the firmware went wrong: the kernel marks firmware faults
# with "[Firmware Bug]" (FW_BUG) and gives up runtime services after a fault inside one.
# Crash markers are matched with their case ("loops_per_jiffy" holds "oops").
TROUBLE = re.compile(r"(?i:firmware bug|\[Firmware Warn\]|EFI Runtime Services are disabled|page fault in EFI|"
                     r"efi:.*\b(?:fail(?:ed|ure)?|error|invalid|corrupt))|"
                     r"Kernel panic|\bBUG:|\bOops\b|general protection fault|Call Trace:")
MEMMAP = re.compile(r"efi: mem\d+: \[([^|\]]+)\|([^\]]*)\] range=\[0x([0-9a-f]+)-0x([0-9a-f]+)\]")
MEMATTR = re.compile(r"efi: memattr:\s+0x([0-9a-f]+)-0x([0-9a-f]+) \[([^|\]]+)\|([^\]]*)\]")
PE_EXECUTE = 0x20000000
PAGE = 4096

SETUP_RECORDS = {
    # efivarfs name -> (board record index, size, option offsets)
    "Setup-a04a27f4-df00-4d42-b552-39511302113d": (0, 1026, (888, 891)),
    "PchRcConfiguration-d19a26a3-17f1-48c3-8a1e-11eb0a7f6e4e": (1, 1294, (1179,)),
    "SocketProcessorCoreConfig-07013588-c789-4e12-a7c3-88fafae79f7c": (2, 298, (135,)),
}
SETUP_ATTRIBUTES = 7
TEST_DATA = b"os-boot-probe-1"
# What Hotlatch's key function shows on the console before it writes.
CONSOLE_NOTICE = "Ready to debug mode ..."
# Runtime services code and data, memory-mapped I/O and its port space: what the OS keeps
# mapped for the firmware after SetVirtualAddressMap.
RUNTIME_TYPES = {5, 6, 11, 12}


def kernel_lines(serial):
    """The serial log as text lines, the kernel's time stamps removed."""
    text = serial.decode("latin-1", "replace") if isinstance(serial, bytes) else serial
    return [re.sub(r"^\[\s*\d+\.\d+\]\s?", "", line.rstrip("\r")) for line in text.split("\n")]


def memory_region(match, kind_group, attr_group, start_group, end_group):
    return {"type": match.group(kind_group).strip(),
            "attrs": {a.strip() for a in match.group(attr_group).split("|") if a.strip()},
            "start": int(match.group(start_group), 16), "end": int(match.group(end_group), 16) + 1}


def memory_map(lines):
    """The memory map the kernel printed at boot (the runtime map it prints later is left
    out: it repeats the runtime entries)."""
    regions = []
    for line in lines:
        if "EFI runtime memory map" in line:
            break
        match = MEMMAP.search(line)
        if match:
            regions.append(memory_region(match, 1, 2, 3, 4))
    return regions


def memory_attributes(lines):
    regions = []
    for line in lines:
        match = MEMATTR.search(line)
        if match:
            regions.append(memory_region(match, 3, 4, 1, 2))
    return regions


def trouble(lines):
    return [line for line in lines if TROUBLE.search(line)]


def pe_sections(image):
    """(virtual address, size in memory, executable) per section of a PE32+ image."""
    if len(image) < 0x40 or image[:2] != b"MZ":
        raise ValueError("not a PE image")
    header = struct.unpack_from("<I", image, 0x3C)[0]
    if image[header:header + 4] != b"PE\0\0":
        raise ValueError("no PE signature")
    try:
        count, optional_size = struct.unpack_from("<H12xH", image, header + 6)
        table = header + 24 + optional_size
        sections = []
        for index in range(count):
            size, address = struct.unpack_from("<II", image, table + 40 * index + 8)
            flags = struct.unpack_from("<I", image, table + 40 * index + 36)[0]
            sections.append((address, size, bool(flags & PE_EXECUTE)))
    except struct.error as error:
        raise ValueError(f"truncated PE headers: {error}") from error
    return sections


def covering(regions, start, end):
    """The regions that together cover [start, end) without a gap, or None."""
    chosen, at = [], start
    for region in sorted(regions, key=lambda r: r["start"]):
        if region["end"] <= at or region["start"] >= end:
            continue
        if region["start"] > at:
            return None
        chosen.append(region)
        at = region["end"]
        if at >= end:
            return chosen
    return None


def check_image_memory(lines, base, size, sections, results):
    """The image sits in runtime code in the memory map, and the attributes table covers
    it with its code read-only and everything else not executable."""
    end = base + size
    in_map = covering(memory_map(lines), base, end)
    results.append((in_map is not None and all(r["type"] == "Runtime Code" and "RUN" in r["attrs"] for r in in_map),
                    f"memory map: Hotlatch 0x{base:X}-0x{end - 1:X} in runtime code with RUN "
                    f"({[(r['type'], sorted(r['attrs'])) for r in in_map or []]})"))
    table = memory_attributes(lines)
    results.append((bool(table), f"the kernel read the memory attributes table ({len(table)} entries)"))
    mine = covering(table, base, end)
    results.append((mine is not None and all("RUN" in r["attrs"] for r in mine),
                    f"memory attributes table covers Hotlatch's whole image ({len(mine or [])} entries)"))
    for address, length, executable in sections:
        start, stop = base + address, base + address + (length + PAGE - 1) // PAGE * PAGE
        part = covering(table, start, stop) or []
        if executable:
            ok = part and all("RO" in r["attrs"] and "XP" not in r["attrs"] for r in part)
            meaning = "code read-only"
        else:
            ok = part and all("XP" in r["attrs"] for r in part)
            meaning = "data not executable"
        results.append((bool(ok), f"Hotlatch section at +0x{address:X}: {meaning} "
                                  f"({[sorted(r['attrs']) for r in part] or 'not covered'})"))


def osboot_lines(lines):
    """The init script's lines: keyword -> list of field dictionaries."""
    found = {}
    for line in lines:
        at = line.find("OSBOOT ")
        if at < 0:
            continue
        words = line[at + 7:].split()
        if not words:
            continue
        fields = dict(word.split("=", 1) for word in words[1:] if "=" in word)
        found.setdefault(words[0], []).append(fields)
    return found


def hex_records(osboot):
    """Each variable the init script dumped, reassembled from its offset-tagged lines; a
    missing or repeated piece leaves a hole the comparison sees."""
    records = {}
    for piece in osboot.get("HEX", []):
        try:
            offset, data = int(piece["off"]), bytes.fromhex(piece["data"])
        except (KeyError, ValueError):
            continue
        record = records.setdefault(piece.get("name", ""), {})
        record[offset] = data
    joined = {}
    for name, pieces in records.items():
        data, at = b"", 0
        for offset in sorted(pieces):
            if offset != at:
                break
            data += pieces[offset]
            at += len(pieces[offset])
        joined[name] = data
    return joined


def expected_records(board):
    """The setup variables as the OS must find them: the board's pattern, with every option
    back at 0 (Hotlatch clears the debug option at its start, the board resets the rest after
    its probe before boot services end, and Hotlatch refuses writes after that)."""
    seeds = [board_model.number(seed) for seed in board["setup_variables"]["pattern_seeds"]]
    records = {}
    for name, (index, size, options) in SETUP_RECORDS.items():
        data = bytearray((seeds[index] + 37 * at) & 0xFF for at in range(size))
        for option in options:
            data[option] = 0
        records[name] = struct.pack("<I", SETUP_ATTRIBUTES) + bytes(data)
    return records


def first_difference(expected, got):
    for index, (left, right) in enumerate(zip(expected, got)):
        if left != right:
            return f"byte {index}: 0x{right:02X}, expected 0x{left:02X}"
    return f"{len(got)} bytes, expected {len(expected)}"


def check_init(board, lines, results):
    osboot = osboot_lines(lines)
    results.append(("INIT" in osboot, "the kernel started our init"))
    efivarfs = (osboot.get("EFIVARFS") or [{}])[0]
    results.append((efivarfs.get("mount") == "0" and efivarfs.get("insmod") in ("0", "-"),
                    f"efivarfs mounted ({efivarfs or 'no line'})"))
    names = [fields.get("name") for fields in osboot.get("VAR", [])]
    count = (osboot.get("LIST") or [{}])[0].get("count")
    results.append((count == str(len(names)) and all(name in names for name in SETUP_RECORDS),
                    f"variables listed through GetNextVariableName: {count}, the setup variables among them"))
    got = hex_records(osboot)
    for name, expected in expected_records(board).items():
        read = next((fields for fields in osboot.get("READ", []) if fields.get("name") == name), {})
        data = got.get(name, b"")
        ok = read.get("status") == "0" and read.get("size") == str(len(expected)) and data == expected
        results.append((ok, f"the OS read {name.split('-')[0]} byte for byte ({len(data)} bytes"
                            f"{'' if ok else ', ' + first_difference(expected, data)})"))
    write = (osboot.get("WRITE") or [{}])[0]
    wanted = (struct.pack("<I", SETUP_ATTRIBUTES) + TEST_DATA).hex()
    results.append((write.get("status") == "0" and write.get("data") == wanted,
                    f"the OS wrote a variable and read it back ({write or 'no line'})"))
    delete = (osboot.get("DELETE") or [{}])[0]
    results.append((delete.get("chattr") == "0" and delete.get("rm") == "0" and delete.get("gone") == "1",
                    f"the OS deleted it, and a fresh mount no longer lists it ({delete or 'no line'})"))
    results.append(("DONE" in osboot, "init finished and powered off"))


def board_lines(report, word):
    """Every "BOARD <word> ..." line's fields, in order."""
    found = []
    for line in report.lines:
        parts = line.split(" ", 2)
        if len(parts) >= 2 and parts[1] == word:
            found.append(board_report.fields(parts[2] if len(parts) > 2 else ""))
    return found


def runtime_map(osboot):
    """(physical start, end, virtual start) per runtime region the OS lists (it lists the
    boot-services regions it had mapped for SetVirtualAddressMap too, then frees them)."""
    regions = []
    for fields in osboot.get("RTMAP", []):
        try:
            phys, virt, pages = int(fields["phys"], 16), int(fields["virt"], 16), int(fields["pages"], 16)
            kind = int(fields["type"], 16)
        except (KeyError, ValueError):
            continue
        if kind in RUNTIME_TYPES:
            regions.append((phys, phys + pages * PAGE, virt))
    return regions


def virtual_address(regions, physical):
    for start, end, virt in regions:
        if start <= physical < end:
            return virt + physical - start
    return None


def check_runtime(report, lines, results):  # noqa: C901
    """Tesk conversions and the hot-key probes around the end of boot services."""
    number = board_checks.number_field
    image = report.images.get("Hotlatch.efi", {})
    base, size = number(image, "base"), number(image, "imagesize")
    inside = lambda address: base is not None and size is not None and address is not None and \
        base <= address < base + size  # noqa: E731
    regions = runtime_map(osboot_lines(lines))
    results.append((bool(regions), f"the OS listed {len(regions)} runtime regions with their virtual addresses"))

    registered = {}
    for call in report.tesk:
        address = number(call, "address")
        if call.get("op") == "register":
            registered[address] = number(call, "pointer")
        else:
            registered.pop(address, None)
    results.append((len(registered) >= 2 and all(inside(a) for a in registered),
                    f"Hotlatch left {len(registered)} pointers registered, all inside its image"))
    table = (board_lines(report, "RUNTIME-TABLE") or [{}])[0]
    table_before, table_after = number(table, "before"), number(table, "after")
    results.append((number(table, "status") == 0 and table_after == virtual_address(regions, table_before),
                    f"the runtime services table moves to the OS's virtual address ({table or 'no line'})"))
    converted = {}
    for line in board_lines(report, "CONVERT"):
        converted.setdefault(number(line, "address"), []).append(line)
    for address, pointer in registered.items():
        lines_for = converted.get(address, [])
        line = lines_for[0] if lines_for else {}
        before, after = number(line, "before"), number(line, "after")
        # Where the OS says the pointed-to memory now is; None for memory it does not keep.
        wanted = virtual_address(regions, before) if before is not None else None
        ok = (len(lines_for) == 1 and number(line, "status") == 0 and before == pointer and wanted is not None
              and after == wanted)
        if pointer == table_before:
            ok = ok and after == table_after
            what = "Hotlatch's runtime-services pointer"
        else:
            what = "a registered pointer"
        where = f"OS maps it at 0x{wanted:X}" if wanted is not None else "not in memory the OS keeps for runtime"
        results.append((ok, f"Tesk converted {what} at 0x{address or 0:X} once: 0x{before or 0:X} -> "
                            f"0x{after or 0:X} ({where}; {len(lines_for)} conversions)"))
    extra = [a for a in converted if a not in registered]
    results.append((not extra, f"no conversion of an address that is not registered ({extra})"))

    keyboard = (board_lines(report, "KEYBOARD") or [{}])[0]
    results.append((number(keyboard, "status") == 0 and inside(number(keyboard, "function")),
                    f"the virtual keyboard received Hotlatch's Ctrl+Alt+d notification ({keyboard or 'no line'})"))
    probes = {line.get("when"): line for line in board_lines(report, "PROBE")}
    boot, virtual = probes.get("boot", {}), probes.get("exitbootservices", {})
    results.append((number(boot, "called") == 1 and number(boot, "read") == 1 and number(boot, "setup888") == 1,
                    f"before ExitBootServices Hotlatch's key function wrote its option ({boot or 'no line'})"))
    # The notice comes right before the write: shown twice, the second call got that far.
    notices = "\n".join(lines).count(CONSOLE_NOTICE)
    results.append((number(virtual, "called") == 1 and number(virtual, "read") == 1
                    and number(virtual, "setup888") == 0 and notices == 2,
                    f"after ExitBootServices Hotlatch's key function ran to its write, which its variable library "
                    f"refused ({virtual or 'no line'}; console notice {notices} times)"))
    results.append((number(report.steps.get("RESETOPTIONS", {}), "status") == 0, "the board reset the options"))
    results.append(("BOARD VIRTUAL DONE" in report.lines, "SetVirtualAddressMap ran the board's notification to the end"))
