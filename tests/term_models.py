"""The term models, kept importable under their former module name."""

from models import bm25_similarity, tfidf_similarity, tokenize_terms  # noqa: F401
