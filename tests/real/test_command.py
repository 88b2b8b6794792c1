"""The addrnorm command end to end on a small multilingual file, checked
against the functions called directly."""
import csv
import json
import os
import signal
import subprocess
import sys
import time

import pytest

import addrnorm
import support

ADDRESSES = [
    "781 Franklin Ave Crown Hts Brooklyn NY", "Quatre vingt douze Ave des Champs-Élysées", "Marktstrasse 5, Köln",
    "улица 40 лет Победы", "東京都千代田区丸の内1-9-1", "C/ Ocho 3, Madrid", "V XX Sett 12, Roma", "Hoofdstraat 7",
    "שדרות רוטשילד 22 תל אביב", "ถนนสุขุมวิท 21",
]

# Columns named as a data set would; --map gives them libpostal's labels.
COLUMNS = ["id", "name", "street", "number", "zip", "town", "lat", "lon"]
RECORDS = [
    ["1", "Whole Foods", "Franklin Ave", "781", "11216", "Brooklyn", "40.6782", "-73.9442"],
    ["2", "Whole Foods Market", "Franklin Avenue", "781", "11216", "Brooklyn", "40.67821", "-73.94419"],
    ["3", "Whole Foods", "Franklin Ave", "783", "11216", "Brooklyn", "40.6784", "-73.9441"],
    ["4", "Boulangerie Paul", "Rue de Rivoli", "12", "75001", "Paris", "48.8606", "2.3376"],
    ["5", "Boulangerie Paul", "R. de Rivoli", "12", "75001", "Paris", "48.8606", "2.3377"],
    ["6", "Аптека", "улица Ленина", "10", "", "Москва", "55.7558", "37.6173"],
    ["7", "Аптека", "ул. Ленина", "10", "", "Moskva", "55.7558", "37.6174"],
    ["8", "Café Einstein", "Kurfürstenstraße", "58", "10785", "Berlin", "52.5027", "13.3563"],
    ["9", "Cafe Einstein", "Kurfuerstenstr.", "58", "10785", "Berlin", "52.5027", "13.3563"],
    ["10", "セブンイレブン", "", "5-19", "", "東京", "35.6812", "139.7671"],
]
MAP = "id=,name=house,street=road,number=house_number,zip=postcode,town=city"
LABELS = {"name": "house", "street": "road", "number": "house_number", "zip": "postcode", "town": "city"}


@pytest.fixture
def files(tmp_path):
    addresses = tmp_path / "addresses.txt"
    addresses.write_text("\n".join(ADDRESSES) + "\n", encoding="utf-8")
    records = tmp_path / "places.csv"
    with open(str(records), "w", encoding="utf-8", newline="") as out:
        csv.writer(out).writerows([COLUMNS] + RECORDS)
    return str(addresses), str(records)


def addrnorm_command(*args):
    child = subprocess.run([sys.executable, "-m", "addrnorm"] + list(args), stdout=subprocess.PIPE,
                           stderr=subprocess.PIPE, env=support.child_env(), timeout=600)
    assert child.returncode == 0, child.stderr.decode("utf-8", "replace")[-3000:]
    return child.stdout.decode("utf-8"), child.stderr.decode("utf-8")


def json_lines(text):
    return [json.loads(line) for line in text.splitlines() if line]


@pytest.mark.parametrize("options, keywords", [
    ([], {}),
    (["--languages", "en,fr,de,ru,es,it"], {"languages": ["en", "fr", "de", "ru", "es", "it"]}),
    (["--root", "--components", "street,house_number"],
     {"root": 1, "address_components": int(addrnorm.AddressComponent.STREET | addrnorm.AddressComponent.HOUSE_NUMBER)}),
    (["--no-lowercase", "--no-latin-ascii", "--replace-numeric-hyphens"],
     {"lowercase": 0, "latin_ascii": 0, "replace_numeric_hyphens": 1}),
], ids=["defaults", "languages", "root-components", "switches"])
def test_expand_gives_what_the_function_gives(files, options, keywords):
    out, _ = addrnorm_command("expand", "-i", files[0], "--format", "jsonl", *options)
    lines = json_lines(out)
    assert [line["input"] for line in lines] == ADDRESSES
    for line in lines:
        assert line["expansions"] == addrnorm.expand_address(line["input"], **keywords), line["input"]
    assert any(line["expansions"] and len(line["expansions"]) > 1 for line in lines)


def direct_keys(row, **keywords):
    record = dict(zip(COLUMNS, row))
    labels = [LABELS[column] for column in COLUMNS if column in LABELS and record[column]]
    values = [record[column] for column in COLUMNS if column in LABELS and record[column]]
    return addrnorm.near_dupe_hashes(labels, values, **keywords)


@pytest.mark.parametrize("options, keywords", [
    ([], {}),
    (["--address-only-keys", "--languages", "en"], {"address_only_keys": 1, "languages": ["en"]}),
    (["--lat", "lat", "--lon", "lon", "--geohash-precision", "7"], {"with_latlon": 1, "geohash_precision": 7}),
], ids=["defaults", "address-only-english", "latlon"])
def test_hash_gives_what_the_function_gives(files, options, keywords):
    out, _ = addrnorm_command("hash", files[1], "--map", MAP, *options)
    lines = json_lines(out)
    assert [line["record"]["id"] for line in lines] == [row[0] for row in RECORDS]
    for line, row in zip(lines, RECORDS):
        expected = dict(keywords)
        if "with_latlon" in keywords:
            expected.update(latitude=float(row[6]), longitude=float(row[7]))
        assert line["keys"] == direct_keys(row, **expected), row
    assert sum(bool(line["keys"]) for line in lines) >= 8




EARLIER = "an earlier run's output\n"


def leftovers(folder, keep):
    return sorted(name for name in os.listdir(str(folder)) if name not in keep)


@pytest.mark.parametrize("mode", [[], ["--jobs", "2"], ["--skip-bad"]], ids=["j1", "j2", "skip-bad"])
@pytest.mark.parametrize("command", [["expand", "-i"], ["hash"]], ids=["expand", "hash"])
def test_without_data_every_mode_stops_before_any_output(files, tmp_path, command, mode):
    """libpostal's own set-up failing (a folder without its data) is the
    run's error, never every record's."""
    (tmp_path / "empty").mkdir()
    previous = tmp_path / "previous.jsonl"
    previous.write_text(EARLIER, encoding="utf-8")
    child = subprocess.run([sys.executable, "-m", "addrnorm"] + command + [files[1]] + mode + ["-o", str(previous)],
                           stdout=subprocess.PIPE, stderr=subprocess.PIPE, universal_newlines=True, timeout=300,
                           env=support.child_env(LIBPOSTAL_DATA_DIR=str(tmp_path / "empty")))
    assert child.returncode == 2, child.stderr
    assert child.stderr.startswith("addrnorm: Error loading libpostal: its set-up failed with the data directory %s"
                                   % (tmp_path / "empty")), child.stderr
    assert child.stderr.count("\n") == 1 and child.stdout == "", child.stderr
    assert previous.read_text(encoding="utf-8") == EARLIER
    assert leftovers(tmp_path, {"addresses.txt", "places.csv", "empty", "previous.jsonl"}) == []


@pytest.mark.parametrize("jobs", ["1", "2"])
def test_sigterm_stops_a_run_leaving_the_previous_output(tmp_path, jobs):
    many = tmp_path / "many.txt"
    many.write_text("\n".join(ADDRESSES * 3000) + "\n", encoding="utf-8")
    out = tmp_path / "out.txt"
    out.write_text(EARLIER, encoding="utf-8")
    child = subprocess.Popen([sys.executable, "-m", "addrnorm", "expand", "-i", str(many), "--jobs", jobs, "-o",
                              str(out)], stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, universal_newlines=True,
                             env=support.child_env(), start_new_session=True)
    try:
        deadline = time.monotonic() + 120
        while not [name for name in os.listdir(str(tmp_path)) if name.endswith(".part")]:
            assert child.poll() is None and time.monotonic() < deadline, "the run never got under way"
            time.sleep(0.02)
        time.sleep(0.3)
        child.send_signal(signal.SIGTERM)
        _, errors = child.communicate(timeout=60)
    finally:
        if child.poll() is None:
            os.killpg(child.pid, signal.SIGKILL)
            child.wait(timeout=60)
    assert (child.returncode, errors) == (128 + signal.SIGTERM, "addrnorm: terminated\n")
    assert out.read_text(encoding="utf-8") == EARLIER
    assert leftovers(tmp_path, {"many.txt", "out.txt"}) == []
    # No worker left in the run's process group.
    try:
        os.killpg(child.pid, 0)
    except ProcessLookupError:
        pass
    else:
        raise AssertionError("workers left running")
