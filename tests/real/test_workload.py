"""The memcheck workload, run plainly: its own checks of results and refusals
pass, libpostal is torn down at exit without a crash, and its only output on
standard error is libpostal's warning about a surrogate reference (which
carries the bytes that are not UTF-8) and its error for a text that its
language classifier can make nothing of (the null guess the workload asks
for)."""
import os
import subprocess
import sys

import support

WORKLOAD = os.path.join(support.HERE, "memcheck_workload.py")


def test_the_memcheck_workload_passes_its_own_checks():
    child = subprocess.run([sys.executable, WORKLOAD], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                           env=support.child_env(), timeout=300, encoding="utf-8", errors="backslashreplace")
    assert child.returncode == 0, child.stderr[-3000:]
    assert child.stdout.startswith("workload: ") and int(child.stdout.split()[1]) > 150, child.stdout
    assert all("invalid UTF-8" in line or "transliterate.c:791" in line
               or "Language classification returned NULL" in line or "libpostal.c:220" in line
               for line in child.stderr.splitlines()), child.stderr[-3000:]
