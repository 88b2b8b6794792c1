"""Instructions per call on the real libpostal, counted by callgrind: exact and
repeatable where wall time on a shared machine is not.

One process under callgrind sets libpostal up without instrumentation (1 s
that way, 16 s instrumented), runs every scenario once to warm up,
then counts each implementation of each scenario over N passes of the
workload and over 2N passes, each count dumped under its name by the floor's
client requests.  Per call: (Ir(2N) - Ir(N)) / (N passes x calls per pass),
so that what a count costs once (the dump, the loop's start) cancels out.

    python bench/callgrind.py --child ...   # what measure() runs under valgrind
"""
import argparse
import gc
import glob
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
from workload import ADDRESSES, LANGUAGES, RECORDS  # noqa: E402

IMPLEMENTATIONS = ("addrnorm", "floor", "ctypes")


def passes(table):
    """{(scenario, implementation): one pass over the scenario's items}."""
    def loop(call, items):
        def one_pass():
            for item in items:
                call(item)
        return one_pass

    runs = {}
    for name, items, call, ctypes_call, floor_pass in table:
        runs[(name, "addrnorm")] = loop(call, items)
        runs[(name, "floor")] = floor_pass
        runs[(name, "ctypes")] = loop(ctypes_call, items)
    return runs


def child(argv):
    parser = argparse.ArgumentParser()
    parser.add_argument("--child", action="store_true")
    parser.add_argument("--step", type=int, required=True)
    parser.add_argument("--passes", type=int, required=True)
    options = parser.parse_args(argv)
    import real
    from bindings import CtypesBinding, Floor

    started = time.perf_counter()
    floor_path, library = real.set_up()
    set_up = time.perf_counter()
    addresses, languages = ADDRESSES[::options.step], LANGUAGES[::options.step]
    records = RECORDS[::options.step]
    floor = Floor(floor_path, addresses, records)
    runs = passes(real.scenarios(floor, CtypesBinding(library), addresses, languages, records))
    for run in runs.values():
        run()
    warmed = time.perf_counter()
    # The collector would run at different points in different counts.
    gc.collect()
    gc.disable()
    floor.callgrind(instrument=1)
    for (name, impl), run in runs.items():
        for count in (options.passes, 2 * options.passes):
            floor.callgrind(zero=True)
            for _ in range(count):
                run()
            floor.callgrind(dump="%s|%s|%d" % (name, impl, count))
    floor.callgrind(instrument=0)
    print("phases: %.1f %.1f %.1f" % (set_up - started, warmed - set_up, time.perf_counter() - warmed))
    return 0


def read_dumps(prefix):
    """{dump name: instructions} from callgrind's numbered dump files."""
    counts = {}
    # In the order written, which is the order counted.
    for path in sorted(glob.glob(prefix + ".*"), key=lambda path: int(path.rsplit(".", 1)[1])):
        name = total = None
        with open(path, errors="replace") as dump:
            for line in dump:
                found = re.match(r"desc: Trigger: Client Request: (.*)", line)
                if found:
                    name = found.group(1).strip()
                elif line.startswith(("summary:", "totals:")):
                    total = int(line.split()[1])
                    break
        if name is not None and total is not None:
            counts[name] = total
    return counts


def measure(floor, quick, keep=None):
    """Runs the counting process under callgrind and prints the table; keep
    names a directory to leave the dumps in, for callgrind_annotate."""
    from real import Failed

    if not shutil.which("valgrind"):
        raise Failed("valgrind is not installed: the instruction counts need callgrind (--no-callgrind skips them)")
    if not floor.lib.floor_callgrind_built():
        raise Failed("the C++ floor was built without valgrind's headers (valgrind/callgrind.h), so it cannot "
                     "mark callgrind's counts: install valgrind and rebuild (--no-callgrind skips the counts)")
    step, count = (2, 1) if quick else (1, 1)
    addresses, records = len(ADDRESSES[::step]), len(RECORDS[::step])
    folder = keep or tempfile.mkdtemp(prefix="addrnorm-callgrind-")
    os.makedirs(folder, exist_ok=True)
    prefix = os.path.join(folder, "callgrind.out")
    command = ["valgrind", "--tool=callgrind", "--instr-atstart=no", "--callgrind-out-file=" + prefix,
               sys.executable, os.path.abspath(__file__), "--child", "--step", str(step), "--passes", str(count)]
    # A fixed hash seed: dictionaries then do the same work in every run.
    env = dict(os.environ, PYTHONHASHSEED="0")
    started = time.perf_counter()
    process = subprocess.run(command, env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                             universal_newlines=True)
    seconds = time.perf_counter() - started
    try:
        if process.returncode != 0:
            raise Failed("the count under callgrind failed (exit %d):\n%s" % (
                process.returncode, "\n".join(process.stdout.splitlines()[-30:])))
        counts = read_dumps(prefix)
    finally:
        if not keep:
            shutil.rmtree(folder, ignore_errors=True)
    phases = re.search(r"^phases: (\S+) (\S+) (\S+)$", process.stdout, re.M)
    print("instructions per call, callgrind (Ir): (Ir(%d passes) - Ir(%d)) / calls of %d pass%s over %d addresses "
          "and %d records" % (2 * count, count, count, "" if count == 1 else "es", addresses, records))
    print("  %.0f s under valgrind: set-up %s s and a warm-up pass %s s uninstrumented, the counts %s s%s" % (
        (seconds,) + (phases.groups() if phases else ("?", "?", "?")) + (
            "; dumps kept in " + folder if keep else "",)))
    print("%-42s %12s %12s %12s %10s %9s %7s" % ("Ir per call", "addrnorm", "C++ floor", "ctypes", "a - b",
                                                 "C share", "c/a"))
    scenarios = list(dict.fromkeys(dump.split("|")[0] for dump in counts))
    if not scenarios:
        raise Failed("callgrind wrote no counts:\n%s" % "\n".join(process.stdout.splitlines()[-30:]))
    for name in scenarios:
        calls = addresses if name.startswith("expand_address") else records
        per_call = {}
        for impl in IMPLEMENTATIONS:
            once, twice = ("%s|%s|%d" % (name, impl, n) for n in (count, 2 * count))
            if once not in counts or twice not in counts:
                raise Failed("callgrind wrote no count for %s, %s" % (name, impl))
            per_call[impl] = (counts[twice] - counts[once]) / (count * calls)
        a, b, c = (per_call[impl] for impl in IMPLEMENTATIONS)
        print("%-42s %12.0f %12.0f %12.0f %10.0f %9.4f %7.2f" % (name, a, b, c, a - b, b / a, c / a))
    print("  C share = b/a, libpostal's own work (and the floor's copies) in what a call through addrnorm costs")


if __name__ == "__main__":
    sys.exit(child(sys.argv[1:]))
