#!/usr/bin/python3
"""Runs a command and prints its wall time, processor time and peak memory on one line:
   WALL <seconds> CPU <seconds> RSS_KB <kilobytes> STATUS <exit status>
Used by the benchmark scripts so that every tool is measured the same way, without /usr/bin/time."""
import resource
import subprocess
import sys
import time

start = time.monotonic()
completed = subprocess.run(sys.argv[1:], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
wall = time.monotonic() - start
usage = resource.getrusage(resource.RUSAGE_CHILDREN)
print(f"WALL {wall:.3f} CPU {usage.ru_utime + usage.ru_stime:.3f} RSS_KB {usage.ru_maxrss} STATUS {completed.returncode}")
