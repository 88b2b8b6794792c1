"""The benchmark on the real libpostal, with its data: what the binding adds to
libpostal's own work, against the same calls from C++ (the floor) and through
ctypes, on the multilingual workload, with and without language codes.

    cd BUILD && LIBPOSTAL_DATA_DIR=DATA PYTHONPATH=BUILD python bench/run.py --real [--quick]

BUILD is a build on the real libpostal (the modules and bench/libbench_floor.so,
both linking the same libpostal.so.1).  Prints, in order: the check that the
three give the same results for every call; instructions per call under
callgrind (deterministic, the primary measure); wall-time medians,
interleaved; set-up time and memory; records per second of the addrnorm
command with --jobs 1 and 2 and each process's private memory.  Exits 1 when
anything fails, results that differ included.  --quick (CI) is the same with
smaller counts.
"""
import argparse
import os
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
from bindings import CtypesBinding, Floor, interleave, per_call_ns, report  # noqa: E402
from workload import ADDRESSES, LANGUAGES, RECORDS  # noqa: E402


class Failed(Exception):
    pass


def check_setting():
    """The data directory must be named: the figures would otherwise come
    from whatever data libpostal's compiled-in directory holds, or from none."""
    data = os.environ.get("LIBPOSTAL_DATA_DIR")
    if not data:
        raise Failed("LIBPOSTAL_DATA_DIR is not set: point it at libpostal's data directory "
                     "(LIBPOSTAL_DATA_DIR=<data> PYTHONPATH=<build> python bench/run.py --real)")
    if not os.path.isdir(data):
        raise Failed("LIBPOSTAL_DATA_DIR=%s is not a directory" % data)
    return data


def loaded_libpostal():
    """The libpostal.so.1 this process has loaded (the modules' own)."""
    with open("/proc/self/maps") as maps:
        for line in maps:
            fields = line.split(None, 5)
            if len(fields) == 6 and os.path.basename(fields[5].strip()).startswith("libpostal.so"):
                return fields[5].strip()
    raise Failed("no libpostal.so is loaded after importing addrnorm._expand")


def set_up():
    """Imports the modules (setting libpostal up from the data) and returns
    (build directory, libpostal's file); fails on the test double."""
    import ctypes

    try:
        from addrnorm import _expand, _kinhash
    except ImportError as error:
        raise Failed("addrnorm is not importable (is PYTHONPATH the build directory?): %s" % error)
    except TypeError as error:
        raise Failed("libpostal could not be set up from LIBPOSTAL_DATA_DIR=%s: %s" % (
            os.environ["LIBPOSTAL_DATA_DIR"], error))
    library = loaded_libpostal()
    if hasattr(ctypes.CDLL(library), "double_set_result"):
        raise Failed("the modules are built on the libpostal test double (%s); --real needs a build on the real "
                     "libpostal (-DADDRNORM_LIBPOSTAL=bundled or system)" % library)
    expected = "781 franklin avenue crown heights brooklyn new york"
    if expected not in (_expand.expand_address("781 Franklin Ave Crown Hts Brooklyn NY") or ()):
        raise Failed("libpostal does not expand as libpostal 1.1 with its released data does (no %r)" % expected)
    if "napc|whol|franklin avenue|781|11216" not in (_kinhash.near_dupe_hashes(
            ["house", "road", "house_number", "postcode"], ["Whole Foods", "Franklin Ave", "781", "11216"]) or ()):
        raise Failed("libpostal's near-duplicate keys are not those of libpostal 1.1 with its released data")
    build = os.path.dirname(os.path.dirname(os.path.abspath(_expand.__file__)))
    floor = os.path.join(build, "bench", "libbench_floor.so")
    if not os.path.exists(floor):
        raise Failed("no C++ floor at %s: build the benchmark with the modules" % floor)
    return floor, library


def scenarios(floor, binding, addresses=ADDRESSES, languages=LANGUAGES, records=RECORDS):
    """(name, items, addrnorm's call, ctypes' call, one pass of the floor)
    per scenario; the floor must hold the same addresses and records."""
    from addrnorm import _expand, _kinhash

    expand, hashes = _expand.expand_address, _kinhash.near_dupe_hashes
    own = [[code] for code in languages]
    pairs = list(zip(addresses, own))
    own_codes = floor.own_languages(own)
    labelled = [tuple(zip(*record)) for record in records]
    en = ["en"]
    return [
        ("expand_address", addresses, lambda a: expand(a), lambda a: binding.expand_address(a),
         lambda: floor.expand(None)),
        ("expand_address, its language", pairs, lambda p: expand(p[0], languages=p[1]),
         lambda p: binding.expand_address(p[0], languages=p[1]), lambda: floor.expand_each(own_codes)),
        ("near_dupe_hashes", labelled, lambda r: hashes(r[0], r[1]), lambda r: binding.near_dupe_hashes(r[0], r[1]),
         lambda: floor.hash(None)),
        ("near_dupe_hashes, 1 language", labelled, lambda r: hashes(r[0], r[1], languages=en),
         lambda r: binding.near_dupe_hashes(r[0], r[1], languages=en), lambda: floor.hash(en)),
    ]


def check(table, floor):
    """Every call of every scenario gives the same list from addrnorm, the
    floor and ctypes; prints what was compared."""
    totals = []
    for name, items, call, ctypes_call, floor_pass in table:
        ours = [call(item) for item in items]
        for other, theirs in (("the C++ floor", floor.results(floor_pass)),
                              ("ctypes", [ctypes_call(item) for item in items])):
            if len(theirs) != len(ours):
                raise Failed("%s: %s made %d calls, addrnorm %d" % (name, other, len(theirs), len(ours)))
            for item, mine, its in zip(items, ours, theirs):
                if mine != its:
                    raise Failed("%s of %r: addrnorm gave %r, %s %r" % (name, item, mine, other, its))
        if sum(result is None for result in ours) == len(ours):
            raise Failed("%s: libpostal gave no result for any call" % name)
        totals.append("%s %d" % (name, sum(len(result or ()) for result in ours)))
    print("results: addrnorm, the C++ floor and ctypes agree on every call (strings returned: %s)" % ", ".join(
        totals))


def wall(table, floor, repeats):
    timed = [(name, {"addrnorm": lambda items=items, call=call: per_call_ns(call, items),
                     "floor": floor_pass,
                     "ctypes": lambda items=items, call=ctypes_call: per_call_ns(call, items)})
             for name, items, call, ctypes_call, floor_pass in table]
    samples = interleave(timed, repeats)
    print("wall time, %d interleaved repeats (noisy on a shared machine; the counts above are the measure):" % repeats)
    report(timed, samples, columns=("addrnorm", "floor", "ctypes"), unit="µs")


SETUP = """import time
start = time.perf_counter()
from addrnorm import _expand
seconds = time.perf_counter() - start
status = dict(line.split(":", 1) for line in open("/proc/self/status"))
private = 0
for line in open("/proc/self/smaps_rollup"):
    if line.startswith(("Private_Clean:", "Private_Dirty:")):
        private += int(line.split()[1])
print(seconds, int(status["VmRSS"].split()[0]), private, int(status["VmHWM"].split()[0]))
"""


def setup_cost(runs):
    """Set-up (the first import of _expand: libpostal and its classifier
    loaded from the data) in fresh processes, and memory after it."""
    figures = []
    for _ in range(runs):
        # From a neutral folder, so that the built package is the one imported.
        out = subprocess.run([sys.executable, "-c", SETUP], check=True, stdout=subprocess.PIPE,
                             universal_newlines=True, cwd=tempfile.gettempdir()).stdout.split()
        figures.append((float(out[0]), int(out[1]), int(out[2]), int(out[3])))
    seconds, rss, private, peak = (statistics.median(f[i] for f in figures) for i in range(4))
    print("set-up: first import of addrnorm._expand, median of %d fresh processes: %.2f s (min %.2f); after it RSS "
          "%.0f MiB (peak %.0f MiB), of which private %.0f MiB" % (
              runs, seconds, min(f[0] for f in figures), rss / 1024, peak / 1024, private / 1024))


def main(argv):
    parser = argparse.ArgumentParser(prog="run.py --real", description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--quick", action="store_true", help="smaller counts, every figure (CI: ~3-5 minutes)")
    parser.add_argument("--repeats", type=int, help="wall-time repeats (default 15, quick 5)")
    parser.add_argument("--records", type=int, help="records per addrnorm command run (default 20000, quick 2000)")
    parser.add_argument("--no-callgrind", action="store_true", help="skip the instruction counts")
    parser.add_argument("--keep-callgrind", metavar="DIR", help="leave callgrind's dumps in DIR (callgrind_annotate)")
    options = parser.parse_args(argv)
    repeats = options.repeats or (5 if options.quick else 15)
    started = time.perf_counter()
    try:
        data = check_setting()
        floor_path, library = set_up()
        import addrnorm
        import callgrind
        import jobs

        floor, binding = Floor(floor_path), CtypesBinding(library)
        table = scenarios(floor, binding)
        print("addrnorm %s, CPython %s, on the real libpostal %s with the data in %s" % (
            addrnorm.__version__, sys.version.split()[0], library, data))
        print("workload: %d addresses in %d languages (its language: each address's own code), %d records of 2-8 "
              "fields; a = addrnorm (the extension functions), b = C++ floor, c = ctypes" % (
                  len(ADDRESSES), len(set(LANGUAGES)), len(RECORDS)))
        check(table, floor)
        if options.no_callgrind:
            print("instructions per call: not measured (--no-callgrind)")
        else:
            callgrind.measure(floor, quick=options.quick, keep=options.keep_callgrind)
        wall(table, floor, repeats)
        setup_cost(3 if options.quick else 7)
        jobs.real(options.records or (2000 if options.quick else 20000), 2 if options.quick else 3)
    except (Failed, subprocess.CalledProcessError) as error:
        print("bench --real: FAILED: %s" % error, file=sys.stderr)
        return 1
    print("benchmark on the real libpostal done in %.0f s" % (time.perf_counter() - started))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
