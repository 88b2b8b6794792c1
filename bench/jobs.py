"""Throughput of the addrnorm command with 1 and 2 worker processes.

The test double is made to spend a libpostal-like time on each call
(ADDRNORM_DOUBLE_WORK_NS, 50 µs by default), so that the figures show how the
work spreads over the cores rather than how fast the double answers.

    python bench/jobs.py [--records 20000] [--work-ns 50000]
"""
import argparse
import os
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
from workload import ADDRESSES, RECORDS  # noqa: E402


def timed(argv, env):
    start = time.perf_counter()
    subprocess.run([sys.executable, "-m", "addrnorm"] + argv + ["-q", "-o", os.devnull], env=env, check=True,
                   cwd=tempfile.gettempdir())
    return time.perf_counter() - start


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--records", type=int, default=20000)
    parser.add_argument("--work-ns", type=int, default=50000)
    parser.add_argument("--repeats", type=int, default=3)
    options = parser.parse_args(argv)
    env = dict(os.environ, ADDRNORM_DOUBLE_WORK_NS=str(options.work_ns))
    folder = tempfile.mkdtemp()
    addresses = os.path.join(folder, "addresses.txt")
    with open(addresses, "w", encoding="utf-8") as out:
        for n in range(options.records):
            out.write(ADDRESSES[n % len(ADDRESSES)] + "\n")
    places = os.path.join(folder, "places.jsonl")
    with open(places, "w", encoding="utf-8") as out:
        import json
        for n in range(options.records):
            out.write(json.dumps(dict(RECORDS[n % len(RECORDS)])) + "\n")
    print("%d records, %d µs of library work per call, %d cores; best of %d runs" % (
        options.records, options.work_ns // 1000, os.cpu_count(), options.repeats))
    for name, argv_base in (("expand", ["expand", "-i", addresses]), ("dupes", ["dupes", places])):
        rates = {}
        for jobs in (1, 2):
            best = min(timed(argv_base + ["--jobs", str(jobs)], env) for _ in range(options.repeats))
            rates[jobs] = options.records / best
        print("  %-7s --jobs 1: %8.0f records/s   --jobs 2: %8.0f records/s   speed-up %.2f" % (
            name, rates[1], rates[2], rates[2] / rates[1]))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
