"""Plain-Python reference models of the character and set measures.

Each model is written for clarity, straight from the definition, so that the
native results can be checked against it on arbitrary text. Floating-point
operations happen in the same order as in the native code, so results agree
to the last bit.
"""

MASK64 = (1 << 64) - 1

# Unicode White_Space: the 25 code points that separate words.
WHITESPACE = frozenset(
    [chr(c) for c in range(0x09, 0x0E)]
    + [" ", "\x85", "\xa0", "\u1680"]
    + [chr(c) for c in range(0x2000, 0x200B)]
    + ["\u2028", "\u2029", "\u202f", "\u205f", "\u3000"]
)


def hamming_distance(a, b):
    if len(a) != len(b):
        raise ValueError("Strings must have equal length")
    return sum(x != y for x, y in zip(a, b))


def hamming_similarity(a, b):
    d = hamming_distance(a, b)
    return 1.0 if not a else 1.0 - d / len(a)


def jaro(a, b):
    if not a or not b:
        return 0.0
    window = max(max(len(a), len(b)) // 2 - 1, 0)
    flags_a = [False] * len(a)
    flags_b = [False] * len(b)
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
    t = sum(x != y for x, y in zip(matched_a, matched_b))
    h = t // 2
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
        raise RuntimeError("window size must be non-zero")
    return [text[i : i + n] for i in range(len(text) - n + 1)]


def shingle_set(text, n):
    return set(shingle_list(text, n))


def words(text):
    out, word = set(), []
    for ch in text:
        if ch in WHITESPACE:
            if word:
                out.add("".join(word))
            word = []
        else:
            word.append(ch)
    if word:
        out.add("".join(word))
    return out


def jaccard_index(a, b):
    return len(a & b) / len(a | b)


def jaccard(a, b, n):
    if a == b:
        return 1.0
    return jaccard_index(shingle_set(a, n), shingle_set(b, n))


def jaccard_words(a, b):
    wa, wb = words(a), words(b)
    if not wa and not wb:
        return 1.0
    return jaccard_index(wa, wb)


def fnv1a64(text):
    h = 0xCBF29CE484222325
    for byte in text.encode("utf-8"):
        h = ((h ^ byte) * 0x100000001B3) & MASK64
    return h


PRIME61 = (1 << 61) - 1


def minhash_params(count):
    """The (A_i, B_i) pairs of the MinHash family."""
    seed, pairs = 0x9E3779B97F4A8E49, []
    for _ in range(count):
        pairs.append((((seed + 0x9999) & MASK64) | 1, seed))
        seed = (seed + 0x9E3779B97F4A7C15) & MASK64
    return pairs


def minhash_signature(text, k, m):
    hashes = [fnv1a64(s) for s in shingle_set(text, k)]
    return [min(((a * h + b) & MASK64) % PRIME61 for h in hashes) for a, b in minhash_params(m)]


def minhash_similarity(a, b, k, m):
    sa, sb = minhash_signature(a, k, m), minhash_signature(b, k, m)
    same = sum(x == y for x, y in zip(sa, sb))
    return float("nan") if m == 0 else same / m


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
