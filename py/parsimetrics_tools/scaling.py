"""Analysing a corpus with Dask, on one machine or on a cluster.

The command line's per-file reader and per-sequence function are mapped over
a bag of paths, so every worker reads its own files and the results are the
same dictionaries ``parsimetrics analyze --json`` prints::

    from parsimetrics_tools import dask_bag

    bag = dask_bag(["a.fasta", "b.txt"], measure="h")
    results = bag.compute()                         # Dask's local scheduler
    # with dask.distributed: Client("tcp://scheduler:8786"), then bag.compute()

On a cluster the paths must be readable by the workers (a shared file
system), and the workers need parsimetrics installed.
"""

from __future__ import annotations

from collections.abc import Iterable

from .inputs import ReadOptions, read_source
from .measures import AnalysisOptions, analyze_record


def dask_bag(
    paths: Iterable[str],
    measure: str = "lz76",
    options: AnalysisOptions = AnalysisOptions(),
    read_options: ReadOptions = ReadOptions(),
    npartitions: int | None = None,
):
    """A lazy ``dask.bag.Bag`` of the results of every record of every file, in input order."""
    try:
        import dask.bag as db
    except ImportError:
        raise ImportError("the Dask recipe needs dask: pip install 'parsimetrics[dask]'") from None
    paths = list(paths)
    files = db.from_sequence(paths, npartitions=npartitions or max(1, min(len(paths), 64)))
    records = files.map(read_source, options=read_options).flatten()
    return records.map(analyze_record, measure=measure, options=options)
