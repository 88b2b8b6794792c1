"""The addrnorm command: expand and parse addresses, hash place records and
group duplicates, from files or standard input, in input order; guess
addresses' languages and list their tokens; fetch libpostal's data
(addrnorm data).

Exit status: 0 all records done, 1 some records skipped (--skip-bad) or a
fault in addrnorm itself (its traceback, then one line saying so),
2 a usage or input error (libpostal not set up too), 3 an output error (a
full disk, no permission), 130 interrupted (Ctrl-C), 141 the reader of the
output went away (| head), 143 terminated (SIGTERM).  Every output is opened,
or its place checked, before the work; the output files are replaced only
with status 0 or 1, otherwise left as they were (but standard output,
devices and pipes are written as the run goes).
"""
import signal
import sys
import traceback
import warnings

import addrnorm
from addrnorm.cli.arguments import output_format
from addrnorm.cli.calls import set_up
from addrnorm.cli.command_line import build_parser, commands_of, parse_arguments
from addrnorm.cli.errors import InputError, OutputError, Terminated, WorkerLost
from addrnorm.cli.library_messages import LibraryMessages
from addrnorm.cli.stopping import Stops
from addrnorm.cli.workers import stop_workers
from addrnorm.cli.writers import Output, check_writable
from addrnorm.languages import UnknownLanguageWarning
from addrnorm.values import LabelWarning

__all__ = ["build_parser", "main"]


# The extension modules each command calls, imported (which sets libpostal
# up) before any output is opened: a set-up that fails (no data found) stops
# the run with its one line and status 2, in every mode, and leaves every
# output as it was.
SET_UP = {
    "expand": lambda options: ("_expand",),
    "parse": lambda options: ("_parser",),
    "hash": lambda options: ("_kinhash",) + (("_parser",) if options.parse else ()),
    "dupes": lambda options: ("_expand", "_kinhash") + (("_parser",) if options.parse else ()),
    "language": lambda options: ("_text",),
    "tokens": lambda options: ("_text",),
}

# Outputs that the commands write by path at the end of the work: checked
# before it, so that a path that cannot be written does not waste the run.
CHECKED_OUTPUTS = ("pairs", "report", "model_out")


def main(argv=None):
    parser = build_parser()
    options = parse_arguments(parser, argv)
    if options.command == "data":
        return options.run(options)
    options.format_choices = [action for action in commands_of(parser)[options.command]._actions
                              if "--format" in action.option_strings][0].choices
    if options.command == "dupes":
        # Splink, DuckDB and Arrow load their compiled parts before SIGTERM
        # raises Terminated: raised in the middle of those imports, it left
        # them half made, and the process then hung or aborted on its way
        # out.  Until the handler is set, SIGTERM ends the process at once,
        # with nothing made yet to clean up.
        from addrnorm.dedupe import available

        available()
    stops = Stops()
    with stops:
        try:
            return _run(options, stops)
        except Terminated:
            # Only when SIGTERM came in the instant between an error's
            # handling and the clean-up, which has been done.
            sys.stderr.write("addrnorm: terminated\n")
            return 128 + signal.SIGTERM


def _run(options, stops):
    messages = LibraryMessages()
    out = options.listing = None
    status = 2
    try:
        with messages, warnings.catch_warnings():
            # The command says these itself: at the end of a run, or as a
            # usage error.
            warnings.simplefilter("ignore", LabelWarning)
            warnings.simplefilter("ignore", UnknownLanguageWarning)
            options.format, options.csv_style = output_format(options, options.format_choices)
            set_up(*SET_UP[options.command](options))
            out = Output(options.output)
            if options.bad_records:
                options.listing = Output(options.bad_records)
            for name in CHECKED_OUTPUTS:
                if getattr(options, name, None):
                    check_writable(getattr(options, name))
            run = options.run(options, out)
            status = run.finish()
            out.finish()
        # A run whose output failed has no summary to give.
        run.report()
    except addrnorm.LibpostalLoadError as error:
        sys.stderr.write("addrnorm: %s\n" % error)
        status = 2
        # Its one line names what libpostal's own messages of the failed
        # set-up name, and the fix.
        messages.messages = []
    except (InputError, WorkerLost) as error:
        sys.stderr.write("addrnorm: %s\n" % error)
        status = 2
    except OutputError as error:
        sys.stderr.write("addrnorm: %s\n" % error)
        status = 3
    except BrokenPipeError:
        # The reader has gone (| head): what it did not read is not wanted.
        status = 128 + signal.SIGPIPE
    except KeyboardInterrupt:
        # Cleaning up is under way: a second Ctrl-C must not cut it short.
        stops.hold()
        sys.stderr.write("addrnorm: interrupted\n")
        status = 130
    except Terminated:
        sys.stderr.write("addrnorm: terminated\n")
        status = 128 + signal.SIGTERM
    except Exception as error:  # noqa: BLE001 - anything else is a fault of the code
        # Not the user's input (status 2): its traceback, then one line to
        # say so, last, where a reader looks first.
        traceback.print_exc()
        sys.stderr.write("addrnorm: internal error, a fault in addrnorm and not in the input (%s: %s); the "
                         "traceback above shows where\n" % (type(error).__name__, error))
        status = 1
    finally:
        stops.hold()
        stop_workers()
        for output in (out, options.listing):
            if output is not None:
                output.discard()
        for line in messages.summary():
            sys.stderr.write(line + "\n")
    return status
