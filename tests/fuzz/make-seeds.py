#!/usr/bin/env python3
"""Makes the fuzz targets' seed corpora from the program's real resources.

Each target gets the real thing (the packed payload, the wizard's definition,
the logo, setup.exe...), small variants that the fuzzer mutates faster, and the
hand-made seeds committed under tests/fuzz/seeds/<target>/.
"""
import argparse
import os
import random
import shutil
import struct
import subprocess
import sys
import zlib


def read(path):
    with open(path, "rb") as f:
        return f.read()


def write(folder, name, data):
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def records(archive):
    """The payload archive's records as (name, date-time bytes, contents)."""
    out, pos = [], 0
    while pos < len(archive):
        n = archive[pos]
        name = archive[pos + 1:pos + 1 + n]
        when = archive[pos + 1 + n:pos + 9 + n]
        (size,) = struct.unpack("<I", archive[pos + 9 + n:pos + 13 + n])
        out.append((name, when, archive[pos + 13 + n:pos + 13 + n + size]))
        pos += 13 + n + size
    return out


def pack(recs):
    return b"".join(bytes([len(n)]) + n + w + struct.pack("<I", len(c)) + c for n, w, c in recs)


def chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))


def png(width, height, colours, rows=None, extra=b"", filters=0, depth=8, kind=3):
    """A palette PNG the way the logo is stored: unfiltered rows, one IDAT."""
    rows = rows or [bytes((x + y) % colours for x in range(width)) for y in range(height)]
    raw = b"".join(bytes([filters]) + r for r in rows)
    palette = b"".join(bytes([i * 40 % 256, i * 90 % 256, 255 - i]) for i in range(colours))
    header = struct.pack(">IIBBBBB", width, height, depth, kind, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + extra + chunk(b"PLTE", palette) +
            chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def short(s):
    return bytes([len(s)]) + s


def tiny_pe(resources):
    """A PE32 file of one .rsrc section holding string-named resources,
    {type: {name: bytes}}, one language each."""
    types = sorted(resources)
    count = sum(len(resources[t]) for t in types)
    # The section: the type table, one name table per type, one language table
    # and one data entry per resource, the name strings, then the data.
    lang_base = 16 + 8 * len(types) + sum(16 + 8 * len(resources[t]) for t in types)
    entry_base = lang_base + 24 * count
    strings, string_at, at = b"", {}, entry_base + 16 * count
    for n in sorted({n for t in types for n in resources[t]} | set(types)):
        string_at[n] = at
        strings += struct.pack("<H", len(n)) + n.encode("utf-16-le")
        at = entry_base + 16 * count + len(strings)
    data_base = (at + 3) & ~3
    va = 0x1000

    def table(entries):
        return struct.pack("<IIHHHH", 0, 0, 0, 0, len(entries), 0) + b"".join(
            struct.pack("<II", a, b) for a, b in entries)

    roots, names, langs, entries, blobs = [], b"", b"", b"", b""
    name_at, lang_at, entry_at = 16 + 8 * len(types), lang_base, entry_base
    for t in types:
        roots.append((0x80000000 | string_at[t], 0x80000000 | name_at))
        by_name = []
        for n in sorted(resources[t]):
            by_name.append((0x80000000 | string_at[n], 0x80000000 | lang_at))
            langs += struct.pack("<IIHHHHII", 0, 0, 0, 0, 0, 1, 0, entry_at)
            blob = resources[t][n]
            entries += struct.pack("<IIII", va + data_base + len(blobs), len(blob), 0, 0)
            blobs += blob + b"\0" * (-len(blob) % 4)
            lang_at += 24
            entry_at += 16
        names += table(by_name)
        name_at += 16 + 8 * len(by_name)
    body = table(roots) + names + langs + entries + strings
    body += b"\0" * (data_base - len(body)) + blobs
    size = len(body)
    raw_size = (size + 0x1FF) & ~0x1FF
    body += b"\0" * (raw_size - size)

    dos = b"MZ" + b"\0" * 58 + struct.pack("<I", 0x40)
    coff = struct.pack("<4sHHIIIHH", b"PE\0\0", 0x14C, 1, 0, 0, 0, 224, 0x0102)
    opt = struct.pack("<HBBIIIIIIIIIHHHHHHIIIIHHIIIIII", 0x10B, 0, 0, 0, raw_size, 0, 0, va, va, 0x400000,
                      0x1000, 0x200, 4, 0, 0, 0, 4, 0, 0, va + 0x1000 * ((raw_size + 0xFFF) // 0x1000), 0x200,
                      0, 2, 0, 0x100000, 0x1000, 0x100000, 0x1000, 0, 16)
    dirs = [(0, 0)] * 16
    dirs[2] = (va, size)
    opt += b"".join(struct.pack("<II", a, b) for a, b in dirs)
    section = struct.pack("<8sIIIIIIHHI", b".rsrc", size, va, raw_size, 0x200, 0, 0, 0, 0, 0x40000040)
    head = dos + coff + opt + section
    return head + b"\0" * (0x200 - len(head)) + body


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--source", required=True)
    ap.add_argument("--build", required=True)
    ap.add_argument("--out", required=True)
    a = ap.parse_args()
    need = {
        "payload": os.path.join(a.build, "win32", "resources", "payload.z"),
        "form": os.path.join(a.build, "host", "resources", "MainForm.bin"),
        "logo": os.path.join(a.build, "win32", "setup", "art", "logo.png"),
        "setup": os.path.join(a.build, "setup.exe"),
        "dfm2bin": os.path.join(a.build, "host", "tools", "dfm2bin"),
    }
    missing = [p for p in need.values() if not os.path.isfile(p)]
    if missing:
        sys.exit("make-seeds: build the program first (make win32); missing " + ", ".join(missing))
    out = a.out
    shutil.rmtree(out, ignore_errors=True)
    rng = random.Random(1)

    payload_z = read(need["payload"])
    archive = zlib.decompress(payload_z)
    recs = records(archive)
    # A few real records with their contents cut short: same names, small input.
    mini = pack([(n, w, c[:24]) for n, w, c in recs[:3] + recs[-2:]])

    write(f"{out}/archive", "payload", archive)
    write(f"{out}/archive", "mini", mini)
    write(f"{out}/archive", "one-record", pack(recs[1:2]))
    write(f"{out}/archive", "empty", b"")
    # The packer's index of the real payload, as the setup reads it.
    write(f"{out}/archive", "index", read(os.path.join(a.build, "win32", "resources", "payload.index")))

    logo = read(need["logo"])
    idat = logo[logo.index(b"IDAT") + 4:]
    idat = idat[:struct.unpack(">I", logo[logo.index(b"IDAT") - 4:logo.index(b"IDAT")])[0]]
    streams = {
        "payload": payload_z,
        "logo-idat": idat,
        "mini-9": zlib.compress(mini, 9),
        "mini-1": zlib.compress(mini, 1),
        "mini-stored": zlib.compress(mini, 0),
        "empty": zlib.compress(b"", 9),
    }
    d = zlib.compressobj(9, zlib.DEFLATED, 15, 9, zlib.Z_DEFAULT_STRATEGY, zdict=b"Licence.txt")
    streams["dictionary"] = d.compress(mini) + d.flush()
    for name, z in streams.items():
        # No control bytes (the defaults), then a random mix of reads and seeks.
        write(f"{out}/inflate", name, b"\0" + z)
        control = bytes(rng.randrange(256) for _ in range(24))
        write(f"{out}/inflate", name + "-ops", bytes([len(control)]) + control + z)

    write(f"{out}/png", "logo.png", logo)
    write(f"{out}/png", "small", png(5, 3, 4))
    write(f"{out}/png", "one-pixel", png(1, 1, 1))
    write(f"{out}/png", "text-chunk", png(3, 2, 2, extra=chunk(b"tEXt", b"Comment\0fuzz")))
    write(f"{out}/png", "filtered", png(3, 2, 2, filters=1))
    write(f"{out}/png", "rgb", png(2, 2, 2, kind=2))

    write(f"{out}/form", "MainForm.bin", read(need["form"]))
    button = (short(b"TButton") + short(b"NBtn") + short(b"Caption") + b"\x06" + short(b"Next") +
              short(b"OnClick") + b"\x07" + short(b"BNClk") + b"\0\0")
    write(f"{out}/form", "small", b"TPF0" + short(b"TMainForm") + short(b"MainForm") + short(b"ClientWidth") +
          b"\x03\xec\x01" + short(b"OnCloseQuery") + b"\x07" + short(b"FormCloseQuery") + b"\0" + button + b"\0")

    write(f"{out}/pe_resource", "setup.exe", read(need["setup"]))
    write(f"{out}/pe_resource", "tiny.exe",
          tiny_pe({"FILES": {"FILES": zlib.compress(mini, 9)}, "PNG": {"LOGO": png(2, 2, 2)}}))
    write(f"{out}/pe_resource", "bare-stream", zlib.compress(mini, 9))

    write(f"{out}/dfm", "MainForm.dfm", read(os.path.join(a.source, "resources", "MainForm.dfm")))
    write(f"{out}/dfm", "TestForm.dfm", read(os.path.join(a.source, "tests", "win", "TestForm.dfm")))

    # The hand-made seeds, and the inputs of earlier findings.
    committed = os.path.join(a.source, "tests", "fuzz", "seeds")
    for target in sorted(os.listdir(committed)):
        for name in sorted(os.listdir(os.path.join(committed, target))):
            write(f"{out}/{target}", name, read(os.path.join(committed, target, name)))

    # The text definitions that convert make binary ones for the reader.
    dfm2bin = os.path.join(a.build, "host", "tools", "dfm2bin")
    for name in sorted(os.listdir(f"{out}/dfm")):
        binary = f"{out}/form/{os.path.splitext(name)[0]}.bin"
        subprocess.run([dfm2bin, f"{out}/dfm/{name}", binary], stderr=subprocess.DEVNULL)


if __name__ == "__main__":
    main()
