"""The progress display on standard error, and which standard streams are terminals."""

from __future__ import annotations

import sys
from collections.abc import Iterable

# How often a waiting process redraws the elapsed time.
TICK_SECONDS = 0.25


def isatty(stream) -> bool:
    """Whether a standard stream is a terminal; False when it is closed or missing."""
    try:
        return stream is not None and stream.isatty()
    except (ValueError, OSError):
        return False


class Progress:
    """A progress display on standard error, shown only on a terminal.

    ``unit`` names what is counted.  For a single item it shows the elapsed
    time, redrawn while the item is being computed.
    """

    def __init__(self, total: int, description: str, unit: str, enabled: bool | None = None):
        if enabled is None:
            enabled = total >= 1 and isatty(sys.stderr)
        self._bar = None
        if enabled:
            try:
                from tqdm import tqdm
            except ImportError:  # the display is a nicety; work on without it
                tqdm = None
            if tqdm is not None:
                single = "{desc}: {elapsed} elapsed" if total == 1 else None
                self._bar = tqdm(
                    total=total, desc=description, unit=f" {unit}", file=sys.stderr, leave=False,
                    bar_format=single, mininterval=TICK_SECONDS,
                )

    def update(self, count: int = 1) -> None:
        if self._bar is not None:
            self._bar.update(count)

    def tick(self) -> None:
        """Redraw, so the elapsed time moves while an item is being computed."""
        if self._bar is not None:
            self._bar.refresh()

    def write(self, line: str) -> None:
        """Write a line to standard output without tearing the display."""
        self.write_lines([line])

    def write_lines(self, lines: Iterable[str]) -> None:
        """Write lines to standard output without tearing the display."""
        # One string for all: a text stream encodes and buffers each write on its own.
        lines = list(lines)
        text = "\n".join(lines) + "\n" if lines else ""
        if self._bar is not None and isatty(sys.stdout):
            with self._bar.external_write_mode(file=sys.stdout):
                sys.stdout.write(text)
        else:
            sys.stdout.write(text)
        sys.stdout.flush()

    def close(self) -> None:
        if self._bar is not None:
            self._bar.close()
            self._bar = None
