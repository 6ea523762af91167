"""LZ76-based complexity analysis for symbolic sequences."""

from typing import Protocol, SupportsIndex, TypeAlias, TypedDict, type_check_only

__version__: str
__all__ = ["factorization", "h", "emc", "nid", "lz76"]

@type_check_only
class _IntSequence(Protocol):
    # Anything with the sequence protocol whose items are integers: tuples,
    # ranges, bytearrays, memoryviews, NumPy arrays.
    def __len__(self) -> int: ...
    def __getitem__(self, index: int, /) -> SupportsIndex: ...

# Text (its UTF-8 bytes), bytes, a list of texts (joined) or integers (their
# decimal representations joined).
_SequenceLike: TypeAlias = str | bytes | list[str] | _IntSequence

# The dictionaries that `lz76` returns.  These classes exist only for type
# checkers: import them under `typing.TYPE_CHECKING`.

@type_check_only
class EmcRecord(TypedDict):
    value: float
    summands: list[float]
    max_block_size: int
    multi_information: float

@type_check_only
class ExtraMeasures(TypedDict):
    rajski_distance: float
    redundancy: float
    fh_uncertainty: float
    lh_uncertainty: float
    pearson_coefficient: float

@type_check_only
class AnalysisResult(TypedDict):
    complexity: int
    h: float
    factors: list[int]
    emc: EmcRecord
    epsilon: float
    factors_stddev: float
    normal_error: float
    poison_error: float
    extras: ExtraMeasures

class PanicException(BaseException):
    """An internal failure of a computation."""

def factorization(
    seq: _SequenceLike,
    partitions: SupportsIndex = 1,
    alphabet: SupportsIndex | None = None,
    log_base: SupportsIndex | None = None,
    jobs: SupportsIndex = 0,
) -> tuple[int, list[int]]: ...
def h(
    seq: _SequenceLike,
    partitions: SupportsIndex = 1,
    alphabet: SupportsIndex | None = None,
    log_base: SupportsIndex | None = None,
    jobs: SupportsIndex = 0,
) -> float: ...
def emc(
    seq: _SequenceLike,
    partitions: SupportsIndex = 1,
    alphabet: SupportsIndex | None = None,
    log_base: SupportsIndex | None = None,
    max_block_size: SupportsIndex = ...,
    jobs: SupportsIndex = 0,
) -> tuple[float, list[float]]: ...
def nid(
    seq1: _SequenceLike,
    seq2: _SequenceLike,
    partitions: SupportsIndex = 1,
    alphabet: SupportsIndex | None = None,
    log_base: SupportsIndex | None = None,
    jobs: SupportsIndex = 0,
) -> float: ...
def lz76(
    seq: _SequenceLike,
    partitions: SupportsIndex = 1,
    alphabet: SupportsIndex | None = None,
    log_base: SupportsIndex | None = None,
    max_block_size: SupportsIndex = ...,
    jobs: SupportsIndex = 0,
) -> AnalysisResult: ...
