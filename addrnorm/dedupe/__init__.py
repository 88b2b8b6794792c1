"""De-duplication of place and person records: libpostal's expansions and
keys, fed to a probabilistic model (Fellegi and Sunter's, through Splink)
that learns its weights from the records themselves.

    >>> import addrnorm
    >>> addrnorm.find_duplicates([{"house": "Whole Foods", "road": "Franklin Ave", "house_number": "781",
    ...                            "postcode": "11216"}, ...])
    [1, 1, 2, ...]

It needs the de-duplication extra (pip install 'addrnorm[dedupe]', Python
3.10 or newer).  The `addrnorm dupes` command runs the same pipeline over
files, with workers.
"""
from addrnorm.dedupe.model import DEFAULT_MAX_BLOCK, DEFAULT_THRESHOLD

NEEDS = ("de-duplication needs Python 3.10 or newer with addrnorm's de-duplication extra, which brings Splink "
         "and DuckDB: pip install 'addrnorm[dedupe]'")


def available():
    """None when de-duplication can run here, else what it needs."""
    try:
        import pyarrow  # noqa: F401
        import splink  # noqa: F401
    except ImportError:
        return NEEDS
    return None


def find_duplicates(records, mapping=None, languages=None, threshold=DEFAULT_THRESHOLD, max_block=DEFAULT_MAX_BLOCK,
                    engine="duckdb", model=None, model_out=None, memory_limit=None, temp_dir=None, parse=(),
                    **hash_options):
    """The cluster number of each record, counted from 1 in order of first
    appearance.  Records are mappings of fields to values (str, or numbers);
    a field's name is its label (house, road, house_number, postcode, city,
    ...) unless mapping ({field: label}) says otherwise, so that several
    fields may share a label (a person's given name and surname are both
    house) and each is compared on its own.  Fields with no label of
    libpostal's are left out.

    The model is learned from the records (see addrnorm.dedupe.model) unless
    model, a saved one (a path or its JSON as a dict), is given; model_out
    saves the trained model as JSON.  Pairs whose match probability reaches
    threshold are clustered.  hash_options are near_dupe_hashes' options
    for the blocking keys.
    """
    missing = available()
    if missing:
        raise ImportError(missing)
    from addrnorm.dedupe import features
    from addrnorm.dedupe.deduplication import Deduplication
    from addrnorm.dedupe.fields import fields_of
    from addrnorm.languages import check_languages
    from addrnorm.values import record_values

    parse = tuple(parse)
    records = record_values(records, mapping, parse)
    if languages is not None:
        check_languages(languages)
    columns = {}
    for record in records:
        columns.update(dict.fromkeys(record))
    fields = fields_of(mapping or {}, list(columns), parse)
    run = Deduplication(fields, threshold, max_block, engine, memory_limit, temp_dir, trained=model)
    try:
        # The stages of addrnorm.dedupe.deduplication, in this process.
        job = (fields, dict(hash_options, **({"languages": languages} if languages else {})), None, None)
        table, forms = features.Records(fields), features.Forms()
        for record in records:
            if parse:
                record = dict(record, **features.parsed_parts(record, parse))
            table.add(record, features.record_keys(record, job))
        for number, item in list(table.values_to_expand()):
            forms.add(number, features.value_forms(item, languages))
        run.candidates(table, forms)
        del table, forms
        run.learn_model()
        clusters = run.clusters()
        if model_out is not None:
            run.save_model(model_out)
        return clusters
    finally:
        run.close()
