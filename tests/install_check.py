"""Run by the install sessions from outside the source tree, against an
installed addrnorm linked to the test double installed as libpostal is."""
import json
import os
import sys

import addrnorm
from addrnorm import AddressComponent, DuplicateStatus, TokenType

site = os.path.dirname(os.path.dirname(os.path.abspath(addrnorm.__file__)))
assert site.endswith("site-packages"), "imported from " + addrnorm.__file__
assert "addrnorm._expand" not in sys.modules and "addrnorm._duplicate" not in sys.modules, \
    "importing addrnorm set libpostal up"

expansions = addrnorm.expand_address("781 Franklin Ave", languages=["en"],
                                     address_components=AddressComponent.STREET)
keys = addrnorm.near_dupe_hashes(["house", "postcode"], ["Whole Foods", "11216"])
duplicate = addrnorm.is_street_duplicate("Franklin Ave", "Franklin Ave", languages=["en"])
from addrnorm import _expand  # noqa: E402

# The double echoes an expansion's input and a hash's fields.
assert expansions == ["781 Franklin Ave"], expansions
assert keys == ["house|Whole Foods", "postcode|11216"], keys
# And calls two equal values an exact duplicate.
assert duplicate is DuplicateStatus.EXACT, duplicate
assert int(AddressComponent.STREET) == _expand.ADDRESS_STREET == 8
assert int(TokenType.WORD) == 1
assert os.path.exists(os.path.join(os.path.dirname(addrnorm.__file__), "py.typed"))
print(json.dumps({
    "version": addrnorm.__version__,
    "expansions": expansions,
    "keys": keys,
    "duplicate": duplicate.name,
    "street": int(AddressComponent.STREET) == _expand.ADDRESS_STREET == 8,
    "word": int(TokenType.WORD),
    "typed": os.path.exists(os.path.join(os.path.dirname(addrnorm.__file__), "py.typed")),
}))
