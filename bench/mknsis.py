#!/usr/bin/env python3
"""Writes the NSIS script of the peer installer, built from a payload folder.

    mknsis.py PAYLOAD_DIR OUT.nsi OUT.exe [--stub]

The installer does the setup's work with NSIS's own means: the program and its
licence into "$PROGRAMFILES\\Norvanta", the document templates and insert
collections into the all-users data folder (only where missing), a Start-menu
and a desktop shortcut, the settings and uninstall values, an install log; and
it shows a small wizard (welcome, licence, folder, progress, finish). --stub
writes the same script without any payload file, to weigh NSIS's own part.
"""
import os
import sys

PRODUCT = "Traitement de texte Norvanta"
CAPTION = "Installation du traitement de texte Norvanta (Version Light)"
DESCRIPTION = "Traitement de texte compact, rapide, puissant, et par dessus tout pratique"
VERSION = "4.4.6.1"
PUBLISHER = "The Norvanta Word Processor Team"
SETTINGS_KEY = r"Software\Norvanta Word Processor\Install"
UNINSTALL_KEY = r"Software\Microsoft\Windows\CurrentVersion\Uninstall\Norvanta Word Processor"
MAIN_FILES = ("qrd.exe", "Licence.txt")
PUBLIC_FOLDERS = ("Modèles de document", "Collections d'inserts")


def plan(payload_dir):
    """The payload's files that are installed, in the setup's order, as
    (name relative to the payload with backslashes, absolute path, "main" or "public")."""
    out = []
    for name in MAIN_FILES:
        path = os.path.join(payload_dir, name)
        if os.path.isfile(path):
            out.append((name, os.path.abspath(path), "main"))
    for folder in PUBLIC_FOLDERS:
        top = os.path.join(payload_dir, folder)
        found = []
        for root, dirs, files in os.walk(top):
            dirs.sort()
            for f in files:
                path = os.path.join(root, f)
                rel = os.path.relpath(path, payload_dir).replace(os.sep, "\\")
                found.append((rel, os.path.abspath(path), "public"))
        out += sorted(found, key=lambda e: e[0].lower())
    return out


def lit(text):
    """Text as it must stand inside a double-quoted NSIS string to mean itself."""
    specials = {"$": "$$", '"': '$\\"', "\n": "$\\n", "\r": "$\\r", "\t": "$\\t"}
    return "".join(specials.get(c, c) for c in text)


def q(text):
    """A double-quoted NSIS string holding text literally."""
    return '"' + lit(text) + '"'


def file_line(path):
    """The File instruction for one payload file: makensis takes the source path
    as it stands (a $ there is no variable) and installs the file under its own
    name, whatever characters it holds."""
    quote = next((c for c in '"\'`' if c not in path), None)
    if quote is None:
        raise ValueError(f"cannot quote {path} for NSIS")
    return f"  File {quote}{path}{quote}"


def script(payload_dir, out_exe, licence, stub=False):
    files = plan(payload_dir)
    lines = [
        "Unicode true",
        "SetCompressor zlib",
        "RequestExecutionLevel highest",
        "ManifestDPIAware true",
        f"Name {q(PRODUCT)}",
        f"Caption {q(CAPTION)}",
        f"OutFile {q(out_exe)}",
        'InstallDir "$PROGRAMFILES\\Norvanta"',
        'BrandingText " "',
        "!pragma warning disable 9100 ; the setup has no copyright line either",
        f"VIProductVersion {VERSION}",
        f"VIAddVersionKey /LANG=1036 ProductName {q(PRODUCT)}",
        f"VIAddVersionKey /LANG=1036 CompanyName {q(PUBLISHER)}",
        f"VIAddVersionKey /LANG=1036 FileDescription {q(CAPTION)}",
        f"VIAddVersionKey /LANG=1036 FileVersion {VERSION}",
        f"VIAddVersionKey /LANG=1036 ProductVersion {VERSION}",
        "",
        '!include "MUI2.nsh"',
        "; Closing before the end asks first, as the setup does.",
        "!define MUI_ABORTWARNING",
        "!insertmacro MUI_PAGE_WELCOME",
        f"!insertmacro MUI_PAGE_LICENSE {q(licence)}",
        "!insertmacro MUI_PAGE_DIRECTORY",
        "!insertmacro MUI_PAGE_INSTFILES",
        "!insertmacro MUI_PAGE_FINISH",
        '!insertmacro MUI_LANGUAGE "French"',
        "",
        'Section "Install"',
        "  ; All users: $APPDATA is then the shared data folder, and the shortcuts are everyone's.",
        "  SetShellVarContext all",
        '  SetOutPath "$INSTDIR"',
        "  SetOverwrite on",
    ]
    log = []
    if not stub:
        for rel, path, kind in files:
            if kind == "main":
                lines.append(file_line(path))
                log.append(f"File Copy: $INSTDIR\\{lit(rel)}")
        lines.append("  ; Templates and insert collections are written only where missing.")
        lines.append("  SetOverwrite off")
        folder = None
        for rel, path, kind in files:
            if kind != "public":
                continue
            d = "\\".join(rel.split("\\")[:-1])
            if d != folder:
                folder = d
                lines.append(f'  SetOutPath "$APPDATA\\Norvanta\\Public\\{lit(d)}"')
            lines.append(file_line(path))
    lines += [
        "  SetOverwrite on",
        '  SetOutPath "$INSTDIR"',
        f'  CreateShortcut "$SMPROGRAMS\\{PRODUCT}.lnk" "$INSTDIR\\qrd.exe" "" "" 0 SW_SHOWNORMAL "" {q(DESCRIPTION)}',
        f'  CreateShortcut "$DESKTOP\\{PRODUCT}.lnk" "$INSTDIR\\qrd.exe" "" "" 0 SW_SHOWNORMAL "" {q(DESCRIPTION)}',
        f'  WriteRegStr HKCU {q(SETTINGS_KEY)} "MAINDIR" "$INSTDIR"',
        f'  WriteRegDWORD HKCU {q(SETTINGS_KEY)} "INSTALLTOALL" 1',
        f'  WriteRegDWORD HKCU {q(SETTINGS_KEY)} "DSKSHORTCUT" 1',
        f'  WriteRegDWORD HKCU {q(SETTINGS_KEY)} "LAUNCH" 1',
        f'  WriteRegStr HKLM {q(UNINSTALL_KEY)} "DisplayIcon" "$INSTDIR\\qrd.exe"',
        f'  WriteRegStr HKLM {q(UNINSTALL_KEY)} "DisplayName" {q(PRODUCT)}',
        f'  WriteRegStr HKLM {q(UNINSTALL_KEY)} "DisplayVersion" {q(VERSION)}',
        f'  WriteRegDWORD HKLM {q(UNINSTALL_KEY)} "EstimatedSize" 3072',
        f'  WriteRegStr HKLM {q(UNINSTALL_KEY)} "Publisher" {q(PUBLISHER)}',
        f'  WriteRegStr HKLM {q(UNINSTALL_KEY)} "UninstallString" \'"$INSTDIR\\qrd.exe" -ui\'',
        "  ; The install log keeps its earlier lines.",
        '  FileOpen $0 "$INSTDIR\\Install.log" a',
        "  FileSeek $0 0 END",
    ]
    log += [f"File Copy: $SMPROGRAMS\\{PRODUCT}.lnk", f"File Copy: $DESKTOP\\{PRODUCT}.lnk"]
    for line in log:
        lines.append(f'  FileWrite $0 "{line}$\\r$\\n"')
    lines += ["  FileClose $0", "SectionEnd", ""]
    return "\n".join(lines)


def main(argv):
    args = [a for a in argv[1:] if a != "--stub"]
    if len(args) != 3:
        print(__doc__.strip().splitlines()[2].strip(), file=sys.stderr)
        return 2
    payload_dir, out_nsi, out_exe = args
    if not os.path.isfile(os.path.join(payload_dir, "Licence.txt")):
        print(f"mknsis: no Licence.txt in {payload_dir}", file=sys.stderr)
        return 1
    # NSIS reads a licence text without a byte-order mark in the system's code
    # page; a marked copy keeps its accents.
    licence = os.path.join(os.path.dirname(os.path.abspath(out_nsi)), "Licence-utf8.txt")
    with open(os.path.join(payload_dir, "Licence.txt"), "rb") as f:
        data = f.read()
    with open(licence, "wb") as f:
        f.write(data if data.startswith(b"\xef\xbb\xbf") else b"\xef\xbb\xbf" + data)
    text = script(os.path.abspath(payload_dir), os.path.abspath(out_exe), licence, "--stub" in argv)
    with open(out_nsi, "w", encoding="utf-8-sig", newline="\n") as f:
        f.write(text)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
