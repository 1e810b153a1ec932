"""Judges the board-support driver's report from a platform build: how the drivers were
started, then the same facts the harness run checks (board_checks), from the same
expectations. Python standard library only."""

import board_checks

STEPS = ("CONFIG", "CAPTURE", "DEBUGCONFIG", "PEERS", "SETUPVARS", "EVENTS", "KEYWATCH", "TIMER",
         "RESETOPTIONS", "DISARM")


def check_dispatch(report, results):
    number = board_checks.number_field
    results.append((report.complete, 'completion line "BOARD COMPLETE" present'))
    for step in STEPS:
        status = number(report.steps.get(step, {}), "status")
        results.append((status == 0, f"board driver step {step} succeeded (status {report.steps.get(step, {}).get('status')})"))
    # A fresh variable store: the first boot writes "DebugMessageConfig" and resets, the
    # judged boot finds it from its start, as Roster's first message needs.
    first, config = report.steps.get("FIRSTBOOT", {}), report.steps.get("DEBUGCONFIG", {})
    results.append((number(first, "status") == 0 and number(config, "present") == 1,
                    f"the judged boot found \"DebugMessageConfig\" written by the one before ({first}, {config})"))
    order = report.steps.get("ORDER", {})
    results.append((number(order, "roster") == 0 and number(order, "hotlatch") == 0,
                    f"the board driver started before both drivers ({order or 'no report'})"))
    for name, code_type in (("Roster.efi", board_checks.BOOT_SERVICES_CODE),
                            ("Hotlatch.efi", board_checks.RUNTIME_SERVICES_CODE)):
        image = report.images.get(name, {})
        ok = (number(image, "count") == 1 and number(image, "fv") == 1 and number(image, "sameparent") == 1
              and number(image, "codetype") == code_type)
        results.append((ok, f"{name} loaded once from the firmware volume by the DXE dispatcher, "
                            f"code type {code_type} ({image or 'no report'})"))
    triggers = [number(t, "status") for t in report.triggers]
    results.append((triggers == [0, 0], f"trigger protocol installed twice ({triggers})"))


def check_report(board, report, serial):
    results = []
    check_dispatch(report, results)
    board_checks.check_root_bridges(board, report, results)
    board_checks.check_inventory(board, report, results)
    board_checks.check_sata(board, report, results)
    board_checks.check_transcripts(board, report, results)
    board_checks.check_variables(board, report, results)
    board_checks.check_console_and_tesk(report, serial, results)
    return results


# On the SMM build every Hotlatch write is an SSVS packet: the three records at its start
# and the three on the key; the disarm's resets are the board's own, and the key after the
# disarm writes nothing.
SSVS_WRITES = 6
EFI_UNSUPPORTED = 0x8000000000000003
# The board's hostile packets, each followed by an honest one, and what their status field
# shows: unseen where it lies in MMRAM, an error, or the preset left untouched.
SSVS_CASES = {"INMMRAM": "unseen", "STRADDLE": "unseen", "RBX": "error", "SIGNATURE": "error", "AH": "untouched"}


def check_ssvs(report):
    """The SSVS handler's own count as the board driver read it at its end, then the
    hostile packets: each refused with nothing written, and the handler still serving."""
    number = board_checks.number_field
    ssvs = report.steps.get("SSVS", {})
    served, refused = number(ssvs, "served"), number(ssvs, "refused")
    ok = number(ssvs, "status") == 0 and number(ssvs, "size") == 16 and served == SSVS_WRITES and refused == 0
    results = [(ok, f"every Hotlatch write went through the SSVS software SMI: {SSVS_WRITES} served, none refused "
                    f"({ssvs or 'no report'})")]
    probe = report.steps.get("SSVSPROBE", {})
    results.append((number(probe, "found") == 0, f"the board found MMRAM through the SMM access protocol ({probe})"))
    for index, (name, expected) in enumerate(SSVS_CASES.items()):
        case = report.steps.get("SSVSCASE_" + name, {})
        hostile = number(case, "hostile")
        seen = {"unseen": hostile == 0xFFFFFFFFFFFFFFFF, "error": hostile is not None and hostile >> 63 == 1,
                "untouched": hostile == EFI_UNSUPPORTED}[expected]
        unchanged = (number(case, "afterstatus") == number(case, "beforestatus") is not None
                     and number(case, "after") == number(case, "before"))
        served_after = number(case, "honest") == 0 and number(case, "readstatus") == 0 and number(case, "read") == index + 1
        results.append((seen and unchanged and served_after,
                        f"hostile packet {name.lower()}: refused ({expected}), nothing written, the next honest packet "
                        f"served ({case or 'no report'})"))
    after = report.steps.get("SSVSAFTER", {})
    cases = len(SSVS_CASES)
    results.append((number(after, "served") == SSVS_WRITES + cases and number(after, "refused") == cases,
                    f"the handler counted {SSVS_WRITES + cases} served and {cases} refused after the probes ({after})"))
    return results


def check_read_back(report):
    """After a power cycle the flash holds the last honest probe's byte, written by the
    handler alone: no hostile byte got there."""
    back = report.steps.get("READBACK", {})
    value = board_checks.number_field(back, "value")
    return [(board_checks.number_field(back, "status") == 0 and value == len(SSVS_CASES),
             f"after a power cycle the handler's last write reads back ({len(SSVS_CASES)}): {back or 'no report'}")]
