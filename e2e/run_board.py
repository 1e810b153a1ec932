#!/usr/bin/env python3
"""The virtual-board run on real firmware: builds the board from e2e/board/board.json,
boots it on OVMF in QEMU with the board harness, presses the hot key through QMP when
the harness asks, and checks the harness's report against expectations derived from
the board definition alone. Fails on a missing completion line, a timeout or any
mismatch. Python standard library only."""

import argparse
import os
import shutil
import subprocess
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

def images_of(args):
    images = {"BoardHarness.efi": args.harness, "Roster.efi": args.roster, "Hotlatch.efi": args.hotlatch}
    if args.bmc != "recorder":
        images[board_qemu.PLATFORM_TRANSPORT] = args.kcs_transport
    return images


def boot(board, args, root, started, services=(), before_stop=None):
    """Runs the board until QEMU ends or the time is up, with services beside QEMU;
    before_stop(session) runs while they still do. Returns the raw serial log."""
    command, serial, qmp = board_qemu.qemu_command(board, args.qemu, root, images_of(args))
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

    session = board_qemu.Session(command, root, serial, qmp=qmp, services=services, verbose=args.verbose)
    try:
        session.start()
        board_qemu.progress(started, "QEMU started: q35 under TCG, OVMF, two sockets"
                            + (", KCS to the BMC" if args.bmc != "recorder" else ""))
        problem = session.wait(args.timeout, completion=board_report.COMPLETION, on_poll=on_poll)
        if problem:
            board_qemu.progress(started, problem)
        if before_stop is not None:
            before_stop(session)
    finally:
        session.stop()
        session.print_output()
    return session.serial()


def bmc_service(args, options=None, state=None, attach=True):
    return board_bmc.IpmiSim(args.bmc_module, args.bmc_options if options is None else options, state=state,
                             attach=attach)


def decode_check(args, stored, folder, results):
    """roster-decode reads every stored file cleanly (exit 0)."""
    paths = stored.paths(folder)
    if not paths:
        return
    run = subprocess.run([args.roster_decode, *paths], capture_output=True, text=True, timeout=60, check=False)
    results.append((run.returncode == 0, f"roster-decode reads the {len(paths)} stored files (exit {run.returncode}"
                                         + (f": {run.stderr.strip()[:300]})" if run.returncode else ")")))


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
    add_bmc_options(parser, here)
    board_qemu.add_run_options(parser, timeout=180)
    parser.add_argument("--keep", action="store_true", help="keep the temporary board directory")
    args = parser.parse_args(argv)
    if args.bmc != "recorder" and not (args.kcs_transport and args.bmc_module):
        parser.error("the BMC path needs --kcs-transport and --bmc-module (or --bmc recorder)")
    return args


def add_bmc_options(parser, here):
    build = os.path.join(os.path.dirname(here), "build")
    parser.add_argument("--bmc", choices=("ipmi_sim", "recorder"), default="ipmi_sim",
                        help="ipmi_sim: KcsTransport.efi carries the drivers' calls over QEMU's KCS interface to "
                             "ipmi_sim with the BMC module, and the checks read what it stored (default); "
                             "recorder: the harness keeps the calls itself, no BMC")
    parser.add_argument("--kcs-transport", default=os.path.join(build, "efi", "KcsTransport.efi"))
    parser.add_argument("--bmc-module", default=os.path.join(build, "bmc", "roster_bmc.so"))
    parser.add_argument("--bmc-options", default="sata_fail=2",
                        help="the module's options (default: refuse the first two SATA_INFO with 0xC0)")
    parser.add_argument("--roster-decode", default=os.path.join(build, "tools", "roster-decode", "roster-decode"))
    parser.add_argument("--bmc-state-out", help="copy the BMC's stored files here, with its read-back in read-back.txt")


def keep_state(folder, bmc, stored, read_back):
    """The BMC's files and its read-back, for a person to look at after the run."""
    os.makedirs(folder, exist_ok=True)
    for path in stored.paths(bmc.store_dir()):
        shutil.copyfile(path, os.path.join(folder, os.path.basename(path)))
    text, summary = read_back
    lines = ["$ " + " ".join(bmc.ipmitool_command("raw", "0x32", "0x5B")), text]
    if summary is not None:
        hexadecimal = ("flags", "stored_crc", "computed_crc")
        lines.append(", ".join(f"{name}={summary[name]:#x}" if name in hexadecimal else f"{name}={summary[name]}"
                               for name in board_bmc.SUMMARY_FIELDS[1:]))
    with open(os.path.join(folder, "read-back.txt"), "w", encoding="ascii") as handle:
        handle.write("\n".join(lines) + "\n")


def sata_refusals(options):
    """How many SATA_INFO requests the module's options refuse, and Roster's word for the code."""
    for word in options.split():
        if word.startswith("sata_fail="):
            count, _, code = word[len("sata_fail="):].partition(":")
            return int(count, 0), CODE_STATUS.get(int(code, 0) if code else 0xC0, "Device Error")
    return 0, "Success"


# How the transport reports the completion codes a test makes the BMC answer.
CODE_STATUS = {0xC0: "Not Ready", 0xC1: "Unsupported", 0xC4: "Out of Resources"}


def check_inputs(args, board):
    inputs = {path: path for path in (args.harness, args.roster, args.hotlatch, board_transcript.tool_path())}
    if args.bmc != "recorder":
        inputs.update({path: path for path in (args.kcs_transport, args.bmc_module, args.roster_decode)})
    inputs.update({f"OVMF {part}": board["firmware"][part] for part in ("code", "vars")})
    missing = board_qemu.missing_inputs(inputs, args.qemu)
    if args.bmc != "recorder":
        missing += [f"{tool} (Debian package {package})" for tool, package in
                    (("ipmi_sim", "openipmi"), ("ipmitool", "ipmitool")) if shutil.which(tool) is None]
    return missing


def load(args):
    board = board_model.load_board(args.board)
    if getattr(args, "ovmf_code", None):
        board["firmware"]["code"] = args.ovmf_code
    if getattr(args, "ovmf_vars", None):
        board["firmware"]["vars"] = args.ovmf_vars
    if getattr(args, "debug_render", None):
        board_transcript.use_tool(args.debug_render)
    return board


def main(argv=None):
    args = parse_args(argv)
    started = time.monotonic()
    board = load(args)
    missing = check_inputs(args, board)
    if missing:
        print("FAIL missing: " + ", ".join(missing))
        return 1
    root = tempfile.mkdtemp(prefix="board-")
    bmc = None if args.bmc == "recorder" else bmc_service(args)
    read_back = ("not asked", None)

    def before_stop(session):
        nonlocal read_back
        read_back = bmc.read_back()

    try:
        raw = boot(board, args, root, started, services=[bmc] if bmc else [],
                   before_stop=before_stop if bmc else None)
        stored = bmc.stored() if bmc else None
        results = []
        if bmc:
            decode_check(args, stored, bmc.store_dir(), results)
            if getattr(args, "bmc_state_out", None):
                keep_state(args.bmc_state_out, bmc, stored, read_back)
    finally:
        if args.keep:
            print(f"board files kept in {root}")
        else:
            shutil.rmtree(root, ignore_errors=True)
    if args.serial_out:
        with open(args.serial_out, "wb") as handle:
            handle.write(raw)
    report = board_report.parse_or_report(raw)
    if report is None:
        return 1
    if bmc:
        # Every check of the BMC's bytes reads what it stored; the report has none of its own.
        board_checks.check_platform_transport(report, results)
        board_checks.check_transport_quiet(report, results)
        report.bmc = stored.deliveries()
        board_checks.check_bmc_store(stored, results)
        refused, refusal = sata_refusals(args.bmc_options)
        board_checks.check_sata_retry(board, report, refused, refusal, results)
        board_checks.check_read_back(board, read_back[1], read_back[0], results)
        print("bmc read-back (ipmitool raw 0x32 0x5B): " + read_back[0])
    board_report.write_bmc_out(report, args.bmc_out)
    results = board_checks.check_report(board, report, raw) + results
    return board_checks.print_verdict("e2e_board", results, report, args.failures_only, time.monotonic() - started)


if __name__ == "__main__":
    sys.exit(main())
