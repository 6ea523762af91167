"""
A tour of the command line
==========================

The ``parsimetrics`` command reads files of symbols, numbers, tables and
FASTA records and prints tables or JSON lines. Each command below runs as it
would in a terminal, from the repository's root, and its output is printed
as it came. ``parsimetrics COMMAND --help`` lists every option, and the
:doc:`command-line reference <../cli>` holds all of them.
"""

import os
import shlex
import subprocess
import sys
import tempfile
from pathlib import Path

import matplotlib.pyplot as plt
import numpy as np

# A scratch folder in which examples/ is the repository's.
here = Path(tempfile.mkdtemp())
(here / "examples").symlink_to(Path("../../examples").resolve())  # the gallery runs in docs/gallery


def run(command):
    """Run ``parsimetrics ...`` (this interpreter's copy) in the scratch folder; print what it prints."""
    print("$", command)
    args = shlex.split(command)[1:]
    env = dict(os.environ, COLUMNS="110")
    proc = subprocess.run([sys.executable, "-m", "parsimetrics_tools", *args], cwd=here, env=env,
                          capture_output=True, text=True, check=True)
    print(proc.stdout, end="")


# %%
# Measure the bundled example files
# ---------------------------------
# A table on a terminal (``--table`` forces it here), JSON lines otherwise.

run("parsimetrics analyze --table examples/periodic.txt examples/fibonacci.txt "
    "examples/logistic.txt examples/random_binary.txt")

# %%
# Numbers become symbols
# ----------------------
# A column of a CSV table, cut at x = 1/2; the JSON record says how the
# symbols were made, enough to compute the values again.

run("parsimetrics analyze --json --measure h --column x --symbolize threshold:0.5 examples/logistic.csv")

# %%
# Distances between FASTA records
# -------------------------------

run("parsimetrics distance --table examples/sequences.fasta")

# %%
# Sliding windows
# ---------------

run("parsimetrics profile --window 2000 --step 2000 --table examples/logistic.txt")

# %%
# Many channels at once
# ---------------------
# A table whose columns are channels: four channels whose 10 Hz rhythm waxes
# and wanes together, so their envelopes, and the bits made from them, move
# as one.  ``multichannel`` reports LZc and LZs (near 1 for independent
# noise); ``pci`` reads a binary matrix of the same layout.

rng = np.random.default_rng(0)
t = np.arange(2000) / 250
bursts = 1 + np.sin(2 * np.pi * 0.5 * t)
channels = np.column_stack([bursts * np.sin(2 * np.pi * 10 * t + phase) + 0.2 * rng.normal(size=t.size)
                            for phase in rng.uniform(0, 2 * np.pi, 4)])
np.savetxt(here / "channels.csv", channels, delimiter=",", header="c1,c2,c3,c4", comments="", fmt="%.5f")
run("parsimetrics multichannel --table channels.csv")

# %%
# What a field means
# ------------------
# ``parsimetrics explain`` defines every output field; with a topic, it
# prints the same text as this site's concept pages.

run("parsimetrics explain nid")

# %%
# A figure from the command line
# ------------------------------
# ``--plot`` writes the entropy densities and the EMC ladders into an image.

run("parsimetrics analyze --table --plot ladder.png examples/periodic.txt examples/fibonacci.txt "
    "examples/random_binary.txt")

fig, ax = plt.subplots(figsize=(9, 4.5), constrained_layout=True)
ax.imshow(plt.imread(here / "ladder.png"))
ax.set_axis_off()
plt.show()
