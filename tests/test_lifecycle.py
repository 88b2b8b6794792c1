"""Import, clear and re-import, each in a fresh interpreter."""
import pytest

LIBRARY_MODULES = ["_expand", "_kinhash", "_duplicate", "_parser"]


# _text shares the others' set-up code: one case of it (each case is a
# child interpreter, seconds under memcheck).
@pytest.mark.parametrize("name, setup, classifier, teardowns",
                         [(name, False, True, 0) for name in LIBRARY_MODULES]
                         + [(name, True, False, 1) for name in LIBRARY_MODULES + ["_text"]],
                         ids=["setup-fails-" + name for name in LIBRARY_MODULES]
                         + ["classifier-fails-" + name for name in LIBRARY_MODULES + ["_text"]])
def test_a_failed_set_up_fails_the_import_and_leaves_nothing_held(python, name, setup, classifier, teardowns):
    result = python(program="failed_set_up.py", args=[int(setup), int(classifier), name])
    message, after_import, after_collect, up, kept = result
    assert message == "Error loading libpostal"
    assert after_import["setup"] == 1
    assert after_import["classifier_setup"] == (1 if setup else 0)
    # A library that came up without its classifier is taken down at once;
    # the failed instance holds no share, so collecting it tears nothing down.
    assert after_import["teardown"] == teardowns
    assert after_collect["teardown"] == teardowns
    assert after_collect["classifier_teardown"] == 0
    assert after_collect["calls_while_down"] == after_collect["teardown_while_down"] == 0
    assert not up and not kept


@pytest.mark.parametrize("name", LIBRARY_MODULES)
def test_an_import_after_a_failed_one_sets_the_library_up(python, name):
    result = python(program="import_after_failed.py", args=[name])
    up, up_after_clear, counters = result
    assert up and not up_after_clear
    assert (counters["setup"], counters["teardown"], counters["classifier_teardown"]) == (2, 1, 1)
    assert counters["calls_while_down"] == counters["teardown_while_down"] == 0


@pytest.mark.parametrize("first, second", [
    ("_expand", "_expand"), ("_kinhash", "_kinhash"), ("_expand", "_kinhash"), ("_kinhash", "_expand"),
    ("_duplicate", "_duplicate"), ("_duplicate", "_expand"), ("_kinhash", "_duplicate"), ("_kinhash", "_text"),
    ("_parser", "_parser"), ("_parser", "_expand"), ("_kinhash", "_parser")])
def test_the_library_stays_up_while_any_instance_lives(python, first, second):
    result = python(program="stays_up.py", args=[first, second])
    up_after_first, up_after_last, counters = result
    assert up_after_first and not up_after_last
    assert counters["setup"] == counters["classifier_setup"] == 1
    assert counters["teardown"] == counters["classifier_teardown"] == 1
    assert counters["calls_while_down"] == counters["teardown_while_down"] == 0


@pytest.mark.parametrize("name", LIBRARY_MODULES)
def test_the_clear_hook_releases_its_share_once(python, name):
    result = python(program="clear_hook.py", args=[name])
    had_error, runs, counters = result
    assert had_error
    assert runs == [[0, 1, None, None]] * 3
    assert counters["classifier_teardown"] == 1


def test_a_replaced_instance_is_collected_without_tearing_down(python):
    # The interpreter keeps each single-phase module in its per-definition
    # index until a re-import replaces it; only then can the old one be
    # collected, and its clear hook must give back just its own share.
    result = python("""
        import weakref
        import addrnorm, addrnorm._expand
        old = weakref.ref(addrnorm._expand)
        del sys.modules['addrnorm._expand']
        del addrnorm._expand
        import addrnorm._expand as new
        gc.collect()
        print(json.dumps([old() is None, double.library_up(), double.counters()['teardown'],
                          new.expand_address('still up'), double.counters()['calls_while_down']]))
    """)
    assert result == [True, True, 0, ["still up"], 0]


# _parser's state holds its labels too (test_parser.py).
@pytest.mark.parametrize("name", [name for name in LIBRARY_MODULES if name != "_parser"] + ["_wordclass"])
def test_the_traverse_hook_visits_the_exception_class_only(python, name):
    result = python(program="traverse_hook.py", args=[name])
    assert result == [True, 0, 7, 0, []]


def test_wordclass_calls_no_library_function(python):
    result = python("""
        import addrnorm._wordclass as m
        from module_hooks import clear
        clear(m)
        clear(m)
        print(json.dumps(double.counters()))
    """)
    assert set(result.values()) == {0}


@pytest.mark.parametrize("name", LIBRARY_MODULES)
def test_the_exception_class_is_kept_in_the_state_only(python, name):
    result = python(program="exception_class.py", args=[name])
    assert result == ["Error", name, True, False]


def test_exit_with_every_module_live_is_clean(python, monkeypatch):
    # The interpreter frees or clears the live modules as it finalizes;
    # either way the library is torn down once, after the atexit calls.
    monkeypatch.setenv("ADDRNORM_DOUBLE_EXIT_REPORT", "1")
    process = python("""
        import atexit
        import addrnorm._expand as e, addrnorm._kinhash as k, addrnorm._duplicate as d, addrnorm._wordclass
        atexit.register(lambda: print(e.expand_address('at exit'), k.near_dupe_hashes(['city'], ['x']),
                                      d.is_unit_duplicate('2', '2')))
    """, expect_ok=False)
    assert process.returncode == 0, process.stderr
    assert process.stdout.strip() == "['at exit'] ['city|x'] 9"
    assert process.stderr.strip().endswith(
        "double at exit: setup 1 teardown 1 classifier_teardown 1 calls_while_down 0 teardown_while_down 0 "
        "live_arrays 0 parser_setup 0 parser_teardown 0 live_responses 0")


@pytest.mark.parametrize("order", [
    ("_expand", "_kinhash", "_wordclass"), ("_expand", "_wordclass", "_kinhash"),
    ("_kinhash", "_expand", "_wordclass"), ("_kinhash", "_wordclass", "_expand"),
    ("_wordclass", "_expand", "_kinhash"), ("_wordclass", "_kinhash", "_expand"),
    ("_duplicate", "_expand", "_kinhash"), ("_kinhash", "_duplicate", "_expand"), ("_expand", "_kinhash", "_duplicate"),
    ("_duplicate", "_wordclass", "_kinhash", "_expand"), ("_wordclass", "_expand", "_duplicate", "_kinhash"),
    ("_parser", "_expand", "_wordclass"), ("_expand", "_parser", "_duplicate"), ("_kinhash", "_duplicate", "_parser"),
])
def test_every_import_order_clear_and_reimport(python, order):
    result = python(program="import_orders.py", args=order)
    all_up, up_at_end, counters = result
    assert all_up and not up_at_end
    assert counters["setup"] == counters["teardown"] == 2
    assert counters["calls_while_down"] == counters["teardown_while_down"] == 0


def test_calls_from_several_threads(python):
    result = python("""
        import threading
        import addrnorm._expand as e, addrnorm._kinhash as k, addrnorm._duplicate as d
        double.set_result([b'one', b'two'])
        double.set_duplicate_result(6, 0.5)
        failures = []
        def work(number):
            try:
                for i in range(2000):
                    assert e.expand_address('%d %d Main St' % (number, i), languages=['en']) == ['one', 'two']
                    assert k.near_dupe_hashes(['city'], [str(i)], languages=['en']) == ['one', 'two']
                    assert d.is_street_duplicate_fuzzy(['%d' % i], [1.0], ['x'], [2.0], ['en']) == (6, 0.5)
            except Exception as error:
                failures.append(repr(error))
        threads = [threading.Thread(target=work, args=(n,)) for n in range(4)]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()
        counters = double.counters()
        print(json.dumps([failures, counters['calls'], counters['live_arrays'], counters['calls_while_down']]))
    """)
    assert result == [[], 24000, 0, 0]


def test_a_forked_child_calls_both_functions(python):
    result = python("""
        import os
        import addrnorm._expand as e, addrnorm._kinhash as k
        e.expand_address('before the fork')
        pid = os.fork()
        if pid == 0:
            ok = (e.expand_address('in the child') == ['in the child']
                  and k.near_dupe_hashes(['city'], ['Town']) == ['city|Town']
                  and double.counters()['calls_while_down'] == 0)
            os._exit(0 if ok else 3)
        _, status = os.waitpid(pid, 0)
        print(json.dumps([os.WIFEXITED(status) and os.WEXITSTATUS(status), double.counters()['setup']]))
    """)
    assert result == [0, 1]
