"""The prior, settled on the pairs the model scored: the share of all pairs
of records that are duplicates, as the learned model finds them.

Training takes the prior from the pairs that share a name, reversed by the
name's weight.  Where a name is shared by many who are not one (a chain's
branches, a household), expectation maximisation takes some of them for
duplicates, and the prior comes out several times too large (18 times, on
100,000 generated places), which then joins every branch of a chain in one
postcode.  Once every blocked pair is scored, the prior is the expected
number of duplicates among them over the number of all pairs (a pair that
blocking does not bring is taken to be two records): a step of expectation
maximisation on the prior alone, with m and u held, repeated until it
settles.  Changing the prior moves every pair's match weight by the same
number of bits, so the scored pairs are not scored again."""
import math

from addrnorm.dedupe.training import pair_count

# Rounds at most, and the change relative to the prior below which it has
# settled: a fixed point, reached in a handful of rounds.
ROUNDS = 50
SETTLED = 1e-3


def expected_duplicates_sql(table, shift):
    """The sum over the scored pairs of their match probability, with every
    match weight moved by shift bits (Spark SQL and DuckDB both read it)."""
    return "SELECT sum(1.0 / (1.0 + pow(2.0, -(match_weight + %r)))) FROM %s" % (float(shift), table)


def settle(linker, predictions, records, row):
    """Sets the linker's prior to the share of duplicates that its scored
    pairs (predictions, of records records) hold; row(sql) runs a query.
    Returns how many bits every pair's match weight moved."""
    start = linker._settings_obj._probability_two_random_records_match
    pairs = pair_count(records)
    prior = start
    for _ in range(ROUNDS):
        found = row(expected_duplicates_sql(predictions.physical_name, _bits(prior) - _bits(start)))[0]
        if not found or found >= pairs / 2:
            # No duplicate at all, or more than half of all pairs: nothing
            # a prior of duplicates among records can settle on.
            return 0.0
        settled, prior = abs(found / pairs - prior) <= SETTLED * prior, found / pairs
        if settled:
            break
    linker._settings_obj._probability_two_random_records_match = prior
    return _bits(prior) - _bits(start)


def threshold_before(threshold, shift):
    """The match probability that, before every weight moved by shift bits,
    stands for threshold after."""
    return 1.0 / (1.0 + 2.0 ** (shift - _bits(threshold))) if shift else threshold


def _bits(probability):
    return math.log2(probability / (1.0 - probability))
