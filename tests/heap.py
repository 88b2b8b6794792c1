"""The C heap in use, as glibc counts it, to show that loops leave it flat."""
import ctypes
import gc
import os


class _Mallinfo2(ctypes.Structure):
    _fields_ = [(name, ctypes.c_size_t) for name in (
        "arena", "ordblks", "smblks", "hblks", "hblkhd", "usmblks", "fsmblks", "uordblks", "fordblks", "keepcost")]


_libc = ctypes.CDLL(None)
_libc.mallinfo2.restype = _Mallinfo2


def heap_in_use():
    info = _libc.mallinfo2()
    return info.uordblks + info.hblkhd


# Under valgrind, its leak check is the judge and glibc's counters are not
# kept: the loops still run every path, a few hundred times.
UNDER_VALGRIND = os.environ.get("ADDRNORM_MEMCHECK") == "1"
# AddressSanitizer brings its own allocator, which glibc does not count, and
# its own calloc and strdup, ahead of any preloaded ones.
UNDER_ASAN = "address" in os.environ.get("ADDRNORM_SANITIZE", "")
OWN_ALLOCATOR = UNDER_VALGRIND or UNDER_ASAN


def heap_growth(call, repeat=20000, warmup=500):
    """Bytes of C heap still in use after repeat calls, beyond a warmed-up start
    (None under valgrind or AddressSanitizer, whose allocators glibc does not count)."""
    if OWN_ALLOCATOR:
        for _ in range(200):
            call()
        return None
    for _ in range(warmup):
        call()
    gc.collect()
    before = heap_in_use()
    for _ in range(repeat):
        call()
    gc.collect()
    return heap_in_use() - before


# A leak of the smallest heap chunk (32 bytes) on every call of a loop of
# 20000 shows as 640 KB; the interpreter's own churn stays far below this.
LEAK_LIMIT = 64 * 1024


def calling(function, *args, **kwargs):
    """A call of function that swallows what it raises: the loops measure
    the heap on the error paths too."""
    def call():
        try:
            function(*args, **kwargs)
        except Exception:
            pass
    return call


# Runs in a fresh interpreter with the allocation-failure shim preloaded:
# IMPORTS, then CALL 2,200 times with the shim armed by ARM (a call on
# `failalloc`) before each; prints what the calls raised, the heap's growth
# over the last 2,000, and the double's library calls and live results.
_EXHAUSTED_HEAP = """
import ctypes, os
from heap import heap_in_use
IMPORTS
failalloc = ctypes.CDLL(os.environ['ADDRNORM_FAILALLOC'])
failalloc.failalloc_arm_strdup.argtypes = [ctypes.c_char_p]
failalloc.failalloc_arm_calloc.argtypes = [ctypes.c_size_t]
def attempt():
    failalloc.ARM
    try:
        CALL
    except MemoryError as error:
        return type(error).__name__
    except Exception as error:
        return '%s: %s' % (type(error).__name__, error)
    return 'no error'
outcomes = set(attempt() for _ in range(200))
gc.collect()
before = heap_in_use()
outcomes |= set(attempt() for _ in range(2000))
gc.collect()
counters = double.counters()
print(json.dumps([sorted(outcomes), heap_in_use() - before, counters['calls'], counters['live_arrays']]))
"""


def exhausted_heap(python, imports, arm, call):
    """(what the calls raised, heap growth, library calls, live results) of
    call made with the heap exhausted as arm says (see _EXHAUSTED_HEAP)."""
    code = _EXHAUSTED_HEAP.replace("IMPORTS", imports).replace("ARM", arm).replace("CALL", call)
    return python(code, preload=os.environ["ADDRNORM_FAILALLOC"])
