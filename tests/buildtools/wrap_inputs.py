"""Inputs for running both generators side by side: stubs, archives, icons
and configuration texts, good and broken, and a seeded generator of whole
command lines made from them."""
import random
import shutil
import struct
import subprocess
import zipfile
from pathlib import Path

import qlxtest

MARKER = b"qlx:arclen:v1\0"


def fake_stub():
    """Arbitrary bytes with one empty archive length slot (not a PE image)."""
    return bytes(range(1, 256)) * 4 + b"\0" * 8 + MARKER + b"tail of the image"


def ico(images):
    """An .ico file of (width, height, data) images."""
    header = struct.pack("<HHH", 0, 1, len(images))
    offset, entries, blobs = 6 + 16 * len(images), b"", b""
    for w, h, data in images:
        entries += struct.pack("<BBBBHHII", w % 256, h % 256, 0, 0, 1, 32, len(data), offset + len(blobs))
        blobs += data
    return header + entries + blobs


def dib(w, h):
    return struct.pack("<IiiHHIIiiII", 40, w, 2 * h, 1, 32, 0, 0, 0, 0, 0, 0) + bytes(w * h * 4 + 4 * h)


PNG = b"\x89PNG\r\n\x1a\n" + bytes(120)


def zip_bytes(entries, comment=b"", descriptor=False, method=zipfile.ZIP_DEFLATED):
    import io
    buf = io.BytesIO()
    with zipfile.ZipFile(buf, "w", method) as z:
        z.comment = comment
        for name, data in entries.items():
            z.writestr(name, data)
    return buf.getvalue()


def make_inputs(folder, hello_jar):
    """Writes the pool into `folder`; returns {kind: {name: path}}."""
    folder = Path(folder)
    folder.mkdir(parents=True, exist_ok=True)
    pool = {"stub": {}, "jar": {}, "merge": {}, "icon": {}, "config": {}}

    def put(kind, name, data):
        path = folder / kind / name
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(data)
        pool[kind][name] = path
        return path

    win = qlxtest.STUB_WIN.read_bytes()
    put("stub", "qlx.exe", win).chmod(0o755)
    put("stub", "qlx", qlxtest.STUB_LINUX.read_bytes()).chmod(0o750)
    put("stub", "fake", fake_stub()).chmod(0o700)
    put("stub", "noslot", b"\x7fELF" + bytes(500))
    put("stub", "twoslots", fake_stub() * 2)
    put("stub", "empty", b"")
    # A PE stub whose resource directory claims more than the file holds.
    damaged = bytearray(win)
    pe = struct.unpack_from("<I", damaged, 0x3C)[0]
    struct.pack_into("<I", damaged, pe + 24 + 112 + 8 * 2 + 4, 0x7FFFFF00)
    put("stub", "damaged-resources.exe", bytes(damaged))
    if shutil.which("osslsigncode") and shutil.which("openssl"):
        key, cert = folder / "key.pem", folder / "cert.pem"
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", str(key),
                        "-out", str(cert), "-subj", "/CN=qlx test", "-days", "2"],
                       check=True, capture_output=True, timeout=60)
        signed = folder / "stub" / "signed.exe"
        subprocess.run(["osslsigncode", "sign", "-certs", str(cert), "-key", str(key), "-in",
                        str(qlxtest.STUB_WIN), "-out", str(signed)], check=True, capture_output=True, timeout=60)
        pool["stub"]["signed.exe"] = signed

    hello = hello_jar.read_bytes()
    put("jar", "hello.jar", hello)
    put("jar", "comment.jar", zip_bytes({"a.txt": b"a", "sample/Main.class": b"x"}, comment=b"a comment"))
    put("jar", "prefixed.jar", b"prefix " + hello)
    put("jar", "text.jar", b"plain text, not an archive\n")
    put("jar", "truncated.jar", hello[:len(hello) // 2])
    put("jar", "empty.zip", zip_bytes({}))
    bad_local = bytearray(zip_bytes({"bad\x1b[31mname\u202e.txt": b"data"}))
    bad_local[0] = 0x51  # the first local header's signature
    put("jar", "badlocal.jar", bytes(bad_local))
    classes = hello_jar.parent / (hello_jar.stem + "-classes")
    hello_class = (classes / "sample" / "Hello.class").read_bytes()

    def manifest(lines):
        return b"Manifest-Version: 1.0\r\n" + lines + b"\r\n"

    # Main-Class in the manifest: deflated and stored, wrapped, absent from the
    # archive, in a version folder only, with a control character, in lower case.
    put("jar", "manifest.jar", zip_bytes({"META-INF/MANIFEST.MF": manifest(b"Main-Class: sample.Hello\r\n"),
                                          "sample/Hello.class": hello_class}))
    put("jar", "manifest-stored.jar", zip_bytes({
        "META-INF/MANIFEST.MF": manifest(b"Created-By: a tool whose name is long enough to wrap\r\n"
                                         b"Main-Class: sample.Hel\r\n lo \r\nX-Other: 1\r\n"),
        "sample/Hello.class": hello_class}, method=zipfile.ZIP_STORED))
    put("jar", "manifest-missing.jar", zip_bytes({"META-INF/MANIFEST.MF": manifest(b"Main-Class: gone.Main\r\n"),
                                                  "sample/Hello.class": hello_class}))
    put("jar", "multirelease.jar", zip_bytes({
        "META-INF/MANIFEST.MF": manifest(b"Multi-Release: true\r\nMain-Class: mr.Main\r\n"),
        "META-INF/versions/11/mr/Main.class": b"\xca\xfe\xba\xbe"}))
    put("jar", "manifest-controls.jar", zip_bytes({"META-INF/MANIFEST.MF": manifest(b"Main-Class: a.\x1bB\r\n"),
                                                   "a/\x1bB.class": b"x"}))
    put("jar", "manifest-lf.jar", zip_bytes({"META-INF/MANIFEST.MF": b"main-class:   caf\xc3\xa9.Main \t\nother: x\n",
                                             "caf\u00e9/Main.class": b"x"}))
    streamed = folder / "jar" / "streamed.jar"
    subprocess.run([str(qlxtest.JDK / "bin" / "jar"), "cf", str(streamed), "-C", str(classes), "."],
                   check=True, timeout=60)
    pool["jar"]["streamed.jar"] = streamed

    put("merge", "lib.jar", zip_bytes({
        "META-INF/MANIFEST.MF": b"Manifest-Version: 1.0\r\nCreated-By: lib\r\n\r\n",
        "META-INF/LIB.SF": b"signature file", "META-INF/lib.rsa": b"block", "META-INF/X.DSA": b"d",
        "META-INF/Y.EC": b"e", "META-INF/INDEX.LIST": b"index", "META-INF/maven/g/a/pom.xml": b"<project/>",
        "sample/Hello.class": b"not the application's class", "lib/data.txt": b"from the library"}))
    put("merge", "lib2.jar", zip_bytes({"lib/data.txt": b"second copy", "lib2/x.txt": b"x", "lib2/Main.class": b"x",
                                        "META-INF/services/a.B": b"c.D"}))
    put("merge", "text.jar", b"not a zip")
    pool["merge"]["streamed.jar"] = streamed

    put("icon", "app.ico", ico([(16, 16, dib(16, 16)), (32, 32, dib(32, 32)), (256, 256, PNG)]))
    put("icon", "one.ico", ico([(48, 48, dib(48, 48))]))
    put("icon", "text.ico", b"not an icon at all")
    put("icon", "none.ico", struct.pack("<HHH", 0, 1, 0))
    outside = bytearray(ico([(16, 16, dib(16, 16))]))
    struct.pack_into("<I", outside, 6 + 12, 1 << 20)
    put("icon", "outside.ico", bytes(outside))
    put("icon", "neither.ico", ico([(16, 16, b"\x01" * 64)]))
    shared = bytearray(ico([(16, 16, dib(16, 16)), (16, 16, dib(16, 16))]))
    struct.pack_into("<I", shared, 6 + 16 + 12, struct.unpack_from("<I", shared, 6 + 12)[0] + 8)
    put("icon", "shared.ico", bytes(shared))
    put("icon", "many.ico", ico([(16, 16, PNG)] * 65))

    for name, data in CONFIGS.items():
        put("config", name, data)
    return pool


CONFIGS = {
    "main.cfg": b"mainclass sample.Hello\n",
    "full.cfg": ("mainclass sample.Hello\r\noption -Xmx64m\r\nminjre 1.8\r\nmaxjre 25\r\nsingleinstance true\r\n"
                 "message 257=Caf\u00e9 \u20ac\r\nargv x\r\nlogrotate 10M, daily\r\nlogkeep 3\r\n").encode(),
    "bom.cfg": b"\xef\xbb\xbfmainclass sample.Hello\nappid x\n",
    "utf16le.cfg": "\ufeffmainclass sample.Hello\rmessage 1=\u00e9\u20ac\U0001F600".encode("utf-16-le"),
    "utf16be.cfg": "\ufeffmainclass sample.Hello\n".encode("utf-16-be"),
    "odd16.cfg": "\ufeffmainclass a.B".encode("utf-16-le") + b"x",
    "surrogate16.cfg": b"\xff\xfe" + "mainclass a".encode("utf-16-le") + b"\x00\xd8",
    "latin1.cfg": b"mainclass caf\xe9\n",
    "nul.cfg": b"mainclass a.B\n\0appid x\n",
    "nomain.cfg": b"option -Xmx1g\n",
    "warnings.cfg": b"mainclass a.B\nmainclas a.B\nmainclass c.D\noptions -Xmx1g\n# comment\n; other\n",
    "errors.cfg": b"mainclass a.B\nminjre 1.8.x\njre_order xyz\nstoptimeout 0\ninstancefilter a*b\n"
                  b"logrotate 10X\nlogkeep 10000\nlogmaxage 5y\nwildcard maybe\n",
    "controls.cfg": "mainclass a.B\nappid \x1b[31mred\nminjre \u202e1.8\nsingleinstance \x7f\n".encode(),
    "external.cfg": b"mainclass x.Y\ndisableexternal true\nminjre 17\nunknownkey 1\n",
    "empty.cfg": b"",
    "quoted.cfg": b'mainclass sample.Hello\noption "-Dgreeting=hello world"\noption -Dx="a"\noptions "-Dy=1 2"\n',
    "filters.cfg": b"mainclass sample.Hello\ninstancefilter srv**;!*\ninstancefilter **\n"
                   b"instancefilter maxdepth=5;maxrefs=9\n",
    "padded.cfg": b"  mainclass  sample.Hello  \n",
    "mergedmain.cfg": b"mainclass lib2.Main\n",
    "emptymain.cfg": b"mainclass\nmainclass sample.Other\noption -Xmx1g\n",
}

# Values per key: ones the key's form takes | ones it refuses.
KEY_VALUES = {
    "mainclass": (["sample.Hello", "caf\u00e9.Main"], [""]),
    "minjre": (["1.8", "17", "1.8.0_392", "21.0.2.1"], ["abc", "1.8.", "1..8", "1.2.3.4.5", "\u00e9", " 17"]),
    "maxjre": (["25", "1.8"], ["x"]),
    "jre_order": (["cbsiev", "CB"], ["xyz", "c b"]),
    "singleinstance": (["true", "Handover", "custom", "false"], ["yes"]),
    "wildcard": (["auto", "all", "TRUE"], ["maybe"]),
    "mainargv": (["cs", "sc  ", "s"], ["x", " c"]),
    "disableexternal": (["true", "false"], ["1"]),
    "stoptimeout": (["30", "3600", "007"], ["0", "3601", "abc", "1234567890"]),
    "instancefilter": (["com.example.**;!*", "maxdepth=5;java.lang.*", "com.caf\u00e9.*", "*",
                        "maxbytes=123456789012345678;a.B", " java.** ; !* "],
                       ["!", "a*b", "maxfoo=1", ";;", "mod/com.x.*", "srv**;!*", "**", "maxdepth=5",
                        "maxbytes=1234567890123456789;a.B", "MAXDEPTH=1;a"]),
    "classdata": (["auto", "off", "C:\\cache"], []),
    "logrotate": (["10M", "daily, start", "1G start", "18446744073709551615", "16GB", "512kb"],
                  ["0", "10X", "18446744073709551616", "16EB", ",,"]),
    "logkeep": (["5", "9999", " 7 "], ["10000", "x"]),
    "logmaxage": (["30d", "12h", "2w", "90M"], ["0", "100001", "5y"]),
    "appid": (["MyApp", "", "\x1b[31mred"], []),
    "option": (["-Xmx256m", "-Dx=caf\u00e9", "-Dx=caf\u00e9", "\"-Dq=a b\"", "-Dq=\"\u202e\""], []),
    "options": (["-Xmx1g"], []),
    "argv": (["a b \"c d\""], []),
    "property": (["a=b", "\u202ex=y"], []),
    "export": (["X=1"], []),
    "classpath": (["lib/*.jar"], []),
    "java_classpath": (["lib/a.jar;lib/b.jar"], []),
    "libs": (["lib"], []),
    "java_libs": (["ext"], []),
    "forcecwd": (["."], []),
    "stdout": (["out.log"], []),
    "stderr": (["err.log"], []),
    "jre": (["./jre/"], []),
    "jvmdll": (["C:\\x\\jvm.dll"], []),
    "vm": (["server"], []),
    "message": (["1=No Java."], []),
}
TYPOS = ["mainclas", "minjr", "optoin", "singleinstanse", "Main_Class", "x", "logrotat", "jre-order", "STDOUTX"]
OTHER_LINES = ["# comment", "; comment", "", "   ", "=value", "\tappid x", "  mainclass  a.B  ", "\u00e9t\u00e9 1"]
SEPARATORS = [" ", "=", " = ", "  ", "\t"]
LINE_ENDS = ["\n", "\r\n", "\r", "\n\r"]


def random_config(rng):
    """A configuration file's bytes: lines of every kind, any line ends, and now and then an encoding fault."""
    lines = []
    main = rng.random()
    if main < 0.92:
        lines.append("mainclass sample.Hello")
    elif main < 0.95:
        lines.append(rng.choice(["mainclass sample.Missing", "mainclass sample/Hello", "mainclass"]))
    for _ in range(rng.randint(0, 10)):
        pick = rng.random()
        if pick < 0.65:
            key = rng.choice(list(KEY_VALUES))
            shown = rng.choice([key, key, key.upper(), key.title()])
            good, bad = KEY_VALUES[key]
            value = rng.choice(bad if bad and rng.random() < 0.06 else good)
            lines.append(shown + rng.choice(SEPARATORS) + value)
        elif pick < 0.80:
            lines.append(rng.choice(TYPOS) + " " + rng.choice(["1", "a.B", ""]))
        else:
            lines.append(rng.choice(OTHER_LINES))
    rng.shuffle(lines)
    text = "".join(line + rng.choice(LINE_ENDS) for line in lines)
    if rng.random() < 0.3 and text:
        text = text.rstrip("\r\n")
    encoding = rng.choices(["utf8", "bom", "utf16le", "utf16be"], [70, 10, 10, 10])[0]
    if encoding == "utf8":
        data = text.encode()
    elif encoding == "bom":
        data = b"\xef\xbb\xbf" + text.encode()
    elif encoding == "utf16le":
        data = ("\ufeff" + text).encode("utf-16-le")
    else:
        data = ("\ufeff" + text).encode("utf-16-be")
    fault = rng.random()
    if fault < 0.03:
        at = rng.randint(0, len(data))
        data = data[:at] + rng.choice([b"\xff", b"\xc3", b"\xed\xa0\x80", b"\xf8\x88\x80\x80\x80"]) + data[at:]
    elif fault < 0.05:
        data = data + b"\0" + b"appid x"
    elif fault < 0.06 and encoding.startswith("utf16"):
        data = data + b"\x00"
    return data


# Option values: taken | refused.
NAMES = (["Svc", "My App", "Caf\u00e9 \u20ac", "\U0001F600 smile", "%1 $x \\n"], ["", "a/b", "x" * 300])
TEXTS = (["Plain", "D\u00e9j\u00e0 vu \u20ac", "", "100% of C:\\Temp", "\u202eevil", "\U0001F600"], ["x" * 5000])
VALUES = {
    "--start-type": (["auto", "delayed", "Manual", "disabled", "demand"], ["sometimes", "", "auto\n"]),
    "--account": (["LocalService", "NetworkService", "virtual", "DOMAIN\\user", " ", "localsystem", ".\\virtul"],
                  ["J\u00fcrgen", "a\rb", "LocalServce", "virtua", "NetworkSrvice ", "LocalSyst\u00e9m"]),
    "--recovery": (["60", "60/3/86400", "none", "off", " 30 ", "86400/1023"],
                   ["0/0", "a", "60/1/2/3", "5/0", "1234567890", "86401", "60/1024", "60/999999999"]),
    "--fail-on-exit": (["yes", "no", "ON", "0"], ["none", "maybe"]),
    "--file-version": (["1.2.3.4", "1", "065535.1"], ["70000", "1.2.3.4.5", "", "a", "1234567"]),
    "--product-version": (["2.0", "1.2.3.4"], ["x.y"]),
    "--execution-level": (["asInvoker", "requireAdministrator", "highestAvailable"], ["admin"]),
}


def pick(rng, values):
    good, bad = values
    return rng.choice(bad if rng.random() < 0.08 else good)


OUTPUT_NAMES = ["app.exe", "App.EXE", "tool", "Caf\u00e9.exe", "svc.exe"]


def random_case(rng, pool):
    """One command line for both generators: (arguments with {out} for the output folder, config bytes or None,
    and None or (name, bytes) of a configuration file to put into the output folder)."""
    stub = rng.choices(list(pool["stub"]), [20 if n in ("qlx.exe", "qlx", "fake") else 1 for n in pool["stub"]])[0]
    jar = rng.choices(list(pool["jar"]), [30 if n == "hello.jar" else 1 for n in pool["jar"]])[0]
    args = ["--stub", str(pool["stub"][stub]), "--jar", str(pool["jar"][jar])]
    config = beside = None
    name = rng.choice(OUTPUT_NAMES)
    if rng.random() < 0.95:
        config = random_config(rng)
        path = "{config}"
        if rng.random() < 0.08:
            # Where the program reads its external file, or beside it under another name.
            stem = name.rsplit(".", 1)[0]
            beside = (rng.choice([name + ".cfg", name + ".config", stem + ".cfg", stem + ".config", stem + ".src"]),
                      config)
            path = "{out}/" + beside[0]
        args += rng.choice([["--config", path], ["--config=" + path]])
    out = "{out}/" + name
    args += rng.choice([["-o", out], ["--output", out], ["--output=" + out]])
    for option in ("--service-name", "--display-name", "--description"):
        if rng.random() < 0.25:
            args += [option, pick(rng, NAMES if option == "--service-name" else TEXTS)]
    if rng.random() < 0.15:
        args += ["--depends", rng.choice(["Tcpip/Dhcp", "", "A\u00e9"])]
    for option, values in VALUES.items():
        if rng.random() < 0.12:
            args += [option, pick(rng, values)]
    for option in ("--company", "--product-name", "--file-description", "--copyright"):
        if rng.random() < 0.12:
            args += [option, pick(rng, TEXTS)]
    if rng.random() < 0.2:
        icons = list(pool["icon"])
        args += ["--icon", str(pool["icon"][rng.choices(icons, [10 if n.endswith("app.ico") or n == "one.ico" else 1
                                                                 for n in icons])[0]])]
    merges = list(pool["merge"])
    for _ in range(rng.choice([0, 0, 0, 1, 2, 3])):
        args += ["--merge", str(pool["merge"][rng.choices(merges, [1 if n == "text.jar" else 10 for n in merges])[0]])]
    for flag in ("--support", "--utf8-codepage", "--allow-config-errors", "--strict"):
        if rng.random() < (0.08 if flag == "--strict" else 0.15):
            args.append(flag)
    fault = rng.random()
    if fault < 0.02:
        args.append("--frobnicate")
    elif fault < 0.04:
        args += ["--service-name", "twice", "--service-name", "again"]
    elif fault < 0.05:
        args += ["--support=yes"]
    elif fault < 0.06:
        args.append("--icon")
    return args, config, beside
