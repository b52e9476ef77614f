"""The tool's run made of the Python module's tarvel.run: the same standard
output for a file it combines, and the tool's exit status (the exception's
code) for one it does not. For the differential against the tool:

    PYTHONPATH=build-py/src/python build-py/bench/differential --count 2000 \
        --errors-by-status --a build-py/tarvel --b "/usr/bin/python3 bench/python_run.py"

    python_run.py FILE
"""

import sys

import tarvel


def main():
    if len(sys.argv) != 2:
        print("usage: python_run.py FILE", file=sys.stderr)
        return 1
    try:
        run = tarvel.run(sys.argv[1])
    except (OSError, ValueError, MemoryError, KeyboardInterrupt) as error:
        return error.code
    sys.stdout.buffer.write(run.stdout.encode("utf-8", "surrogateescape"))
    return 0


if __name__ == "__main__":
    sys.exit(main())
