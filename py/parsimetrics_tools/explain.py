"""What the measures mean: the text of ``parsimetrics explain`` and of the documentation's concept pages.

Both are rendered from the records below, so the command line and the site
say the same thing.  ``FIELDS`` defines every output field of the command
line; ``TOPICS`` holds one page per family of measures: its definition, the
formulas (each written twice, as TeX for the site and as plain text for a
terminal), what it estimates and what it does not, the functions that
compute it and the literature.  Text is plain: no markup, so that it reads
the same in both places.
"""

from __future__ import annotations

import textwrap
from dataclasses import dataclass

WIDTH = 92
NAME_WIDTH = 16


@dataclass(frozen=True)
class Field:
    name: str
    text: str


@dataclass(frozen=True)
class Section:
    """A heading and the fields under it; ``level`` 1 for a command, 2 for a group inside it."""

    title: str
    level: int
    fields: tuple[Field, ...] = ()


@dataclass(frozen=True)
class Formula:
    tex: str
    text: str


@dataclass(frozen=True)
class Topic:
    key: str
    title: str
    summary: str
    body: tuple[str | Formula, ...]
    estimates: str
    limits: str
    functions: tuple[str, ...]
    references: tuple[str, ...]


LEMPEL_ZIV = "A. Lempel, J. Ziv, On the complexity of finite sequences, IEEE Trans. Inf. Theory 22 (1976) 75-81."
KASPAR_SCHUSTER = (
    "F. Kaspar, H. G. Schuster, Easily calculable measure for the complexity of spatiotemporal patterns, "
    "Phys. Rev. A 36 (1987) 842-848."
)
ZIV_LEMPEL = (
    "J. Ziv, A. Lempel, Compression of individual sequences via variable-rate coding, IEEE Trans. Inf. "
    "Theory 24 (1978) 530-536."
)
AMIGO = (
    "J. M. Amigo, J. Szczepanski, E. Wajnryb, M. V. Sanchez-Vives, Estimating the entropy rate of spike "
    "trains via Lempel-Ziv complexity, Neural Comput. 16 (2004) 717-736."
)
GRASSBERGER = (
    "P. Grassberger, Toward a quantitative theory of self-generated complexity, Int. J. Theor. Phys. 25 "
    "(1986) 907-938."
)
CRUTCHFIELD_FELDMAN = (
    "J. P. Crutchfield, D. P. Feldman, Regularities unseen, randomness observed: levels of entropy "
    "convergence, Chaos 13 (2003) 25-54."
)
LI_VITANYI = (
    "M. Li, X. Chen, X. Li, B. Ma, P. M. B. Vitanyi, The similarity metric, IEEE Trans. Inf. Theory 50 "
    "(2004) 3250-3264."
)
CILIBRASI_VITANYI = "R. Cilibrasi, P. M. B. Vitanyi, Clustering by compression, IEEE Trans. Inf. Theory 51 (2005) 1523-1545."
DAW = (
    "C. S. Daw, C. E. A. Finney, E. R. Tracy, A review of symbolic analysis of experimental data, "
    "Rev. Sci. Instrum. 74 (2003) 915-930."
)
BANDT_POMPE = (
    "C. Bandt, B. Pompe, Permutation entropy: a natural complexity measure for time series, "
    "Phys. Rev. Lett. 88 (2002) 174102."
)
COSTA = (
    "M. Costa, A. L. Goldberger, C.-K. Peng, Multiscale entropy analysis of complex physiologic time "
    "series, Phys. Rev. Lett. 89 (2002) 068102."
)
IBANEZ_MOLINA = (
    "A. J. Ibanez-Molina, S. Iglesias-Parro, M. F. Soriano, J. I. Aznarte, Multiscale Lempel-Ziv "
    "complexity for EEG measures, Clin. Neurophysiol. 126 (2015) 541-548."
)
BAI = (
    "Y. Bai, Z. Liang, X. Li et al., Permutation Lempel-Ziv complexity measure of electroencephalogram "
    "in GABAergic anaesthetics, Physiol. Meas. 36 (2015) 2483-2501."
)
SCHARTNER_2015 = (
    "M. Schartner, A. Seth, Q. Noirhomme et al., Complexity of multi-dimensional spontaneous EEG "
    "decreases during propofol induced general anaesthesia, PLoS ONE 10 (2015) e0133532."
)
SCHARTNER_2017 = (
    "M. M. Schartner, R. L. Carhart-Harris, A. B. Barrett, A. K. Seth, S. D. Muthukumaraswamy, Increased "
    "spontaneous MEG signal diversity for psychoactive doses of ketamine, LSD and psilocybin, Sci. Rep. 7 "
    "(2017) 46421."
)
CASALI = (
    "A. G. Casali, O. Gosseries, M. Rosanova et al., A theoretically based index of consciousness "
    "independent of sensory processing and behavior, Sci. Transl. Med. 5 (2013) 198ra105."
)


FIELDS: tuple[Section, ...] = (
    Section("Fields of 'parsimetrics analyze' (JSON keys; the table shows some of them)", 1),
    Section("How the input was read (enough to read the same symbols again)", 2, (
        Field("name", "label of the result: the file, the FASTA record, or file:record when record names "
              "repeat in a batch"),
        Field("file", 'the input file ("<stdin>" for standard input)'),
        Field("record", "the FASTA record name, when the file has records"),
        Field("format", "the format the input was read as (detected or given by --format)"),
        Field("compression", "the compression taken off first (gzip, bzip2, xz), if any"),
        Field("column", "the table column the numbers came from, if any: its name, or its number"),
        Field("column_number", "the column's position, from 1 (names may repeat; a position does not)"),
        Field("row", "the table or array row read (from 0), when --rows makes a record of each"),
        Field("symbolizer", "how numbers became symbols (values, median, threshold:X, ...); the symbols "
              "measured are the bytes 0 to k - 1 that parsimetrics_tools.symbolize gives, in Python too"),
        Field("cut_points", "the cut points the symbolizer used: a value's symbol is the number of cut "
              "points at or below it"),
        Field("missing_dropped", "the number of missing values left out by --missing drop"),
        Field("case_folded", "whether letters were folded to upper case (FASTA; --keep-case keeps them)"),
        Field("ambiguous", "the symbols outside ACGT (U) of a nucleotide record (ambiguity codes such as N)"),
        Field("ambiguous_dropped", "how many of them --ambiguous drop left out"),
        Field("unit", "text symbols as bytes, or as UTF-8 characters (--unit char)"),
        Field("symbol_map", "under --unit char, the characters in the order of their codes (the first seen "
              "is code 0)"),
        Field("raw", "whether text was taken byte for byte, line breaks included (--raw)"),
    )),
    Section("What was measured", 2, (
        Field("length", "n, the number of symbols"),
        Field("alphabet_size", "k (table: k), the number of distinct symbols; h is normalized with the "
              "logarithm to base max(2, k) unless --log-base chose another base"),
        Field("measure", "the function that was called: one of the parsimetrics module, or the toolkit's "
              "kaspar_schuster, permutation_lzc, lzc_multichannel or pci"),
        Field("options", "its keyword arguments (alphabet, log_base, max_block_size) as passed"),
        Field("parsimetrics_version", "the version of the module that computed the values"),
    )),
    Section("The values (parsimetrics.MODULE(symbols, **options) gives them again)", 2, (
        Field("complexity", "the LZ76 factor count c (Lempel & Ziv 1976): the sequence is cut from the "
              "left into factors, each the longest stretch already seen (overlaps allowed) plus one new "
              "symbol; a last factor that reaches the end without a new symbol is not counted. The "
              "algorithm of Kaspar & Schuster (1987) counts it: their count is c + 1 when the last "
              "boundary is n + 1, and 2 for a constant sequence of n >= 2 symbols, where c is 1."),
        Field("ks_complexity", "that count of Kaspar & Schuster (1987), the one papers report"),
        Field("ks_normalized", "the Kaspar & Schuster count normalized, ks_complexity * log_k(n) / n "
              "(--measure kaspar_schuster)"),
        Field("permutation_lzc", "permutation LZ complexity (Bai et al. 2015; --measure permutation:D[:TAU]): "
              "the numbers become the ordinal patterns of D values TAU apart (length: their number), and "
              "ks_complexity, their Kaspar & Schuster count, is normalized as ks_complexity * log_k(n) / n "
              "with k = D!, the patterns there can be; options holds order (D) and delay (TAU)"),
        Field("factors", "the factor boundaries 0, 1, ..., ending at n, or at n + 1 when the last factor "
              "is such an uncounted copy"),
        Field("h", "entropy density c * log_k(n) / n, an estimate of the entropy rate: near 1 for fair, "
              "independent symbols, near 0 for periodic ones; in bits per symbol with --log-base 2 "
              "(table: h(bits))"),
        Field("epsilon", "finite-size correction 2 * (1 + log_k(log_k(k n))) / log_k(n), the epsilon_n "
              "of Lempel & Ziv's (1976) bound c < n / ((1 - epsilon_n) log_k n), which lets h exceed 1 at "
              "finite n; it shrinks only like log log n / log n (k: --alphabet or the distinct symbols; "
              "logarithms in the base of h)"),
        Field("factors_stddev", "spread of the factor lengths: the root of the summed squared deviations "
              "divided by the longest factor length (not a textbook standard deviation)"),
        Field("normal_error", "h^(3/2) * factors_stddev / sqrt(n / log_k n). A scale built from the factor "
              "lengths, NOT an uncertainty of h: over independent fair-coin sequences h varies by about "
              "0.02 at n = 1,000 while normal_error is about 0.7. Do not read it as a standard error or as "
              "+/-; for an uncertainty of h, measure several independent sequences (or segments) and take "
              "the spread of their h."),
        Field("poison_error", "h / n. It shrinks as 1/n and does not estimate the spread of h either."),
        Field("emc.value", "effective measure complexity, the information a sequence's past carries about "
              "its future (Grassberger 1986), estimated from block-shuffled surrogates: for each block "
              "length l = 1..m the sequence is shuffled in blocks of l symbols (seeded from its own "
              "content, so reproducible), and l * (h(surrogate) - h) is the excess at scale l; these are "
              "made non-negative and non-decreasing (isotonic regression) and the value is the last one. "
              "In the units of h. Compare it between sequences of the same length only."),
        Field("emc.summands", "the increments of that ladder, one per block length (the plot draws their "
              "sums)"),
        Field("emc.max_block_size", "m (table: blocks), the largest block length; by default chosen from n"),
        Field("emc.multi_information", "the excess at l = 1 before the projection (may be negative)"),
        Field("extras", "complexity of the two halves (split at n // 2) against the whole, with C, C1, C2 "
              "the counts of the whole, first and last half, d = C1 + C2 and e = d - C:"),
        Field("extras.rajski_distance", "2 - d / C"),
        Field("extras.redundancy", "e / d"),
        Field("extras.fh_uncertainty", "e / C1"),
        Field("extras.lh_uncertainty", "e / C2"),
        Field("extras.pearson_coefficient", "e / sqrt(C1 C2)"),
    )),
    Section("Fields of 'parsimetrics distance' and 'parsimetrics nid'", 1, (
        Field("names", "the labels of the matrix's rows and columns (distance --json; CSV and TSV carry "
              "them in the first row and column)"),
        Field("first, second", "the labels of the two sequences (nid)"),
        Field("inputs", "how each input was read, with the fields above (name to alphabet_size)"),
        Field("nid", "normalized information distance (Li, Chen, Li, Ma & Vitanyi 2004) with LZ76 factor "
              "counts in place of Kolmogorov complexity: max(C(xy) - C(x), C(yx) - C(y)) / max(C(x), "
              "C(y)). Near 0 for equal sequences (a sequence joined to itself often needs one more "
              "factor, so rarely exactly 0), near 1 for unrelated ones; neither clamped nor rounded."),
    )),
    Section("Fields of 'parsimetrics multichannel' and 'parsimetrics pci' (one result per file)", 1, (
        Field("columns", "the table's (or 2-D .npy array's) columns read, by name or number: the channels "
              "or sources; its rows are the samples"),
        Field("channels, samples", "the numbers of columns and rows read"),
        Field("lzc", "the Kaspar-Schuster count of all channels read sample by sample, each binarized at the "
              "mean of its Hilbert amplitude envelope, divided by the count of a shuffle of the same "
              "symbols (Schartner et al. 2015); options.seed seeds the shuffle, by default the data do"),
        Field("lzs", "each channel's count divided by that of its own shuffle, averaged over the channels "
              "(Schartner et al. 2017)"),
        Field("pci", "perturbational complexity index c_L * log2(L) / (L * H(p)) of a binary sources x "
              "samples matrix, its sources most active first unless options.order is given (Casali et al. "
              "2013); 0 when p is 0 or 1"),
        Field("ones_fraction", "p, the fraction of ones in the matrix, whose binary entropy H(p) normalizes pci"),
    )),
    Section("Fields of 'parsimetrics profile' (one row per window [start, end) of a sequence)", 1, (
        Field("start, end", "the window's first symbol and the one past its last, from 0"),
        Field("h, complexity, emc, kaspar_schuster", "the measure of the window's symbols alone, as above"),
        Field("log_base", "the base of every window's logarithms: the whole sequence's alphabet size "
              "unless --log-base was given, so that the windows of a sequence compare"),
    )),
)


TOPICS: tuple[Topic, ...] = (
    Topic(
        key="lz76",
        title="LZ76 factorization and the Kaspar-Schuster count",
        summary="how a sequence is cut into factors, and the two ways the factors are counted",
        body=(
            "Read from the left, a sequence is cut into factors. Each factor is the longest stretch that "
            "also starts at an earlier position (the earlier occurrence may overlap the factor itself), "
            "extended by the one symbol that breaks the match. The first factor is the first symbol. The "
            "number of factors c is the Lempel-Ziv (1976) complexity: a periodic sequence needs a handful "
            "of factors whatever its length, a random one about n / log_k(n) of them, where n is the "
            "length and k the number of distinct symbols. For banana the factors are b, a, n and ana.",
            "Lempel and Ziv bound the count of any sequence of n symbols over k letters:",
            Formula(r"c(n) < \frac{n}{(1 - \varepsilon_n) \log_k n}",
                    "c(n) < n / ((1 - epsilon_n) * log_k(n))"),
            "Two conventions differ in the last factor. When the sequence ends inside a copy (ana in "
            "banana copies a, n, a seen before and has no new symbol left), parsimetrics records the "
            "boundary n + 1 and does not count the factor; the procedure of Kaspar and Schuster (1987), "
            "which most papers use, counts it, and counts 2 for a constant sequence of two or more "
            "symbols, where parsimetrics counts 1. The two counts differ by at most one; the toolkit's "
            "kaspar_schuster gives the published count, and its normalized form c log_k(n) / n, as do "
            "many, profile and multiscale with the measure kaspar_schuster.",
            "The factorization is computed from the suffix array of the sequence and its longest "
            "previous factors, in time and memory linear in n.",
        ),
        estimates="How many new patterns the sequence needs when read from the left: the raw material "
        "of the entropy density, the information distance and the effective measure complexity.",
        limits="Not a property of the source that made the sequence: the count grows with n and depends "
        "on the alphabet, so raw counts compare only between sequences of equal length and alphabet. It "
        "also depends on how numbers were turned into symbols.",
        functions=("parsimetrics.factorization", "parsimetrics.lz76", "parsimetrics_tools.kaspar_schuster",
                   "parsimetrics_tools.many", "parsimetrics_tools.profile"),
        references=(LEMPEL_ZIV, KASPAR_SCHUSTER),
    ),
    Topic(
        key="entropy",
        title="Entropy density and its finite-size correction",
        summary="c log_k(n) / n as an estimate of the entropy rate, and how far it is from it at finite n",
        body=(
            "The entropy density normalizes the factor count by that of a random sequence of the same "
            "length:",
            Formula(r"h = \frac{c \, \log_k n}{n}", "h = c * log_k(n) / n"),
            "with k the logarithm base: the number of distinct symbols unless log_base is given (at "
            "least 2; log_base=2 gives bits per symbol). For a stationary ergodic source, h converges "
            "almost surely to the source's entropy rate as n grows (Ziv and Lempel 1978): near 1 for fair "
            "independent symbols, near 0 for periodic ones, and for a chaotic map read through a "
            "generating partition, its Kolmogorov-Sinai entropy, which for the logistic map equals the "
            "Lyapunov exponent.",
            "The convergence is slow. Lempel and Ziv's bound on the count holds with",
            Formula(r"\varepsilon_n = \frac{2 \left(1 + \log_k \log_k (k n)\right)}{\log_k n}",
                    "epsilon_n = 2 * (1 + log_k(log_k(k * n))) / log_k(n)"),
            "so that h (1 - epsilon_n) never exceeds 1. The full analysis reports epsilon_n as epsilon. "
            "It is a bound, not a bias correction: it shrinks only like log log n / log n (about 0.73 at "
            "n = 10^4 and 0.48 at n = 10^7 for two symbols), and h (1 - epsilon_n) lies far below the rate "
            "at every practical length. The plain h of fair coin flips exceeds 1 by about 3 per cent "
            "at n = 10^4 and 1 per cent at n = 10^7; dividing h by that of fair independent symbols of "
            "the same length and alphabet removes that bias for sources near the maximal rate, but "
            "over-corrects low-rate ones (the gallery's convergence figure shows all three).",
        ),
        estimates="The entropy rate of the process behind the sequence, in units of log k (or of the "
        "chosen base): the new information per symbol once all correlations are accounted for.",
        limits="Not the Shannon entropy of the symbol frequencies (a periodic sequence with equal "
        "frequencies has high Shannon entropy and h near 0), and not unbiased at finite n: for "
        "comparisons, keep n and the alphabet fixed. normal_error and poison_error are not uncertainties "
        "of h; the spread of h over independent segments is.",
        functions=("parsimetrics.h", "parsimetrics.lz76", "parsimetrics_tools.many", "parsimetrics_tools.profile"),
        references=(LEMPEL_ZIV, ZIV_LEMPEL, AMIGO),
    ),
    Topic(
        key="emc",
        title="Effective measure complexity from block-shuffled surrogates",
        summary="how much of the past helps predict the future, from surrogates shuffled in blocks",
        body=(
            "The effective measure complexity (Grassberger 1986), also called excess entropy, is the "
            "mutual information between a sequence's past and its future: the total amount by which "
            "block entropies exceed what the entropy rate alone would give. parsimetrics estimates it "
            "with surrogates. For each block length l = 1 ... m the sequence is cut into aligned blocks of "
            "l symbols which are shuffled (n / 2 random exchanges, seeded from the sequence's own "
            "content, so every call gives the same result). A shuffle keeps the structure inside blocks "
            "and destroys it between them, so the surrogate's entropy density exceeds the original's by "
            "the structure longer than l:",
            Formula(r"E(l) = l \, \left(h_{\mathrm{shuffled}(l)} - h\right)",
                    "E(l) = l * (h(shuffled at block length l) - h)"),
            "The ladder E(1), ..., E(m) must be non-negative and non-decreasing (it accumulates a mutual "
            "information); the raw values are not, since each rests on one random surrogate, so they are "
            "projected onto that shape by isotonic regression (pool adjacent violators). The value is the "
            "last rung, the summands its steps. m is chosen from n unless max_block_size is given: 14 at "
            "51 symbols, 17 at 1,000, 26 at a million.",
            "A periodic sequence climbs in steps at multiples of its period and then stays flat; a "
            "quasi-periodic one such as the Fibonacci word climbs at every scale; fair coin flips stay "
            "near 0, having nothing to learn.",
        ),
        estimates="An index of structure, or stored information: how much the past tells about the "
        "future beyond what the entropy rate says. Low for both fully random and trivially periodic "
        "sequences of short period.",
        limits="Not the excess entropy itself: the value grows with m, and m with n, so it compares only "
        "between sequences of the same length (and block size). A block length beyond half the length "
        "gives surrogates equal to the input, which pulls the value down. multi_information is the raw "
        "first rung, before projection, and may be negative.",
        functions=("parsimetrics.emc", "parsimetrics.lz76", "parsimetrics_tools.many", "parsimetrics_tools.profile"),
        references=(GRASSBERGER, CRUTCHFIELD_FELDMAN),
    ),
    Topic(
        key="nid",
        title="Normalized information distance",
        summary="how much of one sequence is new given the other, with LZ76 counts for complexity",
        body=(
            "The normalized information distance (Li et al. 2004) compares two sequences through the "
            "complexity of their concatenations. With the LZ76 factor count C in place of the "
            "uncomputable Kolmogorov complexity, and xy the sequence x followed by y:",
            Formula(r"\mathrm{NID}(x, y) = \frac{\max\left(C(xy) - C(x),\; C(yx) - C(y)\right)}"
                    r"{\max\left(C(x), C(y)\right)}",
                    "NID(x, y) = max(C(xy) - C(x), C(yx) - C(y)) / max(C(x), C(y))"),
            "A sequence that adds no new factor after the other is at distance 0; unrelated sequences "
            "are near 1. The value is neither clamped nor rounded: a sequence joined to itself often "
            "needs one more factor, so its distance to itself is small but rarely exactly 0. A matrix of "
            "distances feeds hierarchical clustering directly (Cilibrasi and Vitanyi 2005).",
        ),
        estimates="How much information one sequence holds that the other does not, relative to the "
        "larger of the two: a similarity that needs no alignment and no features.",
        limits="Not a metric in the strict sense (the diagonal is not exactly 0 and the triangle "
        "inequality holds only approximately), and LZ76 sees only repeats, not similarity of other kinds "
        "(reversals, complements, substituted letters).",
        functions=("parsimetrics.nid", "parsimetrics_tools.nid_matrix"),
        references=(LI_VITANYI, CILIBRASI_VITANYI),
    ),
    Topic(
        key="symbolization",
        title="Symbolization: from numbers to symbols",
        summary="how a numeric series becomes symbols, and how much the choice matters",
        body=(
            "Every measure here reads symbols; a numeric series must first be partitioned. symbolize and "
            "the command line's --symbolize offer: median, mean or zero (1 above that value, 0 at or "
            "below it); threshold:X,Y,... (the number of cut points at or below the value); quantiles:K "
            "(K equally filled classes); values (one symbol per distinct value); hilbert (1 where the "
            "amplitude envelope lies above its mean); and ordinal:D:TAU (each window of D values TAU "
            "apart becomes the index of its rank pattern, ties ranked by position, as in permutation "
            "entropy).",
            "For a dynamical system, a generating partition makes the symbolic dynamics carry all of "
            "the orbit's information, and the entropy density then estimates the Kolmogorov-Sinai "
            "entropy. The logistic map's critical point x = 1/2 is such a partition; for measured data "
            "there is rarely one, and a median split is the usual default.",
            "Symbols are one byte each, codes 0 to k - 1. The toolkit's functions read an array of "
            "integers or bools one symbol per element, as symbolize gives them; the module's own "
            "functions read a list of integers as their decimal digits joined ([1, 23] and [12, 3] are "
            "the same text), so codes go to the module as bytes.",
        ),
        estimates="A coarse-grained description of the series, fixed by the partition.",
        limits="Not neutral: a misplaced partition can lose or invent structure, so every measure here "
        "is a measure of the symbols, and comparisons need the same symbolization.",
        functions=("parsimetrics_tools.symbolize", "parsimetrics_tools.parse_symbolizer"),
        references=(DAW, BANDT_POMPE),
    ),
    Topic(
        key="multiscale",
        title="Multiscale and permutation LZ complexity",
        summary="the count at coarser time scales, and of ordinal patterns",
        body=(
            "Multiscale analysis (Costa et al. 2002) coarse-grains a series before measuring it: at scale "
            "s, the means of consecutive non-overlapping blocks of s values,",
            Formula(r"y^{(s)}_j = \frac{1}{s} \sum_{i = (j - 1) s + 1}^{j s} x_i",
                    "y_j(s) = (x_((j-1)s+1) + ... + x_(js)) / s"),
            "are symbolized (by default at their median) and measured (Ibanez-Molina et al. 2015 apply it "
            "to the LZ count). White noise keeps its value at every scale, up to the bias of the shorter "
            "series (its block means are white noise too, and each scale is split at its own median); "
            "short-range correlated signals gain "
            "complexity once s passes their correlation time, and oscillations lose it as s nears their "
            "period.",
            "Permutation LZ complexity (Bai et al. 2015) symbolizes by ordinal patterns instead (Bandt and "
            "Pompe 2002): each window of D values TAU apart becomes one of D! rank patterns (ties ranked "
            "by position), and the Kaspar-Schuster count c of the n' patterns is normalized as "
            "c log_k(n') / n' with k = D!, the patterns there can be, or with the number of patterns the "
            "series shows. It is insensitive to monotone transformations of the signal and needs no "
            "threshold. multiscale with method ordinal:D gives multiscale permutation LZC.",
        ),
        estimates="How the complexity of a signal is spread over time scales; with ordinal patterns, the "
        "complexity of its up-and-down shape.",
        limits="Coarse-graining shortens the series by s, and the count's finite-size bias grows as the "
        "series shortens: compare scales with care, and never scales of different series lengths. "
        "Ordinal patterns lose the amplitude entirely.",
        functions=("parsimetrics_tools.multiscale", "parsimetrics_tools.permutation_lzc",
                   "parsimetrics_tools.symbolize"),
        references=(COSTA, IBANEZ_MOLINA, BANDT_POMPE, BAI),
    ),
    Topic(
        key="multichannel",
        title="Multichannel LZ complexity and the perturbational complexity index",
        summary="the count of a channels x time matrix, and PCI",
        body=(
            "Schartner et al. (2015, 2017) measure the diversity of many channels at once: each channel is "
            "binarized at the mean of its amplitude envelope (the magnitude of its analytic signal, the "
            "hilbert symbolizer), the channels x time matrix is read time by time (all channels at t = 1, "
            "then at t = 2, ...) and its Kaspar-Schuster count is divided by that of a shuffled copy of "
            "the same symbols (LZc). LZs averages the single-channel counts, each divided by that of its "
            "own shuffle. The shuffles are seeded from the data's content unless a seed is given, so "
            "results reproduce.",
            "The perturbational complexity index (Casali et al. 2013) measures the response of the cortex "
            "to a magnetic pulse. A sources x time matrix of significant activations (1 where a source's "
            "response exceeds a bootstrap threshold from the pre-stimulus baseline) is counted as one "
            "sequence of L = sources x times entries, its sources ordered by their total activity (most "
            "active first, so that the numbering of the sources does not matter), and normalized by the "
            "count expected of a random matrix with the same fraction p of ones:",
            Formula(r"\mathrm{PCI} = \frac{c_L \log_2 L}{L \, H(p)}, \qquad "
                    r"H(p) = -p \log_2 p - (1 - p) \log_2 (1 - p)",
                    "PCI = c_L * log2(L) / (L * H(p)),  H(p) = -p log2(p) - (1 - p) log2(1 - p)"),
            "significance_matrix finds the significant entries by a bootstrap against the pre-stimulus "
            "baseline. The stimulation, the recording and its cleaning, and the source modelling come "
            "before and stay with the user.",
        ),
        estimates="How differentiated the joint activity of many channels is (LZc), or how complex the "
        "spread of an evoked response is (PCI).",
        limits="Both depend on the binarization, the channel count and the window length; PCI is "
        "comparable only between matrices made by the same pipeline.",
        functions=("parsimetrics_tools.lzc_multichannel", "parsimetrics_tools.pci",
                   "parsimetrics_tools.significance_matrix", "parsimetrics_tools.symbolize"),
        references=(SCHARTNER_2015, SCHARTNER_2017, CASALI),
    ),
)

TOPIC_KEYS = tuple(topic.key for topic in TOPICS)


def _wrap(text: str, indent: int = 2) -> str:
    return textwrap.fill(text, WIDTH, initial_indent=" " * indent, subsequent_indent=" " * indent)


def _field_lines(field: Field) -> str:
    head = "  " + field.name.ljust(NAME_WIDTH)
    if len(field.name) >= NAME_WIDTH:
        head += "  "
    wrapped = textwrap.fill(field.text, WIDTH, initial_indent=head, subsequent_indent=" " * (NAME_WIDTH + 2))
    return wrapped


def fields_text() -> str:
    """The field definitions as ``parsimetrics explain`` prints them."""
    parts = []
    for section in FIELDS:
        if section.level == 1 and parts:
            parts.append("")
        parts.append(section.title if section.level == 1 else f"\n{section.title}")
        parts.extend(_field_lines(field) for field in section.fields)
    return "\n".join(parts) + "\n"


def _literature() -> list[str]:
    seen: dict[str, None] = {}
    for topic in TOPICS:
        seen.update(dict.fromkeys(topic.references))
    return list(seen)


def explanation() -> str:
    """What ``parsimetrics explain`` prints: the fields, the topics and the literature."""
    topics = "\n".join(f"  {topic.key.ljust(NAME_WIDTH)}{topic.summary}" for topic in TOPICS)
    literature = "\n".join(_reference_lines(reference) for reference in _literature())
    return (
        f"{fields_text()}\nConcepts ('parsimetrics explain TOPIC' for the definitions and formulas)\n"
        f"{topics}\n\nLiterature\n{literature}\n"
    )


def _reference_lines(reference: str) -> str:
    return textwrap.fill(reference, WIDTH, initial_indent="  ", subsequent_indent="    ")


def topic_text(key: str) -> str:
    """One topic as ``parsimetrics explain TOPIC`` prints it."""
    topic = next(t for t in TOPICS if t.key == key)
    parts = [topic.title, "=" * len(topic.title), ""]
    for item in topic.body:
        parts.append("      " + item.text if isinstance(item, Formula) else _wrap(item, 0))
        parts.append("")
    parts += ["What it estimates", _wrap(topic.estimates), "", "What it does not", _wrap(topic.limits), ""]
    parts += ["Computed by", "  " + ", ".join(topic.functions), "", "Literature"]
    parts += [_reference_lines(reference) for reference in topic.references]
    return "\n".join(parts) + "\n"


EXPLANATION = explanation()
