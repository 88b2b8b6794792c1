"""find_duplicates and dupes under the value policy, on the test double: a
pandas DataFrame's rows (numbers, NaN, None) cluster as their text does;
lists, dicts and booleans are refused by record and field; records libpostal
gives no key warn."""
import json
import math

import pandas
import pytest

import addrnorm
from addrnorm import cli
from addrnorm.values import LabelWarning
from test_dedupe import MAPPING, persons

pytestmark = pytest.mark.pure_python


def frame_of(records):
    """The records as a DataFrame would hold them read from a spreadsheet:
    house numbers as ints, postcodes as floats, a blank cell NaN or None."""
    frame = pandas.DataFrame(records)
    frame["number"] = [int(value) if value.isdigit() else value or None for value in frame["number"]]
    frame["zip"] = [float(value) if value.isdigit() else value or math.nan for value in frame["zip"]]
    frame["street"] = [value or None for value in frame["street"]]
    return frame


def test_find_duplicates_clusters_a_dataframes_rows_as_their_text():
    records, _ = persons(60, seed=11)
    expected = addrnorm.find_duplicates(records, mapping=MAPPING)
    frame = frame_of(records)
    assert frame["zip"].isna().any() and isinstance(frame["zip"][0], float)
    # The README's recipe: a cluster column.
    frame["cluster"] = addrnorm.find_duplicates(frame.to_dict("records"), mapping=MAPPING)
    assert list(frame["cluster"]) == expected and max(expected) < len(records)
    frame["cluster_size"] = frame.groupby("cluster")["cluster"].transform("size")
    assert list(frame["cluster_size"]) == [expected.count(cluster) for cluster in expected]


@pytest.mark.parametrize("value, shown", [({"a": 1}, "a dict ({'a': 1})"), (["Main St"], "a list (['Main St'])"),
                                          (True, "a bool (True)")])
def test_find_duplicates_names_the_record_and_the_field_it_refuses(value, shown):
    records = [{"given": "Ann", "street": "Main St"}, {"given": "Bob", "street": value, "id": {"left": "alone"}}]
    with pytest.raises(TypeError) as caught:
        addrnorm.find_duplicates(records, mapping=MAPPING)
    assert str(caught.value) == ("records[1], field 'street': %s is not a field's value; give text, a number or None"
                                 % shown)


@pytest.mark.parametrize("records, options, said", [
    ([{"name": "Ann", "zip": "1"}, {"name": "Bob", "zip": "1"}], {},
     "find_duplicates: no field is one of libpostal's labels, so no record gives a key"),
    ([{"zip": "1"}, {"zip": "1"}], {"mapping": {"zip": "postcode"}},
     "find_duplicates: postcode alone gives no key: libpostal makes its keys of a name (house) or an address"),
])
def test_find_duplicates_warns_of_records_that_give_no_key(records, options, said):
    with pytest.warns(LabelWarning) as caught:
        try:
            addrnorm.find_duplicates(records, **options)
        except ValueError:
            pass  # no field to compare at all: the model's own error, after the warning
    assert str(caught[0].message).startswith(said)


def test_dupes_writes_csv_for_a_csv_output_and_refuses_booleans(tmp_path, capsys):
    records, _ = persons(40, seed=3)
    records[5] = dict(records[5], zip=True)
    records[6] = dict(records[6], zip=float(records[6]["zip"]))
    path = tmp_path / "persons.jsonl"
    path.write_text("".join(json.dumps(record) + "\n" for record in records), encoding="utf-8")
    out = tmp_path / "clusters.csv"
    argv = ["dupes", str(path), "--map", ",".join("%s=%s" % item for item in MAPPING.items()), "-o", str(out)]
    assert cli.main(argv + ["--skip-bad"]) == 1
    lines = out.read_text(encoding="utf-8").splitlines()
    assert lines[0] == "given,surname,number,street,zip,cluster,cluster_size" and len(lines) == len(records)
    err = capsys.readouterr().err
    assert ", 1 bad record skipped\n" in err and "addrnorm: skipped 1 bad record:\n" in err
    assert "line 6: field 'zip': a bool (True) is not a field's value" in err
