"""The de-duplication measured (addrnorm.dedupe: libpostal's keys and
expansions fed to a Fellegi-Sunter model on Splink and DuckDB), on records
whose true duplicates are known: places and persons from
bench/dedupe_data.py at each --records size, and FEBRL 2.

    PYTHONPATH=BUILD LIBPOSTAL_DATA_DIR=DATA python bench/dedupe.py --real --records 5000,100000 --jobs 2
    python bench/dedupe.py --real --records 10000000 --data places,persons --jobs 8 \
        --memory-limit 32GB --work /a/disk/with/room   # data, DuckDB's spills and results go to --work
    python bench/dedupe.py --check --min-f1 0.9          # CI: exit 1 below the bar

Memory stays bounded by the pipeline's own: records are generated in
windows and read as a stream, scores are counted in DuckDB.

Each data set runs twice, in processes of their own, through the stages the
command runs (the same calls, spread over --jobs forked workers as the
command spreads them): with libpostal (its keys for blocking, its
expansions and root forms as comparison levels) and with the same Splink
settings without them (libpostal=False), to show what libpostal adds.  The
model is learned from each data set with its defaults: nothing here is
tuned to the data.  Prints a markdown table:

  P, R, F1     pairwise precision, recall and F1 of the clusters against the
               true entities
  PC           pairs completeness: the true pairs among the pairs compared,
               out of all true pairs (the recall blocking allows at best)
  compared     pairs scored by the model
  largest      the largest cluster
  keys, expand libpostal's features: each record's near-duplicate keys, each
               distinct value's expansions and root forms (seconds, the
               records read and handed to the workers included)
  floor        the same libpostal calls alone, from C++ (bench/floor.cpp),
               spread over as many forked processes, in seconds
  blocking, training, scoring, clustering   the model's stages, in seconds
  RSS          peak resident memory of the run's process tree (sampled)
  disk         peak size of the run's temporary folder: the records' feature
               table and DuckDB's spill (sampled)

The libpostal in use is whichever the environment gives (on the test double,
whose keys are label|value and which expands nothing, the figures only show
that the bench runs); --real refuses anything but the real library.
"""
import argparse
import contextlib
import csv
import ctypes
import json
import os
import shutil
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import dedupe_data  # noqa: E402
import febrl  # noqa: E402

# Each data set's columns and their libpostal labels.
MAPPINGS = {
    "places": {"name": "house", "number": "house_number", "street": "road", "zip": "postcode", "town": "city"},
    "persons": {"given": "house", "surname": "house", "number": "house_number", "street": "road", "unit": "unit",
                "zip": "postcode", "town": "city"},
    "febrl2": febrl.MAPPING,
}
GENERATED = ("places", "persons")
PHASES = ("keys", "expand", "blocking", "training", "scoring", "clustering")


def pairs_in(count):
    return count * (count - 1) // 2


def ratio(part, whole, empty=1.0):
    return part / whole if whole else empty


def scores(connection, clusters="bench_clusters", truth="bench_truth", predictions=None):
    """Pairwise precision, recall and F1 of a clustering, counted in DuckDB
    (memory bounded for any size): tables clusters (id, cluster) and truth
    (id, entity); a group of k records holds k(k-1)/2 pairs, and the pairs
    both put together are those within each (cluster, entity) cell.  With
    no pair predicted, precision is 1 (nothing claimed, nothing wrong); with
    no true pair, recall is 1.  predictions (unique_id_l, unique_id_r), the
    pairs compared, gives pairs completeness: those of the same entity,
    counted once whatever their order, out of all true pairs."""
    def pairs(sql):
        return int(connection.execute("SELECT coalesce(sum(n * (n - 1) // 2), 0) FROM (%s)" % sql).fetchall()[0][0])

    joined = "SELECT c.cluster, t.entity FROM %s AS c JOIN %s AS t ON c.id = t.id" % (clusters, truth)
    records = connection.execute("SELECT count(*) FROM %s" % clusters).fetchall()[0][0]
    matched = connection.execute("SELECT count(*) FROM (%s)" % joined).fetchall()[0][0]
    if matched != records or records != connection.execute("SELECT count(*) FROM %s" % truth).fetchall()[0][0]:
        raise ValueError("%d records clustered, %d with a truth" % (records, matched))
    predicted = pairs("SELECT count(*) AS n FROM %s GROUP BY cluster" % clusters)
    true = pairs("SELECT count(*) AS n FROM %s GROUP BY entity" % truth)
    correct = pairs("SELECT count(*) AS n FROM (%s) GROUP BY cluster, entity" % joined)
    largest = connection.execute("SELECT coalesce(max(n), 0) FROM (SELECT count(*) AS n FROM %s GROUP BY cluster)"
                                 % clusters).fetchall()[0][0]
    precision, recall = ratio(correct, predicted), ratio(correct, true)
    result = {"predicted_pairs": predicted, "true_pairs": true, "correct_pairs": correct, "precision": precision,
              "recall": recall, "f1": 2 * precision * recall / (precision + recall) if precision + recall else 0.0,
              "largest": int(largest)}
    if predictions is not None:
        compared, found = connection.execute("""
            SELECT count(*), coalesce(sum(CASE WHEN a.entity = b.entity THEN 1 ELSE 0 END), 0)
            FROM (SELECT DISTINCT least(unique_id_l, unique_id_r) AS l, greatest(unique_id_l, unique_id_r) AS r
                  FROM {0} WHERE unique_id_l <> unique_id_r) AS p
            JOIN {1} AS a ON a.id = p.l JOIN {1} AS b ON b.id = p.r""".format(predictions, truth)).fetchall()[0]
        result.update(compared=int(compared), true_compared=int(found), completeness=ratio(int(found), true))
    return result


# One run, in a process of its own (--one): the pipeline's stages, timed.

def read_records(path, columns):
    """(number, record) of each row, the record holding the mapped columns
    (empty ones left out, as a file's missing values are)."""
    with open(path, newline="", encoding="utf-8") as source:
        for number, row in enumerate(csv.DictReader(source)):
            yield number, {column: row[column] for column in columns if row.get(column)}


def _forms(item, languages):
    from addrnorm.dedupe import features

    return features.value_forms(item, languages)


def run_one(data, truth, kind, jobs, libpostal, temp_dir, memory_limit):
    from addrnorm.dedupe import features
    from addrnorm.dedupe.deduplication import Counts, Deduplication
    from addrnorm.dedupe.fields import fields_of
    from addrnorm.dedupe.model import DEFAULT_MAX_BLOCK, DEFAULT_THRESHOLD
    from addrnorm.cli.workers import processed

    mapping = MAPPINGS[kind]
    fields = fields_of(mapping, list(mapping))
    times = {}

    class Timed:
        """The stages' progress, as seconds a stage."""

        @contextlib.contextmanager
        def stage(self, name):
            start = time.perf_counter()
            try:
                yield
            finally:
                times[name] = times.get(name, 0.0) + time.perf_counter() - start

    timed, counts = Timed(), Counts()
    records, forms = features.Records(fields, temp_dir), features.Forms()
    run = Deduplication(fields, DEFAULT_THRESHOLD, DEFAULT_MAX_BLOCK, "duckdb", memory_limit, temp_dir,
                        libpostal=libpostal)
    try:
        with timed.stage("keys"):
            if libpostal:
                job = (fields, {}, None, None)
                for number, record, keys, error in processed(read_records(data, mapping), features.record_keys, job,
                                                             jobs, features.warm_up):
                    if error is not None:
                        raise SystemExit("record %d: %s" % (number, error))
                    records.add(record, keys)
            else:
                # Without libpostal: no keys and no expansions, so none of
                # its calls are made.
                for number, record in read_records(data, mapping):
                    records.add(record, [])
        with timed.stage("expand"):
            if libpostal:
                for number, _, made, error in processed(records.values_to_expand(), _forms, None, jobs,
                                                        features.warm_up):
                    if error is not None:
                        raise SystemExit("expanding a value: %s" % error)
                    forms.add(number, made)
        run.candidates(records, forms, timed)
        records.close()
        del records, forms
        run.learn_model(timed, counts)
        clusters = run.clusters(timed, counts)
        import pyarrow

        connection = run.engine.connection
        connection.register("bench_clusters_in", pyarrow.table({
            "id": pyarrow.array(range(len(clusters)), pyarrow.int64()), "cluster": pyarrow.array(clusters,
                                                                                               pyarrow.int64())}))
        connection.execute("CREATE TABLE bench_clusters AS SELECT * FROM bench_clusters_in")
        connection.execute("CREATE TABLE bench_truth AS SELECT id::BIGINT AS id, entity::BIGINT AS entity "
                           "FROM read_csv('%s', header = true, all_varchar = true)" % truth.replace("'", "''"))
        result = scores(connection, predictions=run.predictions.physical_name if run.predictions else None)
        if run.predictions is None:
            result.update(compared=0, true_compared=0, completeness=ratio(0, result["true_pairs"]))
        result.update(times=times, records=len(clusters), learned=counts.learned)
        return result
    finally:
        run.close()


# The floor (--floor): the same libpostal calls from C++, in forked workers.

def floor_library():
    import addrnorm

    path = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(addrnorm.__file__))), "bench",
                        "libbench_floor.so")
    return path if os.path.exists(path) else None


FLOOR_BATCH = 20000


def strings(texts):
    return (ctypes.c_char_p * len(texts))(*[text.encode("utf-8") for text in texts])


def _floor_worker(arguments):
    """Seconds of libpostal calls in worker w of jobs: near_dupe_hashes for
    every jobs-th record, expand_address twice for every distinct value
    whose hash falls to it; only the C++ loops are timed."""
    path, data, kind, w, jobs = arguments
    from addrnorm.dedupe.fields import fields_of, labelled, text_of

    lib = ctypes.CDLL(path)
    lib.floor_expand.restype = ctypes.c_double
    lib.floor_expand.argtypes = [ctypes.POINTER(ctypes.c_char_p), ctypes.c_size_t, ctypes.POINTER(ctypes.c_char_p),
                                 ctypes.c_size_t, ctypes.c_int, ctypes.c_int, ctypes.c_int]
    lib.floor_hash.restype = ctypes.c_double
    lib.floor_hash.argtypes = [ctypes.POINTER(ctypes.c_char_p), ctypes.POINTER(ctypes.c_char_p),
                               ctypes.POINTER(ctypes.c_size_t), ctypes.c_size_t, ctypes.POINTER(ctypes.c_char_p),
                               ctypes.c_size_t, ctypes.c_int, ctypes.c_double]
    mapping = MAPPINGS[kind]
    fields = fields_of(mapping, list(mapping))
    no_languages = strings([""])
    seconds = 0.0
    labels, values, counts = [], [], []

    def hash_batch():
        if counts:
            ns = lib.floor_hash(strings(labels), strings(values), (ctypes.c_size_t * len(counts))(*counts),
                                len(counts), no_languages, 0, 1, float("nan"))
            return ns * len(counts) / 1e9
        return 0.0

    distinct = {}
    for number, record in read_records(data, mapping):
        if number % jobs == w:
            record_labels, record_values = labelled(record, fields)
            labels.extend(record_labels)
            values.extend(record_values)
            counts.append(len(record_labels))
            if len(counts) == FLOOR_BATCH:
                seconds += hash_batch()
                labels, values, counts = [], [], []
        for field in fields:
            value = text_of(record.get(field.column))
            if value is not None and hash((field.components, value)) % jobs == w:
                distinct.setdefault(field.components, set()).add(value)
    seconds += hash_batch()
    for components, texts in distinct.items():
        texts = sorted(texts)
        for start in range(0, len(texts), FLOOR_BATCH):
            batch = strings(texts[start:start + FLOOR_BATCH])
            count = min(FLOOR_BATCH, len(texts) - start)
            # Twice, as the features expand each value twice (expansions,
            # then root forms).
            for _ in range(2):
                seconds += lib.floor_expand(batch, count, no_languages, 0, -1, -1, components) * count / 1e9
    return seconds


def run_floor(data, kind, jobs):
    import multiprocessing

    from addrnorm.dedupe import features

    path = floor_library()
    if path is None:
        return None
    features.warm_up()
    work = [(path, data, kind, w, jobs) for w in range(jobs)]
    if jobs == 1:
        return _floor_worker(work[0])
    with multiprocessing.get_context("fork").Pool(jobs) as pool:
        return max(pool.map(_floor_worker, work))


# The runs, each watched from outside.

class Watch(threading.Thread):
    """Samples a process tree: the resident memory of all its processes
    together, and the disk space of the files under a folder (open ones
    included, deleted or not)."""

    def __init__(self, pid, folder):
        super(Watch, self).__init__(daemon=True)
        self.pid, self.folder = pid, os.path.realpath(folder)
        self.peak_rss = self.peak_disk = 0
        self.done = threading.Event()

    def tree(self):
        pids, at = [self.pid], 0
        while at < len(pids):
            pid = pids[at]
            at += 1
            try:
                for task in os.listdir("/proc/%d/task" % pid):
                    with open("/proc/%d/task/%s/children" % (pid, task)) as children:
                        pids.extend(int(child) for child in children.read().split())
            except OSError:
                pass
        return pids

    def sample(self):
        rss = 0
        files = {}
        for pid in self.tree():
            try:
                with open("/proc/%d/status" % pid) as status:
                    for line in status:
                        if line.startswith("VmRSS:"):
                            rss += int(line.split()[1]) * 1024
                fds = "/proc/%d/fd" % pid
                for fd in os.listdir(fds):
                    try:
                        if os.readlink(os.path.join(fds, fd)).startswith(self.folder):
                            info = os.stat(os.path.join(fds, fd))
                            files[(info.st_dev, info.st_ino)] = info.st_blocks * 512
                    except OSError:
                        pass
            except OSError:
                pass
        for root, _, names in os.walk(self.folder):
            for name in names:
                try:
                    info = os.stat(os.path.join(root, name))
                    files[(info.st_dev, info.st_ino)] = info.st_blocks * 512
                except OSError:
                    pass
        self.peak_rss = max(self.peak_rss, rss)
        self.peak_disk = max(self.peak_disk, sum(files.values()))

    def run(self):
        while not self.done.is_set():
            self.sample()
            self.done.wait(0.1)


def child(arguments, work, name):
    """Runs this file with arguments in a process of its own; returns its
    result (JSON), with the peak RSS of its tree and the peak disk of its
    temporary folder."""
    scratch = tempfile.mkdtemp(prefix="tmp-", dir=work)
    result_path = os.path.join(work, name + ".json")
    errors_path = os.path.join(work, name + ".err")
    with open(errors_path, "w") as errors:
        process = subprocess.Popen([sys.executable, os.path.abspath(__file__)] + arguments +
                                   ["--temp-dir", scratch, "--result", result_path], cwd=work,
                                   env=dict(os.environ, TMPDIR=scratch), stdout=errors, stderr=errors)
        watch = Watch(process.pid, scratch)
        watch.start()
        start = time.perf_counter()
        _, status, _ = os.wait4(process.pid, 0)
        seconds = time.perf_counter() - start
        watch.done.set()
        watch.join()
    shutil.rmtree(scratch, ignore_errors=True)
    if status != 0:
        with open(errors_path, encoding="utf-8", errors="replace") as errors:
            raise SystemExit("%s failed:\n%s" % (name, errors.read()[-3000:]))
    with open(result_path, encoding="utf-8") as source:
        result = json.load(source)
    result.update(rss=watch.peak_rss, disk=watch.peak_disk, seconds=seconds)
    return result


def library_in_use(real):
    double = os.environ.get("ADDRNORM_DOUBLE")
    data = os.environ.get("LIBPOSTAL_DATA_DIR")
    if real and (double or not data):
        raise SystemExit("bench/dedupe.py --real: needs the real libpostal with LIBPOSTAL_DATA_DIR set and "
                         "ADDRNORM_DOUBLE unset (now: LIBPOSTAL_DATA_DIR=%s, ADDRNORM_DOUBLE=%s)" % (data, double))
    if double:
        return "the test double %s (figures only show that the bench runs)" % double
    return "libpostal with its data in %s" % (data or "the default folder")


def prepare(name, records, seed, work):
    """(data, truth, how it was made) of a data set, written into work."""
    stem = os.path.join(work, "%s-%d-%d" % (name, records, seed) if name in GENERATED else name)
    data, truth = stem + ".csv", stem + ".truth.csv"
    start = time.perf_counter()
    with open(data, "w", newline="", encoding="utf-8") as out, \
            open(truth, "w", newline="", encoding="utf-8") as truth_out:
        if name in GENERATED:
            entities = dedupe_data.generate(name, records, seed, out, truth_out)
            made = "%s entities, generated in %.0f s" % (format(entities, ","), time.perf_counter() - start)
        else:
            records, pairs = febrl.write(out, truth_out)
            made = "%s true pairs" % format(pairs, ",")
    return data, truth, records, made


def fmt_seconds(value):
    return "-" if value is None else "%.1f" % value


def table(rows):
    heads = ["data", "records", "libpostal", "P", "R", "F1", "PC", "compared", "largest", "keys s", "expand s",
             "floor s", "blocking s", "training s", "scoring s", "clustering s", "total s", "RSS MB", "disk MB"]
    lines = ["| " + " | ".join(heads) + " |", "|" + "|".join("---" if at < 3 else "--:" for at in range(len(heads)))
             + "|"]
    for row in rows:
        times = row["times"]
        lines.append("| " + " | ".join([
            row["data"], format(row["records"], ","), "yes" if row["libpostal"] else "no",
            "%.4f" % row["precision"], "%.4f" % row["recall"], "%.4f" % row["f1"], "%.4f" % row["completeness"],
            format(row["compared"], ","), format(row["largest"], ","),
            fmt_seconds(times.get("keys")) if row["libpostal"] else "-",
            fmt_seconds(times.get("expand")) if row["libpostal"] else "-",
            fmt_seconds(row.get("floor")) if row["libpostal"] else "-",
            fmt_seconds(times.get("blocking")), fmt_seconds(times.get("training")),
            fmt_seconds(times.get("scoring")), fmt_seconds(times.get("clustering")), "%.0f" % row["seconds"],
            "%.0f" % (row["rss"] / 1e6), "%.0f" % (row["disk"] / 1e6)]) + " |")
    return "\n".join(lines)


def integers(text):
    return [int(item) for item in text.split(",") if item.strip()]


def names(text):
    return [item.strip() for item in text.split(",") if item.strip()]


def check_failures(rows, min_f1, tolerance=0.0):
    """What --check fails on: a data set whose F1 with libpostal is below the
    bar, or more than tolerance below the same model's without libpostal's
    levels and keys on the same data (libpostal must add, not cost)."""
    without = {row["data"]: row["f1"] for row in rows if not row["libpostal"]}
    failed = []
    for row in rows:
        if row["libpostal"] and row["f1"] < min_f1:
            failed.append("%s: F1 %.4f < %.4f" % (row["data"], row["f1"], min_f1))
        elif row["libpostal"] and row["f1"] < without.get(row["data"], 0.0) - tolerance:
            failed.append("%s: F1 %.4f, below %.4f without libpostal" % (row["data"], row["f1"], without[row["data"]]))
    return failed


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--records", type=integers, default=[5000],
                        help="sizes of the generated data sets, comma-separated (default: 5000)")
    parser.add_argument("--data", type=names, default=["places", "persons", "febrl2"],
                        help="data sets, of places, persons, febrl2 (default: all)")
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--jobs", type=int, default=2, help="worker processes for libpostal's calls (default: 2)")
    parser.add_argument("--memory-limit", help="DuckDB's memory limit (e.g. 8GB; default: DuckDB's)")
    parser.add_argument("--no-baseline", dest="baseline", action="store_false",
                        help="skip the runs without libpostal")
    parser.add_argument("--no-floor", dest="floor", action="store_false", help="skip libpostal's floor")
    parser.add_argument("--real", action="store_true",
                        help="refuse to run unless on the real libpostal with LIBPOSTAL_DATA_DIR set")
    parser.add_argument("--check", action="store_true",
                        help="exit 1 when any data set's F1 with libpostal is below --min-f1, or below "
                             "its F1 without libpostal")
    parser.add_argument("--min-f1", type=float, default=0.9)
    parser.add_argument("--tolerance", type=float, default=0.0,
                        help="how far below its F1 without libpostal --check lets a data set's F1 be (default: 0)")
    parser.add_argument("--work", help="where to put data and results (default: a temporary folder, removed)")
    # A run of its own, in a child process.
    parser.add_argument("--one", nargs=3, metavar=("DATA", "TRUTH", "KIND"), help=argparse.SUPPRESS)
    parser.add_argument("--floor-of", nargs=2, metavar=("DATA", "KIND"), help=argparse.SUPPRESS)
    parser.add_argument("--without-libpostal", action="store_true", help=argparse.SUPPRESS)
    parser.add_argument("--temp-dir", help=argparse.SUPPRESS)
    parser.add_argument("--result", help=argparse.SUPPRESS)
    options = parser.parse_args(argv)
    if options.jobs < 1 or any(size < 2 for size in options.records):
        parser.error("--jobs takes 1 or more, --records sizes 2 or more")
    for name in options.data:
        if name not in MAPPINGS:
            parser.error("--data: places, persons or febrl2, not %r" % name)

    if options.one or options.floor_of:
        if options.one:
            data, truth, kind = options.one
            result = run_one(data, truth, kind, options.jobs, not options.without_libpostal, options.temp_dir,
                             options.memory_limit)
        else:
            result = {"floor": run_floor(options.floor_of[0], options.floor_of[1], options.jobs)}
        with open(options.result, "w", encoding="utf-8") as out:
            json.dump(result, out)
        return 0

    print("library: %s; --jobs %d; seed %d" % (library_in_use(options.real), options.jobs, options.seed))
    work = options.work or tempfile.mkdtemp(prefix="addrnorm-dedupe-bench-")
    os.makedirs(work, exist_ok=True)
    rows = []
    try:
        sets = [(name, size) for size in options.records for name in options.data if name in GENERATED]
        sets += [(name, 0) for name in options.data if name not in GENERATED]
        for name, size in sets:
            data, truth, records, made = prepare(name, size, options.seed, work)
            label = name if name not in GENERATED else "%s-%d" % (name, records)
            print("%s: %s records, %s" % (label, format(records, ","), made))
            sys.stdout.flush()
            floor = None
            if options.floor:
                floor = child(["--floor-of", data, name, "--jobs", str(options.jobs)], work, label + "-floor")["floor"]
            for libpostal in [True] + ([False] if options.baseline else []):
                arguments = ["--one", data, truth, name, "--jobs", str(options.jobs)]
                if options.memory_limit:
                    arguments += ["--memory-limit", options.memory_limit]
                if not libpostal:
                    arguments.append("--without-libpostal")
                result = child(arguments, work, "%s-%s" % (label, "libpostal" if libpostal else "plain"))
                result.update(data=label, libpostal=libpostal, floor=floor)
                rows.append(result)
                sys.stderr.write("%s, libpostal %s: P %.4f R %.4f F1 %.4f PC %.4f, %s compared (%.0f s)\n" % (
                    label, "yes" if libpostal else "no", result["precision"], result["recall"], result["f1"],
                    result["completeness"], format(result["compared"], ","), result["seconds"]))
            os.remove(data)
            os.remove(truth)
    finally:
        if not options.work:
            shutil.rmtree(work, ignore_errors=True)
    print()
    print(table(rows))
    for row in rows:
        if row.get("learned") == 0:
            print("%s, libpostal %s: no session of expectation maximisation learned: Splink's starting m "
                  "probabilities were used" % (row["data"], "yes" if row["libpostal"] else "no"))
    if options.check:
        failed = check_failures(rows, options.min_f1, options.tolerance)
        for message in failed:
            print("check failed: " + message)
        return 1 if failed else 0
    return 0


if __name__ == "__main__":
    sys.exit(main())
