"""examples/dask_blur.py on a LocalCluster of two workers: twenty files, one of them not a BMP."""

import subprocess
import sys

import numpy as np
import pytest

import dorvane
from conftest import CHECKOUT, run_tool


def run_example(*arguments: object) -> subprocess.CompletedProcess:
    return subprocess.run(
        [sys.executable, str(CHECKOUT / "examples" / "dask_blur.py"), *map(str, arguments)],
        capture_output=True, text=True, timeout=300)


def test_the_dask_example_blurs_nineteen_files_and_names_the_bad_one(tmp_path):
    sources = tmp_path / "sources"
    sources.mkdir()
    random = np.random.default_rng(26)
    for index in range(19):
        shape = (int(random.integers(1, 90)), int(random.integers(1, 90)))
        picture = random.integers(0, 256, (*shape, 3), dtype=np.uint8)
        dorvane.write_bmp(picture, sources / f"{index:02}.bmp", [1, 4, 8, 16, 24, 32][index % 6])
    (sources / "19.bmp").write_text("not a picture")

    result = run_example(tmp_path / "out", sources, "--workers", "2")

    assert result.returncode == 1, result.stderr
    # The summary goes where the tool's reports go; the bar only to a terminal.
    assert result.stdout == ""
    assert "19 done, 1 failed" in result.stderr
    assert f"{sources / '19.bmp'}: not a BMP file" in result.stderr
    assert "\r[" not in result.stderr
    for index in range(19):
        name = f"{index:02}.bmp"
        assert run_tool(sources / name, tmp_path / "tool.bmp").returncode == 0
        assert (tmp_path / "out" / name).read_bytes() == (tmp_path / "tool.bmp").read_bytes()
    assert not (tmp_path / "out" / "19.bmp").exists()


# Each argument error is named before any cluster starts: (folders to make, files to make, the
# operands, the line said).
ARGUMENT_ERRORS = [
    (["empty"], [], ["empty"], "dask_blur: empty: no .bmp file"),
    ([], [], ["*.bmp"], "dask_blur: *.bmp: no file"),
    (["a", "b"], ["a/x.bmp", "b/x.bmp"], ["a", "b"], "dask_blur: a/x.bmp and b/x.bmp: two sources"),
]


@pytest.mark.parametrize("folders, files, operands, said", ARGUMENT_ERRORS)
def test_the_dask_example_names_its_argument_error(tmp_path, monkeypatch, folders, files,
                                                   operands, said):
    monkeypatch.chdir(tmp_path)
    for folder in folders:
        (tmp_path / folder).mkdir()
    for name in files:
        (tmp_path / name).write_bytes(b"")

    result = run_example("out", *operands)

    assert result.returncode == 2
    assert said in result.stderr
    assert not (tmp_path / "out").exists()
