#!/usr/bin/env python3
"""Counts the test cases that ran, per label, from the GoogleTest XML reports
(tests/release/cases.py writes the same for its scripts), and the fuzz passes
from the reports of tests/fuzz/fuzz.sh (<target>.fuzz)."""
import os
import sys
import xml.etree.ElementTree as ET

totals = {}
fuzz = [0, 0, 0]  # targets, executions, failed
for root in sys.argv[1:]:
    if not os.path.isdir(root):
        continue
    for label in sorted(os.listdir(root)):
        d = os.path.join(root, label)
        for name in sorted(os.listdir(d)):
            if name.endswith(".fuzz"):
                with open(os.path.join(d, name)) as f:
                    report = dict(line.split(" ", 1) for line in f.read().splitlines() if " " in line)
                fuzz[0] += 1
                fuzz[1] += int(report.get("executions", "0") or 0)
                fuzz[2] += report.get("status", "1") != "0"
                continue
            if not name.endswith(".xml"):
                continue
            try:
                suite = ET.parse(os.path.join(d, name)).getroot()
            except ET.ParseError:
                continue
            t = totals.setdefault(label, [0, 0, 0, 0, 0])
            t[0] += int(suite.get("tests", 0))
            t[1] += int(suite.get("failures", 0))
            t[2] += int(suite.get("disabled", 0))
            t[3] += 1
            t[4] += int(suite.get("skipped", 0))  # never silent: a skip says why in its program's output
names = {"host": "host tests (native)", "wine": "Wine tests", "e2e": "end-to-end tests (Wine)",
         "fuzz": "fuzz passes (native)", "gui": "GUI tests (Wine, Xvfb)",
         "release": "release checks (signing, second build)"}
for label, (tests, failures, disabled, programs, skipped) in totals.items():
    print(f"{names.get(label, label)}: {tests} ran in {programs} programs, {failures} failed"
          + (f", {disabled} disabled" if disabled else "") + (f", {skipped} skipped" if skipped else ""))
if fuzz[0]:
    print(f"{names['fuzz']}: {fuzz[0]} targets, {fuzz[1]} executions"
          + (f", {fuzz[2]} failed" if fuzz[2] else ""))
