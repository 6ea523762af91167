"""The per-sequence work: one call into the extension per record or pair.

These functions are what the command line, its worker processes and the Dask
recipe all map over a corpus, so they take and return plain picklable values.
"""

from __future__ import annotations

import operator
from dataclasses import dataclass, fields

import numpy as np
import parsimetrics

from . import _native
from .inputs import Record
from .records import Reads
from .symbolizers import Symbolizer, parse_symbolizer
from .toolkit import MANY_MEASURES, _native_options, kaspar_schuster, ks_count, profile

# The measures a record can be analysed with: the module's functions and
# kaspar_schuster, as the native part names them.
MEASURES = MANY_MEASURES
# The longest sequence the suffix sorter indexes (signed 32-bit integers).
MAX_SYMBOLS: int = _native.MAX_SYMBOLS
# effective_base(log_base or None, distinct symbols): the log base h is normalized with, as the core chooses it.
effective_base = _native.effective_base
# What analyze_record calls that is not a function of the module.
_TOOLKIT_MEASURES = {"kaspar_schuster": kaspar_schuster}
# Permutation LZC is the Kaspar-Schuster count of ordinal patterns: "permutation:D[:TAU]".
PERMUTATION = "permutation:"


def permutation_patterns(measure: str) -> Symbolizer | None:
    """The ordinal patterns that ``permutation:D[:TAU]`` counts; None for any other measure."""
    if not measure.startswith(PERMUTATION):
        return None
    try:
        return parse_symbolizer("ordinal:" + measure[len(PERMUTATION) :])
    except ValueError as exc:
        raise AnalysisError(f"measure {measure!r}: {str(exc).replace('ordinal:', 'permutation:')}") from None


class AnalysisError(Exception):
    """A sequence the extension could not analyse, reported as one line."""


@dataclass(frozen=True)
class AnalysisOptions:
    alphabet: int | None = None
    log_base: int | None = None
    max_block_size: int | None = None

    def kwargs(self, measure: str) -> dict[str, int]:
        args = {}
        if self.alphabet is not None and measure != "kaspar_schuster":
            args["alphabet"] = self.alphabet
        if self.log_base is not None:
            args["log_base"] = self.log_base
        if self.max_block_size is not None and measure in ("emc", "lz76"):
            args["max_block_size"] = self.max_block_size
        return args


def check_length(name: str, length: int) -> None:
    if length > MAX_SYMBOLS:
        raise AnalysisError(f"{name}: sequence too long ({length} symbols; at most {MAX_SYMBOLS} fit)")


def check_reads(reads: Reads, measure: str, options: AnalysisOptions) -> bool:
    """Whether every one of ``reads`` passes ``check_record``."""
    # Its checks refuse a sequence too long or too short, so the longest and the shortest read tell.
    lengths = list(map(len, reads.symbols))
    for index in {lengths.index(max(lengths)), lengths.index(min(lengths))}:
        try:
            check_record(reads[index], measure, options)
        except AnalysisError:
            return False
    return True


def check_record(record: Record, measure: str, options: AnalysisOptions) -> None:
    """Refuse what the extension would fail on, or spend all memory on, before any work starts."""
    check_length(record.name, len(record.symbols))
    # One surrogate per block length: a block size past the length is a typo, not an analysis.
    blocks, length = options.max_block_size, len(record.symbols)
    if blocks is not None and measure in ("emc", "lz76") and blocks > length:
        raise AnalysisError(f"{record.name}: max block size {blocks} exceeds the sequence length {length}")


def _call(name: str, function: str, *args, **kwargs):
    measure = _TOOLKIT_MEASURES[function] if function in _TOOLKIT_MEASURES else getattr(parsimetrics, function)
    try:
        return measure(*args, **kwargs)
    except (TypeError, OverflowError, ValueError) as exc:
        raise AnalysisError(f"{name}: {exc}") from None
    except parsimetrics.PanicException as exc:
        # Derived from BaseException; turned into an ordinary error here so that
        # a worker process reports it instead of dying.
        raise AnalysisError(f"{name}: {exc}") from None


def reading_provenance(record: Record) -> dict:
    """How the record's symbols were read: file, record name, format, symbolizer and so on."""
    how = record.provenance()
    del how["name"]
    return {"file": record.source, "record": _record_name(record), **how}


def _record_name(record: Record) -> str | None:
    # A text or number file is one sequence named after the file; FASTA records have names of their own.
    return None if record.name == record.source else record.name


# The fields of a record that the records of a file read one way have in common;
# the others (its name and ambiguity counts) and its symbols are its own.
SHARED_FIELDS = tuple(f.name for f in fields(Record) if f.name not in ("name", "symbols", "ambiguous", "ambiguous_dropped"))
shared_fields = operator.attrgetter(*SHARED_FIELDS)
# The keys of analyze_record's result that depend on those fields and the measure alone.
SHARED_KEYS = frozenset({"file" if name == "source" else name for name in SHARED_FIELDS}
                        | {"measure", "options", "parsimetrics_version"})


def _own_fields(record: Record, label: str | None) -> dict:
    """The fields of ``describe_input`` that tell apart records with the same shared fields."""
    return {key: column[0] for key, column in own_columns([(record.name if label is None else label, record)]).items()}


def describe_input(record: Record, label: str | None = None) -> dict:
    """What every command's JSON says of one input: its label, how its symbols were read, their number
    and the number of distinct ones.  Every field of the record but its symbols is here, so that the
    symbols can be read again the same way."""
    described = {"name": None, **reading_provenance(record), "length": None, "alphabet_size": None}
    described.update(_own_fields(record, label))
    return described


def describe_matrix(path: str, how: dict, shape: tuple[int, int]) -> dict:
    """What the JSON of a channels x samples command says of one file: how it was read and its size."""
    return {"name": how["file"], **how, "channels": shape[0], "samples": shape[1]}


def measured(measure: str, options: dict) -> dict:
    """The fields that say what was computed: the function, its keyword arguments and the module's version."""
    return {"measure": measure, "options": options, "parsimetrics_version": parsimetrics.__version__}


def analyze_record(
    record: Record, measure: str = "lz76", options: AnalysisOptions = AnalysisOptions(), label: str | None = None
) -> dict:
    """Analyse one record; returns the JSON-ready result the command line prints.

    Parameters
    ----------
    record : Record
        The symbols and how they were read, as ``read_source`` gives them.
    measure : str
        ``lz76`` (the full record), ``factorization``, ``h``, ``emc``,
        ``kaspar_schuster`` or ``permutation:D[:TAU]``.
    options : AnalysisOptions
        ``alphabet``, ``log_base`` and ``max_block_size``, passed to the
        module's function where it takes them.
    label : str, optional
        The result's ``name``; by default the record's.

    Returns
    -------
    dict
        The record's provenance (``name`` to ``case_folded``), ``length``,
        ``alphabet_size``, ``measure``, ``options`` and
        ``parsimetrics_version``, then the values: exactly one line of
        ``parsimetrics analyze --json``.

    Raises
    ------
    AnalysisError
        An unknown measure, a sequence too long for the suffix sorter, a
        block size beyond the length, or a failure of the module, with the
        record's name in the message.

    Notes
    -----
    Besides the values, the result says everything needed to compute them
    again: how the symbols were read, their number and distinct symbols, the
    measure with the options passed to the module, and the module's version.
    ``parsimetrics explain`` defines every field.

    Examples
    --------
    >>> result = analyze_record(Record("word", "word.txt", b"01010101"), "h")
    >>> result["length"], result["alphabet_size"], result["h"]
    (8, 2, 0.75)
    """
    patterns = permutation_patterns(measure)
    if patterns is not None:
        return _permutation_record(record, measure, patterns, label)
    if measure not in MEASURES:
        raise AnalysisError(f"unknown measure {measure!r} (choose from {', '.join(MEASURES)} or permutation:D[:TAU])")
    check_record(record, measure, options)
    kwargs = options.kwargs(measure)
    return _result(record, label, measure, kwargs, _call(record.name, measure, record.symbols, **kwargs))


def _result(record: Record, label: str | None, measure: str, kwargs: dict, value, head: dict | None = None) -> dict:
    """``analyze_record``'s result from the module's value (the first, for kaspar_schuster).

    ``head``, if given, is the result's fields before the values: a dict of
    the caller's, which becomes the result.
    """
    result = {**describe_input(record, label), **measured(measure, kwargs)} if head is None else head
    if measure == "kaspar_schuster":
        result["ks_complexity"] = value
        result["ks_normalized"] = _call(record.name, measure, record.symbols, normalize=True, **kwargs)
    elif measure == "factorization":
        result["complexity"], result["factors"] = value
    elif measure == "h":
        result["h"] = value
    elif measure == "emc":
        emc_value, summands = value
        result["emc"] = {"value": emc_value, "summands": summands}
    else:
        result.update(value)
    if "complexity" in result:
        # The count papers report, beside ours, so that results compare without arithmetic by hand.
        ks = ks_count(record.symbols, result["complexity"], result["factors"])
        ordered = {}
        for key, item in result.items():
            ordered[key] = item
            if key == "complexity":
                ordered["ks_complexity"] = ks
        result = ordered
    return result


def _permutation_record(record: Record, measure: str, patterns: Symbolizer, label: str | None) -> dict:
    """Permutation LZC of a record read as those ordinal patterns: the count, normalized by D! patterns."""
    if record.symbolizer != str(patterns):
        raise AnalysisError(f"{record.name}: {measure} counts the ordinal patterns of numbers; "
                            f"read them with the symbolizer {patterns}, not {record.symbolizer}")
    check_length(record.name, len(record.symbols))
    options = {"order": patterns.order, "delay": patterns.delay}
    result = {**describe_input(record, label), **measured("permutation_lzc", options)}
    result["ks_complexity"] = _call(record.name, "kaspar_schuster", record.symbols)
    result["permutation_lzc"] = _call(record.name, "kaspar_schuster", record.symbols, normalize=True,
                                      log_base=patterns.classes)
    return result


def ladder_and_h(record: Record, result: dict, options: AnalysisOptions) -> tuple[list[float] | None, float]:
    """What the plot draws for one record, computed only where the chosen measure lacks it.

    The EMC ladder (the expensive part) only for the measures that compute it anyway.
    """
    summands = result["emc"]["summands"] if "emc" in result else None
    h = result["h"] if "h" in result else _call(record.name, "h", record.symbols, **options.kwargs("h"))
    return summands, h


def analysis_job(
    labelled: tuple[str, Record], measure: str, options: AnalysisOptions, plot: bool
) -> tuple[dict, tuple | None]:
    label, record = labelled
    result = analyze_record(record, measure, options, label)
    return result, (ladder_and_h(record, result, options) if plot else None)


# The measures whose result is one call of the module, and so can be computed many records at a time.
_ONE_CALL = ("factorization", "h", "emc", "lz76")


def values_of(symbols: list[bytes], measure: str, options: AnalysisOptions) -> list | None:
    """The module's value of each sequence of symbols, all in one parallel call; None if the measure takes
    more than one call, or if any sequence failed.

    A file of short reads is millions of records: one call measures them all,
    where a call each would cost more than the measure.
    """
    if measure not in _ONE_CALL or len(symbols) < 2:
        return None
    items: list[bytes] | np.ndarray = symbols
    if len(lengths := set(map(len, symbols))) == 1 and lengths != {0}:
        # Reads of one length as the rows of one array: copied at once, where each item of a list is
        # converted on its own while the interpreter waits.
        items = np.frombuffer(b"".join(symbols), np.uint8).reshape(len(symbols), -1)
    try:
        values, failure = _native.many(measure, items, *_native_options("many", measure, options.kwargs(measure)))
    except Exception:  # options the module refuses, or memory: each record alone reports it
        return None
    return values if failure is None else None


def analysis_chunk(
    chunk: list[tuple[str, Record]], measure: str, options: AnalysisOptions
) -> list[tuple[bool, dict | Exception]]:
    """``(True, analyze_record(record, measure, options, label))``, or ``(False, exception)``, for each item.

    The records must have passed ``check_record``.  They are measured
    together; should any of them fail, each is measured alone, so that only
    the failing ones fail, each with its own message.
    """
    values = values_of([record.symbols for _, record in chunk], measure, options)
    if values is None:
        return [_analysis_outcome(record, measure, options, label) for label, record in chunk]
    kwargs = options.kwargs(measure)
    # The fields records share are worked out once for each way of reading them.
    heads: dict[tuple, dict] = {}
    outcomes = []
    for (label, record), value in zip(chunk, values, strict=True):
        shared = shared_fields(record)
        head = heads.get(shared)
        if head is None:
            head = heads[shared] = {**describe_input(record, label), **measured(measure, kwargs)}
        head = head.copy()
        head.update(_own_fields(record, label))
        outcomes.append((True, _result(record, label, measure, kwargs, value, head)))
    return outcomes


def _analysis_outcome(record: Record, measure: str, options: AnalysisOptions, label: str):
    try:
        return True, analyze_record(record, measure, options, label)
    except Exception as exc:  # as ordered_map reports an item's failure
        return False, exc


def first_result(chunk: list[tuple[str, Record]], measure: str, options: AnalysisOptions, value) -> dict:
    """``analyze_record``'s result for the first record of ``chunk``, whose module value is ``value``."""
    label, record = chunk[0]
    return _result(record, label, measure, options.kwargs(measure), value)


def own_columns(chunk: list[tuple[str, Record]]) -> dict[str, list]:
    """The fields of ``describe_input`` that tell apart records with the same shared fields, as columns."""
    labels, records = zip(*chunk)
    return _own_columns(list(labels), list(map(_record_name, records)), [record.ambiguous for record in records],
                        [record.ambiguous_dropped for record in records], [record.symbols for record in records])


def reads_columns(labels: list[str], reads: Reads) -> dict[str, list]:
    """``own_columns`` of reads labelled ``labels``."""
    names = reads.names
    if reads.source in names:
        names = [None if name == reads.source else name for name in names]  # as _record_name
    dropped = reads.ambiguous if reads.dropped else [0] * len(reads)
    return _own_columns(labels, names, reads.ambiguous, dropped, reads.symbols)


def _own_columns(labels: list[str], names: list[str | None], ambiguous: list[int], dropped: list[int],
                 symbols: list[bytes]) -> dict[str, list]:
    return {
        "name": labels,
        "record": names,
        "ambiguous": ambiguous,
        "ambiguous_dropped": dropped,
        "length": list(map(len, symbols)),
        "alphabet_size": _alphabet_sizes(symbols),
    }


# The number of bits set in each byte value.
_SET_BITS = np.array([bin(value).count("1") for value in range(256)], np.uint8)


def _alphabet_sizes(symbols: list[bytes]) -> list[int]:
    """The distinct symbols of each sequence: a bit for each letter, or-ed over each sequence, counted.

    For the few letters of reads, a few operations over all the symbols of a
    chunk at once, where a set of each sequence would cost more than its measure.
    """
    joined = b"".join(symbols)
    letters = np.flatnonzero(np.bincount(np.frombuffer(joined, np.uint8), minlength=256))
    if len(letters) > 8:
        return [len(set(s)) for s in symbols]
    lengths = np.fromiter(map(len, symbols), np.intp, len(symbols))
    filled = lengths > 0
    sizes = np.zeros(len(symbols), np.intp)
    if filled.any():
        table = bytearray(256)
        for index, letter in enumerate(letters):
            table[letter] = 1 << index
        # Empty sequences left out, each start's run reaches the next: its own symbols.
        starts = (np.cumsum(lengths) - lengths)[filled]
        sizes[filled] = _SET_BITS[np.bitwise_or.reduceat(np.frombuffer(joined.translate(table), np.uint8), starts)]
    return sizes.tolist()


def distance(first: Record, second: Record) -> float:
    """The normalized information distance of two records, as ``parsimetrics nid`` reports it.

    Parameters
    ----------
    first, second : Record
        The two sequences, as ``read_source`` gives them.

    Returns
    -------
    float
        ``parsimetrics.nid(first.symbols, second.symbols)``.

    Raises
    ------
    AnalysisError
        The two sequences together are too long for the suffix sorter, or
        the module fails; the message names both records.

    Notes
    -----
    The distance compares the LZ76 factor counts of each sequence and of
    their two concatenations (Li et al. 2004); ``parsimetrics explain nid``
    gives the definition.

    Examples
    --------
    >>> distance(Record("x", "x.txt", b"abcd"), Record("y", "y.txt", b"abce"))
    0.25
    """
    check_length(f"{first.name} + {second.name}", len(first.symbols) + len(second.symbols))
    return _call(f"{first.name}, {second.name}", "nid", first.symbols, second.symbols)


def profile_job(
    labelled: tuple[str, Record], window: int, step: int | None, measure: str, log_base: int | None
) -> tuple[int, np.ndarray, np.ndarray]:
    """One record's windows for ``parsimetrics profile``: the log base used, the starts and the values.

    Unless ``log_base`` is given, every window is normalized with the whole
    record's alphabet size, so that the windows of a record compare.
    """
    label, record = labelled
    check_length(label, len(record.symbols))
    base = effective_base(log_base, len(set(record.symbols)))
    try:
        starts, values = profile(record.symbols, window, step, measure, log_base=base)
    except parsimetrics.PanicException as exc:
        # As in _call: an ordinary error, which a worker process reports instead of dying.
        raise AnalysisError(f"{label}: {exc}") from None
    return base, starts, values
