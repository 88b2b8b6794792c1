# Statuses are libpostal's ints (addrnorm.DuplicateStatus names them).  The
# thresholds' defaults written "..." are libpostal's own, fetched on every
# call (libpostal 1.1: needs_review_threshold 0.7, likely_dupe_threshold 0.9).
from typing import Sequence

def is_name_duplicate(value1: str, value2: str, languages: Sequence[str] | None = None) -> int: ...
def is_street_duplicate(value1: str, value2: str, languages: Sequence[str] | None = None) -> int: ...
def is_house_number_duplicate(value1: str, value2: str, languages: Sequence[str] | None = None) -> int: ...
def is_po_box_duplicate(value1: str, value2: str, languages: Sequence[str] | None = None) -> int: ...
def is_unit_duplicate(value1: str, value2: str, languages: Sequence[str] | None = None) -> int: ...
def is_floor_duplicate(value1: str, value2: str, languages: Sequence[str] | None = None) -> int: ...
def is_postal_code_duplicate(value1: str, value2: str, languages: Sequence[str] | None = None) -> int: ...
def is_toponym_duplicate(
    labels1: Sequence[str],
    values1: Sequence[str],
    labels2: Sequence[str],
    values2: Sequence[str],
    languages: Sequence[str] | None = None,
) -> int: ...
def is_name_duplicate_fuzzy(
    tokens1: Sequence[str],
    scores1: Sequence[float],
    tokens2: Sequence[str],
    scores2: Sequence[float],
    languages: Sequence[str] | None = None,
    needs_review_threshold: float = ...,
    likely_dupe_threshold: float = ...,
) -> tuple[int, float]: ...
def is_street_duplicate_fuzzy(
    tokens1: Sequence[str],
    scores1: Sequence[float],
    tokens2: Sequence[str],
    scores2: Sequence[float],
    languages: Sequence[str] | None = None,
    needs_review_threshold: float = ...,
    likely_dupe_threshold: float = ...,
) -> tuple[int, float]: ...
