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


def launch(launcher, mode, exe, *args):
    out = os.path.join(OUT, "launch.txt")
    rc = wine(launcher, mode, "--timeout", TIMEOUT_MS[mode], "--", winpath(exe), *args, out=out)
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


def build_nsis(payload):
    os.makedirs(OUT, exist_ok=True)
    made = {}
    for name, stub in (("nsis-setup", False), ("nsis-stub", True)):
        nsi, exe = os.path.join(OUT, name + ".nsi"), os.path.join(OUT, name + ".exe")
        argv = ["mknsis", payload, nsi, exe] + (["--stub"] if stub else [])
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


def render(info, silent, paint, sizes, stub_map, inflate=None):
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


def main():
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
    inflate_out = os.path.join(OUT, "inflate.txt")
    print("bench: inflating the payload...", flush=True)
    wine(winpath(os.path.join(BUILD, "win32", "bench", "bench-inflate.exe")), winpath(setup), "21", out=inflate_out)
    with open(inflate_out, encoding="utf-8", errors="replace") as f:
        inflate = parse_line(f.read())
    text = render(info, silent, paint, sizes, stub_map, inflate)
    with open(os.path.join(HERE, "RESULTS.md"), "w", encoding="utf-8") as f:
        f.write(text)
    print(text)
    return 0


if __name__ == "__main__":
    sys.exit(main())
