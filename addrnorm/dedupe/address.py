"""Where a record is, compared as one: the address comparison, whose levels
go from one flat to one town, and the kin comparisons that take back what
a name shared at one address counts twice beside it (see
addrnorm.dedupe.model for the model they belong to)."""
from typing import Any, Dict, List

from addrnorm.dedupe.fields import NAME, PLACE, STREET

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


def _same(field, libpostal=True):
    """The address's test of one of its fields: the same as written, or to
    libpostal."""
    import splink.comparison_level_library as cll

    from addrnorm.dedupe.levels import shares_form

    level = cll.ExactMatchLevel(field.written)
    return cll.Or(level, shares_form(field.expansions)) if libpostal else level


def _close(field, libpostal=True):
    """The same, or a typo, a root in common, or (a street or place) similar
    text: one street or town written differently."""
    import splink.comparison_level_library as cll

    from addrnorm.dedupe.levels import one_keystroke, shares_form

    levels = [_same(field, libpostal), one_keystroke(field.written)]
    if libpostal:
        levels.append(shares_form(field.roots))
    if field.kind in (STREET, PLACE):
        levels.append(cll.JaroWinklerLevel(field.written, 0.92))
    return cll.Or(*levels)


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

    from addrnorm.dedupe.levels import one_keystroke

    def same(field):
        return _same(field, libpostal)

    def close(field):
        return _close(field, libpostal)

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
    # Each level tests the house number before the street: most pairs have
    # other numbers, and a level's tests stop at the first that fails,
    # where the street's take the longest.
    if streets and numbers:
        if units:
            levels.append(within(any_of(same, numbers), any_of(same, units), any_of(same, streets))
                          .configure(label_for_charts="same address and unit"))
        levels += [
            within(any_of(same, numbers), any_of(same, streets)).configure(label_for_charts="same address"),
            within(any_of(same, numbers), any_of(close, streets))
            .configure(label_for_charts="same address, the street written differently"),
            # Apart from the street's typo: one keystroke from a house
            # number of one digit or two is the next building as often as
            # a typo, and the data tells how often.
            within(any_of(close, numbers), any_of(close, streets))
            .configure(label_for_charts="same street, house number one keystroke apart"),
            within(missing(numbers), any_of(close, streets))
            .configure(label_for_charts="same street, no house number to compare"),
            within(any_of(close, streets)).configure(label_for_charts="same street, another house number"),
        ]
    elif streets:
        levels += [within(any_of(same, streets)).configure(label_for_charts="same street"),
                   within(any_of(close, streets)).configure(label_for_charts="same street, written differently")]
    for field in codes:
        levels += [same(field).configure(label_for_charts="same %s" % field.label),
                   one_keystroke(field.written)
                   .configure(label_for_charts="%s one keystroke apart" % field.label)]
    for field in places:
        levels.append(close(field).configure(label_for_charts="same %s" % field.label))
    levels.append(cll.ElseLevel().configure(label_for_charts="elsewhere"))
    return cl.CustomComparison(levels, output_column_name=ADDRESS, comparison_description="address (%s)" % (
        ", ".join("%s: %s" % (field.column, field.label) for field in where_fields(fields))))


# The comparisons that take back what a name's agreement and the address's
# count twice (kin_comparison): KIN and the name's field name.
KIN = "__kin_"


def kin_comparison(name, street, number, area=None, libpostal=True):
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
    is.  One address and one street are the address comparison's: a street
    written differently is still the household's."""
    import splink.comparison_level_library as cll
    import splink.comparison_library as cl

    from addrnorm.dedupe.levels import within_edits

    columns = dict(n=name.written, s=street.written)
    held: Dict[str, Any] = dict(m_probability=1.0, u_probability=1.0, fix_m_probability=True, fix_u_probability=True)
    # As written or a keystroke apart: a relative's record has its typos too.
    shared = cll.Or(cll.ExactMatchLevel(name.written), within_edits(name.written, 1))
    levels: List[Any] = [
        cll.CustomLevel("{n}_l IS NULL OR {n}_r IS NULL OR {s}_l IS NULL OR {s}_r IS NULL".format(**columns))
        .configure(is_null_level=True),
        cll.And(_same(number, libpostal), shared, _close(street, libpostal))
        .configure(label_for_charts="the same %s at one address" % name.column, **held),
        cll.And(shared, _close(street, libpostal))
        .configure(label_for_charts="the same %s on one street" % name.column, **held),
    ]
    if area is not None:
        levels.append(cll.And(shared, _same(area, libpostal))
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
