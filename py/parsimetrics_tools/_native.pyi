# The native part of the toolkit; called only by parsimetrics_tools.toolkit.
# many and nid_matrix return (result, None), or (None, (index, exception))
# for the first item that failed.  many's items are a list of sequences or
# the rows of a 2-D uint8 array.  The calls can be stopped by Ctrl-C.
from typing import Any

# The measures' names, the absent-option marker and the longest sequence,
# defined once in the core for both languages.
MANY_MEASURES: tuple[str, ...]
WINDOW_MEASURES: tuple[str, ...]
ABSENT: int
MAX_SYMBOLS: int

def many(
    measure: str, items: Any, alphabet: int, log_base: int, max_block_size: int, normalize: bool, /
) -> tuple[Any, Any]: ...
def profile(
    sequence: Any, window: int, step: int, measure: str, alphabet: int, log_base: int, max_block_size: int,
    normalize: bool, /
) -> tuple[int, bytearray]: ...
def nid_matrix(items: list[Any], alphabet: int, log_base: int, /) -> tuple[Any, Any]: ...
def effective_base(value: int | None, alphabet_size: int, /) -> int: ...
