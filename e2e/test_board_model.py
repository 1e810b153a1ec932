"""Unit tests of the board model: the expected bytes every board check rests on."""

import copy
import os
import struct
import sys
import unittest
import zlib

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import board_model as model  # noqa: E402


def board():
    return model.load_board()


class RecordLayouts(unittest.TestCase):
    def test_processor_record_fields(self):
        cpu = {"cores": 32, "threads": 64, "max_speed": 3500, "version": "X" * 80}
        record = model.cpu_record(cpu, 1)
        self.assertEqual(len(record), 230)
        self.assertEqual(record[0:9], bytes([0x44, 0x45, 157, 0, 1, 1, 0x81, 0, 64]))
        self.assertEqual(record[9:17], b"(CPU_1)\0")
        self.assertEqual((record[73], record[74], record[75]), (2, 32, 64))
        self.assertEqual(struct.unpack_from("<I", record, 84)[0], 3500)
        self.assertEqual(record[88:94], b"Intel\0")
        self.assertEqual(record[104:125], b"Intel Xeon processor\0")
        # A version longer than its 66-byte field is cut, never spilled.
        self.assertEqual(record[164:230], b"X" * 66)

    def test_processor_without_cores_is_absent(self):
        record = model.cpu_record({"cores": 0, "threads": 0, "max_speed": 0, "version": ""}, 0)
        self.assertEqual((record[6], record[9:17]), (0, b"(CPU_0)\0"))

    def test_memory_device_serial_rules(self):
        populated = {"type": "0x1A", "serial": "1A2B3C4D"}
        self.assertEqual(model.dimm_serial_bytes(populated), bytes.fromhex("1A2B3C4D"))
        self.assertEqual(model.dimm_serial_bytes({"type": "0x1A", "serial": "0000ABCD"}), bytes.fromhex("0000ABCD"))
        # Memory type Unknown ignores the string, even one that is no hexadecimal.
        self.assertEqual(model.dimm_serial_bytes({"type": "0x02", "serial": "NO DIMM"}), bytes(4))
        # Lower-case letters go through the same arithmetic without a test.
        self.assertEqual(model.dimm_serial_bytes({"type": "0x1A", "serial": "aa000000"})[0], ((0x61 - 0x37) * 16 + 0x61 - 0x37) % 256)

    def test_memory_device_record_fields(self):
        dimm = {"locator": "L" * 64, "size_mb": 0, "speed": 0, "manufacturer": "M" * 40, "type": "0x1A",
                "type_detail": "0x0080", "serial": "0000ABCD", "part": "P1"}
        record = model.dimm_record(dimm, 11)
        self.assertEqual(len(record), 752)
        self.assertEqual(record[2:9], bytes([679 & 0xFF, 679 >> 8, 8, 11, 0, 0, 64]))
        self.assertEqual(record[9:73], b"L" * 64)  # a 64-character locator leaves no terminator
        self.assertEqual(record[78:108], b"M" * 30)
        self.assertEqual((record[108:110], record[118:122], record[128:133]), (b"1A", b"0080", b"1.2V\0"))
        self.assertEqual(record[142:145], b"P1\0")

    def test_pci_record_name_and_fields(self):
        model_ids = {"vendor": "0x8086", "device": "0x100E", "subsystem_vendor": "0x1AF4", "subsystem": "0x1100", "class": "0x020000"}
        record = model.pci_record(model_ids, 0x3B, 1, 4, 3, 16)
        self.assertEqual(record[9:30], b"Bus=3B Dev= 0 Fun= 1\0")
        self.assertEqual(model.pci_record(model_ids, 5, 0, 0, 0, 0)[9:29], b"Bus= 5 Dev= 0 Fun= 0")
        self.assertEqual((record[73], record[74], record[75], record[78], record[79]), (5, 0, 5, 0x3B, 1))
        self.assertEqual(struct.unpack_from("<4H", record, 80), (0x8086, 0x100E, 0x1AF4, 0x1100))
        self.assertEqual((record[90], record[91], record[537], record[538]), (0x00, 0x02, 3, 16))


class WholeInventory(unittest.TestCase):
    def test_board_image_size_header_and_crc(self):
        b = board()
        image = model.expected_inventory(b)
        cpus, dimms, pcis = 2, len(b["smbios"]["memory_devices"]), len(model.expected_pci_records(b))
        self.assertEqual(len(image), 67 + 230 * cpus + 752 * dimms + 563 * pcis)
        self.assertEqual(image[3:7], b"SHIM")
        self.assertEqual(struct.unpack_from("<II", image, 7), (1, len(image) - 3))
        self.assertEqual(image[64], cpus + dimms + pcis)
        self.assertEqual(image[0:3], bytes(3))
        stored, computed = model.crc_verdict(image)
        self.assertEqual(stored, computed)
        self.assertEqual(image[41:49], image[51:59])

    def test_crc_catches_a_changed_byte_but_not_the_reserved_prefix(self):
        image = bytearray(model.expected_inventory(board()))
        image[0] = 0x77
        self.assertEqual(*model.crc_verdict(bytes(image)))
        image[100] ^= 1
        stored, computed = model.crc_verdict(bytes(image))
        self.assertNotEqual(stored, computed)
        with self.assertRaises(model.BoardError):
            model.crc_verdict(bytes(10))

    def test_identity_word_order(self):
        self.assertEqual(model.identity_group(["0x1111", "0x2222", "0x3333", "0x4444"]),
                         struct.pack("<4H", 0x2222, 0x1111, 0x4444, 0x3333))

    def test_pci_records_follow_the_topology(self):
        b = board()
        records = model.expected_pci_records(b)
        buses = [(r[78], r[79]) for r in records]
        self.assertEqual(buses, [(1, 0), (2, 0), (3, 0), (3, 1), (0x81, 0)])
        self.assertEqual([r[5] for r in records], [0, 1, 2, 3, 4])
        # The e1000 has no PCI Express capability: its port shows the chosen 8 GT/s x16.
        self.assertEqual((records[0][537], records[0][538]), (3, 16))
        self.assertEqual((records[3][537], records[3][538]), (1, 1))
        # Behind the expander bridge: its own root port's chosen 5 GT/s x2.
        self.assertEqual((records[4][537], records[4][538]), (2, 2))
        self.assertEqual(records[4][9:29], b"Bus=81 Dev= 0 Fun= 0")

    def test_root_buses_of_expander_bridges(self):
        b = copy.deepcopy(board())
        port = {"id": "x", "addr": "00.0", "chassis": 9, "port": 9, "speed": "8", "width": 4,
                "endpoints": [{"function": 0, "model": "e1000"}]}
        b["expander_bridges"] = [
            {"id": "pxb2", "addr": "0b.0", "bus_nr": 0xC0, "root_ports": [dict(port, id="c1")]},
            {"id": "pxb1", "addr": "0a.0", "bus_nr": "0x40",
             "root_ports": [dict(port, id="a2", addr="01.0"), dict(port, id="a1", addr="00.0", endpoints=[])]},
        ]
        model.validate_board(b)
        placed = [(p["id"], root, bus) for p, root, bus in model.root_port_buses(b)]
        self.assertEqual(placed, [("rp1", 0, 1), ("rp2", 0, 2), ("rp3", 0, 3), ("rp4", 0, 4),
                                  ("a1", 0x40, 0x41), ("a2", 0x40, 0x42), ("c1", 0xC0, 0xC1)])
        self.assertEqual(model.root_bridges(b), [(0, 4), (0x40, 0x42), (0xC0, 0xC1)])
        self.assertEqual([r[78] for r in model.expected_pci_records(b)][-2:], [0x42, 0xC1])

    def test_a_bridge_class_endpoint_is_not_recorded(self):
        b = copy.deepcopy(board())
        b["device_models"]["e1000"]["class"] = "0x060400"
        self.assertEqual([r[78] for r in model.expected_pci_records(b)], [2, 3, 3])

    def test_pci_capacity_is_24(self):
        b = copy.deepcopy(board())
        port = b["root_ports"][0]
        port["endpoints"] = [{"function": f, "model": "e1000"} for f in range(8)]
        b["root_ports"] = [dict(port, id=f"rp{i}", addr=f"{0x10 + i:x}.0") for i in range(4)]
        self.assertEqual(len(model.expected_pci_records(b)), 24)


class SataMessages(unittest.TestCase):
    def test_capacity_arithmetic(self):
        self.assertEqual(model.hdd_size_gb(1953525168 * 512), 1000)
        self.assertEqual(model.hdd_size_gb(2 << 40), 2199)
        # 65,536 GB or more keeps only the low 16 bits.
        self.assertEqual(model.hdd_size_gb(70000 * 10 ** 9), 70000 & 0xFFFF)

    def test_serial_and_model_fields(self):
        model_field, serial = model.ata_text_fields({"serial": "  ABC", "model": "M" * 45})
        self.assertEqual(serial, b"ABC" + b" " * 15 + b"\0\0")
        self.assertEqual(model_field, b"M" * 39 + b"\0")
        _, blank = model.ata_text_fields({"serial": "", "model": ""})
        self.assertEqual(blank, b" " * 20)

    def test_drive_then_empty_ports(self):
        b = copy.deepcopy(board())
        b["sata_controllers"][0]["drives"] = []
        b["sata_controllers"][1]["drives"] = [{"port": 2, "model": "X", "serial": "S", "size_bytes": 512000}]
        messages = model.expected_sata_messages(b)
        self.assertEqual(len(messages), 14)
        self.assertEqual(messages[0][:3], bytes([10, 0x12, 1]))
        self.assertEqual([m[1] for m in messages[1:]], [0, 1, 2, 3, 4, 5, 6, 7, 0x10, 0x11, 0x13, 0x14, 0x15])
        self.assertTrue(all(m[2:] == bytes(63) for m in messages[1:]))

    def test_no_drives_gives_fourteen_empty_ports(self):
        b = copy.deepcopy(board())
        for controller in b["sata_controllers"]:
            controller["drives"] = []
        messages = model.expected_sata_messages(b)
        self.assertEqual([(m[0], m[1]) for m in messages], list(enumerate(model.SATA_PORT_TABLE)))


class BoardDefinition(unittest.TestCase):
    def test_inconsistent_boards_are_refused(self):
        cases = {
            "socket count": lambda b: b["smbios"]["processors"].pop(),
            "duplicate port": lambda b: b["sata_controllers"][0]["drives"].append(dict(b["sata_controllers"][0]["drives"][0])),
            "short serial": lambda b: b["smbios"]["memory_devices"][0].update(serial="1234"),
            "odd size": lambda b: b["sata_controllers"][0]["drives"][0].update(size_bytes=1000),
            "unknown speed": lambda b: b["root_ports"][0].update(speed="3"),
            "bad address": lambda b: b["root_ports"][0].update(addr="40.0"),
            "esp clash": lambda b: b["esp"].update(addr="17.0"),
            "root bus among the main buses": lambda b: b["expander_bridges"][0].update(bus_nr=4),
            "root bus past 0xFF": lambda b: b["expander_bridges"][0].update(bus_nr=0xFF),
            "expander address taken": lambda b: b["expander_bridges"][0].update(addr="1c.0"),
        }
        for name, spoil in cases.items():
            with self.subTest(name):
                b = copy.deepcopy(board())
                spoil(b)
                with self.assertRaises(model.BoardError):
                    model.validate_board(b)
        with self.assertRaises(model.BoardError):
            model.number("12x")

    def test_smbios_structures(self):
        blob = model.smbios_structure(17, 0x1100, b"\x01\x02", ["A", "BC"])
        self.assertEqual(blob, bytes([17, 6, 0x00, 0x11, 1, 2]) + b"A\0BC\0\0")
        self.assertEqual(model.smbios_structure(1, 0, b"", [])[-2:], b"\0\0")
        files = model.smbios_files(board())
        self.assertEqual([blob[0] for _, blob in files], [0, 4, 4] + [17] * 6)
        self.assertEqual(files[1][1][1], 0x2A)
        self.assertEqual(files[3][1][1], 0x28)
        self.assertEqual(struct.unpack_from("<H", files[3][1], 4)[0], 0x1000)

    def test_harness_config_and_variables(self):
        b = board()
        config = model.harness_config(b)
        self.assertEqual((len(config), config[:8]), (36, b"BRDCFG01"))
        self.assertEqual(struct.unpack_from("<4H", config, 8), (0x1234, 0x5678, 0x9ABC, 0xDEF0))
        # Byte 17 says who produces the management transport; nothing else moves.
        platform = model.harness_config(b, platform_transport=True)
        self.assertEqual((config[17], platform[17]), (0, 1))
        self.assertEqual(platform[:17] + platform[18:], config[:17] + config[18:])
        stages, digests, sizes = model.expected_variables(b)
        self.assertEqual(stages["start"]["setup891"], 0xA5)
        self.assertEqual(sizes, {"setup": 1026, "pch": 1294, "socket": 298})
        data = model.variable_pattern(0x11, 1026, (888, 891), 0xA5)
        self.assertEqual(model.rest_digest(data, (888, 891)), digests["setup"])
        data[5] ^= 1
        self.assertNotEqual(model.rest_digest(data, (888, 891)), digests["setup"])
        self.assertEqual(zlib.crc32(b""), 0)


if __name__ == "__main__":
    unittest.main()
