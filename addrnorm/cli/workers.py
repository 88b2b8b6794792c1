"""Runs a function over numbered items, in this process or in forked workers
(addrnorm.cli.processes), giving the results back in input order.  Only a
record's own fault makes a result an error (BadRecord, or a value the value
policy refuses); any other exception ends the run.
"""

from typing import Any, Callable, List, Optional, Tuple

from addrnorm.cli.processes import Workers, stop_all
from addrnorm.errors import BadRecord
from addrnorm.values import Refused

# Items go to the workers in chunks: large enough that the crossing costs
# little, small enough that order is kept with little held back.
CHUNK = 256

# (function, options): set before the workers are forked, so that they
# inherit it rather than receive it with every chunk.
_job: Optional[Tuple[Callable[[Any, Any], Any], Any]] = None


def run_chunk(chunk):
    assert _job is not None  # set by processed, before any chunk
    function, options = _job
    results: List[Tuple[int, Any, Any, Optional[str]]] = []
    for number, item in chunk:
        try:
            results.append((number, item, function(item, options), None))
        except BadRecord as error:
            # Only a record's own fault is skippable: any other exception is
            # a fault of the code (or libpostal not set up) and ends the run.
            results.append((number, item, None, str(error)))
        except Refused as error:
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
    workers = Workers(jobs, run_chunk)
    try:
        # A chunk at a time per worker: the next is sent only once the last
        # result is read, so parent and worker never both wait to write.
        busy = []
        for worker in workers.started:
            chunk = next(chunks, None)
            if chunk is None:
                break
            worker.send(chunk)
            busy.append(worker)
        while busy:
            worker = busy.pop(0)
            results = worker.receive()
            chunk = next(chunks, None)
            if chunk is not None:
                worker.send(chunk)
                busy.append(worker)
            for result in results:
                yield result
        workers.stop(finished=True)
    finally:
        workers.stop()


def stop_workers():
    """Ends the workers of every run still under way: for the command's
    clean-up, whatever path the run took."""
    stop_all()


def _chunks(items):
    chunk = []
    for item in items:
        chunk.append(item)
        if len(chunk) == CHUNK:
            yield chunk
            chunk = []
    if chunk:
        yield chunk
