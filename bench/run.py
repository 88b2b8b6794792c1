"""What the binding costs per call: addrnorm against the same libpostal calls
made from C++ (the floor) and through a ctypes binding, interleaved in one run.

    python bench/run.py            # the full run: 15 repeats, 10^6 calls for memory
    python bench/run.py --quick    # seconds: what CI runs so that it cannot rot

Needs a test build on PYTHONPATH (the modules, the test double and the floor
library); nox -s bench sets that up.
"""
import argparse
import ctypes
import gc
import os
import resource
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
from ctypes import POINTER, byref, c_bool, c_char_p, c_double, c_int, c_size_t, c_uint16, c_uint32, c_void_p

import addrnorm
from addrnorm import _expand, _kinhash

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, os.pardir, "tests"))
from heap import heap_in_use  # noqa: E402
from libpostal_double import Double  # noqa: E402
from workload import ADDRESSES, RECORDS  # noqa: E402

# ctypes binding: what a user would write without a compiled binding.

NORMALIZE_FLAGS = (
    "latin_ascii", "transliterate", "strip_accents", "decompose", "lowercase", "trim_string",
    "drop_parentheticals", "replace_numeric_hyphens", "delete_numeric_hyphens", "split_alpha_from_numeric",
    "replace_word_hyphens", "delete_word_hyphens", "delete_final_periods", "delete_acronym_periods",
    "drop_english_possessives", "delete_apostrophes", "expand_numex", "roman_numerals",
)


class Options(ctypes.Structure):
    _fields_ = [("languages", POINTER(c_char_p)), ("num_languages", c_size_t),
                ("address_components", c_uint16)] + [(name, c_bool) for name in NORMALIZE_FLAGS]


class HashOptions(ctypes.Structure):
    _fields_ = [(name, c_bool) for name in (
        "with_name", "with_address", "with_unit", "with_city_or_equivalent", "with_small_containing_boundaries",
        "with_postal_code", "with_latlon")] + [("latitude", c_double), ("longitude", c_double),
                                               ("geohash_precision", c_uint32)] + [
        (name, c_bool) for name in ("name_and_address_keys", "name_only_keys", "address_only_keys")]


class CtypesBinding:
    def __init__(self, path):
        lib = self.lib = ctypes.CDLL(path)
        lib.libpostal_get_default_options.restype = Options
        for name in ("libpostal_expand_address", "libpostal_expand_address_root"):
            getattr(lib, name).restype = POINTER(c_char_p)
            getattr(lib, name).argtypes = [c_char_p, Options, POINTER(c_size_t)]
        lib.libpostal_expansion_array_destroy.argtypes = [POINTER(c_char_p), c_size_t]
        lib.libpostal_get_near_dupe_hash_default_options.restype = HashOptions
        lib.libpostal_near_dupe_hashes.restype = POINTER(c_void_p)
        lib.libpostal_near_dupe_hashes.argtypes = [c_size_t, POINTER(c_char_p), POINTER(c_char_p), HashOptions,
                                                   POINTER(c_size_t)]
        lib.libpostal_near_dupe_hashes_languages.restype = POINTER(c_void_p)
        lib.libpostal_near_dupe_hashes_languages.argtypes = [
            c_size_t, POINTER(c_char_p), POINTER(c_char_p), HashOptions, c_size_t, POINTER(c_char_p),
            POINTER(c_size_t)]
        self.free = ctypes.CDLL(None).free
        self.free.argtypes = [c_void_p]

    @staticmethod
    def _strings(strings):
        return (c_char_p * len(strings))(*[text.encode("utf-8") for text in strings])

    def expand_address(self, address, languages=None, **flags):
        options = self.lib.libpostal_get_default_options()
        for name, value in flags.items():
            setattr(options, name, value)
        if languages:
            codes = self._strings(languages)
            options.languages = ctypes.cast(codes, POINTER(c_char_p))
            options.num_languages = len(languages)
        n = c_size_t(0)
        result = self.lib.libpostal_expand_address(address.encode("utf-8"), options, byref(n))
        if not result:
            return None
        try:
            return [result[i].decode("utf-8") for i in range(n.value)]
        finally:
            self.lib.libpostal_expansion_array_destroy(result, n)

    def near_dupe_hashes(self, labels, values, languages=None, **fields):
        options = self.lib.libpostal_get_near_dupe_hash_default_options()
        for name, value in fields.items():
            setattr(options, name, value)
        n = c_size_t(0)
        label_array, value_array = self._strings(labels), self._strings(values)
        if languages:
            result = self.lib.libpostal_near_dupe_hashes_languages(
                len(labels), label_array, value_array, options, len(languages), self._strings(languages), byref(n))
        else:
            result = self.lib.libpostal_near_dupe_hashes(len(labels), label_array, value_array, options, byref(n))
        if not result:
            return None
        keys = []
        for i in range(n.value):
            keys.append(ctypes.string_at(result[i]).decode("utf-8"))
            self.free(result[i])
        self.free(result)
        return keys


# The floor: the same calls from a C++ loop.

class Floor:
    def __init__(self, path):
        lib = self.lib = ctypes.CDLL(path)
        lib.floor_expand.restype = c_double
        lib.floor_expand.argtypes = [POINTER(c_char_p), c_size_t, POINTER(c_char_p), c_size_t, c_int, c_int, c_int]
        lib.floor_hash.restype = c_double
        lib.floor_hash.argtypes = [POINTER(c_char_p), POINTER(c_char_p), POINTER(c_size_t), c_size_t,
                                   POINTER(c_char_p), c_size_t, c_int, c_double]
        self.addresses = CtypesBinding._strings(ADDRESSES)
        self.labels = CtypesBinding._strings([label for record in RECORDS for label, _ in record])
        self.values = CtypesBinding._strings([value for record in RECORDS for _, value in record])
        self.fields = (c_size_t * len(RECORDS))(*[len(record) for record in RECORDS])

    def expand(self, languages, lowercase=-1, split_alpha_from_numeric=-1, address_components=-1):
        codes = CtypesBinding._strings(languages or [""])
        return self.lib.floor_expand(self.addresses, len(ADDRESSES), codes, len(languages or ()), lowercase,
                                     split_alpha_from_numeric, address_components)

    def hash(self, languages, address_only_keys=-1, latitude=float("nan")):
        codes = CtypesBinding._strings(languages or [""])
        return self.lib.floor_hash(self.labels, self.values, self.fields, len(RECORDS), codes,
                                   len(languages or ()), address_only_keys, latitude)


def per_call_ns(call, items):
    start = time.perf_counter_ns()
    for item in items:
        call(item)
    return (time.perf_counter_ns() - start) / len(items)


def scenarios(floor, binding):
    """(name, {implementation: one pass over the workload -> ns per call})."""
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
    samples = {(name, impl): [] for name, impls in table for impl in impls}
    for _ in range(repeats):
        # Interleaved: every implementation of every scenario once per round,
        # so that drift of the machine falls on all of them alike.
        for name, impls in table:
            for impl, run in impls.items():
                samples[(name, impl)].append(run())
    return table, samples


def spread(values):
    ordered = sorted(values)
    return ordered[len(ordered) // 4], ordered[(3 * len(ordered)) // 4]


def report(table, samples):
    print("%-42s %12s %12s %12s %12s %10s %7s %7s" % (
        "ns per call (median, IQR)", "addrnorm", "package", "C++ floor", "ctypes", "a - b", "a/b", "c/a"))
    for name, _ in table:
        medians = {impl: statistics.median(samples[(name, impl)]) for impl in ("addrnorm", "package", "floor",
                                                                              "ctypes")}
        cells = []
        for impl in ("addrnorm", "package", "floor", "ctypes"):
            low, high = spread(samples[(name, impl)])
            cells.append("%6.0f±%-5.0f" % (medians[impl], (high - low) / 2))
        a, b, c = medians["addrnorm"], medians["floor"], medians["ctypes"]
        print("%-42s %s %10.0f %7.2f %7.1f" % (name, " ".join(cells), a - b, a / b, c / a))


def memory(calls):
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
    for module in ("addrnorm", "addrnorm._wordclass", "addrnorm._expand", "addrnorm._kinhash"):
        print("  %-22s %7.2f ms" % (module, (median_seconds("import " + module) - base) * 1000))


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--quick", action="store_true", help="a run of seconds")
    parser.add_argument("--repeats", type=int)
    parser.add_argument("--memory-calls", type=int)
    options = parser.parse_args(argv)
    repeats = options.repeats or (3 if options.quick else 15)
    memory_calls = options.memory_calls or (20000 if options.quick else 1000000)

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
