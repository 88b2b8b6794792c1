"""Keeping account of a command's run: its records fed to the workers, the
ones that could not be used (stopping the run, or skipped with --skip-bad:
the first few listed at the end, all of them in the --bad-records file),
its summary and warnings."""
import sys

from addrnorm.cli.errors import InputError
from addrnorm.cli.progress import count
from addrnorm.cli.workers import processed
from addrnorm.errors import BadRecord

# Skipped records listed on standard error; --bad-records has them all.
SHOWN = 10


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
