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
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import board_model  # noqa: E402

COMPLETION_LINE = "HARNESS COMPLETE"
IMAGE_LINE = re.compile(r"^HARNESS IMAGE (?P<name>\S+)(?P<fields>(?: \w+=\S+)*)\s*$")
FIELD = re.compile(r" (\w+)=(\S+)")
CHECK_LINE = re.compile(r"^HARNESS CHECK (?P<name>[\w-]+)=(?P<result>\S+)\s*$")
# Self-checks the harness runs on the firmware before it loads the images.
EXPECTED_CHECKS = ("memory-routines",)
# ANSI sequences OVMF's terminal driver writes around console text.
ESCAPE = re.compile(r"\x1b\[[0-9;?=]*[A-Za-z]|\x1b[()][A-Za-z0-9]")

STATUS_FIELDS = ("Read", "LoadImage", "StartImage")
# UEFI memory types: a boot-service driver's code lives in EfiBootServicesCode, a
# runtime driver's in EfiRuntimeServicesCode (subsystems 11 and 12).
BOOT_SERVICES_CODE = 3
RUNTIME_SERVICES_CODE = 5
EXPECTED_IMAGES = {"Roster.efi": BOOT_SERVICES_CODE, "Hotlatch.efi": RUNTIME_SERVICES_CODE}


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
    text = ESCAPE.sub("", raw.decode("latin-1"))
    return [line.strip("\r") for line in text.replace("\r\n", "\n").split("\n")]


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


def build_esp(root: str, harness: str, images: dict) -> str:
    esp = os.path.join(root, "esp")
    boot = os.path.join(esp, "EFI", "BOOT")
    os.makedirs(boot)
    shutil.copyfile(harness, os.path.join(boot, "BOOTX64.EFI"))
    for name, path in images.items():
        shutil.copyfile(path, os.path.join(esp, name))
    return esp


def qemu_command(args, esp: str, vars_copy: str, log: str) -> list:
    return [
        args.qemu,
        "-machine", "q35,accel=tcg",
        "-m", "512",
        "-smp", "2",
        "-nodefaults",
        "-nographic",
        "-monitor", "none",
        "-no-reboot",
        "-serial", f"file:{log}",
        "-drive", f"if=pflash,format=raw,readonly=on,file={args.ovmf_code}",
        "-drive", f"if=pflash,format=raw,file={vars_copy}",
        "-drive", f"if=none,id=esp,format=raw,file=fat:rw:{esp}",
        "-device", "virtio-blk-pci,drive=esp,addr=05.0,bootindex=0",
    ]


def run(args) -> int:
    started = time.monotonic()
    inputs = {"harness": args.harness, "Roster.efi": args.roster, "Hotlatch.efi": args.hotlatch,
              "OVMF code": args.ovmf_code, "OVMF vars": args.ovmf_vars}
    missing = [f"{label} ({path}{'; Debian package ovmf' if label.startswith('OVMF') else ''})"
               for label, path in inputs.items() if not os.path.isfile(path)]
    if shutil.which(args.qemu) is None:
        missing.append(f"QEMU ({args.qemu}; Debian package qemu-system-x86)")
    if missing:
        print("e2e smoke: FAIL, missing: " + ", ".join(missing))
        return 1

    workdir = tempfile.mkdtemp(prefix="smoke-")
    log = os.path.join(workdir, "serial.log")
    try:
        esp = build_esp(workdir, args.harness, {"Roster.efi": args.roster, "Hotlatch.efi": args.hotlatch})
        vars_copy = os.path.join(workdir, "OVMF_VARS.fd")
        shutil.copyfile(args.ovmf_vars, vars_copy)
        command = qemu_command(args, esp, vars_copy, log)
        if args.verbose:
            print("+ " + " ".join(command))

        timed_out = False
        qemu = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                stderr=subprocess.STDOUT)
        try:
            qemu_output, _ = qemu.communicate(timeout=args.timeout)
        except subprocess.TimeoutExpired:
            timed_out = True
            qemu.kill()
            qemu_output, _ = qemu.communicate()
        boot_seconds = time.monotonic() - started

        raw = b""
        if os.path.exists(log):
            with open(log, "rb") as handle:
                raw = handle.read()
        lines = clean_serial_text(raw)
        verdict = judge(lines)
        problems = list(verdict.problems)
        if timed_out:
            problems.insert(0, f"timed out after {args.timeout} s")
        elif qemu.returncode != 0:
            problems.append(f"QEMU exited with {qemu.returncode}")

        for line in lines:
            if line.strip().startswith("HARNESS") or args.verbose:
                print("  serial| " + line)
        if problems:
            print("--- last serial lines ---")
            for line in lines[-40:]:
                print("  " + line)
            if qemu_output:
                print("--- QEMU output ---")
                print(qemu_output.decode("latin-1", "replace")[-4000:])
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
