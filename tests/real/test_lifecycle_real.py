"""The real libpostal's lifetime: set up, torn down and set up again as the
modules come and go, torn down once at exit, shared by forked workers."""
import pytest

import support

CYCLES = 20
MIB = 1024

CYCLE_CODE = r"""
import gc, importlib, json, sys
sys.path.insert(0, %(tests)r)
from module_hooks import clear
from heap import heap_in_use
from support import rss_kib
import addrnorm
CALLS = {
    "_expand": lambda m: m.expand_address("781 Franklin Ave Crown Hts Brooklyn NY", languages=["en"]),
    "_kinhash": lambda m: m.near_dupe_hashes(["house", "road", "house_number", "postcode"],
                                             ["Whole Foods", "Franklin Ave", "781", "11216"]),
}
order = %(order)r
cycles = []
for cycle in range(%(cycles)d):
    modules = [importlib.import_module("addrnorm." + name) for name in order]
    results = [CALLS[name](module) for name, module in zip(order, modules)]
    up, heap_up = rss_kib(), heap_in_use()
    for name in order:
        del sys.modules["addrnorm." + name]
        delattr(addrnorm, name)
    clear(modules[0])
    # The other instance still holds the library: its calls must still work.
    still = CALLS[order[1]](modules[1])
    clear(modules[1])
    del modules
    gc.collect()
    cycles.append({"up": up, "down": rss_kib(), "heap_up": heap_up, "heap_down": heap_in_use(),
                   "results": results, "still": still})
print(json.dumps(cycles))
"""


@pytest.mark.parametrize("order", [("_expand", "_kinhash"), ("_kinhash", "_expand")], ids=["expand-first",
                                                                                            "kinhash-first"])
def test_import_clear_and_reimport_cycles_keep_memory_flat(order, report):
    child = support.run_python(CYCLE_CODE % {"tests": support.TESTS, "order": list(order), "cycles": CYCLES},
                               timeout=600)
    cycles = support.last_json(child, "%d import/clear cycles, %s first" % (CYCLES, order[0]))
    first = cycles[0]
    assert first["results"][0] and first["results"][1] and first["still"] == first["results"][1]
    for number, cycle in enumerate(cycles):
        assert cycle["results"] == first["results"] and cycle["still"] == first["still"], number
        # libpostal's tables (over 100 MB of C heap) are released when the
        # last instance goes; glibc keeps some of the freed heap resident.
        assert cycle["heap_up"] - cycle["heap_down"] > 100 * MIB * 1024, (number, cycle)
    up, down = [cycle["up"] for cycle in cycles], [cycle["down"] for cycle in cycles]
    heap = [cycle["heap_down"] for cycle in cycles]
    report("lifecycle %s first, cycles 1/5/10/20: RSS with libpostal up %s MiB, torn down %s MiB; "
           "C heap in use torn down %s KiB" % (
               order[0], "/".join("%.1f" % (up[i] / MIB) for i in (0, 4, 9, 19)),
               "/".join("%.1f" % (down[i] / MIB) for i in (0, 4, 9, 19)),
               "/".join("%d" % (heap[i] // 1024) for i in (0, 4, 9, 19))))
    # After warming up, fifteen more set-ups and teardowns leave RSS and the
    # heap where they were: a table leaked per cycle would show as megabytes.
    assert abs(up[19] - up[4]) < 8 * MIB and abs(down[19] - down[4]) < 8 * MIB, (up, down)
    assert abs(heap[19] - heap[4]) < MIB * 1024, heap


def test_exit_with_both_modules_live_tears_down_once_after_atexit():
    child = support.run_python(r"""
        import atexit, json
        import addrnorm
        import addrnorm._expand as e, addrnorm._kinhash as k
        def at_exit():
            print(json.dumps([
                "30 west 26th street" in e.expand_address("30 W 26th St", languages=["en"]),
                "act|west 26th street|30|new york" in k.near_dupe_hashes(
                    ["road", "house_number", "city"], ["W 26th St", "30", "New York"], address_only_keys=1)]))
        atexit.register(at_exit)
        addrnorm.expand_address("warm up")
    """, timeout=300)
    assert child.returncode == 0, child.stderr
    assert child.stdout.strip() == "[true, true]", child.stdout
    assert child.stderr == ""


WORKLOAD = [
    "781 Franklin Ave Crown Hts Brooklyn NY", "Quatre vingt douze Ave des Champs-Élysées", "Marktstrasse 5",
    "улица 40 лет Победы", "東京都千代田区丸の内1-9-1", "C/ Ocho 3, Madrid", "V XX Sett 12 Roma",
]

FORK_CODE = r"""
import json, os, sys
from support import memory_kib
before = memory_kib()
import addrnorm
WORKLOAD = %(workload)r
def work():
    return [[addrnorm.expand_address(text), addrnorm.near_dupe_hashes(
        ["house", "road", "house_number", "city"], [text, text, "12", text], address_only_keys=1)]
        for text in WORKLOAD]
expected = work()
parent = memory_kib()
workers = []
for _ in range(%(workers)d):
    read, write = os.pipe()
    pid = os.fork()
    if pid == 0:
        os.close(read)
        for _ in range(50):
            same = work() == expected
        os.write(write, json.dumps([same, memory_kib()]).encode())
        os._exit(0)
    os.close(write)
    workers.append((pid, read))
reports = []
for pid, read in workers:
    with os.fdopen(read) as pipe:
        reports.append(json.loads(pipe.read()))
    _, status = os.waitpid(pid, 0)
    reports[-1].append(status)
print(json.dumps({"before": before, "parent": parent, "workers": reports}))
"""


def test_forked_workers_share_the_loaded_data(report):
    child = support.run_python(FORK_CODE % {"workload": WORKLOAD, "workers": 2}, timeout=300)
    figures = support.last_json(child, "forked workers")
    fresh = figures["parent"]["private"] - figures["before"]["private"]
    lines = ["fork after set-up: a fresh set-up costs %.1f MiB private (parent RSS %.1f MiB)" % (
        fresh / MIB, figures["parent"]["rss"] / MIB)]
    for number, (same, memory, status) in enumerate(figures["workers"], 1):
        lines.append("  worker %d: private %.1f MiB, shared %.1f MiB, RSS %.1f MiB after %d calls" % (
            number, memory["private"] / MIB, memory["shared"] / MIB, memory["rss"] / MIB, 50 * 2 * len(WORKLOAD)))
        assert status == 0 and same, (number, status, same)
    report("\n".join(lines))
    assert fresh > 60 * MIB, figures
    for _, memory, _ in figures["workers"]:
        # Generous, so that noise cannot fail it: the aim is 10 MiB or less.
        assert memory["private"] < 50 * MIB and memory["private"] * 4 < fresh, figures
