#!/usr/bin/env python3
"""The virtual board on a platform build that carries the drivers: checks the firmware
volume with BaseTools' VolInfo, boots the built OVMF on the board with no ESP (only the
DXE dispatcher starts anything of ours), presses Ctrl+Alt+d through QMP at the
firmware's own screen, and judges the board-support driver's report (on QEMU's debug
console) with the same checks as the harness run. The volume's KcsTransport carries the
drivers' calls over QEMU's KCS interface to ipmi_sim with the BMC module, and the checks
of the BMC's bytes read what it stored. Python standard library only."""

import argparse
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
import firmware_checks  # noqa: E402
import firmware_volume  # noqa: E402
import run_board  # noqa: E402

CONFIG_FILE = "opt/roster-hotlatch/board-config"
# What OVMF's boot manager prints when no boot option started: its own screen.
FIRMWARE_PROMPT = "Press any key to enter the Boot Manager Menu"
PROMPT_GRACE_SECONDS = 30
# The read-back boot ends at the board driver's start.
READ_BACK_SECONDS = 60


def smm_machine(command):
    """The same machine for an SMM build, which runs only with SMM and flash that only SMM
    may write (the variable store lives in SMM). S3 is off: OvmfPkgX64 (64-bit PEI) with SMM
    has no S3 resume path, and its PlatformPei stops the boot when the machine offers S3."""
    command = list(command)
    at = command.index("-machine") + 1
    command[at] += ",smm=on"
    return command + ["-global", "driver=cfi.pflash01,property=secure,value=on", "-global", "ICH9-LPC.disable_s3=1"]


def boot(board, args, root, started, services=(), before_stop=None):
    """Runs the board until QEMU ends or the time is up, with services beside QEMU;
    before_stop(session) runs while they still do. Returns (debug console, serial)."""
    command, serial, qmp = board_qemu.qemu_command(board, args.qemu, root, None)
    # The board driver resets once, after writing its non-volatile setting.
    command = [word for word in command if word != "-no-reboot"]
    if args.smm:
        command = smm_machine(command)
    config = os.path.join(root, "board-config.bin")
    with open(config, "wb") as handle:
        handle.write(board_model.harness_config(board, platform_transport=True))
    report_log = os.path.join(root, "debugcon.log")
    command += ["-fw_cfg", f"name={CONFIG_FILE},file={config}"] + board_qemu.debugcon_args(report_log)
    milestones = board_qemu.Milestones(started, [
        ("BOARD START", "DXE dispatcher started the board driver"),
        ("BOARD ENDOFDXE", "end of DXE"),
        ("BOARD READYTOBOOT", "ready to boot: inventory trigger installed"),
        ("BOARD COMPLETE", "board driver finished its report")])
    pressed = set()
    waiting_since = None

    def on_poll(text):
        nonlocal waiting_since
        milestones.update(text)
        if "1" not in pressed and "BOARD WAIT key=1" in text:
            # The first press goes to the firmware's own screen once it shows.
            waiting_since = waiting_since or time.monotonic()
            at_prompt = FIRMWARE_PROMPT in session.serial().decode("latin-1")
            if at_prompt or time.monotonic() - waiting_since > PROMPT_GRACE_SECONDS:
                session.press()
                pressed.add("1")
                where = "at the boot manager's prompt" if at_prompt else "without the boot manager's prompt"
                board_qemu.progress(started, f"pressed Ctrl+Alt+d {where} (armed)")
        if "2" not in pressed and "BOARD WAIT key=2" in text:
            session.press()
            pressed.add("2")
            board_qemu.progress(started, "pressed Ctrl+Alt+d (after the disarm)")

    session = board_qemu.Session(command, root, serial, qmp=qmp, debugcon=report_log, services=services,
                                 verbose=args.verbose)
    try:
        session.start()
        board_qemu.progress(started, "QEMU started: q35 under TCG, the built OVMF, two sockets, no ESP, KCS to the BMC")
        problem = session.wait(args.timeout, report=session.debugcon, completion=board_report.COMPLETION,
                               on_poll=on_poll)
        if problem:
            board_qemu.progress(started, problem)
        if before_stop is not None:
            before_stop(session)
    finally:
        session.stop()
        session.print_output()
    return session.debugcon(), session.serial()


def read_back(board, args, root, started):
    """One more boot on the flash the run left (SMM build): the board driver reports the
    probe variable the SSVS handler wrote and powers off. Returns the debug console."""
    last_vars = os.path.join(root, "OVMF_VARS.fd")
    again = os.path.join(root, "readback")
    os.makedirs(again)
    command, serial, qmp = board_qemu.qemu_command(board, args.qemu, again, None)
    shutil.copyfile(last_vars, os.path.join(again, "OVMF_VARS.fd"))
    command = smm_machine([word for word in command if word != "-no-reboot"])
    report_log = os.path.join(again, "debugcon.log")
    command += board_qemu.debugcon_args(report_log)
    session = board_qemu.Session(command, again, serial, qmp=qmp, debugcon=report_log, verbose=args.verbose)
    try:
        session.start()
        problem = session.wait(READ_BACK_SECONDS, report=session.debugcon)
        board_qemu.progress(started, problem or "read-back boot powered off")
    finally:
        session.stop()
    return session.debugcon()


def check_volume(args):
    if not (args.fv and args.volinfo):
        return []
    modules = [firmware_volume.inf_module(path) for path in args.inf]
    status, listing = firmware_volume.volinfo(args.volinfo, args.fv, args.xref)
    results = [(status == 0, f"VolInfo read {os.path.basename(args.fv)} (exit {status})")]
    return results + firmware_volume.check_listing(listing, modules)


def platform_build_parser(description):
    """The options every run on a platform build takes: the board and the built firmware."""
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser(description=description)
    parser.add_argument("--board", default=os.path.join(here, "board", "board.json"))
    parser.add_argument("--code", required=True, help="the built OVMF_CODE.fd")
    parser.add_argument("--vars", required=True, help="the built OVMF_VARS.fd")
    return parser


def parse_args(argv):
    parser = platform_build_parser(__doc__)
    parser.add_argument("--fv", help="the built DXEFV.Fv, for the VolInfo check")
    parser.add_argument("--xref", help="the build's Guid.xref, for VolInfo's names")
    parser.add_argument("--volinfo", help="BaseTools' VolInfo")
    parser.add_argument("--inf", action="append", default=[], help="an INF whose file the volume must carry")
    board_qemu.add_run_options(parser, timeout=240)
    parser.add_argument("--report-out", help="keep the board driver's report here")
    parser.add_argument("--smm", action="store_true", help="the firmware is an SMM build (q35 smm=on, secure flash)")
    parser.add_argument("--bmc-module", required=True, help="the BMC module for ipmi_sim (build/bmc/roster_bmc.so)")
    parser.add_argument("--bmc-options", default="sata_fail=2",
                        help="the module's options (default: refuse the first two SATA_INFO with 0xC0)")
    parser.add_argument("--roster-decode", required=True)
    return parser.parse_args(argv)


def main(argv=None):
    args = parse_args(argv)
    started = time.monotonic()
    board = board_model.load_board(args.board)
    board["firmware"] = {"code": args.code, "vars": args.vars}
    missing = board_qemu.missing_inputs(
        {path: path for path in [args.code, args.vars, args.fv, args.volinfo, args.bmc_module, args.roster_decode]
         + args.inf if path}, args.qemu)
    missing += [f"{tool} (Debian package {package})" for tool, package in
                (("ipmi_sim", "openipmi"), ("ipmitool", "ipmitool")) if shutil.which(tool) is None]
    if missing:
        print("FAIL missing: " + ", ".join(missing))
        return 1
    results = check_volume(args)
    root = tempfile.mkdtemp(prefix="firmware-board-")
    bmc = board_bmc.IpmiSim(args.bmc_module, args.bmc_options)
    bmc_read_back = ("not asked", None)

    def before_stop(session):
        nonlocal bmc_read_back
        bmc_read_back = bmc.read_back()

    try:
        raw, serial = boot(board, args, root, started, services=[bmc], before_stop=before_stop)
        stored = bmc.stored()
        run_board.decode_check(args, stored, bmc.store_dir(), results)
        again = read_back(board, args, root, started) if args.smm else b""
    finally:
        shutil.rmtree(root, ignore_errors=True)
    for path, data in ((args.serial_out, serial), (args.report_out, raw)):
        if path:
            with open(path, "wb") as handle:
                handle.write(data)
    report = board_report.parse_or_report(raw)
    if report is None:
        return 1
    # Every check of the BMC's bytes reads what it stored; the report has none of its own.
    check_transport(report, results)
    board_checks.check_transport_quiet(report, results)
    report.bmc = stored.deliveries()
    board_checks.check_bmc_store(stored, results)
    refused, refusal = run_board.sata_refusals(args.bmc_options)
    board_checks.check_sata_retry(board, report, refused, refusal, results)
    board_checks.check_read_back(board, bmc_read_back[1], bmc_read_back[0], results)
    print("bmc read-back (ipmitool raw 0x32 0x5B): " + bmc_read_back[0])
    board_report.write_bmc_out(report, args.bmc_out)
    results += firmware_checks.check_report(board, report, serial)
    if args.smm:
        results += firmware_checks.check_ssvs(report)
        results += firmware_checks.check_read_back(board_report.parse_report(again))
    return board_checks.print_verdict("e2e_firmware", results, report, args.failures_only, time.monotonic() - started)


def check_transport(report, results):
    """The volume's KcsTransport produced the transport and the board driver installed none."""
    number = board_checks.number_field
    image = report.images.get("KcsTransport.efi", {})
    recorder = number(report.steps.get("PEERS", {}), "recorder")
    results.append((number(image, "count") == 1 and number(image, "fv") == 1 and recorder == 0 and not report.bmc,
                    f"KcsTransport.efi dispatched from the volume, no recorder installed ({image or 'no report'}, "
                    f"recorder={recorder}, {len(report.bmc)} recorded calls)"))

if __name__ == "__main__":
    sys.exit(main())
