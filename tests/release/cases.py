"""A few named cases in one script, reported as GoogleTest reports them (the
XML that scripts/test-summary.py counts) and with an exit code for ctest."""
import os
import subprocess
import sys
import time
import traceback
from xml.sax.saxutils import quoteattr


class Failed(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failed(message)


def run(args, **kw):
    """Runs a command; its output is kept for the failure message."""
    r = subprocess.run(args, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, **kw)
    r.shown = "$ %s\n%s" % (" ".join(str(a) for a in args), r.stdout)
    return r


class Suite:
    def __init__(self, name, xml_path):
        self.name, self.xml_path, self.results = name, xml_path, []

    def case(self, function):
        """Runs the case at once; a failure is recorded and the next case runs."""
        start = time.monotonic()
        print("[ RUN      ] %s.%s" % (self.name, function.__name__), flush=True)
        try:
            function()
            failure = None
        except Failed as e:
            failure = str(e)
        except Exception:
            failure = traceback.format_exc()
        elapsed = time.monotonic() - start
        if failure:
            print(failure)
        print("[ %s ] %s.%s (%d ms)" % ("    OK" if not failure else "FAILED", self.name, function.__name__,
                                       elapsed * 1000), flush=True)
        self.results.append((function.__name__, elapsed, failure))
        return function

    def finish(self):
        failures = sum(1 for r in self.results if r[2])
        os.makedirs(os.path.dirname(self.xml_path), exist_ok=True)
        with open(self.xml_path, "w") as f:
            f.write('<?xml version="1.0" encoding="UTF-8"?>\n')
            f.write('<testsuites tests="%d" failures="%d" disabled="0" errors="0" name="AllTests">\n'
                    % (len(self.results), failures))
            f.write('  <testsuite name="%s" tests="%d" failures="%d" disabled="0" errors="0">\n'
                    % (self.name, len(self.results), failures))
            for name, elapsed, failure in self.results:
                f.write('    <testcase name="%s" classname="%s" time="%.3f"' % (name, self.name, elapsed))
                if failure:
                    f.write('>\n      <failure message=%s/>\n    </testcase>\n' % quoteattr(failure[:4000]))
                else:
                    f.write('/>\n')
            f.write('  </testsuite>\n</testsuites>\n')
        print("%d cases, %d failed" % (len(self.results), failures))
        sys.exit(1 if failures else 0)
