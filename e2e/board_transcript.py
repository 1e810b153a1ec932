"""The drivers' transcripts in a board report: the captured status codes rendered by the
host's one status-code listener, tools/debug-render, which runs the simulator's renderer.
Python standard library only."""

import os
import subprocess

_REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
_tool = None


def use_tool(path):
    """Renders with the debug-render at path from now on (run_board.py's --debug-render)."""
    global _tool
    _tool = path


def tool_path():
    """The debug-render set by use_tool, else $DEBUG_RENDER, else the one in build/."""
    return _tool or os.environ.get("DEBUG_RENDER") or os.path.join(_REPO, "build", "tools", "debug-render",
                                                                     "debug-render")


def render(records):
    """(kind, text) per record, in order: kind is "debug", "assert" or "other", text what a
    serial listener prints for it (plain line ends; empty for "other")."""
    if not records:
        return []
    lines = "".join(f"{r.type:X} {r.value:X} {r.instance:X} {bytes(r.data).hex().upper()}\n" for r in records)
    try:
        run = subprocess.run([tool_path(), "--records"], input=lines.encode("ascii"), capture_output=True,
                             check=False, timeout=60)
    except OSError as error:
        raise RuntimeError(f"cannot run debug-render ({tool_path()}): {error}; build it with "
                           "cmake --build build --target debug-render") from error
    if run.returncode != 0:
        raise RuntimeError(f"debug-render exited {run.returncode}: {run.stderr.decode(errors='replace').strip()}")
    rendered = []
    for line in run.stdout.decode("ascii").splitlines():
        kind, _, text = line.partition(" ")
        rendered.append((kind, bytes.fromhex(text).decode("latin-1")))
    if len(rendered) != len(records):
        raise RuntimeError(f"debug-render answered {len(rendered)} records for {len(records)}")
    return rendered


def transcript(records, caller):
    """One caller's rendered messages joined, split into lines."""
    return "".join(text for _, text in render([r for r in records if r.caller == caller])).split("\n")
