"""Reads the board harness's report out of the serial log. Python standard library only."""

import dataclasses
import re

from board_qemu import clean_lines
FIELD = re.compile(r"(?:^| )([\w-]+)=(\S*)")
BMC_LINE = re.compile(r"^BMC (SendLargeCommand|SendCommand) header=0x([0-9A-Fa-f]+) length=(\d+) data=([0-9A-Fa-f]*)$")
COMPLETION = "BOARD COMPLETE"


class ReportError(ValueError):
    """A report line that does not parse."""


@dataclasses.dataclass
class BmcCall:
    member: str
    header: int
    length: int
    data: bytes


@dataclasses.dataclass
class StatusRecord:
    number: int
    caller: str
    type: int
    value: int
    instance: int
    data: bytes


@dataclasses.dataclass
class Report:
    lines: list = dataclasses.field(default_factory=list)
    steps: dict = dataclasses.field(default_factory=dict)
    images: dict = dataclasses.field(default_factory=dict)
    triggers: list = dataclasses.field(default_factory=list)
    variables: dict = dataclasses.field(default_factory=dict)
    keys: dict = dataclasses.field(default_factory=dict)
    bmc: list = dataclasses.field(default_factory=list)
    status: list = dataclasses.field(default_factory=list)
    tesk: list = dataclasses.field(default_factory=list)
    loaded: list = dataclasses.field(default_factory=list)
    root_bridges: list = dataclasses.field(default_factory=list)
    complete: bool = False


def fields(text):
    return dict(FIELD.findall(text))


def hex_value(text, what):
    try:
        return int(text, 16)
    except (TypeError, ValueError) as error:
        raise ReportError(f"{what}: not a hexadecimal number: {text!r}") from error


def hex_bytes(text, what):
    if len(text) % 2:
        raise ReportError(f"{what}: odd number of hex digits")
    try:
        return bytes.fromhex(text)
    except ValueError as error:
        raise ReportError(f"{what}: bad hex data") from error


def parse_report(raw):
    """Every report line, parsed; unknown lines are kept but ignored."""
    report = Report()
    for line in clean_lines(raw):
        bmc = BMC_LINE.match(line)
        if bmc:
            data = hex_bytes(bmc[4], "BMC data")
            report.bmc.append(BmcCall(bmc[1], int(bmc[2], 16), int(bmc[3]), data))
            continue
        if not line.startswith("BOARD "):
            continue
        report.lines.append(line)
        word = line.split(" ", 2)[1]
        rest = fields(line[len("BOARD ") + len(word):])
        if line == COMPLETION:
            report.complete = True
        elif word == "STATUS":
            report.status.append(StatusRecord(hex_value(rest.get("n"), "status n"), rest.get("caller", "?"),
                                              hex_value(rest.get("type"), "status type"),
                                              hex_value(rest.get("value"), "status value"),
                                              hex_value(rest.get("instance"), "status instance"),
                                              hex_bytes(rest.get("data", ""), "status data")))
        elif word == "IMAGE":
            report.images[rest.get("name", "?")] = rest
        elif word == "TRIGGER":
            report.triggers.append(rest)
        elif word == "VARS":
            report.variables[rest.get("stage", "?")] = rest
        elif word == "KEY":
            report.keys[rest.get("n", "?")] = rest
        elif word == "TESK":
            report.tesk.append(rest)
        elif word == "LOADED":
            report.loaded.append(rest)
        elif word == "ROOTBRIDGE":
            report.root_bridges.append(rest)
        else:
            report.steps[word] = rest
    return report


def parse_or_report(raw):
    """The report, or None after saying why it does not parse."""
    try:
        return parse_report(raw)
    except ReportError as error:
        print(f"FAIL report does not parse: {error}")
        return None


def write_bmc_out(report, bmc_out):
    """Keeps the BMC calls in bmc_out (when given) as roster-decode reads them."""
    if bmc_out:
        with open(bmc_out, "w", encoding="ascii") as handle:
            handle.write(bmc_report_text(report))


def read_report(raw, bmc_out=None):
    """The report, or None after saying why it does not parse; with bmc_out the BMC calls
    are kept there as roster-decode reads them."""
    report = parse_or_report(raw)
    if report is not None:
        write_bmc_out(report, bmc_out)
    return report


def bmc_report_text(report):
    """The BMC calls alone, in the form the decoder reads."""
    return "".join(f"BMC {call.member} header=0x{call.header:04X} length={call.length} data={call.data.hex().upper()}\n"
                   for call in report.bmc)
