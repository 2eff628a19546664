#!/usr/bin/env python3
"""Runs one command with its output discarded and prints "SECONDS PEAK_KIB": its wall time and
the largest resident set of any process it started, as GNU time reports it (the kernel keeps
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
        code = subprocess.call(["/usr/bin/time", "-q", "-f", "%M", "-o", peak.name] + sys.argv[1:],
                               stdout=nowhere, stderr=nowhere)
        took = time.perf_counter() - start
        lines = [line for line in peak.read().split("\n") if line.strip().isdigit()]
    print("%.3f %s" % (took, lines[-1] if lines else "0"))
    return code


if __name__ == "__main__":
    sys.exit(main())
