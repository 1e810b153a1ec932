"""Judges a board report against the board definition. Every expectation comes from
board_model, which derives it from board.json; nothing here reads driver code.
Python standard library only."""

import board_model as model
import board_report
import board_transcript

INVENTORY_HEADER = 0x5AC8
SATA_HEADER = 0xA7E8
BOOT_SERVICES_CODE, RUNTIME_SERVICES_CODE = 3, 5
CONSOLE_NOTICE = "Ready to debug mode ..."


def locate(board, offset):
    count_cpu = min(len(board["smbios"]["processors"]), model.CPU_CAPACITY)
    count_dimm = min(len(board["smbios"]["memory_devices"]), model.DIMM_CAPACITY)
    if offset < model.HEADER_SIZE:
        return f"header byte {offset}"
    offset -= model.HEADER_SIZE
    for name, count, size in (("processor", count_cpu, model.CPU_RECORD_SIZE),
                              ("memory device", count_dimm, model.DIMM_RECORD_SIZE),
                              ("PCI", model.PCI_CAPACITY, model.PCI_RECORD_SIZE)):
        if offset < count * size:
            return f"{name} record {offset // size} byte {offset % size}"
        offset -= count * size
    return f"beyond the records by {offset}"


def image_differences(board, expected, actual, limit=8):
    problems = []
    if len(expected) != len(actual):
        problems.append(f"length {len(actual)}, expected {len(expected)}")
    for offset in range(min(len(expected), len(actual))):
        if expected[offset] != actual[offset]:
            problems.append(f"{locate(board, offset)}: {actual[offset]:#04x}, expected {expected[offset]:#04x}")
            if len(problems) >= limit:
                problems.append("...")
                break
    return problems


def number_field(fields, key):
    value = fields.get(key)
    if value is None:
        return None
    try:
        return int(value, 0)
    except ValueError:
        return None


def check_steps(report, results):
    results.append((report.complete, 'completion line "BOARD COMPLETE" present'))
    for step in ("CONFIG", "CAPTURE", "DEBUGCONFIG", "PEERS", "SETUPVARS", "RESETOPTIONS", "DISARM"):
        status = number_field(report.steps.get(step, {}), "status")
        results.append((status == 0, f"harness step {step} succeeded (status {report.steps.get(step, {}).get('status')})"))
    for name, code_type in (("Roster.efi", BOOT_SERVICES_CODE), ("Hotlatch.efi", RUNTIME_SERVICES_CODE)):
        image = report.images.get(name, {})
        ok = all(number_field(image, key) == 0 for key in ("read", "load", "start"))
        results.append((ok and number_field(image, "codetype") == code_type,
                        f"{name} loaded and started as code type {code_type} ({image or 'no report'})"))
    triggers = [number_field(t, "status") for t in report.triggers]
    results.append((triggers == [0, 0], f"trigger protocol installed twice ({triggers})"))


def check_inventory(board, report, results):
    expected = model.expected_inventory(board)
    large = [call for call in report.bmc if call.member == "SendLargeCommand"]
    results.append((len(large) == 1, f"exactly one inventory delivered ({len(large)})"))
    if not large:
        return
    call = large[0]
    results.append((call.header == INVENTORY_HEADER, f"inventory header 0x{call.header:04X} is netfn 0x32 cmd 0x5A"))
    results.append((call.length == len(call.data) == len(expected),
                    f"inventory length {call.length} (bytes kept {len(call.data)}, board gives {len(expected)})"))
    problems = image_differences(board, expected, call.data)
    results.append((not problems, f"inventory image equals the board's, byte for byte ({len(expected)} bytes)"
                    + ("" if not problems else ": " + "; ".join(problems))))
    if len(call.data) >= model.HEADER_SIZE:
        stored, recomputed = model.crc_verdict(call.data)
        results.append((stored == recomputed, f"CRC-32 recomputed with zlib: stored {stored:#010x}, computed {recomputed:#010x}"))
        group = model.identity_group(board["identity_words"])
        results.append((call.data[41:49] == group and call.data[51:59] == group,
                        f"identity words at offsets 41 and 51: {call.data[41:49].hex()} / {call.data[51:59].hex()}"))


def check_sata(board, report, results):
    expected = model.expected_sata_messages(board)
    actual = [call for call in report.bmc if call.member == "SendCommand"]
    results.append((all(call.header == SATA_HEADER and call.length == model.SATA_INFO_SIZE == len(call.data)
                        for call in actual), "every SATA_INFO is netfn 0x3A cmd 0xA7 with 65 bytes"))
    results.append((len(actual) == len(expected), f"{len(expected)} SATA_INFO messages ({len(actual)} sent)"))
    for index, message in enumerate(expected):
        got = actual[index].data if index < len(actual) else b""
        kind = "drive" if message[2] else "empty port"
        results.append((got == message, f"SATA_INFO {index}: {kind} SataIndex {message[0]} SataPort {message[1]:#04x}"
                        + ("" if got == message else f": got {got.hex()}")))


def key_lines(board):
    image = model.expected_inventory(board)
    total = len(image)
    crc = image[15] | image[16] << 8 | image[17] << 16 | image[18] << 24
    roster = ["Inventory Function Init", "Inventory function Event initialize",
              "Number_Of_CPU = 2", "Number_Of_DIMM = C", "Number_Of_PCI = 18",
              f"Inventory data TotalSize = {total}", f"Inventory data HeaderSize = {total - 3}",
              "InvData CalCrc32 Status = Success", f"CalCrc32 = {crc:X}", "Inventory Status = Success",
              f"HandleCount = {model.disk_info_handle_count(board):X}", "Inventory function Event exit"]
    for port, _, _ in model.root_port_buses(board):
        if port["endpoints"]:
            speed, width = model.link_status(board, port)
            roster.append(f"Link_Speed = {speed:X}, Link_Width = {width:X}")
    hotlatch = ["[ORV] OemDebugEntry entry     ", "Register Simple Text Input Success...Success",
                "Init DebugOption.....", "[SetupConfig] Get Setup Config Success....Success",
                "[BiosSetupDebug] Set Variable Success....Success",
                "[PchHideOption] Set Variable PchRcConfig.PchHideOption Success....Success",
                "[SocketProcConfig] Set Variable SocketProcConfig.ProcHide Success....Success",
                "Register Chang Scu Callback Success...Success", "Change Setup Debug Option State....",
                "[BiosSetupDebug] Set Variable SetupConfig.BiosSetupDebug Success....Success",
                "Orv - OemUnregisterKey entry...", "Close unregisterKey event status = Success"]
    return roster, hotlatch


def check_transcripts(board, report, results):
    summary = report.steps.get("STATUS-SUMMARY", {})
    results.append((number_field(summary, "dropped") == 0, f"no status code dropped ({summary})"))
    roster_lines, hotlatch_lines = key_lines(board)
    sata_count = len(model.expected_sata_messages(board))
    for caller, wanted in (("Roster", roster_lines), ("Hotlatch", hotlatch_lines)):
        text = "\n".join(board_transcript.transcript(report.status, caller))
        for line in wanted:
            results.append((line in text, f"{caller} transcript has \"{line}\""))
        results.append(("ASSERT" not in text, f"{caller} transcript has no assertion"))
    roster_text = "\n".join(board_transcript.transcript(report.status, "Roster"))
    sends = roster_text.count("Send Sata hdd information status = Success")
    results.append((sends == sata_count, f"{sata_count} successful SATA sends in the transcript ({sends})"))
    hotlatch_text = "\n".join(board_transcript.transcript(report.status, "Hotlatch"))
    changes = hotlatch_text.count("Change Setup Debug Option State....")
    results.append((changes == 1, f"the key acted once, before the disarm ({changes} times)"))
    for record, (kind, _) in zip(report.status, board_transcript.render(report.status)):
        if (record.type & 0xFF) == 3 and kind != "debug":
            results.append((False, f"status record {record.number} of {record.caller} is no debug record"))
            break


def check_variables(board, report, results):
    stages, digests, sizes = model.expected_variables(board)
    for stage, wanted in stages.items():
        got = report.variables.get(stage, {})
        values = {key: number_field(got, key) for key in wanted}
        results.append((values == wanted, f"option bytes {stage}: {values}, expected {wanted}"))
        for name, digest in digests.items():
            ok = (number_field(got, f"{name}-status") == 0 and number_field(got, f"{name}-rest") == digest
                  and got.get(f"{name}-size") == str(sizes[name]))
            results.append((ok, f"{stage}: \"{name}\" record kept its other {sizes[name] - 1} bytes"))
    for number in ("1", "2"):
        results.append((number_field(report.keys.get(number, {}), "seen") == 1, f"key press {number} reached the firmware"))


def check_console_and_tesk(report, raw, results):
    text = "\n".join(board_report.clean_lines(raw))
    count = text.count(CONSOLE_NOTICE)
    results.append((count == 1, f"console notice \"{CONSOLE_NOTICE}\" on the serial port once ({count})"))
    table = number_field(report.steps.get("RUNTIME", {}), "table")
    hotlatch = next((entry for entry in report.loaded if entry.get("ours") == "Hotlatch.efi"), {})
    base, size = number_field(hotlatch, "base"), number_field(hotlatch, "size")
    service = number_field(report.steps.get("PEERS", {}), "tesk")
    # The registration library registers its own service pointer when it finds the
    # service, then the variable library its runtime-services pointer; a start that
    # succeeded withdraws nothing.
    pointers = [number_field(t, "pointer") for t in report.tesk]
    ops = [t.get("op") for t in report.tesk]
    inside = all(base is not None and size is not None and base <= number_field(t, "address") < base + size
                 for t in report.tesk)
    results.append((ops == ["register", "register"] and pointers == [service, table] and inside,
                    f"Tesk: Hotlatch registered its service pointer, then its runtime-table pointer ({report.tesk})"))


def check_root_bridges(board, report, results):
    expected = model.root_bridges(board)
    reported = [(number_field(bridge, "first"), number_field(bridge, "last")) if number_field(bridge, "buses") else None
                for bridge in report.root_bridges]
    results.append((reported == expected, "root bridges in handle order with their bus ranges: "
                    + ", ".join("none" if r is None else f"{r[0]:#04x}-{r[1]:#04x}" for r in reported)
                    + f" (board gives {', '.join(f'{first:#04x}-{last:#04x}' for first, last in expected)})"))


SATA_SEND = "Send Sata hdd information status = "


def sata_send_statuses(report):
    """Roster's status for every SATA_INFO attempt, in order, from its transcript."""
    text = "\n".join(board_transcript.transcript(report.status, "Roster"))
    return [line.split(SATA_SEND, 1)[1].strip() for line in text.split("\n") if SATA_SEND in line]


def check_sata_retry(board, report, refused, refusal, results):
    """The BMC refused the first `refused` SATA_INFO requests with a completion code whose
    status Roster prints as `refusal`: the first message then took that many failures and
    a success, every later one went at once, and the BMC kept each message once."""
    count = len(model.expected_sata_messages(board))
    wanted = [refusal] * refused + ["Success"] * count
    got = sata_send_statuses(report)
    results.append((got == wanted, f"SATA_INFO attempts: {refused} refused ({refusal}), then each message once "
                                   f"({', '.join(got) or 'none'})"))


def check_platform_transport(report, results):
    """On the BMC path the transport is the platform's driver and no recorder stands in."""
    image = report.images.get("KcsTransport.efi", {})
    started = all(number_field(image, key) == 0 for key in ("read", "load", "start"))
    recorder = number_field(report.steps.get("PEERS", {}), "recorder")
    results.append((started and recorder == 0 and not report.bmc,
                    f"KcsTransport.efi started and no recorder installed ({image or 'no report'}, recorder={recorder}, "
                    f"{len(report.bmc)} recorded calls)"))


# What the transport says only when a message went wrong: an error exit, a timeout, a
# refused chunk.
TRANSPORT_TROUBLE = ("back to idle", "timed out", "failed")


def check_transport_quiet(report, results):
    """The transport started, and on a healthy BMC no message of it went wrong."""
    lines = [line for line in board_transcript.transcript(report.status, "KcsTransport") if line.strip()]
    started = any("KCS management transport: Success" in line for line in lines)
    trouble = [line for line in lines if any(word in line for word in TRANSPORT_TROUBLE)]
    results.append((started and not trouble, f"KcsTransport installed its protocol and met no trouble "
                                             f"({'; '.join(trouble) or ', '.join(lines)})"))


INVENTORY_STATUS = "Inventory Status = "


def inventory_statuses(report):
    """What Roster printed after each inventory delivery."""
    text = "\n".join(board_transcript.transcript(report.status, "Roster"))
    return [line.split(INVENTORY_STATUS, 1)[1].strip() for line in text.split("\n") if INVENTORY_STATUS in line]


def inventory_ms(report):
    """The inventory's time (the first trigger's TSC ticks), in milliseconds, or None."""
    per100 = number_field(report.steps.get("TSC", {}), "per100ms")
    ticks = number_field(report.triggers[0], "ticks") if report.triggers else None
    return None if not per100 or ticks is None else ticks * 100 / per100


def check_bmc_store(stored, results):
    """What the BMC stored, the place of the recorder's calls on the real path."""
    results.append((not stored.other, f"the BMC's folder holds only its files ({stored.other or 'nothing else'})"))


def check_read_back(board, summary, text, results):
    """The read-back command over the simulator's LAN describes what the checks saw stored."""
    if summary is None:
        results.append((False, f"read-back over the BMC's LAN answered ({text})"))
        return
    expected = model.expected_inventory(board)
    sata = len(model.expected_sata_messages(board))
    ok = (summary["flags"] == 0x1F and summary["total_size"] == len(expected)
          and summary["stored_crc"] == summary["computed_crc"] and summary["sata_messages"] == sata)
    results.append((ok, f"read-back over LAN: flags {summary['flags']:#04x}, {summary['total_size']} bytes, "
                        f"CRC {summary['stored_crc']:#010x}/{summary['computed_crc']:#010x}, "
                        f"{summary['sata_messages']} SATA_INFO (board gives {len(expected)} bytes, {sata} messages)"))


def check_report(board, report, raw):
    results = []
    check_steps(report, results)
    check_root_bridges(board, report, results)
    check_inventory(board, report, results)
    check_sata(board, report, results)
    check_transcripts(board, report, results)
    check_variables(board, report, results)
    check_console_and_tesk(report, raw, results)
    return results


def measurements(report):
    lines = []
    per100 = number_field(report.steps.get("TSC", {}), "per100ms")
    inventory = number_field(report.triggers[0], "ticks") if report.triggers else None
    scan = number_field(report.steps.get("SCAN", {}), "ticks")
    reads = number_field(report.steps.get("SCAN", {}), "reads") or 65536
    if per100 and inventory is not None and scan:
        lines.append(f"inventory {inventory * 100 / per100:.1f} ms (TSC {inventory}), bare {reads:,}-read scan "
                     f"{scan * 100 / per100:.1f} ms (TSC {scan}), ratio {inventory / scan:.2f}")
    # The firmware's own images and the two drivers; the reporter is no part of the firmware.
    sizes = sorted(((number_field(e, "size") or 0, e.get("ours", "-")) for e in report.loaded
                    if e.get("ours") in ("-", "Roster.efi", "Hotlatch.efi")), reverse=True)
    for name in ("Roster.efi", "Hotlatch.efi"):
        for rank, (size, ours) in enumerate(sizes, start=1):
            if ours == name:
                lines.append(f"{name} image {size} bytes: rank {rank} of {len(sizes)} loaded images (1 = largest)")
    return lines


def hot_key_summary(report):
    """The option bytes at each stage, as a person follows the hot key."""
    stages = (("created", "as the board starts them"), ("start", "after Hotlatch started"),
              ("key", "after Ctrl+Alt+d"), ("disarm", "after the disarm and a second Ctrl+Alt+d"))
    lines = []
    for stage, meaning in stages:
        got = report.variables.get(stage)
        if got is None:
            lines.append(f"{meaning}: not reported")
            continue
        lines.append(f"{meaning}: Setup[888]={got.get('setup888')} Setup[891]={got.get('setup891')} "
                     f"PchRcConfiguration[1179]={got.get('pch1179')} SocketProcessorCoreConfig[135]={got.get('socket135')}")
    return lines


def print_verdict(name, results, report, failures_only, seconds):
    """Prints every check (or only the failures), the hot-key stages and the measurements,
    then the count line; returns the exit status."""
    for ok, text in results:
        if not (ok and failures_only):
            print(("ok   " if ok else "FAIL ") + text)
    for line in hot_key_summary(report):
        print("hot key " + line)
    for line in measurements(report):
        print("measure " + line)
    failed = sum(1 for ok, _ in results if not ok)
    print(f"{name}: {len(results) - failed} of {len(results)} checks passed, wall time {seconds:.1f} s")
    return 1 if failed else 0
