"""Comparison levels whose SQL each engine needs written its own way.

Three are Splink's own, written so that each engine answers them at a
fraction of the cost, with the same answers: every pair that blocking
brings is tested against them, several times over in the address
comparison's levels, so they are most of the time a run spends scoring.
The fourth, a name's initial, rests on regular expressions, which DuckDB
and Spark read differently.

Splink is imported when a level is first made, as only the de-duplication
extra brings it.
"""
from typing import Any, List

# The level classes, once made (_levels).
_MADE: List[Any] = []


def shares_form(column):
    """The arrays of a column share an element (see _make_levels)."""
    return _levels()[0](column)


def one_keystroke(column):
    """A column's values are at most one keystroke apart (see _make_levels)."""
    return _levels()[1](column)


def within_edits(column, distance):
    """A column's values are at most distance edits apart (see _make_levels)."""
    return _levels()[3](column, distance)


def initial(column):
    """One side of a column is the other's initial (see _make_levels)."""
    return _levels()[2](column)


def _levels():
    if not _MADE:
        _MADE.extend(_make_levels())
    return _MADE


def _make_levels():
    import splink.comparison_level_library as cll
    from splink import ColumnExpression

    class SharesForm(cll.ArrayIntersectLevel):
        """The two arrays (libpostal's expansions or roots) share an element.
        Splink sizes their whole intersection to compare it with 1; the
        engines' own overlap test stops at the first element in common."""

        def __init__(self, column):
            super().__init__(column, 1)

        def create_sql(self, sql_dialect):
            self.col_expression.sql_dialect = sql_dialect
            left, right = self.col_expression.name_l, self.col_expression.name_r
            if sql_dialect.sql_dialect_str == "duckdb":
                return "list_has_any(%s, %s)" % (left, right)
            if sql_dialect.sql_dialect_str == "spark":
                return "arrays_overlap(%s, %s)" % (left, right)
            return super().create_sql(sql_dialect)


    class OneKeystroke(cll.DamerauLevenshteinLevel):
        """At most one keystroke apart: one character inserted, deleted or
        replaced, or two neighbours swapped (Damerau-Levenshtein distance 1).

        Damerau-Levenshtein is the dearest of the engines' text tests (DuckDB
        takes several times Levenshtein's time), and most pairs are plainly
        further apart.  Lengths more than one apart rule a pair out at once;
        Levenshtein's distance of 1 or less takes it; only a distance of 2
        (which a swap of neighbours gives) is left to Damerau-Levenshtein."""

        def __init__(self, column):
            super().__init__(column, 1)

        def create_sql(self, sql_dialect):
            self.col_expression.sql_dialect = sql_dialect
            left, right = self.col_expression.name_l, self.col_expression.name_r
            levenshtein = "%s(%s, %s)" % (sql_dialect.levenshtein_function_name, left, right)
            damerau = "%s(%s, %s)" % (sql_dialect.damerau_levenshtein_function_name, left, right)
            return "(abs(length(%s) - length(%s)) <= 1 AND (%s <= 1 OR (%s = 2 AND %s <= 1)))" % (
                left, right, levenshtein, levenshtein, damerau)


    class WithinEdits(cll.LevenshteinLevel):
        """At most distance characters inserted, deleted or replaced
        (Levenshtein).  Lengths further apart than that rule a pair out
        before the distance is computed, as they do for most pairs."""

        def create_sql(self, sql_dialect):
            self.col_expression.sql_dialect = sql_dialect
            left, right = self.col_expression.name_l, self.col_expression.name_r
            return "(abs(length({0}) - length({1})) <= {2} AND {3}({0}, {1}) <= {2})".format(
                left, right, self.distance_threshold, sql_dialect.levenshtein_function_name)

    class Initial(cll.CustomLevel):
        """One side is the other's first letter alone ("J." or "J" for "John"):
        without what is neither a letter nor a digit, of any script, it is one
        character, and the other begins with it.

        Each engine has its own regular expressions: DuckDB's replace only the
        first match unless told "g", Java's read [:alnum:] as the characters
        of that word, and neither's [:alnum:] takes an accented or Cyrillic
        initial for a letter."""

        def __init__(self, column):
            # The condition is written for each engine (create_sql).
            super().__init__("")
            self.col_expression = ColumnExpression.instantiate_if_str(column)

        def create_label_for_charts(self):
            return "%s an initial of the other" % self.col_expression.label

        def create_sql(self, sql_dialect):
            self.col_expression.sql_dialect = sql_dialect
            left, right = self.col_expression.name_l, self.col_expression.name_r
            if sql_dialect.sql_dialect_str == "spark":
                # Spark's string literals take a backslash as an escape.
                bare = "regexp_replace(%s, '[^\\\\p{L}\\\\p{N}]', '')"
            else:
                bare = "regexp_replace(%s, '[^\\p{L}\\p{N}]', '', 'g')"
            return "(length(%s) = 1 OR length(%s) = 1) AND substr(%s, 1, 1) = substr(%s, 1, 1)" % (
                bare % left, bare % right, left, right)

    return SharesForm, OneKeystroke, Initial, WithinEdits
