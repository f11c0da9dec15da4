#!/usr/bin/env python3
"""Checks that a built kivo binary (unstripped: a build tree's module or the C++ test
program) keeps every instruction past baseline x86-64 inside the functions of the AVX2 and
AVX-512 regions, whose names carry their instruction set. Anything else, the weak copies
of inline and template functions above all, must run on any x86-64 processor.

    scripts/check-isa-regions.py FILE...

Prints the offending functions and exits 1 when there are any; prints how many functions
of each region use wide instructions otherwise.
"""

import re
import subprocess
import sys

FUNCTION = re.compile(r"^[0-9a-f]+ <(.+)>:$")
WIDE_REGISTER = re.compile(r"\b(?:[yz]mm\d+|k[0-7])\b")
# BMI1/2, LZCNT and POPCNT, which the regions enable. (tzcnt is left out: as
# `rep bsf` it is what compilers emit for baseline code too.)
BIT_OPS = {"andn", "bextr", "blsi", "blsmsk", "blsr", "bzhi", "mulx", "pdep", "pext", "rorx",
           "sarx", "shlx", "shrx", "lzcnt", "popcnt"}
REGION = re.compile(r"::(avx2|avx512)::|\b(Avx2|Avx512)Lanes<")


def needs_more_than_baseline(instruction: str) -> bool:
    mnemonic = instruction.split(None, 1)[0] if instruction else ""
    return (mnemonic.startswith(("v", "k")) or mnemonic in BIT_OPS
            or bool(WIDE_REGISTER.search(instruction)))


def scan(path: str) -> tuple[dict[str, int], dict[str, int]]:
    listing = subprocess.run(["objdump", "-d", "-C", "--no-show-raw-insn", path],
                             capture_output=True, text=True, check=True).stdout
    allowed: dict[str, int] = {}
    offending: dict[str, int] = {}
    function = None
    for line in listing.splitlines():
        if match := FUNCTION.match(line):
            function = match.group(1)
            continue
        fields = line.split("\t")
        if function is None or len(fields) < 2 or not needs_more_than_baseline(fields[1].strip()):
            continue
        found = allowed if REGION.search(function) else offending
        found[function] = found.get(function, 0) + 1
    return allowed, offending


def main() -> int:
    failed = False
    for path in sys.argv[1:]:
        if "no symbols" in subprocess.run(["nm", path], capture_output=True, text=True).stderr:
            print(f"{path}: stripped, nothing to check", file=sys.stderr)
            failed = True
            continue
        allowed, offending = scan(path)
        regions: dict[str, int] = {}
        for function in allowed:
            match = REGION.search(function)
            name = (match.group(1) or match.group(2)).lower()
            regions[name] = regions.get(name, 0) + 1
        summary = ", ".join(f"{n} functions of the {r} region" for r, n in sorted(regions.items()))
        print(f"{path}: {summary or 'no function of a region'}")
        for function, count in sorted(offending.items()):
            print(f"  outside a region: {count} wide instructions in {function}")
        failed |= bool(offending)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
