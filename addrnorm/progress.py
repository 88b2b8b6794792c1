"""Keeping account of a command's run: progress on standard error when it is
a terminal, and the records that could not be used (stopping the run, or
skipped with --skip-bad: the first few listed at the end, all of them in the
--bad-records file)."""
import os
import sys
import time

from addrnorm.parallel import processed
from addrnorm.records import BadRecord, InputError

# Skipped records listed on standard error; --bad-records has them all.
SHOWN = 10

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
        now = time.monotonic()
        self.due = now + REDRAW
        done = self.position() if self.position else self.records
        if done is not None and self.bar.total:
            self.bar.n = min(done, self.bar.total)
        rate = self.records / (now - self.started) if now > self.started else 0
        self.bar.set_postfix_str("%s, %s %ss/s" % (count(self.records, self.noun), format(int(rate), ","), self.noun),
                                 refresh=False)
        self.bar.refresh()

    def close(self):
        if self.bar is not None:
            self.show()
            self.bar.close()
            self.bar = None


class Run:
    """What one command does with its records: reads, feeds, reports."""

    def __init__(self, options):
        self.options = options
        self.skipped = []
        self.count = 0
        # Every line read is in one of these, or skipped, or in a record.
        self.records = self.blank = 0
        # What goes to standard error once the output is in place.
        self.said = []

    def bad(self, name, number, message):
        if not (self.options.skip_bad or self.options.bad_records):
            raise InputError("%s: line %d: %s" % (name, number, message))
        self.count += 1
        if self.options.bad_records or len(self.skipped) < SHOWN:
            self.skipped.append((name, number, message))

    def feed(self, records, name, progress, blank):
        """Keeps the usable records for the workers, accounting for the others;
        a blank line goes on as the record blank, unless that is None."""
        for number, record in records:
            progress.advance()
            if isinstance(record, BadRecord):
                self.bad(name, number, str(record))
            elif record is None:
                self.blank += 1
                if blank is not None:
                    yield number, blank
            else:
                self.records += 1
                yield number, record

    def results(self, records, name, progress, function, job, warm_up, blank=None):
        """(line, record, result) for each usable record (and blank line, if
        blank is not None), in input order; the bad ones accounted for."""
        stream = processed(self.feed(records, name, progress, blank), function, job, self.options.jobs, warm_up)
        try:
            for number, item, result, error in stream:
                if error is None:
                    yield number, item, result
                else:
                    self.records -= 1
                    self.bad(name, number, error)
        finally:
            # Ends the workers now, not whenever the generator is collected.
            stream.close()
            progress.close()

    def write(self, writer, name, number, record, value):
        try:
            writer.write(number, record, value)
        except BadRecord as refused:
            self.records -= 1
            self.bad(name, number, str(refused))

    def summary(self, *counts):
        """One line on standard error: the counts given (of the records
        written: a record skipped is not among them), then the blank lines
        and the records skipped."""
        if self.blank:
            counts += (count(self.blank, "blank line"),)
        if self.count:
            counts += (count(self.count, "bad record skipped", "bad records skipped"),)
        if not self.options.quiet:
            self.said.append("addrnorm: %s" % ", ".join(counts))

    def warn(self, text):
        """Shown even with --quiet: a run that reaches nothing is a mistake."""
        self.said.append("addrnorm: warning: %s" % text)

    def finish(self):
        """The --bad-records listing written; the status, 0 or 1."""
        # The command opened it before the work (options.listing), and
        # discards what is not finished.
        listing = getattr(self.options, "listing", None)
        if listing is not None:
            for name, number, message in self.skipped:
                listing.write("%s\t%d\t%s\n" % (name, number, " ".join(message.split())))
            listing.finish()
        return 1 if self.count else 0

    def report(self):
        """The summary, the warnings and the skipped records, on standard error."""
        for line in self.said:
            sys.stderr.write(line + "\n")
        if not self.count:
            return
        sys.stderr.write("addrnorm: skipped %s:\n" % count(self.count, "bad record"))
        for name, number, message in self.skipped[:SHOWN]:
            sys.stderr.write("  %s: line %d: %s\n" % (name, number, message))
        if self.count > SHOWN:
            sys.stderr.write("  ... and %d more%s\n" % (self.count - SHOWN, ", all in " + self.options.bad_records
                                                          if self.options.bad_records else
                                                          " (--bad-records FILE lists them all)"))
