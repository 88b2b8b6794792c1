"""Runs a function over numbered items, in this process or in forked workers,
giving the results back in input order."""
import multiprocessing

from addrnorm.records import BadRecord

# Items go to the workers in chunks: large enough that the crossing costs
# little, small enough that order is kept with little held back.
CHUNK = 256

# (function, options): set before the workers are forked, so that they
# inherit it rather than receive it with every chunk.
_job = None


def run_chunk(chunk):
    function, options = _job
    results = []
    for number, item in chunk:
        try:
            results.append((number, item, function(item, options), None))
        except BadRecord as error:
            results.append((number, item, None, str(error)))
        except (TypeError, ValueError) as error:
            results.append((number, item, None, "refused: %s" % error))
    return results


def processed(items, function, options, jobs, warm_up=None):
    """Yields (number, item, function(item, options) or None, error or None)
    for each (number, item), in input order, with jobs worker processes.

    warm_up, called once before the fork, lets the workers share what it sets
    up (libpostal's data) instead of each loading its own copy.
    """
    global _job
    _job = (function, options)
    chunks = _chunks(items)
    if jobs <= 1:
        for chunk in chunks:
            for result in run_chunk(chunk):
                yield result
        return
    if warm_up is not None:
        warm_up()
    with multiprocessing.get_context("fork").Pool(jobs) as pool:
        for results in pool.imap(run_chunk, chunks):
            for result in results:
                yield result


def _chunks(items):
    chunk = []
    for item in items:
        chunk.append(item)
        if len(chunk) == CHUNK:
            yield chunk
            chunk = []
    if chunk:
        yield chunk
