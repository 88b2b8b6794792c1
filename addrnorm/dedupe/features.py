"""What libpostal tells about each record, made once and handed to the model
as columns: for every field, its value as written, its expansions and its
root forms (each distinct value expanded once per run, in forked workers);
for every record, its near-duplicate keys, for blocking.

Two values whose expansions share a form are the same to libpostal: that is
how its own duplicate classifiers decide EXACT, and the model's comparison
levels test exactly that on these arrays (see addrnorm.dedupe.model).

The tables are Arrow's, filled a batch of records at a time, so that a run
holds its records as compact columns, not as Python objects.  The records'
table may grow on disk instead: libpostal makes about a hundred keys a
record (800 bytes), which at ten million records outgrow any memory the
run should take.
"""
import array
import os
import tempfile
from typing import Dict, List, Optional

import addrnorm
from addrnorm.dedupe.fields import labelled, text_of, written
from addrnorm.errors import BadRecord
from addrnorm.parsing import labelled_fields

# Keys made per record, in one call: the name and address keys, the
# name-only keys and the address-only keys; a duplicate with its name or
# its address written quite differently still shares one of the three.
KEY_OPTIONS = {"name_only_keys": 1, "address_only_keys": 1}

# Records turned into one Arrow batch at a time.
BATCH = 1 << 16


def record_keys(record, job):
    """The near-duplicate keys of one record, as 64-bit numbers: all blocking
    needs is whether two records share one.  The interpreter's str hash is
    the same in a forked worker as in its parent."""
    fields, keywords, lat, lon = job
    labels, values = labelled(record, fields)
    if not labels:
        return []
    call = dict(KEY_OPTIONS, **keywords)
    if lat and lon:
        latitude, longitude = text_of(record.get(lat)), text_of(record.get(lon))
        if latitude is not None and longitude is not None:
            try:
                call.update(with_latlon=1, latitude=float(latitude), longitude=float(longitude))
            except ValueError:
                raise BadRecord("no usable %s/%s coordinates" % (lat, lon)) from None
    keys = addrnorm.near_dupe_hashes(labels, values, **call) or ()
    return [hash(key) for key in keys]


def parsed_parts(record, parse):
    """The parts of the record's one-line address columns, as {column.label:
    part}: the columns the de-duplication compares for them (its labelled
    fields of addrnorm.parsing, a parsed column's only)."""
    return {field.column: field.text for field in labelled_fields(record, (), parse)}


def parsed_record_keys(record, job):
    """(the parsed parts, the keys) of one record whose address columns in
    job's fifth item are parsed first."""
    parts = parsed_parts(record, job[4])
    return parts, record_keys(dict(record, **parts), job[:4])


def value_forms(item, languages):
    """(expansions, root forms) of one distinct value, in the components of
    its label."""
    components, value = item
    expansions = addrnorm.expand_address(value, languages, address_components=components)
    roots = addrnorm.expand_address(value, languages, address_components=components, root=True)
    return sorted(set(expansions or ())), sorted(set(roots or ()))


def warm_up():
    # Sets libpostal up before the workers are forked, so that they share it.
    addrnorm.expand_address("a")
    addrnorm.near_dupe_hashes(["city"], ["a"])


def warm_up_parser():
    # The parser's model too (2 GB), which forked workers then share.
    warm_up()
    addrnorm.parse_address("a")


class Records:
    """The records' side of the feature table, built a record at a time: each
    field's value as written (trimmed, lower-cased) and the number of its
    distinct value, and the record's keys.  Held in memory, or with folder
    (the caller's, which it removes) written there as a Parquet file a
    batch at a time."""

    def __init__(self, fields, folder=None):
        import pyarrow

        self.pyarrow, self.fields = pyarrow, fields
        self.batches = []
        self.path = self.writer = None
        self.on_disk = False
        if folder is not None:
            handle, self.path = tempfile.mkstemp(prefix="records-", suffix=".parquet", dir=folder)
            os.close(handle)
        self.count = self.key_count = 0
        # Values given, per field: a field no record fills is not compared.
        self.filled = dict.fromkeys((field.name for field in fields), 0)
        # (components, value) -> its number, for the expansions.
        self.distinct = {}
        self._start()

    def _start(self):
        self.written: Dict[str, List[Optional[str]]] = {field.name: [] for field in self.fields}
        self.ids = {field.name: array.array("q") for field in self.fields}
        self.keys, self.offsets = array.array("q"), array.array("i", [0])

    def add(self, record, keys):
        values = written(record, self.fields)
        for field in self.fields:
            value = values.get(field.column)
            if value is None:
                self.written[field.name].append(None)
                self.ids[field.name].append(-1)
            else:
                self.written[field.name].append(value.lower())
                self.filled[field.name] += 1
                self.ids[field.name].append(self.distinct.setdefault((field.components, value), len(self.distinct)))
        self.keys.extend(keys)
        self.offsets.append(len(self.keys))
        self.count += 1
        self.key_count += len(keys)
        if len(self.offsets) > BATCH:
            self._flush()

    def _flush(self):
        pa = self.pyarrow
        size = len(self.offsets) - 1
        if not size:
            return
        columns = {"unique_id": pa.array(range(self.count - size, self.count), pa.int64())}
        for field in self.fields:
            columns[field.written] = pa.array(self.written[field.name], pa.string())
            columns[field.name + "__id"] = pa.array(self.ids[field.name], pa.int64())
        columns["keys"] = pa.ListArray.from_arrays(pa.array(self.offsets, pa.int32()), pa.array(self.keys, pa.int64()))
        batch = pa.table(columns)
        if self.path is None:
            self.batches.append(batch)
        else:
            import pyarrow.parquet

            if self.writer is None:
                self.writer = pyarrow.parquet.ParquetWriter(self.path, batch.schema)
                self.on_disk = True
            self.writer.write_table(batch)
        self._start()

    def values_to_expand(self):
        """(number, (components, value)) of each distinct value, for the workers."""
        return ((number, item) for item, number in self.distinct.items())

    def close(self):
        """Removes the file of a table on disk, once the engine has read it
        (it takes as much room as the records' keys: 9 GB at ten million
        records)."""
        self._finish_file()
        if self.path is not None and os.path.exists(self.path):
            os.remove(self.path)

    def _finish_file(self):
        if self.writer is not None:
            self.writer.close()
            self.writer = None

    def table(self):
        """The table: Arrow's in memory, or the Parquet file's as an Arrow
        dataset, read as it is scanned."""
        self._flush()
        if self.on_disk:
            import pyarrow.dataset

            self._finish_file()
            return pyarrow.dataset.dataset(self.path, format="parquet")
        if not self.batches:
            return self.pyarrow.table({name: [] for name in ["unique_id"] + [
                column for field in self.fields for column in (field.written, field.name + "__id")] + ["keys"]})
        return self.pyarrow.concat_tables(self.batches)


class Forms:
    """The expansions and root forms of each distinct value, by its number,
    as they come back from the workers."""

    def __init__(self):
        import pyarrow

        self.pyarrow = pyarrow
        self.ids, self.expansions, self.roots = array.array("q"), [], []
        self.batches = []

    def add(self, number, forms):
        self.ids.append(number)
        self.expansions.append(forms[0])
        self.roots.append(forms[1])
        if len(self.ids) >= BATCH:
            self._flush()

    def _flush(self):
        pa = self.pyarrow
        if len(self.ids):
            strings = pa.list_(pa.string())
            self.batches.append(pa.table({"id": pa.array(self.ids, pa.int64()),
                                          "x": pa.array(self.expansions, strings),
                                          "r": pa.array(self.roots, strings)}))
        self.ids, self.expansions, self.roots = array.array("q"), [], []

    def table(self):
        self._flush()
        pa = self.pyarrow
        if not self.batches:
            strings = pa.list_(pa.string())
            return pa.table({"id": pa.array([], pa.int64()), "x": pa.array([], strings), "r": pa.array([], strings)})
        return pa.concat_tables(self.batches)
