"""The Pillow peer in parallel: peer.py's conversion spread over a multiprocessing pool of one
worker per CPU this process may run on, the way a Python user would parallelise the loop.

Run in a working directory with mat/ (and pal/), like peer.py.
"""
import os
import sys
from multiprocessing import Pool

from peer import converted, mat_files


def main():
    with Pool(len(os.sched_getaffinity(0))) as pool:
        results = pool.map(converted, mat_files())
    sys.exit(0 if all(results) else 1)


if __name__ == "__main__":
    main()
