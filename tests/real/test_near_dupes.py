"""Near-duplicate keys of real records: what blocking relies on."""
import pytest

import addrnorm

# One place written two ways, per language: abbreviations, accents,
# transliteration, a longer name.
SAME_PLACE = [
    ("en", {"house": "Whole Foods", "road": "Franklin Ave", "house_number": "781", "postcode": "11216"},
     {"house": "Whole Foods Market", "road": "Franklin Avenue", "house_number": "781", "postcode": "11216"}),
    ("fr", {"house": "Boulangerie Paul", "road": "Rue de Rivoli", "house_number": "12", "city": "Paris"},
     {"house": "Boulangerie Paul", "road": "R. de Rivoli", "house_number": "12", "city": "Paris"}),
    ("de", {"house": "Café Einstein", "road": "Kurfürstenstraße", "house_number": "58", "city": "Berlin"},
     {"house": "Cafe Einstein", "road": "Kurfuerstenstr.", "house_number": "58", "city": "Berlin"}),
    ("es", {"house": "Bar Pepe", "road": "Calle Mayor", "house_number": "5", "city": "Madrid"},
     {"house": "Bar Pepe", "road": "C/ Mayor", "house_number": "5", "city": "Madrid"}),
    ("ru", {"house": "Аптека", "road": "улица Ленина", "house_number": "10", "city": "Москва"},
     {"house": "Аптека", "road": "ул. Ленина", "house_number": "10", "city": "Moskva"}),
]
LANGUAGE_CHOICES = [None, "own"]


def keys(record, **keywords):
    labels, values = zip(*record.items())
    return addrnorm.near_dupe_hashes(list(labels), list(values), **keywords)


def with_languages(language, choice):
    return {} if choice is None else {"languages": [language]}


@pytest.mark.parametrize("choice", LANGUAGE_CHOICES, ids=["classifier", "languages"])
@pytest.mark.parametrize("language, one, other", SAME_PLACE, ids=[case[0] for case in SAME_PLACE])
def test_one_place_written_two_ways_shares_a_key(language, one, other, choice):
    first, second = keys(one, **with_languages(language, choice)), keys(other, **with_languages(language, choice))
    assert first and second, (first, second)
    shared = set(first) & set(second)
    assert shared, (first, second)
    # Name-and-address keys: each names the house number and ends with the
    # place (city or postcode) the records share.
    place = one.get("postcode") or "paris berlin madrid moskva"
    for key in shared:
        fields = key.split("|")
        assert fields[0].startswith("na") and fields[3] == one["house_number"], key
        assert fields[-1] in place.split(), key


@pytest.mark.parametrize("choice", LANGUAGE_CHOICES, ids=["classifier", "languages"])
@pytest.mark.parametrize("language, one, _", SAME_PLACE, ids=[case[0] for case in SAME_PLACE])
def test_other_house_numbers_share_no_name_and_address_key(language, one, _, choice):
    neighbour = dict(one, house_number=str(int(one["house_number"]) + 2))
    first, second = keys(one, **with_languages(language, choice)), keys(neighbour, **with_languages(language, choice))
    assert first and second
    assert not set(first) & set(second)


def test_address_only_keys_block_records_without_a_name():
    address = {"road": "Franklin Ave", "house_number": "781", "postcode": "11216"}
    assert keys(address) == []
    found = keys(address, address_only_keys=1)
    assert found and all(key.startswith("apc|") and key.endswith("|781|11216") for key in found), found
    named = keys(dict(address, house="Whole Foods"), address_only_keys=1)
    # With a name the record keeps its name keys and shares the address keys.
    assert set(found) <= set(named) and any(key.startswith("napc|") for key in named)
    assert set(found) & set(keys({"road": "Franklin Avenue", "house_number": "781", "postcode": "11216"},
                                 address_only_keys=1, languages=["en"]))


def geohash(latitude, longitude, precision):
    """The standard geohash of a point, to check the cells libpostal keys on."""
    alphabet, cell, code, count = "0123456789bcdefghjkmnpqrstuvwxyz", "", 0, 0
    # Bits alternate, longitude first, each halving its range.
    ranges = {"lon": [-180.0, 180.0], "lat": [-90.0, 90.0]}
    for index in range(precision * 5):
        axis, value = ("lon", longitude) if index % 2 == 0 else ("lat", latitude)
        low, high = ranges[axis]
        middle = (low + high) / 2
        upper = value >= middle
        ranges[axis] = [middle, high] if upper else [low, middle]
        code, count = code * 2 + upper, count + 1
        if count == 5:
            cell, code, count = cell + alphabet[code], 0, 0
    return cell


@pytest.mark.parametrize("precision", [4, 6, 7])
def test_latitude_longitude_keys_name_the_points_cell_and_neighbours(precision):
    record = {"house": "Whole Foods", "road": "Franklin Ave", "house_number": "781"}
    here = dict(with_latlon=1, latitude=40.6782, longitude=-73.9442, geohash_precision=precision)
    found = keys(record, **here)
    cells = {key.split("|")[-1] for key in found}
    assert all(key.startswith("nagh|") for key in found), found
    assert geohash(40.6782, -73.9442, precision) in cells and len(cells) == 9, cells
    assert all(len(cell) == precision for cell in cells)
    # A point a few metres away shares keys; one across the ocean none.
    assert set(found) & set(keys(record, **dict(here, latitude=40.67825, longitude=-73.94425)))
    assert not set(found) & set(keys(record, **dict(here, latitude=48.8566, longitude=2.3522)))


@pytest.mark.parametrize("languages", [None, ["en"]])
@pytest.mark.parametrize("record, keywords", [
    ({"house": "Whole Foods", "road": "Franklin Ave", "house_number": "781"}, {}),
    ({"house": "Whole Foods", "road": "Franklin Ave", "house_number": "781", "state": "NY", "country": "US"}, {}),
    ({"house": "Whole Foods", "road": "Franklin Ave", "house_number": "781", "name": "x", "street": "y"}, {}),
    ({"house": "Whole Foods", "house_number": "781", "postcode": "11216"}, {"with_postal_code": 0}),
    ({"house": "Whole Foods", "house_number": "781", "city": "Brooklyn"},
     {"with_city_or_equivalent": 0, "with_postal_code": 0, "with_small_containing_boundaries": 0}),
    ({"house": "Whole Foods", "road": "Franklin Ave", "house_number": "781"}, {"with_latlon": 1}),
], ids=["no-place", "only-large-places", "unknown-labels", "postcode-off", "all-places-off", "latlon-at-zero"])
def test_a_record_with_no_geographic_field_gives_none(record, keywords, languages):
    assert keys(record, languages=languages, **keywords) is None
