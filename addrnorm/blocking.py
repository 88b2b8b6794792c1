"""Grouping records into candidate-duplicate clusters by the keys they share."""
import array


class Clusters:
    """Union-find over record numbers, joined through the keys they share."""

    def __init__(self):
        self.parent = array.array("q")
        self.owner = {}  # key -> the first record that had it

    def add(self, keys):
        record = len(self.parent)
        self.parent.append(record)
        for key in keys or ():
            first = self.owner.setdefault(key, record)
            if first != record:
                self.union(first, record)
        return record

    @classmethod
    def of(cls, count):
        """count records, each in a cluster of its own."""
        clusters = cls()
        clusters.parent = array.array("q", range(count))
        return clusters

    def find(self, record):
        parent = self.parent
        root = record
        while parent[root] != root:
            root = parent[root]
        while parent[record] != root:
            parent[record], record = root, parent[record]
        return root

    def union(self, a, b):
        a, b = self.find(a), self.find(b)
        if a != b:
            self.parent[max(a, b)] = min(a, b)

    def roots(self):
        """Each record's cluster as the record that stands for it."""
        return array.array("q", (self.find(record) for record in range(len(self.parent))))

    def numbered(self):
        """A cluster number per record, counted from 1 in order of first appearance."""
        numbers = {}
        return [numbers.setdefault(self.find(record), len(numbers) + 1) for record in range(len(self.parent))]

    @classmethod
    def from_blocks(cls, count, blocks):
        """The clusters of count records, given the groups of record numbers
        that share a key (as an engine's group-by yields them)."""
        clusters = cls()
        for _ in range(count):
            clusters.add(())
        for ids in blocks:
            ids = list(ids)
            for other in ids[1:]:
                clusters.union(ids[0], other)
        return clusters
