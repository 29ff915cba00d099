"""Reading back the logs that tests/apps/logflood writes: the rotated files
in order, and the numbered lines of one writer across them."""
import re

LINE = re.compile(rb"^([ab]) (\d+) (java|native) \.{32}\r*$")


def rotated_in_order(path):
    """The log's numbered files, oldest first (app.log.N ... app.log.1), then the log."""
    def number(p):
        return int(p.name[len(path.name) + 1:])
    numbered = [p for p in path.parent.glob(path.name + ".*")
                if p.name[len(path.name) + 1:].isdigit()]
    return sorted(numbered, key=number, reverse=True) + [path]


def numbers(files, tag, skip=0):
    """(number, writer) of every line of `tag`, file after file. Every line
    of every file (after the first `skip` lines of the first) must be whole:
    one writer's, ending in a line end."""
    out = []
    for f in files:
        data = f.read_bytes()
        assert data == b"" or data.endswith(b"\n"), f
        for line in data.split(b"\n")[skip if f == files[0] else 0:-1]:
            m = LINE.match(line)
            assert m, (f, line)
            if m.group(1) == tag.encode():
                out.append((int(m.group(2)), m.group(3).decode()))
    return out


def expected(count, native=True):
    """What Flood writes: blocks of 100 lines, every other one from native code."""
    return [(n, "native" if native and (n // 100) % 2 else "java") for n in range(count)]
