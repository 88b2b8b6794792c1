"""What the binding costs per call: addrnorm against the same libpostal calls
made from C++ (the floor) and through a ctypes binding, interleaved in one run.

    python bench/run.py            # the full run: 15 repeats, 10^6 calls for memory
    python bench/run.py --quick    # seconds: what CI runs so that it cannot rot
    python bench/run.py --real [--quick]   # on the real libpostal: bench/real.py

Needs a test build on PYTHONPATH (the modules, the test double and the floor
library); nox -s bench sets that up.
"""
import argparse
import gc
import os
import resource
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
from bindings import CtypesBinding, Floor, interleave, per_call_ns, report  # noqa: E402
from workload import ADDRESSES, RECORDS  # noqa: E402


def scenarios(floor, binding):
    """(name, {implementation: one pass over the workload -> ns per call})."""
    import addrnorm
    from addrnorm import _expand, _kinhash

    labelled = [tuple(zip(*record)) for record in RECORDS]
    two = ["en", "fr"]
    options = dict(lowercase=0, split_alpha_from_numeric=1, address_components=0x0008 | 0x0004)
    hash_options = dict(address_only_keys=1, latitude=40.7)
    c_hash_options = dict(address_only_keys=1, with_latlon=1, latitude=40.7)
    expand, hashes = _expand.expand_address, _kinhash.near_dupe_hashes
    package = addrnorm  # called as users write it: addrnorm.expand_address(...)
    return [
        ("expand_address", {
            "addrnorm": lambda: per_call_ns(lambda a: expand(a), ADDRESSES),
            "package": lambda: per_call_ns(lambda a: package.expand_address(a), ADDRESSES),
            "floor": lambda: floor.expand(None),
            "ctypes": lambda: per_call_ns(lambda a: binding.expand_address(a), ADDRESSES)}),
        ("expand_address, 2 languages", {
            "addrnorm": lambda: per_call_ns(lambda a: expand(a, languages=two), ADDRESSES),
            "package": lambda: per_call_ns(lambda a: package.expand_address(a, languages=two), ADDRESSES),
            "floor": lambda: floor.expand(two),
            "ctypes": lambda: per_call_ns(lambda a: binding.expand_address(a, languages=two), ADDRESSES)}),
        ("expand_address, 2 languages, 3 options", {
            "addrnorm": lambda: per_call_ns(lambda a: expand(a, languages=two, **options), ADDRESSES),
            "package": lambda: per_call_ns(lambda a: package.expand_address(a, languages=two, **options), ADDRESSES),
            "floor": lambda: floor.expand(two, 0, 1, 0x000C),
            "ctypes": lambda: per_call_ns(lambda a: binding.expand_address(a, languages=two, **options),
                                          ADDRESSES)}),
        ("near_dupe_hashes", {
            "addrnorm": lambda: per_call_ns(lambda r: hashes(r[0], r[1]), labelled),
            "package": lambda: per_call_ns(lambda r: package.near_dupe_hashes(r[0], r[1]), labelled),
            "floor": lambda: floor.hash(None),
            "ctypes": lambda: per_call_ns(lambda r: binding.near_dupe_hashes(r[0], r[1]), labelled)}),
        ("near_dupe_hashes, 1 language, 2 options", {
            "addrnorm": lambda: per_call_ns(lambda r: hashes(r[0], r[1], languages=["en"], **hash_options),
                                            labelled),
            "package": lambda: per_call_ns(lambda r: package.near_dupe_hashes(r[0], r[1], languages=["en"], **hash_options),
                                           labelled),
            "floor": lambda: floor.hash(["en"], 1, 40.7),
            "ctypes": lambda: per_call_ns(lambda r: binding.near_dupe_hashes(r[0], r[1], languages=["en"],
                                                                            **c_hash_options), labelled)}),
    ]


def measure(repeats, floor, binding):
    table = scenarios(floor, binding)
    return table, interleave(table, repeats)


def memory(calls):
    from addrnorm import _expand, _kinhash
    from heap import heap_in_use

    labelled = [tuple(zip(*record)) for record in RECORDS]
    rows = []
    gc.collect()
    start_heap, start_rss = heap_in_use(), resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
    done = 0
    checkpoints = [calls // 10, calls // 2, calls]
    while done < calls:
        for address, record in zip(ADDRESSES, labelled):
            _expand.expand_address(address, languages=["en"])
            _kinhash.near_dupe_hashes(record[0], record[1])
        done += min(len(ADDRESSES), len(labelled))
        if checkpoints and done >= checkpoints[0]:
            gc.collect()
            rows.append((checkpoints.pop(0), heap_in_use() - start_heap,
                         resource.getrusage(resource.RUSAGE_SELF).ru_maxrss - start_rss))
    print("memory over %d calls of each function: heap in use and peak RSS, against the start" % calls)
    for count, heap, rss in rows:
        print("  after %9d: heap %+8d bytes, peak RSS %+6d KiB" % (count, heap, rss))


def import_costs(runs):
    def median_seconds(code):
        times = []
        for _ in range(runs):
            start = time.perf_counter()
            # From a neutral folder, so that the built package is the one imported.
            subprocess.run([sys.executable, "-c", code], check=True, cwd=tempfile.gettempdir())
            times.append(time.perf_counter() - start)
        return statistics.median(times)

    base = median_seconds("pass")
    print("import cost over a bare interpreter start (median of %d), on the double:" % runs)
    for module in ("addrnorm", "addrnorm._wordclass", "addrnorm._expand", "addrnorm._kinhash", "addrnorm._duplicate"):
        print("  %-22s %7.2f ms" % (module, (median_seconds("import " + module) - base) * 1000))


def main(argv):
    if "--real" in argv:
        import real

        return real.main([arg for arg in argv if arg != "--real"])
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--real", action="store_true", help="on the real libpostal with its data (bench/real.py)")
    parser.add_argument("--quick", action="store_true", help="a run of seconds")
    parser.add_argument("--repeats", type=int)
    parser.add_argument("--memory-calls", type=int)
    options = parser.parse_args(argv)
    repeats = options.repeats or (3 if options.quick else 15)
    memory_calls = options.memory_calls or (20000 if options.quick else 1000000)

    import addrnorm
    from addrnorm import _expand, _kinhash

    sys.path.insert(0, os.path.join(HERE, os.pardir, "tests"))
    from libpostal_double import Double

    build = os.path.dirname(os.path.dirname(os.path.abspath(_expand.__file__)))
    double = Double(os.path.join(build, "double", "libpostal.so.1"))
    # A realistic answer: several expansions about as long as an address.
    double.set_result([b"781 franklin avenue crown heights brooklyn ny",
                       b"781 franklin avenue crown heights brooklyn new york",
                       b"781 franklin av crown heights brooklyn ny",
                       b"781 franklin avenue crown hts brooklyn ny"])
    floor = Floor(os.path.join(build, "bench", "libbench_floor.so"))
    binding = CtypesBinding(os.path.join(build, "double", "libpostal.so.1"))
    assert binding.expand_address(ADDRESSES[0], languages=["en"]) == _expand.expand_address(
        ADDRESSES[0], languages=["en"])
    assert binding.near_dupe_hashes(["city"], ["x"]) == _kinhash.near_dupe_hashes(["city"], ["x"])

    print("addrnorm %s, CPython %s, on the libpostal test double; %d addresses, %d records of 2-8 fields, "
          "%d repeats" % (addrnorm.__version__, sys.version.split()[0], len(ADDRESSES), len(RECORDS), repeats))
    print("package = addrnorm.expand_address / near_dupe_hashes as users call them; addrnorm = the extension "
          "functions; a = addrnorm, b = C++ floor, c = ctypes")
    table, samples = measure(repeats, floor, binding)
    report(table, samples)
    memory(memory_calls)
    import_costs(3 if options.quick else 11)
    found = shutil.which("pkg-config") and subprocess.run(["pkg-config", "--exists", "libpostal"]).returncode == 0
    print("real libpostal: %s" % ("found by pkg-config; this run measured the double" if found
                                  else "not found on this machine; these figures are the double's"))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
