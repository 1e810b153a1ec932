#!/usr/bin/env python3
"""Smoke boot on real firmware: OVMF in QEMU starts the harness application, which loads
and starts Roster.efi and Hotlatch.efi and reports each step on the serial port.

Passes only when the report is complete and every step succeeded; a missing completion
line (crash, hang, reset loop), a timeout or any error status is a failure.
Python standard library only.
"""

import argparse
import dataclasses
import os
import re
import shutil
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import board_checks  # noqa: E402
import board_qemu  # noqa: E402
import board_model  # noqa: E402

COMPLETION_LINE = "HARNESS COMPLETE"
IMAGE_LINE = re.compile(r"^HARNESS IMAGE (?P<name>\S+)(?P<fields>(?: \w+=\S+)*)\s*$")
FIELD = re.compile(r" (\w+)=(\S+)")
CHECK_LINE = re.compile(r"^HARNESS CHECK (?P<name>[\w-]+)=(?P<result>\S+)\s*$")
# Self-checks the harness runs on the firmware before it loads the images.
EXPECTED_CHECKS = ("memory-routines",)

STATUS_FIELDS = ("Read", "LoadImage", "StartImage")
EXPECTED_IMAGES = {"Roster.efi": board_checks.BOOT_SERVICES_CODE, "Hotlatch.efi": board_checks.RUNTIME_SERVICES_CODE}
# The smoke machine: the smallest q35 that boots OVMF and both drivers.
MACHINE = {"type": "q35", "accel": "tcg", "memory_mb": 512, "cpus": 2}
ESP_ADDR = "05.0"


@dataclasses.dataclass
class ImageReport:
    name: str
    fields: dict

    def number(self, key):
        value = self.fields.get(key)
        if value is None or not value.startswith("0x"):
            return None
        try:
            return int(value, 16)
        except ValueError:
            return None


@dataclasses.dataclass
class Verdict:
    images: list
    checks: dict
    complete: bool
    problems: list


def clean_serial_text(raw: bytes) -> list:
    return board_qemu.clean_lines(raw)


def judge(lines: list, expected: dict = EXPECTED_IMAGES) -> Verdict:
    """Checks the harness report against what the image types demand."""
    images = []
    checks = {}
    complete = False
    for line in lines:
        line = line.strip()
        match = IMAGE_LINE.match(line)
        check = CHECK_LINE.match(line)
        if match:
            images.append(ImageReport(match["name"], dict(FIELD.findall(match["fields"]))))
        elif check:
            checks[check["name"]] = check["result"]
        elif line == COMPLETION_LINE:
            complete = True

    problems = []
    if not complete:
        problems.append(f'no "{COMPLETION_LINE}" line: the harness crashed, hung or never ran')
    for name in EXPECTED_CHECKS:
        if name not in checks:
            problems.append(f"check {name}: not reported")
    for name, result in checks.items():
        if result != "pass":
            problems.append(f"check {name}: {result}")
    seen = {}
    for image in images:
        if image.name in seen:
            problems.append(f"{image.name}: reported more than once")
        seen[image.name] = image
    for name, code_type in expected.items():
        image = seen.get(name)
        if image is None:
            problems.append(f"{name}: no report line")
            continue
        for key in STATUS_FIELDS:
            status = image.number(key)
            if status is None:
                problems.append(f"{name}: {key} {image.fields.get(key, 'missing')}")
            elif status != 0:
                problems.append(f"{name}: {key} returned {status:#018x}")
        size = image.number("ImageSize")
        if size is None or size == 0:
            problems.append(f"{name}: no image size")
        actual_type = image.number("CodeType")
        if actual_type != code_type:
            problems.append(f"{name}: code type {image.fields.get('CodeType')} (want {code_type})")
    return Verdict(images, checks, complete, problems)


def run(args) -> int:
    started = time.monotonic()
    inputs = {"harness": args.harness, "Roster.efi": args.roster, "Hotlatch.efi": args.hotlatch,
              "OVMF code": args.ovmf_code, "OVMF vars": args.ovmf_vars}
    missing = board_qemu.missing_inputs(inputs, args.qemu)
    if missing:
        print("e2e smoke: FAIL, missing: " + ", ".join(missing))
        return 1

    workdir = tempfile.mkdtemp(prefix="smoke-")
    log = os.path.join(workdir, "serial.log")
    try:
        esp = board_qemu.build_esp(workdir, {os.path.join("EFI", "BOOT", "BOOTX64.EFI"): args.harness,
                                             "Roster.efi": args.roster, "Hotlatch.efi": args.hotlatch})
        firmware = {"code": args.ovmf_code, "vars": args.ovmf_vars}
        command = board_qemu.machine_args(args.qemu, MACHINE, firmware, workdir, log)
        command += board_qemu.esp_args(esp, ESP_ADDR)
        with board_qemu.Session(command, workdir, log, verbose=args.verbose) as session:
            stuck = session.wait(args.timeout, completion=COMPLETION_LINE)
        boot_seconds = time.monotonic() - started

        lines = clean_serial_text(session.serial())
        verdict = judge(lines)
        problems = list(verdict.problems)
        if stuck:
            problems.insert(0, stuck)
        elif session.returncode() != 0:
            problems.append(f"QEMU exited with {session.returncode()}")

        for line in lines:
            if line.startswith("HARNESS") or args.verbose:
                print("  serial| " + line)
        if problems:
            print("--- last serial lines ---")
            for line in lines[-40:]:
                print("  " + line)
            if session.output:
                print("--- QEMU output ---")
                print(session.output[-4000:])
        print(f"e2e smoke: {'FAIL' if problems else 'PASS'} in {boot_seconds:.1f} s wall time")
        for problem in problems:
            print("  - " + problem)
        if args.keep_log:
            shutil.copyfile(log, args.keep_log)
        return 1 if problems else 0
    finally:
        shutil.rmtree(workdir, ignore_errors=True)


def main(argv=None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--harness", required=True, help="the harness application (.efi)")
    parser.add_argument("--roster", required=True, help="Roster.efi")
    parser.add_argument("--hotlatch", required=True, help="Hotlatch.efi")
    # The firmware the board definition names, unless told otherwise.
    firmware = board_model.load_board()["firmware"]
    parser.add_argument("--ovmf-code", default=firmware["code"])
    parser.add_argument("--ovmf-vars", default=firmware["vars"])
    parser.add_argument("--qemu", default="qemu-system-x86_64")
    parser.add_argument("--timeout", type=float, default=90.0, help="seconds before the run counts as hung")
    parser.add_argument("--keep-log", help="copy the serial log here")
    parser.add_argument("--verbose", action="store_true", help="print the command and the whole serial log")
    return run(parser.parse_args(argv))


if __name__ == "__main__":
    sys.exit(main())
