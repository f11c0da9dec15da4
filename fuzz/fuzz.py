"""atheris entry point: every fuzz input goes through kivo_harness.check.

    python fuzz/fuzz.py [libFuzzer flags] CORPUS_DIR...   # fuzz
    python fuzz/fuzz.py --replay FILE_OR_DIR...           # re-run saved inputs

kivo itself is native code built with GCC's sanitizers, so libFuzzer gets no
coverage from inside it; the harness's own branches (which outcome each input
led to) are instrumented instead and guide the mutations.
"""

import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))


def replay(paths):
    import kivo_harness

    count = 0
    for path in paths:
        files = [path]
        if os.path.isdir(path):
            files = sorted(os.path.join(path, name) for name in os.listdir(path))
        for name in files:
            with open(name, "rb") as f:
                kivo_harness.check(f.read())
            count += 1
    print(f"replayed {count} inputs")


def main():
    if sys.argv[1:2] == ["--replay"]:
        replay(sys.argv[2:])
        return
    import atheris

    with atheris.instrument_imports():
        import kivo_harness

    # libFuzzer runs its own command line again for -merge, -fork and -jobs;
    # as a shell command, so the interpreter can lead it.
    argv = [f"{sys.executable} {os.path.abspath(__file__)}"] + sys.argv[1:]
    atheris.Setup(argv, kivo_harness.check)
    atheris.Fuzz()


if __name__ == "__main__":
    main()
