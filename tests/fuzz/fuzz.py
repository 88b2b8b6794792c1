"""A seeded argument fuzzer for expand_address, near_dupe_hashes, the
duplicate classifiers, and the tokenizer, normalization, language guesses,
name keys and place languages.

Each batch runs in a child interpreter, so that a crash is caught and its seed
reported.  In a batch, hypothesis draws argument lists and the double's answer
for each call; every call must end in a list of str, None or a documented
exception, and leave its arguments' reference counts as they were.  The
batch's calls are then replayed to show that the C heap, the double's live
arrays and its calls made while the library was down stay where they were.

    python fuzz.py --cases 20000 --seed 1           # what CI runs, per interpreter
    python fuzz.py --cases 1000000 --seed 7         # a longer hunt
    python fuzz.py --child --cases 500 --seed 123   # one batch, to reproduce
"""
import argparse
import gc
import json
import os
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
# A batch that hangs is a failed batch, not a stalled run: generous, as a
# batch under valgrind takes minutes.
BATCH_LIMIT = 900
sys.path[:0] = [HERE, os.path.dirname(HERE)]

# Exceptions a call may end in: the modules' own TypeErrors and the parser's,
# the LengthMismatchError of parallel sequences of different lengths, Unicode
# encoding and decoding errors, OverflowError from the parser's double unit,
# the ValueError the interpreter raises for a negative __len__, and whatever
# the corpus's own objects raise.
# SystemError is the tokenizer's answer to a token outside the text.
ALLOWED = ("TypeError", "LengthMismatchError", "UnicodeEncodeError", "UnicodeDecodeError", "OverflowError",
           "ValueError", "FuzzError", "SystemError")


def outcome_of(function, args, kwargs):
    """What a call ended in: a list of str, None, a status (an int, or an int
    and a float), an allowed exception's name, or what was unexpected about it."""
    try:
        result = function(*args, **kwargs)
    except Exception as error:
        name = type(error).__name__
        return name if name in ALLOWED else "unexpected %s: %s" % (name, error)
    if result is None:
        return "None"
    if type(result) is list and all(type(item) is str for item in result):
        return "list"
    if type(result) is list and all(type(item) is tuple and len(item) == 2 and all(type(part) is str for part in item)
                                    for item in result):
        return "parse"
    if type(result) is int or (type(result) is tuple and [type(item) for item in result] == [int, float]):
        return "status"
    if type(result) is str:
        return "str"
    if type(result) is list and all(type(item) is tuple and [type(part) for part in item] in (
            [str, int], [int, int, int], [str, float]) for item in result):
        return "tuples"
    return "unexpected result %r" % (result,)


def shared(value):
    if value is None or type(value) in (bool, int, float):
        return True
    return type(value) in (str, bytes) and len(value) <= 1


def run_batch(seed, cases):
    from hypothesis import HealthCheck, Phase, given, seed as with_seed, settings, strategies as st

    import corpus
    from addrnorm._expand import expand_address
    from addrnorm._kinhash import near_dupe_hashes
    from addrnorm import _duplicate, _kinhash, _parser, _text
    from heap import OWN_ALLOCATOR, heap_in_use
    from libpostal_double import Double
    from text_double import TextDouble

    double, text_double = Double(), TextDouble()
    functions = [(expand_address, corpus.EXPAND_KEYWORDS), (near_dupe_hashes, corpus.HASH_KEYWORDS),
                 (_duplicate.is_street_duplicate, corpus.FIELD_KEYWORDS),
                 (_duplicate.is_house_number_duplicate, corpus.FIELD_KEYWORDS),
                 (_duplicate.is_toponym_duplicate, corpus.TOPONYM_KEYWORDS),
                 (_duplicate.is_name_duplicate_fuzzy, corpus.FUZZY_KEYWORDS),
                 (_text.tokenize, corpus.TOKENIZE_KEYWORDS), (_text.normalize_string, corpus.NORMALIZE_KEYWORDS),
                 (_text.normalized_tokens, corpus.NORMALIZED_TOKENS_KEYWORDS),
                 (_text.classify_language, corpus.CLASSIFY_KEYWORDS),
                 (_kinhash.near_dupe_name_hashes, corpus.NAME_HASH_KEYWORDS),
                 (_kinhash.place_languages, corpus.PLACE_KEYWORDS),
                 (_parser.parse_address, corpus.PARSE_KEYWORDS)]

    def answer_with(answer, tokens):
        double.set_result(answer)
        text_double.reset()
        if answer is None:
            text_double.set_null_result()
        elif answer:
            text_double.set_strings(answer, [0.5] * len(answer))
        if tokens is not None:
            text_double.set_tokens(tokens)
        # The same strings answer a parse, each its own label.
        double.set_parse(None if answer is None else [(text, text) for text in answer])
    calls, outcomes, problems = [], {}, []

    @with_seed(seed)
    @settings(max_examples=cases, database=None, deadline=None, derandomize=False,
              suppress_health_check=list(HealthCheck), phases=[Phase.generate])
    @given(st.data())
    def one_call(data):
        which = data.draw(st.integers(0, len(functions) - 1))
        function, keywords = functions[which]
        args, kwargs = data.draw(corpus.argument_lists(keywords))
        answer, tokens = data.draw(corpus.results), data.draw(corpus.token_results)
        answer_with(answer, tokens)
        # Shared singletons (None, booleans, cached small ints, one-character
        # strings) gain and lose references through any code that runs.
        arguments = [argument for argument in list(args) + list(kwargs.values()) if not shared(argument)]
        counts = [sys.getrefcount(argument) for argument in arguments]
        outcome = outcome_of(function, args, kwargs)
        after = [sys.getrefcount(argument) for argument in arguments]
        if counts != after:
            problems.append("reference counts changed %s -> %s for %s(%r, %r)" % (
                counts, after, function.__name__, args, kwargs))
        if outcome.startswith("unexpected"):
            problems.append("%s for %s(%r, %r) with result %r" % (outcome, function.__name__, args, kwargs, answer))
        outcomes[outcome] = outcomes.get(outcome, 0) + 1
        calls.append((function, args, kwargs, answer, tokens))

    one_call()

    def replay():
        for function, args, kwargs, answer, tokens in calls:
            answer_with(answer, tokens)
            outcome_of(function, args, kwargs)
        gc.collect()

    replay()
    before = heap_in_use()
    replay()
    growth = heap_in_use() - before
    counters = double.counters()
    if not OWN_ALLOCATOR and growth > 64 * 1024:
        problems.append("the C heap grew by %d bytes over %d replayed calls" % (growth, len(calls)))
    if (counters["live_arrays"] or counters["live_responses"] or counters["destroy_faults"]
            or counters["calls_while_down"] or counters["parses_while_down"]):
        problems.append("double counters after the batch: %r" % counters)
    text_counters = text_double.counters()
    if text_counters["live_responses"] or text_counters["destroy_faults"] or text_counters["calls_while_down"]:
        problems.append("text double counters after the batch: %r" % text_counters)
    return {"seed": seed, "cases": len(calls), "outcomes": outcomes, "problems": problems,
            "heap_growth": growth}


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--cases", type=int, default=int(os.environ.get("ADDRNORM_FUZZ_CASES", "20000")))
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--batch", type=int, default=1000, help="cases per child interpreter")
    parser.add_argument("--child", action="store_true", help="run one batch in this process")
    options = parser.parse_args(argv)
    if options.child:
        print(json.dumps(run_batch(options.seed, options.cases)))
        return 0

    total, outcomes, failed = 0, {}, []
    batches = max(1, (options.cases + options.batch - 1) // options.batch)
    for number in range(batches):
        seed = options.seed * 1000003 + number
        cases = min(options.batch, options.cases - number * options.batch)
        try:
            child = subprocess.run([sys.executable, os.path.abspath(__file__), "--child", "--seed", str(seed),
                                    "--cases", str(cases)],
                                   stdout=subprocess.PIPE, stderr=subprocess.PIPE, universal_newlines=True,
                                   timeout=BATCH_LIMIT)
        except subprocess.TimeoutExpired:
            failed.append("batch seed %d: no end after %d s" % (seed, BATCH_LIMIT))
            continue
        if child.returncode != 0:
            failed.append("batch seed %d: exit %d\n%s" % (seed, child.returncode, child.stderr[-3000:]))
            continue
        report = json.loads(child.stdout.strip().splitlines()[-1])
        total += report["cases"]
        for name, count in report["outcomes"].items():
            outcomes[name] = outcomes.get(name, 0) + count
        failed.extend("batch seed %d: %s" % (seed, problem) for problem in report["problems"][:20])
    for failure in failed:
        print(failure)
    print("fuzz: %d cases in %d batches (seed %d): %s" % (
        total, batches, options.seed, ", ".join("%s %d" % item for item in sorted(outcomes.items()))))
    return 1 if failed or total == 0 else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
