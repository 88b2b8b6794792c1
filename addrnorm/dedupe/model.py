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


def comparison(field, libpostal=True):
    """The comparison of one field, as Splink's levels; without libpostal's
    levels, for measuring what they add."""
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
    # A typo is one keystroke; two relatives' names ("Frances", "Frank") are
    # similar but further apart, and the data tells how often each kind of
    # pair is a duplicate.
    levels.append(cll.DamerauLevenshteinLevel(field.written, 1).configure(label_for_charts="one keystroke apart"))
    for threshold in _SIMILAR[field.kind]:
        levels.append(cll.JaroWinklerLevel(field.written, threshold)
                      .configure(label_for_charts="similar text (Jaro-Winkler %g)" % threshold))
    levels.append(cll.ElseLevel().configure(label_for_charts="different"))
    return cl.CustomComparison(levels, output_column_name=field.name,
                               comparison_description="%s (%s, %s)" % (field.column, field.label, field.kind))


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


def settings(fields, explain=False, libpostal=True):
    """A model to train: the comparisons of the fields and the blocking rules.
    explain keeps, for each pair scored, the values compared and each
    level's weights, which --pairs and the report show; libpostal=False
    leaves libpostal's levels and keys out (to measure what they add)."""
    from splink import SettingsCreator

    return SettingsCreator(link_type="dedupe_only", comparisons=[comparison(field, libpostal) for field in fields],
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
    given = [field.name for field in fields]
    if compared != given:
        raise ValueError("the model compares the fields %s, the records give %s: map the same columns to the "
                         "same labels as when it was trained" % (", ".join(compared), ", ".join(given) or "none"))
    _tolerate_learned_zeros()
    return dict(saved, retain_intermediate_calculation_columns=explain, retain_matching_columns=explain)


def training_blocks(fields, pair_counts, records, max_block):
    """The sessions of expectation maximisation, as (the fields it blocks on,
    whether it estimates the prior), from the labels alone.

    Each name on its own: pairs that share a name are one person or place
    written twice, or namesakes elsewhere, and the other fields, the address
    above all, tell which; so they teach what every other field looks like
    in a duplicate, and several names (a given name and a surname) teach
    each other's.  A record with one name learns its m on the pairs at one
    whole address (street, house number, postcode, town).  A field that
    many places share would mislead on its own: pairs sharing a street are
    mostly neighbours, and expectation maximisation would learn that being
    on one street is what makes a duplicate.  The prior comes from the name
    sessions only, as pairs at one address are far from a random sample of
    the pairs that blocking brings.

    Records without names, or whose sessions bring no pairs, fall back to
    a session per field whose values bring no more pairs than blocking does
    at most (max_block a record): a state shared by thousands is not one.
    pair_counts(groups) gives the pairs that agree on all of a group."""
    names = [field for field in fields if field.kind == NAME]
    where = [field for field in fields if field.kind in (STREET, PLACE) or field.label in ("house_number", "postcode")]
    bound = max_block * records / 2
    groups = [[field] for field in names] + ([where] if where and names else [])
    counts = pair_counts(groups)
    sessions = [(group, True) for group, count in zip(groups[:len(names)], counts) if 0 < count <= bound]
    if sessions and where and len(names) == 1 and counts[-1]:
        sessions.insert(0, (where, False))
    learned = {field.name for group, _ in sessions for field in fields if field not in group}
    if len(learned) < len(fields):
        singles = [[field] for field in fields]
        sessions = [(group, True) for group, count in zip(singles, pair_counts(singles)) if 0 < count <= bound]
    return sessions


def train(linker, fields, pair_counts, records, max_block):
    """Estimates every parameter from the input: u on random pairs; m, by
    expectation maximisation, on the pairs of each session that
    training_blocks gives (a field's m is learned where the pairs were
    chosen by other fields), averaged over the sessions; and the prior
    that two random records are duplicates, from the share of duplicates
    the name sessions found, reversed for the field each blocked on.
    Returns the number of sessions that learned something: on a handful of
    records a session may find nothing to learn and is left out; with
    none, m keeps Splink's starting values."""
    from splink import block_on
    from splink.internals.exceptions import EMTrainingException, SplinkException

    linker.training.estimate_u_using_random_sampling(max_pairs=min(U_PAIRS, pair_count(records)), seed=SEED)
    _tolerate_learned_zeros()
    learned = 0
    for group, prior in training_blocks(fields, pair_counts, records, max_block):
        # A session that fails has already changed the linker's settings:
        # they are put back as they were before it.
        settings, sessions = copy.deepcopy(linker._settings_obj), list(linker._em_training_sessions)
        try:
            linker.training.estimate_parameters_using_expectation_maximisation(
                block_on(*(field.written for field in group)), max_pairs=EM_PAIRS,
                populate_probability_two_random_records_match_from_trained_values=prior)
            if not _learned_numbers(linker):
                raise EMTrainingException("no duplicate among the pairs")
        except (EMTrainingException, SplinkException, ValueError):
            linker._settings_obj, linker._em_training_sessions = settings, sessions
            continue
        if not prior:
            # Its m stays learned; its share of duplicates is no estimate
            # of the prior, which Splink draws from every session listed.
            linker._em_training_sessions = sessions
        learned += 1
    return learned


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
