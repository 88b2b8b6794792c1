"""A first expansion, a first hash and the constants: the public API, typed."""
from typing import Dict, List, Optional

import addrnorm
from addrnorm import AddressComponent, TokenType


def expansions(address: str) -> List[str]:
    found: Optional[List[str]] = addrnorm.expand_address(
        address,
        languages=["en"],
        address_components=AddressComponent.STREET | AddressComponent.HOUSE_NUMBER,
        lowercase=True,
        root=0,
    )
    return found or []


def keys(record: Dict[str, str]) -> List[str]:
    labels = list(record)
    values = [record[label] for label in labels]
    return addrnorm.near_dupe_hashes(labels, values, languages=("en",), address_only_keys=1, latitude=40.7) or []


def word_code() -> int:
    return int(TokenType.WORD)


if __name__ == "__main__":
    print(addrnorm.__version__, word_code())
    print(expansions("781 Franklin Ave Crown Hts Brooklyn NY"))
    print(keys({"house": "Whole Foods", "road": "Franklin Ave", "house_number": "781", "postcode": "11216"}))
