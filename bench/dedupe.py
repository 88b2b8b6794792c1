"""The whole de-duplication workflow, measured: `addrnorm dupes` on records
made by bench/dedupe_data.py, whose true duplicates are known, in several
configurations of the command.

    PYTHONPATH=BUILD LIBPOSTAL_DATA_DIR=DATA python bench/dedupe.py [--records 20000] [--real]
    python bench/dedupe.py --check --min-f1 0.97          # CI: exit 1 below the bar

For each kind of record (places, persons) and configuration, prints:

  candidates  pairs of records the command compared (or, where it cannot say,
              the pairs within its clusters: marked *)
  PC          pairs completeness: true duplicate pairs among the candidates,
              out of all true duplicate pairs (what blocking can find at best)
  RR          reduction ratio: 1 - candidates / all n(n-1)/2 pairs
  PQ          pairs quality: true duplicate pairs among the candidates, out of
              the candidates
  P, R, F1    pairwise precision, recall and F1 of the output clusters against
              the true entities
  largest     the largest output cluster
  rec/s jN    records per second with --jobs N (the output written to a
              file; the list of pairs, which costs about as much again, in a
              run of its own, whose time is shown below the table)
  RSS, all    the peak resident memory of the command's largest process
              (getrusage of its process tree), and of all its processes
              together (sampled every 50 ms), the most over the --jobs runs
  tmp         the peak disk space of the command's temporary files (sampled,
              open but deleted files included)

then, per change the generator makes, how many of the duplicates with it
landed in the cluster of their entity's first record.  The figures come from
counting, never from listing pairs, except the candidates, which the command
lists (--pairs).

The libpostal used is whichever the environment gives (the test double when
ADDRNORM_DOUBLE is set: its keys are only label|value, so figures there only
show that the bench runs); --real refuses to run on anything but the real
library with a named data directory.
"""
import argparse
import collections
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import dedupe_data  # noqa: E402

MAPPINGS = {
    "places": "name=house,number=house_number,street=road,zip=postcode,town=city,id=",
    "persons": "name=house,number=house_number,street=road,unit=unit,zip=postcode,town=city,id=",
}

# name: (arguments, what each needs of the command).  "today" is one pass of
# keys over the whole record, records sharing any key united: what the
# command did before it had passes and a field-by-field check.
CONFIGS = collections.OrderedDict([
    ("today", ["--passes", "full", "--no-check"]),
    ("passes+check", []),
    ("passes,no-check", ["--no-check"]),
])


def pairs_in(count):
    return count * (count - 1) // 2


def ratio(part, whole, empty=1.0):
    return part / whole if whole else empty


def cluster_scores(clusters, entities):
    """Pairwise precision, recall and F1 of a clustering (a cluster label per
    record) against the truth (an entity per record), by counting: a group
    of k records holds k(k-1)/2 pairs, and the pairs both put together are
    those within each (cluster, entity) cell.  With no pairs predicted,
    precision is 1 (nothing claimed, nothing wrong); with no true pairs,
    recall is 1."""
    if len(clusters) != len(entities):
        raise ValueError("%d cluster labels for %d records" % (len(clusters), len(entities)))
    sizes = collections.Counter(clusters)
    predicted = sum(pairs_in(size) for size in sizes.values())
    true = sum(pairs_in(size) for size in collections.Counter(entities).values())
    correct = sum(pairs_in(size) for size in collections.Counter(zip(clusters, entities)).values())
    precision, recall = ratio(correct, predicted), ratio(correct, true)
    f1 = 2 * precision * recall / (precision + recall) if precision + recall else 0.0
    return {"predicted_pairs": predicted, "true_pairs": true, "correct_pairs": correct, "precision": precision,
            "recall": recall, "f1": f1, "largest": max(sizes.values()) if sizes else 0, "clusters": len(sizes)}


def candidate_scores(pairs, entities):
    """Pairs completeness, pairs quality and reduction ratio of candidate
    pairs (record index, record index), each counted once whatever its order
    or repeats."""
    seen = set()
    correct = 0
    for a, b in pairs:
        if a == b:
            continue
        key = (a, b) if a < b else (b, a)
        if key in seen:
            continue
        seen.add(key)
        if entities[a] == entities[b]:
            correct += 1
    true = sum(pairs_in(size) for size in collections.Counter(entities).values())
    count = len(seen)
    return {"candidates": count, "true_candidates": correct, "completeness": ratio(correct, true),
            "quality": ratio(correct, count), "reduction": 1.0 - ratio(count, pairs_in(len(entities)), 0.0)}


def change_scores(clusters, truth):
    """{change: [duplicates with it alone, found, duplicates with it among
    others, found]}: found when the duplicate shares the cluster of its
    entity's first record."""
    first = {}
    for index, (entity, changes) in enumerate(truth):
        if not changes:
            first[entity] = index
    scores = collections.defaultdict(lambda: [0, 0, 0, 0])
    for index, (entity, changes) in enumerate(truth):
        if not changes or entity not in first:
            continue
        found = clusters[index] == clusters[first[entity]]
        names = changes.split("+")
        for name in names:
            score = scores[name]
            at = 0 if len(names) == 1 else 2
            score[at] += 1
            score[at + 1] += found
    return dict(scores)


def same_partition(first, second):
    """Whether two labellings group the records alike, whatever the labels."""
    return len(first) == len(second) and len(set(zip(first, second))) == len(set(first)) == len(set(second))


# Running the command.

class Watch(threading.Thread):
    """Samples a process tree: the resident memory of all its processes
    together, and the disk space of the files it holds open under a folder
    or has left there (temporary files are usually deleted as soon as made,
    so listing the folder alone would see nothing)."""

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
            self.done.wait(0.05)


def exit_status(status):
    if os.WIFSIGNALED(status):
        return -os.WTERMSIG(status)
    return os.WEXITSTATUS(status)


def run_command(argv, work, stderr_path):
    """Runs python -m addrnorm argv in work, its temporary files in a folder
    of their own; returns (seconds, status, largest process RSS, all
    processes' RSS, temporary disk), in bytes."""
    scratch = tempfile.mkdtemp(prefix="tmp-", dir=work)
    env = dict(os.environ, TMPDIR=scratch)
    with open(stderr_path, "w") as errors:
        start = time.perf_counter()
        # The working directory is not the checkout, whose addrnorm/ (no
        # built modules) would shadow the build on PYTHONPATH.
        process = subprocess.Popen([sys.executable, "-m", "addrnorm"] + argv, cwd=work, env=env,
                                   stdout=subprocess.DEVNULL, stderr=errors)
        watch = Watch(process.pid, scratch)
        watch.start()
        # wait4: the resources of this command's tree alone, not of every
        # child this bench has had.
        _, status, usage = os.wait4(process.pid, 0)
        seconds = time.perf_counter() - start
        process.returncode = exit_status(status)
        watch.done.set()
        watch.join()
    shutil.rmtree(scratch, ignore_errors=True)
    if process.returncode != 0:
        with open(stderr_path, encoding="utf-8", errors="replace") as errors:
            raise SystemExit("addrnorm %s: status %d\n%s" % (" ".join(argv), process.returncode, errors.read()[-2000:]))
    return seconds, process.returncode, usage.ru_maxrss * 1024, watch.peak_rss, watch.peak_disk


def command_features():
    """Which of the newer dupes options this build has."""
    text = subprocess.run([sys.executable, "-m", "addrnorm", "dupes", "--help"], stdout=subprocess.PIPE,
                          universal_newlines=True, cwd=tempfile.gettempdir(), check=True).stdout
    return {name: ("--" + name) in text for name in ("passes", "pairs", "no-check")}


def config_arguments(name, kind, features):
    """The command's arguments for a configuration, or None when this build
    cannot run it."""
    if features["passes"] and features["no-check"]:
        return list(CONFIGS[name])
    if name == "today":
        # Before passes: records without a venue's name need address keys.
        return ["--address-only-keys"] if kind == "persons" else []
    return None


def library_in_use(real):
    double = os.environ.get("ADDRNORM_DOUBLE")
    data = os.environ.get("LIBPOSTAL_DATA_DIR")
    if real and (double or not data):
        raise SystemExit("bench/dedupe.py --real: needs the real libpostal with LIBPOSTAL_DATA_DIR set and "
                         "ADDRNORM_DOUBLE unset (now: LIBPOSTAL_DATA_DIR=%s, ADDRNORM_DOUBLE=%s)" % (data, double))
    info = subprocess.run([sys.executable, "-m", "addrnorm", "data", "info"], stdout=subprocess.PIPE,
                          stderr=subprocess.STDOUT, universal_newlines=True, cwd=tempfile.gettempdir())
    first = info.stdout.strip().splitlines()[:1] or ["(addrnorm data info said nothing)"]
    if double:
        return "the test double %s (figures are a smoke test only); data %s" % (double, first[0])
    return "libpostal with data %s" % first[0]


def read_clusters(path, count, keep_records=False):
    """Cluster label per record index, from the command's JSON Lines output;
    record i is on input line i + 2."""
    clusters = [None] * count
    records = [None] * count if keep_records else None
    with open(path, encoding="utf-8") as output:
        for line in output:
            item = json.loads(line)
            index = item["line"] - 2
            if str(index) != item["record"]["id"]:
                raise SystemExit("line %d holds record %s: the output and the input disagree"
                                 % (item["line"], item["record"]["id"]))
            clusters[index] = item["cluster"]
            if records is not None:
                records[index] = item["record"]
    missing = clusters.count(None)
    if missing:
        raise SystemExit("%s: %d records missing from the output" % (path, missing))
    return clusters, records


def read_pairs(path, matched_counts):
    """(record index, record index) of each pair in a --pairs file; counts
    the pairs the check matched into matched_counts."""
    with open(path, encoding="utf-8") as pairs:
        for line in pairs:
            item = json.loads(line)
            if item.get("matched"):
                matched_counts["matched"] += 1
            yield item["a"] - 2, item["b"] - 2


def summary_pairs(stderr_path):
    with open(stderr_path, encoding="utf-8", errors="replace") as errors:
        found = re.findall(r"([\d,]+) candidate pairs", errors.read())
    return int(found[-1].replace(",", "")) if found else None


def measure(kind, name, arguments, data, truth, options, work):
    """One configuration on one kind of record: a dict of figures."""
    entities = [entity for entity, _ in truth]
    base = ["dupes", data, "--map", MAPPINGS[kind]] + arguments
    result = {"kind": kind, "config": name, "rates": {}, "rss": 0, "tree_rss": 0, "tmp": 0, "notes": []}
    first_clusters = records = None
    stem = os.path.join(work, "%s-%s" % (kind, re.sub(r"\W", "_", name)))
    for jobs in options.jobs:
        output = "%s-j%d.jsonl" % (stem, jobs)
        argv = base + ["--jobs", str(jobs), "-o", output]
        seconds, status, rss, tree_rss, disk = run_command(argv, work, output + ".err")
        result["rates"][jobs] = len(truth) / seconds
        result["rss"] = max(result["rss"], rss)
        result["tree_rss"] = max(result["tree_rss"], tree_rss)
        result["tmp"] = max(result["tmp"], disk)
        clusters, found_records = read_clusters(output, len(truth), options.examples > 0 and records is None)
        told = summary_pairs(output + ".err")
        if first_clusters is None:
            first_clusters, records = clusters, found_records
            result.update(cluster_scores(clusters, entities))
            result["changes"] = change_scores(clusters, truth)
            result["summary_pairs"] = told
        else:
            if not same_partition(first_clusters, clusters):
                result["notes"].append("--jobs %d gives other clusters than --jobs %d" % (jobs, options.jobs[0]))
            if told != result["summary_pairs"]:
                result["notes"].append("--jobs %d compares %s pairs, --jobs %d %s" % (
                    jobs, told, options.jobs[0], result["summary_pairs"]))
        if not options.keep:
            os.remove(output)
    result["examples"] = false_merges(first_clusters, truth, records, options.examples) if records else []
    listed = None
    if options.features["pairs"] and options.pairs:
        # A run of its own: listing the pairs with each field's verdict
        # costs as much as the rest of the run, and would skew the rates.
        pairs_path = stem + ".pairs.jsonl"
        argv = base + ["--jobs", str(options.jobs[0]), "--pairs", pairs_path, "-o", os.devnull]
        seconds, _, _, _, _ = run_command(argv, work, pairs_path + ".err")
        result["pairs_seconds"] = seconds
        matched = collections.Counter()
        listed = candidate_scores(read_pairs(pairs_path, matched), entities)
        listed["matched"] = matched["matched"]
        if result["summary_pairs"] is not None and listed["candidates"] != result["summary_pairs"]:
            result["notes"].append("the command counted %s candidate pairs, its --pairs file holds %s" % (
                format(result["summary_pairs"], ","), format(listed["candidates"], ",")))
        if not options.keep:
            os.remove(pairs_path)
    if listed is not None and (listed["candidates"] or not result["predicted_pairs"]):
        result.update(listed)
        result["estimated"] = False
    elif result["summary_pairs"] is not None:
        # Counted but not listed: which of them are true is not known.
        count = result["summary_pairs"]
        result.update({"candidates": count, "true_candidates": None, "completeness": None, "quality": None,
                       "reduction": 1.0 - ratio(count, pairs_in(len(truth)), 0.0), "estimated": False})
    else:
        # A command that neither lists nor counts its pairs: the pairs within
        # the clusters stand in, every one of them sharing a chain of keys.
        correct, count = result["correct_pairs"], result["predicted_pairs"]
        result.update({"candidates": count, "true_candidates": correct,
                       "completeness": ratio(correct, result["true_pairs"]), "quality": ratio(correct, count),
                       "reduction": 1.0 - ratio(count, pairs_in(len(truth)), 0.0), "estimated": True})
    return result


def false_merges(clusters, truth, records, limit):
    """Up to limit clusters holding more than one entity, largest first, as
    lists of (entity, record)."""
    members = collections.defaultdict(list)
    for index, cluster in enumerate(clusters):
        members[cluster].append(index)
    mixed = [indices for indices in members.values() if len(set(truth[i][0] for i in indices)) > 1]
    mixed.sort(key=len, reverse=True)
    return [[(truth[i][0], records[i]) for i in sorted(indices, key=lambda i: truth[i][0])][:8]
            for indices in mixed[:limit]]


# Reporting.

def megabytes(count):
    return "%.0f" % (count / 1e6)


def optional(value):
    return "-" if value is None else "%.4f" % value


def table(results, jobs):
    heads = ["kind", "config", "candidates", "PC", "RR", "PQ", "P", "R", "F1", "largest"] + \
        ["rec/s j%d" % n for n in jobs] + ["RSS MB", "all MB", "tmp MB"]
    rows = []
    for result in results:
        if "f1" not in result:
            rows.append([result["kind"], result["config"], "(not in this build)"] + [""] * (len(heads) - 3))
            continue
        rows.append([result["kind"], result["config"],
                     format(result["candidates"], ",") + ("*" if result["estimated"] else ""),
                     optional(result["completeness"]), "%.6f" % result["reduction"], optional(result["quality"]),
                     "%.4f" % result["precision"], "%.4f" % result["recall"], "%.4f" % result["f1"],
                     str(result["largest"])] +
                    ["%.0f" % result["rates"][n] for n in jobs] +
                    [megabytes(result["rss"]), megabytes(result["tree_rss"]), "%.1f" % (result["tmp"] / 1e6)])
    widths = [max(len(str(row[at])) for row in rows + [heads]) for at in range(len(heads))]
    lines = ["  ".join(cell.ljust(width) if at < 2 else cell.rjust(width)
                       for at, (cell, width) in enumerate(zip(row, widths))).rstrip() for row in [heads] + rows]
    return "\n".join(lines)


def change_table(kind, results):
    done = [result for result in results if result["kind"] == kind and "changes" in result]
    if not done:
        return ""
    names = sorted(set(name for result in done for name in result["changes"]))
    first = done[0]["changes"]
    heads = ["%s: change" % kind, "alone", "with others"] + ["%s alone/others" % r["config"] for r in done]
    rows = []
    for name in names:
        counts = first.get(name, [0, 0, 0, 0])
        cells = [name, str(counts[0]), str(counts[2])]
        for result in done:
            score = result["changes"].get(name, [0, 0, 0, 0])
            cells.append("%6s / %6s" % tuple("%5.1f%%" % (100.0 * found / count) if count else "-"
                                             for count, found in (score[:2], score[2:])))
        rows.append(cells)
    widths = [max(len(row[at]) for row in rows + [heads]) for at in range(len(heads))]
    return "\n".join("  ".join(cell.ljust(width) if at == 0 else cell.rjust(width)
                               for at, (cell, width) in enumerate(zip(row, widths))).rstrip()
                     for row in [heads] + rows)


def integers(text):
    return [int(item) for item in text.split(",") if item.strip()]


def names(text):
    return [item.strip() for item in text.split(",") if item.strip()]


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--records", type=int, default=20000, help="records per kind (default: 20000)")
    parser.add_argument("--kinds", type=names, default=["places", "persons"], help="(default: places,persons)")
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--configs", type=names, default=list(CONFIGS),
                        help="of %s (default: all)" % ", ".join(CONFIGS))
    parser.add_argument("--jobs", type=integers, default=[1, 2], help="--jobs values to time (default: 1,2)")
    parser.add_argument("--real", action="store_true",
                        help="refuse to run unless on the real libpostal with LIBPOSTAL_DATA_DIR set")
    parser.add_argument("--check", action="store_true",
                        help="exit 1 when passes+check scores an F1 below --min-f1 on any kind")
    parser.add_argument("--min-f1", type=float, default=0.97)
    parser.add_argument("--examples", type=int, default=0, metavar="N",
                        help="show the N largest clusters that merge distinct entities (default: 0)")
    parser.add_argument("--no-pairs", dest="pairs", action="store_false",
                        help="skip the run that lists the pairs compared (PC and PQ are then not known)")
    parser.add_argument("--work", help="where to put data and outputs (default: a temporary folder)")
    parser.add_argument("--keep", action="store_true", help="keep data, outputs and pairs files")
    options = parser.parse_args(argv)
    for name in options.configs:
        if name not in CONFIGS:
            parser.error("--configs: no configuration %r (they are: %s)" % (name, ", ".join(CONFIGS)))
    for kind in options.kinds:
        if kind not in MAPPINGS:
            parser.error("--kinds: places or persons, not %r" % kind)
    if not options.jobs or min(options.jobs) < 1:
        parser.error("--jobs: whole numbers of at least 1")
    if options.check and "passes+check" not in options.configs:
        options.configs.append("passes+check")

    print("library: %s" % library_in_use(options.real))
    options.features = command_features()
    work = options.work or tempfile.mkdtemp(prefix="addrnorm-dedupe-")
    os.makedirs(work, exist_ok=True)
    results = []
    try:
        for kind in options.kinds:
            data = os.path.join(work, "%s-%d-%d.csv" % (kind, options.records, options.seed))
            truth_path = data[:-4] + ".truth.csv"
            start = time.perf_counter()
            with open(data, "w", newline="", encoding="utf-8") as out, \
                    open(truth_path, "w", newline="", encoding="utf-8") as truth_out:
                entity_count = dedupe_data.generate(kind, options.records, options.seed, out, truth_out)
            seconds = time.perf_counter() - start
            truth = dedupe_data.read_truth(truth_path)
            true_pairs = sum(pairs_in(size) for size in collections.Counter(e for e, _ in truth).values())
            print("%s: %s records of %s entities, %s true duplicate pairs (generated at %.0f records/s)" % (
                kind, format(len(truth), ","), format(entity_count, ","), format(true_pairs, ","),
                len(truth) / seconds if seconds else 0))
            sys.stdout.flush()
            for name in options.configs:
                arguments = config_arguments(name, kind, options.features)
                if arguments is None:
                    results.append({"kind": kind, "config": name})
                    continue
                start = time.perf_counter()
                result = measure(kind, name, arguments, data, truth, options, work)
                results.append(result)
                # The table waits for every run: meanwhile, each as it ends.
                sys.stderr.write("%s, %s: P %.4f R %.4f F1 %.4f, largest %d (%.0f s)\n" % (
                    kind, name, result["precision"], result["recall"], result["f1"], result["largest"],
                    time.perf_counter() - start))
    finally:
        if not options.keep and not options.work:
            shutil.rmtree(work, ignore_errors=True)

    print()
    print(table(results, options.jobs))
    if any(result.get("estimated") for result in results):
        print("* the command neither lists nor counts its pairs: the pairs within the output clusters stand in")
    for result in results:
        for note in result.get("notes", []):
            print("%s, %s: %s" % (result["kind"], result["config"], note))
        if result.get("matched") is not None and not result.get("estimated"):
            print("%s, %s: the check matched %s of %s candidate pairs (listing them took %.0f s)" % (
                result["kind"], result["config"], format(result["matched"], ","), format(result["candidates"], ","),
                result["pairs_seconds"]))
    for kind in options.kinds:
        text = change_table(kind, results)
        if text:
            print()
            print("duplicates found in their entity's cluster, by change (changed alone / with others):")
            print(text)
    for result in results:
        for number, example in enumerate(result.get("examples", [])):
            print()
            print("%s, %s: a cluster merging %d entities:" % (result["kind"], result["config"],
                                                               len(set(e for e, _ in example))))
            for entity, record in example:
                print("  entity %d: %s" % (entity, ", ".join(value for key, value in record.items() if key != "id")))

    if options.check:
        failed = [result for result in results if result["config"] == "passes+check"
                  and ("f1" not in result or result["f1"] < options.min_f1)]
        for result in failed:
            print("check failed: %s, passes+check: %s" % (
                result["kind"], "F1 %.4f < %.4f" % (result["f1"], options.min_f1) if "f1" in result
                else "not in this build"))
        return 1 if failed else 0
    return 0


if __name__ == "__main__":
    sys.exit(main())
