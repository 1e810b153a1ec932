#!/usr/bin/env python3
"""Checks that firmware C++ keeps the house style: NULL, declarations at the top of a block,
EDK II names, and none of the C++ that a firmware build does not want.

Usage: firmware_style.py [--root DIR] [FILE...]
Without files it checks every firmware source under the root (FIRMWARE_FOLDERS below).
Exit code 0: clean; 1: violations (one "file:line: rule: text" line each); 2: usage error.
"""
import argparse
import pathlib
import re
import sys

# The folders whose C++ is firmware: every *.cpp and *.h below them is checked. A folder that
# does not exist yet is skipped, so a module joins the check the moment it is added.
FIRMWARE_FOLDERS = [
    "roster",
    "hotlatch",
    "support",
    "kcstransport",
    "ssvshandler",
    # e2e: the UEFI applications and the board's DXE driver. Every C++ source under e2e/ is
    # firmware; the runners and checks there are Python.
    "e2e",
]

# The e2e firmware sources predate this check and are being reorganised; until they are
# restyled, each may keep the violations it has of a rule (by file name, so that a move to
# another e2e folder keeps its entry), and no more. Lower a count when a file is cleaned.
E2E_EXISTING = {
    ("BmcRecorder.cpp", "declaration"): 3,
    ("BoardConfig.cpp", "declaration"): 6,
    ("BoardDxeMain.cpp", "declaration"): 5,
    ("BoardDxeMain.cpp", "name"): 1,
    ("BoardMain.cpp", "declaration"): 15,
    ("BoardOutput.cpp", "declaration"): 2,
    ("BoardOutput.cpp", "name"): 1,
    ("BoardScenario.cpp", "declaration"): 2,
    ("ControllerConnect.cpp", "declaration"): 4,
    ("DispatchedImages.cpp", "declaration"): 7,
    ("HarnessMain.cpp", "declaration"): 6,
    ("ImageFile.cpp", "declaration"): 6,
    ("KeyboardWait.cpp", "declaration"): 3,
    ("Measurements.cpp", "declaration"): 9,
    ("MemoryRoutinesCheck.cpp", "banned"): 6,
    ("MemoryRoutinesCheck.cpp", "declaration"): 4,
    ("PlatformPeers.cpp", "declaration"): 3,
    ("PortIo.cpp", "declaration"): 7,
    ("ReportLine.cpp", "declaration"): 1,
    ("RootBridges.cpp", "declaration"): 10,
    ("SetupVariables.cpp", "declaration"): 10,
    ("StatusCodeCapture.cpp", "declaration"): 9,
}

# Files that are generated or about to be replaced; their style is their generator's.
SKIPPED_NAMES = {"AutoGen.cpp", "DebugRecords.h"}

# Names the toolchain asks for by these spellings (compiler runtime and image entry).
ABI_NAMES = {"memset", "memcpy", "memmove", "memcmp", "_ModuleEntryPoint", "__chkstk", "_fltused",
             "_gUefiDriverRevision", "_gDriverUnloadImageCount"}

BANNED_WORDS = {
    "nullptr": "NULL, not nullptr",
    "reinterpret_cast": "a C cast, not reinterpret_cast",
    "static_cast": "a C cast, not static_cast",
    "const_cast": "a C cast, not const_cast",
    "dynamic_cast": "no RTTI",
    "typeid": "no RTTI",
    "new": "no new: memory comes from the pool services",
    "delete": "no delete: memory goes back to the pool services",
    "throw": "no exceptions",
    "try": "no exceptions",
    "catch": "no exceptions",
    "float": "no floating point",
    "double": "no floating point",
    "class": "struct, not class",
    "auto": "a declared EDK II type, not auto",
    "bool": "BOOLEAN, not bool",
    "true": "TRUE, not true",
    "false": "FALSE, not false",
}

# C's own types; the compiler's memory routines (ABI_NAMES) keep them in the signatures the
# compiler calls, and in their bodies.
C_TYPES = {
    "char", "short", "int", "long", "unsigned", "signed", "wchar_t", "size_t", "ssize_t", "ptrdiff_t",
    "intptr_t", "uintptr_t", "int8_t", "int16_t", "int32_t", "int64_t", "uint8_t", "uint16_t", "uint32_t",
    "uint64_t",
}

# Words that start a statement but never a declaration.
STATEMENT_WORDS = {
    "return", "goto", "if", "else", "while", "for", "do", "switch", "case", "default", "break",
    "continue", "sizeof", "static_assert", "asm", "__asm__", "va_start", "va_end", "va_copy",
}
DECLARATION_WORDS = {"static", "STATIC", "typedef", "struct", "union", "enum", "constexpr", "extern"}
QUALIFIERS = {"const", "CONST", "volatile", "VOLATILE", "unsigned", "signed", "register", "IN", "OUT",
              "OPTIONAL"}

TOKEN = re.compile(r"[A-Za-z_]\w*|0[xX][0-9A-Fa-f]+\w*|\d+\w*|::|->|\[\[|\]\]|\S")
TYPE_NAME = re.compile(r"^[A-Z][A-Z0-9_]*$")
LOCAL_NAME = re.compile(r"^[A-Z][A-Za-z0-9]*$")
GLOBAL_NAME = re.compile(r"^([mg][A-Z][A-Za-z0-9]*|[A-Z][A-Za-z0-9_]*)$")
# A typed compile-time constant (constexpr) may also be spelt kName.
CONSTANT_NAME = re.compile(r"^k[A-Z][A-Za-z0-9]*$")


def blank_out(text):
    """Comments, string and character literals and preprocessor lines become spaces; line
    breaks stay so token lines stay right."""
    out = []
    index = 0
    length = len(text)
    at_line_start = True
    while index < length:
        char = text[index]
        if at_line_start and char == "#":
            # A directive, with its continuation lines.
            while index < length and text[index] != "\n":
                if text[index] == "\\" and index + 1 < length and text[index + 1] == "\n":
                    out.append(" \n")
                    index += 2
                    continue
                out.append(" ")
                index += 1
            continue
        if char in " \t":
            out.append(char)
            index += 1
            continue
        if char == "\n":
            out.append(char)
            at_line_start = True
            index += 1
            continue
        at_line_start = False
        if text.startswith("//", index):
            while index < length and text[index] != "\n":
                out.append(" ")
                index += 1
            continue
        if text.startswith("/*", index):
            end = text.find("*/", index + 2)
            end = length if end < 0 else end + 2
            out.append(re.sub(r"[^\n]", " ", text[index:end]))
            index = end
            continue
        if char in "\"'":
            end = index + 1
            while end < length and text[end] != char and text[end] != "\n":
                end += 2 if text[end] == "\\" else 1
            end = min(end + 1, length)
            # One placeholder token keeps a literal an operand.
            out.append("0" + " " * (end - index - 1))
            index = end
            continue
        out.append(char)
        index += 1
    return "".join(out)


def directives(text):
    """(line, text) of each preprocessor directive, continuation lines joined, without its
    comments and literals."""
    found = []
    lines = text.split("\n")
    index = 0
    while index < len(lines):
        if lines[index].lstrip().startswith("#"):
            start = index
            joined = lines[index]
            while joined.endswith("\\") and index + 1 < len(lines):
                index += 1
                joined = joined[:-1] + " " + lines[index]
            joined = re.sub(r'"(?:\\.|[^"\\])*"' + r"|'(?:\\.|[^'\\])*'", "0", joined)
            joined = re.sub(r"//.*|/\*.*?\*/", " ", joined)
            found.append((start + 1, joined))
        index += 1
    return found


def tokenize(text):
    """(token, line) pairs, and each token's offset in the text."""
    tokens = []
    offsets = []
    start = 0
    for number, line in enumerate(blank_out(text).split("\n"), start=1):
        for match in TOKEN.finditer(line):
            tokens.append((match.group(0), number))
            offsets.append(start + match.start())
        start += len(line) + 1
    return tokens, offsets


def is_identifier(token):
    return re.match(r"^[A-Za-z_]\w*$", token) is not None


def skip_attributes(words, index):
    """Index past any __attribute__((...)), [[...]] and EFIAPI at words[index]."""
    while index < len(words):
        if words[index] == "__attribute__" and index + 1 < len(words) and words[index + 1] == "(":
            index = match_close(words, index + 1)
        elif words[index] == "[[":
            while index < len(words) and words[index] != "]]":
                index += 1
            index += 1
        elif words[index] in ("EFIAPI", "inline"):
            index += 1
        else:
            break
    return index


def match_close(words, index):
    """Index past the bracket that closes the one at words[index]."""
    opener = words[index]
    closer = {"(": ")", "[": "]", "{": "}", "<": ">"}[opener]
    depth = 0
    while index < len(words):
        if words[index] == opener:
            depth += 1
        elif words[index] == closer:
            depth -= 1
            if depth == 0:
                return index + 1
        index += 1
    return index


def declared_name(words):
    """The name a statement declares, or None when it is no declaration."""
    index = skip_attributes(words, 0)
    if index >= len(words):
        return None
    if words[index] in STATEMENT_WORDS:
        return None
    specified = False
    while index < len(words) and (words[index] in QUALIFIERS or words[index] in DECLARATION_WORDS):
        specified = specified or words[index] in DECLARATION_WORDS
        index += 1
    index = skip_attributes(words, index)
    if index >= len(words) or not is_identifier(words[index]):
        return "" if specified else None
    index += 1
    while index < len(words) and words[index] == "::" and index + 1 < len(words):
        index += 2
    if index < len(words) and words[index] == "<":
        index = match_close(words, index)
    while index < len(words) and (words[index] in ("*", "&") or words[index] in QUALIFIERS):
        index += 1
    index = skip_attributes(words, index)
    if index < len(words) and is_identifier(words[index]) and words[index] not in STATEMENT_WORDS:
        return words[index]
    if index < len(words) and words[index] == "(" and index + 2 < len(words) and words[index + 1] == "*":
        # A function pointer: TYPE (*Name)(...).
        return words[index + 2] if is_identifier(words[index + 2]) else ""
    return "" if specified else None


class Checker:
    def __init__(self, path, text):
        self.path = path
        self.tokens, self.offsets = tokenize(text)
        self.directives = directives(text)
        self.problems = []
        # Declarations after a statement: (first statement's token, declaration's first token,
        # its ";" token) for whoever wants to move them.
        self.late_declarations = []
        # Token ranges of the functions the compiler's runtime names.
        self.abi_spans = []

    def report(self, line, rule, detail):
        self.problems.append(f"{self.path}:{line}: {rule}: {detail}")

    def run(self):
        self.walk(0, len(self.tokens), "scope")
        for position, (token, line) in enumerate(self.tokens):
            if token in C_TYPES and not any(start <= position <= end for start, end in self.abi_spans):
                self.report(line, "banned", f"'{token}': an EDK II type (INT32, UINTN, CHAR8, ...)")
            if token in BANNED_WORDS:
                self.report(line, "banned", f"'{token}': {BANNED_WORDS[token]}")
            if token == "[" and self.is_lambda(position):
                self.report(line, "banned", "a lambda: a static function instead")
        for line, directive in self.directives:
            for word in re.findall(r"[A-Za-z_]\w*", directive):
                if word in BANNED_WORDS:
                    self.report(line, "banned", f"'{word}' in a macro: {BANNED_WORDS[word]}")
                if word in C_TYPES:
                    self.report(line, "banned", f"'{word}' in a macro: an EDK II type")
        return self.problems

    def is_lambda(self, position):
        previous = self.tokens[position - 1][0] if position > 0 else ";"
        if is_identifier(previous) and previous not in ("return",) or previous in (")", "]"):
            return False  # an index
        words = [token for token, _ in self.tokens]
        after = match_close(words, position)
        if after < len(words) and words[after] == "(":
            after = match_close(words, after)
        return after < len(words) and words[after] in ("{", "->", "mutable")

    def walk(self, start, end, kind):
        """Checks the statements of one brace level: kind is "scope" (file, namespace, extern
        block), "type" (a struct, union or enum body), "block" (code) or "init"."""
        words = [token for token, _ in self.tokens]
        first = None  # the block's first statement that is no declaration
        index = start
        statement = []
        statement_start = start
        while index < end:
            token, line = self.tokens[index]
            if not statement:
                statement_start = index
            if token == "{":
                close = match_close(words, index) - 1
                inner = self.brace_kind(statement, kind)
                if kind == "block" and inner == "block":
                    # if, else, for, while, do, switch, a case or a plain compound statement.
                    first = statement_start if first is None else first
                elif kind == "type" and inner == "block":
                    self.report(line, "banned", "a member function: a struct holds data only")
                elif kind == "scope" and inner == "block":
                    self.check_function(statement)
                    if declared_name([word for word, _ in statement]) in ABI_NAMES:
                        self.abi_spans.append((statement_start, close))
                elif inner == "type":
                    self.check_type_name(statement)
                self.walk(index + 1, close, inner)
                index = close + 1
                if inner in ("block", "scope"):
                    statement = []
                else:
                    statement.append(("{}", line))
                continue
            if token == "(":
                close = match_close(words, index)
                if kind == "block" and statement and statement[-1][0] == "for":
                    first = statement_start if first is None else first
                    self.check_for_init(index + 1, close - 1, first)
                statement.extend(self.tokens[index:close])
                index = close
                continue
            if token == ":" and kind == "block" and self.ends_label(statement):
                statement = []
                index += 1
                continue
            if token == ";":
                if kind == "block" and statement:
                    if not self.check_statement(statement, first, statement_start, index):
                        first = statement_start if first is None else first
                elif kind == "type":
                    self.check_member(statement)
                elif kind == "scope" and statement:
                    self.check_scope_declaration(statement)
                statement = []
                index += 1
                continue
            statement.append((token, line))
            index += 1

    @staticmethod
    def ends_label(statement):
        words = [token for token, _ in statement]
        if not words:
            return False
        if words[0] in ("case", "default"):
            return True
        return len(words) == 1 and is_identifier(words[0]) and words[0] not in ("public", "private")

    def brace_kind(self, statement, kind):
        words = top_level([token for token, _ in statement])
        if kind == "init":
            return "init"
        if kind == "block":
            if not words or words[-1] in (")", "else", "do"):
                return "block"
            if any(word in ("struct", "union", "enum") for word in words) and "=" not in words:
                return "type"
            return "init"
        if "namespace" in words or words == ["extern", "0"]:
            return "scope"
        if "=" in words:
            return "init"
        if any(word in ("struct", "union", "enum") for word in words) and words[-1] != ")":
            return "type"
        return "block"

    def check_statement(self, statement, first, start, end):
        """Returns whether the statement is a declaration."""
        words = [token for token, _ in statement]
        name = declared_name(words)
        if name is None:
            return False
        line = statement[0][1]
        if first is not None:
            shown = " ".join(words[:5])
            self.report(line, "declaration", f"'{shown}' after a statement: declare at the top of the block")
            self.late_declarations.append((first, start, end))
        static = words[0] in ("static", "STATIC")
        constant = "constexpr" in words and CONSTANT_NAME.match(name)
        if name and not LOCAL_NAME.match(name) and not (static and GLOBAL_NAME.match(name)) and not constant:
            self.report(line, "name", f"local '{name}': an EDK II name (UpperCamelCase)")
        return True

    def check_for_init(self, start, end, first):
        words = [token for token, _ in self.tokens[start:end]]
        init = words[: words.index(";")] if ";" in words else words
        if declared_name(init):
            self.report(self.tokens[start][1], "declaration", "a declaration in a for statement: declare at the top of the block")
            self.late_declarations.append((first, start, start + len(init)))

    def check_function(self, statement):
        words = [token for token, _ in statement]
        if words and words[0] == "template":
            words = words[match_close(words, 1):] if len(words) > 1 and words[1] == "<" else words
        name = declared_name(words)
        if name and name not in ABI_NAMES and not LOCAL_NAME.match(name):
            self.report(statement[0][1], "name", f"function '{name}': an EDK II name (UpperCamelCase)")

    def check_type_name(self, statement):
        words = [token for token, _ in statement]
        for position, word in enumerate(words[:-1]):
            if word in ("struct", "union", "enum") and is_identifier(words[position + 1]):
                name = words[position + 1]
                if not TYPE_NAME.match(name):
                    self.report(statement[0][1], "name", f"type '{name}': an EDK II type name (UPPER_CASE)")
                return

    def check_member(self, statement):
        words = top_level([token for token, _ in statement])
        # A data member's only parentheses are a function pointer's: TYPE (*Name)(...).
        for position, word in enumerate(words[1:], start=1):
            if word == "(" and is_identifier(words[position - 1]) and position >= 2:
                before = words[position - 2]
                if is_identifier(before) or before in ("*", "&"):
                    self.report(statement[0][1], "banned", "a member function: a struct holds data only")
                    return

    def check_scope_declaration(self, statement):
        words = [token for token, _ in statement]
        line = statement[0][1]
        if words[0] == "typedef":
            name = words[-1] if is_identifier(words[-1]) else declared_name(words)
            if name and not TYPE_NAME.match(name):
                self.report(line, "name", f"type '{name}': an EDK II type name (UPPER_CASE)")
            return
        if words[0] in ("static_assert", "using", "template") or words[-1] == "{}":
            return
        name = declared_name(words)
        if not name:
            return
        position = words.index(name)
        if position + 1 < len(words) and words[position + 1] == "(":
            if name not in ABI_NAMES and not LOCAL_NAME.match(name):
                self.report(line, "name", f"function '{name}': an EDK II name (UpperCamelCase)")
            return
        if name not in ABI_NAMES and not GLOBAL_NAME.match(name) and not ("constexpr" in words and CONSTANT_NAME.match(name)):
            self.report(line, "name", f"global '{name}': an EDK II name (mName, gName or UPPER_CASE)")


def top_level(words):
    """The words outside any parentheses, each parenthesised group kept as "(" and ")"."""
    result = []
    depth = 0
    for word in words:
        if word == "(":
            if depth == 0:
                result.append("(")
            depth += 1
        elif word == ")":
            depth -= 1
            if depth == 0:
                result.append(")")
        elif depth == 0:
            result.append(word)
    return result


def firmware_files(root):
    files = []
    for folder in FIRMWARE_FOLDERS:
        base = root / folder
        if not base.is_dir():
            continue
        for path in sorted(base.rglob("*")):
            if path.suffix in (".cpp", ".h") and path.name not in SKIPPED_NAMES and path.is_file():
                files.append(path)
    return files


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--root", default=str(pathlib.Path(__file__).resolve().parents[2]))
    parser.add_argument("files", nargs="*")
    arguments = parser.parse_args(argv)
    root = pathlib.Path(arguments.root)
    files = [pathlib.Path(name) for name in arguments.files] or firmware_files(root)
    if not files:
        print(f"no firmware sources under {root}", file=sys.stderr)
        return 2
    problems = []
    excused = 0
    for path in files:
        try:
            text = path.read_text(encoding="utf-8")
        except OSError as error:
            print(f"{path}: {error}", file=sys.stderr)
            return 2
        shown = path.relative_to(root) if path.is_absolute() and root in path.parents else path
        found = Checker(shown, text).run()
        if shown.parts and shown.parts[0] == "e2e":
            kept = []
            for rule in sorted({problem.split(": ")[1] for problem in found}):
                of_rule = [problem for problem in found if problem.split(": ")[1] == rule]
                allowed = E2E_EXISTING.get((path.name, rule), 0)
                if len(of_rule) <= allowed:
                    excused += len(of_rule)
                    continue
                kept.append(f"{shown}: {rule}: {len(of_rule)} violations where {allowed} are listed as existing:")
                kept.extend(of_rule)
            found = kept
        problems.extend(found)
    for problem in problems:
        print(problem)
    print(f"{len(files)} firmware sources, {len(problems)} style violations, {excused} listed e2e exceptions")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
