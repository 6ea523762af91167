"""PCI against a written-out reference, and the significance matrix on planted responses."""

import math

import numpy as np
import pytest

from parsimetrics_tools.pci import pci, significance_matrix
from tests.test_toolkit import published_count


def reference(matrix, order="activity"):
    if order == "activity":  # most active sources first, ties in the given order
        matrix = matrix[sorted(range(len(matrix)), key=lambda i: -int(matrix[i].sum()))]
    entries = matrix.size
    p = matrix.mean()
    if entries < 2 or p in (0, 1):
        return 0.0
    h = -p * math.log2(p) - (1 - p) * math.log2(1 - p)
    return published_count(matrix.T.ravel().tolist()) * math.log2(entries) / (entries * h)


def matrices():
    rng = np.random.default_rng(8)
    structured = np.zeros((12, 80), dtype=np.uint8)
    structured[3:6, 10:40] = 1  # one block of activity, tied sources
    structured[9, ::7] = 1
    return {
        "sparse": (rng.random((30, 120)) < 0.05).astype(np.uint8),
        "dense": (rng.random((30, 120)) < 0.6),
        "structured": structured,
        "one source": rng.integers(0, 2, (1, 200)),
        "all zero": np.zeros((5, 40), dtype=bool),
        "all one": np.ones((5, 40), dtype=np.int64),
        "one entry": np.ones((1, 1), dtype=bool),
    }


@pytest.mark.parametrize("name", matrices())
@pytest.mark.parametrize("order", ["activity", "given"])
def test_equals_the_reference(name, order):
    matrix = np.asarray(matrices()[name])
    assert pci(matrix, order=order) == pytest.approx(reference(matrix.astype(np.uint8), order), rel=1e-15)


def test_the_published_order_does_not_depend_on_source_numbering():
    matrix = matrices()["structured"]
    shuffled = matrix[np.random.default_rng(0).permutation(len(matrix))]
    assert pci(shuffled) == pci(matrix)
    assert pci(shuffled, order="given") != pci(matrix, order="given")


def test_stacks_and_tables():
    import pandas as pd

    stack = np.stack([matrices()["sparse"], matrices()["dense"]]).astype(np.uint8)  # (2, sources, time)
    assert pci(stack).tolist() == [pci(m) for m in stack]
    assert pci(np.moveaxis(stack, 0, -1), axis=1, source_axis=0).tolist() == pci(stack).tolist()
    assert pci(pd.DataFrame(stack[0].T)) == pci(stack[0])
    with pytest.raises(ValueError, match="pci: expected a binary matrix"):
        pci(np.full((2, 3), 2))


def test_significance_matrix_finds_a_planted_response():
    rng = np.random.default_rng(4)
    before = rng.normal(size=(30, 8, 120))
    after = rng.normal(size=(30, 8, 60))
    after[:, [1, 5], 20:30] += 2.5
    before[:, 7], after[:, 7] = 3.0, 9.0  # a source with a constant baseline has no spread to test against
    found = significance_matrix(after, before, alpha=0.01, n_boot=300, seed=1)
    planted = np.zeros((8, 60), dtype=bool)
    planted[[1, 5], 20:30] = True
    assert found.dtype == bool and (found == planted).all()
    assert (significance_matrix(after, before, n_boot=300, seed=1) == found).all()
    with pytest.raises(ValueError, match="same non-zero numbers of trials and sources"):
        significance_matrix(after[:5], before)
