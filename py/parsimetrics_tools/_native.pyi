# The native part of the toolkit; called only by parsimetrics_tools.toolkit.
from typing import Any

def many(
    measure: int, items: list[Any], alphabet: int, log_base: int, max_block_size: int, /
) -> tuple[list[Any], None] | tuple[None, tuple[int, BaseException]]: ...
def profile(
    sequence: Any, window: int, step: int, measure: int, alphabet: int, log_base: int, max_block_size: int, /
) -> tuple[int, bytearray]: ...
def nid_matrix(
    items: list[Any], alphabet: int, log_base: int, /
) -> tuple[bytearray, None] | tuple[None, tuple[int, BaseException]]: ...
