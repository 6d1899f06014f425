"""Standard input that arrives in pieces: every read() of the program under
test returns at most one piece, so that magic bytes, header fields and code
groups reach it split wherever the test wants."""

import fcntl
import itertools
import os
import select
import subprocess
import sys
import termios
import threading
import time

from zptest.process import TIMEOUT, ZPRESS, reap


def _pipe_fill_level(fd):
    return int.from_bytes(fcntl.ioctl(fd, termios.FIONREAD, b"\0\0\0\0"), sys.byteorder)


def _feed_in_pieces(write_fd, data, piece_sizes):
    """Writes `data` one piece at a time, each only once the reader has taken
    everything before it.  Closes the pipe at the end."""
    reader_gone = select.poll()
    reader_gone.register(write_fd, select.POLLERR)
    try:
        at = 0
        sizes = iter(piece_sizes)
        while at < len(data):
            while _pipe_fill_level(write_fd) > 0:
                if reader_gone.poll(0):
                    return  # the reader stopped early; let it report why
                time.sleep(0.00005)
            n = next(sizes)
            os.write(write_fd, data[at:at + n])
            at += n
    except BrokenPipeError:
        pass
    finally:
        os.close(write_fd)


def run_fed_in_pieces(args, data, piece_sizes):
    """Runs zpress with `args`, its standard input a pipe fed `data` in pieces
    of the given sizes (an iterable, possibly endless), then the rest at once.
    Returns the CompletedProcess."""
    read_fd, write_fd = os.pipe()
    child = subprocess.Popen([ZPRESS, *args], stdin=read_fd, stdout=subprocess.PIPE,
                             stderr=subprocess.PIPE)
    os.close(read_fd)
    sizes = itertools.chain(piece_sizes, [len(data)])
    feeder = threading.Thread(target=_feed_in_pieces, args=(write_fd, data, sizes))
    feeder.start()
    try:
        out, err = child.communicate(timeout=TIMEOUT)
    finally:
        reap(child)  # a hung reader is killed; the feeder sees it go and stops
        feeder.join()
    return subprocess.CompletedProcess(child.args, child.returncode, out, err)
