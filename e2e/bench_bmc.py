#!/usr/bin/env python3
"""What the real BMC path costs: boots the virtual board with the harness's recorder and
then with KcsTransport over QEMU's emulated KCS interface to ipmi_sim (through a tap that
only watches), and prints the inventory's time in each, the image's transfer time (from
the tap's first OPEN to the COMMIT's answer, on the host's clock) and its bytes per
second. A measurement, not a test: it judges nothing. Takes run_board.py's options.
Python standard library only."""

import os
import shutil
import statistics
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import board_bmc  # noqa: E402
import board_checks  # noqa: E402
import board_model  # noqa: E402
import board_report  # noqa: E402
import run_board  # noqa: E402


def one_boot(board, args, started, services):
    root = tempfile.mkdtemp(prefix="board-bench-")
    try:
        raw = run_board.boot(board, args, root, started, services=services)
    finally:
        shutil.rmtree(root, ignore_errors=True)
    report = board_report.parse_or_report(raw)
    return None if report is None else report


def main(argv=None):
    argv = list(sys.argv[1:] if argv is None else argv)
    runs = 3
    if "--runs" in argv:
        index = argv.index("--runs")
        runs = int(argv[index + 1])
        del argv[index:index + 2]
    args = run_board.parse_args(argv)
    board = run_board.load(args)
    missing = run_board.check_inputs(args, board)
    if missing:
        print("FAIL missing: " + ", ".join(missing))
        return 1
    size = len(board_model.expected_inventory(board))
    started = time.monotonic()
    recorder, real, transfer, sata = [], [], [], []
    for _ in range(runs):
        args.bmc = "recorder"
        report = one_boot(board, args, started, [])
        recorder.append(board_checks.inventory_ms(report) if report else None)
        args.bmc = "ipmi_sim"
        bmc = run_board.bmc_service(args, options="", attach=False)
        tap = board_bmc.VmTap(bmc)
        report = one_boot(board, args, started, [bmc, tap])
        statuses = board_checks.inventory_statuses(report) if report else []
        real.append(board_checks.inventory_ms(report) if report else None)
        transfer.append(tap.transfer_seconds() if statuses == ["Success"] else None)
        sata.append(tap.sata_seconds())

    def show(values, unit, scale=1.0):
        good = [v * scale for v in values if v is not None]
        if not good:
            return "no measurement"
        return (f"median {statistics.median(good):.1f} {unit} (runs: {', '.join(f'{v:.1f}' for v in good)}"
                + (f"; {len(values) - len(good)} failed" if len(good) < len(values) else "") + ")")

    print(f"bench image: {size} bytes, {-(-size // 224)} WRITEs of at most 224 bytes")
    print(f"bench inventory with the recorder: {show(recorder, 'ms')}")
    print(f"bench inventory over KCS to ipmi_sim: {show(real, 'ms')}")
    print(f"bench image transfer over KCS (OPEN to COMMIT answer): {show(transfer, 'ms', 1000.0)}")
    print(f"bench SATA_INFO messages after the image ({len(board_model.expected_sata_messages(board))}, "
          f"each stored by the module): {show(sata, 'ms', 1000.0)}")
    rates = [size / seconds for seconds in transfer if seconds]
    if rates:
        print(f"bench image transfer rate: median {statistics.median(rates):,.0f} bytes/s "
              f"(runs: {', '.join(f'{rate:,.0f}' for rate in rates)})")
    return 0


if __name__ == "__main__":
    sys.exit(main())
