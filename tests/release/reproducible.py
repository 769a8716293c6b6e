#!/usr/bin/env python3
"""A second person's build: the same sources cloned into another folder, the
target build made there from nothing (with the host tools already built, which
pack the payload and convert the form), with the same SOURCE_DATE_EPOCH,
payload, art and copyright line. Its setup.exe must have the same bytes.

  reproducible.py ROOT WIN32_BUILD HOST_TOOLS PRODUCT SCRATCH XML"""
import hashlib
import os
import re
import shutil
import sys
import time

sys.dont_write_bytecode = True  # nothing is written into the sources
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from cases import Suite, check, run  # noqa: E402

root, first_build, host_tools, product, scratch, xml = sys.argv[1:7]
suite = Suite("Reproducible", xml)


def cached(name):
    with open(os.path.join(first_build, "CMakeCache.txt"), encoding="utf-8") as f:
        for line in f:
            m = re.match(r"%s:[A-Z]+=(.*)$" % re.escape(name), line.rstrip("\n"))
            if m:
                return m.group(1)
    return ""


@suite.case
def ACloneInAnotherFolderBuildsTheSameBytes():
    shutil.rmtree(scratch, ignore_errors=True)
    os.makedirs(scratch)
    # The sources as they are, uncommitted changes to tracked files included
    # (git stash create makes a commit of them and changes nothing).
    r = run(["git", "-C", root, "-c", "user.name=release test", "-c", "user.email=release-test@localhost", "stash",
             "create"])
    check(r.returncode == 0, r.shown)
    revision = r.stdout.strip() or "HEAD"
    source = os.path.join(scratch, "src")
    for args in (["git", "clone", "--quiet", "--shared", "--no-checkout", root, source],
                 ["git", "-C", source, "checkout", "--quiet", "--detach", revision]):
        r = run(args)
        check(r.returncode == 0, r.shown)

    with open(os.path.join(first_build, "source-date-epoch")) as f:
        epoch = f.read().strip()
    env = {k: v for k, v in os.environ.items() if k not in ("MAKEFLAGS", "MFLAGS", "MAKELEVEL")}
    env["SOURCE_DATE_EPOCH"] = epoch
    build = os.path.join(scratch, "win32")
    out = os.path.join(scratch, "out")
    settings = ["-D%s=%s" % (n, cached(n)) for n in ("NORVANTA_PAYLOAD", "NORVANTA_LOGO", "NORVANTA_ICON",
                                                     "NORVANTA_COPYRIGHT")]
    start = time.monotonic()
    r = run(["cmake", "-S", source, "-B", build, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Release",
             "-DCMAKE_TOOLCHAIN_FILE=" + os.path.join(source, "cmake", "mingw-i686.cmake"),
             "-DNORVANTA_HOST_TOOLS=" + host_tools, "-DNORVANTA_PRODUCT_DIR=" + out] + settings, env=env)
    check(r.returncode == 0, r.shown)
    r = run(["cmake", "--build", build, "--target", "setup", "-j", str(os.cpu_count() or 2)], env=env)
    check(r.returncode == 0, r.shown[-4000:])
    print("second build: %.0f s (SOURCE_DATE_EPOCH=%s, revision %s)" % (time.monotonic() - start, epoch, revision))

    with open(product, "rb") as f:
        first = f.read()
    with open(os.path.join(out, "setup.exe"), "rb") as f:
        second = f.read()
    if first != second:
        at = next((i for i in range(min(len(first), len(second))) if first[i] != second[i]),
                  min(len(first), len(second)))
        check(False, "the second build differs: %d and %d bytes, SHA-256 %s and %s, first difference at 0x%X "
              "(both builds kept in %s)" % (len(first), len(second), hashlib.sha256(first).hexdigest(),
                                            hashlib.sha256(second).hexdigest(), at, scratch))
    print("both setup.exe: %d bytes, SHA-256 %s" % (len(first), hashlib.sha256(first).hexdigest()))
    shutil.rmtree(scratch, ignore_errors=True)


suite.finish()
