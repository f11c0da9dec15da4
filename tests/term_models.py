"""Plain-Python models of the term tokenizer, BM25 and TF-IDF cosine similarity.

Written straight from the definitions for clarity. Floating-point operations
run in the same order as in the native code (every sum over terms runs in the
order of the terms' first appearance), so results agree to the last bit.
"""

import math
from collections import Counter

# Unicode White_Space: exactly 25 code points.
WHITESPACE = frozenset(
    [chr(c) for c in range(0x09, 0x0E)]
    + [" ", "\x85", "\xa0", "\u1680"]
    + [chr(c) for c in range(0x2000, 0x200B)]
    + ["\u2028", "\u2029", "\u202f", "\u205f", "\u3000"]
)
# The 32 printable ASCII characters that are neither letters, digits nor space.
ASCII_PUNCTUATION = frozenset(chr(c) for c in range(0x21, 0x7F) if not chr(c).isalnum())
SEPARATORS = WHITESPACE | ASCII_PUNCTUATION


def tokenize_terms(text):
    """Pieces between separators, each lowercased on its own (str.lower applies
    the full mapping with the Final_Sigma context, here limited to the piece)."""
    terms, piece = [], []
    for ch in text:
        if ch in SEPARATORS:
            if piece:
                terms.append("".join(piece).lower())
                piece = []
        else:
            piece.append(ch)
    if piece:
        terms.append("".join(piece).lower())
    return terms


K1 = 1.2
B = 0.75


def bm25_raw_score(query, docs, tfs, df, avgdl, i):
    if not query or not df:
        return 0.0
    k = ((float(len(docs[i])) * B) / avgdl + (1.0 - B)) * K1
    s = 0.0
    for q in query:
        n = df.get(q, 0)
        if n == 0:
            continue
        idf = math.log(((2 - n) + 0.5) / (n + 0.5) + 1.0)
        tf = float(tfs[i].get(q, 0))
        s = s + idf * ((tf * (K1 + 1.0)) / (tf + k))
    return s


def bm25_similarity(a, b):
    query = tokenize_terms(a)
    docs = [list(query), tokenize_terms(b)]
    tfs = [Counter(doc) for doc in docs]
    df = Counter()
    for tf in tfs:
        df.update(tf.keys())
    avgdl = float(len(docs[0]) + len(docs[1])) * 0.5
    s_ab = bm25_raw_score(query, docs, tfs, df, avgdl, 1)
    s_aa = bm25_raw_score(query, docs, tfs, df, avgdl, 0)
    m = max(s_ab, max(s_aa, 0.0))
    return s_ab / m if m > 0 else 0.0


def tfidf_vector(terms, df):
    # Counter keeps the order of first appearance.
    vector, squares = {}, 0.0
    for term, count in Counter(terms).items():
        idf = math.log(3.0 / (df[term] + 1.0)) + 1.0
        weight = (float(count) / len(terms)) * idf
        vector[term] = weight
        squares += weight * weight
    return vector, math.sqrt(squares)


def tfidf_similarity(a, b):
    terms_a, terms_b = tokenize_terms(a), tokenize_terms(b)
    df = Counter(set(terms_a))
    df.update(set(terms_b))
    vector_a, norm_a = tfidf_vector(terms_a, df)
    vector_b, norm_b = tfidf_vector(terms_b, df)
    if norm_a == 0.0 or norm_b == 0.0:
        return 1.0 if not vector_a and not vector_b else 0.0
    dot = 0.0
    for term, weight in vector_a.items():
        if term in vector_b:
            dot += weight * vector_b[term]
    return dot / (norm_a * norm_b)
