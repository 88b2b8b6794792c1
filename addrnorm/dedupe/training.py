"""How the model learns from the records it de-duplicates (see
addrnorm.dedupe.model for what it compares): which fields go together as
one address, the kin corrections, u on random pairs, and m and the prior
by sessions of expectation maximisation on blocked pairs.  Nothing here
is fitted to any data set: every number is counted or estimated on the
input."""
import copy
import math
from typing import List, Optional, Set, Tuple

from addrnorm.dedupe.address import ADDRESS, KIN, kin_parts, where_fields
from addrnorm.dedupe.fields import NAME, PLACE, STREET
from addrnorm.dedupe.model import KEYSTROKE, SAME, comparisons

# Random pairs that u is counted on, at most; and the seed, so that a run
# on the same input gives the same model.
U_PAIRS = 1e6
SEED = 1
# Blocked pairs that one session of expectation maximisation learns from, at
# most (a sample of them, beyond that).
EM_PAIRS = 1e6


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


def weigh_kin(linker, fields, row):
    """Sets each kin comparison's weights from the records (see
    kin_comparison): row(sql) runs a query.  The share of people taken at
    random who share the name (as written, or a keystroke apart) is the u
    of those two levels, counted on random pairs; the share of people at
    one address (on one street) who do is counted on the pairs there whose
    other names plainly differ.  No correction where they share it no more often, or where
    none is found to."""
    from addrnorm.dedupe.engine import kin_area_sql, kin_sql

    names, street, number, area = kin_parts(fields)
    by_name = {comparison.output_column_name: comparison for comparison in linker._settings_obj.comparisons}
    for name in names:
        kin = by_name.get(KIN + name.name)
        if kin is None:
            continue
        # Shared as kin_comparison takes it: as written or a keystroke apart.
        at_random = sum(level.u_probability for level in by_name[name.name].comparison_levels
                        if level.label_for_charts in (SAME, KEYSTROKE) and isinstance(level.u_probability, float))
        others = [other for other in names if other is not name]
        here, here_shared, there, there_shared = row(kin_sql(name, others, street, number))
        counts = [(here, here_shared), (there, there_shared)]
        if area is not None:
            counts.append(row(kin_area_sql(name, others, area, street)))
        counted = [level for level in kin.comparison_levels if not level.is_null_level]
        for level, (pairs, shared) in zip(counted, counts):
            share = (shared or 0) / pairs if pairs else 0.0
            level.m_probability = min(1.0, at_random / share) if share and at_random else 1.0


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
    sessions: List[Tuple[List[str], bool, Optional[Set[str]]]] = []
    if names:
        alone = [[field.written, field.written + "__b"] for field in names]
        joint = [[column for group in alone for column in group]] if together and len(alone) > 1 else []
        areas = [field for field in where if field.label == "postcode"] + [
            field for field in where if field.kind == PLACE] if together else []
        counts = pair_counts(alone + joint + [[field.written + "__b"] for field in areas])
        if joint and counts[len(alone)]:
            sessions = [(group, False, None) for group, count in zip(alone, counts) if count] + [(joint[0], True, None)]
        else:
            sessions = [(group, True, None) for group, count in zip(alone, counts) if count]
        # The most local area whose values few enough records share.
        area = next((field for field, count in zip(areas, counts[len(alone) + len(joint):]) if count), None)
        if sessions and area:
            block = [area.written + "__b"]
            names_kept = {name for name, _, _ in compared if name != ADDRESS}
            sessions += [(block, False, names_kept), (block, False, {ADDRESS})]
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

    sampled = min(U_PAIRS, pair_count(records))
    linker.training.estimate_u_using_random_sampling(max_pairs=sampled, seed=SEED)
    bound_unseen_u(linker, sampled)
    tolerate_learned_zeros()
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


def bound_unseen_u(linker, sampled):
    """Gives a level that none of the random pairs fell into (the same flat,
    two names swapped, among a million records) the u that the count can
    still tell: below one in the pairs sampled, so taken as that.  Left
    unset, its u would be what the last session of expectation
    maximisation found on its own pairs, or 0: an infinite weight, which
    one coincidence of names across the country then turns into a
    duplicate."""
    for comparison in linker._settings_obj.comparisons:
        for level in comparison.comparison_levels:
            if level.is_null_level or level._fix_u_probability or not level._trained_u_probabilities:
                continue
            if not isinstance(level._trained_u_probabilities[-1]["probability"], (int, float)):
                level._trained_u_probabilities[-1] = {
                    "probability": 1.0 / sampled, "description": "not seen in %d random pairs" % sampled,
                    "m_or_u": "u"}
    linker._populate_m_u_from_trained_values()


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


def pair_count(records):
    return records * (records - 1) // 2


def tolerate_learned_zeros():
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

    setattr(tolerant, "tolerates_zero", True)  # noqa: B010 (a function's attribute, unknown to the checker)
    comparison_level._validate_m_u_probability = tolerant
