#!/usr/bin/env python3
"""Runs one command with its output discarded and prints "SECONDS PEAK_KIB CPU_SECONDS": its
wall time, the largest resident set of any process it started, and the processor time (user
and system) of all of them, as GNU time reports them (the kernel keeps
the highest figure of a child and of everything that child waited for). time starts the
command from its own small process, so that the figure is not that of this interpreter.
Exits with the command's exit code.

    measure.py COMMAND [ARGUMENTS...]
"""
import os
import subprocess
import sys
import tempfile
import time


def main():
    with tempfile.NamedTemporaryFile("r", prefix="measure-", suffix=".txt") as peak, \
            open(os.devnull, "wb") as nowhere:
        start = time.perf_counter()
        code = subprocess.call(["/usr/bin/time", "-q", "-f", "%M %U %S", "-o", peak.name] + sys.argv[1:],
                               stdout=nowhere, stderr=nowhere)
        took = time.perf_counter() - start
        figures = [line.split() for line in peak.read().split("\n")]
    figures = [f for f in figures if len(f) == 3 and f[0].isdigit()]
    kib, user, system = figures[-1] if figures else ("0", "0", "0")
    print("%.3f %s %.2f" % (took, kib, float(user) + float(system)))
    return code


if __name__ == "__main__":
    sys.exit(main())
