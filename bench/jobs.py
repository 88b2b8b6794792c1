"""Throughput of the addrnorm command with 1 and 2 worker processes.

The test double is made to spend a libpostal-like time on each call
(ADDRNORM_DOUBLE_WORK_NS, 50 µs by default), so that the figures show how the
work spreads over the cores rather than how fast the double answers.  On the
real libpostal (run.py --real calls real()) the work is libpostal's own.

    python bench/jobs.py [--records 20000] [--work-ns 50000]
"""
import argparse
import json
import os
import resource
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
from workload import ADDRESSES, RECORDS  # noqa: E402


def timed(argv, env):
    return timed_cpu(argv, env)[0]


def timed_cpu(argv, env):
    """(wall seconds, CPU seconds of the command and its workers)."""
    cpu = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.perf_counter()
    subprocess.run([sys.executable, "-m", "addrnorm"] + argv + ["-q", "-o", os.devnull], env=env, check=True,
                   cwd=tempfile.gettempdir())
    wall = time.perf_counter() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    return wall, after.ru_utime + after.ru_stime - cpu.ru_utime - cpu.ru_stime


def inputs(folder, records):
    """(name, the command's arguments) for expand and dupes over inputs of so
    many records, written into folder."""
    addresses = os.path.join(folder, "addresses-%d.txt" % records)
    with open(addresses, "w", encoding="utf-8") as out:
        for n in range(records):
            out.write(ADDRESSES[n % len(ADDRESSES)] + "\n")
    places = os.path.join(folder, "places-%d.jsonl" % records)
    with open(places, "w", encoding="utf-8") as out:
        for n in range(records):
            out.write(json.dumps(dict(RECORDS[n % len(RECORDS)])) + "\n")
    commands = [("expand", ["expand", "-i", addresses])]
    # dupes runs where its model does (Python 3.10 and newer, Splink).
    from addrnorm.dedupe import available

    if available() is None:
        commands.append(("dupes", ["dupes", places]))
    else:
        print("dupes left out: %s" % available())
    return tuple(commands)


def private_kib(pid):
    """Private_Clean + Private_Dirty of a process: the memory it does not
    share with its parent or workers; None once it is gone or has exited
    (a zombie has no memory left to show)."""
    try:
        with open("/proc/%d/smaps_rollup" % pid) as rollup:
            counts = [int(line.split()[1]) for line in rollup if line.startswith(("Private_Clean:",
                                                                                  "Private_Dirty:"))]
    except (OSError, ValueError):
        return None
    return sum(counts) if counts else None


def children(pid):
    found = set()
    try:
        for task in os.listdir("/proc/%d/task" % pid):
            with open("/proc/%d/task/%s/children" % (pid, task)) as listed:
                found.update(int(child) for child in listed.read().split())
    except OSError:
        pass
    return found


def watched(argv, env, forks, interval=0.1):
    """Runs the command, sampling private memory in KiB: (the main process's
    peak, [each worker's peak]).  When it forks workers, the main process
    counts only while they live: before the fork its pages are all its own."""
    process = subprocess.Popen([sys.executable, "-m", "addrnorm"] + argv + ["-q", "-o", os.devnull], env=env,
                               cwd=tempfile.gettempdir())
    main, workers = 0, {}
    while process.poll() is None:
        # The main process between two looks at its workers: its count
        # stands if the same workers lived before and after (reading a large
        # process's count takes long enough for the fork to fall within it).
        before = children(process.pid)
        own, alive = private_kib(process.pid) or 0, False
        for pid in children(process.pid):
            kib = private_kib(pid)
            if kib is not None:
                workers[pid] = max(kib, workers.get(pid, 0))
                alive = alive or pid in before
        if alive or not forks:
            main = max(main, own)
        time.sleep(interval)
    if process.returncode != 0:
        raise subprocess.CalledProcessError(process.returncode, process.args)
    return main, [workers[pid] for pid in sorted(workers)]


def real(records, repeats):
    """Records per second of expand and dupes with --jobs 1 and 2 on the real
    libpostal, its set-up (and the workers' start) left out: a run over one
    record is timed too, and rate = records / (t(records) - t(1)); then one
    more run of each, sampled for each process's private memory."""
    folder = tempfile.mkdtemp(prefix="addrnorm-jobs-")
    env = dict(os.environ)
    big, one = inputs(folder, records), inputs(folder, 1)
    print("addrnorm command, %d records, %d cores, best of %d runs; rate and CPU (the command's and its workers') "
          "without the start and set-up, timed on 1 record; private memory (Private_Clean + Private_Dirty, peak) of "
          "each process:" % (records, os.cpu_count(), repeats))
    for (name, argv), (_, argv_one) in zip(big, one):
        rates = {}
        for jobs in (1, 2):
            flags = ["--jobs", str(jobs)]
            start, start_cpu = map(min, zip(*[timed_cpu(argv_one + flags, env) for _ in range(repeats)]))
            best, best_cpu = map(min, zip(*[timed_cpu(argv + flags, env) for _ in range(repeats)]))
            rates[jobs] = records / max(best - start, 1e-9)
            main, workers = watched(argv + flags, env, jobs > 1)
            memory = ("process %.0f MiB" % (main / 1024) if jobs == 1 else
                      "main %.0f MiB, workers %s MiB" % (main / 1024, " + ".join("%.1f" % (w / 1024)
                                                                               for w in workers)))
            print("  %-7s --jobs %d: %6.0f records/s, %4.0f µs CPU a record (start and set-up %.2f s); private: %s" % (
                name, jobs, rates[jobs], (best_cpu - start_cpu) / records * 1e6, start, memory))
        print("  %-7s speed-up with 2 jobs: %.2f" % (name, rates[2] / rates[1]))
    for path in os.listdir(folder):
        os.remove(os.path.join(folder, path))
    os.rmdir(folder)


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--records", type=int, default=20000)
    parser.add_argument("--work-ns", type=int, default=50000)
    parser.add_argument("--repeats", type=int, default=3)
    options = parser.parse_args(argv)
    env = dict(os.environ, ADDRNORM_DOUBLE_WORK_NS=str(options.work_ns))
    commands = inputs(tempfile.mkdtemp(), options.records)
    print("%d records, %d µs of library work per call, %d cores; best of %d runs" % (
        options.records, options.work_ns // 1000, os.cpu_count(), options.repeats))
    for name, argv_base in commands:
        rates = {}
        for jobs in (1, 2):
            best = min(timed(argv_base + ["--jobs", str(jobs)], env) for _ in range(options.repeats))
            rates[jobs] = options.records / best
        print("  %-7s --jobs 1: %8.0f records/s   --jobs 2: %8.0f records/s   speed-up %.2f" % (
            name, rates[1], rates[2], rates[2] / rates[1]))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
