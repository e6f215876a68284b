#!/usr/bin/env python3
"""Blur, or edge-map, many BMP files on a Dask cluster: one file a task, every failure named.

    python3 examples/dask_blur.py OUTPUT_FOLDER SOURCE... [--edges] [--scheduler ADDRESS]
                                  [--workers N]

Each SOURCE is a file, a folder (its .bmp files) or a glob pattern such as 'scans/*.bmp'; each
output is OUTPUT_FOLDER/<the source's name>. Without --scheduler the files are blurred on a
LocalCluster of N worker processes (default: one per core) on this machine; with it, on the
cluster whose scheduler listens at ADDRESS (tcp://host:8786), whose workers must have dorvane
installed and reach the same paths (a shared file system). Every task runs on one thread of its
worker, as a worker among many should. A progress bar shows on a terminal; a file that cannot be
read or written fails alone, and the failures are summed up at the end with their reasons, all on
standard error, as the bmpblur tool reports. Exit status: 0 when every file was done, 1 when any
failed, 2 for unusable arguments (an operand that names no file, two sources of one name).
"""

from __future__ import annotations

import argparse
import glob
import os
import sys
from pathlib import Path

from dask.distributed import Client, LocalCluster, as_completed


def sources_of(operands: list[str]) -> tuple[list[Path], list[str]]:
    """The files that the operands name, in order, each once, and the operands that name none."""
    found: dict[Path, None] = {}
    empty = []
    for operand in operands:
        path = Path(operand)
        if path.is_dir():
            matches = sorted(path.glob("*.bmp")) + sorted(path.glob("*.BMP"))
        elif glob.has_magic(operand):
            matches = [Path(match) for match in sorted(glob.glob(operand))]
        else:
            matches = [path]
        if not matches:
            empty.append(operand)
        found.update(dict.fromkeys(matches))
    return list(found), empty


def argument_errors(sources: list[Path], empty: list[str]) -> list[str]:
    """Why the sources cannot be run, one line each: folders and patterns that match no file,
    and outputs that two sources would share."""
    errors = [f"{operand}: no .bmp file" if Path(operand).is_dir() else f"{operand}: no file"
              for operand in empty]
    first: dict[str, Path] = {}
    for source in sources:
        if source.name in first:
            errors.append(f"{first[source.name]} and {source}: two sources of one name")
        else:
            first[source.name] = source
    return errors


def run_one(source: str, output: str, edges: bool) -> str | None:
    """One task: the file's job on one thread; None when done, else the reason it failed."""
    import dorvane  # imported on the worker

    job = dorvane.edges_file if edges else dorvane.blur_file
    try:
        job(source, output, threads=1)
    except OSError as error:
        return error.strerror or str(error)
    except ValueError as error:  # dorvane.FormatError among them: its message is the reason
        return str(error)
    return None


def show_progress(done: int, total: int) -> None:
    """The bar, redrawn in place; only a terminal shows it as one line."""
    if not sys.stderr.isatty():
        return
    bar = "#" * (40 * done // total)
    end = "\n" if done == total else ""
    print(f"\r[{bar:<40}] {done} of {total} files", end=end, file=sys.stderr, flush=True)


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("output", help="the folder the outputs go to (made when missing)")
    parser.add_argument("sources", nargs="+", help="files, folders or glob patterns")
    parser.add_argument("--edges", action="store_true", help="edge maps instead of blurs")
    parser.add_argument("--scheduler", metavar="ADDRESS", help="an existing cluster's scheduler")
    parser.add_argument("--workers", type=int, default=os.cpu_count() or 1,
                        help="worker processes of the local cluster (default: one per core)")
    arguments = parser.parse_args()

    sources, empty = sources_of(arguments.sources)
    errors = argument_errors(sources, empty)
    if errors:
        for error in errors:
            print(f"dask_blur: {error}", file=sys.stderr)
        return 2
    output = Path(arguments.output)
    output.mkdir(parents=True, exist_ok=True)

    if arguments.scheduler:
        client = Client(arguments.scheduler)
    else:
        cluster = LocalCluster(n_workers=arguments.workers, threads_per_worker=1,
                               processes=True, dashboard_address=None)
        client = Client(cluster)
    with client:
        futures = [
            client.submit(run_one, str(source.resolve()), str((output / source.name).resolve()),
                          arguments.edges, key=f"bmp-{index}-{source.name}", pure=False)
            for index, source in enumerate(sources)
        ]
        for done, _ in enumerate(as_completed(futures), start=1):
            show_progress(done, len(futures))
        reasons = client.gather(futures)
    failed = [(source, reason) for source, reason in zip(sources, reasons) if reason]
    print(f"{len(sources) - len(failed)} done, {len(failed)} failed", file=sys.stderr)
    for source, reason in failed:
        print(f"{source}: {reason}", file=sys.stderr)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
