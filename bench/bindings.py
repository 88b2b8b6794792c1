"""What both benchmarks compare addrnorm with, and how they time and print it:
a ctypes binding written the way a user would, the C++ floor (the same
libpostal calls from a C++ loop, bench/floor.cpp), interleaved timing and the
table."""
import ctypes
import statistics
import time
from ctypes import POINTER, byref, c_bool, c_char_p, c_double, c_int, c_size_t, c_uint16, c_uint32, c_void_p

from addrnorm.options import EXPAND_FLAGS, HASH_KEYWORDS
from workload import ADDRESSES, RECORDS

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


# The record fields the binding's keywords may set: the modules' own keywords
# (but root, which this binding does not offer).  Setting any other name on a
# ctypes record would only add a Python attribute, and the benchmark would
# time a call without the option it means to.
EXPAND_FIELDS = frozenset(("address_components",) + EXPAND_FLAGS)
HASH_FIELDS = frozenset(HASH_KEYWORDS) - {"languages"}


def check_fields(given, known):
    unknown = sorted(set(given) - known)
    if unknown:
        raise TypeError("unknown option: %s" % ", ".join(unknown))


def strings(texts):
    return (c_char_p * len(texts))(*[text.encode("utf-8") for text in texts])


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

    _strings = staticmethod(strings)

    def expand_address(self, address, languages=None, **flags):
        check_fields(flags, EXPAND_FIELDS)
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
        check_fields(fields, HASH_FIELDS)
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


# The floor: the same calls from a C++ loop, one ctypes crossing per pass.

class Floor:
    def __init__(self, path, addresses=ADDRESSES, records=RECORDS):
        lib = self.lib = ctypes.CDLL(path)
        lib.floor_expand.restype = c_double
        lib.floor_expand.argtypes = [POINTER(c_char_p), c_size_t, POINTER(c_char_p), c_size_t, c_int, c_int, c_int]
        lib.floor_expand_each.restype = c_double
        lib.floor_expand_each.argtypes = [POINTER(c_char_p), c_size_t, POINTER(c_char_p), POINTER(c_size_t)]
        lib.floor_hash.restype = c_double
        lib.floor_hash.argtypes = [POINTER(c_char_p), POINTER(c_char_p), POINTER(c_size_t), c_size_t,
                                   POINTER(c_char_p), c_size_t, c_int, c_double]
        lib.floor_capture.argtypes = [c_void_p, c_size_t]
        lib.floor_captured.restype = c_size_t
        lib.floor_callgrind_built.restype = c_int
        lib.floor_callgrind.argtypes = [c_int, c_int, c_char_p]
        self.count, self.records = len(addresses), len(records)
        self.addresses = strings(addresses)
        self.labels = strings([label for record in records for label, _ in record])
        self.values = strings([value for record in records for _, value in record])
        self.fields = (c_size_t * len(records))(*[len(record) for record in records])

    def expand(self, languages, lowercase=-1, split_alpha_from_numeric=-1, address_components=-1):
        codes = strings(languages or [""])
        return self.lib.floor_expand(self.addresses, self.count, codes, len(languages or ()), lowercase,
                                     split_alpha_from_numeric, address_components)

    def own_languages(self, languages):
        """Arguments for expand_each: the codes of each address in turn."""
        return strings([code for codes in languages for code in codes]), (c_size_t * len(languages))(
            *[len(codes) for codes in languages])

    def expand_each(self, own_languages):
        return self.lib.floor_expand_each(self.addresses, self.count, *own_languages)

    def hash(self, languages, address_only_keys=-1, latitude=float("nan")):
        codes = strings(languages or [""])
        return self.lib.floor_hash(self.labels, self.values, self.fields, self.records, codes,
                                   len(languages or ()), address_only_keys, latitude)

    def results(self, run):
        """What the calls of run() returned, as lists of str (None where
        libpostal gave no result), in call order."""
        capacity = 1 << 20
        while True:
            buffer = ctypes.create_string_buffer(capacity)
            self.lib.floor_capture(buffer, capacity)
            try:
                run()
                size = self.lib.floor_captured()
            finally:
                self.lib.floor_capture(None, 0)
            if size <= capacity:
                break
            capacity = size
        fields, calls, at = buffer.raw[:size].split(b"\0")[:-1], [], 0
        while at < len(fields):
            if fields[at] == b"-":
                calls.append(None)
                at += 1
            else:
                n = int(fields[at])
                calls.append([field.decode("utf-8") for field in fields[at + 1:at + 1 + n]])
                at += 1 + n
        return calls

    def callgrind(self, instrument=-1, zero=False, dump=None):
        """Under callgrind: instrument 1/0 turns its instrumentation on/off
        (-1 leaves it), zero zeroes the counts, dump names a dump of the
        counts since the last dump or zeroing."""
        self.lib.floor_callgrind(instrument, int(zero), dump.encode() if dump else None)


# Timing and the table.

def per_call_ns(call, items):
    start = time.perf_counter_ns()
    for item in items:
        call(item)
    return (time.perf_counter_ns() - start) / len(items)


def interleave(table, repeats):
    """samples[(scenario, implementation)]: ns per call of each pass."""
    samples = {(name, impl): [] for name, impls in table for impl in impls}
    for _ in range(repeats):
        # Interleaved: every implementation of every scenario once per round,
        # so that drift of the machine falls on all of them alike.
        for name, impls in table:
            for impl, run in impls.items():
                samples[(name, impl)].append(run())
    return samples


def spread(values):
    ordered = sorted(values)
    return ordered[len(ordered) // 4], ordered[(3 * len(ordered)) // 4]


HEADINGS = {"addrnorm": "addrnorm", "package": "package", "floor": "C++ floor", "ctypes": "ctypes"}


def report(table, samples, columns=("addrnorm", "package", "floor", "ctypes"), unit="ns"):
    """One row per scenario: median±half the IQR of each column, then
    a - b, a/b and c/a (a = addrnorm, b = floor, c = ctypes)."""
    scale, cell, gap = (1, "%6.0f±%-5.0f", "%10.0f") if unit == "ns" else (1000, "%7.1f±%-4.1f", "%10.2f")
    print("%-42s " % ("%s per call (median, IQR)" % unit) + " ".join("%12s" % HEADINGS[c] for c in columns) +
          " %10s %7s %7s" % ("a - b", "a/b", "c/a"))
    for name, _ in table:
        medians = {impl: statistics.median(samples[(name, impl)]) / scale for impl in columns}
        cells = []
        for impl in columns:
            low, high = spread(samples[(name, impl)])
            cells.append(cell % (medians[impl], (high - low) / 2 / scale))
        a, b, c = medians["addrnorm"], medians["floor"], medians["ctypes"]
        print(("%-42s %s " + gap + " %7.2f %7.1f") % (name, " ".join(cells), a - b, a / b, c / a))
