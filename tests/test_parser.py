"""The address parser on the double: what parse_address sends libpostal, what
it gives back, how it refuses bad arguments, that the parser is set up only
when parsing and torn down once, and that no path leaks.  The double's parse
of an address is its comma-separated parts labelled road, city, postcode,
country in turn, unless a test chooses the answer."""
import inspect
import pickle

import pytest

import addrnorm
from addrnorm import _parser
from addrnorm.parsing import LabelledField, labelled_fields, record_fields
from heap import LEAK_LIMIT, OWN_ALLOCATOR, calling, exhausted_heap, heap_growth

P = _parser


def test_a_parse_comes_back_as_pairs_in_libpostals_order(double):
    double.set_parse([(b"781", b"house_number"), (b"franklin ave", b"road"), (b"\xc3\xa9cole", b"house"),
                      (b"brooklyn", b"city"), (b"", b"unit")])
    parsed = addrnorm.parse_address("781 Franklin Ave")
    assert parsed == [("781", "house_number"), ("franklin ave", "road"), ("école", "house"), ("brooklyn", "city"),
                      ("", "unit")]
    assert all(type(pair) is tuple for pair in parsed)
    assert double.last_call().function == "libpostal_parse_address"
    assert double.last_call().input == b"781 Franklin Ave"
    assert double.counters()["live_responses"] == 0


@pytest.mark.parametrize("given, sent", [
    ({}, (None, None)),
    ({"language": "en"}, ("en", None)),
    ({"country": "us"}, (None, "us")),
    ({"language": "fra", "country": "FR"}, ("fra", "fr")),
])
def test_the_codes_reach_libpostal_and_none_leaves_its_default(double, given, sent):
    addrnorm.parse_address("Main St, Springfield", **given)
    assert double.last_parse_codes() == sent
    # The module passes what it is given; the package lower-cases a country.
    P.parse_address("x", given.get("language"), given.get("country"))
    assert double.last_parse_codes() == (given.get("language"), given.get("country"))


def test_text_is_sent_up_to_its_first_nul(double):
    assert P.parse_address("Main St, Spring\0field", "e\0n", "u\0s") == [("Main St", "road"), ("Spring", "city")]
    assert double.last_call().input == b"Main St, Spring"
    assert double.last_parse_codes() == ("e", "u")


def test_no_result_is_none_from_the_module_and_no_parts_from_the_package(double):
    double.set_parse(None)
    assert P.parse_address("x") is None
    assert addrnorm.parse_address("x") == []


def test_a_part_that_is_not_utf8_fails_the_call_and_the_response_is_destroyed(double):
    double.set_parse([(b"ok", b"road"), (b"\xff", b"city")])
    with pytest.raises(UnicodeDecodeError):
        P.parse_address("x")
    double.set_parse([(b"ok", b"\xfe")])
    with pytest.raises(UnicodeDecodeError):
        P.parse_address("x")
    counters = double.counters()
    assert counters["live_responses"] == 0 and counters["destroy_faults"] == 0


# (call, exception, message): each refused before libpostal is asked.
REFUSED = [
    # The interpreter's own messages, which name the function from 3.7 on.
    (lambda: P.parse_address(), TypeError, "'address' (pos 1)"),
    (lambda: P.parse_address("a", None, None, None), TypeError, "parse_address"),
    (lambda: P.parse_address("a", nation="us"), TypeError, "'nation'"),
    (lambda: P.parse_address(5), TypeError, "Parameter must be bytes or unicode"),
    (lambda: P.parse_address(b"Main St"), TypeError, "could not be converted to unicode"),
    (lambda: P.parse_address("Main St \ud800"), UnicodeEncodeError, "surrogates not allowed"),
    (lambda: P.parse_address("a", 5), TypeError, "language must be a str or None, not int"),
    (lambda: P.parse_address("a", None, b"us"), TypeError, "country must be a str or None, not bytes"),
    (lambda: P.parse_address("a", "\udfff"), UnicodeEncodeError, "surrogates not allowed"),
    (lambda: P.parse_address("a", "en", "\ud800"), UnicodeEncodeError, "surrogates not allowed"),
    (lambda: addrnorm.parse_address(None), TypeError, "na_action"),
    (lambda: addrnorm.parse_address(float("nan")), TypeError, "na_action"),
    (lambda: addrnorm.parse_address("a", language="EN"), ValueError, "language: 'EN' is not a language code"),
    (lambda: addrnorm.parse_address("a", language="english"), ValueError, "is not a language code"),
    (lambda: addrnorm.parse_address("a", country="usa"), ValueError, "country: 'usa' is not a country code"),
    (lambda: addrnorm.parse_address("a", ["en"]), TypeError, "language must be a str or None, not list"),
]


@pytest.mark.parametrize("call, error, message", REFUSED, ids=range(len(REFUSED)))
def test_bad_arguments_are_refused_before_libpostal_is_asked(double, call, error, message):
    calls = double.counters()["calls"]
    with pytest.raises(error) as raised:
        call()
    assert message in str(raised.value)
    assert double.counters()["calls"] == calls


def test_the_checks_run_in_order_address_language_country(double):
    with pytest.raises(TypeError, match="Parameter must be"):
        P.parse_address(None, 5, 5)
    with pytest.raises(TypeError, match="language must be"):
        P.parse_address("a", 5, 5)


def test_a_huge_address_is_parsed_whole(double):
    address = "Avenue des Champs-Élysées, " * 40000
    parsed = addrnorm.parse_address(address)
    assert len(parsed) == 40000 and parsed[-1] == ("Avenue des Champs-Élysées", "country")
    assert double.last_call().input == address.encode()


@pytest.mark.parametrize("parsed, fields", [
    ([], {}),
    ([("781", "house_number"), ("franklin ave", "road")], {"house_number": "781", "road": "franklin ave"}),
    # A label given twice has its parts joined in order, where it first came.
    ([("franklin", "road"), ("781", "house_number"), ("ave", "road")], {"road": "franklin ave", "house_number": "781"}),
    ((("a", "city"), ("b", "city"), ("c", "city")), {"city": "a b c"}),
])
def test_parsed_fields(parsed, fields):
    result = addrnorm.parsed_fields(parsed)
    assert result == fields and list(result) == list(fields)


RECORD = {"name": "Whole Foods", "address": "781 Franklin Ave, Brooklyn, 11216", "zip": "11299", "lat": "40.6",
          "note": ""}


@pytest.mark.parametrize("options, labels, values", [
    # Without columns to parse, the columns through the mapping, as before.
    ({"mapping": {"name": "house", "zip": "postcode", "address": ""}}, ["house", "postcode", "lat"],
     ["Whole Foods", "11299", "40.6"]),
    # The parsed column is no field itself; a parsed part joins the others.
    ({"parse": ["address"], "mapping": {"name": "house"}, "skip": ["lat"]},
     ["house", "zip", "road", "city", "postcode"], ["Whole Foods", "11299", "781 Franklin Ave", "Brooklyn", "11216"]),
    # A column mapped to a label wins over a parsed part of that label.
    ({"parse": ["address"], "mapping": {"name": "house", "zip": "postcode"}, "skip": ["lat"]},
     ["house", "postcode", "road", "city"], ["Whole Foods", "11299", "781 Franklin Ave", "Brooklyn"]),
    # An earlier parsed column wins over a later one.
    ({"parse": ["name", "address"], "mapping": {"zip": ""}, "skip": ["lat"]},
     ["road", "city", "postcode"], ["Whole Foods", "Brooklyn", "11216"]),
])
def test_record_fields(double, options, labels, values):
    assert record_fields(RECORD, **options) == (labels, values)


def test_record_fields_parse_nothing_blank_and_refuse_structures(double):
    calls = double.counters()["calls"]
    assert record_fields({"address": "  ", "city": "X"}, ["address"]) == (["city"], ["X"])
    assert record_fields({"city": "X"}, ["address"]) == (["city"], ["X"])
    assert double.counters()["calls"] == calls
    assert record_fields({"address": 11216}, ["address"]) == (["road"], ["11216"])
    with pytest.raises(TypeError, match="field 'address': a dict .* is not a field's value"):
        record_fields({"address": {"road": "x"}}, ["address"])


def test_labelled_fields_keep_each_column_and_each_part_with_the_column_it_came_from(double):
    record = dict(RECORD, id={"left": "alone"})
    columns = [("zip", "postcode"), ("name", "house"), ("id", "id"), ("note", "house"), ("absent", "city")]
    assert labelled_fields(record, columns, ["address"]) == [
        LabelledField("zip", "postcode", "11299"), LabelledField("name", "house", "Whole Foods"),
        LabelledField("address.road", "road", "781 Franklin Ave", "address"),
        LabelledField("address.city", "city", "Brooklyn", "address"),
        LabelledField("address.postcode", "postcode", "11216", "address")]
    # A value the policy refuses, under a label libpostal reads, names its field.
    with pytest.raises(TypeError, match="field 'zip': a list"):
        labelled_fields(dict(record, zip=["11299"]), columns)


def test_the_package_functions_show_their_signatures_and_pickle_by_name():
    assert list(inspect.signature(addrnorm.parse_address).parameters) == ["address", "language", "country"]
    assert list(inspect.signature(addrnorm.parsed_fields).parameters) == ["parsed"]
    for function in (addrnorm.parse_address, addrnorm.parsed_fields):
        assert pickle.loads(pickle.dumps(function)) is function
        assert function.__name__ in addrnorm.__all__ and function.__doc__
    assert [name for name in vars(_parser) if not name.startswith("__")] == ["parse_address"]
    assert _parser.parse_address.__text_signature__ == "($module, address, language=None, country=None)"


def test_the_state_holds_one_str_per_label_which_every_parse_hands_out(python):
    result = python("""
        import ctypes
        import addrnorm._parser as p
        from module_hooks import clear, state, traverse
        double.set_parse([(b'x', b'road'), (b'y', b'world_region'), (b'z', b'not_a_label')])
        first, second = p.parse_address('a'), p.parse_address('b')
        seen = []
        traverse(p, lambda address: seen.append(address) or 0)
        labels = [ctypes.cast(address, ctypes.py_object).value for address in seen[:-1]]
        shared = [first[0][1] is second[0][1], first[1][1] is second[1][1], first[2][1] is second[2][1]]
        error = seen[-1] == state(p).error
        clear(p)
        after = []
        traverse(p, lambda address: after.append(address) or 0)
        print(json.dumps([labels, shared, error, after, first[2][1]]))
    """)
    labels, shared, error, after, unknown = result
    assert sorted(labels) == sorted(addrnorm.parsing.LABELS) and error
    # A label libpostal may add some day is decoded, as any text.
    assert shared == [True, True, False] and unknown == "not_a_label"
    assert after == []


def test_the_parser_is_set_up_only_when_parsing(python):
    result = python("""
        import addrnorm
        addrnorm.expand_address('x')
        addrnorm.near_dupe_hashes(['city'], ['x'])
        addrnorm.is_name_duplicate('a', 'b')
        before = [double.counters()['setup'], double.counters()['parser_setup'], double.parser_up()]
        parsed = addrnorm.parse_address('Main St, Springfield')
        addrnorm.parse_address('x')
        after = [double.counters()['setup'], double.counters()['parser_setup'], double.parser_up()]
        print(json.dumps([before, parsed, after, double.counters()['parses_while_down']]))
    """)
    assert result == [[1, 0, False], [["Main St", "road"], ["Springfield", "city"]], [1, 1, True], 0]


def test_the_parser_reads_the_directory_the_library_was_set_up_from(python, monkeypatch, tmp_path):
    from test_datadir import stand_in

    folder = stand_in(tmp_path / "data")
    for name, signature in PARSER_SIGNATURES.items():
        path = tmp_path.joinpath("data", *name.split("/"))
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(signature + b" stand-in\n")
    monkeypatch.setenv("LIBPOSTAL_DATA_DIR", folder)
    result = python("""
        import addrnorm
        parsed = addrnorm.parse_address('x')
        print(json.dumps([double.directories()[0], double.parser_directory(), parsed]))
    """)
    assert result == [folder, folder, [["x", "road"]]]


PARSER_SIGNATURES = {
    "address_parser/address_parser_crf.dat": b"\xcb" * 4,
    "address_parser/address_parser_postal_codes.dat": b"\xcd" * 4,
    "address_parser/address_parser_phrases.dat": b"\xce" * 4,
    "address_parser/address_parser_vocab.trie": b"\xcf" * 4,
}


def test_without_the_parsers_files_the_error_names_them_and_the_fix(python, monkeypatch, tmp_path):
    from test_datadir import stand_in

    folder = stand_in(tmp_path / "data")
    monkeypatch.setenv("LIBPOSTAL_DATA_DIR", folder)
    result = python("""
        import addrnorm
        try:
            addrnorm.parse_address('x')
        except addrnorm.LibpostalLoadError as error:
            message = [str(error), str(error.__cause__)]
        # The library itself stays usable.
        expanded = addrnorm.expand_address('y')
        counters = double.counters()
        print(json.dumps(message + [expanded, double.library_up(), double.parser_up(), counters['setup'],
                                    counters['teardown'], counters['parser_setup'], 'addrnorm._parser' in sys.modules]))
    """)
    message, cause, expanded, up, parser_up, setups, teardowns, parser_setups, imported = result
    assert cause == "Error loading libpostal"
    assert "with the data directory %s (named by LIBPOSTAL_DATA_DIR)" % folder in message
    assert ("Missing there: " + ", ".join(PARSER_SIGNATURES) + ".") in message
    assert "run 'addrnorm data download --parser --dir %s'" % folder in message
    # The failed import gave its share of the library back at once; the
    # expansion then set it up again.
    assert (expanded, up, parser_up, setups, teardowns, parser_setups, imported) == (
        ["y"], True, False, 2, 1, 1, False)


def test_a_failed_parser_set_up_leaves_the_other_modules_share_alone(python):
    result = python("""
        import addrnorm._expand as e
        double.set_parser_setup_result(False)
        try:
            import addrnorm._parser
        except TypeError as error:
            message = str(error)
        double.set_parser_setup_result(True)
        import addrnorm._parser as p
        print(json.dumps([message, e.expand_address('x'), p.parse_address('a, b'), double.counters()['setup'],
                          double.counters()['teardown'], double.counters()['parser_setup']]))
    """)
    assert result == ["Error loading libpostal", ["x"], [["a", "road"], ["b", "city"]], 1, 0, 2]


def test_the_parser_is_torn_down_once_before_the_library_and_comes_back(python):
    result = python("""
        import importlib
        import addrnorm
        from module_hooks import clear
        steps = []
        for round in range(3):
            e = importlib.import_module('addrnorm._expand')
            p = importlib.import_module('addrnorm._parser')
            p2 = p
            p.parse_address('x')
            for name in ('_parser', '_expand'):
                del sys.modules['addrnorm.' + name]
                delattr(addrnorm, name)
            clear(p)
            clear(p2)   # a second clear gives nothing back twice
            steps.append([double.parser_up(), double.library_up(), e.expand_address('still up')])
            clear(e)
            steps.append([double.parser_up(), double.library_up()])
        c = double.counters()
        print(json.dumps([steps, c['setup'], c['teardown'], c['parser_setup'], c['parser_teardown'],
                          c['parser_teardown_while_down'], c['calls_while_down'], c['parses_while_down']]))
    """)
    steps, setups, teardowns, parser_setups, parser_teardowns, idle_teardowns, down, parses_down = result
    assert steps == [[False, True, ["still up"]], [False, False]] * 3
    assert (setups, teardowns, parser_setups, parser_teardowns) == (3, 3, 3, 3)
    assert idle_teardowns == down == parses_down == 0


def test_exit_with_the_parser_live_tears_it_down_once(python, monkeypatch):
    monkeypatch.setenv("ADDRNORM_DOUBLE_EXIT_REPORT", "1")
    process = python("""
        import atexit
        import addrnorm
        atexit.register(lambda: print(addrnorm.parse_address('at, exit')))
        addrnorm.expand_address('x')
    """, expect_ok=False)
    assert process.returncode == 0, process.stderr
    assert process.stdout.strip() == "[('at', 'road'), ('exit', 'city')]"
    assert process.stderr.strip().endswith(
        "setup 1 teardown 1 classifier_teardown 1 calls_while_down 0 teardown_while_down 0 live_arrays 0 "
        "parser_setup 1 parser_teardown 1 live_responses 0")


LONG = "Avenue des Champs-Élysées, Paris " * 40
PATHS = [
    ("parse", calling(P.parse_address, LONG)),
    ("parse with codes", calling(P.parse_address, LONG, "fr", "fr")),
    ("country refused", calling(P.parse_address, LONG, "fr", 5)),
    ("country not encodable", calling(P.parse_address, LONG, "fr", "\ud800")),
    ("package", calling(addrnorm.parse_address, LONG, country="FR")),
    ("fields", calling(lambda: addrnorm.parsed_fields(addrnorm.parse_address(LONG)))),
]


@pytest.mark.parametrize("call", [path[1] for path in PATHS], ids=[path[0] for path in PATHS])
def test_a_loop_leaves_the_heap_flat(double, call):
    growth = heap_growth(call)
    assert growth is None or growth < LEAK_LIMIT
    assert double.counters()["live_responses"] == 0


def test_a_loop_over_undecodable_parts_leaves_the_heap_flat(double):
    double.set_parse([(b"ok " * 100, b"road"), (b"\xff", b"city")])
    growth = heap_growth(calling(P.parse_address, LONG))
    assert growth is None or growth < LEAK_LIMIT
    assert double.counters()["live_responses"] == 0


OUT_OF_MEMORY = [
    ("failalloc_arm_strdup(b'an address out of memory')", "p.parse_address('an address out of memory')"),
    ("failalloc_arm_strdup(b'zq')", "p.parse_address('Main St', 'zq')"),
    ("failalloc_arm_strdup(b'qz')", "p.parse_address('Main St', 'en', 'qz')"),
]


@pytest.mark.skipif(OWN_ALLOCATOR, reason="the allocator is valgrind's or AddressSanitizer's")
@pytest.mark.parametrize("arm, call", OUT_OF_MEMORY)
def test_an_exhausted_heap_is_a_memory_error_and_leaks_nothing(python, arm, call):
    outcomes, growth, calls, _ = exhausted_heap(python, "import addrnorm._parser as p", arm, call)
    assert outcomes == ["MemoryError"]
    assert growth < LEAK_LIMIT
    assert calls == 0
