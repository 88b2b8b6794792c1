"""The public package: lazy set-up, the enums, the wrappers and the stubs."""
import os

import pytest

import addrnorm
from addrnorm import AddressComponent, TokenType, _expand, _wordclass
from shared import TOKEN_TYPES


def test_importing_the_package_sets_nothing_up(python):
    result = python("""
        import addrnorm
        from addrnorm import AddressComponent, TokenType
        cheap = [int(AddressComponent.ALL), int(TokenType.INVALID_CHAR), addrnorm.__version__]
        before = [double.counters()['setup'], sorted(m for m in sys.modules if m.startswith('addrnorm.'))]
        first = addrnorm.expand_address('Main St')
        keys = addrnorm.near_dupe_hashes(['city'], ['Town'])
        print(json.dumps([cheap, before, first, keys, double.counters()['setup']]))
    """)
    assert result == [[65535, 500, addrnorm.__version__], [0, ["addrnorm._wordclass"]], ["Main St"], ["city|Town"], 1]


@pytest.mark.parametrize("setup, classifier", [(False, True), (True, False)])
def test_a_failed_set_up_says_what_to_check(python, setup, classifier):
    result = python(program="failed_set_up_message.py", args=[int(setup), int(classifier)])
    message, is_type_error, cause = result
    assert message.startswith("Error loading libpostal") and "data files" in message and "datadir" in message
    assert is_type_error and cause == "Error loading libpostal"


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
               for name in ("py.typed", "__init__.pyi", "_expand.pyi", "_kinhash.pyi", "_wordclass.pyi"))


def test_after_the_first_call_the_package_names_the_extension_functions(python):
    result = python("""
        import addrnorm
        from addrnorm import expand_address as early
        from addrnorm import _expand, _kinhash
        before = addrnorm.expand_address is _expand.expand_address
        early('x')
        addrnorm.near_dupe_hashes(['city'], ['x'])
        print(json.dumps([before, addrnorm.expand_address is _expand.expand_address,
                          addrnorm.near_dupe_hashes is _kinhash.near_dupe_hashes, early('y')]))
    """)
    assert result == [False, True, True, ["y"]]
