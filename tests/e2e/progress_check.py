#!/usr/bin/python3
"""The progress line, seen through a pseudo-terminal.

    progress_check.py QUORVEL_BINARY REPOSITORY

Runs the engine example three ways: with no terminal (standard error stays empty), with
standard error alone on a terminal (the line is drawn there and erased at the end, standard
output is the same bytes as without it), and with both streams on one terminal (taking the
line's draws and erasures out of what the terminal received leaves exactly the log).
"""

import fcntl
import os
import pty
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import termios

RUN_TIME = re.compile(rb"Program used -?[0-9]+ seconds")
# A draw is "\r", the text and "erase to the end of the line"; an erasure has no text.
LINE = re.compile(rb"\r[^\r\n\x1b]*\x1b\[K")
DRAW = re.compile(rb"\rtransfer\.out \(1/1\): [0-9]{1,3}% of 3\.2 MB, blocks read [0-9]+, "
                  rb"mapped [0-9]+, [0-9]+:[0-9]{2} elapsed(, [0-9]+:[0-9]{2} left)?\x1b\[K")

failures = []


def check(condition, message):
    if not condition:
        failures.append(message)


def screen(received):
    """What a terminal shows after these bytes: its lines, the scrolled-off ones included.
    Enough of a terminal for the line's carriage returns and erasures."""
    lines, current, column = [], bytearray(), 0
    i = 0
    while i < len(received):
        byte = received[i:i + 1]
        if received.startswith(b"\x1b[K", i):
            del current[column:]
            i += 3
            continue
        if byte == b"\r":
            column = 0
        elif byte == b"\n":
            lines.append(bytes(current))
            current = bytearray()
        else:
            if column < len(current):
                current[column] = byte[0]
            else:
                current.extend(b" " * (column - len(current)) + byte)
            column += 1
        i += 1
    return b"\n".join(lines) + (b"\n" + bytes(current) if current else b"\n")


def same_log(expected, actual):
    return RUN_TIME.sub(b"T", expected) == RUN_TIME.sub(b"T", actual)


def run(binary, work, stdout_on_terminal, stderr_on_terminal):
    """(standard output, standard error, what the terminal received, status)."""
    master, slave = pty.openpty()
    # A wide terminal, so the whole line fits and can be matched.
    fcntl.ioctl(slave, termios.TIOCSWINSZ, struct.pack("HHHH", 24, 200, 0, 0))
    out_path, err_path = os.path.join(work, "stdout"), os.path.join(work, "stderr")
    with open(out_path, "wb") as out, open(err_path, "wb") as err:
        process = subprocess.Popen(
            [binary, "surface.dat", "transfer.out"], cwd=work, stdin=subprocess.DEVNULL,
            stdout=slave if stdout_on_terminal else out,
            stderr=slave if stderr_on_terminal else err)
    os.close(slave)
    received = b""
    while True:
        try:
            chunk = os.read(master, 1 << 16)
        except OSError:  # the other end closed: the process has ended
            break
        if not chunk:
            break
        received += chunk
    status = process.wait(timeout=300)
    os.close(master)
    with open(out_path, "rb") as f:
        stdout = f.read()
    with open(err_path, "rb") as f:
        stderr = f.read()
    for name in ("stdout", "stderr"):
        os.remove(os.path.join(work, name))
    return stdout, stderr, received, status


def main():
    binary, repository = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    root = tempfile.mkdtemp(prefix="quorvel-progress-")
    try:
        work = os.path.join(root, "work")
        shutil.copytree(os.path.join(repository, "examples", "engine"), work)

        log, stderr, received, status = run(binary, work, False, False)
        check(status == 0, "plain run: exit status %d" % status)
        check(stderr == b"", "plain run: standard error is not empty: %r" % stderr[:200])
        check(b"All triangles were assigned" in log, "plain run: no end-of-run summary")

        stdout, stderr, received, status = run(binary, work, False, True)
        check(status == 0, "standard error on a terminal: exit status %d" % status)
        check(same_log(log, stdout),
              "standard error on a terminal: standard output differs from the plain run")
        check(DRAW.search(received) is not None,
              "standard error on a terminal: no progress line drawn: %r" % received[:300])
        check(received.endswith(b"\r\x1b[K"),
              "standard error on a terminal: the line is not erased at the end: %r"
              % received[-100:])
        check(screen(received) == b"\n", "standard error on a terminal: the line stays on the "
              "screen: %r" % screen(received)[-200:])
        check(LINE.sub(b"", received) == b"",
              "standard error on a terminal: more than the line reached it: %r"
              % LINE.sub(b"", received)[:300])

        _, _, received, status = run(binary, work, True, True)
        check(status == 0, "one terminal for both: exit status %d" % status)
        check(DRAW.search(received) is not None, "one terminal for both: no progress line drawn")
        shown = screen(received)
        check(same_log(log, shown),
              "one terminal for both: the log is garbled by the line; first difference near "
              "byte %d" % next((i for i, (a, b) in enumerate(zip(log, shown)) if a != b),
                               min(len(log), len(shown))))
    finally:
        shutil.rmtree(root, ignore_errors=True)

    for failure in failures:
        print("FAILED: " + failure)
    print("progress line: %s" % ("failed" if failures else "passed"))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
