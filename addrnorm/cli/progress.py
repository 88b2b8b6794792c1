"""A command's progress on standard error when it is a terminal: how far a
phase has got, the records done and how many a second, or, for a stage
that counts nothing, the time it has taken; and the counts of the summary
line."""
import contextlib
import os
import sys
import threading
import time

# The bar is redrawn at most this often (seconds), and the clock looked at
# once every so many records: a run of millions must not pay per record.
REDRAW = 0.2
EVERY = 64


def count(number, noun, nouns=None):
    """"1 record", "1,234 records": whole numbers, with their thousands marked."""
    return "%s %s" % (format(number, ","), noun if number == 1 else nouns or noun + "s")


class Progress:
    """A bar on standard error when it is a terminal: how far the phase has
    got (by the bytes of the input read, or by the records written), the
    records done and how many a second."""

    def __init__(self, quiet, phase, total=None, position=None, noun="record"):
        """total: in bytes when position, a function, gives the bytes read so
        far; else in records (or what noun names). None: not known, no bar,
        only the counts."""
        self.records, self.position, self.bar, self.noun = 0, position, None, noun
        self.started = self.due = time.monotonic()
        if not quiet and sys.stderr.isatty():
            from tqdm import tqdm
            try:
                # A terminal that reports no size (a bare pty) gets 80 columns.
                columns = os.get_terminal_size(sys.stderr.fileno()).columns or 80
            except OSError:
                columns = 80
            form = ("{desc}: {percentage:3.0f}%|{bar}| {elapsed}<{remaining}{postfix}" if total else
                    "{desc}: {elapsed}{postfix}")
            self.bar = tqdm(total=total or None, file=sys.stderr, ncols=columns, desc="addrnorm " + phase,
                            bar_format=form, mininterval=REDRAW)

    @classmethod
    def reading(cls, source, quiet, phase):
        return cls(quiet, phase, source.size, source.position)

    def advance(self):
        self.records += 1
        if self.bar is not None and self.records % EVERY == 0 and time.monotonic() >= self.due:
            self.show()

    def show(self):
        bar = self.bar
        if bar is None:
            return
        now = time.monotonic()
        self.due = now + REDRAW
        done = self.position() if self.position else self.records
        if done is not None and bar.total:
            bar.n = min(done, bar.total)
        rate = self.records / (now - self.started) if now > self.started else 0
        bar.set_postfix_str("%s, %s %ss/s" % (count(self.records, self.noun), format(int(rate), ","), self.noun),
                            refresh=False)
        bar.refresh()

    def close(self):
        if self.bar is not None:
            self.show()
            self.bar.close()
            self.bar = None


class Stages:
    """The progress of the stages that count nothing (blocking, training
    ...), handed to them: each one's name and the time it has taken, on a
    terminal."""

    def __init__(self, quiet):
        self.quiet = quiet

    @contextlib.contextmanager
    def stage(self, name):
        progress = Progress(self.quiet, name, noun="second")
        if progress.bar is None:
            yield
            return
        done = threading.Event()

        bar = progress.bar

        def tick():
            while not done.wait(REDRAW):
                bar.refresh()

        ticker = threading.Thread(target=tick, daemon=True)
        ticker.start()
        try:
            yield
        finally:
            done.set()
            ticker.join()
            progress.bar.set_postfix_str("done", refresh=False)
            progress.bar.close()
            progress.bar = None
