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
#define PM_RAISES                                                                          \
    "\nRaises\n------\n"                                                                    \
    "TypeError\n"                                                                          \
    "    A sequence of another type, an integer beyond 64 bits inside it, an option that\n"  \
    "    is not an integer, or an argument missing, repeated or unknown.\n"                 \
    "OverflowError\n"                                                                      \
    "    An option outside its range (signed 32 bits for partitions and max_block_size,\n"  \
    "    0 to 4294967295 for alphabet, log_base and jobs).\n"                               \
    "MemoryError\n"                                                                        \
    "    The working arrays do not fit in memory.\n"                                        \
    "PanicException\n"                                                                     \
    "    An internal failure, such as a sequence too long for the suffix sorter (2**31 - 2\n" \
    "    symbols). It derives from BaseException, so ``except Exception`` does not catch\n" \
    "    it; the module stays usable.\n"
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
    PM_RAISES
    "\nNotes\n-----\n"
    "The sequence is cut from the left into factors, each the longest stretch that also\n"
    "starts at an earlier position (overlaps allowed) followed by one new symbol\n"
    "(Lempel and Ziv 1976). The count is Lempel and Ziv's complexity c(n). The procedure\n"
    "of Kaspar and Schuster (1987), which most papers report, also counts a last factor\n"
    "that copies up to the end, and counts 2 for a constant sequence of two or more\n"
    "symbols: ``parsimetrics_tools.kaspar_schuster`` gives that count.\n\n"
    "A. Lempel, J. Ziv, On the complexity of finite sequences, IEEE Trans. Inf. Theory\n"
    "22 (1976) 75-81. F. Kaspar, H. G. Schuster, Phys. Rev. A 36 (1987) 842-848.\n"
    "\nExamples\n--------\n"
    ">>> factorization(\"banana\")  # b, a, n, then ana copies and is not counted\n"
    "(3, [0, 1, 2, 3, 7])\n"
    ">>> factorization([0, 1, 10]) == factorization(\"0110\")  # decimal digits joined\n"
    "True\n"
    ">>> factorization(\"aaaa\")\n"
    "(1, [0, 1, 4])\n";

inline constexpr char kHDoc[] =
    "h(seq, partitions=1, alphabet=None, log_base=None, jobs=0)\n--\n\n"
    "Compute the LZ76-based normalized entropy density of a sequence.\n\n"
    "Parameters\n----------\n" PM_SEQ_PARAM("seq") PM_COMMON_PARAMS PM_JOBS_PARAM
    "\nReturns\n-------\n"
    "float\n"
    "    c * log_k(n) / n, with c the LZ76 factor count, n the length and k the\n"
    "    logarithm base; 0.0 for sequences of fewer than two symbols.  `alphabet`\n"
    "    does not change the result.\n"
    PM_RAISES
    "\nNotes\n-----\n"
    "The entropy density normalizes the LZ76 factor count c by that of a random\n"
    "sequence of the same length:\n\n"
    ".. math:: h = \\frac{c \\log_k n}{n}\n\n"
    "For a stationary ergodic source it converges to the entropy rate as n grows (Ziv\n"
    "and Lempel 1978), slowly: fair coin flips give about 1.03 at n = 10**4. It is not\n"
    "the entropy of the symbol frequencies: a periodic sequence gives a value near 0.\n\n"
    "A. Lempel, J. Ziv, IEEE Trans. Inf. Theory 22 (1976) 75-81. J. Ziv, A. Lempel,\n"
    "IEEE Trans. Inf. Theory 24 (1978) 530-536.\n"
    "\nExamples\n--------\n"
    ">>> h(\"01010101\")  # c = 2, n = 8, k = 2\n"
    "0.75\n"
    ">>> h(\"banana\", log_base=2)  # bits per symbol\n"
    "1.292481250360578\n";

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
    PM_RAISES
    "\nNotes\n-----\n"
    "The effective measure complexity (Grassberger 1986), or excess entropy, is the\n"
    "information the past of a sequence carries about its future. With h the entropy\n"
    "density and h_l that of the surrogate shuffled in blocks of l symbols, the rungs\n\n"
    ".. math:: E(l) = l \\, (h_l - h), \\quad l = 1, \\ldots, m\n\n"
    "are projected onto a non-negative, non-decreasing ladder (isotonic regression) and\n"
    "the value is its last rung. It grows with m, and m with n: compare values between\n"
    "sequences of the same length only.\n\n"
    "P. Grassberger, Toward a quantitative theory of self-generated complexity,\n"
    "Int. J. Theor. Phys. 25 (1986) 907-938.\n"
    "\nExamples\n--------\n"
    ">>> emc(\"01001010101101010101110101010101010000100101011\")\n"
    "(0.17727411228758438, [0.05909137076252813, 0.0, 0.11818274152505626, 0.0])\n"
    ">>> emc(\"banana\", max_block_size=3)  # at most 10 symbols: no shuffle moves any\n"
    "(0.0, [0.0, 0.0, 0.0])\n";

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
    PM_RAISES
    "\nNotes\n-----\n"
    "The normalized information distance of Li et al. (2004), with the LZ76 factor\n"
    "count C in place of Kolmogorov complexity:\n\n"
    ".. math:: \\mathrm{NID}(x, y) = \\frac{\\max(C(xy) - C(x), C(yx) - C(y))}{\\max(C(x), C(y))}\n\n"
    "The value is neither clamped nor rounded: a sequence joined to itself often needs\n"
    "one more factor, so its distance to itself is small but rarely exactly 0.\n\n"
    "M. Li, X. Chen, X. Li, B. Ma, P. M. B. Vitanyi, The similarity metric, IEEE Trans.\n"
    "Inf. Theory 50 (2004) 3250-3264.\n"
    "\nExamples\n--------\n"
    ">>> nid(\"abcd\", \"abce\")  # C(x) = C(y) = 4, both concatenations 5\n"
    "0.25\n"
    ">>> nid(\"aaaa\", \"bbbb\")\n"
    "1.0\n";

inline constexpr char kLz76Doc[] =
    "lz76(seq, partitions=1, alphabet=None, log_base=None, max_block_size=..., jobs=0)\n--\n\n"
    "Run the full LZ76 analysis on a sequence.\n\n"
    "Parameters\n----------\n" PM_SEQ_PARAM("seq") PM_COMMON_PARAMS PM_MAX_BLOCK_PARAM PM_JOBS_PARAM
    "\nReturns\n-------\n"
    "dict\n"
    "    The full analysis, in this key order:\n\n"
    "    - complexity : int -- LZ76 factor count (as factorization)\n"
    "    - entropy_density (key \"h\") : float -- as h()\n"
    "    - factors : list[int] -- factor boundaries (as factorization)\n"
    "    - emc : dict -- value, summands, max_block_size, multi_information (raw ladder\n"
    "      value at block length 1, may be negative)\n"
    "    - epsilon : float -- finite-size correction 2 (log(log(K n)) + 1) / log(n)\n"
    "    - factors_stddev : float -- spread of the factor lengths\n"
    "    - normal_error : float -- h^1.5 * factors_stddev / sqrt(n / log(n))\n"
    "    - poison_error : float -- h / n\n"
    "    - extras : dict -- rajski_distance, redundancy, fh_uncertainty, lh_uncertainty,\n"
    "      pearson_coefficient, from the counts of the whole sequence and its halves\n"
    PM_RAISES
    "\nNotes\n-----\n"
    "One factorization of the sequence, its EMC ladder and the counts C1, C2 of its two\n"
    "halves (split at n // 2). With d = C1 + C2 and e = d - C: rajski_distance is\n"
    "2 - d / C, redundancy e / d, fh_uncertainty e / C1, lh_uncertainty e / C2 and\n"
    "pearson_coefficient e / sqrt(C1 C2). epsilon is the term of Lempel and Ziv's\n"
    "(1976) bound c < n / ((1 - epsilon) log_k n); it is a bound, not a bias\n"
    "correction. normal_error and poison_error are scales built from the factor\n"
    "lengths, not uncertainties of h: the spread of h over independent segments is.\n\n"
    "A. Lempel, J. Ziv, On the complexity of finite sequences, IEEE Trans. Inf. Theory\n"
    "22 (1976) 75-81.\n"
    "\nExamples\n--------\n"
    ">>> result = lz76(\"banana\")\n"
    ">>> result[\"complexity\"], result[\"factors\"], result[\"h\"] == h(\"banana\")\n"
    "(3, [0, 1, 2, 3, 7], True)\n"
    ">>> result[\"extras\"][\"redundancy\"]  # halves ban (3 factors) and ana (2)\n"
    "0.4\n";

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
#undef PM_RAISES

}  // namespace parsimetrics::boundary
