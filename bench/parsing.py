"""The address parser's figures on the real libpostal with its model: set-up
time and memory, what the binding adds to a parse (callgrind's instruction
counts against the C++ floor's loop making the same calls), and addrnorm
parse with --jobs 1 and 2, with each process's private memory.

    cd BUILD && LIBPOSTAL_DATA_DIR=DATA PYTHONPATH=BUILD python bench/parsing.py [--quick] [--no-callgrind]

DATA must hold the parser's model (data.sh --parser, or addrnorm data
download --parser).  Exits 1 when anything fails, results of addrnorm and
the floor that differ included.  --quick (CI) times fewer addresses and
leaves callgrind out: under valgrind the model alone takes a minute to load.
"""
import argparse
import ctypes
import os
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import callgrind  # noqa: E402
import jobs  # noqa: E402
from bindings import Floor, strings  # noqa: E402
from real import Failed, check_setting, set_up  # noqa: E402
from workload import ADDRESSES  # noqa: E402

SETUP = """import time
from addrnorm import _expand
start = time.perf_counter()
from addrnorm import _parser
seconds = time.perf_counter() - start
status = dict(line.split(":", 1) for line in open("/proc/self/status"))
private = 0
for line in open("/proc/self/smaps_rollup"):
    if line.startswith(("Private_Clean:", "Private_Dirty:")):
        private += int(line.split()[1])
print(seconds, int(status["VmRSS"].split()[0]), private, int(status["VmHWM"].split()[0]))
"""


def setup_cost(runs):
    """The parser's set-up (the first import of _parser, after libpostal's own)
    in fresh processes, and memory after it."""
    figures = []
    for _ in range(runs):
        out = subprocess.run([sys.executable, "-c", SETUP], check=True, stdout=subprocess.PIPE,
                             universal_newlines=True, cwd=tempfile.gettempdir()).stdout.split()
        figures.append((float(out[0]), int(out[1]), int(out[2]), int(out[3])))
    best = min(figures)
    print("parser set-up: first import of addrnorm._parser after _expand, best of %d fresh processes: %.2f s; after "
          "it RSS %.0f MiB (peak %.0f MiB), of which private %.0f MiB" % (
              runs, best[0], best[1] / 1024, best[3] / 1024, best[2] / 1024))


def floor_parse(floor):
    """One pass of the floor's loop over the workload's addresses."""
    addresses = strings(ADDRESSES)
    floor.lib.floor_parse.restype = ctypes.c_double
    floor.lib.floor_parse.argtypes = [ctypes.POINTER(ctypes.c_char_p), ctypes.c_size_t]
    return lambda: floor.lib.floor_parse(addresses, len(ADDRESSES))


def check(floor):
    """addrnorm and the floor give the same parse of every address."""
    from addrnorm import _parser

    ours = [[text for pair in _parser.parse_address(address) for text in pair] for address in ADDRESSES]
    theirs = floor.results(floor_parse(floor))
    if ours != theirs:
        differ = [address for address, a, b in zip(ADDRESSES, ours, theirs) if a != b]
        raise Failed("addrnorm and the floor parse %d addresses differently, the first %r" % (len(differ), differ[0]))
    print("results: addrnorm and the C++ floor agree on the parse of all %d addresses (%d parts)" % (
        len(ADDRESSES), sum(len(parts) // 2 for parts in ours)))


COUNT = r"""
import gc, sys, time
sys.path.insert(0, %(here)r)
import parsing as bench
from bindings import Floor
from real import set_up
from workload import ADDRESSES
started = time.perf_counter()
floor_path, _ = set_up()
from addrnorm import _parser
parse = _parser.parse_address
floor = Floor(floor_path)
def through_addrnorm():
    for address in ADDRESSES:
        parse(address)
runs = {"addrnorm": through_addrnorm, "floor": bench.floor_parse(floor)}
for run in runs.values():
    run()
gc.collect()
gc.disable()
floor.callgrind(instrument=1)
for name, run in runs.items():
    for count in (1, 2):
        floor.callgrind(zero=True)
        for _ in range(count):
            run()
        floor.callgrind(dump="parse_address|%%s|%%d" %% (name, count))
floor.callgrind(instrument=0)
print("set-up and warm-up uninstrumented: %%.0f s" %% (time.perf_counter() - started))
"""


def instructions(floor):
    """Instructions per parse through addrnorm and through the floor:
    (Ir(2 passes) - Ir(1 pass)) / calls, the model set up uninstrumented."""
    if not floor.lib.floor_callgrind_built():
        raise Failed("the C++ floor was built without valgrind's headers: install valgrind and rebuild "
                     "(--no-callgrind skips the counts)")
    folder = tempfile.mkdtemp(prefix="addrnorm-parser-callgrind-")
    prefix = os.path.join(folder, "callgrind.out")
    started = time.perf_counter()
    process = subprocess.run(["valgrind", "--tool=callgrind", "--instr-atstart=no", "--callgrind-out-file=" + prefix,
                              sys.executable, "-c", COUNT % {"here": HERE}], env=dict(os.environ, PYTHONHASHSEED="0"),
                             stdout=subprocess.PIPE, stderr=subprocess.STDOUT, universal_newlines=True)
    try:
        if process.returncode != 0:
            raise Failed("the count under callgrind failed (exit %d):\n%s" % (
                process.returncode, "\n".join(process.stdout.splitlines()[-30:])))
        counts = callgrind.read_dumps(prefix)
    finally:
        for path in os.listdir(folder):
            os.remove(os.path.join(folder, path))
        os.rmdir(folder)
    per_call = {}
    for impl in ("addrnorm", "floor"):
        once, twice = ("parse_address|%s|%d" % (impl, n) for n in (1, 2))
        if once not in counts or twice not in counts:
            raise Failed("callgrind wrote no count for parse_address, %s" % impl)
        per_call[impl] = (counts[twice] - counts[once]) / len(ADDRESSES)
    a, b = per_call["addrnorm"], per_call["floor"]
    print("instructions per parse, callgrind (Ir(2 passes) - Ir(1)) / %d addresses, %.0f s under valgrind:" % (
        len(ADDRESSES), time.perf_counter() - started))
    print("  %-28s %12s %12s %10s %9s" % ("Ir per call", "addrnorm", "C++ floor", "a - b", "C share"))
    print("  %-28s %12.0f %12.0f %10.0f %9.4f" % ("parse_address", a, b, a - b, b / a))


RUNS = r"""
import json, os, sys, threading, time
sys.path.insert(0, %(here)r)
import jobs
import addrnorm
from addrnorm import cli
addrnorm.parse_address("x")  # the model set up before the runs, as --jobs does before its fork
figures = {}
for count in (1, 2):
    peaks, done = {"main": 0, "workers": {}}, threading.Event()
    def sample():
        while not done.is_set():
            # The main process between two looks at its workers: its count
            # stands if the same workers lived before and after (before the
            # fork, and once they are gone, its pages are all its own; and
            # reading its count takes long enough for the fork to fall
            # within it).
            before = jobs.children(os.getpid())
            own, alive = jobs.private_kib(os.getpid()) or 0, False
            for pid in jobs.children(os.getpid()):
                kib = jobs.private_kib(pid)
                if kib is not None:
                    peaks["workers"][pid] = max(kib, peaks["workers"].get(pid, 0))
                    alive = alive or pid in before
            if alive or count == 1:
                peaks["main"] = max(peaks["main"], own)
            time.sleep(0.05)
    sampler = threading.Thread(target=sample)
    sampler.start()
    began = time.perf_counter()
    status = cli.main(["parse", "-i", %(path)r, "--jobs", str(count), "-q", "-o", os.devnull])
    seconds = time.perf_counter() - began
    done.set()
    sampler.join()
    assert status == 0, status
    figures[count] = [seconds, peaks["main"], sorted(peaks["workers"].values())]
print(json.dumps(figures))
"""


def command_figures(addresses):
    """Addresses per second of addrnorm parse with --jobs 1 and 2 in a process
    that has set the parser up already (its set-up, seconds, would swamp the
    parses), and the private memory of each process."""
    import json

    folder = tempfile.mkdtemp(prefix="addrnorm-parser-jobs-")
    path = os.path.join(folder, "addresses.txt")
    with open(path, "w", encoding="utf-8") as out:
        for n in range(addresses):
            out.write(ADDRESSES[n % len(ADDRESSES)] + "\n")
    try:
        out = subprocess.run([sys.executable, "-c", RUNS % {"here": HERE, "path": path}], check=True,
                             stdout=subprocess.PIPE, universal_newlines=True, cwd=tempfile.gettempdir()).stdout
    finally:
        os.remove(path)
        os.rmdir(folder)
    figures = json.loads(out.strip().splitlines()[-1])
    print("addrnorm parse, %d addresses, %d cores, the parser set up before the run (as --jobs sets it up before "
          "its fork); private memory (Private_Clean + Private_Dirty, peak) of each process:" % (
              addresses, os.cpu_count()))
    rates = {}
    for count in (1, 2):
        seconds, main, workers = figures[str(count)]
        rates[count] = addresses / seconds
        memory = ("process %.0f MiB" % (main / 1024) if count == 1 else
                  "main %.0f MiB, workers %s MiB" % (main / 1024, " + ".join("%.1f" % (w / 1024) for w in workers)))
        print("  parse --jobs %d: %6.0f addresses/s; private: %s" % (count, rates[count], memory))
    print("  speed-up with 2 jobs: %.2f" % (rates[2] / rates[1]))


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--quick", action="store_true", help="fewer addresses, no callgrind (CI: under a minute)")
    parser.add_argument("--addresses", type=int, help="addresses per command run (default 60000, quick 10000)")
    parser.add_argument("--no-callgrind", action="store_true", help="skip the instruction counts")
    options = parser.parse_args(argv)
    started = time.perf_counter()
    try:
        data = check_setting()
        if not os.path.isfile(os.path.join(data, "address_parser", "address_parser_crf.dat")):
            raise Failed("LIBPOSTAL_DATA_DIR=%s holds no parser model: lay it out with data.sh --parser" % data)
        floor_path, library = set_up()
        floor = Floor(floor_path)
        check(floor)
        setup_cost(1 if options.quick else 3)
        if options.quick or options.no_callgrind:
            print("instructions per parse: not measured (%s)" % ("--quick" if options.quick else "--no-callgrind"))
        else:
            instructions(floor)
        command_figures(options.addresses or (10000 if options.quick else 60000))
    except (Failed, subprocess.CalledProcessError) as error:
        print("bench parser: FAILED: %s" % error, file=sys.stderr)
        return 1
    print("parser benchmark on the real libpostal done in %.0f s" % (time.perf_counter() - started))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
