# The native part of the toolkit; called only by parsimetrics_tools.toolkit.
# many and nid_matrix return (result, None), or (None, (index, exception))
# for the first item that failed.
from typing import Any

def many(measure: int, items: list[Any], alphabet: int, log_base: int, max_block_size: int, /) -> tuple[Any, Any]: ...
def profile(
    sequence: Any, window: int, step: int, measure: int, alphabet: int, log_base: int, max_block_size: int, /
) -> tuple[int, bytearray]: ...
def nid_matrix(items: list[Any], alphabet: int, log_base: int, /) -> tuple[Any, Any]: ...
