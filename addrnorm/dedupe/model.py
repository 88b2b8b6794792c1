"""The de-duplication model: Fellegi and Sunter's, through Splink.

Each field is compared on an ordered list of levels, from the most telling
agreement down to none: missing, the same as written, the same to libpostal
(their expansions share a form), the same root, one keystroke apart (a
typo), similar text (words only), anything else.  A pair falls into the first level that
holds.  Every level has two probabilities: m, that a duplicate pair falls
into it, and u, that two different records do.  Their ratio is the level's
match weight.  Nothing of it is written by hand: u is counted on random
pairs of the input, m and the share of duplicates are estimated by
expectation maximisation on the pairs that blocking brings, and frequent
values (a common surname, the main street) weigh less when they agree than
rare ones (term frequencies).  So the model is learned afresh from each
input, and the same defaults serve places and persons.
"""
from typing import Any, Dict, List

from addrnorm.dedupe.fields import NAME, NUMBER, PLACE, STREET

# The match probability at which a pair is taken as a duplicate: the pair
# is more likely the same than not.
DEFAULT_THRESHOLD = 0.5
# Records sharing one near-duplicate key beyond which the key brings no
# pairs: such a key says little (a chain's name in a large town) and would
# cost a number of pairs that grows with the square of the block.
DEFAULT_MAX_BLOCK = 100
# The text similarity levels of each kind beyond one keystroke: Jaro-Winkler
# thresholds for words, none for numbers.
_SIMILAR = {NAME: (0.92, 0.8), STREET: (0.92, 0.8), PLACE: (0.9,), NUMBER: ()}
# Kinds whose agreement weighs by the value's frequency.
_FREQUENCY = {NAME, STREET, PLACE}


def comparison(field, libpostal=True, names=()):
    """The comparison of one field, as Splink's levels; without libpostal's
    levels, for measuring what they add.  A name compared beside other
    names (names: their fields) may be found in another's column (a given
    name and a surname swapped), or written as its initial."""
    import splink.comparison_level_library as cll
    import splink.comparison_library as cl

    # Splink takes levels and their dictionaries alike.
    levels: List[Any] = [
        cll.NullLevel(field.written),
        cll.ExactMatchLevel(field.written, term_frequency_adjustments=field.kind in _FREQUENCY)
        .configure(label_for_charts="same as written"),
    ]
    if libpostal:
        levels += [cll.ArrayIntersectLevel(field.expansions, 1).configure(label_for_charts="libpostal: same"),
                   cll.ArrayIntersectLevel(field.roots, 1).configure(label_for_charts="libpostal: same root")]
    others = [other for other in names if other is not field]
    if field.kind == NAME and others:
        swapped = [cll.ColumnsReversedLevel(field.written, other.written) for other in others]
        levels.append((swapped[0] if len(swapped) == 1 else cll.Or(*swapped))
                      .configure(label_for_charts="in another name's column"))
    # A typo is one keystroke; two relatives' names ("Frances", "Frank") are
    # similar but further apart, and the data tells how often each kind of
    # pair is a duplicate.
    levels.append(cll.DamerauLevenshteinLevel(field.written, 1).configure(label_for_charts="one keystroke apart"))
    for threshold in _SIMILAR[field.kind]:
        levels.append(cll.JaroWinklerLevel(field.written, threshold)
                      .configure(label_for_charts="similar text (Jaro-Winkler %g)" % threshold))
    if field.kind == NAME:
        # "J." or "J" for "John": one side is its first letter alone.
        levels.append(cll.CustomLevel(
            "(length(regexp_replace({0}_l, '[^[:alnum:]]', '')) = 1 OR "
            "length(regexp_replace({0}_r, '[^[:alnum:]]', '')) = 1) AND "
            "substr({0}_l, 1, 1) = substr({0}_r, 1, 1)".format(field.written))
            .configure(label_for_charts="an initial of the other"))
    levels.append(cll.ElseLevel().configure(label_for_charts="different"))
    return cl.CustomComparison(levels, output_column_name=field.name,
                               comparison_description="%s (%s, %s)" % (field.column, field.label, field.kind))


# The labels that say where a record is, besides the street and the places:
# compared together as its address.
_WHERE_NUMBERS = ("house_number", "postcode", "unit", "level", "staircase", "entrance", "po_box")
_UNITS = ("unit", "level", "staircase", "entrance")
# The address comparison's name: field names are the columns' own, with a
# trailing "_" where they clash, so "__address" meets none.
ADDRESS = "__address"


def where_fields(fields):
    """The fields that together say where a record is: streets, house
    numbers, units, postcodes and places."""
    return [field for field in fields if field.kind in (STREET, PLACE) or field.label in _WHERE_NUMBERS]


def address_comparison(fields, libpostal=True):
    """The fields that say where a record is, compared as one address.

    They are not independent of each other: two records on one street share
    its postcode and town too, and weighing each agreement on its own would
    count one fact several times, until a neighbour in the same building
    outweighed any difference of name.  So the address is one comparison,
    whose levels go from the same address (street, house number and unit)
    through the same street to the same postcode or place; a street level
    holds only where the postcode and places do not contradict it (one
    Main Street per town).  Each level's weight is learned like any other."""
    import splink.comparison_level_library as cll
    import splink.comparison_library as cl

    def same(field):
        level = cll.ExactMatchLevel(field.written)
        return cll.Or(level, cll.ArrayIntersectLevel(field.expansions, 1)) if libpostal else level

    def close(field):
        levels = [same(field), cll.DamerauLevenshteinLevel(field.written, 1)]
        if libpostal:
            levels.append(cll.ArrayIntersectLevel(field.roots, 1))
        if field.kind in (STREET, PLACE):
            levels.append(cll.JaroWinklerLevel(field.written, 0.92))
        return cll.Or(*levels)

    def any_of(test, group):
        return test(group[0]) if len(group) == 1 else cll.Or(*(test(field) for field in group))

    def missing(group):
        tests = [cll.NullLevel(field.written) for field in group]
        return tests[0] if len(tests) == 1 else cll.And(*tests)

    streets = [field for field in fields if field.kind == STREET]
    numbers = [field for field in fields if field.label == "house_number"]
    units = [field for field in fields if field.label in _UNITS]
    codes = [field for field in fields if field.label == "postcode"]
    places = [field for field in fields if field.kind == PLACE]
    area = codes + places
    # Nothing of the postcode or places differs beyond a typo.
    agrees = cll.And(*(cll.Or(cll.NullLevel(field.written), close(field)) for field in area)) if area else None

    def within(*tests):
        tests = tests + ((agrees,) if agrees is not None else ())
        return tests[0] if len(tests) == 1 else cll.And(*tests)

    levels: List[Any] = [missing(where_fields(fields)).configure(is_null_level=True)]
    if streets and numbers:
        if units:
            levels.append(within(any_of(same, streets), any_of(same, numbers), any_of(same, units))
                          .configure(label_for_charts="same address and unit"))
        levels += [
            within(any_of(same, streets), any_of(same, numbers)).configure(label_for_charts="same address"),
            within(any_of(close, streets), any_of(same, numbers))
            .configure(label_for_charts="same address, the street written differently"),
            # Apart from the street's typo: one keystroke from a house
            # number of one digit or two is the next building as often as
            # a typo, and the data tells how often.
            within(any_of(close, streets), any_of(close, numbers))
            .configure(label_for_charts="same street, house number one keystroke apart"),
            within(any_of(close, streets), missing(numbers))
            .configure(label_for_charts="same street, no house number to compare"),
            within(any_of(close, streets)).configure(label_for_charts="same street, another house number"),
        ]
    elif streets:
        levels += [within(any_of(same, streets)).configure(label_for_charts="same street"),
                   within(any_of(close, streets)).configure(label_for_charts="same street, written differently")]
    for field in codes:
        levels += [same(field).configure(label_for_charts="same %s" % field.label),
                   cll.DamerauLevenshteinLevel(field.written, 1)
                   .configure(label_for_charts="%s one keystroke apart" % field.label)]
    for field in places:
        levels.append(close(field).configure(label_for_charts="same %s" % field.label))
    levels.append(cll.ElseLevel().configure(label_for_charts="elsewhere"))
    return cl.CustomComparison(levels, output_column_name=ADDRESS, comparison_description="address (%s)" % (
        ", ".join("%s: %s" % (field.column, field.label) for field in where_fields(fields))))


# The comparisons that take back what a name's agreement and the address's
# count twice (kin_comparison): KIN and the name's field name.
KIN = "__kin_"


def kin_comparison(name, street, number, area=None):
    """What a name's agreement at one address, or on one street, counts
    twice beside the address: the correction, learned before training
    (addrnorm.dedupe.training.weigh_kin) and held since.

    Fellegi and Sunter take the comparisons as independent within the pairs
    of different records.  Where records are people, they are not: the
    members of a household share a surname and a flat, and two neighbours
    of one street share its language and so their names more often than
    two people taken at random.  Weighed apart, the address and the
    surname would count that one fact twice, and a household would
    outweigh any difference of given name.  This comparison's levels weigh
    log2(how often two people taken at random share the name / how often
    two people at the address, on the street, or in the area (a postcode)
    do): 0 where the name is no more often shared there, negative where it
    is."""
    import splink.comparison_level_library as cll
    import splink.comparison_library as cl

    columns = dict(n=name.written, s=street.written, h=number.written)
    held: Dict[str, Any] = dict(m_probability=1.0, u_probability=1.0, fix_m_probability=True, fix_u_probability=True)
    levels: List[Any] = [
        cll.CustomLevel("{n}_l IS NULL OR {n}_r IS NULL OR {s}_l IS NULL OR {s}_r IS NULL".format(**columns))
        .configure(is_null_level=True),
        cll.CustomLevel("{n}_l = {n}_r AND {s}_l = {s}_r AND {h}_l = {h}_r".format(**columns))
        .configure(label_for_charts="the same %s at one address" % name.column, **held),
        cll.CustomLevel("{n}_l = {n}_r AND {s}_l = {s}_r".format(**columns))
        .configure(label_for_charts="the same %s on one street" % name.column, **held),
    ]
    if area is not None:
        levels.append(cll.CustomLevel("{n}_l = {n}_r AND {a}_l = {a}_r".format(a=area.written, **columns))
                      .configure(label_for_charts="the same %s in one %s" % (name.column, area.column), **held))
    levels.append(cll.ElseLevel().configure(label_for_charts="no correction", **held))
    return cl.CustomComparison(levels, output_column_name=KIN + name.name,
                               comparison_description="%s at the address" % name.column)


def kin_parts(fields):
    """(names, street, house number, postcode or None) of records that can
    take a kin correction: two or more names, and a street and house
    number."""
    names = [field for field in fields if field.kind == NAME]
    streets = [field for field in fields if field.kind == STREET]
    numbers = [field for field in fields if field.label == "house_number"]
    codes = [field for field in fields if field.label == "postcode"] + [None]
    if len(names) > 1 and streets and numbers:
        return names, streets[0], numbers[0], codes[0]
    return names, None, None, None


def comparisons(fields, libpostal=True, together=True):
    """The model's comparisons: the address (see address_comparison), then
    every other field on its own.  Each is (its name, the fields it reads,
    Splink's comparison).  Records that give nothing but where they are
    compare each field on its own: a model of one comparison has nothing
    to learn its m from."""
    where = where_fields(fields) if together else []
    if len(where) == len(fields):
        where = []
    compared = [(ADDRESS, where, address_comparison(where, libpostal))] if where else []
    names, street, number, area = kin_parts(fields)
    compared += [(field.name, [field], comparison(field, libpostal, names)) for field in fields if field not in where]
    if where and street is not None:
        read = [street, number] + ([area] if area is not None else [])
        compared += [(KIN + name.name, [name] + read, kin_comparison(name, street, number, area)) for name in names]
    return compared


def blocking_rules(fields, libpostal=True):
    """The pairs that are compared: those that share a near-duplicate key
    (libpostal's: a sound of the name, an expansion of the street, the
    house number, the postcode or town), and those that share any one
    field's value exactly, which finds duplicates whose place was written
    quite differently.  Values and keys that too many records share bring
    no pairs (see addrnorm.dedupe.engine)."""
    from splink import block_on

    keys = [block_on("keys", arrays_to_explode=["keys"])] if libpostal else []
    return keys + [block_on(field.written + "__b") for field in fields]


def settings(fields, explain=False, libpostal=True, together=True):
    """A model to train: the comparisons of the fields and the blocking rules.
    explain keeps, for each pair scored, the values compared and each
    level's weights, which --pairs and the report show; libpostal=False
    leaves libpostal's levels and keys out (to measure what they add)."""
    from splink import SettingsCreator

    compared = [made for _, _, made in comparisons(fields, libpostal, together)]
    return SettingsCreator(link_type="dedupe_only", comparisons=compared,
                           blocking_rules_to_generate_predictions=blocking_rules(fields, libpostal),
                           retain_intermediate_calculation_columns=explain, retain_matching_columns=explain)


def saved_settings(saved, fields, explain=False):
    """A saved model (its JSON as a dict, or the path of its file) to apply
    to records of these fields; ValueError if it compares other fields."""
    import json

    if not isinstance(saved, dict):
        with open(saved, encoding="utf-8") as file:
            try:
                saved = json.load(file)
            except ValueError as error:
                raise ValueError("%s is not a saved model: %s" % (saved, error)) from None
    try:
        compared = [comparison["output_column_name"] for comparison in saved["comparisons"]]
    except (KeyError, TypeError):
        raise ValueError("not a saved model: no comparisons") from None
    given = [name for name, _, _ in comparisons(fields, together=ADDRESS in compared)]
    if compared != given:
        raise ValueError("the model compares the fields %s, the records give %s: map the same columns to the "
                         "same labels as when it was trained" % (", ".join(compared), ", ".join(given) or "none"))
    return dict(saved, retain_intermediate_calculation_columns=explain, retain_matching_columns=explain)
