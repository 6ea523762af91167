"""The field's measures from the command line: the same values as the toolkit, with provenance."""

import json

import numpy as np
import pytest

import parsimetrics_tools
from parsimetrics_tools import kaspar_schuster, lzc_multichannel, pci, permutation_lzc


def run(capsys, *args):
    status = parsimetrics_tools.main(["--debug", *map(str, args)])
    out, err = capsys.readouterr()
    return status, [json.loads(line) for line in out.splitlines()], err


def test_analyze_kaspar_schuster_and_permutation(tmp_path, capsys):
    x = np.random.default_rng(1).normal(size=800)
    np.savetxt(tmp_path / "x.txt", x)
    (tmp_path / "s.txt").write_text("1001111011000010\n")
    status, [ks], _ = run(capsys, "analyze", "--json", "-m", "kaspar_schuster", tmp_path / "s.txt")
    assert status == 0 and (ks["ks_complexity"], ks["ks_normalized"]) == (6, kaspar_schuster("1001111011000010", True))
    status, [plzc], _ = run(capsys, "analyze", "--json", "-m", "permutation:4:2", tmp_path / "x.txt")
    assert status == 0 and plzc["symbolizer"] == "ordinal:4:2" and plzc["options"] == {"order": 4, "delay": 2}
    assert plzc["permutation_lzc"] == permutation_lzc(x, 4, 2)
    assert plzc["ks_complexity"] == permutation_lzc(x, 4, 2, normalize=None)
    for refused, words in ((["-m", "permutation:3", "--symbolize", "median"], "leave out --symbolize"),
                           (["-m", "kaspar_schuster", "--alphabet", "3"], "--alphabet does not apply")):
        status, _, err = run(capsys, "analyze", *refused, tmp_path / "x.txt")
        assert status != 0 and words in err


@pytest.mark.parametrize("suffix", [".npy", ".csv"])
def test_multichannel_and_pci_from_columns(tmp_path, capsys, suffix):
    rng = np.random.default_rng(2)
    signals, binary = rng.normal(size=(900, 5)).cumsum(axis=0), (rng.random((200, 12)) < 0.3).astype(np.uint8)
    for name, matrix in (("signals", signals), ("binary", binary)):
        if suffix == ".npy":
            np.save(tmp_path / f"{name}.npy", matrix)
        else:
            np.savetxt(tmp_path / f"{name}.csv", matrix, delimiter=",", fmt="%d" if name == "binary" else "%.17g",
                       header=",".join(f"c{i}" for i in range(matrix.shape[1])), comments="")
    status, [lz], _ = run(capsys, "multichannel", "--json", "--columns", "1,3,4", tmp_path / f"signals{suffix}")
    assert status == 0 and (lz["channels"], lz["samples"]) == (3, 900)
    assert [lz["lzc"], lz["lzs"]] == lzc_multichannel(signals[:, [0, 2, 3]].T).tolist()
    status, [p], _ = run(capsys, "pci", "--json", "--order", "given", tmp_path / f"binary{suffix}")
    assert status == 0 and p["options"] == {"order": "given"} and p["pci"] == pci(binary.T, order="given")
    assert p["columns"] == (list(range(1, 13)) if suffix == ".npy" else [f"c{i}" for i in range(12)])
