#!/usr/bin/env python3
"""Runs one command with its output discarded and prints "SECONDS PEAK_KIB": its wall time and
the largest resident set of any process it started (the kernel keeps the highest figure of a
child and of everything that child waited for). Exits with the command's exit code.

    measure.py COMMAND [ARGUMENTS...]
"""
import os
import resource
import subprocess
import sys
import time


def main():
    with open(os.devnull, "wb") as nowhere:
        start = time.perf_counter()
        code = subprocess.call(sys.argv[1:], stdout=nowhere, stderr=nowhere)
        took = time.perf_counter() - start
    peak = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss
    print("%.3f %d" % (took, peak))
    return code


if __name__ == "__main__":
    sys.exit(main())
