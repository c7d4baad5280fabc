#!/usr/bin/env python3
"""Converts a folder of bare tavrine streams into .tvr files on a Dask cluster.

Usage: tvr_convert_dask.py [--scheduler ADDRESS | --local-workers N]
                           [--batch N] [--threads N] SOURCE_DIR TARGET_DIR

The job of tvr_convert.py (decode, write, read back and check every
stream), one task per batch of --batch streams (default 1: a task per
stream). With --scheduler tcp://HOST:8786 the tasks run on that cluster;
every worker needs the tavrine package installed and must see SOURCE_DIR
and TARGET_DIR at the same paths (a shared file system). Without it a local
cluster of --local-workers worker processes (default 2) is started, on the
loopback interface only.

Every stream is accounted for: each task returns one outcome per stream of
its batch, a task that fails as a whole (a lost worker, an exception outside
the conversion) is reported for every stream of its batch, and the count of
outcomes is checked against the count of streams. Exit status 0 when every
stream converted, 1 otherwise.
"""

from __future__ import annotations

import argparse
import sys
from pathlib import Path

from distributed import Client, LocalCluster, as_completed

import tvr_convert
from tvr_convert import Outcome


def batches_of(sources: list[Path], size: int) -> list[list[str]]:
    names = [str(source) for source in sources]
    return [names[at:at + size] for at in range(0, len(names), size)]


def run(client: Client, sources: list[Path], target_dir: Path, batch: int, threads: int) -> list[Outcome]:
    # The workers import the conversion from the same file as this program.
    client.upload_file(tvr_convert.__file__)
    batches = batches_of(sources, batch)
    futures = client.map(tvr_convert.convert_batch, batches, target_dir=str(target_dir.resolve()),
                         threads=threads, pure=False)
    batch_of = {future.key: names for future, names in zip(futures, batches)}
    outcomes: list[Outcome] = []
    for future in as_completed(futures):
        names = batch_of[future.key]
        if future.status == "finished":
            results = future.result()
            if len(results) != len(names):  # never silently short
                results = [Outcome(name, error="the task returned no outcome for it") for name in names]
            outcomes += results
        else:
            try:
                error = future.exception()
            except Exception as cancelled:  # a cancelled task (a lost scheduler) has no exception to give
                error = cancelled
            outcomes += [Outcome(name, error=f"task failed: {type(error).__name__}: {error}") for name in names]
        future.release()
    return sorted(outcomes, key=lambda outcome: outcome.source)


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    where = parser.add_mutually_exclusive_group()
    where.add_argument("--scheduler", help="address of a running scheduler, e.g. tcp://10.0.0.5:8786")
    where.add_argument("--local-workers", type=int, default=2, help="worker processes of a local cluster")
    parser.add_argument("--batch", type=int, default=1, help="streams per task (default 1)")
    parser.add_argument("--threads", type=int, default=0, help="worker threads per file (default 0: none)")
    parser.add_argument("source_dir", type=Path)
    parser.add_argument("target_dir", type=Path)
    arguments = parser.parse_args()
    if arguments.batch < 1:
        parser.error("--batch must be 1 or more")

    arguments.target_dir.mkdir(parents=True, exist_ok=True)
    sources = [source.resolve() for source in tvr_convert.streams_in(arguments.source_dir)]
    if arguments.scheduler:
        with Client(arguments.scheduler) as client:
            outcomes = run(client, sources, arguments.target_dir, arguments.batch, arguments.threads)
    else:
        with LocalCluster(n_workers=arguments.local_workers, threads_per_worker=1, processes=True,
                          host="127.0.0.1", dashboard_address=None) as cluster, Client(cluster) as client:
            outcomes = run(client, sources, arguments.target_dir, arguments.batch, arguments.threads)
    return tvr_convert.report(outcomes, len(sources))


if __name__ == "__main__":
    sys.exit(main())
