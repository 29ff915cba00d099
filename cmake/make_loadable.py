#!/usr/bin/env python3
"""Clears the DF_1_PIE flag in the dynamic section of an ELF64 executable.

The Linux launcher is loaded a second time by the JVM, as the native library
of the support classes (System.load of the running executable). glibc refuses
to dlopen a file marked as a position-independent executable ("cannot
dynamically load position-independent executable"); without the flag the
same file maps like a shared object. The program still starts normally: the
kernel and the dynamic loader decide how to run a file from its ELF type
(ET_DYN with an interpreter), not from this flag.

usage: make_loadable.py FILE   (edits FILE in place; exit 0 also when the
flag was not set)
"""
import struct
import sys

PT_DYNAMIC = 2
DT_NULL = 0
DT_FLAGS_1 = 0x6FFFFFFB
DF_1_PIE = 0x08000000


def clear_pie_flag(data):
    """Returns (new bytes, True when the flag was set), or raises ValueError."""
    if data[:4] != b"\x7fELF":
        raise ValueError("not an ELF file")
    if data[4] != 2 or data[5] != 1:
        raise ValueError("only little-endian ELF64 files are handled")
    e_phoff, = struct.unpack_from("<Q", data, 0x20)
    e_phentsize, e_phnum = struct.unpack_from("<HH", data, 0x36)
    data = bytearray(data)
    changed = False
    for i in range(e_phnum):
        base = e_phoff + i * e_phentsize
        if base + 56 > len(data):
            raise ValueError("program header table outside the file")
        p_type, = struct.unpack_from("<I", data, base)
        if p_type != PT_DYNAMIC:
            continue
        p_offset, = struct.unpack_from("<Q", data, base + 8)
        p_filesz, = struct.unpack_from("<Q", data, base + 32)
        if p_offset + p_filesz > len(data):
            raise ValueError("dynamic section outside the file")
        for entry in range(p_offset, p_offset + p_filesz - 15, 16):
            tag, value = struct.unpack_from("<qQ", data, entry)
            if tag == DT_NULL:
                break
            if tag == DT_FLAGS_1 and value & DF_1_PIE:
                struct.pack_into("<Q", data, entry + 8, value & ~DF_1_PIE)
                changed = True
    return bytes(data), changed


def main(argv):
    if len(argv) != 2:
        print("usage: make_loadable.py FILE", file=sys.stderr)
        return 2
    try:
        with open(argv[1], "rb") as f:
            data = f.read()
    except OSError as error:
        print(f"make_loadable: {argv[1]}: {error.strerror}", file=sys.stderr)
        return 1
    try:
        new, changed = clear_pie_flag(data)
    except struct.error:
        print(f"make_loadable: {argv[1]}: truncated ELF file", file=sys.stderr)
        return 1
    except ValueError as error:
        print(f"make_loadable: {argv[1]}: {error}", file=sys.stderr)
        return 1
    if changed:
        try:
            with open(argv[1], "r+b") as f:
                f.write(new)
        except OSError as error:
            print(f"make_loadable: {argv[1]}: {error.strerror}", file=sys.stderr)
            return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
