"""The public package: lazy set-up, the enums, the wrappers and the stubs."""
import inspect
import os
import pydoc
import re

import pytest

import addrnorm
from addrnorm import AddressComponent, TokenType, _duplicate, _expand, _kinhash, _parser, _text, _wordclass
from addrnorm.options import EXPAND_FLAGS, EXPAND_KEYWORDS, HASH_FLAGS, HASH_KEYWORDS
from shared import TOKEN_TYPES


def test_importing_the_package_sets_nothing_up(python):
    result = python("""
        import addrnorm
        from addrnorm import AddressComponent, TokenType
        cheap = [int(AddressComponent.ALL), int(TokenType.INVALID_CHAR), addrnorm.__version__]
        before = [double.counters()['setup'], sorted(m for m in sys.modules if m.startswith('addrnorm.')),
                  any(name in sys.modules for name in ('splink', 'duckdb', 'pyarrow'))]
        first = addrnorm.expand_address('Main St')
        keys = addrnorm.near_dupe_hashes(['city'], ['Town'])
        print(json.dumps([cheap, before, first, keys, double.counters()['setup']]))
    """)
    # Pure Python, and nothing of what a de-duplication run loads.
    cheap_modules = ["addrnorm._library", "addrnorm._wordclass", "addrnorm.classifiers", "addrnorm.dedupe",
                     "addrnorm.dedupe.address", "addrnorm.dedupe.errors", "addrnorm.dedupe.fields",
                     "addrnorm.dedupe.model", "addrnorm.errors", "addrnorm.languages", "addrnorm.options",
                     "addrnorm.parsing", "addrnorm.text", "addrnorm.values"]
    assert result == [[65535, 500, addrnorm.__version__], [0, cheap_modules, False], ["Main St"], ["city|Town"], 1]


@pytest.mark.parametrize("setup, classifier", [(False, True), (True, False)])
def test_a_failed_set_up_says_what_to_check(python, setup, classifier):
    result = python(program="failed_set_up_message.py", args=[int(setup), int(classifier)])
    message, is_type_error, cause, cause_is_the_type = result
    assert message.startswith("Error loading libpostal") and "data files" in message and "datadir" in message
    # The extension raises the package's type itself: the failure is known
    # by it, not by the text.
    assert is_type_error and cause == "Error loading libpostal" and cause_is_the_type


def test_an_import_error_with_the_load_failures_text_is_not_taken_for_one(monkeypatch):
    def failing(name):
        raise TypeError("Error loading libpostal")

    monkeypatch.setattr(addrnorm._library.importlib, "import_module", failing)
    with pytest.raises(TypeError) as raised:
        addrnorm._load("_expand")
    assert type(raised.value) is TypeError


def test_address_component_equals_the_module_constants():
    members = {name: int(member) for name, member in AddressComponent.__members__.items()}
    constants = {name[len("ADDRESS_"):]: value for name, value in vars(_expand).items()
                 if name.startswith("ADDRESS_")}
    assert list(members.items()) == list(constants.items())


def test_address_component_is_a_mask(double):
    mask = AddressComponent.STREET | AddressComponent.HOUSE_NUMBER | AddressComponent.TOPONYM
    addrnorm.expand_address("x", address_components=mask)
    assert double.last_call().options["address_components"] == 8 | 4 | 8192
    assert AddressComponent.ALL == 0xFFFF and AddressComponent.STREET in AddressComponent.ALL


def test_token_type_is_built_from_the_module():
    assert [(member.name, member.value) for member in TokenType] == [
        (name[len("TOKEN_TYPE_"):], value) for name, value in TOKEN_TYPES]
    assert TokenType.WORD == _wordclass.TOKEN_TYPE_WORD == 1 and TokenType(500) is TokenType.INVALID_CHAR
    assert TokenType.__module__ == "addrnorm" and TokenType.__doc__ and AddressComponent.__doc__


def test_the_wrappers_pass_every_argument_on(double):
    args = ["x", ["en"], 7] + [1, 0] * 8 + [1, 0]
    double.set_default_options(**{"lowercase": 0})
    assert addrnorm.expand_address(*args) == _expand.expand_address(*args)
    addrnorm.expand_address(address="y", languages=("de",), root=True, lowercase=1)
    received = double.last_call()
    assert (received.function, received.input, received.languages, received.options["lowercase"]) == (
        "libpostal_expand_address_root", b"y", ["de"], 1)
    assert addrnorm.near_dupe_hashes(["city"], ["x"], ["en"], 0, geohash_precision=-1) == ["city|x"]
    assert double.last_call().hash_options["geohash_precision"] == 4294967295
    assert addrnorm.near_dupe_hashes([], []) is None
    assert addrnorm.expand_address.__doc__ and addrnorm.near_dupe_hashes.__doc__


def test_the_package_is_typed():
    folder = os.path.dirname(addrnorm.__file__)
    assert all(os.path.exists(os.path.join(folder, name))
               for name in ("py.typed", "__init__.pyi", "_expand.pyi", "_kinhash.pyi", "_duplicate.pyi",
                            "_parser.pyi", "_wordclass.pyi"))


def test_the_functions_pickle_by_name_before_and_after_first_use(python):
    result = python("""
        import pickle
        from concurrent.futures import ProcessPoolExecutor
        import addrnorm
        from addrnorm import expand_address, near_dupe_hashes
        functions = [expand_address, near_dupe_hashes]
        def same():
            return [pickle.loads(pickle.dumps(f)) is f for f in functions] + [
                addrnorm.expand_address is expand_address, addrnorm.near_dupe_hashes is near_dupe_hashes]
        before = same()
        expand_address('x'), near_dupe_hashes(['city'], ['x'])
        after = same()
        with ProcessPoolExecutor(2) as pool:
            mapped = list(pool.map(expand_address, ['a', 'b', 'c']))
        print(json.dumps([before, after, mapped]))
    """)
    assert result == [[True] * 4, [True] * 4, [["a"], ["b"], ["c"]]]


@pytest.mark.parametrize("function, extension, names", [
    (addrnorm.expand_address, _expand.expand_address, ("address",) + EXPAND_KEYWORDS),
    (addrnorm.near_dupe_hashes, _kinhash.near_dupe_hashes, ("labels", "values") + HASH_KEYWORDS),
])
def test_the_functions_show_their_signatures(function, extension, names):
    parameters = inspect.signature(function).parameters
    assert tuple(parameters) == names
    assert all(parameter.kind is inspect.Parameter.POSITIONAL_OR_KEYWORD for parameter in parameters.values())
    defaults = {name: parameter.default for name, parameter in parameters.items()
                if parameter.default is not inspect.Parameter.empty}
    assert defaults.pop("languages") is None and defaults.pop("root", 0) == 0
    assert set(defaults) == set(names[names.index("languages") + 1:]) - {"root"}
    assert {repr(default) for default in defaults.values()} == {"<libpostal's default>"}
    # Newer pydoc sets a long signature out one parameter a line.
    page = re.sub(r"\(\s+", "(", " ".join(pydoc.render_doc(function, renderer=pydoc.plaintext).split()))
    assert "%s(%s, languages=None, %s=<libpostal's default>" % (
        function.__name__, ", ".join(names[:names.index("languages")]), names[names.index("languages") + 1]) in page
    assert "libpostal" in inspect.getdoc(function) and function is not extension


FIELD_PARAMETERS = {"value1": None, "value2": None, "languages": None}
# The extension functions whose signature the interpreter reads from their
# doc, with their parameters and defaults (None for none).
EXTENSION_SIGNATURES = [(getattr(_duplicate, "is_%s_duplicate" % field), FIELD_PARAMETERS) for field in (
    "name", "street", "house_number", "po_box", "unit", "floor", "postal_code")] + [
    (_duplicate.is_toponym_duplicate,
     {"labels1": None, "values1": None, "labels2": None, "values2": None, "languages": None}),
    (_text.tokenize, {"text": None, "whitespace": 0, "offsets": 0}),
    (_text.normalize_string, {"text": None, "options": _text.DEFAULT_STRING_OPTIONS, "languages": None}),
    (_text.normalized_tokens, {"text": None, "string_options": _text.DEFAULT_STRING_OPTIONS,
                               "token_options": _text.DEFAULT_TOKEN_OPTIONS, "whitespace": 0, "languages": None}),
    (_text.classify_language, {"text": None}),
    (_parser.parse_address, {"address": None, "language": None, "country": None}),
]


@pytest.mark.parametrize("function, expected", EXTENSION_SIGNATURES,
                         ids=[function.__name__ for function, _ in EXTENSION_SIGNATURES])
def test_the_extension_functions_show_their_signatures(function, expected):
    parameters = inspect.signature(function).parameters
    assert all(parameter.kind is inspect.Parameter.POSITIONAL_OR_KEYWORD for parameter in parameters.values())
    assert {name: None if parameter.default is inspect.Parameter.empty else parameter.default
            for name, parameter in parameters.items()} == expected
    assert list(parameters) == list(expected)
    assert inspect.getdoc(function) and inspect.getmodule(function).__doc__


EXPAND_GIVEN = [("address_components", 5)] + [(name, 0) for name in EXPAND_FLAGS]


@pytest.mark.parametrize("name, value", EXPAND_GIVEN, ids=[name for name, _ in EXPAND_GIVEN])
def test_expand_passes_on_only_the_options_given(double, name, value):
    # Defaults unlike the real library's (every flag on), so that an option
    # passed on in place of libpostal's default, or to the wrong field, shows.
    defaults = dict({flag: 1 for flag in EXPAND_FLAGS}, address_components=0x1234)
    double.set_default_options(**defaults)
    addrnorm.expand_address("x")
    assert {key: double.last_call().options[key] for key in defaults} == defaults
    addrnorm.expand_address("x", ["en"], **{name: value})
    received = double.last_call()
    assert {key: received.options[key] for key in defaults} == dict(defaults, **{name: value})
    assert (received.function, received.languages) == ("libpostal_expand_address", ["en"])


HASH_GIVEN = [(name, 0) for name in HASH_FLAGS] + [("latitude", -3.25), ("longitude", 4.5), ("geohash_precision", 9)]


@pytest.mark.parametrize("name, value", HASH_GIVEN, ids=[name for name, _ in HASH_GIVEN])
def test_hashes_pass_on_only_the_options_given(double, name, value):
    defaults = dict({flag: 1 for flag in HASH_FLAGS}, latitude=1.5, longitude=2.5, geohash_precision=7)
    double.set_hash_default_options(**defaults)
    addrnorm.near_dupe_hashes(["city"], ["x"])
    assert double.last_call().hash_options == defaults
    addrnorm.near_dupe_hashes(["city"], ["x"], **{name: value})
    assert double.last_call().hash_options == dict(defaults, **{name: value})


@pytest.mark.parametrize("root, function", [
    (0, "libpostal_expand_address"), (False, "libpostal_expand_address"), (1, "libpostal_expand_address_root"),
    (True, "libpostal_expand_address_root")])
def test_root_chooses_the_function(double, root, function):
    addrnorm.expand_address("x", root=root)
    assert double.last_call().function == function


def test_an_option_given_is_passed_on_whatever_it_equals(double):
    # 0.0 equals root's default 0 but is a float, which the module refuses.
    with pytest.raises(TypeError):
        addrnorm.expand_address("x", root=0.0)
    with pytest.raises(TypeError):
        addrnorm.near_dupe_hashes(["city"], ["x"], with_name=0.0)


MISSING = [(None, "None"), (float("nan"), "nan"), (1.5, "1.5")]


@pytest.mark.parametrize("address, shown", MISSING, ids=[shown for _, shown in MISSING])
def test_a_missing_address_says_how_to_skip_it(address, shown):
    with pytest.raises(TypeError) as caught:
        addrnorm.expand_address(address, lowercase=0)
    message = str(caught.value)
    assert message.startswith("address must be a str, not %s;" % shown) and 'na_action="ignore"' in message


@pytest.mark.parametrize("address, message", [
    (b"Main St", "Parameter could not be converted to unicode"), (5, r"address must be a str, not int \(5\)"),
    ([1], r"address must be a str, not list \(\[1\]\)")])
def test_other_wrong_addresses_keep_the_module_message_or_name_their_type(address, message):
    with pytest.raises(TypeError, match="^%s$" % message):
        addrnorm.expand_address(address)


def call_with_languages(which, languages):
    if which == "expand":
        return addrnorm.expand_address("x", languages=languages)
    return addrnorm.near_dupe_hashes(["city"], ["x"], languages)


@pytest.mark.parametrize("which", ["expand", "hash"])
@pytest.mark.parametrize("languages, shown", [
    ("en", '["en"], not the str "en"'),
    ("en,fr", '["en", "fr"], not the str "en,fr"'),
    ("de fr", '["de", "fr"], not the str "de fr"'),
    ("", '["en"], not the str ""'),
])
def test_languages_refuses_a_str(double, which, languages, shown):
    call_with_languages(which, ["en"])
    calls = double.counters()["calls"]
    with pytest.raises(TypeError) as caught:
        call_with_languages(which, languages)
    assert str(caught.value) == "languages must be a list of language codes such as " + shown
    assert double.counters()["calls"] == calls


@pytest.mark.parametrize("which", ["expand", "hash"])
@pytest.mark.parametrize("languages, bad", [
    (["EN"], "'EN'"), (["en", "english"], "'english'"), (("fr", "e"), "'e'"), ([""], "''"),
    (["en-US"], "'en-US'"), (["fr_CA"], "'fr_CA'"), ([" en"], "' en'"), (["é"], "'é'"), (["e1"], "'e1'"),
    (["deu", "engl"], "'engl'"),
])
def test_languages_refuses_what_is_no_language_code(double, which, languages, bad):
    call_with_languages(which, ["en", "fr", "de"])  # known good codes first: they must not let these by
    calls = double.counters()["calls"]
    with pytest.raises(ValueError) as caught:
        call_with_languages(which, languages)
    assert str(caught.value).startswith("languages: %s is not a language code;" % bad)
    assert "ISO 639-1" in str(caught.value) and double.counters()["calls"] == calls


@pytest.mark.parametrize("which", ["expand", "hash"])
@pytest.mark.parametrize("languages", [["en"], ("fr", "de"), ["yue"], ["en", "fr", "zh"], []])
def test_languages_passes_codes_on(double, which, languages):
    call_with_languages(which, languages)
    assert double.last_call().languages == list(languages)


@pytest.mark.parametrize("which", ["expand", "hash"])
def test_languages_leaves_elements_that_are_not_str_to_the_module(which):
    with pytest.raises(TypeError, match="^all elements must be strings$"):
        call_with_languages(which, ["en", b"de"])
