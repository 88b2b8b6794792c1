"""Candidate pairs: the records that share a key, found on disk.

Holding every key of ten million records in memory, as str in a dict, takes
tens of gigabytes.  Here each (key, record) pair is 12 bytes, spilled to one
of PARTITIONS files by its key's low bits; each file in turn is sorted by
key, and its runs of equal keys are the blocks.  The pairs of each block go,
as 8-byte numbers, to files partitioned by their first record, and each of
those is made unique in turn: a pair that shares several keys is compared
once.  Memory holds one partition at a time.

A block larger than max_block (a key shared by thousands of records, such as
a common name in one city) says little about any pair in it and would bring
millions of pairs: it is skipped and counted.

Two records that share one word of their names in one city share a key or
two of the hundred or more that each has; a duplicate shares dozens.  As
records grow in number, blocks fill up with the former, so a pair must
share at least min_share of the keys of whichever of its records has fewer
(counted in the blocks not skipped); the pairs that share less are counted.
"""
import array
import os

import numpy

from addrnorm.options import DEFAULT_MAX_BLOCK, DEFAULT_MIN_SHARE

PARTITIONS = 64
# Keys gathered in memory before they are spilled: 12 MB.
SPILL_EVERY = 1 << 20

KEY_RECORD = numpy.dtype([("key", "<i8"), ("record", "<u4")])
MASK = PARTITIONS - 1


class Blocks:
    """Keys of records, then the pairs of records that share one."""

    def __init__(self, folder, max_block=DEFAULT_MAX_BLOCK, min_share=DEFAULT_MIN_SHARE):
        self.folder, self.max_block, self.min_share = folder, max_block, min_share
        self.keys, self.records = [], []
        self.key_count = 0
        self.record_keys = array.array("I")   # each record's number of keys
        self.sharing_too_little = 0           # pairs under min_share
        self.skipped = 0          # blocks over max_block
        self.largest_skipped = 0
        self.pair_count = 0

    def _path(self, kind, partition):
        return os.path.join(self.folder, "%s-%02d" % (kind, partition))

    def add(self, record, key_numbers):
        """Records come in order, numbered from 0."""
        self.record_keys.append(len(key_numbers))
        self.keys.extend(key_numbers)
        self.records.extend([record] * len(key_numbers))
        self.key_count += len(key_numbers)
        if len(self.keys) >= SPILL_EVERY:
            self._spill()

    def _spill(self):
        if not self.keys:
            return
        rows = numpy.empty(len(self.keys), dtype=KEY_RECORD)
        rows["key"] = self.keys
        rows["record"] = self.records
        self.keys, self.records = [], []
        _append_partitioned(rows, rows["key"] & MASK, lambda partition: self._path("keys", partition))

    def pairs(self):
        """Yields arrays of the distinct candidate pairs (first record, second
        record), first < second, sorted, a partition at a time."""
        self._spill()
        key_counts = numpy.frombuffer(self.record_keys, dtype=numpy.uintc) if self.record_keys else None
        for partition in range(PARTITIONS):
            path = self._path("keys", partition)
            if os.path.exists(path):
                self._block_pairs(numpy.fromfile(path, dtype=KEY_RECORD))
                os.unlink(path)
        for partition in range(PARTITIONS):
            path = self._path("pairs", partition)
            if os.path.exists(path):
                # A pair is written once for each key its records share.
                pairs, shared = numpy.unique(numpy.fromfile(path, dtype="<u8"), return_counts=True)
                os.unlink(path)
                firsts = (pairs >> numpy.uint64(32)).astype(numpy.int64)
                seconds = (pairs & numpy.uint64(0xFFFFFFFF)).astype(numpy.int64)
                if self.min_share > 0:
                    enough = shared >= self.min_share * numpy.minimum(key_counts[firsts], key_counts[seconds])
                    self.sharing_too_little += int(len(enough) - enough.sum())
                    firsts, seconds = firsts[enough], seconds[enough]
                self.pair_count += len(firsts)
                yield firsts, seconds

    def _block_pairs(self, rows):
        rows = rows[numpy.argsort(rows["key"], kind="stable")]
        keys, records = rows["key"], rows["record"].astype(numpy.uint64)
        starts = numpy.flatnonzero(numpy.concatenate(([True], keys[1:] != keys[:-1])))
        sizes = numpy.diff(numpy.concatenate((starts, [len(keys)])))
        over = sizes > self.max_block
        self.skipped += int(over.sum())
        if over.any():
            self.largest_skipped = max(self.largest_skipped, int(sizes[over].max()))
        # Blocks of one size at a time: their records as rows of a matrix,
        # and each pair of columns a pair of every block.  The partition's
        # pairs are written together: a write per size would open each pairs
        # file a hundred times.
        found = []
        for size in numpy.unique(sizes[(sizes >= 2) & ~over]):
            block_starts = starts[sizes == size]
            members = records[block_starts[:, None] + numpy.arange(size)]
            first, second = numpy.triu_indices(int(size), 1)
            a, b = members[:, first].ravel(), members[:, second].ravel()
            low, high = numpy.minimum(a, b), numpy.maximum(a, b)
            # Two keys of one record that hash alike would pair it with itself.
            apart = low != high
            low, high = low[apart], high[apart]
            found.append((low << numpy.uint64(32)) | high)
        if found:
            pairs = numpy.concatenate(found)
            _append_partitioned(pairs, pairs >> numpy.uint64(32) & numpy.uint64(MASK),
                                lambda partition: self._path("pairs", partition))


def _append_partitioned(rows, partitions, path_of):
    order = numpy.argsort(partitions, kind="stable")
    rows, partitions = rows[order], partitions[order]
    bounds = numpy.searchsorted(partitions, numpy.arange(PARTITIONS + 1))
    for partition in range(PARTITIONS):
        start, end = bounds[partition], bounds[partition + 1]
        if start < end:
            with open(path_of(partition), "ab") as spill:
                rows[start:end].tofile(spill)


def first_appearance_numbers(roots):
    """Cluster numbers from 1, in order of each cluster's first record, for
    the records' roots (an array of record indexes): without a dict of
    millions of entries."""
    roots = numpy.frombuffer(roots, dtype=numpy.int64) if not isinstance(roots, numpy.ndarray) else roots
    if not len(roots):
        return numpy.zeros(0, dtype=numpy.int64)
    _, first, inverse = numpy.unique(roots, return_index=True, return_inverse=True)
    rank = numpy.empty(len(first), dtype=numpy.int64)
    rank[numpy.argsort(first, kind="stable")] = numpy.arange(1, len(first) + 1)
    return rank[inverse.ravel()]
