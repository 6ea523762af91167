"""The ``parsimetrics`` command line.

Where things are:

- ``entry``: ``main``, the entry point; standard streams, signals, and each failure as one line and an exit status.
- ``parser``: every command's options and help.
- ``analyze``, ``profile``, ``distance`` (with ``nid``), ``channels`` (``multichannel``, ``pci``): the commands.
- ``batch``: what the commands share: reading inputs, labels, one-line reports of failed inputs.
- ``writers`` (tables, JSON lines, CSV, matrices) and ``plot`` (``--plot``): the output.
- ``progress``: the progress display; ``processes``: the worker processes of ``--processes``.

The measuring itself is ``parsimetrics_tools.measures``, shared with the Dask recipe.
"""

from .entry import main
from .parser import build_parser

__all__ = ["build_parser", "main"]
