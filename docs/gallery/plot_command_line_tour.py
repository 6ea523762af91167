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
