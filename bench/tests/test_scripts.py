"""The benchmark's scripts: the NSIS script generator, the link map reader and
the result tables. Run by ctest (host_bench_scripts)."""
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
import bench  # noqa: E402
import linkmap  # noqa: E402
import mknsis  # noqa: E402


def write(path, data=b"x"):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


class PayloadCase(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp()
        self.payload = os.path.join(self.dir, "payload")
        write(os.path.join(self.payload, "qrd.exe"), b"MZ" + b"\0" * 100)
        write(os.path.join(self.payload, "Licence.txt"), "Licence é\r\n".encode())
        write(os.path.join(self.payload, "Modèles de document", "Lettres", "Lettre d'invitation.rtf"), b"{\\rtf1 a}")
        write(os.path.join(self.payload, "Modèles de document", "Prix $HOME & co.rtf"), b"{\\rtf1 b}")
        write(os.path.join(self.payload, "Collections d'inserts", "Clôtures", "Fin.rtf"), b"{\\rtf1 c}")
        # Not named by any selection: never installed.
        write(os.path.join(self.payload, "Extras", "lisezmoi.txt"))
        write(os.path.join(self.payload, "notes.txt"))

    def tearDown(self):
        shutil.rmtree(self.dir)


class Plan(PayloadCase):
    def test_selection_order_and_destinations(self):
        plan = mknsis.plan(self.payload)
        self.assertEqual([(rel, kind) for rel, _path, kind in plan], [
            ("qrd.exe", "main"),
            ("Licence.txt", "main"),
            ("Modèles de document\\Lettres\\Lettre d'invitation.rtf", "public"),
            ("Modèles de document\\Prix $HOME & co.rtf", "public"),
            ("Collections d'inserts\\Clôtures\\Fin.rtf", "public"),
        ])
        for _rel, path, _kind in plan:
            self.assertTrue(os.path.isabs(path) and os.path.isfile(path))

    def test_a_missing_part_is_left_out(self):
        os.remove(os.path.join(self.payload, "qrd.exe"))
        shutil.rmtree(os.path.join(self.payload, "Collections d'inserts"))
        self.assertEqual([rel for rel, _p, _k in mknsis.plan(self.payload)],
                         ["Licence.txt", "Modèles de document\\Lettres\\Lettre d'invitation.rtf",
                          "Modèles de document\\Prix $HOME & co.rtf"])


class Script(PayloadCase):
    def test_quoting(self):
        self.assertEqual(mknsis.q('a $b "c"'), '"a $$b $\\"c$\\""')
        self.assertEqual(mknsis.q("l1\r\n\tx"), '"l1$\\r$\\n$\\tx"')
        self.assertEqual(mknsis.q("Collections d'inserts"), '"Collections d\'inserts"')
        # Source paths are taken literally: only the quote changes.
        self.assertEqual(mknsis.file_line("/p/a $x.rtf"), '  File "/p/a $x.rtf"')
        self.assertEqual(mknsis.file_line('/p/say "hi".rtf'), '  File \'/p/say "hi".rtf\'')
        with self.assertRaises(ValueError):
            mknsis.file_line("/p/\"'`.rtf")

    def lines(self, stub=False):
        text = mknsis.script(self.payload, "/tmp/out.exe", "/tmp/lic.txt", stub)
        return text.splitlines()

    def test_settings_that_make_the_comparison_fair(self):
        lines = self.lines()
        self.assertEqual(lines[0], "Unicode true")
        for needed in ("SetCompressor zlib", "RequestExecutionLevel highest", 'InstallDir "$PROGRAMFILES\\Norvanta"',
                       "SetShellVarContext all", "!insertmacro MUI_PAGE_WELCOME",
                       '!insertmacro MUI_PAGE_LICENSE "/tmp/lic.txt"', "!insertmacro MUI_PAGE_DIRECTORY",
                       "!insertmacro MUI_PAGE_INSTFILES", "!insertmacro MUI_PAGE_FINISH"):
            self.assertIn(needed, [line.strip() for line in lines])
        self.assertFalse(any("/SOLID" in line for line in lines))
        # Compression is chosen before anything is compressed.
        first_file = next(i for i, line in enumerate(lines) if line.strip().startswith("File "))
        self.assertLess(lines.index("SetCompressor zlib"), first_file)

    def test_every_file_goes_where_the_setup_puts_it(self):
        lines = [line.strip() for line in self.lines()]
        out_path, overwrite, placed = None, "on", {}
        for line in lines:
            if line.startswith("SetOutPath "):
                out_path = line[len("SetOutPath "):].strip('"')
            elif line.startswith("SetOverwrite "):
                overwrite = line.split()[1]
            elif line.startswith("File "):
                placed[line[len("File "):]] = (out_path, overwrite)
        # Paths stand as they are, a $ too.
        quoted = {rel: '"' + os.path.join(self.payload, rel) + '"' for rel in (
            "qrd.exe", "Licence.txt", "Modèles de document/Lettres/Lettre d'invitation.rtf",
            "Modèles de document/Prix $HOME & co.rtf", "Collections d'inserts/Clôtures/Fin.rtf")}
        expect = {
            "qrd.exe": ("$INSTDIR", "on"),
            "Licence.txt": ("$INSTDIR", "on"),
            "Modèles de document/Lettres/Lettre d'invitation.rtf":
                ("$APPDATA\\Norvanta\\Public\\Modèles de document\\Lettres", "off"),
            "Modèles de document/Prix $HOME & co.rtf": ("$APPDATA\\Norvanta\\Public\\Modèles de document", "off"),
            "Collections d'inserts/Clôtures/Fin.rtf":
                ("$APPDATA\\Norvanta\\Public\\Collections d'inserts\\Clôtures", "off"),
        }
        self.assertEqual(len(placed), len(expect))
        for rel, where in expect.items():
            self.assertEqual(placed[quoted[rel]], where, rel)

    def test_shortcuts_registry_and_log(self):
        text = "\n".join(self.lines())
        link = "Traitement de texte Norvanta.lnk"
        for folder in ("$SMPROGRAMS", "$DESKTOP"):
            self.assertRegex(text, re.escape(f'CreateShortcut "{folder}\\{link}" "$INSTDIR\\qrd.exe"'))
        values = re.findall(r'WriteReg(Str|DWORD) (HKCU|HKLM) "([^"]+)" "(\w+)" (.+)', text)
        self.assertEqual([(root, name) for _t, root, _k, name, _v in values], [
            ("HKCU", "MAINDIR"), ("HKCU", "INSTALLTOALL"), ("HKCU", "DSKSHORTCUT"), ("HKCU", "LAUNCH"),
            ("HKLM", "DisplayIcon"), ("HKLM", "DisplayName"), ("HKLM", "DisplayVersion"), ("HKLM", "EstimatedSize"),
            ("HKLM", "Publisher"), ("HKLM", "UninstallString")])
        got = {name: (kind, value) for kind, _root, _k, name, value in values}
        self.assertEqual(got["EstimatedSize"], ("DWORD", "3072"))
        self.assertEqual(got["DisplayVersion"], ("Str", '"4.4.6.1"'))
        self.assertEqual(got["UninstallString"], ("Str", '\'"$INSTDIR\\qrd.exe" -ui\''))
        self.assertIn('FileOpen $0 "$INSTDIR\\Install.log" a', text)
        self.assertIn('FileWrite $0 "File Copy: $INSTDIR\\qrd.exe$\\r$\\n"', text)

    def test_the_stub_carries_no_file(self):
        lines = self.lines(stub=True)
        self.assertFalse([line for line in lines if line.strip().startswith("File ")])
        self.assertIn("CreateShortcut", "\n".join(lines))

    @unittest.skipUnless(shutil.which("makensis"), "makensis is installed by make bench only")
    def test_makensis_builds_both(self):
        for stub in ("", "--stub"):
            nsi, exe = os.path.join(self.dir, "t.nsi"), os.path.join(self.dir, "t.exe")
            self.assertEqual(mknsis.main(["mknsis", self.payload, nsi, exe] + ([stub] if stub else [])), 0)
            r = subprocess.run(["makensis", "-V2", nsi], capture_output=True, text=True,
                               env=dict(os.environ, LC_ALL="C.UTF-8"))
            self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
            self.assertGreater(os.path.getsize(exe), 30000)

    def test_licence_copy_gets_a_byte_order_mark(self):
        nsi = os.path.join(self.dir, "out", "t.nsi")
        os.makedirs(os.path.dirname(nsi))
        self.assertEqual(mknsis.main(["mknsis", self.payload, nsi, "t.exe"]), 0)
        with open(os.path.join(self.dir, "out", "Licence-utf8.txt"), "rb") as f:
            self.assertEqual(f.read(), b"\xef\xbb\xbf" + "Licence é\r\n".encode())
        with open(nsi, "rb") as f:
            self.assertTrue(f.read().startswith(b"\xef\xbb\xbfUnicode true\n"))


MAP = """\
Archive member included to satisfy reference by file (symbol)

Linker script and memory map

.text           0x00401000     0x1200
 *(.text)
 .text          0x00401000      0x400 /lib/crt2u.o
                0x00401000                WinMainCRTStartup
 .text          0x00401400      0x300 /gcc/libstdc++.a(cp-demangle.o)
 .text$_ZNSt7__cxx1112basic_stringIcSt11char_traitsIcESaIcEE10_M_disposeEv
                0x00401700       0x20 setup/libtexts_pure.a(Strings.cpp.obj)
 *fill*         0x00401720        0x4 
 .text          0x00401724      0x100 /lib/libpthread.a(libwinpthread_la-thread.o)
 .text          0x00401824       0x10 /lib/libkernel32.a(libkernel32s00020.o)
 .text          0x00401834       0x40 setup/CMakeFiles/setup.dir/Main.cpp.obj

.eh_frame       0x00403000      0x200
 .eh_frame      0x00403000       0x80 /gcc/libgcc_eh.a(unwind-dw2.o)
 .eh_frame$_ZN3FooEv
                0x00403080       0x18 setup/libtexts_pure.a(Strings.cpp.obj)

.bss            0x00404000      0x900
 .bss           0x00404000      0x900 /gcc/libstdc++.a(eh_alloc.o)

.idata          0x00405000      0x200
 .idata$4       0x00405000        0x4 /lib/libkernel32.a(libkernel32s00020.o)
                0x00405004        0x4 LONG 0x0

.rsrc           0x00406000      0x100
 .rsrc          0x00406000       0x80 setup/CMakeFiles/setup.dir/__/resources/art.rc.res

.reloc          0x00407000      0x200
 .reloc         0x00407000       0x30 dll stuff

.debug_info     0x00408000     0x5000
 .debug_info    0x00408000     0x5000 /lib/crt2u.o
"""


class LinkMap(unittest.TestCase):
    def test_sizes_by_component(self):
        comp, member, rest = linkmap.breakdown(MAP, 0x2000)
        self.assertEqual(comp, {
            "MinGW C runtime": 0x400,
            "libstdc++": 0x300,
            "our code": 0x20 + 0x40 + 0x18,
            "linker padding and data": 0x4 + 0x4,
            "winpthread": 0x100,
            "import tables and thunks": 0x10 + 0x4,
            "libgcc_eh (unwinder)": 0x80,
            "resources": 0x80,
            "base relocations": 0x30,
        })
        self.assertEqual(member[("our code", "libtexts_pure.a")], 0x38)
        self.assertEqual(member[("libstdc++", "cp-demangle.o")], 0x300)
        self.assertEqual(rest, 0x2000 - sum(comp.values()))

    def test_table(self):
        d = tempfile.mkdtemp()
        try:
            write(os.path.join(d, "a.map"), MAP.encode())
            write(os.path.join(d, "a.exe"), b"\0" * 0x2000)
            text = linkmap.table(os.path.join(d, "a.map"), os.path.join(d, "a.exe"), top=3)
        finally:
            shutil.rmtree(d)
        components, members = text.split("Largest members")
        self.assertIn("| libstdc++ | 768 | 0.8 | 9.4% |", components)
        self.assertIn("| PE headers and file-alignment padding |", components)
        self.assertEqual(re.findall(r"\n\| [^|]+ \| ([^|]+) \| \d+ \|", members),
                         ["crt2u.o", "cp-demangle.o", "libwinpthread_la-thread.o"])


class Tables(unittest.TestCase):
    def test_launcher_line_and_statistics(self):
        self.assertEqual(bench.parse_line("exit=0 wall_ms=12.500 mem=sampled\r\n"),
                         {"exit": "0", "wall_ms": "12.500", "mem": "sampled"})
        self.assertEqual(bench.summary([5.0, 1.0, 9.0, 3.0]), (4.0, 1.0, 9.0))
        self.assertIsNone(bench.summary([]))
        self.assertEqual(bench.fmt((4.0, 1.0, 9.0)), "4.0 ms (1.0–9.0)")
        self.assertEqual(bench.ratio((30.0, 0, 0), (20.0, 0, 0)), "1.50")
        self.assertEqual(bench.ratio(None, (20.0, 0, 0)), "n/a")

    def test_goals_are_judged_on_the_medians(self):
        rows = bench.goals(silent=(60.0, 0, 0), nsis=(100.0, 0, 0), floor=(20.0, 0, 0), inflate_ms=1.5,
                           paint=(110.0, 0, 0), nsis_paint=(100.0, 0, 0), mem=(900.0, 0, 0),
                           nsis_mem=(1000.0, 0, 0), stub=131072)
        verdicts = [v for _, _, v in rows]
        # 60 <= 70; 60 <= 41.5 fails; 110 > 100; 900 <= 1000; exactly 128 KiB is within the goal.
        self.assertEqual(verdicts, ["met", "not met", "not met", "met", "met"])
        self.assertEqual(rows[1][1], "60.0 ms against 2 × 20.0 + 1.5 = 41.5 ms")
        self.assertEqual(rows[0][1], "60.0 ms against 70.0 ms (0.60 × NSIS's)")
        self.assertEqual(bench.goals(None, (100.0, 0, 0), (20.0, 0, 0), None, None, None, None, None,
                                     131073)[0][2], "n/a")
        self.assertEqual([v for _, _, v in bench.goals(None, None, None, None, None, None, None, None, 131073)],
                         ["n/a", "n/a", "n/a", "n/a", "not met"])

    def test_scale_goals_hold_at_every_size_or_not_at_all(self):
        def row(mb, silent, nsis, mem, nsis_mem, paint, inflate):
            return {"label": f"{mb} MB", "megabytes": mb, "silent": (silent, 0, 0), "nsis": (nsis, 0, 0),
                    "mem": (mem, 0, 0), "nsis_mem": (nsis_mem, 0, 0), "paint": (paint, 0, 0), "inflate_ms": inflate}
        rows = [row(0.3, 180, 290, 16000, 22800, 250, 1.5), row(4, 190, 330, 16500, 22400, 251, 20),
                row(100, 500, 990, 17000, 22200, 255, 400), row(400, 1700, 3000, 17000, 22300, 300, 1600)]
        verdicts = [v for _, _, v in bench.scale_goals(rows)]
        # 1700 > 0.6 × 3000 = 1800? no: 1700 <= 1800; every paint within the demo's plus the inflate.
        self.assertEqual(verdicts, ["met", "met", "met", "met"])
        rows[3]["mem"] = (22400, 0, 0)       # above NSIS's at one size
        rows[0]["mem"] = (16500, 0, 0)       # above 16 MiB with the demo payload
        rows[2]["silent"] = (600, 0, 0)      # 0.61 × NSIS's
        rows[1]["paint"] = (270, 0, 0)       # later than 250 + 20 - 1.5
        goals = bench.scale_goals(rows)
        self.assertEqual([v for _, _, v in goals], ["not met"] * 4)
        self.assertIn("400 MB: 22400 against 22300 KiB", goals[0][1])
        self.assertIn("100 MB: 0.61", goals[2][1])
        rows[2]["nsis"] = None
        self.assertEqual(bench.scale_goals(rows)[2][2], "n/a")
        # The demo's paint taken in the same rounds is the baseline where there is one.
        rows[1]["demo_paint"] = (260, 0, 0)
        self.assertIn("4 MB: 270.0 against 278.5 ms", bench.scale_goals(rows)[3][1])

    def test_inflate_line(self):
        ms, text = bench.inflate_figure(bench.parse_line(
            "inflate_ms=1.340 min_ms=1.261 max_ms=1.541 compressed=117142 inflated=319925 runs=21\r\n"))
        self.assertEqual(ms, 1.34)
        self.assertEqual(text, "1.34 ms (1.26–1.54), 117142 bytes to 319925, median of 21 runs")
        self.assertEqual(bench.inflate_figure({}), (None, "not measured"))
        self.assertEqual(bench.inflate_figure({"inflate_ms": "x"}), (None, "not measured"))

    def test_rounds_alternate_the_order(self):
        self.assertEqual([bench.rotated(["a", "b", "c"], i)[0] for i in range(4)], ["a", "b", "c", "a"])

    def test_a_program_that_installed_nothing_gets_no_figure(self):
        runs = [{"exit": "0", "wall_ms": "10", "missing": "3 of 3 files missing"},
                {"exit": "0", "wall_ms": "12", "missing": "3 of 3 files missing"}]
        text, stat = bench.silent_cell(runs)
        self.assertIsNone(stat)
        self.assertTrue(text.startswith("did not install (3 of 3 files missing; exit 0;"), text)
        text, stat = bench.silent_cell([{"exit": "2", "wall_ms": "10", "missing": ""}])
        self.assertIsNone(stat)
        self.assertTrue(text.startswith("failed (exit 2"), text)
        text, stat = bench.silent_cell([{"exit": "0", "wall_ms": "10", "missing": ""}])
        self.assertEqual(stat, (10.0, 10.0, 10.0))
        text, stat = bench.paint_cell([{"paint_ms": "none", "exit": "0"}])
        self.assertEqual((text, stat), ("no window painted (exit 0)", None))
        self.assertEqual(bench.windows([{"windows": "9"}, {"windows": "8"}, {"windows": "9"}]), "9")
        self.assertEqual(bench.windows([{"paint_ms": "none"}]), "none")


class Check(PayloadCase):
    def test_finds_what_is_missing(self):
        prefix = os.path.join(self.dir, "prefix")
        os.makedirs(os.path.join(prefix, "drive_c", "users", "me"))
        p = bench.Prefix(prefix)
        files = mknsis.plan(self.payload)
        self.assertEqual(p.check(files, reg=False), "5 of 5 files missing, no Install.log, 2 of 2 shortcuts missing")
        for rel, path, kind in files:
            base = p.main_dir if kind == "main" else p.public
            with open(path, "rb") as f:
                write(os.path.join(base, *rel.split("\\")), f.read())
        write(os.path.join(p.main_dir, "Install.log"))
        write(p.programs_links[1])  # the user's own menu will do
        self.assertEqual(p.check(files, reg=False), "1 of 2 shortcuts missing")
        write(p.desktop_links[0])
        self.assertEqual(p.check(files, reg=False), "")
        # A truncated file is not installed.
        write(os.path.join(p.main_dir, "qrd.exe"), b"MZ")
        self.assertEqual(p.check(files, reg=False), "1 of 5 files missing")
        p.clean(reg=False)
        self.assertFalse(os.path.exists(p.main_dir) or os.path.exists(p.shared))
        self.assertFalse(any(os.path.exists(x) for x in p.programs_links + p.desktop_links))


if __name__ == "__main__":
    unittest.main()
