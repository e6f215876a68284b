"""What the tests compare with: the bmpblur tool of a release build and the public BMP suite.

DORVANE_BMPBLUR names the tool (default: build/release/cli/bmpblur of the checkout, then
bmpblur on PATH); DORVANE_BMPSUITE the suite (default: ../shared/bmpsuite beside the checkout).
"""

import os
import pathlib
import shutil
import subprocess

import pytest

CHECKOUT = pathlib.Path(__file__).resolve().parents[2]
SAMPLE = CHECKOUT / "samples" / "landscape.bmp"


def _tool() -> str:
    named = os.environ.get("DORVANE_BMPBLUR")
    if named:
        return named
    built = CHECKOUT / "build" / "release" / "cli" / "bmpblur"
    return str(built) if built.exists() else shutil.which("bmpblur") or ""


TOOL = _tool()
# Read faults preloaded into a child process (tests/support/read_fault_shim.c), where the build
# made them.
READ_FAULTS = os.environ.get(
    "DORVANE_READ_FAULTS", str(CHECKOUT / "build" / "release" / "tests" / "libdorvane_read_faults.so"))
SUITE = pathlib.Path(os.environ.get("DORVANE_BMPSUITE", CHECKOUT.parent / "shared" / "bmpsuite"))


def suite_files(folder: str) -> list[pathlib.Path]:
    return sorted((SUITE / folder).glob("*.bmp"))


def run_tool(*arguments: object) -> subprocess.CompletedProcess:
    if not TOOL:
        pytest.fail("no bmpblur tool: build the release preset or set DORVANE_BMPBLUR")
    return subprocess.run([TOOL, *map(str, arguments)], capture_output=True, text=True)
