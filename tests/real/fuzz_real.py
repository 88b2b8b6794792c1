"""The seeded argument fuzzer, against the real libpostal.

Each batch runs in a child interpreter that sets libpostal up once.  Four
calls in five are address-like text in many scripts (with entities, marks,
emoji, numbers, NULs) and records of libpostal's labels, drawn by a seeded
random generator, so that they reach libpostal; the fifth are the test double
fuzzer's awkward arguments, drawn by hypothesis (tests/fuzz/corpus.py).
One address-like call in four goes to the tokenizer, the normalization, the
language guess, the name keys or the place languages; the hypothesis calls
go to any function.  Every call runs under a watchdog (SIGALRM, whose default action ends the
child) and is written to a file first, so that a crash or a hang is reported
with its input.  Every call must end in a list of str, None or a documented
exception and leave its arguments' reference counts as they were; the batch
is then replayed twice to show that the C heap and RSS stay flat.  Calls
after which libpostal wrote to standard error are collected with what it wrote.

libpostal 1.1.3 never returns from a near-duplicate hash with an infinite
longitude, and takes time in proportion to a longitude far outside -180..180
(geohash/geohash.c:219-220 wraps it by adding or subtracting 360 in a loop):
the binding wraps such a longitude at once and refuses an infinite one, so
those calls are made like any other.  And 1.1.3 crashes (SIGSEGV) on text that
holds a decimal numeric character reference to a UTF-16 surrogate (&#55296; to
&#57343;) beside a character that is not ASCII, such as "é&#55296;", and on
some text holding U+000F, such as "\x0f\u2e5a\u8a42": a nested transliterator
refuses what an earlier step made and returns NULL, and transliterate.c:1041
takes strlen of that NULL.  Such calls are left out and counted, unless
--with-known-faults is given, or the parser is fuzzed, which takes that text
without a fault (all-ASCII text with a surrogate reference is
decoded, and only warned about, when lowercasing is on).

    python fuzz_real.py --cases 20000 --seed 1          # what CI runs
    python fuzz_real.py --cases 1000000 --seed 7        # the long hunt
    python fuzz_real.py --child --cases 2000 --seed N   # one batch, to reproduce
    python fuzz_real.py --parser --cases 3000 --seed 1  # parse_address alone, one batch:
                                                        # its model takes seconds to set up
"""
import argparse
import ctypes
import faulthandler
import gc
import json
import os
import random
import re
import signal
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
TESTS = os.path.dirname(HERE)
sys.path[:0] = [HERE, TESTS, os.path.join(TESTS, "fuzz")]

from fuzz import outcome_of, shared  # noqa: E402
from fuzz_calls import known_crash, real_call, real_parse_call, text_call, text_known_crash  # noqa: E402

CALL_LIMIT = 60  # seconds for one call; the slowest seen take a fraction of one
HEAP_LIMIT = 256 * 1024
RSS_LIMIT_KIB = 4 * 1024
def run_batch(seed, cases, last_call_path, avoid_known_faults=True, parser=False):
    from hypothesis import HealthCheck, Phase, given, seed as with_seed, settings, strategies as st

    import corpus
    from heap import heap_in_use
    from support import rss_kib

    if parser:
        from addrnorm._parser import parse_address

        functions = [(parse_address, corpus.PARSE_KEYWORDS)]
        expand_address = near_dupe_name_hashes = None

        def draw_call(rng, corpus):
            return real_parse_call(rng, corpus)
    else:
        from addrnorm._expand import expand_address
        from addrnorm._kinhash import near_dupe_hashes, near_dupe_name_hashes, place_languages
        from addrnorm._text import classify_language, normalize_string, normalized_tokens, tokenize

        # The expansion and the hash first, then the text functions, in the
        # order of fuzz_calls.TEXT_FUNCTIONS.
        functions = [(expand_address, corpus.EXPAND_KEYWORDS), (near_dupe_hashes, corpus.HASH_KEYWORDS),
                     (tokenize, corpus.TOKENIZE_KEYWORDS), (normalize_string, corpus.NORMALIZE_KEYWORDS),
                     (normalized_tokens, corpus.NORMALIZED_TOKENS_KEYWORDS),
                     (classify_language, corpus.CLASSIFY_KEYWORDS),
                     (near_dupe_name_hashes, corpus.NAME_HASH_KEYWORDS), (place_languages, corpus.PLACE_KEYWORDS)]

        def draw_call(rng, corpus):
            # One call in four is one of the text functions.
            return text_call(rng, 2) if rng.random() < 0.25 else real_call(rng, corpus)
    calls, outcomes, problems, noisy, examples = [], {}, [], [], {}
    slowest, spent = [0.0, None], [0.0, time.perf_counter()]  # in calls; since the start
    last_call = os.open(last_call_path, os.O_WRONLY | os.O_CREAT | os.O_TRUNC)

    def one_call(which, args, kwargs):
        function = functions[which][0]
        if avoid_known_faults:
            # The parser takes such text without crashing: its calls all run.
            crashes = not parser and (known_crash(function is expand_address, args, kwargs) if which < 2
                                      else function is near_dupe_name_hashes and text_known_crash(args, kwargs))
            fault = "known crash" if crashes else None
            if fault:
                outcomes["left out: " + fault] = outcomes.get("left out: " + fault, 0) + 1
                return
        shown = ("%s(*%r, **%r)" % (function.__name__, args, kwargs)).encode("utf-8", "backslashreplace")
        os.pwrite(last_call, shown, 0)
        os.ftruncate(last_call, len(shown))
        # Shared singletons gain and lose references through any code that runs.
        arguments = [argument for argument in list(args) + list(kwargs.values()) if not shared(argument)]
        counts = [sys.getrefcount(argument) for argument in arguments]
        written = os.fstat(2).st_size
        signal.setitimer(signal.ITIMER_REAL, CALL_LIMIT)
        started = time.perf_counter()
        outcome = outcome_of(function, args, kwargs)
        took = time.perf_counter() - started
        signal.setitimer(signal.ITIMER_REAL, 0)
        spent[0] += took
        shown = shown.decode("utf-8")
        if took > slowest[0]:
            slowest[:] = [took, shown[:300]]
        if os.fstat(2).st_size != written:
            noisy.append([shown[:300], os.pread(2, 2000, written).decode("utf-8", "backslashreplace")])
        if counts != [sys.getrefcount(argument) for argument in arguments]:
            problems.append("reference counts changed for %s" % shown[:500])
        examples.setdefault(outcome, shown[:300])
        if outcome.startswith("unexpected"):
            problems.append("%s for %s" % (outcome, shown[:500]))
        outcomes[outcome] = outcomes.get(outcome, 0) + 1
        calls.append((function, args, kwargs))

    @with_seed(seed)
    @settings(max_examples=max(1, cases // 5), database=None, deadline=None,
              suppress_health_check=list(HealthCheck), phases=[Phase.generate])
    @given(st.data())
    def awkward_call(data):
        which = data.draw(st.integers(0, len(functions) - 1))
        one_call(which, *data.draw(corpus.argument_lists(functions[which][1])))

    # libpostal writes to the C stream stderr, on descriptor 2: into a file,
    # so that what each call wrote can be told; a crash's traceback goes to
    # the real standard error.
    real_stderr = os.fdopen(os.dup(2), "w")
    faulthandler.enable(real_stderr)
    with tempfile.TemporaryFile() as errors:
        os.dup2(errors.fileno(), 2)
        awkward_call()
        rng = random.Random(seed)
        while len(calls) < cases:
            one_call(*draw_call(rng, corpus))
        spent[1] = time.perf_counter() - spent[1]

        def replay():
            for function, args, kwargs in calls:
                outcome_of(function, args, kwargs)
            gc.collect()

        # glibc keeps freed memory from the batch's large inputs or gives it
        # back as it sees fit, which moves RSS by tens of megabytes either
        # way: RSS is read once the free memory has been given back.
        libc = ctypes.CDLL(None)

        def settled_rss():
            libc.malloc_trim(0)
            return rss_kib()

        replay()
        heap, rss = heap_in_use(), settled_rss()
        replay()
        heap_growth, rss_growth = heap_in_use() - heap, settled_rss() - rss
    if heap_growth > HEAP_LIMIT or rss_growth > RSS_LIMIT_KIB:
        problems.append("over %d replayed calls the C heap grew by %d bytes and RSS by %d KiB" % (
            len(calls), heap_growth, rss_growth))
    return {"seed": seed, "cases": len(calls), "examples": examples, "outcomes": outcomes, "problems": problems,
            "noisy": noisy[:20], "noisy_calls": len(noisy), "slowest": slowest, "heap_growth": heap_growth,
            "rss_growth": rss_growth, "seconds": spent}


# Where libpostal's log lines say they come from: "at FUNCTION (PATH/FILE.c:LINE)".
SOURCE = re.compile(r"at (\w+) \((?:[^()]*/)?([\w.]+:\d+)\)")


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--cases", type=int, default=int(os.environ.get("ADDRNORM_REAL_FUZZ_CASES", "20000")))
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--batch", type=int, default=2500, help="cases per child interpreter")
    parser.add_argument("--child", action="store_true", help="run one batch in this process")
    parser.add_argument("--last-call", default=os.path.join(tempfile.gettempdir(), "addrnorm-fuzz-last-call"))
    parser.add_argument("--with-known-faults", action="store_true",
                        help="also make the calls libpostal is known to crash on")
    parser.add_argument("--parser", action="store_true",
                        help="fuzz parse_address alone, in batches of --cases (one set-up of its model)")
    options = parser.parse_args(argv)
    if options.parser and not options.child:
        options.batch = max(options.batch, options.cases)
    if options.child:
        print(json.dumps(run_batch(options.seed, options.cases, options.last_call, not options.with_known_faults,
                                   options.parser)))
        return 0

    started = time.time()
    total, outcomes, failed, noisy, sources, in_calls, examples = 0, {}, [], 0, {}, 0.0, {}
    slowest = [0.0, None, None]
    batches = max(1, (options.cases + options.batch - 1) // options.batch)
    with tempfile.TemporaryDirectory() as scratch:
        last_call = os.path.join(scratch, "last-call")
        for number in range(batches):
            seed = options.seed * 1000003 + number
            cases = min(options.batch, options.cases - number * options.batch)
            command = [sys.executable, os.path.abspath(__file__), "--child", "--seed",
                       str(seed), "--cases", str(cases), "--last-call", last_call]
            command += ["--with-known-faults"] if options.with_known_faults else []
            command += ["--parser"] if options.parser else []
            try:
                child = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, encoding="utf-8",
                                       errors="backslashreplace", timeout=CALL_LIMIT * 3 + cases)
                status, stderr = child.returncode, child.stderr
            except subprocess.TimeoutExpired as expired:
                status, stderr = "timeout", expired.stderr or ""
            if status != 0:
                with open(last_call, encoding="utf-8", errors="replace") as call:
                    what = {-signal.SIGALRM: "a call ran over %d s" % CALL_LIMIT}.get(status, "exit %s" % status)
                    failed.append("batch seed %d: %s; its last call: %s\n%s" % (
                        seed, what, call.read()[:2000], str(stderr)[-3000:]))
                continue
            report = json.loads(child.stdout.strip().splitlines()[-1])
            total += report["cases"]
            in_calls += report["seconds"][0]
            for name, count in report["outcomes"].items():
                outcomes[name] = outcomes.get(name, 0) + count
            for name, call in report["examples"].items():
                examples.setdefault(name, call)
            if report["slowest"][0] > slowest[0]:
                slowest = report["slowest"] + [seed]
            noisy += report["noisy_calls"]
            for call, text in report["noisy"]:
                for where in SOURCE.findall(text):
                    sources.setdefault(where, (call, text))
            failed.extend("batch seed %d: %s" % (seed, problem) for problem in report["problems"][:20])
    for failure in failed:
        print(failure)
    print("fuzz (real libpostal%s): %d cases in %d batches (seed %d) in %.0f s, %.1f s of it in the calls: %s" % (
        ", parse_address" if options.parser else "", total, batches, options.seed, time.time() - started, in_calls,
        ", ".join("%s %d" % item for item in sorted(outcomes.items()))))
    for name in sorted(set(examples) - {"list", "None", "TypeError"}):
        print("  e.g. %s: %s" % (name, examples[name]))
    print("slowest call: %.3f s (batch seed %s): %s" % (slowest[0], slowest[2], slowest[1]))
    print("calls after which libpostal wrote to standard error: %d" % noisy)
    for (function, where), (call, text) in sorted(sources.items()):
        print("  from %s (%s), e.g. after %s:\n    %r" % (function, where, call[:200], text[:600]))
    return 1 if failed or total == 0 else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
