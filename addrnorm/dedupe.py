"""De-duplication of place records: blocking passes, a pairwise check of the
candidates, and clusters of the pairs that pass.

    >>> import addrnorm
    >>> addrnorm.find_duplicates([{"house": "Whole Foods", "road": "Franklin Ave", "house_number": "781",
    ...                            "postcode": "11216"}, ...])
    [1, 1, 2, ...]

The `addrnorm dupes` command runs the same steps over files, with workers.
"""
import array
import json
import os
import tempfile

from addrnorm import passes as blocking_passes
from addrnorm.blocking import Clusters
from addrnorm.options import DEFAULT_MAX_BLOCK, DEFAULT_MIN_SHARE, DEFAULT_THRESHOLD

# addrnorm.candidates (numpy) and addrnorm.compare (rapidfuzz) are imported
# where a run needs them: importing the package stays cheap.


class Kept(dict):
    """Values made at a cost, kept up to bound of them: when full, all are
    dropped and made again as they are asked for, which costs less than
    keeping an order of use."""

    def __init__(self, bound):
        super().__init__()
        self.bound = bound

    def get_or_make(self, key, make, *arguments):
        found = self.get(key)
        if found is None:
            if len(self) >= self.bound:
                self.clear()
            found = self[key] = make(*arguments)
        return found


class Store:
    """The records of a run on disk, each as JSON on a line of its own with
    its offset kept, so that a pair's two records are read back at will; a
    forked worker opens the file afresh, as a shared file offset would mix
    its reads with its siblings'."""

    # Records whose fields are kept for the check.
    KEPT = 1 << 16

    def __init__(self, folder):
        self.path = os.path.join(folder, "records")
        self.file = open(self.path, "w+b")
        self.offsets = array.array("q")
        self._reader = None
        self._fields = Kept(self.KEPT)

    def append(self, item):
        self.offsets.append(self.file.tell())
        self.file.write(json.dumps(item, ensure_ascii=False).encode("utf-8") + b"\n")

    def __len__(self):
        return len(self.offsets)

    def seal(self):
        """Makes every record appended readable, by workers forked after it."""
        self.file.flush()

    def fields(self, index):
        """The fields of one record, kept for the next pairs: the candidate
        pairs come a first record at a time, and a record is in dozens."""
        return self._fields.get_or_make(index, lambda: self[index][0])

    def __getitem__(self, index):
        if self._reader is None or self._reader[0] != os.getpid():
            self.file.flush()
            self._reader = (os.getpid(), open(self.path, "rb"))
        reader = self._reader[1]
        reader.seek(self.offsets[index])
        return json.loads(reader.readline().decode("utf-8"))

    def close(self):
        if self._reader is not None and self._reader[0] == os.getpid():
            self._reader[1].close()
        self.file.close()


class Settings:
    """How records are blocked and compared."""

    def __init__(self, keywords=None, languages=None, passes=blocking_passes.DEFAULT_PASSES, check=True,
                 threshold=DEFAULT_THRESHOLD, max_block=DEFAULT_MAX_BLOCK, min_share=DEFAULT_MIN_SHARE):
        self.keywords = dict(keywords or {})
        if languages:
            self.keywords["languages"] = list(languages)
        self.languages = list(languages) if languages else None
        self.passes = blocking_passes.check_passes(passes)
        self.check, self.threshold, self.max_block = check, threshold, max_block
        if not 0.0 <= threshold <= 1.0:
            raise ValueError("the threshold is a score from 0 to 1, not %r" % (threshold,))
        if max_block < 2:
            raise ValueError("the largest block must hold at least 2 records, not %r" % (max_block,))
        if not 0.0 <= min_share <= 1.0:
            raise ValueError("the share of keys is from 0 to 1, not %r" % (min_share,))
        self.min_share = min_share

    def keys(self, fields):
        labels, values = list(fields), list(fields.values())
        return blocking_passes.record_keys(labels, values, self.keywords, self.passes)


def block_keys(fields, settings):
    """The key numbers of one record ({label: value}): what a worker returns."""
    return blocking_passes.key_numbers(settings.keys(fields))


class Check:
    """The check of one run's candidate pairs: what the workers are given.
    Each process keeps its own Verdicts, made on its first pair, so that a
    forked worker fills its own rather than a copy of its parent's."""

    def __init__(self, store, settings, explain=True):
        self.store, self.settings, self.explain = store, settings, explain
        self._verdicts = None

    def verdicts(self):
        if self._verdicts is None or self._verdicts[0] != os.getpid():
            from addrnorm import compare

            self._verdicts = (os.getpid(), compare.Verdicts(self.settings.languages))
        return self._verdicts[1]


def check_pair(pair, check):
    """(score, verdicts, matched) of one candidate pair: what a worker returns;
    the score and verdicts are None unless the check explains its pairs, as
    sending them back costs the parent more than the pair cost a worker."""
    settings = check.settings
    if not settings.check:
        return None, {}, True
    from addrnorm import compare

    first, second = pair
    score, verdicts = compare.compare(check.store.fields(first), check.store.fields(second), settings.languages,
                                      settings.threshold, check.verdicts())
    matched = score is not None and score >= settings.threshold
    return (score, verdicts, matched) if check.explain else (None, None, matched)


class Deduplication:
    """One run: records in (their fields, and what the caller keeps with
    them), candidate pairs out, matched pairs united into clusters."""

    def __init__(self, settings, folder):
        self.settings = settings
        from addrnorm.candidates import Blocks

        self.store = Store(folder)
        self.blocks = Blocks(folder, settings.max_block, settings.min_share)
        self.matched = self.kept_apart = 0

    def add(self, fields, key_numbers, kept=None):
        self.blocks.add(len(self.store), key_numbers)
        self.store.append([fields, kept])

    def candidate_pairs(self):
        """Yields each candidate pair once, as (first, second) record indexes."""
        for firsts, seconds in self.blocks.pairs():
            for pair in zip(firsts.tolist(), seconds.tolist()):
                yield pair

    def clusters(self, matched_pairs):
        """The cluster number of each record (a numpy array), counted from 1
        in order of first appearance, once the pairs (an iterable, taken as
        it comes) are united; with the check, but for those whose clusters
        are two addresses (see ClusterNumbers)."""
        from addrnorm.candidates import first_appearance_numbers

        clusters = Clusters.of(len(self.store))
        numbers = ClusterNumbers(self.store) if self.settings.check else None
        for first, second in matched_pairs:
            self.matched += 1
            root1, root2 = clusters.find(first), clusters.find(second)
            if root1 == root2:
                continue
            if numbers is not None and numbers.apart(root1, root2):
                self.kept_apart += 1
                continue
            clusters.union(root1, root2)
            if numbers is not None:
                numbers.united(root1, root2)
        return first_appearance_numbers(clusters.roots())

    def close(self):
        self.store.close()


class ClusterNumbers:
    """The house numbers (and units) of each cluster, by the record that
    stands for it.  Two clusters are two addresses when none of one's
    numbers is within a keystroke of any of the other's: a record without a
    house number ("Joe's Diner" on Main St) matches each of two branches
    ("Joe's Diner", 12 Main St and 45 Main St), and would chain them into
    one place.  Only clusters that met a matched pair are held."""

    def __init__(self, store):
        from addrnorm.compare import one_keystroke, plain_numbers

        self.store, self._one_keystroke, self._plain_numbers = store, one_keystroke, plain_numbers
        self._of_root = {}

    def _numbers(self, root):
        numbers = self._of_root.get(root)
        if numbers is None:
            # Not met yet: a cluster of its one record.
            numbers = self._of_root[root] = self._plain_numbers(self.store.fields(root))
        return numbers

    def apart(self, root1, root2):
        numbers1, numbers2 = self._numbers(root1), self._numbers(root2)
        return bool(numbers1 and numbers2) and not any(
            number1 == number2 or self._one_keystroke(number1, number2) for number1 in numbers1 for number2 in numbers2)

    def united(self, root1, root2):
        """The two clusters are one now, under the smaller root."""
        numbers = self._of_root.pop(root1) | self._of_root.pop(root2)
        self._of_root[min(root1, root2)] = numbers


def find_duplicates(records, languages=None, passes=blocking_passes.DEFAULT_PASSES, check=True,
                    threshold=DEFAULT_THRESHOLD, max_block=DEFAULT_MAX_BLOCK, min_share=DEFAULT_MIN_SHARE,
                    **hash_options):
    """The cluster number of each record, counted from 1 in order of first
    appearance; records are mappings of libpostal's labels (house, road,
    house_number, postcode, city, ...) to str.

    Records are blocked on their near-duplicate keys over the passes named
    (see addrnorm.passes; hash_options are near_dupe_hashes' options), each
    candidate pair is compared field by field (see addrnorm.compare) and
    united when its score reaches threshold; check=False unites every pair
    that shares a key.
    """
    settings = Settings(hash_options, languages, passes, check, threshold, max_block, min_share)
    with tempfile.TemporaryDirectory(prefix="addrnorm-") as folder:
        run = Deduplication(settings, folder)
        try:
            for record in records:
                given = [label for label, value in record.items() if value]
                fields = dict(zip(*blocking_passes.house_number_from_street(given, [record[label] for label in given])))
                run.add(fields, block_keys(fields, settings))
            run.store.seal()
            check = Check(run.store, settings, explain=False)
            matched = (pair for pair in run.candidate_pairs() if check_pair(pair, check)[2])
            return run.clusters(matched).tolist()
        finally:
            run.close()
