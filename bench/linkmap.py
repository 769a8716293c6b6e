#!/usr/bin/env python3
"""Tells what a MinGW program is made of, from the GNU ld map of its link.

    linkmap.py MAP EXE [--top N]

Every input section that lands in the image is charged to a component
(libstdc++, libgcc_eh, winpthread, zlib, the MinGW runtime, import tables,
resources, our own code...). What the map does not hold (PE headers, the
padding of each section to the file alignment) is the difference between the
file size and the sum. Prints a Markdown table.
"""
import os
import re
import sys

# Output sections that have bytes in the file; .bss and the debug sections
# (dropped by -s) do not.
IMAGE_SECTIONS = {".text", ".data", ".rdata", ".eh_frame", ".pdata", ".xdata", ".idata", ".CRT", ".tls", ".rsrc",
                  ".reloc", ".rodata"}

OUT_RE = re.compile(r"^(\.[\w.$]+)\s+0x([0-9a-f]+)\s+0x([0-9a-f]+)")
IN_RE = re.compile(r"^ (\S+)\s+0x([0-9a-f]+)\s+0x([0-9a-f]+)\s+(\S.*)$")
NAME_ONLY_RE = re.compile(r"^ (\S+)$")
CONT_RE = re.compile(r"^\s+0x([0-9a-f]+)\s+0x([0-9a-f]+)\s+(\S.*)$")
FILL_RE = re.compile(r"^ \*fill\*\s+0x([0-9a-f]+)\s+0x([0-9a-f]+)")
DATA_RE = re.compile(r"^\s+0x([0-9a-f]+)\s+0x([0-9a-f]+)\s+(LONG|SHORT|BYTE|QUAD)\b")

IMPORT_LIBS = re.compile(r"lib(kernel32|user32|gdi32|advapi32|shell32|ole32|oleaut32|comctl32|comdlg32|uuid|"
                         r"winspool|uxtheme|shlwapi|version|msvcrt|ucrt\w*|api-ms-\S+)\.a\(")


def component(path, section):
    """The component an input file belongs to, and the member for details."""
    m = re.search(r"([^/]+\.a)\(([^)]+)\)$", path)
    archive, member = (m.group(1), m.group(2)) if m else (None, os.path.basename(path))
    if section == ".rsrc":
        return "resources", member
    if section == ".reloc" or path == "dll stuff":
        return "base relocations", "dll stuff"
    if section == ".idata" or (archive and IMPORT_LIBS.search(path) and section in (".text", ".idata")):
        return "import tables and thunks", archive or member
    if archive == "libstdc++.a":
        return "libstdc++", member
    if archive == "libgcc_eh.a":
        return "libgcc_eh (unwinder)", member
    if archive == "libgcc.a":
        return "libgcc", member
    if archive in ("libwinpthread.a", "libpthread.a"):
        return "winpthread", member
    if archive == "libz.a":
        return "zlib", member
    if archive in ("libmingw32.a", "libmingwex.a", "libmoldname.a", "libmsvcrt.a") or \
            re.match(r"crt\w*\.o$", member):
        return "MinGW C runtime", member
    if archive:
        return "our code", archive
    return "our code", member


def parse(map_text):
    """Yields (output section, input section, size, file) for the image."""
    in_script = False
    out = None
    pending = None
    for line in map_text.splitlines():
        if not in_script:
            in_script = line.startswith("Linker script and memory map")
            continue
        m = OUT_RE.match(line)
        if m:
            out = m.group(1)
            if out == ".eh_fram":
                out = ".eh_frame"
            pending = None
            continue
        if line and not line.startswith(" "):
            out = line.split()[0] if line.split() else None
            pending = None
            continue
        if out not in IMAGE_SECTIONS:
            continue
        m = FILL_RE.match(line)
        if m:
            yield out, "*fill*", int(m.group(2), 16), "padding"
            continue
        m = DATA_RE.match(line)
        if m:
            yield out, "data", int(m.group(2), 16), "linker data"
            continue
        if pending:
            m = CONT_RE.match(line)
            if m:
                yield out, pending, int(m.group(2), 16), m.group(3).strip()
            pending = None
            continue
        m = IN_RE.match(line)
        if m:
            yield out, m.group(1), int(m.group(3), 16), m.group(4).strip()
            continue
        m = NAME_ONLY_RE.match(line)
        if m and not m.group(1).startswith("*"):
            pending = m.group(1)


def breakdown(map_text, file_size):
    """Sizes by component and by (component, member), plus the rest."""
    by_comp, by_member = {}, {}
    for out, _sec, size, path in parse(map_text):
        if path == "padding" or path == "linker data":
            comp, member = "linker padding and data", out
        else:
            comp, member = component(path, out)
        by_comp[comp] = by_comp.get(comp, 0) + size
        key = (comp, member)
        by_member[key] = by_member.get(key, 0) + size
    rest = file_size - sum(by_comp.values())
    return by_comp, by_member, rest


def kib(n):
    return f"{n / 1024:.1f}"


def table(map_path, exe_path, top=12):
    with open(map_path, encoding="utf-8", errors="replace") as f:
        text = f.read()
    size = os.path.getsize(exe_path)
    by_comp, by_member, rest = breakdown(text, size)
    lines = [f"`{os.path.basename(exe_path)}`: {size} bytes ({kib(size)} KiB)", "",
             "| component | bytes | KiB | share |", "|---|---:|---:|---:|"]
    rows = sorted(by_comp.items(), key=lambda kv: -kv[1])
    rows.append(("PE headers and file-alignment padding", rest))
    for comp, n in rows:
        lines.append(f"| {comp} | {n} | {kib(n)} | {100.0 * n / size:.1f}% |")
    lines += ["", f"Largest members (top {top}):", "", "| component | member | bytes |", "|---|---|---:|"]
    for (comp, member), n in sorted(by_member.items(), key=lambda kv: -kv[1])[:top]:
        lines.append(f"| {comp} | {member} | {n} |")
    return "\n".join(lines)


def main(argv):
    args = [a for a in argv[1:] if not a.startswith("--")]
    top = 12
    if "--top" in argv:
        top = int(argv[argv.index("--top") + 1])
        args.remove(str(top))
    if len(args) != 2:
        print(__doc__.strip().splitlines()[2].strip(), file=sys.stderr)
        return 2
    print(table(args[0], args[1], top))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
