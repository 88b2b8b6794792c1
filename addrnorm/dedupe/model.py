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
import copy
import math

from addrnorm.dedupe.fields import NAME, NUMBER, PLACE, STREET

# The match probability at which a pair is taken as a duplicate: the pair
# is more likely the same than not.
DEFAULT_THRESHOLD = 0.5
# Records sharing one near-duplicate key beyond which the key brings no
# pairs: such a key says little (a chain's name in a large town) and would
# cost a number of pairs that grows with the square of the block.
DEFAULT_MAX_BLOCK = 100
# Random pairs that u is counted on, at most; and the seed, so that a run
# on the same input gives the same model.
U_PAIRS = 1e6
SEED = 1
# Blocked pairs that one session of expectation maximisation learns from, at
# most (a sample of them, beyond that).
EM_PAIRS = 1e6

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

    levels = [
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

    levels = [missing(where_fields(fields)).configure(is_null_level=True)]
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


def where_goes_together(fields, engine):
    """Whether, in these records, two different records on one street mostly
    share its postcode or a place: as in real data, where one street lies
    in one postcode and town.  Then the address is compared as one
    (address_comparison); where the fields were drawn independently of each
    other, each is evidence of its own and is compared on its own.  The
    pairs on one street whose names all differ stand for different records
    (a duplicate keeps at least one of its names)."""
    from addrnorm.dedupe.engine import same_street_sql

    where = where_fields(fields)
    streets = [field for field in where if field.kind == STREET]
    area = [field for field in where if field.label == "postcode" or field.kind == PLACE]
    names = [field for field in fields if field not in where]
    if not streets or not area or not names:
        return False
    for field in area:
        pairs, together = engine.row(same_street_sql(streets[0], field, names))
        if pairs and 2 * (together or 0) > pairs:
            return True
    return False


# The comparisons that take back what a name's agreement and the address's
# count twice (kin_comparison): KIN and the name's field name.
KIN = "__kin_"


def kin_comparison(name, street, number, area=None):
    """What a name's agreement at one address, or on one street, counts
    twice beside the address: the correction, learned before training
    (weigh_kin) and held since.

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
    held = dict(m_probability=1.0, u_probability=1.0, fix_m_probability=True, fix_u_probability=True)
    levels = [
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


def _kin_parts(fields):
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


def weigh_kin(linker, fields, row):
    """Sets each kin comparison's weights from the records (see
    kin_comparison): row(sql) runs a query.  The share of people taken at
    random who share the name is the u of its "same as written" level,
    counted on random pairs; the share of people at one address (on one
    street) who do is counted on the pairs there whose other names plainly
    differ.  No correction where they share it no more often, or where
    none is found to."""
    from addrnorm.dedupe.engine import kin_area_sql, kin_sql

    names, street, number, area = _kin_parts(fields)
    by_name = {comparison.output_column_name: comparison for comparison in linker._settings_obj.comparisons}
    for name in names:
        kin = by_name.get(KIN + name.name)
        if kin is None:
            continue
        at_random = by_name[name.name].comparison_levels[1].u_probability
        others = [other for other in names if other is not name]
        here, here_shared, there, there_shared = row(kin_sql(name, others, street, number))
        counts = [(here, here_shared), (there, there_shared)]
        if area is not None:
            counts.append(row(kin_area_sql(name, others, area, street)))
        counted = [level for level in kin.comparison_levels if not level.is_null_level]
        for level, (pairs, shared) in zip(counted, counts):
            share = (shared or 0) / pairs if pairs else 0.0
            level.m_probability = min(1.0, at_random / share) if share and isinstance(at_random, float) else 1.0


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
    names, street, number, area = _kin_parts(fields)
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

    return SettingsCreator(link_type="dedupe_only", comparisons=[made for _, _, made in comparisons(fields, libpostal, together)],
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
                raise ValueError("%s is not a saved model: %s" % (saved, error))
    try:
        compared = [comparison["output_column_name"] for comparison in saved["comparisons"]]
    except (KeyError, TypeError):
        raise ValueError("not a saved model: no comparisons")
    given = [name for name, _, _ in comparisons(fields, together=ADDRESS in compared)]
    if compared != given:
        raise ValueError("the model compares the fields %s, the records give %s: map the same columns to the "
                         "same labels as when it was trained" % (", ".join(compared), ", ".join(given) or "none"))
    _tolerate_learned_zeros()
    return dict(saved, retain_intermediate_calculation_columns=explain, retain_matching_columns=explain)


def training_blocks(fields, pair_counts, together=True):
    """The sessions of expectation maximisation, as (the columns it blocks
    on, whether it estimates the prior, the comparisons whose m it keeps:
    None for all), from the labels alone.

    Each name on its own: pairs that share a name are one person or place
    written twice, or namesakes and a chain's branches elsewhere, and the
    address and the other names tell which; so they teach what the address
    and every other name look like in a duplicate.  The prior comes from
    these sessions, or, where there are several names and the address is
    compared as one, from a session on the pairs that share all the names:
    where people live crowded (households, tenants of one building,
    namesakes in one town), the pairs that share only a surname hold so
    many relatives and neighbours that expectation maximisation takes
    many of them for duplicates, and their share would make the prior
    several times too large; the pairs that share the whole name are
    mostly one person written twice.

    Where the address is compared as one (where_goes_together), two more
    sessions learn on the pairs of one area (a postcode, else the most
    local place given: the first whose values bring pairs, as a value
    more than max_block records share brings none), where neighbours,
    tenants of one building and duplicates meet.  The first learns the names' m, holding the address's
    as the name sessions learned it; the second learns the address's,
    holding the names'.  One session alone cannot tell a duplicate from a
    neighbour or a namesake with only one comparison left to learn from:
    the other comparison, held, anchors which pairs are duplicates.  Each
    replaces what the earlier sessions learned of its comparisons; the
    address's levels below one area are then known to hold no duplicate.

    Records without names, or whose sessions bring no pairs, fall back to
    a session per field.  In every session a value that more than
    max_block records share brings no pair, as in blocking: a state shared
    by thousands is not one, and the sessions stay within bounds at any
    size.  pair_counts(groups) gives the pairs that agree on all the
    columns of each group."""
    # The kin comparisons are weighed before training, and held.
    compared = [made for made in comparisons(fields, together=together) if not made[0].startswith(KIN)]
    names = [field for field in fields if field.kind == NAME]
    where = where_fields(fields)
    sessions = []
    if names:
        alone = [[field.written, field.written + "__b"] for field in names]
        joint = [[column for group in alone for column in group]] if together and len(alone) > 1 else []
        areas = [field for field in where if field.label == "postcode"] + [field for field in where if field.kind == PLACE]
        areas = areas if together else []
        counts = pair_counts(alone + joint + [[field.written + "__b"] for field in areas])
        if joint and counts[len(alone)]:
            sessions = [(group, False, None) for group, count in zip(alone, counts) if count] + [(joint[0], True, None)]
        else:
            sessions = [(group, True, None) for group, count in zip(alone, counts) if count]
        # The most local area whose values few enough records share.
        area = next((field for field, count in zip(areas, counts[len(alone) + len(joint):]) if count), None)
        if sessions and area:
            block = [area.written + "__b"]
            sessions += [(block, False, {name for name, _, _ in compared if name != ADDRESS}), (block, False, {ADDRESS})]
    learned = set()
    for group, _, keep in sessions:
        learned |= {name for name, read, _ in compared if not {field.written for field in read} & set(group)
                    and (keep is None or name in keep)}
    if len(learned) < len(compared):
        singles = [[field.written, field.written + "__b"] for field in fields]
        sessions = [(group, True, None) for group, count in zip(singles, pair_counts(singles)) if count]
    return sessions


def train(linker, fields, pair_counts, records, together=True, row=None):
    """Estimates every parameter from the input: u on random pairs; m, by
    expectation maximisation, on the pairs of each session that
    training_blocks gives (a comparison's m is learned where the pairs were
    chosen by other fields), the median over the sessions; and the prior
    that two random records are duplicates, from the share of duplicates
    the name sessions found, reversed for the field each blocked on.
    Returns the number of sessions that learned something: on a handful of
    records a session may find nothing to learn and is left out; with
    none, m keeps Splink's starting values."""
    from splink import block_on
    from splink.internals.exceptions import EMTrainingException, SplinkException

    linker.training.estimate_u_using_random_sampling(max_pairs=min(U_PAIRS, pair_count(records)), seed=SEED)
    _tolerate_learned_zeros()
    if row is not None:
        weigh_kin(linker, fields, row)
    learned = 0
    # The sessions whose share of duplicates gives the prior.
    priors = []
    for group, prior, keep in training_blocks(fields, pair_counts, together):
        # A session that fails has already changed the linker's settings:
        # they are put back as they were before it.
        settings, sessions = copy.deepcopy(linker._settings_obj), list(linker._em_training_sessions)
        # A session that keeps only some comparisons' m holds the others' m
        # as learned so far.  Its pairs all share an area, which two records
        # taken at random rarely do, so every comparison learns its u on
        # them for the session (nearly all of them different records), and
        # then takes its u from random pairs again.
        _hold(linker, keep, True)
        try:
            linker.training.estimate_parameters_using_expectation_maximisation(
                block_on(*group), max_pairs=EM_PAIRS, fix_u_probabilities=keep is None,
                populate_probability_two_random_records_match_from_trained_values=keep is None)
            if not _learned_numbers(linker):
                raise EMTrainingException("no duplicate among the pairs")
        except (EMTrainingException, SplinkException, ValueError):
            linker._settings_obj, linker._em_training_sessions = settings, sessions
            continue
        finally:
            _hold(linker, keep, False)
        if keep is not None:
            _forget_session(linker, settings, keep)
            # Its m stays learned; its share of duplicates is no estimate
            # of the prior, which Splink draws from every session listed.
            linker._em_training_sessions = sessions
        elif prior:
            priors.append(linker._em_training_sessions[-1])
        learned += 1
    if priors:
        linker._em_training_sessions = priors
    if linker._em_training_sessions:
        # The prior is the prior sessions' share of duplicates reversed by
        # the weight of the names they blocked on: with the m that the later
        # sessions learned for them, not the one they had when they ran.
        linker._populate_probability_two_random_records_match_from_trained_values()
    return learned


def _hold(linker, keep, held):
    """Holds (or lets go) the m of every comparison but those in keep."""
    if keep is None:
        return
    for comparison in linker._settings_obj.comparisons:
        if comparison.output_column_name not in keep and not comparison.output_column_name.startswith(KIN):
            for level in comparison.comparison_levels:
                level._fix_m_probability = held


def _forget_session(linker, before, keep):
    """Takes back the u that the last session learned on its pairs alone,
    and what it learned of the comparisons not in keep; those in keep take
    its m in place of the earlier sessions'."""
    earlier = {comparison.output_column_name: comparison for comparison in before.comparisons}
    for comparison in linker._settings_obj.comparisons:
        for level, old in zip(comparison.comparison_levels, earlier[comparison.output_column_name].comparison_levels):
            level._trained_u_probabilities = list(old._trained_u_probabilities)
            if comparison.output_column_name not in keep:
                level._trained_m_probabilities = list(old._trained_m_probabilities)
            elif not level.is_null_level:
                # What this session learned replaces what the others did: a
                # level none of its pairs reached has no duplicate in it.
                added = level._trained_m_probabilities[len(old._trained_m_probabilities):]
                numbers = [entry for entry in added if isinstance(entry["probability"], (int, float))]
                level._trained_m_probabilities = numbers[-1:] or [
                    {"probability": 0.0, "description": "not reached", "m_or_u": "m"}]
    linker._populate_m_u_from_trained_values()


def _learned_numbers(linker):
    """Whether every probability the model holds is a number: on pairs
    where expectation maximisation finds no duplicate at all, m is 0/0."""
    probabilities = [linker._settings_obj._probability_two_random_records_match]
    for comparison in linker._settings_obj.comparisons:
        for level in comparison.comparison_levels:
            if not level.is_null_level:
                probabilities += [level.m_probability, level.u_probability]
    return all(value is None or isinstance(value, str) or math.isfinite(value) for value in probabilities)


def _tolerate_learned_zeros():
    """Lets expectation maximisation learn that no duplicate falls into a
    level (an m of 0, as when every pair of two different names is two
    records).  Splink 5.0 refuses to store a probability below 1e-300, which
    its own weights clamp to anyway, and so would fail the session on data
    that tells exactly that; the value is stored, and clamped where it is
    used, as before."""
    from splink.internals import comparison_level

    check = comparison_level._validate_m_u_probability
    if getattr(check, "tolerates_zero", False):
        return

    def tolerant(value, name, not_observed):
        if isinstance(value, (int, float)) and 0.0 <= value < comparison_level.M_U_CLAMP_MIN:
            return
        check(value, name, not_observed)

    tolerant.tolerates_zero = True
    comparison_level._validate_m_u_probability = tolerant


def pair_count(records):
    return records * (records - 1) // 2
