"""The text of ``parsimetrics explain``: every output field in a line or two, with its sources."""

EXPLANATION = """\
Fields of 'parsimetrics analyze' (JSON keys; the table shows some of them)

How the input was read (enough to read the same symbols again)
  name            label of the result: the file, the FASTA record, or file:record when
                  record names repeat in a batch
  file            the input file ("<stdin>" for standard input)
  record          the FASTA record name, when the file has records
  format          the format the input was read as (detected or given by --format), and
  compression     the compression taken off first (gzip, bzip2, xz), if any
  column          the table column the numbers came from, if any
  symbolizer      how numbers became symbols (values, median, threshold:X, ...) and, under
  cut_points      the cut points used: a value's symbol is the number of cut points at or
                  below it
  missing_dropped the number of missing values left out by --missing drop
  case_folded     whether letters were folded to upper case (FASTA; --keep-case keeps them)

What was measured
  length          n, the number of symbols
  alphabet_size   k (table: k), the number of distinct symbols; h is normalized with the
                  logarithm to base max(2, k) unless --log-base chose another base
  measure         the function of the parsimetrics module that was called, with its
  options         keyword arguments (alphabet, log_base, max_block_size) as passed
  parsimetrics_version  the version of the module that computed the values

The values (parsimetrics.MODULE(symbols, **options) gives them again)
  complexity      the LZ76 factor count c (Lempel & Ziv 1976): the sequence is cut from the
                  left into factors, each the longest stretch already seen (overlaps allowed)
                  plus one new symbol; a last factor that reaches the end without a new symbol
                  is not counted. The algorithm of Kaspar & Schuster (1987) counts it: their
                  count is c + 1 when the last boundary is n + 1, and 2 for a constant
                  sequence of n >= 2 symbols, where c is 1.
  ks_complexity   that count of Kaspar & Schuster (1987), the one papers report
  factors         the factor boundaries 0, 1, ..., ending at n, or at n + 1 when the last factor
                  is such an uncounted copy
  h               entropy density c * log_k(n) / n, an estimate of the entropy rate: near 1 for
                  fair, independent symbols, near 0 for periodic ones; in bits per symbol with
                  --log-base 2 (table: h(bits))
  epsilon         finite-size correction 2 * (1 + log_k(log_k(k n))) / log_k(n), the epsilon_n of
                  Lempel & Ziv's (1976) bound c < n / ((1 - epsilon_n) log_k n), which lets h
                  exceed 1 at finite n; it shrinks only like log log n / log n (k: --alphabet
                  or the distinct symbols; logarithms in the base of h)
  factors_stddev  spread of the factor lengths: the root of the summed squared deviations
                  divided by the longest factor length (not a textbook standard deviation)
  normal_error    h^(3/2) * factors_stddev / sqrt(n / log_k n). A scale built from the factor
                  lengths, NOT an uncertainty of h: over independent fair-coin sequences h
                  varies by about 0.02 at n = 1,000 while normal_error is about 0.7. Do not read
                  it as a standard error or as +/-; for an uncertainty of h, measure several
                  independent sequences (or segments) and take the spread of their h.
  poison_error    h / n. It shrinks as 1/n and does not estimate the spread of h either.
  emc.value       effective measure complexity, the information a sequence's past carries
                  about its future (Grassberger 1986), estimated from block-shuffled
                  surrogates: for each block length l = 1..m the sequence is shuffled in blocks
                  of l symbols (seeded from its own content, so reproducible), and
                  l * (h(surrogate) - h) is the excess at scale l; these are made non-negative
                  and non-decreasing (isotonic regression) and the value is the last one.
                  In the units of h. Compare it between sequences of the same length only.
  emc.summands    the increments of that ladder, one per block length (the plot draws their sums)
  emc.max_block_size  m (table: blocks), the largest block length; by default chosen from n
  emc.multi_information  the excess at l = 1 before the projection (may be negative)
  extras          complexity of the two halves (split at n // 2) against the whole, with C, C1,
                  C2 the counts of the whole, first and last half, d = C1 + C2, e = d - C:
                  rajski_distance 2 - d / C; redundancy e / d; fh_uncertainty e / C1;
                  lh_uncertainty e / C2; pearson_coefficient e / sqrt(C1 C2)

Fields of 'parsimetrics distance' and 'parsimetrics nid'
  nid             normalized information distance (Li, Chen, Li, Ma & Vitanyi 2004) with LZ76
                  factor counts in place of Kolmogorov complexity:
                  max(C(xy) - C(x), C(yx) - C(y)) / max(C(x), C(y)). Near 0 for equal
                  sequences (a sequence joined to itself often needs one more factor, so
                  rarely exactly 0), near 1 for unrelated ones; neither clamped nor rounded.

Fields of 'parsimetrics profile' (one row per window [start, end) of a sequence)
  h, complexity, emc  the measure of the window's symbols alone, as above
  log_base        the base of every window's logarithms: the whole sequence's alphabet size
                  unless --log-base was given, so that the windows of a sequence compare

Literature
  A. Lempel, J. Ziv, On the complexity of finite sequences, IEEE Trans. Inf. Theory 22 (1976) 75.
  F. Kaspar, H. G. Schuster, Easily calculable measure for the complexity of spatiotemporal
    patterns, Phys. Rev. A 36 (1987) 842.
  P. Grassberger, Toward a quantitative theory of self-generated complexity, Int. J. Theor.
    Phys. 25 (1986) 907.
  M. Li, X. Chen, X. Li, B. Ma, P. M. B. Vitanyi, The similarity metric, IEEE Trans. Inf.
    Theory 50 (2004) 3250.
"""
