"""The virtual board as data, and everything the board run expects, derived from that
data alone: the SMBIOS structures QEMU is given, the inventory image the management
controller must receive, the SATA_INFO messages, the setup-variable bytes at each stage
and the configuration file the harness reads. Python standard library only."""

import json
import os
import struct
import zlib

DEFAULT_BOARD = os.path.join(os.path.dirname(os.path.abspath(__file__)), "board", "board.json")

# Capacities and sizes of the inventory wire format.
HEADER_SIZE = 67
CPU_RECORD_SIZE, DIMM_RECORD_SIZE, PCI_RECORD_SIZE = 230, 752, 563
CPU_CAPACITY, DIMM_CAPACITY, PCI_CAPACITY = 2, 12, 24
SATA_INFO_SIZE = 65
# Port IDs in table order: SATA ports 0-7, then sSATA ports 0-5 as 0x10 + port.
SATA_PORT_TABLE = list(range(8)) + [0x10 + port for port in range(6)]
# PCI Express Link Status speed codes for QEMU's x-speed values.
LINK_SPEED_CODES = {"2_5": 1, "5": 2, "8": 3, "16": 4, "32": 5}
# Setup variables: name, size, option offsets (first is the one the start clears).
SETUP_VARIABLES = (
    ("setup", 1026, (888, 891)),
    ("pch", 1294, (1179,)),
    ("socket", 298, (135,)),
)
CONFIG_SIGNATURE = b"BRDCFG01"


class BoardError(ValueError):
    """The board definition is inconsistent or outside what the board run supports."""


def number(value):
    """Board numbers are written as decimal integers or "0x" strings."""
    if isinstance(value, bool):
        raise BoardError(f"not a number: {value!r}")
    if isinstance(value, int):
        return value
    if isinstance(value, str):
        try:
            return int(value, 0)
        except ValueError:
            pass
    raise BoardError(f"not a number: {value!r}")


def parse_addr(text):
    """"1c.2" -> (0x1c, 2)."""
    try:
        device, function = text.split(".")
        device, function = int(device, 16), int(function, 16)
    except ValueError as error:
        raise BoardError(f"bad PCI address {text!r}") from error
    if not (0 <= device < 32 and 0 <= function < 8):
        raise BoardError(f"PCI address out of range: {text!r}")
    return device, function


def load_board(path=DEFAULT_BOARD):
    with open(path, encoding="utf-8") as handle:
        board = json.load(handle)
    validate_board(board)
    return board


def validate_board(board):
    smbios = board["smbios"]
    if len(smbios["processors"]) != board["machine"]["sockets"]:
        raise BoardError("QEMU needs exactly one type 4 structure per socket")
    if len(smbios["memory_devices"]) > DIMM_CAPACITY:
        raise BoardError("more memory devices than the inventory records")
    for dimm in smbios["memory_devices"]:
        if number(dimm["type"]) != 0x02 and len(dimm["serial"]) < 8:
            raise BoardError(f"{dimm['locator']}: a serial shorter than 8 characters has no defined decoding")
    models = board["device_models"]
    addresses = set()
    for device in board["bus0_devices"]:
        addresses.add(parse_addr(device["addr"]))
        if device["model"] not in models:
            raise BoardError(f"unknown device model {device['model']}")
    for port in board["root_ports"]:
        addresses.add(parse_addr(port["addr"]))
        validate_root_port(port, models)
    validate_expander_bridges(board, addresses)
    for controller in board["sata_controllers"]:
        addresses.add(parse_addr(controller["addr"]))
        ports = [drive["port"] for drive in controller["drives"]]
        if len(set(ports)) != len(ports) or any(not 0 <= port < controller["ports"] for port in ports):
            raise BoardError(f"{controller['id']}: drive ports must be distinct and exist")
        for drive in controller["drives"]:
            if drive["size_bytes"] % 512:
                raise BoardError(f"{drive['serial']}: size must be whole 512-byte sectors")
    if parse_addr(board["esp"]["addr"]) in addresses:
        raise BoardError("the ESP shares a PCI address with another device")
    if len(board["identity_words"]) != 4:
        raise BoardError("the platform identity has four words")


def validate_root_port(port, models):
    if port["speed"] not in LINK_SPEED_CODES:
        raise BoardError(f"{port['id']}: x-speed {port['speed']} unknown")
    functions = [endpoint["function"] for endpoint in port["endpoints"]]
    if functions and 0 not in functions:
        raise BoardError(f"{port['id']}: endpoint functions without function 0")
    for endpoint in port["endpoints"]:
        if endpoint["model"] not in models:
            raise BoardError(f"unknown device model {endpoint['model']}")


def validate_expander_bridges(board, addresses):
    """Each expander bridge sits on bus 0 and opens its own root bus, above every bus
    the root bridge before it hands out."""
    first = len(board["root_ports"]) + 1
    for expander in sorted(board.get("expander_bridges", []), key=lambda e: number(e["bus_nr"])):
        where = parse_addr(expander["addr"])
        if where in addresses:
            raise BoardError(f"{expander['id']}: address {expander['addr']} is taken")
        addresses.add(where)
        bus = number(expander["bus_nr"])
        if not first <= bus <= 0xFF - len(expander["root_ports"]):
            raise BoardError(f"{expander['id']}: bus_nr {bus:#x} collides with the buses below it or runs past 0xFF")
        ports = [parse_addr(port["addr"]) for port in expander["root_ports"]]
        if len(set(ports)) != len(ports):
            raise BoardError(f"{expander['id']}: two root ports share an address")
        for port in expander["root_ports"]:
            validate_root_port(port, board["device_models"])
        first = bus + len(expander["root_ports"]) + 1


# --- SMBIOS structures handed to QEMU as files -------------------------------------------

def smbios_structure(kind, handle, formatted, strings):
    """Type, length, handle, the formatted bytes, then the string set and its double NUL."""
    header = struct.pack("<BBH", kind, 4 + len(formatted), handle)
    text = b"".join(s.encode("ascii") + b"\0" for s in strings)
    return header + formatted + (text if strings else b"\0") + b"\0"


def bios_structure(bios):
    formatted = struct.pack("<BBHBB", 1, 2, 0xE800, 3, 0x3F)  # vendor, version, segment, date, ROM size
    formatted += struct.pack("<Q", 0x08)  # characteristics: not supported bits left clear
    formatted += bytes([0x03, 0x08])  # ACPI, USB legacy / UEFI supported
    formatted += bytes([bios["major"], bios["minor"], 0xFF, 0xFF])
    return smbios_structure(0, number(bios["handle"]), formatted, [bios["vendor"], bios["version"], bios["date"]])


def processor_structure(cpu):
    formatted = bytearray(0x2A - 4)
    def put(offset, fmt, value):
        struct.pack_into(fmt, formatted, offset - 4, value)
    put(0x04, "<B", 1)  # socket designation
    put(0x05, "<B", 3)  # central processor
    put(0x06, "<B", 0xB3)  # family: Xeon
    put(0x07, "<B", 2)  # manufacturer
    put(0x10, "<B", 3)  # version
    put(0x12, "<H", 100)  # external clock
    put(0x14, "<H", cpu["max_speed"])
    put(0x16, "<H", cpu["current_speed"])
    put(0x18, "<B", 0x41)  # populated, enabled
    put(0x19, "<B", 0x01)
    for offset in (0x1A, 0x1C, 0x1E):
        put(offset, "<H", 0xFFFF)
    put(0x23, "<B", cpu["cores"])
    put(0x24, "<B", cpu["cores"])
    put(0x25, "<B", cpu["threads"])
    put(0x26, "<H", 0x00FC)
    put(0x28, "<H", 0xB3)
    return smbios_structure(4, number(cpu["handle"]), bytes(formatted), [cpu["socket"], cpu["manufacturer"], cpu["version"]])


def memory_device_structure(dimm, array_handle):
    formatted = bytearray(0x28 - 4)
    def put(offset, fmt, value):
        struct.pack_into(fmt, formatted, offset - 4, value)
    populated = dimm["size_mb"] != 0
    put(0x04, "<H", array_handle)
    put(0x06, "<H", 0xFFFE)
    put(0x08, "<H", 72 if populated else 0xFFFF)
    put(0x0A, "<H", 64 if populated else 0xFFFF)
    put(0x0C, "<H", dimm["size_mb"])
    put(0x0E, "<B", 0x09)  # DIMM
    put(0x10, "<B", 1)  # device locator
    put(0x11, "<B", 2)  # bank locator
    put(0x12, "<B", number(dimm["type"]))
    put(0x13, "<H", number(dimm["type_detail"]))
    put(0x15, "<H", dimm["speed"])
    put(0x17, "<B", 3)
    put(0x18, "<B", 4)
    put(0x19, "<B", 5)
    put(0x1A, "<B", 6)
    put(0x1B, "<B", 2 if populated else 0)
    put(0x20, "<H", dimm["speed"])
    strings = [dimm["locator"], dimm["bank"], dimm["manufacturer"], dimm["serial"], "NotAvailable", dimm["part"]]
    return smbios_structure(17, number(dimm["handle"]), bytes(formatted), strings)


def smbios_files(board):
    """The structures in command-line order: BIOS first, then processors, then memory."""
    smbios = board["smbios"]
    array = number(smbios["memory_array_handle"])
    return ([("bios", bios_structure(smbios["bios"]))] +
            [(f"cpu{i}", processor_structure(cpu)) for i, cpu in enumerate(smbios["processors"])] +
            [(f"dimm{i}", memory_device_structure(dimm, array)) for i, dimm in enumerate(smbios["memory_devices"])])


# --- The inventory the management controller must receive --------------------------------

def fixed_text(text, width):
    raw = text.encode("ascii")[:width]
    return raw + bytes(width - len(raw))


def record_header(kind, instance, status, record_size, pci):
    header = struct.pack("<HHBBBBB", 0x4544, record_size - 73, kind, instance, status, 1 if pci else 0, 64)
    return bytearray(header)


def cpu_record(cpu, instance):
    record = bytearray(CPU_RECORD_SIZE)
    record[0:9] = record_header(1, instance, 0x81 if cpu["cores"] else 0, CPU_RECORD_SIZE, False)
    record[9:17] = b"(CPU_0)\0" if instance == 0 else b"(CPU_1)\0"
    record[73] = instance + 1
    record[74] = cpu["cores"] & 0xFF
    record[75] = cpu["threads"] & 0xFF
    struct.pack_into("<I", record, 84, cpu["max_speed"])
    record[88:94] = b"Intel\0"
    record[104:125] = b"Intel Xeon processor\0"
    record[164:230] = fixed_text(cpu["version"], 66)
    return bytes(record)


def hex_nibble(character):
    return character - 0x30 if character < 0x3A else character - 0x37


def dimm_serial_bytes(dimm):
    if number(dimm["type"]) == 0x02:
        return bytes(4)
    raw = dimm["serial"].encode("ascii")
    return bytes(((hex_nibble(raw[2 * i]) * 16) + hex_nibble(raw[2 * i + 1])) % 256 for i in range(4))


def dimm_record(dimm, instance):
    record = bytearray(DIMM_RECORD_SIZE)
    record[0:9] = record_header(8, instance, 0x81 if dimm["size_mb"] else 0, DIMM_RECORD_SIZE, False)
    record[9:73] = fixed_text(dimm["locator"], 64)
    record[73] = instance + 1
    struct.pack_into("<HH", record, 74, dimm["size_mb"], dimm["speed"])
    record[78:108] = fixed_text(dimm["manufacturer"], 30)
    record[108:110] = b"%02X" % number(dimm["type"])
    record[118:122] = b"%04X" % number(dimm["type_detail"])
    record[128:133] = b"1.2V\0"
    record[138:142] = dimm_serial_bytes(dimm)
    record[142:752] = fixed_text(dimm["part"], 610)
    return bytes(record)


def root_bridges(board):
    """(first bus, last bus) of each root bridge in handle order, as its Configuration()
    reports them once OVMF has enumerated: the main one first, then one per expander
    bridge by ascending bus_nr. The bus-number descriptor covers the root bus and the
    buses handed out below it (one per root port here), not every bus the root bridge
    would decode."""
    roots = [(0, len(board["root_ports"]))]
    roots += sorted((number(expander["bus_nr"]), len(expander["root_ports"]))
                    for expander in board.get("expander_bridges", []))
    return [(bus, bus + ports) for bus, ports in roots]


def root_port_buses(board):
    """(port, bus of the port, its secondary bus) in the order of the inventory's scan.
    OVMF's PCI bus driver numbers the bridges below each root bus depth first, in device
    and function order, from the root bus + 1 on. Nothing here sits behind an endpoint,
    so every root port's secondary bus is the next number, whether the port is empty or
    not."""
    roots = [(0, board["root_ports"])]
    roots += [(number(expander["bus_nr"]), expander["root_ports"]) for expander in board.get("expander_bridges", [])]
    found = []
    for root_bus, ports in sorted(roots, key=lambda root: root[0]):
        ports = sorted(ports, key=lambda port: parse_addr(port["addr"]))
        found += [(port, root_bus, bus) for bus, port in enumerate(ports, start=root_bus + 1)]
    return found


def link_status(board, port):
    """A PCI Express endpoint trains the link to 2.5 GT/s x1; without one the root port
    keeps the chosen values."""
    function0 = [e for e in port["endpoints"] if e["function"] == 0]
    if function0 and board["device_models"][function0[0]["model"]]["pcie"]:
        return 1, 1
    return LINK_SPEED_CODES[port["speed"]], port["width"]


def pci_record(model, bus, function, instance, speed, width):
    record = bytearray(PCI_RECORD_SIZE)
    record[0:9] = record_header(0x20, instance, 0x81, PCI_RECORD_SIZE, True)
    name = "Bus=%2X Dev=%2X Fun=%2X" % (bus, 0, function)
    record[9:73] = fixed_text(name, 64)
    record[73] = instance + 1
    record[75] = instance + 1
    record[78] = bus
    record[79] = function
    struct.pack_into("<HHHH", record, 80, number(model["vendor"]), number(model["device"]),
                     number(model["subsystem_vendor"]), number(model["subsystem"]))
    klass = number(model["class"])
    record[90] = (klass >> 8) & 0xFF
    record[91] = (klass >> 16) & 0xFF
    record[537] = speed
    record[538] = width
    return bytes(record)


def expected_pci_records(board):
    records = []
    for port, _, bus in root_port_buses(board):
        if not port["endpoints"]:
            continue
        function0 = next(e for e in port["endpoints"] if e["function"] == 0)
        if (number(board["device_models"][function0["model"]]["class"]) >> 16) in (0x06, 0x08):
            continue
        speed, width = link_status(board, port)
        for endpoint in sorted(port["endpoints"], key=lambda e: e["function"]):
            if len(records) == PCI_CAPACITY:
                return records
            model = board["device_models"][endpoint["model"]]
            records.append(pci_record(model, bus, endpoint["function"], len(records), speed, width))
    return records


def identity_group(words):
    """Interface words at offsets 4, 6, 8, 10 go out as 6, 4, 10, 8."""
    w4, w6, w8, w10 = (number(word) for word in words)
    return struct.pack("<HHHH", w6, w4, w10, w8)


def expected_inventory(board):
    """The whole image, CRC included, as the board must produce it."""
    smbios = board["smbios"]
    cpus = [cpu_record(cpu, i) for i, cpu in enumerate(smbios["processors"][:CPU_CAPACITY])]
    dimms = [dimm_record(dimm, i) for i, dimm in enumerate(smbios["memory_devices"][:DIMM_CAPACITY])]
    pcis = expected_pci_records(board)
    total = HEADER_SIZE + len(cpus) * CPU_RECORD_SIZE + len(dimms) * DIMM_RECORD_SIZE + len(pcis) * PCI_RECORD_SIZE
    header = bytearray(HEADER_SIZE)
    header[3:7] = b"SHIM"
    struct.pack_into("<II", header, 7, 1, total - 3)
    header[23] = 1
    header[24] = 1
    header[25:41] = fixed_text(smbios["bios"]["version"], 16)
    group = identity_group(board["identity_words"])
    header[41:49] = group
    header[51:59] = group
    header[61] = 1 if cpus else 0
    header[62] = 1 if dimms else 0
    header[63] = 1 if pcis else 0
    header[64] = (len(cpus) + len(dimms) + len(pcis)) & 0xFF
    image = bytearray(header + b"".join(cpus) + b"".join(dimms) + b"".join(pcis))
    struct.pack_into("<I", image, 15, zlib.crc32(bytes(image[3:])) & 0xFFFFFFFF)
    return bytes(image)


def crc_verdict(image):
    """(stored, recomputed) CRC of an image, the receiver's check."""
    if len(image) < HEADER_SIZE:
        raise BoardError("image shorter than its header")
    stored = struct.unpack_from("<I", image, 15)[0]
    zeroed = bytearray(image)
    zeroed[15:19] = bytes(4)
    return stored, zlib.crc32(bytes(zeroed[3:])) & 0xFFFFFFFF


# --- SATA_INFO messages ---------------------------------------------------------------------

def hdd_size_gb(size_bytes):
    """Decimal gigabytes as the drive's IDENTIFY data sizes it: 48-bit sector count of
    512-byte sectors, thousands taken step by step with truncation."""
    sectors = size_bytes // 512
    megabytes = (((sectors // 1000) * 512) // 1000) & 0xFFFFFFFF
    return (megabytes // 1000) & 0xFFFF


def ata_text_fields(drive):
    # QEMU pads both strings with blanks; the serial loses its leading blanks and is
    # zero-filled at the end, the model keeps its blanks but loses its 40th byte.
    serial = drive["serial"][:20].ljust(20).encode("ascii")
    stripped = serial.lstrip(b" \0")
    serial = (stripped if stripped else serial).ljust(20, b"\0")
    model = drive["model"][:40].ljust(40).encode("ascii")
    return model[:39] + b"\0", serial


def sata_message(index, port_id, drive=None):
    message = bytearray(SATA_INFO_SIZE)
    message[0] = index
    message[1] = port_id
    if drive is not None:
        message[2] = 1
        model, serial = ata_text_fields(drive)
        message[3:43] = model
        message[43:63] = serial
        struct.pack_into(">H", message, 63, hdd_size_gb(drive["size_bytes"]))
    return bytes(message)


def expected_sata_messages(board):
    """Drives first, in the order the firmware reports Disk Info (controllers in PCI
    device/function order as they are connected, ports ascending), then every port of
    the table that no drive claimed, in table order."""
    table = list(SATA_PORT_TABLE)
    messages = []
    controllers = sorted(board["sata_controllers"], key=lambda c: parse_addr(c["addr"]))
    for controller in controllers:
        for drive in sorted(controller["drives"], key=lambda d: d["port"]):
            port_id = (controller["port_id_base"] | drive["port"]) & 0xFF
            index = table.index(port_id) if port_id in table else 0
            messages.append(sata_message(index, port_id, drive))
            table = [0xFF if entry == port_id else entry for entry in table]
    for index, entry in enumerate(table):
        if entry != 0xFF:
            messages.append(sata_message(index, entry))
    return messages


def disk_info_handle_count(board):
    """Disk Info instances the firmware installs: one per AHCI drive and one per NVMe
    namespace. An nvme device without a drive has no namespace."""
    drives = sum(len(controller["drives"]) for controller in board["sata_controllers"])
    nvme = sum(1 for port, _, _ in root_port_buses(board) for e in port["endpoints"]
               if e["model"] == "nvme" and "drive" in e.get("props", {}))
    return drives + nvme


# --- Setup variables and the harness's configuration ---------------------------------------

def variable_pattern(seed, size, options, fill):
    data = bytearray((seed + 37 * index) & 0xFF for index in range(size))
    for offset in options:
        data[offset] = fill
    return data


def rest_digest(data, options):
    """CRC-32 of a record with its option bytes counted as 0, as the harness reports it."""
    data = bytearray(data)
    for offset in options:
        data[offset] = 0
    return zlib.crc32(bytes(data)) & 0xFFFFFFFF


def expected_variables(board):
    """Per stage, the option bytes and the digest of the rest. The start clears 888, 1179
    and 135 but leaves 891; the key sets all four; the harness then writes 0 to all four
    before the disarm, and a press after the disarm must change nothing."""
    fill = number(board["setup_variables"]["option_fill"])
    seeds = [number(seed) for seed in board["setup_variables"]["pattern_seeds"]]
    digests = {}
    for (name, size, options), seed in zip(SETUP_VARIABLES, seeds):
        digests[name] = rest_digest(variable_pattern(seed, size, options, fill), options)
    created = {"setup888": fill, "setup891": fill, "pch1179": fill, "socket135": fill}
    start = {"setup888": 0, "setup891": fill, "pch1179": 0, "socket135": 0}
    key = {"setup888": 1, "setup891": 1, "pch1179": 1, "socket135": 1}
    disarm = {"setup888": 0, "setup891": 0, "pch1179": 0, "socket135": 0}
    sizes = {name: size for name, size, _ in SETUP_VARIABLES}
    return {"created": created, "start": start, "key": key, "disarm": disarm}, digests, sizes


def harness_config(board, platform_transport=False):
    """\\BOARD.CFG: signature, identity words, option fill, who produces the management
    transport (0 the board's recorder, 1 a platform driver that reaches a BMC), pattern
    seeds, key wait."""
    words = [number(word) for word in board["identity_words"]]
    seeds = [number(seed) for seed in board["setup_variables"]["pattern_seeds"]]
    return (CONFIG_SIGNATURE + struct.pack("<4HBB2x3II", *words, number(board["setup_variables"]["option_fill"]),
                                           1 if platform_transport else 0, *seeds, board["key_wait_seconds"]))
