#!/usr/bin/env python3
"""The virtual-board run on real firmware: builds the board from e2e/board/board.json,
boots it on OVMF in QEMU with the board harness, presses the hot key through QMP when
the harness asks, and checks the harness's report against expectations derived from
the board definition alone. Fails on a missing completion line, a timeout or any
mismatch. Python standard library only."""

import argparse
import os
import shutil
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import board_checks  # noqa: E402
import board_model  # noqa: E402
import board_qemu  # noqa: E402
import board_report  # noqa: E402
import board_transcript  # noqa: E402

def boot(board, args, root, started):
    """Runs the board until QEMU ends or the time is up; returns the raw serial log."""
    images = {"BoardHarness.efi": args.harness, "Roster.efi": args.roster, "Hotlatch.efi": args.hotlatch}
    command, serial, qmp = board_qemu.qemu_command(board, args.qemu, root, images)
    milestones = board_qemu.Milestones(started, [
        ("BOARD START", "firmware booted the board harness"),
        ("BOARD TRIGGER n=0x1", "Roster took the inventory"),
        ("BOARD IMAGE name=Hotlatch.efi", "Hotlatch started"),
        ("BOARD COMPLETE", "harness finished its report")])
    pressed = set()

    def on_poll(text):
        milestones.update(text)
        for number in ("1", "2"):
            if number not in pressed and f"BOARD WAIT key={number}" in text:
                session.press()
                pressed.add(number)
                board_qemu.progress(started, f"pressed Ctrl+Alt+d ({'armed' if number == '1' else 'after the disarm'})")

    session = board_qemu.Session(command, root, serial, qmp=qmp, verbose=args.verbose)
    try:
        session.start()
        board_qemu.progress(started, "QEMU started: q35 under TCG, OVMF, two sockets")
        problem = session.wait(args.timeout, completion=board_report.COMPLETION, on_poll=on_poll)
        if problem:
            board_qemu.progress(started, problem)
    finally:
        session.stop()
        session.print_output()
    return session.serial()


def parse_args(argv):
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--board", default=os.path.join(here, "board", "board.json"))
    parser.add_argument("--harness", required=True)
    parser.add_argument("--roster", required=True)
    parser.add_argument("--hotlatch", required=True)
    parser.add_argument("--ovmf-code", help="OVMF code flash image (default: the board file's)")
    parser.add_argument("--ovmf-vars", help="OVMF variable store template (default: the board file's)")
    parser.add_argument("--debug-render", help="the debug-render tool that renders the drivers' transcripts "
                        "(default: $DEBUG_RENDER, else build/tools/debug-render/debug-render)")
    board_qemu.add_run_options(parser, timeout=180)
    parser.add_argument("--keep", action="store_true", help="keep the temporary board directory")
    return parser.parse_args(argv)


def main(argv=None):
    args = parse_args(argv)
    started = time.monotonic()
    board = board_model.load_board(args.board)
    if args.ovmf_code:
        board["firmware"]["code"] = args.ovmf_code
    if args.ovmf_vars:
        board["firmware"]["vars"] = args.ovmf_vars
    if args.debug_render:
        board_transcript.use_tool(args.debug_render)
    inputs = {path: path for path in (args.harness, args.roster, args.hotlatch, board_transcript.tool_path())}
    inputs.update({f"OVMF {part}": board["firmware"][part] for part in ("code", "vars")})
    missing = board_qemu.missing_inputs(inputs, args.qemu)
    if missing:
        print("FAIL missing: " + ", ".join(missing))
        return 1
    root = tempfile.mkdtemp(prefix="board-")
    try:
        raw = boot(board, args, root, started)
    finally:
        if args.keep:
            print(f"board files kept in {root}")
        else:
            shutil.rmtree(root, ignore_errors=True)
    if args.serial_out:
        with open(args.serial_out, "wb") as handle:
            handle.write(raw)
    report = board_report.read_report(raw, args.bmc_out)
    if report is None:
        return 1
    results = board_checks.check_report(board, report, raw)
    return board_checks.print_verdict("e2e_board", results, report, args.failures_only, time.monotonic() - started)


if __name__ == "__main__":
    sys.exit(main())
