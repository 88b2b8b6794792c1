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
from typing import Any, List

from addrnorm.dedupe.address import ADDRESS, KIN, address_comparison, kin_comparison, kin_parts, where_fields
from addrnorm.dedupe.errors import RefusedInput
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
# The labels of a field's levels that the kin comparison reads (see
# addrnorm.dedupe.training.weigh_kin).
SAME, KEYSTROKE = "same as written", "one keystroke apart"
# Kinds whose agreement weighs by the value's frequency.
_FREQUENCY = {NAME, STREET, PLACE}


def comparison(field, libpostal=True, names=()):
    """The comparison of one field, as Splink's levels; without libpostal's
    levels, for measuring what they add.  A name compared beside other
    names (names: their fields) may be found in another's column (a given
    name and a surname swapped), or written as its initial."""
    import splink.comparison_level_library as cll
    import splink.comparison_library as cl

    from addrnorm.dedupe.levels import initial, one_keystroke, shares_form

    # Splink takes levels and their dictionaries alike.
    levels: List[Any] = [
        cll.NullLevel(field.written),
        cll.ExactMatchLevel(field.written, term_frequency_adjustments=field.kind in _FREQUENCY)
        .configure(label_for_charts=SAME),
    ]
    if libpostal:
        levels += [shares_form(field.expansions).configure(label_for_charts="libpostal: same"),
                   shares_form(field.roots).configure(label_for_charts="libpostal: same root")]
    others = [other for other in names if other is not field]
    if field.kind == NAME and others:
        levels.append(cll.CustomLevel(" OR ".join(_swapped_sql(field.written, other.written) for other in others))
                      .configure(label_for_charts="in another name's column"))
    # A typo is one keystroke; two relatives' names ("Frances", "Frank") are
    # similar but further apart, and the data tells how often each kind of
    # pair is a duplicate.
    levels.append(one_keystroke(field.written).configure(label_for_charts=KEYSTROKE))
    for threshold in _SIMILAR[field.kind]:
        levels.append(cll.JaroWinklerLevel(field.written, threshold)
                      .configure(label_for_charts="similar text (Jaro-Winkler %g)" % threshold))
    if field.kind == NAME:
        # "J." or "J" for "John": one side is its first letter alone.
        levels.append(initial(field.written).configure(label_for_charts="an initial of the other"))
    levels.append(cll.ElseLevel().configure(label_for_charts="different"))
    return cl.CustomComparison(levels, output_column_name=field.name,
                               comparison_description="%s (%s, %s)" % (field.column, field.label, field.kind))


def _swapped_sql(name, other):
    """Whether one record's name stands in the other's other column, and
    that other name in this one's, the second as written, or with a typo,
    or as an initial: a duplicate whose names were swapped was often
    corrupted too."""
    def close(left, right):
        left, right = "lower({0})".format(left), "lower({0})".format(right)
        return ("({0} = {1} OR (abs(length({0}) - length({1})) <= 2 AND levenshtein({0}, {1}) <= 2) OR "
                "((length({0}) <= 2 OR length({1}) <= 2) AND substr({0}, 1, 1) = substr({1}, 1, 1)))").format(
                    left, right)

    exact = "lower({0}) = lower({1})"
    return "({0} AND {1}) OR ({2} AND {3})".format(
        exact.format(name + "_l", other + "_r"), close(other + "_l", name + "_r"),
        exact.format(other + "_l", name + "_r"), close(name + "_l", other + "_r"))


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
        compared += [(KIN + name.name, [name] + read, kin_comparison(name, street, number, area, libpostal))
                     for name in names]
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


def saved_settings(saved, fields, explain=False, dialect="duckdb"):
    """A saved model (its JSON as a dict, or the path of its file) to apply
    to records of these fields on an engine (its SQL dialect: "duckdb" or
    "spark"); RefusedInput if it compares other fields."""
    import json

    if not isinstance(saved, dict):
        with open(saved, encoding="utf-8") as file:
            try:
                saved = json.load(file)
            except ValueError as error:
                raise RefusedInput("%s is not a saved model: %s" % (saved, error)) from None
    try:
        compared = [comparison["output_column_name"] for comparison in saved["comparisons"]]
    except (KeyError, TypeError):
        raise RefusedInput("not a saved model: no comparisons") from None
    ours = settings(fields, together=ADDRESS in compared).create_settings_dict(dialect)
    given = [comparison["output_column_name"] for comparison in ours["comparisons"]]
    if compared != given:
        raise RefusedInput("the model compares the fields %s, the records give %s: map the same columns to the "
                         "same labels as when it was trained" % (", ".join(compared), ", ".join(given) or "none"))
    return dict(_written_for(saved, ours), retain_intermediate_calculation_columns=explain,
                retain_matching_columns=explain)


def _written_for(saved, ours):
    """The saved model's learned numbers on the conditions and blocking
    rules written for the engine at hand (ours: the settings this version
    makes for the fields, in its dialect): a model learned on DuckDB then
    applies on Spark, whose SQL differs.  A comparison whose saved levels
    are not the ones written here (another version's: their labels differ)
    keeps its saved conditions."""
    compared = []
    for theirs, mine in zip(saved["comparisons"], ours["comparisons"]):
        levels, own = theirs["comparison_levels"], mine["comparison_levels"]
        if [level.get("label_for_charts") for level in levels] == [level.get("label_for_charts") for level in own]:
            levels = [dict(level, sql_condition=written["sql_condition"]) for level, written in zip(levels, own)]
        compared.append(dict(theirs, comparison_levels=levels))
    return dict(saved, comparisons=compared,
                blocking_rules_to_generate_predictions=ours["blocking_rules_to_generate_predictions"])
