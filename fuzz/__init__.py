"""Coverage-guided fuzzing of the five module functions.

Every argument of `factorization`, `h`, `emc`, `nid` and `lz76` is fed an
object built from the fuzzer's bytes: texts with lone surrogates, bytes of
every length around the engine's switches (direct comparison, the pool,
induced sorting and the library sort), lists
of texts and of integers (nested, self-referencing, huge and negative
values), NumPy arrays and scalars of every dtype, and objects whose
`__index__`, `__len__` or `__iter__` raise or lie.  Each call must either

* return a well-formed result equal to the result for the plain bytes the
  input stands for, or
* raise exactly the exception an independent model of the input rules
  predicts (TypeError, OverflowError, UnicodeEncodeError from a list of str,
  or whatever a user's own `__index__` raised for a numeric argument);
  MemoryError only for block counts that cannot fit in memory,

and must leave the reference count of every argument as it found it.  Any
other outcome raises `Finding`, which the fuzzer reports as a crash along
with the input that caused it; a crash of the interpreter is reported by
the fuzzer itself.

The package: `objects` (arguments with behaviour of their own), `generator`
(objects from the fuzzer's bytes), `model` (what a call must do, and the
checks of well-formed results) and `runner` (one call, and the fuzz target).
Run it through fuzz/run.sh, which builds a coverage-instrumented module, or
`python3 -m fuzz CORPUS [libFuzzer options]` from the repository's top.
"""
