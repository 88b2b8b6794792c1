"""Runs the test suite under valgrind memcheck and judges what it reports.

Fails on any invalid read or write, use of an uninitialised value, invalid or
mismatched free or other memory error, in any process of the run, and on any
definitely or indirectly lost block whose allocation stack passes through the
modules, the libpostal double or the allocation shim: the interpreter's own
blocks left at exit are not ours to judge.

    python memcheck.py --out DIR -- PYTHON -m pytest TESTS...
    python memcheck.py --out DIR --suppressions ../real/libpostal.supp -- PYTHON ../real/memcheck_workload.py
"""
import argparse
import glob
import os
import re
import shutil
import subprocess
import sys
import xml.etree.ElementTree as ElementTree

HERE = os.path.dirname(os.path.abspath(__file__))
MEMORY_ERRORS = re.compile(r"^(Invalid|Uninit|Mismatched|Overlap|SyscallParam|FishyValue|ClientCheck)")
LEAKS = {"Leak_DefinitelyLost", "Leak_IndirectlyLost"}
# Objects whose allocations are ours to account for.
OURS = re.compile(r"/addrnorm/_(expand|kinhash|duplicate|parser|wordclass)\.[^/]*\.so$|/libpostal\.so\.1$|/libfailalloc\.so$")


def frames(error):
    stack = error.find("stack")
    return [] if stack is None else list(stack.iter("frame"))


def describe(error):
    lines = [error.findtext("kind") + ": " + (error.findtext("what") or error.findtext("xwhat/text") or "")]
    for frame in frames(error)[:12]:
        lines.append("    %s (%s)" % (frame.findtext("fn") or "?", frame.findtext("obj") or "?"))
    return "\n".join(lines)


def findings(path):
    """The errors in one process's report that fail the run."""
    with open(path, "rb") as report:
        text = report.read()
    if not text.strip():
        return []
    if b"</valgrindoutput>" not in text:
        # A process that ended before valgrind closed its report: keep the
        # errors it wrote, and report the cut itself unless nothing but the
        # preamble was written (a fork that went on to exec a skipped tool).
        errors = re.findall(rb"<error>.*?</error>", text, re.S)
        if not errors and b"<status>" not in text.split(b"</preamble>")[-1]:
            return []
        text = b"<valgrindoutput>" + b"".join(errors) + b"</valgrindoutput>"
        found = ["%s: report cut short (the process did not exit normally)" % path]
    else:
        found = []
    root = ElementTree.fromstring(text)
    for error in root.iter("error"):
        kind = error.findtext("kind") or ""
        if MEMORY_ERRORS.match(kind):
            found.append(describe(error))
        elif kind in LEAKS and any(OURS.search(frame.findtext("obj") or "") for frame in frames(error)):
            found.append(describe(error))
    return found


def main(argv):
    parser = argparse.ArgumentParser()
    parser.add_argument("--out", required=True, help="folder for valgrind's reports")
    parser.add_argument("--suppressions", action="append", default=[],
                        help="a further suppressions file (the real libpostal's own), beside python.supp")
    parser.add_argument("command", nargs=argparse.REMAINDER)
    options = parser.parse_args(argv)
    command = options.command[1:] if options.command[:1] == ["--"] else options.command
    shutil.rmtree(options.out, ignore_errors=True)
    os.makedirs(options.out)
    env = dict(os.environ, PYTHONMALLOC="malloc", ADDRNORM_MEMCHECK="1")
    valgrind = [
        "valgrind", "--tool=memcheck", "--leak-check=full", "--show-leak-kinds=definite,indirect",
        "--trace-children=yes", "--trace-children-skip=*/nm,*/readelf,*/cmake", "--child-silent-after-fork=yes",
        "--suppressions=" + os.path.join(HERE, "python.supp"), "--num-callers=30",
    ] + ["--suppressions=" + os.path.abspath(path) for path in options.suppressions] + [
        "--xml=yes", "--xml-file=" + os.path.join(options.out, "memcheck.%p.xml"),
    ]
    status = subprocess.call(valgrind + command, env=env)
    reports = sorted(glob.glob(os.path.join(options.out, "memcheck.*.xml")))
    found = [finding for path in reports for finding in findings(path)]
    for finding in found:
        print(finding)
    print("memcheck: %d processes, %d errors" % (len(reports), len(found)))
    return 1 if found or status else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
