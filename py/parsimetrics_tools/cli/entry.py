"""The entry point: standard streams, signals, and every failure turned into one line and an exit status."""

from __future__ import annotations

import os
import signal
import sys

from ..inputs import InputError
from ..measures import AnalysisError
from .batch import EXIT_ERROR, CliError, say
from .parser import UsageError, parse_args
from .plot import PlotUnavailable

EXIT_USAGE = 2
EXIT_INTERRUPTED = 130
EXIT_TERMINATED = 128 + signal.SIGTERM


class _Terminated(BaseException):
    """SIGTERM, raised where the tool is so that its workers are ended on the way out."""


def _on_sigterm(signum, frame):
    raise _Terminated


def _silence_stdout() -> None:
    # After a closed pipe or a failed write, make the interpreter's final flush a no-op.
    try:
        devnull = os.open(os.devnull, os.O_WRONLY)
        os.dup2(devnull, sys.stdout.fileno())
    except (OSError, ValueError, AttributeError):
        pass


def _prepare_streams() -> None:
    # A file name need not be valid text (it is bytes on POSIX); write what
    # cannot be encoded as backslash escapes instead of failing on it.
    for stream in (sys.stdout, sys.stderr):
        try:
            stream.reconfigure(errors="backslashreplace")
        except (AttributeError, ValueError, OSError):
            pass


def main(argv: list[str] | None = None) -> int:
    """Run the ``parsimetrics`` command line with these arguments; returns the exit status.

    Parameters
    ----------
    argv : list of str, optional
        The arguments after the program name; by default ``sys.argv[1:]``.

    Returns
    -------
    int
        0 on success, 1 when an input failed (after the others were
        processed, unless ``--fail-fast``), 2 for a bad option, 130 when
        interrupted, 143 when terminated.

    Raises
    ------
    Nothing
        Every failure is reported as one line on standard error and an exit
        status; ``--help`` and ``--version`` return 0 instead of exiting.

    Notes
    -----
    The same entry point as the installed ``parsimetrics`` command, for
    calling it from Python or a test.  The :doc:`command-line reference
    </_generated/cli>` lists every command and option.

    Examples
    --------
    >>> main(["explain", "nid"])  # doctest: +ELLIPSIS
    Normalized information distance
    ...
    0
    """
    _prepare_streams()
    if sys.stdout is None:
        say("standard output is closed")
        return EXIT_ERROR
    try:
        args = parse_args(argv)
    except UsageError as exc:
        say(str(exc), prefix="")
        return EXIT_USAGE
    except SystemExit as exc:  # --help and --version
        return exc.code if isinstance(exc.code, int) else EXIT_USAGE
    except KeyboardInterrupt:
        say("interrupted")
        return EXIT_INTERRUPTED

    previous = None
    try:
        previous = signal.signal(signal.SIGTERM, _on_sigterm)
    except ValueError:  # not the main thread: leave signals alone
        pass

    def report(message: str, exc: BaseException) -> None:
        say(message, exc=exc if args.debug else None)

    try:
        return args.run(args)
    except (CliError, InputError, AnalysisError, PlotUnavailable) as exc:
        report(str(exc), exc)
    except KeyboardInterrupt as exc:
        report("interrupted", exc)
        return EXIT_INTERRUPTED
    except _Terminated:
        # The workers have been ended on the way here; say nothing more.
        _silence_stdout()
        return EXIT_TERMINATED
    except BrokenPipeError:
        _silence_stdout()
    except MemoryError as exc:
        report("out of memory", exc)
    except OSError as exc:
        where = exc.filename if exc.filename else "standard output"
        report(f"{where}: {exc.strerror or exc}", exc)
        _silence_stdout()
    except Exception as exc:  # a fault of ours: one line, and where it arose with --debug
        hint = "" if args.debug else " (run again with --debug to see where)"
        report(f"internal error: {type(exc).__name__}: {exc}{hint}", exc)
    finally:
        if previous is not None:
            signal.signal(signal.SIGTERM, previous)
    return EXIT_ERROR
