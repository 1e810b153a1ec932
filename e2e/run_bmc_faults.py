#!/usr/bin/env python3
"""The virtual board with the management controller failing under the drivers, one case a
run, each with KcsTransport.efi over QEMU's KCS interface:

  no-bmc   the KCS interface with no BMC behind it: every call fails at once, the
           inventory and the boot go on, and the whole inventory takes at most 2 s;
  restart  ipmi_sim killed while a chunk of the image is on its way and started again on
           the same state: Roster reports the failed transfer, the previous inventory
           stays whole, and the next boot's transfer stores the new one;
  no-device no KCS interface at all (its ports read 0xFF): the same as no-bmc;
  silent   a BMC that takes every request and never answers: as no-bmc, every call
           fails, the boot goes on and the inventory takes at most 2 s (QEMU answers
           an unanswered request itself, 0xC3, after its own wait; the transport takes
           that for an unresponsive BMC);
  reject   the BMC refuses a chunk (the tap inverts one of its bytes, so its CRC-16 fails):
           Roster reports the failure, nothing is stored as the inventory, the SATA
           messages still arrive.

Python standard library only."""

import argparse
import copy
import os
import shutil
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import board_bmc  # noqa: E402
import board_checks  # noqa: E402
import board_model  # noqa: E402
import board_qemu  # noqa: E402
import board_report  # noqa: E402
import board_transcript  # noqa: E402
import run_board  # noqa: E402

NO_BMC_LIMIT_MS = 2000
# The largest chunk of the transfer; the tap acts on a WRITE in the middle of the image.
CHUNK = 224


def middle_write(board):
    writes = -(-len(board_model.expected_inventory(board)) // CHUNK)
    return writes // 2 + 1


def boot_and_read(board, args, root, started, services):
    raw = run_board.boot(board, args, root, started, services=services)
    report = board_report.parse_or_report(raw)
    return report, raw


def check_boot_went_on(report, results):
    results.append((report is not None and report.complete, "the boot went on to the harness's completion line"))
    return report is not None


def check_failed_status(report, results, what):
    statuses = board_checks.inventory_statuses(report)
    failed = len(statuses) == 1 and statuses[0] != "Success"
    results.append((failed, f"Roster reports the {what}: Inventory Status = {', '.join(statuses) or 'nothing'}"))


def case_no_bmc(board, args, root, started, results, service=None):
    report, _ = boot_and_read(board, args, root, started, [service or board_bmc.NoBmc()])
    if not check_boot_went_on(report, results):
        return
    check_failed_status(report, results, "inventory no BMC took")
    attempts = board_checks.sata_send_statuses(report)
    messages = len(board_model.expected_sata_messages(board))
    results.append((len(attempts) == 3 * messages and "Success" not in attempts,
                    f"every SATA_INFO tried three times and failed ({len(attempts)} attempts for {messages} messages)"))
    milliseconds = board_checks.inventory_ms(report)
    results.append((milliseconds is not None and milliseconds <= NO_BMC_LIMIT_MS,
                    f"the whole inventory without a BMC took {milliseconds if milliseconds is None else round(milliseconds)} ms "
                    f"(at most {NO_BMC_LIMIT_MS})"))


def case_no_device(board, args, root, started, results):
    # A service that adds nothing to QEMU's command line.
    case_no_bmc(board, args, root, started, results, board_qemu.Service())


def case_silent(board, args, root, started, results):
    silent = board_bmc.SilentBmc()
    case_no_bmc(board, args, root, started, results, silent)
    results.append((silent.requests > 0, f"the silent BMC received {silent.requests} requests"))


def case_restart(board, args, root, started, results):
    # What an earlier boot left: the same board with other identity words, so the two
    # images differ and a mix of them would show.
    earlier = copy.deepcopy(board)
    earlier["identity_words"] = [f"{board_model.number(word) ^ 0xFFFF:#06x}" for word in board["identity_words"]]
    previous = board_model.expected_inventory(earlier)
    state = os.path.join(root, "bmc-state")
    os.makedirs(os.path.join(state, board_bmc.STORE_DIR))
    with open(os.path.join(state, board_bmc.STORE_DIR, board_bmc.INVENTORY_FILE), "wb") as handle:
        handle.write(previous)

    bmc = run_board.bmc_service(args, options="", state=state, attach=False)
    restarted = []

    def kill_and_restart():
        pid = bmc.process.pid
        bmc.restart()
        restarted.append((pid, bmc.process.pid))

    tap = board_bmc.VmTap(bmc, hold_write=middle_write(board), on_hold=kill_and_restart)
    report, _ = boot_and_read(board, args, os.path.join(root, "boot1"), started, [bmc, tap])
    results.append((tap.held.is_set() and len(restarted) == 1 and restarted[0][0] != restarted[0][1],
                    f"ipmi_sim killed with WRITE {tap.hold_write} of the image on its way, and started again "
                    f"(pids {restarted})"))
    if check_boot_went_on(report, results):
        check_failed_status(report, results, "broken transfer")
    stored = board_bmc.read_store(os.path.join(state, board_bmc.STORE_DIR))
    board_checks.check_bmc_store(stored, results)
    results.append((stored.inventory == previous, "after the broken transfer the stored inventory is the earlier "
                                                  f"one, whole ({len(stored.inventory or b'')} bytes)"))

    bmc = run_board.bmc_service(args, options="", state=state)
    report, raw = boot_and_read(board, args, os.path.join(root, "boot2"), started, [bmc])
    if not check_boot_went_on(report, results):
        return
    statuses = board_checks.inventory_statuses(report)
    results.append((statuses == ["Success"], f"the next boot's transfer succeeds ({statuses})"))
    stored = bmc.stored()
    board_checks.check_bmc_store(stored, results)
    report.bmc = stored.deliveries()
    board_checks.check_inventory(board, report, results)
    board_checks.check_sata(board, report, results)


def case_reject(board, args, root, started, results):
    bmc = run_board.bmc_service(args, options="", attach=False)
    tap = board_bmc.VmTap(bmc, spoil_write=middle_write(board))
    report, _ = boot_and_read(board, args, root, started, [bmc, tap])
    results.append((tap.spoiled, f"WRITE {tap.spoil_write} reached the BMC with a byte of its chunk inverted"))
    if not check_boot_went_on(report, results):
        return
    statuses = board_checks.inventory_statuses(report)
    results.append((statuses == ["Device Error"], f"Roster reports the refused chunk: Inventory Status = {statuses}"))
    transport = "\n".join(board_transcript.transcript(report.status, "KcsTransport")).lower()
    line = f"large command chunk at {(tap.spoil_write - 1) * CHUNK:x} failed: device error"
    results.append((line in transport, f"the transport names the refused chunk: \"{line}\""))
    stored = bmc.stored()
    board_checks.check_bmc_store(stored, results)
    results.append((stored.inventory is None, "no inventory stored from the refused transfer"))
    report.bmc = stored.deliveries()
    board_checks.check_sata(board, report, results)


CASES = {"no-bmc": case_no_bmc, "no-device": case_no_device, "silent": case_silent, "restart": case_restart, "reject": case_reject}


def parse_args(argv):
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--case", choices=sorted(CASES), required=True)
    parser.add_argument("--board", default=os.path.join(here, "board", "board.json"))
    parser.add_argument("--harness", required=True)
    parser.add_argument("--roster", required=True)
    parser.add_argument("--hotlatch", required=True)
    parser.add_argument("--debug-render")
    run_board.add_bmc_options(parser, here)
    board_qemu.add_run_options(parser, timeout=120)
    args = parser.parse_args(argv)
    args.bmc = "ipmi_sim"
    return args


def main(argv=None):
    args = parse_args(argv)
    started = time.monotonic()
    board = run_board.load(args)
    missing = run_board.check_inputs(args, board)
    if missing:
        print("FAIL missing: " + ", ".join(missing))
        return 1
    root = tempfile.mkdtemp(prefix="board-bmc-fault-")
    results = []
    try:
        CASES[args.case](board, args, root, started, results)
    finally:
        shutil.rmtree(root, ignore_errors=True)
    failed = 0
    for ok, text in results:
        failed += not ok
        print(("ok   " if ok else "FAIL ") + text)
    print(f"e2e_bmc_{args.case}: {len(results) - failed} of {len(results)} checks passed, "
          f"wall time {time.monotonic() - started:.1f} s")
    return 1 if failed or not results else 0


if __name__ == "__main__":
    sys.exit(main())
