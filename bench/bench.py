#!/usr/bin/env python3
"""make bench: setup.exe against an NSIS installer built from the same payload.

Runs inside scripts/with-wine.sh (one prefix, the wineserver kept up, Xvfb when
there is no display). Builds nsis-setup.exe and its stub with makensis, then
measures, alternating the programs run by run:
  - the silent installation (/S) wall time and peak working set, the targets
    cleaned before each run and the installed files checked after it;
  - the time from start to the first painted wizard window;
  - the sizes of both installers and of their stubs;
and writes the table to bench/RESULTS.md. BENCH_RUNS sets the runs per figure.
"""
import datetime
import os
import platform
import shutil
import statistics
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import linkmap  # noqa: E402
import mknsis  # noqa: E402

ROOT = os.path.dirname(HERE)
BUILD = os.path.join(ROOT, "build")
OUT = os.path.join(BUILD, "bench")
NSIS_BARE_STUB = "/usr/share/nsis/Stubs/zlib-x86-unicode"
SETTINGS_KEY = "HKCU\\" + mknsis.SETTINGS_KEY
UNINSTALL_KEY = "HKLM\\" + mknsis.UNINSTALL_KEY
LINK = mknsis.PRODUCT + ".lnk"


def winpath(path):
    """The Linux path as Wine's Z: drive shows it."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def parse_line(text):
    """The launcher's one line: key=value words."""
    fields = {}
    for word in text.split():
        key, sep, value = word.partition("=")
        if sep:
            fields[key] = value
    return fields


def summary(values):
    """(median, min, max) of the numbers, or None when there are none."""
    if not values:
        return None
    return statistics.median(values), min(values), max(values)


def fmt(stat, unit="ms", digits=1):
    if stat is None:
        return "n/a"
    med, lo, hi = stat
    return f"{med:.{digits}f} {unit} ({lo:.{digits}f}–{hi:.{digits}f})"


def ratio(a, b):
    if a is None or b is None or b[0] == 0:
        return "n/a"
    return f"{a[0] / b[0]:.2f}"


class Prefix:
    """What an installation leaves in the Wine prefix, and how to clear it."""

    def __init__(self, prefix):
        c = os.path.join(prefix, "drive_c")
        self.main_dir = os.path.join(c, "Program Files (x86)", "Norvanta")
        self.shared = os.path.join(c, "ProgramData", "Norvanta")
        self.public = os.path.join(self.shared, "Public")
        users = os.path.join(c, "users")
        people = [os.path.join(users, u) for u in sorted(os.listdir(users)) if u != "Public"] \
            if os.path.isdir(users) else []
        self.programs_links = [os.path.join(c, "ProgramData", "Microsoft", "Windows", "Start Menu", "Programs", LINK)] + \
            [os.path.join(p, "AppData", "Roaming", "Microsoft", "Windows", "Start Menu", "Programs", LINK)
             for p in people]
        self.desktop_links = [os.path.join(users, "Public", "Desktop", LINK)] + \
            [os.path.join(p, "Desktop", LINK) for p in people]

    def clean(self, reg=True):
        for d in (self.main_dir, self.shared):
            shutil.rmtree(d, ignore_errors=True)
        for link in self.programs_links + self.desktop_links:
            if os.path.lexists(link):
                os.remove(link)
        if reg:
            wine("reg", "delete", SETTINGS_KEY.rsplit("\\", 1)[0], "/f")
            wine("reg", "delete", UNINSTALL_KEY, "/reg:32", "/f")

    def check(self, files, reg=True):
        """Empty when the installation is all there, else what is missing."""
        missing = 0
        for rel, path, kind in files:
            base = self.main_dir if kind == "main" else self.public
            dest = os.path.join(base, *rel.split("\\"))
            if not os.path.isfile(dest) or os.path.getsize(dest) != os.path.getsize(path):
                missing += 1
        problems = []
        if missing:
            problems.append(f"{missing} of {len(files)} files missing")
        if not os.path.isfile(os.path.join(self.main_dir, "Install.log")):
            problems.append("no Install.log")
        links = sum(any(os.path.isfile(p) for p in row) for row in (self.programs_links, self.desktop_links))
        if links < 2:
            problems.append(f"{2 - links} of 2 shortcuts missing")
        if reg:
            keys = [wine("reg", "query", SETTINGS_KEY, "/v", "MAINDIR") == 0,
                    wine("reg", "query", UNINSTALL_KEY, "/v", "UninstallString", "/reg:32") == 0]
            if not all(keys):
                problems.append(f"{keys.count(False)} of 2 registry keys missing")
        return ", ".join(problems)


def wine(*args, out=None):
    """Runs a Windows program; its output goes to a file, never to a pipe that
    Wine's background services could hold open."""
    with open(out or os.devnull, "w") as f:
        return subprocess.run(["wine", *args], stdout=f, stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL,
                              timeout=600).returncode


# A program that hangs (a message box in a silent run) fails its run, not the bench.
TIMEOUT_MS = {"run": "60000", "paint": "30000"}


def launch(launcher, mode, exe, *args, timeout_ms=None):
    out = os.path.join(OUT, "launch.txt")
    rc = wine(launcher, mode, "--timeout", timeout_ms or TIMEOUT_MS[mode], "--", winpath(exe), *args, out=out)
    with open(out, encoding="utf-8", errors="replace") as f:
        fields = parse_line(f.read())
    fields["rc"] = rc
    return fields


def payload_folder():
    chosen = ""
    try:
        with open(os.path.join(BUILD, "win32", "payload-folder")) as f:
            chosen = f.read().strip()
    except OSError:
        pass
    return chosen or os.path.join(BUILD, "win32", "resources", "payload-stage")


def build_nsis(payload, prefix="nsis", stub=True):
    os.makedirs(OUT, exist_ok=True)
    made = {}
    for name, is_stub in ((prefix + "-setup", False), (prefix + "-stub", True)):
        if is_stub and not stub:
            continue
        stub_flag = is_stub
        nsi, exe = os.path.join(OUT, name + ".nsi"), os.path.join(OUT, name + ".exe")
        argv = ["mknsis", payload, nsi, exe] + (["--stub"] if stub_flag else [])
        if mknsis.main(argv) != 0:
            sys.exit(f"bench: cannot write {nsi}")
        env = dict(os.environ, LC_ALL="C.UTF-8")
        r = subprocess.run(["makensis", "-V2", "-NOCD", nsi], cwd=OUT, env=env, capture_output=True, text=True)
        if r.returncode != 0:
            sys.exit(f"bench: makensis failed on {nsi}:\n{r.stdout}{r.stderr}")
        made[name] = exe
    return made


def tool_version(argv):
    try:
        return subprocess.run(argv, capture_output=True, text=True, timeout=60).stdout.strip().splitlines()[0]
    except (OSError, IndexError, subprocess.SubprocessError):
        return "unknown"


def rotated(items, i):
    i %= len(items)
    return items[i:] + items[:i]


def measure(programs, runs, prefix, files, launcher, mode, log):
    """Runs every program once untimed, then `runs` rounds in turn, each round
    starting one program later. Gives {name: [fields of each run]}."""
    results = {name: [] for name, _exe, _args, _install in programs}
    for rnd in range(-1, runs):
        for name, exe, args, install in rotated(programs, max(rnd, 0)):
            prefix.clean()
            fields = launch(launcher, mode, exe, *args)
            if mode == "run" and install:
                fields["missing"] = prefix.check(files)
            log.write(f"{mode},{rnd},{name}," + " ".join(f"{k}={v}" for k, v in fields.items()) + "\n")
            if rnd >= 0:
                results[name].append(fields)
    prefix.clean()
    return results


def numbers(runs, key):
    out = []
    for f in runs:
        try:
            out.append(float(f[key]))
        except (KeyError, ValueError):
            pass
    return out


def silent_cell(runs, key="wall_ms", unit="ms", scale=1.0, digits=1):
    """The figure of a program's silent runs, or why it has none."""
    stat = summary([v * scale for v in numbers(runs, key)])
    bad = [f.get("missing") for f in runs if f.get("missing")]
    if bad:
        codes = sorted({f.get("exit", "?") for f in runs})
        return f"did not install ({bad[0]}; exit {', '.join(codes)}; {fmt(stat, unit, digits)})", None
    failed = [f for f in runs if f.get("exit") not in ("0", None)]
    if failed:
        return f"failed (exit {failed[0].get('exit')}; {fmt(stat, unit, digits)})", None
    return fmt(stat, unit, digits), stat


def paint_cell(runs):
    stat = summary(numbers(runs, "paint_ms"))
    if len(numbers(runs, "paint_ms")) < len(runs):
        exits = sorted({f.get("exit", "?") for f in runs if f.get("paint_ms") in ("none", "timeout", None)})
        return f"no window painted (exit {', '.join(exits)})", None
    return fmt(stat), stat


def windows(runs):
    counts = numbers(runs, "windows")
    return f"{statistics.median(counts):g}" if counts else "none"


STUB_GOAL = 128 * 1024


def goals(silent, nsis, floor, inflate_ms, paint, nsis_paint, mem, nsis_mem, stub):
    """The issue's goals against this run's medians: [(goal, what was measured, verdict)].
    A figure that is missing (a program that failed) leaves its goal unjudged."""
    def verdict(ok):
        return "n/a" if ok is None else ("met" if ok else "not met")

    def med(stat):
        return None if stat is None else stat[0]

    s, n, f, p, np_, m, nm = (med(x) for x in (silent, nsis, floor, paint, nsis_paint, mem, nsis_mem))
    rows = []
    ok = None if s is None or not n else s <= 0.7 * n
    rows.append(("silent install at most 0.7 × NSIS's",
                 "n/a" if ok is None else f"{s:.1f} ms against {0.7 * n:.1f} ms ({s / n:.2f} × NSIS's)", verdict(ok)))
    ok = None if s is None or f is None or inflate_ms is None else s <= 2 * f + inflate_ms
    rows.append(("silent install within 2 × the floor plus inflating the payload",
                 "n/a" if ok is None else f"{s:.1f} ms against 2 × {f:.1f} + {inflate_ms:.1f} = "
                 f"{2 * f + inflate_ms:.1f} ms", verdict(ok)))
    ok = None if p is None or np_ is None else p <= np_
    rows.append(("first paint no later than NSIS's",
                 "n/a" if ok is None else f"{p:.1f} ms against {np_:.1f} ms", verdict(ok)))
    ok = None if m is None or nm is None else m <= nm
    rows.append(("peak working set no larger than NSIS's",
                 "n/a" if ok is None else f"{m:.0f} KiB against {nm:.0f} KiB", verdict(ok)))
    rows.append(("stub at most 128 KiB", f"{stub} B against {STUB_GOAL} B", verdict(stub <= STUB_GOAL)))
    return rows


def inflate_figure(fields):
    """The bench-inflate line as (median ms, text), or (None, why not)."""
    try:
        ms = float(fields["inflate_ms"])
        return ms, (f"{ms:.2f} ms ({float(fields['min_ms']):.2f}–{float(fields['max_ms']):.2f}), "
                    f"{fields['compressed']} bytes to {fields['inflated']}, median of {fields['runs']} runs")
    except (KeyError, ValueError):
        return None, "not measured"


SCALES = (4, 100, 400)
DEMO_PEAK_GOAL_KIB = 16 * 1024


def scale_goals(rows):
    """The goals for payloads of any size, from the scale rows (see scale_rows):
    [(goal, what was measured, verdict)]. A row without a figure leaves its goal unjudged."""
    def verdict(oks):
        return "n/a" if not oks or None in oks else ("met" if all(oks) else "not met")

    def med(stat):
        return None if stat is None else stat[0]

    out = []
    mem = [(r["label"], med(r["mem"]), med(r["nsis_mem"])) for r in rows]
    oks = [None if m is None or n is None else m <= n for _, m, n in mem]
    out.append(("peak working set no larger than NSIS's at every payload size",
                "; ".join(f"{label}: {m:.0f} against {n:.0f} KiB" if m is not None and n is not None
                          else f"{label}: n/a" for label, m, n in mem), verdict(oks)))
    demo = med(rows[0]["mem"]) if rows else None
    out.append((f"peak working set with the demo payload no larger than {DEMO_PEAK_GOAL_KIB} KiB",
                "n/a" if demo is None else f"{demo:.0f} KiB", verdict([None if demo is None
                                                                       else demo <= DEMO_PEAK_GOAL_KIB])))
    big = [r for r in rows if r["megabytes"] in SCALES]
    times = [(r["label"], med(r["silent"]), med(r["nsis"])) for r in big]
    oks = [None if t is None or not n else t <= 0.6 * n for _, t, n in times]
    out.append(("silent install at most 0.6 × NSIS's at 4, 100 and 400 MB",
                "; ".join(f"{label}: {t / n:.2f}" if t is not None and n else f"{label}: n/a"
                          for label, t, n in times), verdict(oks)))
    # Before, the whole archive was inflated before the wizard was made: the
    # paint then came the demo's paint plus the payload's inflate later. The
    # demo's paint is the one taken in the same rounds, alternated with this one.
    base = rows[0] if rows else None
    paints = []
    for r in big:
        bp = med(r.get("demo_paint", base["paint"]))
        p, inf, binf = med(r["paint"]), r["inflate_ms"], base["inflate_ms"]
        before = None if None in (bp, inf, binf) else bp + inf - binf
        paints.append((r["label"], p, before))
    oks = [None if p is None or b is None else p <= b for _, p, b in paints]
    out.append(("first paint no later than before at every payload size (the demo's paint plus the payload's"
                " inflate)", "; ".join(f"{label}: {p:.1f} against {b:.1f} ms" if p is not None and b is not None
                                      else f"{label}: n/a" for label, p, b in paints), verdict(oks)))
    return out


def scale_table(rows):
    """The scale rows as markdown lines."""
    lines = [
        "| payload (unpacked; FILES compressed) | silent install, setup.exe | NSIS | setup/NSIS "
        "| peak working set, setup.exe | NSIS | setup/NSIS | first paint, setup.exe | inflate (setup's code) |",
        "|---|---|---|---:|---|---|---:|---|---|",
    ]
    for r in rows:
        inflate = "n/a" if r["inflate_ms"] is None else f"{r['inflate_ms']:.1f} ms"
        lines.append(f"| {r['label']} | {r['silent_text']} | {r['nsis_text']} | {ratio(r['silent'], r['nsis'])} "
                     f"| {r['mem_text']} | {r['nsis_mem_text']} | {ratio(r['mem'], r['nsis_mem'])} "
                     f"| {r['paint_text']} | {inflate} |")
    return lines


def scale_row(label, megabytes, setup_runs, nsis_runs, paint_runs, inflate_ms):
    """One payload size: the figures of its runs, and their texts."""
    row = {"label": label, "megabytes": megabytes, "inflate_ms": inflate_ms}
    row["silent_text"], row["silent"] = silent_cell(setup_runs)
    row["nsis_text"], row["nsis"] = silent_cell(nsis_runs)
    row["mem_text"], row["mem"] = silent_cell(setup_runs, "peak_ws_kb", "KiB", 1.0, 0)
    row["nsis_mem_text"], row["nsis_mem"] = silent_cell(nsis_runs, "peak_ws_kb", "KiB", 1.0, 0)
    row["paint_text"], row["paint"] = paint_cell(paint_runs)
    return row


def payload_label(folder, inflate):
    unpacked = sum(os.path.getsize(path) for _, path, _ in mknsis.plan(folder))
    compressed = inflate.get("compressed")
    packed = f"{int(compressed) / 1e6:.1f} MB" if compressed and compressed.isdigit() else "?"
    return f"{unpacked / 1e6:.1f} MB; {packed}"


def run_inflate(exe, runs):
    out = os.path.join(OUT, "inflate.txt")
    wine(winpath(os.path.join(BUILD, "win32", "bench", "bench-inflate.exe")), winpath(exe), str(runs), out=out)
    with open(out, encoding="utf-8", errors="replace") as f:
        return parse_line(f.read())


def measure_scales(runs, prefix, launcher, log, demo):
    """The bench's payloads of 4, 100 and 400 MB: each installed by setup.exe
    and by an NSIS installer made from the same generated folder."""
    rows = []
    for mb in SCALES:
        folder = os.path.join(BUILD, "win32", "scale", str(mb))
        exe = os.path.join(BUILD, "win32", "scale", f"setup-{mb}.exe")
        if not os.path.isfile(exe):
            sys.exit(f"bench: {exe} is missing (make bench builds it)")
        files = mknsis.plan(folder)
        print(f"bench: {mb} MB payload: building its NSIS installer...", flush=True)
        nsis = build_nsis(folder, f"nsis-{mb}", stub=False)[f"nsis-{mb}-setup"]
        print(f"bench: {mb} MB payload: {runs} silent installs and first paints of each...", flush=True)
        silent = measure([("setup.exe", exe, ["/S"], True), ("nsis-setup.exe", nsis, ["/S"], True)], runs, prefix,
                         files, launcher, "run", log)
        # The demo's paint again, alternated with this one: the baseline of its goal.
        paint = measure([("setup.exe", exe, [], False), ("demo", demo, [], False)], runs, prefix, files, launcher,
                        "paint", log)
        inflate = run_inflate(exe, 3)
        ms, _ = inflate_figure(inflate)
        row = scale_row(payload_label(folder, inflate), mb, silent["setup.exe"], silent["nsis-setup.exe"],
                        paint["setup.exe"], ms)
        row["demo_paint"] = paint_cell(paint["demo"])[1]
        rows.append(row)
    return rows


def render_scale(rows, runs):
    if not rows:
        return []
    largest = rows[-1]
    lines = [
        "## Payloads of any size",
        "",
        f"The demo payload, then payloads of about 4, 100 and 400 MB generated by the build (`bench/mkscale.py`:"
        f" about two thirds rich text, one third incompressible data) and packed by `mkpayload` for setup.exe and"
        f" by makensis for NSIS, from the same folder; {runs} runs per figure after one untimed run (the demo row"
        " comes from the table above). The first paint of setup.exe is timed as above, alternated with the demo's"
        " setup.exe, whose paint in the same rounds is the baseline of the first-paint goal.",
        "",
        *scale_table(rows),
        "",
        f"The largest payload here ({largest['label']}): one silent install by setup.exe took"
        f" {largest['silent_text']}, by NSIS {largest['nsis_text']}.",
        "",
        "| goal | this run | verdict |",
        "|---|---|---|",
        *[f"| {g} | {m} | {v} |" for g, m, v in scale_goals(rows)],
        "",
    ]
    return lines


def render(info, silent, paint, sizes, stub_map, inflate=None, scale=None, scale_runs=0):
    s_wall, s_stat = silent_cell(silent["setup.exe"])
    n_wall, n_stat = silent_cell(silent["nsis-setup.exe"])
    f_wall, f_stat = silent_cell(silent["noop.exe"])
    s_mem, s_mstat = silent_cell(silent["setup.exe"], "peak_ws_kb", "KiB", 1.0, 0)
    n_mem, n_mstat = silent_cell(silent["nsis-setup.exe"], "peak_ws_kb", "KiB", 1.0, 0)
    f_mem, _ = silent_cell(silent["noop.exe"], "peak_ws_kb", "KiB", 1.0, 0)
    s_paint, s_pstat = paint_cell(paint["setup.exe"])
    n_paint, n_pstat = paint_cell(paint["nsis-setup.exe"])
    f_paint, _ = paint_cell(paint["noop.exe window"])
    inflate_ms, inflate_text = inflate_figure(inflate or {})
    goal_rows = goals(s_stat, n_stat, f_stat, inflate_ms, s_pstat, n_pstat, s_mstat, n_mstat, sizes["setup_stub"])

    def size_row(label, a, b):
        return f"| {label} | {a} B ({a / 1024:.1f} KiB) | {b} B ({b / 1024:.1f} KiB) | {a / b:.2f} |"

    lines = [
        "# Benchmark: setup.exe against NSIS",
        "",
        "Written by `make bench` (bench/bench.py); every figure below was measured by that run.",
        "",
        f"- Date: {info['date']}",
        f"- Machine: {info['machine']}",
        f"- Load average (1, 5, 15 min) before: {info['load_before']}; after: {info['load_after']}",
        f"- Commit: {info['commit']}",
        f"- Peer: {info['nsis']}, zlib stub (`SetCompressor zlib`, not solid), built from the same payload",
        f"- Payload: {info['payload']} ({info['files']} files installed)",
        f"- Runs: {info['runs']} per figure after one untimed run each, the programs alternated round by round;"
        " median (min–max)",
        "",
        "| figure | setup.exe | nsis-setup.exe | setup/NSIS | floor (noop.exe) |",
        "|---|---|---|---:|---|",
        f"| silent install (/S), wall time | {s_wall} | {n_wall} | {ratio(s_stat, n_stat)} | {f_wall} |",
        f"| start to first painted wizard | {s_paint} | {n_paint} | {ratio(s_pstat, n_pstat)} | {f_paint} |",
        f"| peak working set, silent install | {s_mem} | {n_mem} | {ratio(s_mstat, n_mstat)} | {f_mem} |",
        "",
        "Visible windows inside the wizard when it was judged painted (median): "
        + ", ".join(f"{name} {windows(runs)}" for name, runs in paint.items()) + ".",
        "",
        f"Inflating the payload with the setup's own code, in one process (`bench-inflate.exe`): {inflate_text}.",
        "",
        "| goal | this run | verdict |",
        "|---|---|---|",
        *[f"| {g} | {m} | {v} |" for g, m, v in goal_rows],
        "",
        "| size | setup | NSIS | setup/NSIS |",
        "|---|---|---|---:|",
        size_row("installer (`setup.exe`, `nsis-setup.exe`)", sizes["setup"], sizes["nsis"]),
        size_row("stub (`setup_stub.exe`: no `FILES` resource; `nsis-stub.exe`: same script, no file)",
                 sizes["setup_stub"], sizes["nsis_stub"]),
        size_row("payload part (installer minus stub)", sizes["setup"] - sizes["setup_stub"],
                 sizes["nsis"] - sizes["nsis_stub"]),
        f"| makensis's bare zlib stub (`{NSIS_BARE_STUB}`) | | {sizes['nsis_bare']} B "
        f"({sizes['nsis_bare'] / 1024:.1f} KiB) | |",
        "",
        "## How it is measured",
        "",
        "- Both installers install the same payload files to the same places (the program and its licence to"
        " `Program Files (x86)\\Norvanta`, the templates and insert collections to `ProgramData\\Norvanta\\Public`),"
        " make the same two shortcuts for all users, write the same registry values and an `Install.log`. setup.exe"
        " also writes its small state files and `Update.log`; the NSIS script does not.",
        "- Each run is one `bench-launch.exe` process (bench/launcher.cpp) started by `wine`; it takes the time with"
        " QueryPerformanceCounter from just before CreateProcessW, so Wine's own start-up of the launcher is not"
        " counted, while the start of the measured program is (the floor row is that cost for a program that does"
        " nothing).",
        "- Silent install: from CreateProcessW to the exit of `PROGRAM /S`. Before every run the installed folder,"
        " the shared data folder, the shortcuts and both registry keys are removed; after it every payload file,"
        " `Install.log`, both shortcuts and both registry keys are checked. A program that left something out is"
        " shown as \"did not install\".",
        "- Peak working set: PeakWorkingSetSize of GetProcessMemoryInfo on the child. Windows keeps it after the"
        " exit; Wine reads it from the live process (its Linux peak resident size, Wine's own libraries included),"
        " so the launcher also samples it every 5 ms while the program runs and keeps the highest value.",
        "- First paint: the program is started without /S; the launcher waits (WaitForInputIdle as the pause"
        " between looks, then 1 ms sleeps) until a visible, not minimised top-level window of the program with a"
        " non-empty client area and at least one visible child window has no update region left, in itself or"
        " any visible window inside it (GetUpdateRect is false: every WM_PAINT it was sent has been handled)."
        " The window is then sent WM_CLOSE, a close question is answered Yes, and after 10 s it is terminated."
        " The floor is `noop.exe window`: one window with one button.",
        f"- Display: {info['display']}; one Wine prefix (`build/wineprefix`) with its wineserver kept up.",
        "",
        *render_scale(scale or [], scale_runs),
        "## What the stub is made of",
        "",
        "From the link map of `setup_stub.exe` (bench/linkmap.py); bench/SIZE.md says what was done about it.",
        "",
        stub_map,
        "",
        "## Reproduce",
        "",
        "```sh",
        "make bench                # builds everything, installs nsis if missing, writes this file",
        "BENCH_RUNS=15 make bench  # more runs per figure",
        "```",
        "",
        "Raw runs: `build/bench/runs.csv`; the NSIS scripts: `build/bench/nsis-setup.nsi`, `nsis-stub.nsi`.",
        "",
    ]
    return "\n".join(lines)


def scale_main(megabytes):
    """make bench-scale: one silent install of the largest generated payload,
    checked file by file; bench/SCALE.md gets the figures."""
    prefix_path = os.environ.get("WINEPREFIX")
    if not prefix_path:
        sys.exit("bench: run me through scripts/with-wine.sh (make bench-scale)")
    exe = os.path.join(BUILD, "win32", "scale", f"setup-{megabytes}.exe")
    folder = os.path.join(BUILD, "win32", "scale", str(megabytes))
    launcher = winpath(os.path.join(BUILD, "win32", "bench", "bench-launch.exe"))
    if not os.path.isfile(exe):
        sys.exit(f"bench: {exe} is missing (make bench-scale builds it)")
    os.makedirs(OUT, exist_ok=True)
    files = mknsis.plan(folder)
    unpacked = sum(os.path.getsize(path) for _, path, _ in files)
    prefix = Prefix(prefix_path)
    prefix.clean()
    print(f"bench: installing {unpacked / 1e9:.2f} GB silently...", flush=True)
    fields = launch(launcher, "run", exe, "/S", timeout_ms="1800000")
    missing = prefix.check(files)
    prefix.clean()
    commit = subprocess.run(["git", "-C", ROOT, "log", "-1", "--format=%h %s"], capture_output=True,
                            text=True).stdout.strip()
    wall = fields.get("wall_ms")
    lines = [
        "# The largest payload: one silent install",
        "",
        "Written by `make bench-scale` (bench/bench.py scale); every figure below was measured by that run.",
        "",
        f"- Date: {datetime.datetime.now(datetime.timezone.utc).strftime('%Y-%m-%d %H:%M UTC')}",
        f"- Machine: {platform.system()} {platform.release()}, {os.cpu_count()} cores (nproc),"
        f" {tool_version(['wine', '--version'])}",
        f"- Commit: {commit}",
        f"- Payload: generated by `bench/mkscale.py` ({megabytes} MB asked): {len(files)} files,"
        f" {unpacked:,} bytes unpacked; `setup-{megabytes}.exe` is {os.path.getsize(exe):,} bytes",
        "",
        "| figure | setup.exe |",
        "|---|---|",
        f"| exit code | {fields.get('exit', '?')} |",
        f"| every file installed, byte count checked | {'yes' if not missing else 'no: ' + missing} |",
        f"| silent install, wall time | {float(wall) / 1000:.1f} s |" if wall else "| silent install | n/a |",
        f"| peak working set | {fields.get('peak_ws_kb', '?')} KiB |",
        f"| peak commit (PeakPagefileUsage) | {fields.get('peak_pagefile_kb', '?')} KiB |",
        "",
    ]
    text = "\n".join(lines)
    with open(os.path.join(HERE, "SCALE.md"), "w", encoding="utf-8") as f:
        f.write(text)
    print(text)
    return 0 if fields.get("exit") == "0" and not missing else 1


def main():
    if len(sys.argv) == 3 and sys.argv[1] == "scale":
        return scale_main(int(sys.argv[2]))
    runs = int(os.environ.get("BENCH_RUNS", "11"))
    if runs < 7:
        sys.exit("bench: BENCH_RUNS must be at least 7")
    prefix_path = os.environ.get("WINEPREFIX")
    if not prefix_path:
        sys.exit("bench: run me through scripts/with-wine.sh (make bench)")
    setup = os.path.join(BUILD, "setup.exe")
    stub = os.path.join(BUILD, "win32", "setup", "setup_stub.exe")
    stub_map_file = os.path.join(BUILD, "win32", "setup", "setup_stub.map")
    launcher = winpath(os.path.join(BUILD, "win32", "bench", "bench-launch.exe"))
    noop = os.path.join(BUILD, "win32", "bench", "noop.exe")
    for f in (setup, stub, noop):
        if not os.path.isfile(f):
            sys.exit(f"bench: {f} is missing (make win32)")

    payload = payload_folder()
    files = mknsis.plan(payload)
    nsis = build_nsis(payload)
    prefix = Prefix(prefix_path)
    load_before = os.getloadavg()

    with open(os.path.join(OUT, "runs.csv"), "w") as log:
        log.write("mode,round,program,fields\n")
        print(f"bench: {runs} silent installs of each program...", flush=True)
        silent = measure([("setup.exe", setup, ["/S"], True), ("nsis-setup.exe", nsis["nsis-setup"], ["/S"], True),
                          ("noop.exe", noop, [], False)], runs, prefix, files, launcher, "run", log)
        print(f"bench: {runs} first paints of each program...", flush=True)
        paint = measure([("setup.exe", setup, [], False), ("nsis-setup.exe", nsis["nsis-setup"], [], False),
                         ("noop.exe window", noop, ["window"], False)], runs, prefix, files, launcher, "paint", log)

    load_after = os.getloadavg()
    sizes = {"setup": os.path.getsize(setup), "setup_stub": os.path.getsize(stub),
             "nsis": os.path.getsize(nsis["nsis-setup"]), "nsis_stub": os.path.getsize(nsis["nsis-stub"]),
             "nsis_bare": os.path.getsize(NSIS_BARE_STUB)}
    commit = subprocess.run(["git", "-C", ROOT, "log", "-1", "--format=%h %s"], capture_output=True,
                            text=True).stdout.strip()
    # This file's own earlier version does not count as a change.
    dirty = subprocess.run(["git", "-C", ROOT, "status", "--porcelain", "--untracked-files=no", "--", ".",
                            ":!bench/RESULTS.md"], capture_output=True, text=True).stdout.strip()
    info = {
        "date": datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%d %H:%M UTC"),
        "machine": f"{platform.system()} {platform.release()}, {os.cpu_count()} cores (nproc), "
                   f"{tool_version(['wine', '--version'])}",
        "load_before": ", ".join(f"{x:.2f}" for x in load_before),
        "load_after": ", ".join(f"{x:.2f}" for x in load_after),
        "commit": commit + (" (with uncommitted changes)" if dirty else ""),
        "nsis": "makensis " + tool_version(["makensis", "-VERSION"]),
        "payload": os.path.relpath(payload, ROOT) if payload.startswith(ROOT) else payload,
        "files": len(files),
        "runs": runs,
        "display": "Xvfb " + os.environ.get("DISPLAY", "?"),
    }
    stub_map = linkmap.table(stub_map_file, stub) if os.path.isfile(stub_map_file) else "(no link map)"
    print("bench: inflating the payload...", flush=True)
    inflate = run_inflate(setup, 21)
    scale_runs = int(os.environ.get("BENCH_SCALE_RUNS", "11"))
    with open(os.path.join(OUT, "runs.csv"), "a") as log:
        rows = [scale_row(payload_label(payload, inflate) + " (demo)", 0.3, silent["setup.exe"],
                          silent["nsis-setup.exe"], paint["setup.exe"], inflate_figure(inflate)[0])]
        rows += measure_scales(scale_runs, prefix, launcher, log, setup)
    info["load_after"] = ", ".join(f"{x:.2f}" for x in os.getloadavg())
    text = render(info, silent, paint, sizes, stub_map, inflate, rows, scale_runs)
    with open(os.path.join(HERE, "RESULTS.md"), "w", encoding="utf-8") as f:
        f.write(text)
    print(text)
    return 0


if __name__ == "__main__":
    sys.exit(main())
