"""Every path, success and each failure, leaves the C heap where it was and
hands every expansion array back to the library."""
import pytest

from addrnorm._expand import expand_address
from addrnorm._kinhash import near_dupe_hashes
from awkward import ChangingLength, LyingLength
from heap import LEAK_LIMIT, OWN_ALLOCATOR, calling, heap_growth


LONG = "Avenue des Champs-Élysées " * 40
RESULT = [b"main street", b"main st", "straße".encode(), b""]

PATHS = [
    ("expand: address alone", RESULT, calling(expand_address, "Main St")),
    ("expand: codes and options", RESULT,
     calling(expand_address, LONG, languages=["en", "fr", "de"], lowercase=0, address_components=-1)),
    ("expand: root", RESULT, calling(expand_address, "Main St", languages=("en",), root=1)),
    ("expand: empty result", [], calling(expand_address, "Main St", languages=["en"])),
    ("expand: null result", None, calling(expand_address, "Main St", languages=["en"])),
    ("expand: undecodable result", [b"ok", b"\xff"], calling(expand_address, "Main St", languages=["en"])),
    ("expand: parse error", RESULT, calling(expand_address, "x", lowercase=1.5)),
    ("expand: address refused", RESULT, calling(expand_address, b"bytes")),
    ("expand: address not encodable", RESULT, calling(expand_address, "\ud800")),
    ("expand: third code too long", RESULT, calling(expand_address, LONG, languages=["en", "fr", "engl"])),
    ("expand: third code not a str", RESULT, calling(expand_address, LONG, languages=["en", "fr", b"de"])),
    ("expand: lying codes", RESULT, calling(expand_address, LONG, languages=LyingLength(["en", "fr"], 3))),
    ("hash: record", RESULT, calling(near_dupe_hashes, ["house", "road", "city"], ["Acme", "Main St", "Town"])),
    ("hash: record with codes", RESULT,
     calling(near_dupe_hashes, ("house", "city"), ["Acme", LONG], languages=["en", "de"], with_latlon=1,
             latitude=52.5, longitude=13.4, geohash_precision=-1)),
    ("hash: empty result", [], calling(near_dupe_hashes, ["city"], ["Town"])),
    ("hash: null result", None, calling(near_dupe_hashes, ["city"], ["Town"], languages=["en"])),
    ("hash: undecodable result", [b"a|b", b"\xc3"], calling(near_dupe_hashes, ["city"], ["Town"])),
    ("hash: empty record", RESULT, calling(near_dupe_hashes, [], [], languages=["en"])),
    ("hash: parse error", RESULT, calling(near_dupe_hashes, ["city"], ["x"], with_name=1.0)),
    ("hash: not sequences", RESULT, calling(near_dupe_hashes, {"city"}, ["x"])),
    ("hash: lengths differ", RESULT, calling(near_dupe_hashes, ["city", "road"], ["x"])),
    ("hash: labels grow", RESULT,
     calling(lambda: near_dupe_hashes(ChangingLength(["city", "road", LONG], [2, 3]), ["x", "y"]))),
    ("hash: bad code", RESULT, calling(near_dupe_hashes, ["city"], ["x"], languages=["en", "toolong"])),
    ("hash: bad label", RESULT, calling(near_dupe_hashes, ["city", "road", 5], ["x", "y", "z"], languages=["en"])),
    ("hash: bad value", RESULT, calling(near_dupe_hashes, ["city", "road"], [LONG, b"y"], languages=["en"])),
    ("hash: lying values", RESULT, calling(near_dupe_hashes, ["city", "road"], LyingLength([LONG], 2))),
]


@pytest.mark.parametrize("result, call", [path[1:] for path in PATHS], ids=[path[0] for path in PATHS])
def test_a_loop_leaves_the_heap_flat(double, result, call):
    double.set_result(result)
    growth = heap_growth(call)
    assert growth is None or growth < LEAK_LIMIT
    counters = double.counters()
    assert (counters["live_arrays"], counters["destroy_faults"], counters["calls_while_down"]) == (0, 0, 0)


@pytest.mark.skipif(OWN_ALLOCATOR, reason="glibc's heap counters are not kept")
def test_the_leak_check_sees_a_leak(double):
    # The check itself: a loop that keeps one small C allocation per call.
    import ctypes
    libc = ctypes.CDLL(None)
    libc.malloc.restype = ctypes.c_void_p
    kept = []
    assert heap_growth(lambda: kept.append(libc.malloc(24)), repeat=20000) >= LEAK_LIMIT
    libc.free.argtypes = [ctypes.c_void_p]
    for pointer in kept:
        libc.free(pointer)
