"""examples/dask_blur.py on a LocalCluster of two workers: twenty files, one of them not a BMP."""

import subprocess
import sys

import numpy as np

import dorvane
from conftest import CHECKOUT, run_tool


def test_the_dask_example_blurs_nineteen_files_and_names_the_bad_one(tmp_path):
    sources = tmp_path / "sources"
    sources.mkdir()
    random = np.random.default_rng(26)
    for index in range(19):
        shape = (int(random.integers(1, 90)), int(random.integers(1, 90)))
        picture = random.integers(0, 256, (*shape, 3), dtype=np.uint8)
        dorvane.write_bmp(picture, sources / f"{index:02}.bmp", [1, 4, 8, 16, 24, 32][index % 6])
    (sources / "19.bmp").write_text("not a picture")

    result = subprocess.run(
        [sys.executable, str(CHECKOUT / "examples" / "dask_blur.py"), str(tmp_path / "out"),
         str(sources), "--workers", "2"],
        capture_output=True, text=True, timeout=300)

    assert result.returncode == 1, result.stderr
    assert "19 done, 1 failed" in result.stdout
    assert f"{sources / '19.bmp'}: not a BMP file" in result.stdout
    for index in range(19):
        name = f"{index:02}.bmp"
        assert run_tool(sources / name, tmp_path / "tool.bmp").returncode == 0
        assert (tmp_path / "out" / name).read_bytes() == (tmp_path / "tool.bmp").read_bytes()
    assert not (tmp_path / "out" / "19.bmp").exists()
