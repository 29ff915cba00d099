#!/usr/bin/env python3
"""Rewrites class files compiled for the oldest target javac offers to the
class-file version 45.3 and packs them into a jar.

A 45.3 class must not contain anything the old format cannot express, so the
bytecode is checked before the version is changed: no constant-pool entries
newer than 45.3 (method handles, method types, dynamic constants, modules),
no invokedynamic, no ldc of a class constant, no static or special calls
through interface method references. StackMapTable attributes are removed:
45.3 classes are checked by the type-inferencing verifier, which neither needs
nor reads them.

usage: downgrade_classes.py CLASSES_DIR OUTPUT_JAR
Exit code 0 on success, 1 with a message naming the class on any violation.
"""
import struct
import sys
import zipfile
from pathlib import Path

TARGET_MAJOR, TARGET_MINOR = 45, 3
FIXED_TIME = (1996, 1, 23, 0, 0, 0)   # reproducible jar entries

# Constant-pool tags and the bytes that follow each.
CP_SIZES = {1: None, 3: 4, 4: 4, 5: 8, 6: 8, 7: 2, 8: 2, 9: 4, 10: 4, 11: 4, 12: 4}
CP_TOO_NEW = {15: "MethodHandle", 16: "MethodType", 17: "Dynamic", 18: "InvokeDynamic",
              19: "Module", 20: "Package"}
LDC_ALLOWED = {3, 4, 8}   # Integer, Float, String


class ClassFileError(Exception):
    pass


def instruction_length(code, pc):
    op = code[pc]
    if op in (0xaa, 0xab):                       # tableswitch, lookupswitch
        base = (pc + 4) & ~3
        if op == 0xaa:
            low, high = struct.unpack_from(">ii", code, base + 4)
            return base + 12 + 4 * (high - low + 1) - pc
        npairs = struct.unpack_from(">i", code, base + 4)[0]
        return base + 8 + 8 * npairs - pc
    if op == 0xc4:                               # wide
        return 6 if code[pc + 1] == 0x84 else 4
    if op in (0x10, 0x12, 0xa9, 0xbc) or 0x15 <= op <= 0x19 or 0x36 <= op <= 0x3a:
        return 2
    if op in (0x11, 0x13, 0x14, 0x84, 0xbb, 0xbd, 0xc0, 0xc1, 0xc6, 0xc7) \
            or 0x99 <= op <= 0xa8 or 0xb2 <= op <= 0xb8:
        return 3
    if op == 0xc5:
        return 4
    if op in (0xb9, 0xba, 0xc8, 0xc9):
        return 5
    if op > 0xc9:
        raise ClassFileError(f"unknown opcode 0x{op:02x} at {pc}")
    return 1


class Reader:
    def __init__(self, data):
        self.data, self.pos = data, 0

    def take(self, n):
        if self.pos + n > len(self.data):
            raise ClassFileError("truncated class file")
        chunk = self.data[self.pos:self.pos + n]
        self.pos += n
        return chunk

    def u2(self):
        return struct.unpack(">H", self.take(2))[0]

    def u4(self):
        return struct.unpack(">I", self.take(4))[0]


def read_constant_pool(r):
    count = r.u2()
    tags, utf8 = [None] * count, {}
    index = 1
    while index < count:
        tag = r.take(1)[0]
        if tag in CP_TOO_NEW:
            raise ClassFileError(f"constant {CP_TOO_NEW[tag]} cannot be expressed in 45.3")
        if tag not in CP_SIZES:
            raise ClassFileError(f"unknown constant-pool tag {tag}")
        tags[index] = tag
        if tag == 1:
            utf8[index] = r.take(r.u2()).decode("utf-8", "surrogatepass")
        else:
            r.take(CP_SIZES[tag])
        index += 2 if tag in (5, 6) else 1
    return tags, utf8


def check_code(code, tags):
    pc = 0
    while pc < len(code):
        op = code[pc]
        if op == 0xba:
            raise ClassFileError(f"invokedynamic at {pc}")
        if op in (0x12, 0x13):
            index = code[pc + 1] if op == 0x12 else struct.unpack_from(">H", code, pc + 1)[0]
            if tags[index] not in LDC_ALLOWED:
                raise ClassFileError(f"ldc of constant tag {tags[index]} at {pc}")
        if op in (0xb7, 0xb8):
            index = struct.unpack_from(">H", code, pc + 1)[0]
            if tags[index] == 11:
                raise ClassFileError(f"invokespecial/invokestatic of an interface method at {pc}")
        pc += instruction_length(code, pc)
    if pc != len(code):
        raise ClassFileError("instruction runs past the end of the code")


def rewrite_code(body, tags, utf8):
    r = Reader(body)
    head = r.take(4)                              # max_stack, max_locals
    code_length = r.u4()
    code = r.take(code_length)
    check_code(code, tags)
    n_exc = r.u2()
    exc_table = r.take(8 * n_exc)
    kept = []
    for _ in range(r.u2()):
        name_index = r.u2()
        data = r.take(r.u4())
        if utf8.get(name_index) != "StackMapTable":
            kept.append(struct.pack(">HI", name_index, len(data)) + data)
    if r.pos != len(body):
        raise ClassFileError("Code attribute longer than its contents")
    return (head + struct.pack(">I", code_length) + code + struct.pack(">H", n_exc) + exc_table
            + struct.pack(">H", len(kept)) + b"".join(kept))


def copy_attributes(r, out, tags, utf8):
    count = r.u2()
    out.append(struct.pack(">H", count))
    for _ in range(count):
        name_index = r.u2()
        data = r.take(r.u4())
        if utf8.get(name_index) == "Code":
            data = rewrite_code(data, tags, utf8)
        out.append(struct.pack(">HI", name_index, len(data)) + data)


def downgrade(data):
    r = Reader(data)
    if r.u4() != 0xCAFEBABE:
        raise ClassFileError("not a class file")
    major = struct.unpack(">H", r.take(4)[2:])[0]   # minor, major
    if major > 51:
        raise ClassFileError(f"compiled for class-file version {major}; compile with --release 7")
    pool_start = r.pos
    tags, utf8 = read_constant_pool(r)
    out = [data[:4], struct.pack(">HH", TARGET_MINOR, TARGET_MAJOR), data[pool_start:r.pos]]
    fixed = r.take(6)                             # access, this, super
    n_interfaces = r.u2()
    out.append(fixed + struct.pack(">H", n_interfaces) + r.take(2 * n_interfaces))
    for _members in range(2):                     # fields, then methods
        count = r.u2()
        out.append(struct.pack(">H", count))
        for _ in range(count):
            out.append(r.take(6))                 # access, name, descriptor
            copy_attributes(r, out, tags, utf8)
    copy_attributes(r, out, tags, utf8)
    if r.pos != len(data):
        raise ClassFileError("trailing bytes after the class file")
    return b"".join(out)


def main(argv):
    if len(argv) != 3:
        print(__doc__.strip().splitlines()[-2], file=sys.stderr)
        return 2
    classes, jar = Path(argv[1]), Path(argv[2])
    files = sorted(p for p in classes.rglob("*.class"))
    if not files:
        print(f"downgrade_classes: no class files below {classes}", file=sys.stderr)
        return 1
    entries = []
    for path in files:
        name = path.relative_to(classes).as_posix()
        try:
            entries.append((name, downgrade(path.read_bytes())))
        except OSError as error:
            print(f"downgrade_classes: {name}: {error.strerror}", file=sys.stderr)
            return 1
        except (ClassFileError, struct.error, IndexError) as error:
            print(f"downgrade_classes: {name}: {error}", file=sys.stderr)
            return 1
    tmp = jar.with_name(jar.name + ".tmp")
    try:
        with zipfile.ZipFile(tmp, "w", zipfile.ZIP_DEFLATED) as z:
            for name, data in entries:
                info = zipfile.ZipInfo(name, FIXED_TIME)
                info.compress_type = zipfile.ZIP_DEFLATED
                z.writestr(info, data)
        tmp.replace(jar)
    except OSError as error:
        print(f"downgrade_classes: cannot write {jar}: {error.strerror}", file=sys.stderr)
        tmp.unlink(missing_ok=True)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
