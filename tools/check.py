"""Builds everything and runs the whole suite: the default nox sessions in two
lanes at once, one per core of a two-core machine, then one closing summary.

    python3 tools/check.py

Most sessions keep one core busy (a pytest run, valgrind, a pip build that
waits on its own steps), so two lanes take little more than the longer one.
The lanes are the noxfile's tags: the sessions that share a build folder of
the double (tests, memcheck, stubtest, bench, engines) run in one lane, one
after another; the sessions that build libpostal or install the package run
in the other.  `python3 -m nox` runs the same sessions in one lane.

Each lane's output goes to build/lane-NAME.log and, line by line with the
lane's name in front, to standard output.  The exit status is 0 only when
every session of both lanes passed and the reports hold no failed test.
"""
import glob
import os
import subprocess
import sys
import threading

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
LANES = ("double", "library")
REPORTS = ["build/py*/pytest.xml", "build/py*/memcheck.xml", "build/py*/engines.xml", "build/py*-real/real*.xml"]


def stream(name, process, log, lock):
    for line in iter(process.stdout.readline, b""):
        log.write(line)
        log.flush()
        with lock:
            sys.stdout.buffer.write(b"[" + name.encode() + b"] " + line)
            sys.stdout.flush()


def run_lanes(extra):
    os.makedirs(os.path.join(ROOT, "build"), exist_ok=True)
    lock = threading.Lock()
    running = []
    for name in LANES:
        log = open(os.path.join(ROOT, "build", "lane-%s.log" % name), "wb")
        process = subprocess.Popen([sys.executable, "-m", "nox", "-t", "lane-" + name] + extra, cwd=ROOT,
                                   stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        reader = threading.Thread(target=stream, args=(name, process, log, lock))
        reader.start()
        running.append((name, process, reader, log))
    statuses = {}
    for name, process, reader, log in running:
        statuses[name] = process.wait()
        reader.join()
        log.close()
    return statuses


def main(argv):
    statuses = run_lanes(argv)
    # Each lane's own closing lines, together, so that the end of the output
    # says what ran and how long each session took.
    for name in LANES:
        with open(os.path.join(ROOT, "build", "lane-%s.log" % name), "rb") as log:
            lines = log.read().decode("utf-8", "replace").splitlines()
        start = max((i for i, line in enumerate(lines) if line.startswith("nox > Ran ")), default=len(lines))
        print("lane %s: exit %d" % (name, statuses[name]))
        for line in lines[start:]:
            print("  " + line)
    reports = [path for pattern in REPORTS for path in sorted(glob.glob(os.path.join(ROOT, pattern)))]
    summary = subprocess.call([sys.executable, os.path.join(ROOT, "tools", "summary.py")] + reports)
    return 1 if any(statuses.values()) or summary else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
