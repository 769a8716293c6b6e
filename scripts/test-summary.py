#!/usr/bin/env python3
"""Counts the test cases that ran, per label, from the GoogleTest XML reports."""
import os
import sys
import xml.etree.ElementTree as ET

totals = {}
for root in sys.argv[1:]:
    if not os.path.isdir(root):
        continue
    for label in sorted(os.listdir(root)):
        d = os.path.join(root, label)
        for name in sorted(os.listdir(d)):
            if not name.endswith(".xml"):
                continue
            try:
                suite = ET.parse(os.path.join(d, name)).getroot()
            except ET.ParseError:
                continue
            t = totals.setdefault(label, [0, 0, 0, 0])
            t[0] += int(suite.get("tests", 0))
            t[1] += int(suite.get("failures", 0))
            t[2] += int(suite.get("disabled", 0))
            t[3] += 1
names = {"host": "host tests (native)", "wine": "Wine tests", "e2e": "end-to-end tests (Wine)",
         "fuzz": "fuzz passes (native)", "gui": "GUI tests (Wine, Xvfb)"}
for label, (tests, failures, disabled, programs) in totals.items():
    print(f"{names.get(label, label)}: {tests} ran in {programs} programs, {failures} failed"
          + (f", {disabled} disabled" if disabled else ""))
