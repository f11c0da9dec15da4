"""Plain-Python models of every measure, of the cleaning pipeline and of the
router's "auto" choice, written straight from their definitions.

Floating-point operations run in the same order as the native code (sums over
terms follow the terms' first appearance), so results agree to the last bit.
Shared by the tests and the fuzz harness.
"""

import math
import unicodedata
from collections import Counter

MASK64 = (1 << 64) - 1
PRIME61 = (1 << 61) - 1
WINDOW_ERROR = "window size must be non-zero"  # raised natively as kivo.PanicException
LENGTH_ERROR = "Strings must have equal length"

# Unicode White_Space: the 25 code points that separate words.
WHITESPACE = frozenset(
    [chr(c) for c in range(0x09, 0x0E)]
    + [" ", "\x85", "\xa0", "\u1680"]
    + [chr(c) for c in range(0x2000, 0x200B)]
    + ["\u2028", "\u2029", "\u202f", "\u205f", "\u3000"]
)
WS_CHARS = "".join(sorted(WHITESPACE))
# The 32 printable ASCII characters that are neither letters, digits nor space.
ASCII_PUNCTUATION = frozenset(chr(c) for c in range(0x21, 0x7F) if not chr(c).isalnum())
SEPARATORS = WHITESPACE | ASCII_PUNCTUATION


def levenshtein_distance(a, b):
    previous = list(range(len(b) + 1))
    for i, ca in enumerate(a, 1):
        current = [i]
        for j, cb in enumerate(b, 1):
            current.append(min(previous[j] + 1, current[j - 1] + 1, previous[j - 1] + (ca != cb)))
        previous = current
    return previous[-1]


def levenshtein_similarity(a, b):
    longest = max(len(a), len(b))
    return 1.0 if longest == 0 else 1.0 - levenshtein_distance(a, b) / longest


def hamming_distance(a, b):
    if len(a) != len(b):
        raise ValueError(LENGTH_ERROR)
    return sum(x != y for x, y in zip(a, b))


def hamming_similarity(a, b):
    d = hamming_distance(a, b)
    return 1.0 if not a else 1.0 - d / len(a)


def jaro(a, b):
    if not a or not b:
        return 0.0
    window = max(max(len(a), len(b)) // 2 - 1, 0)
    flags_a, flags_b = [False] * len(a), [False] * len(b)
    m = 0
    for i, ch in enumerate(a):
        for j in range(max(0, i - window), min(len(b), i + window + 1)):
            if not flags_b[j] and b[j] == ch:
                flags_a[i] = flags_b[j] = True
                m += 1
                break
    if m == 0:
        return 0.0
    matched_a = [c for c, f in zip(a, flags_a) if f]
    matched_b = [c for c, f in zip(b, flags_b) if f]
    h = sum(x != y for x, y in zip(matched_a, matched_b)) // 2
    return ((m / len(a) + m / len(b)) + (m - h) / m) / 3.0


def jaro_winkler(a, b):
    if a == b:
        return 1.0
    j = jaro(a, b)
    p = 0
    while p < min(len(a), len(b), 4) and a[p] == b[p]:
        p += 1
    return (1.0 - j) * (p * 0.1) + j


def shingle_list(text, n):
    if len(text) < n:
        return [text]
    if n == 0:
        raise RuntimeError(WINDOW_ERROR)
    return [text[i : i + n] for i in range(len(text) - n + 1)]


def words(text):
    return set("".join(" " if c in WHITESPACE else c for c in text).split(" ")) - {""}


def jaccard_index(a, b):
    return len(a & b) / len(a | b)


def jaccard(a, b, n):
    return 1.0 if a == b else jaccard_index(set(shingle_list(a, n)), set(shingle_list(b, n)))


def jaccard_words(a, b):
    wa, wb = words(a), words(b)
    return 1.0 if not wa and not wb else jaccard_index(wa, wb)


def fnv1a64(text):
    h = 0xCBF29CE484222325
    for byte in text.encode("utf-8"):
        h = ((h ^ byte) * 0x100000001B3) & MASK64
    return h


def minhash_signature(text, k, m):
    hashes = [fnv1a64(s) for s in set(shingle_list(text, k))]
    seeds = [(0x9E3779B97F4A8E49 + i * 0x9E3779B97F4A7C15) & MASK64 for i in range(m)]
    # Hash function i: (A_i * h + B_i) mod 2^64 mod P, with B_i the seed and A_i odd.
    return [min(((((s + 0x9999) & MASK64 | 1) * h + s) & MASK64) % PRIME61 for h in hashes)
            for s in seeds]


def minhash_similarity(a, b, k, m):
    same = sum(x == y for x, y in zip(minhash_signature(a, k, m), minhash_signature(b, k, m)))
    return math.nan if m == 0 else same / m


def simhash_fingerprint(text, k):
    votes = [0] * 64
    for shingle in shingle_list(text, k):
        h = fnv1a64(shingle)
        for bit in range(64):
            votes[bit] += 1 if h >> bit & 1 else -1
    return sum(1 << bit for bit in range(64) if votes[bit] > 0)


def simhash_similarity(a, b, k):
    d = bin(simhash_fingerprint(a, k) ^ simhash_fingerprint(b, k)).count("1")
    return d * -0.015625 + 1.0


def tokenize_terms(text):
    """Pieces between separators, each lowercased on its own (str.lower applies
    the full mapping with the Final_Sigma context, here limited to the piece)."""
    pieces = "".join(" " if c in SEPARATORS else c for c in text).split(" ")
    return [p.lower() for p in pieces if p]


def bm25_similarity(a, b):
    """Okapi BM25 (k1 1.2, b 0.75) of b for the query a over the corpus {a, b},
    relative to the score of a itself."""
    docs = [tokenize_terms(a), tokenize_terms(b)]
    tfs = [Counter(doc) for doc in docs]
    df = Counter(tfs[0].keys()) + Counter(tfs[1].keys())
    avgdl = float(len(docs[0]) + len(docs[1])) * 0.5

    def score(i):
        s = 0.0
        for q in docs[0]:
            k = ((float(len(docs[i])) * 0.75) / avgdl + (1.0 - 0.75)) * 1.2
            idf = math.log(((2 - df[q]) + 0.5) / (df[q] + 0.5) + 1.0)
            s = s + idf * ((tfs[i][q] * (1.2 + 1.0)) / (tfs[i][q] + k))
        return s

    s_ab = score(1)
    m = max(s_ab, max(score(0), 0.0))
    return s_ab / m if m > 0 else 0.0


def tfidf_vector(terms, df):
    vector, squares = {}, 0.0  # Counter keeps the order of first appearance
    for term, count in Counter(terms).items():
        weight = (float(count) / len(terms)) * (math.log(3.0 / (df[term] + 1.0)) + 1.0)
        vector[term] = weight
        squares += weight * weight
    return vector, math.sqrt(squares)


def tfidf_similarity(a, b):
    terms_a, terms_b = tokenize_terms(a), tokenize_terms(b)
    df = Counter(set(terms_a)) + Counter(set(terms_b))
    vector_a, norm_a = tfidf_vector(terms_a, df)
    vector_b, norm_b = tfidf_vector(terms_b, df)
    if norm_a == 0.0 or norm_b == 0.0:
        return 1.0 if not vector_a and not vector_b else 0.0
    dot = 0.0
    for term, weight in vector_a.items():
        if term in vector_b:
            dot += weight * vector_b[term]
    return dot / (norm_a * norm_b)


DEFAULT_STOPWORDS = frozenset("""
a an the and or but if because as until while of at by for with about between into through
during before after above below to from up down in out on off over under again further then once
here there when where why how all each every both few more most other some such no nor not only
own same so than too very just also am is are was were be been being have has had having do does
did doing would could should might must shall can will may need dare ought used this that these
those i me my myself we our ours ourselves you your yours yourself yourselves he him his himself
she her hers herself it its itself they them their theirs themselves what which who whom whose
any anyone anything anybody everyone everything everybody someone something somebody nobody
nothing none neither one two three get got getting make made making take took taking let lets
letting like liked likes really actually basically probably maybe perhaps quite rather pretty
almost nearly hardly scarcely barely already yet still
""".split())


def preprocess(text, nfc=True, lower=True, collapse=True, trim=True, stopwords=None, limit=0):
    """The cleaning pipeline; `stopwords` is the active list when removal is on.
    Lowercasing is Python's, which matches for characters whose case data
    Python's Unicode database shares with the native one."""
    text = unicodedata.normalize("NFC", text) if nfc else text
    text = text.lower() if lower else text
    if collapse:
        text = "".join(" " if c in WHITESPACE else c for c in text)
        while "  " in text:
            text = text.replace("  ", " ")
    text = text.strip(WS_CHARS) if trim else text
    if stopwords is not None:
        spaced = "".join(" " if c in WHITESPACE else c for c in text)
        text = " ".join(t for t in spaced.split(" ") if t and t not in stopwords)
    # A cut inside a character moves back to the character's start.
    return text.encode()[:limit].decode("utf-8", "ignore") if limit else text


def auto_choice(a, b):
    """The algorithm "auto" runs on the (prepared) texts: short texts of equal
    byte length go to Hamming only when their character counts agree too."""
    la, lb = len(a.encode()), len(b.encode())
    longest = max(la, lb)
    if la == lb and longest < 21 and len(a) == len(b):
        return "hamming"
    return "jaro_winkler" if longest < 51 else "bm25" if longest < 501 else "simhash_default"


class LSHIndexModel:
    """kivo.batch.LSHIndex as a dict of band tuples -> key sets, beside each key's signature."""

    def __init__(self, bands, rows):
        self.bands, self.rows = bands, rows
        self.signatures = {}  # key -> tuple of values
        self.buckets = {}  # (band, values of the band) -> set of keys

    def band_keys(self, signature):
        r = self.rows
        return [(b, tuple(signature[b * r : (b + 1) * r])) for b in range(self.bands)]

    def add(self, signatures, keys):
        """All or nothing: the first key held or repeated is the error."""
        seen = set()
        for key in keys:
            if key in self.signatures:
                return ValueError(f"key {key} is already in the index")
            if key in seen:
                return ValueError(f"key {key} appears twice in keys")
            seen.add(key)
        for key, signature in zip(keys, signatures):
            self.signatures[key] = tuple(signature)
            for band in self.band_keys(signature):
                self.buckets.setdefault(band, set()).add(key)
        return None

    def remove(self, keys):
        seen = set()
        for key in keys:
            if key not in self.signatures:
                return KeyError(key)
            if key in seen:
                return ValueError(f"key {key} appears twice in keys")
            seen.add(key)
        for key in keys:
            for band in self.band_keys(self.signatures.pop(key)):
                self.buckets[band].discard(key)
                if not self.buckets[band]:
                    del self.buckets[band]
        return None

    def query(self, signatures, limit=None):
        """(row, key) of each key sharing a band, by row then key; with a limit the keys
        sharing the most bands (ties to the smaller key)."""
        out = []
        for row, signature in enumerate(signatures):
            shared = {}
            for band in self.band_keys(signature):
                for key in self.buckets.get(band, ()):
                    shared[key] = shared.get(key, 0) + 1
            kept = sorted(shared, key=lambda k: (-shared[k], k))[:limit]
            out += [(row, key) for key in sorted(kept)]
        return out

    def pairs(self):
        found = set()
        for members in self.buckets.values():
            found.update((a, b) for a in members for b in members if a < b)
        return sorted(found)


# --- phonetic keys -----------------------------------------------------------

LETTERS_WITHOUT_DECOMPOSITION = {"ß": "SS", "ẞ": "SS", "æ": "AE", "Æ": "AE", "œ": "OE", "Œ": "OE",
                                 "ø": "O", "Ø": "O", "ł": "L", "Ł": "L", "đ": "D", "Đ": "D",
                                 "ħ": "H", "Ħ": "H", "ı": "I"}  # fmt: skip


def latin_letters(text):
    """The upper-case ASCII letters a text reads as: a character whose canonical
    decomposition starts with an ASCII letter counts as that letter."""
    out = []
    for c in text:
        if c in LETTERS_WITHOUT_DECOMPOSITION:
            out.append(LETTERS_WITHOUT_DECOMPOSITION[c])
            continue
        base = unicodedata.normalize("NFD", c)[0] if not 0xD800 <= ord(c) < 0xE000 else c
        if base.isascii() and base.isalpha():
            out.append(base.upper())
    return "".join(out)


SOUNDEX_DIGITS = dict(zip("BFPVCGJKQSXZDTLMNR", "111122222222334556"))


def soundex(text):
    """American Soundex from its definition: keep the first letter, code the
    rest, drop codes equal to the previous code (H and W keep the previous one,
    vowels reset it), pad or cut to four."""
    letters = latin_letters(text)
    if not letters:
        return ""
    codes = [SOUNDEX_DIGITS.get(c, "" if c in "HW" else "0") for c in letters]
    key, previous = letters[0], codes[0]
    for c, code in zip(letters[1:], codes[1:]):
        if c in "HW":
            continue
        if code not in ("0", previous):
            key += code
        previous = code
    return (key + "000")[:4]


def match_rating_codex(text):
    letters = latin_letters(text)
    kept = [c for i, c in enumerate(letters)
            if not (i and letters[i - 1] == c) and not (i and c in "AEIOU")]  # fmt: skip
    codex = "".join(kept)
    return codex if len(codex) <= 6 else codex[:3] + codex[-3:]


def match_rating_comparison(a, b):
    """The match rating approach: strike characters equal at the same place,
    left to right, then right to left; 6 less what the longer codex keeps must
    reach the minimum rating for the codices' total length."""
    a, b = match_rating_codex(a), match_rating_codex(b)
    if abs(len(a) - len(b)) >= 3:
        return None
    total = len(a) + len(b)
    minimum = 5 if total <= 4 else 4 if total <= 7 else 3 if total <= 11 else 2

    def strike(x, y):
        n = max(len(x), len(y))
        pairs = [(x[i] if i < len(x) else None, y[i] if i < len(y) else None) for i in range(n)]
        kept = [(p, q) for p, q in pairs if p is None or q is None or p != q]
        return "".join(p for p, _ in kept if p), "".join(q for _, q in kept if q)

    a, b = strike(a, b)
    a, b = strike(a[::-1], b[::-1])
    return 6 - max(len(a), len(b)) >= minimum


# kivo.edit: full tables from the definitions.


def _table(a, b, step):
    """The (len(a) + 1) x (len(b) + 1) table of an edit distance whose cell
    (i, j) is step(d, i, j) over the cells computed before it."""
    d = [[0] * (len(b) + 1) for _ in range(len(a) + 1)]
    for i in range(len(a) + 1):
        for j in range(len(b) + 1):
            d[i][j] = i + j if i == 0 or j == 0 else step(d, i, j)
    return d


def osa_distance(a, b):
    def step(d, i, j):
        best = min(d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + (a[i - 1] != b[j - 1]))
        if i > 1 and j > 1 and a[i - 1] == b[j - 2] and a[i - 2] == b[j - 1]:
            best = min(best, d[i - 2][j - 2] + 1)
        return best

    return _table(a, b, step)[-1][-1]


def damerau_levenshtein_distance(a, b):
    """Lowrance and Wagner: a swap reaches back to the last a[k] equal to b[j]
    and the last b[l] equal to a[i], paying for everything between."""
    last_row = {}
    d = [[0] * (len(b) + 1) for _ in range(len(a) + 1)]
    for i in range(len(a) + 1):
        d[i][0] = i
    for j in range(len(b) + 1):
        d[0][j] = j
    for i in range(1, len(a) + 1):
        last_column = 0
        for j in range(1, len(b) + 1):
            k, l = last_row.get(b[j - 1], 0), last_column
            same = a[i - 1] == b[j - 1]
            if same:
                last_column = j
            d[i][j] = min(d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + (not same))
            if k and l:
                d[i][j] = min(d[i][j], d[k - 1][l - 1] + (i - k - 1) + 1 + (j - l - 1))
        last_row[a[i - 1]] = i
    return d[-1][-1]


def lcs_length(a, b):
    def step(d, i, j):
        if a[i - 1] == b[j - 1]:
            return d[i - 1][j - 1] + 1
        return max(d[i - 1][j], d[i][j - 1])

    d = [[0] * (len(b) + 1) for _ in range(len(a) + 1)]
    for i in range(1, len(a) + 1):
        for j in range(1, len(b) + 1):
            d[i][j] = step(d, i, j)
    return d[-1][-1]


def indel_distance(a, b):
    def step(d, i, j):
        best = min(d[i - 1][j], d[i][j - 1]) + 1
        return min(best, d[i - 1][j - 1]) if a[i - 1] == b[j - 1] else best

    return _table(a, b, step)[-1][-1]


def similarity_from(distance, maximum):
    return 1.0 if maximum == 0 else 1.0 - distance / maximum


def osa_similarity(a, b):
    return similarity_from(osa_distance(a, b), max(len(a), len(b)))


def damerau_levenshtein_similarity(a, b):
    return similarity_from(damerau_levenshtein_distance(a, b), max(len(a), len(b)))


def indel_similarity(a, b):
    return similarity_from(indel_distance(a, b), len(a) + len(b))


def lcs_similarity(a, b):
    longest = max(len(a), len(b))
    return similarity_from(longest - lcs_length(a, b), longest)


def weighted_levenshtein_distance(a, b, insert, delete, substitute):
    d = [[0] * (len(b) + 1) for _ in range(len(a) + 1)]
    for i in range(len(a) + 1):
        for j in range(len(b) + 1):
            if i == 0 or j == 0:
                d[i][j] = i * delete + j * insert
            else:
                d[i][j] = min(d[i - 1][j] + delete, d[i][j - 1] + insert,
                              d[i - 1][j - 1] + (0 if a[i - 1] == b[j - 1] else substitute))
    return d[-1][-1]


def apply_editops(a, b, ops):
    """a with the edit operations applied, in order, left to right."""
    out, i = [], 0
    for tag, a_pos, b_pos in ops:
        out.extend(a[i:a_pos])
        i = a_pos
        if tag == "insert":
            out.append(b[b_pos])
        elif tag == "replace":
            out.append(b[b_pos])
            i += 1
        else:
            i += 1
    out.extend(a[i:])
    return "".join(out)


# kivo.tokens: the ratios from their definitions, on the Indel similarity.


def ratio(a, b):
    return indel_similarity(a, b)


def split_tokens(text):
    tokens, current = [], []
    for c in text + " ":
        if c in WHITESPACE:
            if current:
                tokens.append("".join(current))
            current = []
        else:
            current.append(c)
    return tokens


def partial_ratio(a, b):
    if not a and not b:
        return 1.0
    if not a or not b:
        return 0.0

    def windows(needle, hay):
        n = len(needle)
        starts = [hay[:k] for k in range(1, n)] + [hay[s : s + n] for s in range(len(hay) - n + 1)]
        return max(ratio(needle, w) for w in starts + [hay[len(hay) - k :] for k in range(1, n)])

    if len(a) == len(b):
        return max(windows(a, b), windows(b, a))
    return windows(a, b) if len(a) < len(b) else windows(b, a)


def sorted_joined(text):
    return " ".join(sorted(split_tokens(text)))


def token_sort_ratio(a, b):
    return ratio(sorted_joined(a), sorted_joined(b))


def partial_token_sort_ratio(a, b):
    return partial_ratio(sorted_joined(a), sorted_joined(b))


def _token_sets(a, b):
    x, y = set(split_tokens(a)), set(split_tokens(b))
    return x, y, " ".join(sorted(x & y)), " ".join(sorted(x - y)), " ".join(sorted(y - x))


def token_set_ratio(a, b):
    x, y, shared, only_a, only_b = _token_sets(a, b)
    if not x or not y:
        return 0.0
    if shared and (not only_a or not only_b):
        return 1.0
    first = f"{shared} {only_a}" if shared else only_a
    second = f"{shared} {only_b}" if shared else only_b
    return max(ratio(shared, first), ratio(shared, second), ratio(first, second))


def partial_token_set_ratio(a, b):
    x, y, shared, only_a, only_b = _token_sets(a, b)
    if not x or not y:
        return 0.0
    return 1.0 if shared else partial_ratio(only_a, only_b)


def weighted_ratio(a, b):
    if not a or not b:
        return 0.0
    length_ratio = max(len(a), len(b)) / min(len(a), len(b))
    best = ratio(a, b)
    if length_ratio < 1.5:
        return max(best, max(token_sort_ratio(a, b), token_set_ratio(a, b)) * 0.95)
    scale = 0.9 if length_ratio <= 8 else 0.6
    best = max(best, partial_ratio(a, b) * scale)
    tokens = max(partial_token_sort_ratio(a, b), partial_token_set_ratio(a, b))
    return max(best, tokens * 0.95 * scale)
