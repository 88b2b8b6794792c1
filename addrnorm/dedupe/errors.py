"""The one error of a de-duplication that is the user's to mend: records or
options of which no run can be made.  Any other exception out of a run,
ValueErrors of Splink, DuckDB or this package included, is a fault of the
code."""


class RefusedInput(ValueError):
    """Records or options no de-duplication can be made of: no field to
    compare, a saved model of other fields, a threshold or a largest block
    out of range.  A ValueError, as find_duplicates has always raised them;
    the command makes it an input error (status 2)."""
