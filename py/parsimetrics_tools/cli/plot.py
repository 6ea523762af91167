"""The ``--plot`` figure: EMC ladders and entropy densities side by side.

matplotlib is an optional extra (``pip install parsimetrics[plot]``), imported
only when a plot is asked for.
"""

from __future__ import annotations

import contextlib
import os
import tempfile
from itertools import accumulate
from pathlib import Path

from .batch import CliError
from .writers import clip_name

INSTALL_HINT = "--plot needs matplotlib, which is not installed (pip install 'parsimetrics[plot]')"


_LABEL_WIDTH = 28


class PlotUnavailable(Exception):
    pass


def require_matplotlib() -> None:
    try:
        import matplotlib  # noqa: F401
    except ImportError:
        raise PlotUnavailable(INSTALL_HINT) from None


def plot_format(path: str) -> str:
    """The image format named by the path's suffix; ``ValueError`` when it names none matplotlib writes.

    The path is used as given: no suffix is ever added, so the file written
    is the one named.
    """
    require_matplotlib()
    from matplotlib.backend_bases import FigureCanvasBase

    if not path:
        raise ValueError("--plot needs a file name")
    suffix = Path(path).suffix.lower().lstrip(".")
    formats = FigureCanvasBase.get_supported_filetypes()
    if suffix not in formats:
        known = ", ".join(f".{name}" for name in sorted(formats))
        what = f"suffix .{suffix}" if suffix else "no suffix"
        raise ValueError(f"{path}: {what}; the image format comes from the suffix ({known})")
    return suffix


def check_plot_path(path: str | None) -> None:
    """Refuse a plot path that cannot work before any work starts."""
    if path is None:
        return
    try:
        plot_format(path)
    except ValueError as exc:
        raise CliError(str(exc)) from None
    folder = Path(path).parent
    if not folder.is_dir():
        raise CliError(f"{path}: folder {str(folder)!r} does not exist")


def save_plot(path: str, draw, *args) -> None:
    """Draw with ``draw(path, *args)``; a failure to write is one line naming the file."""
    try:
        draw(path, *args)
    except (OSError, ValueError) as exc:
        reason = exc.strerror if isinstance(exc, OSError) and exc.strerror else exc
        raise CliError(f"{path}: cannot write the plot: {reason}") from None


def _colours(count: int) -> list:
    from matplotlib import colormaps

    # The default cycle repeats after 10; past that, spread a perceptual map so every input differs.
    if count <= 10:
        return [f"C{i}" for i in range(count)]
    palette = colormaps["tab20"] if count <= 20 else colormaps["turbo"]
    if count <= 20:
        return [palette(i) for i in range(count)]
    return [palette(i / (count - 1)) for i in range(count)]


def h_unit(log_base: int | None) -> str:
    if log_base is None:
        return "normalized: log base = number of distinct symbols"
    return "bits per symbol" if log_base == 2 else f"base-{log_base} digits per symbol"


def write_profile_plot(path: str, entries: list[tuple[str, list[float], list[float]]], measure: str) -> None:
    """Draw one line of window values against window centres per (name, centres, values) entry."""
    require_matplotlib()
    from matplotlib.figure import Figure

    fig = Figure(figsize=(11, 4.5), layout="constrained")
    ax = fig.subplots()
    for (name, centres, values), colour in zip(entries, _colours(len(entries))):
        ax.plot(centres, values, color=colour, label=clip_name(name, _LABEL_WIDTH))
    ax.set_xlabel("position (window centre)")
    ax.set_ylabel(measure)
    ax.set_title(f"{measure} over sliding windows")
    ax.grid(alpha=0.3)
    if len(entries) <= 12:
        ax.legend(fontsize="small")
    _save(fig, path)


def write_plot(path: str, entries: list[tuple[str, list[float] | None, float]], log_base: int | None = None) -> None:
    """Draw one entropy bar per (name, summands, h) entry, and the EMC ladders where summands are given."""
    require_matplotlib()
    # Figure without pyplot: no GUI backend is ever chosen, so this works headless.
    from matplotlib.figure import Figure
    from matplotlib.ticker import MaxNLocator

    ladders = any(summands is not None for _, summands, _ in entries)
    colours = _colours(len(entries))
    fig = Figure(figsize=(11 if ladders else 6, 4.5), layout="constrained")
    if ladders:
        ladder_ax, h_ax = fig.subplots(1, 2, width_ratios=[3, 2])
    else:
        h_ax = fig.subplots(1, 1)

    # Long paths as labels would squeeze both panels to nothing.
    names = [clip_name(name, _LABEL_WIDTH) for name, _, _ in entries]
    if ladders:
        for name, colour, (_, summands, _) in zip(names, colours, entries):
            if summands is not None:
                blocks = range(1, len(summands) + 1)
                ladder_ax.plot(
                    blocks, list(accumulate(summands)), marker="o", markersize=3, label=name, color=colour
                )
        ladder_ax.xaxis.set_major_locator(MaxNLocator(integer=True))
        ladder_ax.set_xlabel("block length l")
        unit = "normalized" if log_base is None else h_unit(log_base).replace(" per symbol", "")
        ladder_ax.set_ylabel(f"EMC ladder (summands 1…l; {unit})")
        ladder_ax.set_title("Effective measure complexity")
        ladder_ax.grid(alpha=0.3)
        if len(entries) <= 12:
            ladder_ax.legend(fontsize="small")

    positions = range(len(entries))
    h_ax.barh(positions, [h for _, _, h in entries], color=colours)
    h_ax.set_yticks(positions, names, fontsize="small" if len(entries) <= 20 else "xx-small")
    h_ax.invert_yaxis()
    h_ax.set_xlabel(f"entropy density h ({h_unit(log_base)})")
    h_ax.set_title("Entropy density")
    h_ax.grid(axis="x", alpha=0.3)

    _save(fig, path)


def _save(fig, path: str) -> None:
    """Write the figure to ``path`` whole or not at all.

    The image goes to a temporary file beside the target, renamed over it
    once complete, so that a failure (a full disk) leaves neither a partial
    image nor a temporary file, and an earlier image stays as it was.  A
    target that is not a regular file (a device, a pipe) is written in place.
    """
    fmt = plot_format(path)
    # An open file of our own: matplotlib never adds a suffix, and a failure
    # to write surfaces as OSError here.
    target = os.path.realpath(path)  # through a link, to keep the link
    if os.path.exists(target) and not os.path.isfile(target):
        with open(target, "wb") as out:
            fig.savefig(out, format=fmt, dpi=100)
        return
    mode = os.stat(target).st_mode & 0o7777 if os.path.exists(target) else 0o666 & ~_umask()
    fd, temporary = tempfile.mkstemp(prefix=f".{os.path.basename(target)}.", suffix=".part",
                                     dir=os.path.dirname(target))
    try:
        with os.fdopen(fd, "wb") as out:
            fig.savefig(out, format=fmt, dpi=100)
        os.chmod(temporary, mode)
        os.replace(temporary, target)
    except BaseException:
        with contextlib.suppress(OSError):
            os.unlink(temporary)
        raise


def _umask() -> int:
    mask = os.umask(0o022)
    os.umask(mask)
    return mask
