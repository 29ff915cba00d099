#!/usr/bin/env python3
"""Where the room of the Windows stub goes.

Links qlx.exe again from the Windows tree's objects with the tree's own link
command, unstripped and with a map file, and prints the size of each
section of the built (stripped) stub, then the code by where it comes from:
each input file of the map (library members, and the stub's own objects
when it is not built as one unit at link time), and the symbol groups of
the unstripped file (the stub's code, the C++ library's templates by kind,
the C runtime).

usage: tools/stub_size_report.py [--build build/win] [--top N]
"""
import argparse
import collections
import re
import shlex
import struct
import subprocess
import sys
import tempfile
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent


def sections(path):
    data = path.read_bytes()
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    count = struct.unpack_from("<H", data, pe + 6)[0]
    table = pe + 24 + struct.unpack_from("<H", data, pe + 20)[0]
    for i in range(count):
        name, virtual_size = struct.unpack_from("<8sI", data, table + 40 * i)
        yield name.rstrip(b"\0").decode(), virtual_size


def link_command(build):
    """The stub's link command from build.ninja, stripping and import library left out."""
    text = (build / "build.ninja").read_text()
    block = re.search(r"^build launcher/qlx\.exe: (\S+) (.*?)$\n((?:  .*\n)+)", text, re.M)
    if not block:
        sys.exit(f"no link step of launcher/qlx.exe in {build}/build.ninja")
    # Implicit ( | ) and order-only ( || ) dependencies are no inputs of the link.
    inputs = block.group(2).split(" || ")[0].split(" | ")[0].split()
    variables = dict(re.findall(r"^  (\w+) = (.*)$", block.group(3), re.M))
    rule = re.search(r"^rule " + re.escape(block.group(1)) + r"\n  command = (.*)$", (
        build / "CMakeFiles" / "rules.ninja").read_text(), re.M).group(1)
    compiler = shlex.split(rule.split("&&")[1])[0]
    flags = [f for f in shlex.split(variables.get("FLAGS", "") + " " +
                                    variables.get("LINK_FLAGS", "")) if f != "-s"]
    return [compiler, *flags, *inputs, *shlex.split(variables.get("LINK_LIBRARIES", ""))]


def map_inputs(map_text, section=".text"):
    sizes = collections.Counter()
    current = None
    for line in map_text.splitlines():
        top = re.match(r"^(\.\S+)\s", line)
        if top:
            current = top.group(1)
            continue
        part = re.match(r"^ (?:\.\S+)?\s+0x[0-9a-f]+\s+0x([0-9a-f]+)\s+(\S.*)$", line)
        if part and current == section:
            name = re.sub(r"^.*/", "", part.group(2))
            if ".ltrans" in name:
                name = "the stub's objects, optimised as one unit at link time"
            sizes[name] += int(part.group(1), 16)
    return sizes


def symbol_groups(exe):
    out = subprocess.run(["x86_64-w64-mingw32-nm", "-C", "-S", "--size-sort", str(exe)],
                         capture_output=True, text=True, check=True).stdout
    groups = collections.Counter()
    for line in out.splitlines():
        parts = line.split(None, 3)
        if len(parts) < 4 or parts[2] not in "tT":
            continue
        size, name = int(parts[1], 16), parts[3]
        head = name[:60]
        if "std::" in head and not head.startswith(("qlx::", "Java_")) and "FunctionRef" not in head:
            kind = next((k for k in ("basic_string", "vector", "deque", "_Rb_tree", "function")
                         if k in head), None)
            if kind is None and re.search(r"__introsort|__adjust_heap|__insertion_sort", name):
                kind = "sort"
            group = f"C++ library: {kind or 'other'}"
        elif name.startswith(("qlx::", "Java_")) or "qlx::" in head:
            group = "the stub's own code"
        else:
            group = "C runtime and the rest"
        groups[group] += size
    return groups


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", type=Path, default=ROOT / "build" / "win")
    parser.add_argument("--top", type=int, default=25)
    args = parser.parse_args()
    stub = args.build / "launcher" / "qlx.exe"
    if not stub.exists():
        sys.exit(f"missing {stub}: build the Windows tree first")
    print(f"{stub}: {stub.stat().st_size} bytes")
    for name, size in sections(stub):
        print(f"  {name:8} {size:8d}")
    with tempfile.TemporaryDirectory() as work:
        exe, map_file = Path(work) / "qlx.exe", Path(work) / "qlx.map"
        subprocess.run(link_command(args.build) + ["-o", str(exe), f"-Wl,-Map,{map_file}"],
                       cwd=args.build, check=True, stderr=subprocess.DEVNULL)
        inputs = map_inputs(map_file.read_text(errors="replace"))
        print(f"\n.text by input file (map), the {args.top} largest:")
        for name, size in inputs.most_common(args.top):
            print(f"  {size:8d} {name}")
        print("\ncode by symbol group (unstripped):")
        for name, size in symbol_groups(exe).most_common():
            print(f"  {size:8d} {name}")


if __name__ == "__main__":
    main()
