"""Keeping account of a command's run: progress on standard error when it is
a terminal, and the records that could not be used (stopping the run, or
skipped with --skip-bad: the first few listed at the end, all of them in the
--bad-records file)."""
import os
import sys

from addrnorm.parallel import processed
from addrnorm.records import BadRecord, InputError, Output

# Skipped records listed on standard error; --bad-records has them all.
SHOWN = 10


class Progress:
    """A bar over the input's bytes, with the count of records."""

    def __init__(self, total_bytes, quiet):
        self.bar = None
        if not quiet and sys.stderr.isatty():
            from tqdm import tqdm
            try:
                # A terminal that reports no size (a bare pty) gets 80 columns.
                columns = os.get_terminal_size(sys.stderr.fileno()).columns or 80
            except OSError:
                columns = 80
            self.bar = tqdm(total=total_bytes, unit="B", unit_scale=True, file=sys.stderr, ncols=columns,
                            desc="addrnorm")
        self.records = 0

    def advance(self, size):
        self.records += 1
        if self.bar is not None:
            self.bar.update(size)
            if self.records % 1000 == 0:
                self.bar.set_postfix(records=self.records, refresh=False)

    def close(self):
        if self.bar is not None:
            self.bar.set_postfix(records=self.records)
            self.bar.close()


class Run:
    """What one command does with its records: reads, feeds, reports."""

    def __init__(self, options):
        self.options = options
        self.skipped = []
        self.count = 0

    def bad(self, name, number, message):
        if not (self.options.skip_bad or self.options.bad_records):
            raise InputError("%s: line %d: %s" % (name, number, message))
        self.count += 1
        if self.options.bad_records or len(self.skipped) < SHOWN:
            self.skipped.append((name, number, message))

    def feed(self, records, name, progress):
        """Keeps the usable records for the workers, accounting for the others."""
        for number, record, size in records:
            progress.advance(size)
            if isinstance(record, BadRecord):
                self.bad(name, number, str(record))
            elif record is not None:
                yield number, record

    def results(self, records, name, progress, function, job, warm_up):
        """(line, record, result) for each usable record, in input order; the
        bad ones accounted for."""
        stream = processed(self.feed(records, name, progress), function, job, self.options.jobs, warm_up)
        try:
            for number, item, result, error in stream:
                if error is None:
                    yield number, item, result
                else:
                    self.bad(name, number, error)
        finally:
            # Ends the workers now, not whenever the generator is collected.
            stream.close()
            progress.close()

    def write(self, writer, name, number, record, value):
        try:
            writer.write(number, record, value)
        except BadRecord as refused:
            self.bad(name, number, str(refused))

    def finish(self):
        if self.options.bad_records:
            listing = Output(self.options.bad_records)
            try:
                for name, number, message in self.skipped:
                    listing.write("%s\t%d\t%s\n" % (name, number, " ".join(message.split())))
                listing.finish()
            finally:
                listing.discard()
        if not self.count:
            return 0
        sys.stderr.write("addrnorm: skipped %d bad records:\n" % self.count)
        for name, number, message in self.skipped[:SHOWN]:
            sys.stderr.write("  %s: line %d: %s\n" % (name, number, message))
        if self.count > SHOWN:
            sys.stderr.write("  ... and %d more%s\n" % (self.count - SHOWN, ", all in " + self.options.bad_records
                                                          if self.options.bad_records else
                                                          " (--bad-records FILE lists them all)"))
        return 1
