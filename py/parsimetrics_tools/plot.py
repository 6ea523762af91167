"""The ``--plot`` figure: EMC ladders and entropy densities side by side.

matplotlib is an optional extra (``pip install parsimetrics[plot]``), imported
only when a plot is asked for.
"""

from __future__ import annotations

from itertools import accumulate

from .output import clip_name

INSTALL_HINT = "--plot needs matplotlib, which is not installed (pip install 'parsimetrics[plot]')"


_LABEL_WIDTH = 28


class PlotUnavailable(Exception):
    pass


def require_matplotlib() -> None:
    try:
        import matplotlib  # noqa: F401
    except ImportError:
        raise PlotUnavailable(INSTALL_HINT) from None


def write_plot(path: str, entries: list[tuple[str, list[float], float]]) -> None:
    """Draw one ladder line and one entropy bar per (name, summands, h) entry into ``path``."""
    require_matplotlib()
    # Figure without pyplot: no GUI backend is ever chosen, so this works headless.
    from matplotlib.figure import Figure
    from matplotlib.ticker import MaxNLocator

    fig = Figure(figsize=(11, 4.5), layout="constrained")
    ladder_ax, h_ax = fig.subplots(1, 2, width_ratios=[3, 2])

    # Long paths as labels would squeeze both panels to nothing.
    names = [clip_name(name, _LABEL_WIDTH) for name, _, _ in entries]
    for name, (_, summands, _) in zip(names, entries):
        blocks = range(1, len(summands) + 1)
        ladder_ax.plot(blocks, list(accumulate(summands)), marker="o", markersize=3, label=name)
    ladder_ax.xaxis.set_major_locator(MaxNLocator(integer=True))
    ladder_ax.set_xlabel("block length l")
    ladder_ax.set_ylabel("EMC ladder (summands 1…l)")
    ladder_ax.set_title("Effective measure complexity")
    ladder_ax.grid(alpha=0.3)
    if len(entries) <= 12:
        ladder_ax.legend(fontsize="small")

    positions = range(len(entries))
    h_ax.barh(positions, [h for _, _, h in entries], color=[f"C{i % 10}" for i in positions])
    h_ax.set_yticks(positions, names, fontsize="small" if len(entries) <= 20 else "xx-small")
    h_ax.invert_yaxis()
    h_ax.set_xlabel("entropy density h")
    h_ax.set_title("Entropy density")
    h_ax.grid(axis="x", alpha=0.3)

    fig.savefig(path, dpi=100)
