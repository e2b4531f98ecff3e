"""Copies what a writer puts into a named pipe to a file, taking it no faster
than real time, so that the writer (an audio device) runs at its own rate.

    pace.py PIPE OUT BYTES_PER_SECOND

Every writer that opens the pipe in turn is read to its end."""
import os
import sys
import time

pipe, out_path, rate = sys.argv[1], sys.argv[2], int(sys.argv[3])
with open(out_path, "wb", buffering=0) as out:
    start = None
    total = 0
    while True:
        fd = os.open(pipe, os.O_RDONLY)
        while chunk := os.read(fd, 4096):
            start = start if start is not None else time.monotonic()
            out.write(chunk)
            total += len(chunk)
            ahead = total / rate - (time.monotonic() - start)
            if ahead > 0.02:
                time.sleep(ahead - 0.02)
        os.close(fd)
