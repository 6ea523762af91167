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

import os
from collections.abc import Iterable

from .inputs import ReadOptions, read_source
from .measures import AnalysisOptions, analyze_record


def dask_bag(
    paths: str | os.PathLike | Iterable[str | os.PathLike],
    measure: str = "lz76",
    options: AnalysisOptions = AnalysisOptions(),
    read_options: ReadOptions = ReadOptions(),
    npartitions: int | None = None,
):
    """A lazy ``dask.bag.Bag`` of the results of every record of every file, in input order.

    Parameters
    ----------
    paths : str, path-like, or iterable of them
        One file, or many, readable by every worker.
    measure : str
        ``lz76`` (the full record), ``factorization``, ``h``, ``emc`` or
        another measure of ``parsimetrics analyze --measure``.
    options : AnalysisOptions
        ``alphabet``, ``log_base`` and ``max_block_size``, as the command
        line's options of the same names.
    read_options : ReadOptions
        How the files are read, as ``read_source`` takes it.
    npartitions : int, optional
        The bag's partitions; by default one per file, at most 64.

    Returns
    -------
    dask.bag.Bag
        Lazy: ``compute()`` gives the list of result dictionaries that
        ``parsimetrics analyze --json`` prints, one per record.

    Raises
    ------
    ImportError
        Dask is not installed (``pip install 'parsimetrics[dask]'``).
    InputError, AnalysisError
        At ``compute()``: the first file that cannot be read or record that
        cannot be measured.

    Notes
    -----
    Each worker reads its own files with ``read_source`` and measures each
    record with ``analyze_record``, so the results equal the command
    line's, whatever the scheduler.

    Examples
    --------
    >>> import pathlib, tempfile
    >>> path = pathlib.Path(tempfile.mkdtemp()) / "a.txt"
    >>> _ = path.write_text("01010101\\n")
    >>> [result["h"] for result in dask_bag([str(path)], measure="h").compute()]
    [0.75]
    """
    try:
        import dask.bag as db
    except ImportError:
        raise ImportError("the Dask recipe needs dask: pip install 'parsimetrics[dask]'") from None
    # A single path is one file, not an iterable of its characters.
    paths = [os.fspath(paths)] if isinstance(paths, str | os.PathLike) else [os.fspath(p) for p in paths]
    files = db.from_sequence(paths, npartitions=npartitions or max(1, min(len(paths), 64)))
    records = files.map(read_source, options=read_options).flatten()
    return records.map(analyze_record, measure=measure, options=options)
