"""Runs a function over numbered items, in this process or in forked workers,
giving the results back in input order."""
import multiprocessing
import signal

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


def _ignore_interrupts():
    # Ctrl-C reaches the whole process group; only the parent decides what it
    # means. A worker stopped mid-write would leave the parent waiting for the
    # rest of a result, and each would print its own traceback.
    signal.signal(signal.SIGINT, signal.SIG_IGN)
    signal.pthread_sigmask(signal.SIG_UNBLOCK, [signal.SIGINT])


def _in_main_thread(call, *arguments):
    try:
        return call(*arguments)
    except ValueError:  # signal handlers can only be set from the main thread
        return None


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
    # SIGINT stays blocked from the fork until each worker ignores it, so that
    # a Ctrl-C in between neither kills a worker nor is lost for the parent.
    # The pool's own threads keep it blocked: it lands on the main thread.
    mask = signal.pthread_sigmask(signal.SIG_BLOCK, [signal.SIGINT])
    try:
        pool = multiprocessing.get_context("fork").Pool(jobs, initializer=_ignore_interrupts)
    finally:
        signal.pthread_sigmask(signal.SIG_SETMASK, mask)
    finished = False
    try:
        for results in pool.imap(run_chunk, chunks):
            for result in results:
                yield result
        finished = True
    finally:
        # Stopped early (interrupted, an error, the caller gone): the workers
        # are ended, and waited for, before anything else; a second Ctrl-C
        # must not cut that short and leave them behind.
        previous = _in_main_thread(signal.signal, signal.SIGINT, signal.SIG_IGN)
        try:
            if finished:
                pool.close()
            else:
                pool.terminate()
            pool.join()
        finally:
            if previous is not None:
                _in_main_thread(signal.signal, signal.SIGINT, previous)


def _chunks(items):
    chunk = []
    for item in items:
        chunk.append(item)
        if len(chunk) == CHUNK:
            yield chunk
            chunk = []
    if chunk:
        yield chunk
