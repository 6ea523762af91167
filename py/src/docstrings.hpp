// The module's docstrings.  Each function's starts with its signature line
// (name(params)\n--\n\n), which the interpreter turns into __text_signature__.
#pragma once

namespace parsimetrics::boundary {

#define PM_COMMON_PARAMS                                                                   \
    "partitions : int, default 1\n"                                                        \
    "    Accepted for compatibility and validated (signed 32-bit); has no effect.\n"        \
    "alphabet : int or None, default None\n"                                               \
    "    Alphabet size for the finite-size correction term; None uses the number of\n"      \
    "    distinct symbols (at least 2).  Values below 3 count as 2.\n"                     \
    "log_base : int or None, default None\n"                                               \
    "    Base of the logarithms; None uses the detected alphabet size (normalized\n"        \
    "    form), 2 gives bits.  Values below 3 count as 2.\n"
#define PM_JOBS_PARAM                                                                      \
    "jobs : int, default 0\n"                                                              \
    "    Accepted for compatibility and validated (0 to 4294967295); has no effect.\n"      \
    "    The worker pool size comes from RAYON_NUM_THREADS.\n"
#define PM_SEQ_PARAM(name)                                                                 \
    name " : str, bytes, list[str], list[int] or iterable of ints\n"                       \
    "    The symbols: the UTF-8 bytes of a str, the bytes of a bytes object, the joined\n"  \
    "    UTF-8 of a list of str, or the joined decimal digits of integers.\n"

inline constexpr char kFactorizationDoc[] =
    "factorization(seq, partitions=1, alphabet=None, log_base=None, jobs=0)\n--\n\n"
    "Compute the LZ76 factorization of a sequence.\n\n"
    "Parameters\n----------\n" PM_SEQ_PARAM("seq") PM_COMMON_PARAMS PM_JOBS_PARAM
    "\nReturns\n-------\n"
    "tuple[int, list[int]]\n"
    "    The LZ76 factor count and the factor boundaries 0, 1, ...; factor i spans\n"
    "    [factors[i], factors[i+1]).  The last boundary is n, or n + 1 when the last\n"
    "    factor copies earlier symbols up to the end (that factor is not counted).  An\n"
    "    empty or constant sequence of n symbols gives (1, [0, 1, n]).\n"
    "\nExamples\n--------\n"
    "factorization(\"banana\")  # (3, [0, 1, 2, 3, 7])\n"
    "factorization([0, 1, 10])  # same as factorization(\"0110\")\n";

inline constexpr char kHDoc[] =
    "h(seq, partitions=1, alphabet=None, log_base=None, jobs=0)\n--\n\n"
    "Compute the LZ76-based normalized entropy density of a sequence.\n\n"
    "Parameters\n----------\n" PM_SEQ_PARAM("seq") PM_COMMON_PARAMS PM_JOBS_PARAM
    "\nReturns\n-------\n"
    "float\n"
    "    c * log_k(n) / n, with c the LZ76 factor count, n the length and k the\n"
    "    logarithm base; 0.0 for sequences of fewer than two symbols.  `alphabet`\n"
    "    does not change the result.\n"
    "\nExamples\n--------\n"
    "h(\"01010101\")  # 0.75\n"
    "h(\"banana\", log_base=2)  # bits per symbol\n";

#define PM_MAX_BLOCK_PARAM                                                                 \
    "max_block_size : int, default automatic\n"                                            \
    "    Largest shuffle block length l.  0 or below (the default is -1) chooses it from\n"   \
    "    the length: 1 below 10 symbols, growing to 26 at a million symbols.\n"

inline constexpr char kEmcDoc[] =
    "emc(seq, partitions=1, alphabet=None, log_base=None, max_block_size=..., jobs=0)\n--\n\n"
    "Effective measure complexity (EMC) via random block shuffling.\n\n"
    "For each block length l = 1 .. max_block_size the sequence is shuffled in aligned\n"
    "blocks of l symbols and factorized again; the entropy-density gap to the original,\n"
    "scaled by l, estimates the excess entropy up to scale l.  These estimates are\n"
    "projected onto a non-negative, non-decreasing ladder whose steps are the summands.\n"
    "Shuffles are seeded from the sequence's content: results are reproducible.\n\n"
    "Parameters\n----------\n" PM_SEQ_PARAM("seq") PM_COMMON_PARAMS PM_MAX_BLOCK_PARAM PM_JOBS_PARAM
    "\nReturns\n-------\n"
    "tuple[float, list[float]]\n"
    "    The EMC value (last value of the projected ladder) and one non-negative\n"
    "    summand per block length.\n"
    "\nExamples\n--------\n"
    "emc(\"01001010101101010101110101010101010000100101011\")\n"
    "emc(\"banana\", max_block_size=3)  # (0.0, [0.0, 0.0, 0.0])\n";

inline constexpr char kNidDoc[] =
    "nid(seq1, seq2, partitions=1, alphabet=None, log_base=None, jobs=0)\n--\n\n"
    "Normalized information distance (NID) between two sequences.\n\n"
    "max(C(XY) - C(X), C(YX) - C(Y)) / max(C(X), C(Y)) with C the LZ76 factor count\n"
    "and XY, YX the two concatenations.\n\n"
    "Parameters\n----------\n" PM_SEQ_PARAM("seq1") PM_SEQ_PARAM("seq2") PM_COMMON_PARAMS PM_JOBS_PARAM
    "\nReturns\n-------\n"
    "float\n"
    "    0.0 when appending either sequence to the other adds no factor; larger values\n"
    "    mean more distinct information.  Options never change the result.\n"
    "\nExamples\n--------\n"
    "nid(\"abcd\", \"abce\")  # 0.25\n"
    "nid(\"aaaa\", \"bbbb\")  # 1.0\n";

inline constexpr char kLz76Doc[] =
    "lz76(seq, partitions=1, alphabet=None, log_base=None, max_block_size=..., jobs=0)\n--\n\n"
    "Run the full LZ76 analysis on a sequence.\n\n"
    "Parameters\n----------\n" PM_SEQ_PARAM("seq") PM_COMMON_PARAMS PM_MAX_BLOCK_PARAM PM_JOBS_PARAM
    "\nReturns\n-------\n"
    "dict\n"
    "    complexity : int -- LZ76 factor count (as factorization)\n"
    "    entropy_density (key \"h\") : float -- as h()\n"
    "    factors : list[int] -- factor boundaries (as factorization)\n"
    "    emc : dict -- value, summands, max_block_size, multi_information (raw ladder\n"
    "        value at block length 1, may be negative)\n"
    "    epsilon : float -- finite-size correction 2 (log(log(K n)) + 1) / log(n)\n"
    "    factors_stddev : float -- spread of the factor lengths\n"
    "    normal_error : float -- h^1.5 * factors_stddev / sqrt(n / log(n))\n"
    "    poison_error : float -- h / n\n"
    "    extras : dict -- rajski_distance, redundancy, fh_uncertainty, lh_uncertainty,\n"
    "        pearson_coefficient, from the counts of the whole sequence and its halves\n"
    "\nExamples\n--------\n"
    "lz76(\"banana\")[\"complexity\"]  # 3\n"
    "lz76(\"banana\", log_base=2)[\"h\"]\n";

inline constexpr char kModuleDoc[] =
    "LZ76-based complexity analysis for symbolic sequences.\n\n"
    "Top-level functions\n"
    "-------------------\n"
    "factorization -- LZ76 factor count and factor boundaries.\n"
    "h -- normalized entropy density.\n"
    "emc -- effective measure complexity from block-shuffled surrogates.\n"
    "nid -- normalized information distance of two sequences.\n"
    "lz76 -- the full analysis as one nested dictionary.\n"
    "\n"
    "Every function accepts its sequence as a str (its UTF-8 bytes), bytes, a list\n"
    "of str (joined), or a list or other sequence of integers, whose decimal\n"
    "representations are concatenated: [0, 1, 10] becomes \"0110\".\n";

#undef PM_COMMON_PARAMS
#undef PM_JOBS_PARAM
#undef PM_SEQ_PARAM
#undef PM_MAX_BLOCK_PARAM

}  // namespace parsimetrics::boundary
