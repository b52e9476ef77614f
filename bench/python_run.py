"""The tool's run made of the Python module's tarvel.run: the same standard
output for a file it combines, and the tool's exit status (the exception's
code) for one it does not. For the differential against the tool, a file at
a time (an interpreter and numpy started for each):

    PYTHONPATH=build/src/python build/bench/differential --count 2000 \
        --errors-by-status --a build/tarvel --b "/usr/bin/python3 bench/python_run.py"

or, for many files, one interpreter that serves every run in turn, reached
through bench/socket_run:

    PYTHONPATH=build/src/python /usr/bin/python3 bench/python_run.py --serve /tmp/tarvel.sock &
    build/bench/differential --count 100000 --errors-by-status --a build/tarvel \
        --b "build/bench/socket_run /tmp/tarvel.sock"

    python_run.py FILE
    python_run.py --serve SOCKET
"""

import os
import socket
import sys

import tarvel


def run(path):
    """The status the tool would end with, and its standard output."""
    try:
        result = tarvel.run(path)
    except (OSError, ValueError, MemoryError, KeyboardInterrupt) as error:
        return error.code, b""
    return 0, result.stdout.encode("utf-8", "surrogateescape")


def serve(socket_path):
    # One run at a time: each runs in its request's folder, and the working
    # folder belongs to the whole process.
    if os.path.exists(socket_path):
        os.unlink(socket_path)
    with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as server:
        server.bind(socket_path)
        server.listen(16)
        while True:
            connection, _ = server.accept()
            with connection:
                request = b""
                while not request.endswith(b"\n"):
                    chunk = connection.recv(65536)
                    if not chunk:
                        break
                    request += chunk
                folder, _, path = request.rstrip(b"\n").partition(b"\0")
                os.chdir(folder)
                status, output = run(os.fsdecode(path))
                connection.sendall(bytes([status]) + output)


def main():
    if len(sys.argv) == 3 and sys.argv[1] == "--serve":
        serve(sys.argv[2])
        return 0
    if len(sys.argv) != 2:
        print("usage: python_run.py FILE | --serve SOCKET", file=sys.stderr)
        return 1
    status, output = run(sys.argv[1])
    sys.stdout.buffer.write(output)
    return status


if __name__ == "__main__":
    sys.exit(main())
