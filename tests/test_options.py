"""addrnorm.options against the stubs, the double's records and the modules:
the command, the tests and the bench take their option names from it, so a
name missing or out of place there would go unnoticed everywhere else."""
import ast
import os
from ctypes import c_uint8

import pytest

import addrnorm
from addrnorm import _expand, _kinhash
from addrnorm.options import EXPAND_FLAGS, EXPAND_KEYWORDS, HASH_FLAGS, HASH_KEYWORDS
from libpostal_double import HashOptions, NormalizeOptions


def stub_parameters(stub, function):
    path = os.path.join(os.path.dirname(addrnorm.__file__), stub)
    with open(path) as source:
        tree = ast.parse(source.read())
    definition = next(node for node in tree.body if isinstance(node, ast.FunctionDef) and node.name == function)
    return tuple(argument.arg for argument in definition.args.args)


@pytest.mark.parametrize("stub, function, keywords", [
    ("_expand.pyi", "expand_address", ("address",) + EXPAND_KEYWORDS),
    ("_kinhash.pyi", "near_dupe_hashes", ("labels", "values") + HASH_KEYWORDS),
])
def test_the_stubs_list_the_keywords_in_positional_order(stub, function, keywords):
    # stubtest cannot see a C function's parameters: this is what holds the
    # stubs' order to the modules' (through the calls below).
    assert stub_parameters(stub, function) == keywords


def test_the_flags_are_the_keywords_that_set_a_record_byte():
    # The flags are the booleans: the keywords whose record field is a byte.
    expand_bytes = {name for name, kind in NormalizeOptions._fields_ if kind is c_uint8}
    hash_bytes = {name for name, kind in HashOptions._fields_ if kind is c_uint8}
    assert EXPAND_FLAGS == tuple(name for name in EXPAND_KEYWORDS if name in expand_bytes)
    assert HASH_FLAGS == tuple(name for name in HASH_KEYWORDS if name in hash_bytes)
    assert EXPAND_KEYWORDS == ("languages", "address_components") + EXPAND_FLAGS + ("root",)
    assert len(EXPAND_FLAGS) == 17 and len(HASH_FLAGS) == 10 and len(HASH_KEYWORDS) == 14
    assert len(set(EXPAND_KEYWORDS)) == len(EXPAND_KEYWORDS) and len(set(HASH_KEYWORDS)) == len(HASH_KEYWORDS)


def received(double, record):
    call = double.last_call()
    return {"function": call.function, "languages": call.languages, "record": getattr(call, record)}


# Per function: its leading arguments, the record it fills, the defaults the
# double starts from, the value each option is given (one that differs from
# its default), and what each option given by neither way amounts to.
FUNCTIONS = {
    "expand_address": (
        _expand.expand_address, ["x"], "options", "set_default_options",
        dict({name: 0 for name in EXPAND_FLAGS}, address_components=0, drop_parentheticals=0),
        dict({name: 1 for name in EXPAND_FLAGS}, languages=["en"], address_components=7, root=1),
        dict({name: 0 for name in EXPAND_FLAGS}, languages=None, address_components=0, root=0),
        EXPAND_KEYWORDS),
    "near_dupe_hashes": (
        _kinhash.near_dupe_hashes, [["city"], ["x"]], "hash_options", "set_hash_default_options",
        dict({name: 0 for name in HASH_FLAGS}, latitude=0.0, longitude=0.0, geohash_precision=0),
        dict({name: 1 for name in HASH_FLAGS}, languages=["de"], latitude=1.5, longitude=-2.5, geohash_precision=9),
        dict({name: 0 for name in HASH_FLAGS}, languages=None, latitude=0.0, longitude=0.0, geohash_precision=0),
        HASH_KEYWORDS),
}
CASES = [(function, keyword) for function in sorted(FUNCTIONS) for keyword in FUNCTIONS[function][-1]]


@pytest.mark.parametrize("function_name, keyword", CASES, ids=["%s-%s" % case for case in CASES])
def test_each_option_by_position_and_by_keyword_reaches_its_own_field(double, function_name, keyword):
    function, leading, record, set_defaults, defaults, values, neutral, keywords = FUNCTIONS[function_name]
    getattr(double, set_defaults)(**defaults)
    function(*leading)
    before = received(double, record)
    function(*leading, **{keyword: values[keyword]})
    by_keyword = received(double, record)
    position = keywords.index(keyword)
    function(*(leading + [neutral[name] for name in keywords[:position]] + [values[keyword]]))
    by_position = received(double, record)
    assert by_position == by_keyword
    # The option changed what the double received, and only where its name says.
    if keyword == "languages":
        assert by_keyword["languages"] == values[keyword] and before["languages"] == []
    elif keyword == "root":
        assert (before["function"], by_keyword["function"]) == (
            "libpostal_expand_address", "libpostal_expand_address_root")
    else:
        assert by_keyword["record"] == dict(before["record"], **{keyword: values[keyword]})
    for name in ("function", "languages"):
        if keyword not in ("languages", "root"):
            assert by_keyword[name] == before[name]


@pytest.mark.parametrize("function_name", sorted(FUNCTIONS))
def test_no_parameter_follows_the_last_keyword(function_name):
    function, leading, _, _, _, _, neutral, keywords = FUNCTIONS[function_name]
    function(*(leading + [neutral[name] for name in keywords]))
    with pytest.raises(TypeError):
        function(*(leading + [neutral[name] for name in keywords] + [0]))
