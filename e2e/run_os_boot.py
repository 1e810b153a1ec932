#!/usr/bin/env python3
"""Boots an operating system on the platform build: Debian's kernel with our initramfs,
started by QEMU's -kernel on the built OVMF, on the virtual board. The board driver lets
the boot go on and reports the runtime phase on QEMU's debug console; the kernel's log and
the init script's lines come over the serial port. Judges both (os_checks). Python standard
library only."""

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
import os_checks  # noqa: E402
import os_initramfs  # noqa: E402
import run_firmware  # noqa: E402

CONFIG_FILE = "opt/roster-hotlatch/board-config"
OS_BOOT_FILE = "opt/roster-hotlatch/os-boot"
# efi=debug prints the memory map and the attributes table; a panic reboots at once, so a
# failed boot ends instead of waiting for the time limit.
KERNEL_ARGUMENTS = "console=ttyS0 efi=debug panic=-1 loglevel=7"
# The first boot resets once after writing its non-volatile setting; more starts than that
# mean the OS went down and the firmware came back.
BOARD_STARTS_MAX = 2
KERNEL_PACKAGE_HINT = "Debian package linux-image-amd64, scripts/setup.sh installs it"


class BootLoop(Exception):
    pass


def boot(board, args, root, kernel, initramfs, started):
    """Runs the board until QEMU ends, a boot loop shows, or the time is up; returns
    (debug console, serial, QEMU's exit code or None when it was stopped)."""
    command, serial, _qmp = board_qemu.qemu_command(board, args.qemu, root, None)
    command = [word for word in command if word != "-no-reboot"]
    if args.smm:
        command = run_firmware.smm_machine(command)
    config = os.path.join(root, "board-config.bin")
    with open(config, "wb") as handle:
        handle.write(board_model.harness_config(board))
    marker = os.path.join(root, "os-boot")
    with open(marker, "wb") as handle:
        handle.write(b"1")
    report_log = os.path.join(root, "debugcon.log")
    command += ["-fw_cfg", f"name={CONFIG_FILE},file={config}", "-fw_cfg", f"name={OS_BOOT_FILE},file={marker}"]
    command += board_qemu.debugcon_args(report_log)
    command += ["-kernel", kernel, "-initrd", initramfs, "-append", KERNEL_ARGUMENTS]
    session = board_qemu.Session(command, root, serial, debugcon=report_log, verbose=args.verbose)
    firmware = board_qemu.Milestones(started, [
        ("BOARD OSBOOT READY", "ready to boot: the board probed Hotlatch and let the boot go on"),
        ("BOARD EXITBOOTSERVICES", "ExitBootServices: the board probed Hotlatch again"),
        ("BOARD VIRTUAL DONE", "SetVirtualAddressMap: the Tesk service converted Hotlatch's pointers")])
    kernel_side = board_qemu.Milestones(started, [("OSBOOT INIT", "the kernel started our init"),
                                                  ("OSBOOT DONE", "init finished; powering off")])

    def on_poll(text):
        firmware.update(text)
        kernel_side.update(session.serial().decode("latin-1"))
        if text.count("BOARD START") > BOARD_STARTS_MAX:
            raise BootLoop()

    try:
        session.start()
        board_qemu.progress(started, "QEMU started: the built OVMF, the board, Debian's kernel and our initramfs")
        try:
            problem = session.wait(args.timeout, report=session.debugcon, on_poll=on_poll, interval=0.2)
        except BootLoop:
            problem = "the firmware started again: the OS went down"
        if problem:
            board_qemu.progress(started, problem)
    finally:
        session.stop()
        session.print_output()
    code = None if problem else session.returncode()
    return session.debugcon(), session.serial(), code


def parse_args(argv):
    parser = run_firmware.platform_build_parser(__doc__)
    parser.add_argument("--hotlatch", required=True, help="the Hotlatch.efi in the built firmware, for its sections")
    parser.add_argument("--kernel", help="the kernel image (default: the one linux-image-amd64 installs)")
    parser.add_argument("--initramfs", help="write the initramfs here (default: the run's own directory)")
    parser.add_argument("--kernel-log-out", help="keep the serial log (firmware screen, kernel log, init) here")
    board_qemu.add_run_options(parser, timeout=180)
    parser.add_argument("--report-out", help="keep the board driver's debug-console report here")
    parser.add_argument("--smm", action="store_true", help="the firmware is an SMM build (q35 smm=on, secure flash)")
    return parser.parse_args(argv)


def judge(board, raw, serial, code, hotlatch_image):
    results = [(code == 0, f"the OS powered the machine off by itself (QEMU exit {code})")]
    try:
        report = board_report.parse_report(raw)
    except board_report.ReportError as error:
        return results + [(False, f"board report does not parse: {error}")], None
    lines = os_checks.kernel_lines(serial)
    trouble = os_checks.trouble(lines)
    results.append((not trouble, f"no firmware error, firmware bug or crash in the kernel log ({trouble[:3]})"))
    image = report.images.get("Hotlatch.efi", {})
    base, size = board_checks.number_field(image, "base"), board_checks.number_field(image, "imagesize")
    results.append((base is not None and size is not None and base % os_checks.PAGE == 0,
                    f"the board found Hotlatch's image ({image or 'no line'})"))
    if base is not None and size is not None:
        os_checks.check_image_memory(lines, base, size, os_checks.pe_sections(hotlatch_image), results)
    os_checks.check_runtime(report, lines, results)
    os_checks.check_init(board, lines, results)
    return results, report


def main(argv=None):
    args = parse_args(argv)
    started = time.monotonic()
    board = board_model.load_board(args.board)
    board["firmware"] = {"code": args.code, "vars": args.vars}
    try:
        release, kernel = os_initramfs.installed_kernel()
    except os_initramfs.InitramfsError as error:
        print(f"FAIL {error}")
        return 1
    kernel = args.kernel or kernel
    missing = board_qemu.missing_inputs({"OVMF_CODE.fd": args.code, "OVMF_VARS.fd": args.vars,
                                         args.hotlatch: args.hotlatch,
                                         f"kernel ({KERNEL_PACKAGE_HINT})": kernel}, args.qemu)
    if missing:
        print("FAIL missing: " + ", ".join(missing))
        return 1
    with open(args.hotlatch, "rb") as handle:
        hotlatch_image = handle.read()
    root = tempfile.mkdtemp(prefix="os-boot-")
    try:
        initramfs = args.initramfs or os.path.join(root, "initramfs.cpio")
        try:
            data, module = os_initramfs.build(os.path.join(os.path.dirname(os.path.abspath(__file__)), "os", "init"),
                                              "/bin/busybox", "/usr/bin/chattr", release)
        except os_initramfs.InitramfsError as error:
            print(f"FAIL initramfs: {error}")
            return 1
        with open(initramfs, "wb") as handle:
            handle.write(data)
        board_qemu.progress(started, f"initramfs {len(data)} bytes for kernel {release} (efivarfs "
                          f"{'a module' if module else 'built in'})")
        raw, serial, code = boot(board, args, root, kernel, initramfs, started)
    finally:
        shutil.rmtree(root, ignore_errors=True)
    for path, data in ((args.kernel_log_out or args.serial_out, serial), (args.report_out, raw)):
        if path:
            with open(path, "wb") as handle:
                handle.write(data)
    results, report = judge(board, raw, serial, code, hotlatch_image)
    for ok, text in results:
        if not (ok and args.failures_only):
            print(("ok   " if ok else "FAIL ") + text)
    failed = sum(1 for ok, _ in results if not ok)
    print(f"e2e_os_boot: {len(results) - failed} of {len(results)} checks passed, "
          f"wall time {time.monotonic() - started:.1f} s")
    return 1 if failed or report is None else 0


if __name__ == "__main__":
    sys.exit(main())
