"""Renders captured debug and assertion status codes to text as an EDK II serial
status-code listener does (BasePrintLib's conversions over the record's packed 8-byte
argument slots, "%r" as EDK II's status names). Python standard library only."""

import struct

DEBUG_DATA_GUID = bytes.fromhex("46924E9A53D5D51187E200062945C3B9")  # 9A4E9246-D553-11D5-87E2-00062945C3B9
DATA_HEADER_SIZE = 20
SLOT_COUNT = 12
FORMAT_OFFSET = DATA_HEADER_SIZE + 4 + 8 * SLOT_COUNT

SUCCESS_NAMES = ["Success", "Warning Unknown Glyph", "Warning Delete Failure", "Warning Write Failure",
                 "Warning Buffer Too Small", "Warning Stale Data"]
ERROR_NAMES = ["Load Error", "Invalid Parameter", "Unsupported", "Bad Buffer Size", "Buffer Too Small",
               "Not Ready", "Device Error", "Write Protected", "Out of Resources", "Volume Corrupt",
               "Volume Full", "No Media", "Media changed", "Not Found", "Access Denied", "No Response",
               "No mapping", "Time out", "Not started", "Already started", "Aborted", "ICMP Error",
               "TFTP Error", "Protocol Error", "Incompatible Version", "Security Violation", "CRC Error",
               "End of Media", "Reserved (29)", "Reserved (30)", "End of File", "Invalid Language",
               "Compromised Data"]
ERROR_BIT = 1 << 63


def status_name(status):
    status &= (1 << 64) - 1
    if status & ERROR_BIT:
        index = status & ~ERROR_BIT
        if 1 <= index <= len(ERROR_NAMES):
            return ERROR_NAMES[index - 1]
    elif status < len(SUCCESS_NAMES):
        return SUCCESS_NAMES[status]
    return "%08X" % (status & 0xFFFFFFFF)


def _pad(text, width, left_align, zero, sign=""):
    if width is None or len(sign) + len(text) >= width:
        return sign + text
    if left_align:
        return (sign + text).ljust(width)
    if zero:
        return sign + text.rjust(width - len(sign), "0")
    return (sign + text).rjust(width)


def render_format(fmt, slots):
    """BasePrintLib over a list of 64-bit slot values; a slot beyond the list reads 0."""
    out = []
    slot = 0

    def take():
        nonlocal slot
        value = slots[slot] if slot < len(slots) else 0
        slot += 1
        return value

    i = 0
    while i < len(fmt):
        ch = fmt[i]
        if ch != "%":
            out.append(ch)
            i += 1
            continue
        i += 1
        left = zero = plus = space = comma = long_ = False
        width = precision = None
        while i < len(fmt):
            c = fmt[i]
            if c == "-":
                left = True
            elif c == "+":
                plus = True
            elif c == " ":
                space = True
            elif c == ",":
                comma = True
            elif c == "0" and width is None and precision is None:
                zero = True
            elif c.isdigit():
                start = i
                while i < len(fmt) and fmt[i].isdigit():
                    i += 1
                value = int(fmt[start:i])
                if precision == -1:
                    precision = value
                else:
                    width = value
                continue
            elif c == "*":
                value = take() & 0xFFFFFFFFFFFFFFFF
                if precision == -1:
                    precision = value
                else:
                    width = value
            elif c == ".":
                precision = -1
            elif c in "lL":
                long_ = True
            else:
                break
            i += 1
        if i >= len(fmt):
            break
        conv = fmt[i]
        i += 1
        if precision == -1:
            precision = 0
        if conv in "dixXu":
            raw = take()
            if conv in "xX":
                value = raw if long_ else raw & 0xFFFFFFFF
                text = "%X" % value
                out.append(_pad(text, width, left, zero and not left))
            else:
                if long_:
                    value = raw - (1 << 64) if (conv != "u" and raw >> 63) else raw
                else:
                    value = raw & 0xFFFFFFFF
                    if conv != "u" and value >> 31:
                        value -= 1 << 32
                sign = "-" if value < 0 else ("+" if plus else (" " if space else ""))
                text = str(abs(value))
                if comma:
                    text = f"{abs(value):,}"
                    zero = False
                out.append(_pad(text, width, left, zero and not left, sign))
        elif conv == "p":
            text = "%X" % take()
            out.append(_pad(text, width, left, zero or width is not None))
        elif conv == "c":
            out.append(_pad(chr(take() & 0xFF), width, left, False))
        elif conv == "r":
            out.append(_pad(status_name(take()), width, left, False))
        elif conv in "asSgt":
            # Pointers into the reporter's memory: the record keeps only the address.
            out.append("<%s@0x%X>" % (conv, take()))
        else:
            out.append(conv)
    return "".join(out)


def parse_debug_record(data):
    """(level, slots, format) of a debug-info record, or None when it is not one."""
    if len(data) < FORMAT_OFFSET or data[4:20] != DEBUG_DATA_GUID:
        return None
    level = struct.unpack_from("<I", data, DATA_HEADER_SIZE)[0]
    slots = list(struct.unpack_from("<12Q", data, DATA_HEADER_SIZE + 4))
    raw = data[FORMAT_OFFSET:]
    end = raw.find(b"\0")
    fmt = (raw if end < 0 else raw[:end]).decode("latin-1")
    return level, slots, fmt


def render_record(record_type, value, data):
    """The text a serial listener prints for one status code."""
    debug = parse_debug_record(data) if (record_type & 0xFF) == 3 else None
    if debug is not None:
        _, slots, fmt = debug
        return render_format(fmt, slots)
    if (record_type & 0xFF) == 2 and (record_type & 0xFF000000) == 0x90000000 and (value & 0xFFFF) == 7:
        if len(data) < 60:
            return "DXE_ASSERT!: <short record>\n"
        line = struct.unpack_from("<I", data, 40)[0]
        texts = data[60:].split(b"\0")
        file_name = texts[0].decode("latin-1") if texts else ""
        description = texts[1].decode("latin-1") if len(texts) > 1 else ""
        return f"\nDXE_ASSERT!: {file_name} ({line}): {description}\n"
    return "Undefined: C%x:V%x\n" % (record_type, value)


def transcript(records, caller):
    """One caller's rendered messages joined, split into lines."""
    text = "".join(render_record(r.type, r.value, r.data) for r in records if r.caller == caller)
    return text.replace("\r\n", "\n").split("\n")
