"""Interpreter exit while a daemon thread is inside a call: the interpreter
ends such a thread with pthread_exit, whose forced unwind passes through the
module's frames.  Run with every CPython on the machine."""

import os
import subprocess

from tests.helpers import ENDLESS_SEQUENCE

# A daemon thread converts a sequence whose __getitem__ runs Python code; the
# main thread ends, and the final flush of a standard output that waits lets
# the daemon thread reach for the interpreter once it is finalizing.
SCRIPT = """
import sys, threading, time
import parsimetrics as pm
""" + ENDLESS_SEQUENCE + """
class WaitingOutput:
    def __init__(self, stream):
        self.stream = stream

    def write(self, text):
        return self.stream.write(text)

    def flush(self):
        time.sleep(0.1)
        self.stream.flush()

def convert_forever():
    while True:
        pm.h(Sequence())

threading.Thread(target=convert_forever, daemon=True).start()
inside.wait()
sys.stdout = WaitingOutput(sys.stdout)
print("main thread done")
"""


def test_exit_with_a_daemon_thread_inside_a_call(cpython, module_only_path):
    env = dict(os.environ, PYTHONPATH=str(module_only_path))
    proc = subprocess.run([cpython, "-c", SCRIPT], env=env, capture_output=True, text=True, timeout=60)
    assert (proc.returncode, proc.stdout) == (0, "main thread done\n"), proc.stderr[-4000:]
