"""Deduplicate records with kivo on Dask, for data that outgrows one machine.

The same matching as examples/demo.py, split into tasks that Dask can spread
over processes or a cluster:

1. Every record is filed under each of its blocking keys, and the records are
   grouped by key (a Dask shuffle).
2. `map_partitions` scores all the pairs inside each block at once with
   `kivo.batch.pairs` and the cascade's `KivoFlow`, then scores the pairs the
   tiers leave open field by field, and keeps the matches. A pair that shares
   several keys is reported only from the block of the smallest key it
   shares, so no pair is reported twice.

kivo's objects cannot be pickled, so they cannot travel to a worker:

    >>> pickle.dumps(kivo.KivoFlow())
    TypeError: cannot pickle 'kivo.KivoFlow' object

Each task therefore builds its own `KivoFlow` (inside `Matcher`) when it
starts; that is cheap, a few objects per partition. The module functions
pickle by name (`pickle.loads(pickle.dumps(kivo.levenshtein_distance))` is
`kivo.levenshtein_distance`), so they can be handed to `bag.map` directly.

Run: python examples/dask_dedupe.py [--scheduler processes|threads|sync] [--partitions N]

`kivo.batch` releases the interpreter lock while it scores a block, but the
field-by-field scoring in Python holds it, so the "threads" scheduler
overlaps tasks only in part; "processes" or a `dask.distributed` cluster
run in parallel. On a cluster, install kivo on every worker and ship
the helpers with `client.upload_file("examples/linkage.py")`. On the
5,000 bundled records one process is faster than Dask, whose start-up and
shuffle cost more than the matching itself; the split pays off on millions.
"""

from __future__ import annotations

import argparse
import sys
import time
from collections.abc import Iterable, Sequence
from pathlib import Path

import dask
import dask.bag as db

import kivo.batch

sys.path.insert(0, str(Path(__file__).resolve().parent))
from linkage import (
    FLOW_MISMATCH,
    Matcher,
    Record,
    block_match,
    blocking_keys,
    dedupe_single_process,
    load_records,
    report,
    true_pairs,
)

# A record on its way through Dask: its position in the input (which orders
# every pair the same way as a single-process run) and the record itself.
Indexed = tuple[int, Record]


def _file_under_keys(item: Indexed) -> list[tuple[str, Indexed]]:
    return [(key, item) for key in blocking_keys(item[1])]


def _block_key(entry: tuple[str, Indexed]) -> str:
    return entry[0]


def _match_block(matcher: Matcher, key: str, members: Sequence[Indexed]) -> list[tuple[int, int]]:
    """The matching pairs (i < j) of one block whose smallest shared key is `key`."""
    # The cutoff drops the tier 1 rejects inside kivo.
    left, right, scores = kivo.batch.pairs(
        [r.text for _, r in members], scorer=matcher.flow, score_cutoff=FLOW_MISMATCH
    )
    found = []
    for x, y, score in zip(left.tolist(), right.tolist(), scores.tolist()):
        (i, a), (j, b) = members[x], members[y]
        if block_match(matcher, key, a, b, score):
            found.append((i, j))
    return found


def _match_blocks(blocks: Iterable[tuple[str, list[tuple[str, Indexed]]]]) -> list[tuple[int, int]]:
    """One task: the matching pairs (i < j) of every block in a partition."""
    matcher = Matcher()  # built here: kivo objects cannot be shipped to a worker
    found = []
    for key, entries in blocks:
        members = sorted((item for _, item in entries), key=lambda item: item[0])
        if len(members) > 1:
            found += _match_block(matcher, key, members)
    return found


def dedupe_bag(records: Sequence[Record], npartitions: int = 8) -> db.Bag:
    """A lazy Dask bag of the matching index pairs (i < j); call .compute()."""
    indexed = db.from_sequence(list(enumerate(records)), npartitions=npartitions)
    blocks = indexed.map(_file_under_keys).flatten().groupby(_block_key, shuffle="tasks")
    return blocks.map_partitions(_match_blocks)


def dedupe(
    records: Sequence[Record], npartitions: int = 8, scheduler: str = "processes"
) -> list[tuple[int, int]]:
    """Matching index pairs (i < j), sorted, computed on Dask."""
    with dask.config.set(scheduler=scheduler):
        return sorted(dedupe_bag(records, npartitions).compute())


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--scheduler", default="processes", choices=["processes", "threads", "sync"])
    parser.add_argument("--partitions", type=int, default=8)
    args = parser.parse_args()

    records = load_records()
    started = time.perf_counter()
    found = dedupe(records, args.partitions, args.scheduler)
    seconds = time.perf_counter() - started

    report(f"dask ({args.scheduler}, {args.partitions} partitions)", records, found, seconds)
    for i, j in found[:3]:
        print(f"  e.g. {records[i].rec_id} = {records[j].rec_id}: {records[i].text!r} / {records[j].text!r}")


if __name__ == "__main__":
    main()
