"""Python toolkit around the parsimetrics extension, and its command line (``parsimetrics_tools.cli``).

The per-sequence functions are importable for use in other pipelines (worker
pools, Dask): ``read_source`` turns a file into ``Record`` objects and
``analyze_record`` returns the same result the command line prints for one.
"""

from .cli import main
from .inputs import InputError, ReadOptions, Record, read_records, read_source
from .measures import MEASURES, AnalysisError, AnalysisOptions, analyze_record, distance
from .multichannel import lzc_multichannel
from .pci import pci, significance_matrix
from .permutation import permutation_lzc
from .scaling import dask_bag
from .shapes import as_symbols
from .symbolizers import Symbolizer, parse_symbolizer, symbolize
from .toolkit import kaspar_schuster, many, multiscale, nid_matrix, profile

__all__ = [
    "MEASURES",
    "AnalysisError",
    "AnalysisOptions",
    "InputError",
    "ReadOptions",
    "Record",
    "Symbolizer",
    "analyze_record",
    "as_symbols",
    "dask_bag",
    "distance",
    "kaspar_schuster",
    "lzc_multichannel",
    "main",
    "many",
    "multiscale",
    "nid_matrix",
    "parse_symbolizer",
    "pci",
    "permutation_lzc",
    "profile",
    "read_records",
    "read_source",
    "significance_matrix",
    "symbolize",
]
