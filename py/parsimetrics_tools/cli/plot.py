"""The ``--plot`` figures: EMC ladders and entropy densities side by side, and window profiles.

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
        return "normalized: log base = distinct symbols"
    return "bits per symbol" if log_base == 2 else f"base-{log_base} digits per symbol"


# A bar per input, each this high (inches), with room for its name in a small font;
# past the height limit names are shown for every few bars only.
_BAR_INCHES = 0.22
_BASE_INCHES = 1.6
_MAX_INCHES = 60.0
# Ladders that coincide (periodic inputs all give 0) must still all be seen: each
# input differs in marker and dashes too, and earlier lines are drawn wider, below.
_MARKERS = "osD^vP*Xph"
_DASHES = ("-", "--", "-.", ":")


def _height(count: int) -> float:
    return min(max(4.5, _BASE_INCHES + _BAR_INCHES * count), _MAX_INCHES)


def _styles(count: int) -> list[dict]:
    widths = [2.6 - 1.6 * i / max(1, count - 1) for i in range(count)]
    return [
        {"color": colour, "marker": _MARKERS[i % len(_MARKERS)], "linestyle": _DASHES[i // len(_MARKERS) % 4],
         "linewidth": width, "markersize": 2 + width}
        for i, (colour, width) in enumerate(zip(_colours(count), widths))
    ]


def profile_figure(entries: list[tuple[str, list[float], list[float]]], measure: str, rate: float | None = None):
    """One line of window values against window centres per (name, centres, values) entry.

    With ``rate`` (samples per second) the centres are shown as times in seconds.
    """
    require_matplotlib()
    from matplotlib.figure import Figure

    fig = Figure(figsize=(11, 4.5), layout="constrained")
    ax = fig.subplots()
    for (name, centres, values), style in zip(entries, _styles(len(entries))):
        x = [c / rate for c in centres] if rate else centres
        ax.plot(x, values, label=clip_name(name, _LABEL_WIDTH), **style, markevery=max(1, len(x) // 20))
    ax.set_xlabel("time in seconds (window centre)" if rate else "position in symbols (window centre)")
    ax.set_ylabel(measure)
    ax.set_title(f"{measure} over sliding windows")
    ax.grid(alpha=0.3)
    if len(entries) <= 12:
        ax.legend(fontsize="small")
    return fig


def analysis_figure(entries: list[tuple[str, list[float] | None, float]], log_base: int | None = None):
    """One entropy bar per (name, summands, h) entry, and the EMC ladders where summands are given."""
    require_matplotlib()
    # Figure without pyplot: no GUI backend is ever chosen, so this works headless.
    from matplotlib.figure import Figure
    from matplotlib.ticker import MaxNLocator

    ladders = any(summands is not None for _, summands, _ in entries)
    fig = Figure(figsize=(11 if ladders else 6, _height(len(entries))), layout="constrained")
    if ladders:
        ladder_ax, h_ax = fig.subplots(1, 2, width_ratios=[3, 2])
    else:
        h_ax = fig.subplots(1, 1)

    # Long paths as labels would squeeze both panels to nothing.
    names = [clip_name(name, _LABEL_WIDTH) for name, _, _ in entries]
    styles = _styles(len(entries))
    if ladders:
        for name, style, (_, summands, _) in zip(names, styles, entries):
            if summands is not None:
                ladder_ax.plot(range(1, len(summands) + 1), list(accumulate(summands)), label=name, **style)
        ladder_ax.xaxis.set_major_locator(MaxNLocator(integer=True))
        ladder_ax.set_xlabel("block length l")
        unit = "normalized" if log_base is None else h_unit(log_base).replace(" per symbol", "")
        ladder_ax.set_ylabel(f"EMC ladder (summands 1…l; {unit})")
        ladder_ax.set_title("Effective measure complexity")
        ladder_ax.grid(alpha=0.3)
        if len(entries) <= 12:
            ladder_ax.legend(fontsize="small")

    positions = range(len(entries))
    h_ax.barh(positions, [h for _, _, h in entries], color=[style["color"] for style in styles])
    every = max(1, round(len(entries) * _BAR_INCHES / (_MAX_INCHES - _BASE_INCHES) + 0.5))
    h_ax.set_yticks(positions[::every], names[::every], fontsize="small")
    h_ax.set_ylim(len(entries) - 0.5, -0.5)  # the first input at the top
    h_ax.set_xlabel(f"entropy density h\n({h_unit(log_base)})")
    h_ax.set_title("Entropy density")
    h_ax.grid(axis="x", alpha=0.3)
    return fig


def write_profile_plot(path: str, entries: list, measure: str, rate: float | None = None) -> None:
    _save(profile_figure(entries, measure, rate), path)


def write_plot(path: str, entries: list, log_base: int | None = None) -> None:
    _save(analysis_figure(entries, log_base), path)


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
