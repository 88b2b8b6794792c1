"""What the binding adds to the text functions (tokenize, normalize_string,
normalized_tokens, classify_language, near_dupe_name_hashes,
place_languages), on the real libpostal: instructions per call under
callgrind, of each extension function against a C++ loop making the same
libpostal calls (bench/text_floor.cpp), over the benchmark's multilingual
addresses.  Per call: (Ir(2N passes) - Ir(N)) / (N x addresses), so that
what a count costs once cancels out.

    cd BUILD && LIBPOSTAL_DATA_DIR=DATA PYTHONPATH=BUILD python bench/text.py [--quick]
"""
import argparse
import ctypes
import gc
import os
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
from callgrind import read_dumps  # noqa: E402
from workload import ADDRESSES  # noqa: E402

# In the order of text_floor.cpp's switch.
FUNCTIONS = ("tokenize", "normalize_string", "normalized_tokens", "classify_language", "near_dupe_name_hashes",
             "place_languages")
# The goal for the cheap calls, where the binding's own work shows.
GOALS = {"tokenize": 0.99, "normalize_string": 0.99}


def calls():
    """{name: one call of the extension function on a text}."""
    from addrnorm import _kinhash, _text

    return {
        "tokenize": _text.tokenize, "normalize_string": _text.normalize_string,
        "normalized_tokens": _text.normalized_tokens, "classify_language": _text.classify_language,
        "near_dupe_name_hashes": _kinhash.near_dupe_name_hashes,
        "place_languages": lambda text, labels=["road"]: _kinhash.place_languages(labels, [text]),
    }


def floor_library():
    from addrnorm import _text

    build = os.path.dirname(os.path.dirname(os.path.abspath(_text.__file__)))
    path = os.path.join(build, "bench", "libbench_text_floor.so")
    if not os.path.exists(path):
        sys.exit("bench/text.py: no floor at %s: build the benchmark with the modules" % path)
    lib = ctypes.CDLL(path)
    lib.text_floor_pass.restype = ctypes.c_size_t
    lib.text_floor_pass.argtypes = [ctypes.c_int, ctypes.POINTER(ctypes.c_char_p), ctypes.c_size_t]
    lib.text_floor_callgrind_built.restype = ctypes.c_int
    lib.text_floor_callgrind.argtypes = [ctypes.c_int, ctypes.c_int, ctypes.c_char_p]
    return lib


def child(step, count):
    texts = ADDRESSES[::step]
    functions = calls()
    lib = floor_library()
    encoded = (ctypes.c_char_p * len(texts))(*[text.encode("utf-8") for text in texts])

    def ours(function):
        def one_pass():
            for text in texts:
                function(text)
        return one_pass

    def floors(which):
        return lambda: lib.text_floor_pass(which, encoded, len(texts))

    runs = []
    for which, name in enumerate(FUNCTIONS):
        runs += [(name, "addrnorm", ours(functions[name])), (name, "floor", floors(which))]
    for _, _, run in runs:
        run()
    gc.collect()
    gc.disable()
    lib.text_floor_callgrind(1, 0, None)
    for name, impl, run in runs:
        for passes in (count, 2 * count):
            lib.text_floor_callgrind(-1, 1, None)
            for _ in range(passes):
                run()
            lib.text_floor_callgrind(-1, 0, ("%s|%s|%d" % (name, impl, passes)).encode())
    lib.text_floor_callgrind(0, 0, None)
    return 0


def measure(quick):
    if not shutil.which("valgrind"):
        sys.exit("bench/text.py: valgrind is not installed: the instruction counts need callgrind")
    if not floor_library().text_floor_callgrind_built():
        sys.exit("bench/text.py: the floor was built without valgrind's headers (valgrind/callgrind.h)")
    step, count = (2, 1) if quick else (1, 2)
    texts = len(ADDRESSES[::step])
    folder = tempfile.mkdtemp(prefix="addrnorm-text-callgrind-")
    prefix = os.path.join(folder, "callgrind.out")
    command = ["valgrind", "--tool=callgrind", "--instr-atstart=no", "--callgrind-out-file=" + prefix,
               sys.executable, os.path.abspath(__file__), "--child", "--step", str(step), "--passes", str(count)]
    started = time.perf_counter()
    process = subprocess.run(command, env=dict(os.environ, PYTHONHASHSEED="0"), stdout=subprocess.PIPE,
                             stderr=subprocess.STDOUT, universal_newlines=True)
    try:
        if process.returncode != 0:
            sys.exit("bench/text.py: the count under callgrind failed (exit %d):\n%s" % (
                process.returncode, "\n".join(process.stdout.splitlines()[-30:])))
        counts = read_dumps(prefix)
    finally:
        shutil.rmtree(folder, ignore_errors=True)
    print("text functions, instructions per call (Ir) under callgrind over %d addresses, %d and %d passes, "
          "in %.0f s; a = the extension function, b = the C++ floor" % (
              texts, count, 2 * count, time.perf_counter() - started))
    print("%-24s %12s %12s %10s %9s %6s" % ("Ir per call", "addrnorm", "C++ floor", "a - b", "C share", "goal"))
    missed = []
    for name in FUNCTIONS:
        per_call = {}
        for impl in ("addrnorm", "floor"):
            once, twice = ("%s|%s|%d" % (name, impl, n) for n in (count, 2 * count))
            if once not in counts or twice not in counts:
                sys.exit("bench/text.py: callgrind wrote no count for %s, %s" % (name, impl))
            per_call[impl] = (counts[twice] - counts[once]) / (count * texts)
        a, b = per_call["addrnorm"], per_call["floor"]
        goal = GOALS.get(name)
        print("%-24s %12.0f %12.0f %10.0f %9.4f %6s" % (name, a, b, a - b, b / a, goal or ""))
        if goal and b / a < goal:
            missed.append(name)
    if missed:
        print("  below the goal: %s (reported, not failed: the share depends on libpostal's own cost)" % (
            ", ".join(missed)))
    return 0


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--quick", action="store_true", help="every other address, one pass (CI)")
    parser.add_argument("--child", action="store_true", help="the counting process, run under callgrind")
    parser.add_argument("--step", type=int, default=1)
    parser.add_argument("--passes", type=int, default=1)
    options = parser.parse_args(argv)
    if not os.environ.get("LIBPOSTAL_DATA_DIR"):
        sys.exit("bench/text.py: LIBPOSTAL_DATA_DIR must name libpostal's data directory")
    if options.child:
        return child(options.step, options.passes)
    return measure(options.quick)


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
