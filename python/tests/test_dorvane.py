"""dorvane against the bmpblur tool and the C++ codec's files, and its failures, memory and
threads."""

import contextlib
import ctypes
import errno
import io
import os
import tempfile
import threading
import warnings

import numpy as np
import pytest

import dorvane
from conftest import SAMPLE, run_tool, suite_files

FILES = [SAMPLE, *suite_files("g"), *suite_files("q")]
DEPTHS = [1, 4, 8, 16, 24, 32]


def quietly(function, *arguments):
    """A call on a file that may be cut short, whose warning is not what is tested."""
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", UserWarning)
        return function(*arguments)


def tool_reason(result, source) -> str:
    return result.stderr.strip().removeprefix(f"bmpblur: {source}: ")


# --- The pipeline on arrays and on files gives the tool's files


@pytest.mark.parametrize("source", FILES, ids=lambda path: path.name)
def test_the_pipeline_gives_the_tools_files(source, tmp_path):
    tool_blur = tmp_path / "tool-blur.bmp"
    tool_edges = tmp_path / "tool-edges.bmp"
    result = run_tool(source, tool_blur)
    if result.returncode != 0:
        assert result.returncode == 1, result.stderr
        with pytest.raises(dorvane.FormatError) as refusal:
            dorvane.read_bmp(source)
        assert str(refusal.value) == tool_reason(result, source)
        return
    assert run_tool("edges", source, tool_edges).returncode == 0
    depth = dorvane.header(source)["biBitCount"]
    gray = dorvane.gray(quietly(dorvane.read_bmp, source))
    ours = tmp_path / "ours.bmp"
    dorvane.write_bmp(dorvane.blur_gray(gray), ours, depth)
    assert ours.read_bytes() == tool_blur.read_bytes()
    dorvane.write_bmp(dorvane.edges(gray), ours, depth)
    assert ours.read_bytes() == tool_edges.read_bytes()
    quietly(dorvane.blur_file, source, ours)
    assert ours.read_bytes() == tool_blur.read_bytes()
    quietly(dorvane.edges_file, source, ours)
    assert ours.read_bytes() == tool_edges.read_bytes()
    in_place = gray.copy()
    assert dorvane.blur_gray(in_place, out=in_place) is in_place
    assert np.array_equal(in_place, dorvane.blur_gray(gray))


# --- The codec: sources of every kind, round trips at every depth, the C++ codec's files

READABLE = [path for path in FILES if run_tool("info", path).returncode == 0]


@pytest.mark.parametrize("source", READABLE, ids=lambda path: path.name)
def test_reading_writing_and_scaling_agree_with_the_codec(source, tmp_path):
    try:
        rgb = quietly(dorvane.read_bmp, source)
    except dorvane.FormatError:
        return  # refused alike by the tool, as the test above holds
    fields = dorvane.header(source)
    assert rgb.shape == (fields["biHeight"], fields["biWidth"], 3) and rgb.dtype == np.uint8
    data = source.read_bytes()
    for kind in (data, bytearray(data), memoryview(data), io.BytesIO(data), str(source)):
        assert np.array_equal(quietly(dorvane.read_bmp, kind), rgb)
    assert dorvane.header(io.BytesIO(data)) == fields

    for depth in DEPTHS:
        written = tmp_path / f"{depth}.bmp"
        dorvane.write_bmp(rgb, written, depth)
        again = dorvane.read_bmp(written)
        if depth >= 24:
            assert np.array_equal(again, rgb)
        # What a depth keeps, it keeps: the pixels read back, written into memory, read back
        # alike.
        buffer = io.BytesIO()
        dorvane.write_bmp(again, buffer, depth)
        assert np.array_equal(dorvane.read_bmp(buffer.getvalue()), again)
        assert dorvane.header(written)["biBitCount"] == depth

    # The C++ codec's own 24 bpp file of the scaled picture, which keeps the source's
    # resolution where write_bmp writes 96 dpi (bytes 38 to 45).
    tool_scaled = tmp_path / "tool-scaled.bmp"
    assert run_tool("scale", source, tool_scaled, "P", 50).returncode == 0
    scaled = dorvane.scale(rgb, "p", 50)
    ours = tmp_path / "scaled.bmp"
    dorvane.write_bmp(scaled, ours)
    expected, actual = tool_scaled.read_bytes(), ours.read_bytes()
    assert actual[:38] + actual[46:] == expected[:38] + expected[46:]


# --- Failures: each kind raises what a Python user expects, with the library's reason


def missing(folder):
    dorvane.read_bmp(folder / "missing.bmp")


def folder_source(folder):
    dorvane.blur_file(folder, folder / "out.bmp")


def output_in_missing_folder(folder):
    dorvane.write_bmp(np.zeros((2, 2), np.uint8), folder / "no" / "out.bmp")


def another_users_link(folder):
    shared = folder / "shared"
    shared.mkdir()
    os.chmod(shared, 0o1777)
    (shared / "o.bmp").symlink_to(folder / "target.bmp")
    try:
        os.lchown(shared / "o.bmp", 65533, 65533)
    except PermissionError:
        pytest.skip("a link of another user takes root to make")
    dorvane.write_bmp(np.zeros((2, 2), np.uint8), shared / "o.bmp")


def not_bmp(folder):
    (folder / "text.bmp").write_text("hello, world")
    dorvane.read_bmp(folder / "text.bmp")


CASES = [
    # name, call, exception, message
    ("missing", missing, FileNotFoundError, "No such file or directory"),
    ("folder", folder_source, IsADirectoryError, "Is a directory"),
    ("missing folder", output_in_missing_folder, FileNotFoundError, "No such file or directory"),
    ("another user's link", another_users_link, PermissionError,
     r"Permission denied \(a symbolic link of another user in a shared folder; not followed\)"),
    ("not BMP", not_bmp, dorvane.FormatError, "not a BMP file"),
    ("truncated header", lambda folder: dorvane.read_bmp(SAMPLE.read_bytes()[:30]),
     dorvane.FormatError, "truncated BMP header"),
    ("unsupported depth", lambda folder: dorvane.read_bmp(
        SAMPLE.read_bytes()[:28] + b"\x02" + SAMPLE.read_bytes()[29:]),
     dorvane.FormatError, "unsupported bit depth 2"),
    ("dtype", lambda folder: dorvane.gray(np.zeros((2, 2, 3), np.float32)), TypeError, "uint8"),
    ("not an array", lambda folder: dorvane.blur_gray([[1, 2], [3, 4]]), TypeError, "numpy"),
    ("shape", lambda folder: dorvane.gray(np.zeros((2, 2, 4), np.uint8)), ValueError, "shape"),
    ("strides", lambda folder: dorvane.blur_gray(np.zeros((8, 8), np.uint8)[:, ::2]), ValueError,
     "C-contiguous"),
    ("transposed", lambda folder: dorvane.edges(np.zeros((8, 6), np.uint8).T), ValueError,
     "C-contiguous"),
    ("out of another shape",
     lambda folder: dorvane.blur_gray(np.zeros((8, 8), np.uint8), out=np.zeros((8, 9), np.uint8)),
     ValueError, "shape"),
    ("depth", lambda folder: dorvane.write_bmp(np.zeros((2, 2), np.uint8), folder / "o.bmp", 2),
     ValueError, "bit_depth"),
    ("empty", lambda folder: dorvane.write_bmp(np.zeros((0, 2), np.uint8), folder / "o.bmp"),
     ValueError, "pixels"),
    ("mode", lambda folder: dorvane.scale(np.zeros((2, 2, 3), np.uint8), "Q", 5), ValueError,
     "mode"),
    ("null byte", lambda folder: dorvane.read_bmp("a\0b"), ValueError, "null"),
]


@pytest.mark.parametrize("name, call, exception, message", CASES, ids=[c[0] for c in CASES])
def test_each_failure_raises_its_exception(name, call, exception, message, tmp_path):
    with pytest.raises(exception, match=message) as raised:
        call(tmp_path)
    if issubclass(exception, OSError):
        assert raised.value.errno is not None and raised.value.filename is not None
    assert not (tmp_path / "o.bmp").exists()


def test_permission_is_refused_for_reading_and_replacing(tmp_path):
    # Root passes every permission check: the calls run in a child that is not root.
    folder = tempfile.mkdtemp()
    os.chmod(folder, 0o777)
    locked = os.path.join(folder, "locked.bmp")
    dorvane.write_bmp(np.zeros((2, 2), np.uint8), locked)
    os.chmod(locked, 0)
    child = os.fork()
    if child == 0:
        code = 1
        try:
            if os.geteuid() == 0:
                os.setgid(65534)
                os.setuid(65534)
            code = 2
            for call in (lambda: dorvane.read_bmp(locked),
                         lambda: dorvane.write_bmp(np.zeros((2, 2), np.uint8), locked)):
                try:
                    call()
                except PermissionError as error:
                    code += error.errno == errno.EACCES and "Permission denied" in str(error)
            code = 0 if code == 4 else code
        finally:
            os._exit(code)
    _, status = os.waitpid(child, 0)
    os.chmod(locked, 0o600)
    assert os.WEXITSTATUS(status) == 0


LINK_GUARD = "/proc/sys/fs/protected_symlinks"


@contextlib.contextmanager
def links_guarded():
    """Linux's guard on links in shared sticky folders on, as most systems have it, and set back
    as it was found; whether it could be had."""
    try:
        with open(LINK_GUARD) as setting:
            found = setting.read().strip()
        if found == "0":
            with open(LINK_GUARD, "w") as setting:
                setting.write("1")
    except OSError:
        yield False
        return
    try:
        yield True
    finally:
        if found == "0":
            with open(LINK_GUARD, "w") as setting:
                setting.write("0")


def swap_until_killed(at, target, ready):
    """Another user's loop: its own out.bmp in the shared folder at swapped with its link to
    target, both made again whenever a write took the name from it."""
    libc = ctypes.CDLL(None, use_errno=True)
    rename_exchange = 2
    told = False
    while True:
        if libc.renameat2(at, b"out.bmp", at, b"link", rename_exchange) == 0:
            continue
        with contextlib.suppress(OSError):
            os.unlink("link", dir_fd=at)
        try:
            os.close(os.open("out.bmp", os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o644, dir_fd=at))
            os.symlink(target, "link", dir_fd=at)
        except OSError:
            continue
        if not told:
            told = os.write(ready, b"r") == 1


def test_a_users_link_swapped_in_at_a_shared_output_leads_no_write_elsewhere(tmp_path):
    # Root's write into a sticky folder that everyone may write, as /tmp, where another user swaps
    # its own out.bmp with its link to root's file: the kernel would not follow that link for
    # root, and no write follows it either, however the swaps fall.
    if os.geteuid() != 0:
        pytest.skip("the race needs root's writes and another user: run the tests as root")
    with links_guarded() as guarded:
        if not guarded:
            pytest.skip("fs.protected_symlinks cannot be turned on here")
        victim = tmp_path / "root's.bmp"
        victim.write_bytes(b"root")
        shared = tmp_path / "shared"
        shared.mkdir()
        os.chmod(shared, 0o1777)
        at = os.open(shared, os.O_PATH | os.O_DIRECTORY)
        ready, tell = os.pipe()
        # With two processors or more, the racer has one to itself, ahead of whatever else runs
        # there, so that its swaps fall anywhere in a write however busy the machine is.
        allowed = os.sched_getaffinity(0)
        own = min(allowed)
        apart = len(allowed) > 1
        racer = os.fork()
        if racer == 0:
            try:
                if apart:
                    os.sched_setaffinity(0, {own})
                    os.setpriority(os.PRIO_PROCESS, 0, -20)
                os.setgroups([])
                os.setgid(65534)
                os.setuid(65534)
                swap_until_killed(at, str(victim), tell)
            finally:
                os._exit(1)
        os.close(tell)
        if apart:
            os.sched_setaffinity(0, allowed - {own})
        started = os.read(ready, 1) == b"r"
        output = shared / "out.bmp"
        replaced = refused = 0
        inode = victim.stat().st_ino
        try:
            assert started
            for _ in range(400):
                try:
                    dorvane.write_bmp(np.zeros((2, 3), np.uint8), output)
                except PermissionError as error:
                    assert "not followed" in str(error)
                    refused += 1
                if victim.stat().st_ino != inode or victim.read_bytes() != b"root":
                    replaced += 1
                    victim.write_bytes(b"root")
                    inode = victim.stat().st_ino
                # The name is the racer's again once root's new file is gone from it.
                with contextlib.suppress(OSError):
                    if output.lstat().st_uid == 0:
                        output.unlink()
        finally:
            os.sched_setaffinity(0, allowed)
            os.kill(racer, 9)
            os.waitpid(racer, 0)
            os.close(ready)
            os.close(at)
    assert (replaced, victim.read_bytes()) == (0, b"root")
    assert 0 < refused < 400  # both outcomes came up: the race was run


def test_a_cut_file_is_read_with_a_warning():
    with pytest.warns(UserWarning, match="truncated, 1 of 256 rows read"):
        rgb = dorvane.read_bmp(SAMPLE.read_bytes()[:54 + 384 * 3 + 100])
    assert (rgb[:-1] == 255).all() and not (rgb[-1] == 255).all()


# --- Memory and threads


def resident_kib() -> int:
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE") // 1024


def test_a_thousand_calls_keep_memory_flat():
    data = SAMPLE.read_bytes()

    def calls(count):
        for _ in range(count):
            gray = dorvane.gray(dorvane.read_bmp(data))
            dorvane.write_bmp(dorvane.edges(dorvane.blur_gray(gray)), io.BytesIO(), 8)
            with pytest.raises(dorvane.FormatError):
                dorvane.read_bmp(data[:20])

    calls(50)
    before = resident_kib()
    calls(1000)
    assert resident_kib() - before < 4096


def test_four_threads_blurring_at_once_give_the_right_files(tmp_path):
    expected = tmp_path / "tool.bmp"
    assert run_tool(SAMPLE, expected).returncode == 0
    failures = []

    def blur(index):
        try:
            for round_ in range(5):
                dorvane.blur_file(SAMPLE, tmp_path / f"{index}-{round_}.bmp", threads=2)
        except Exception as error:  # noqa: BLE001 - reported below
            failures.append(error)

    threads = [threading.Thread(target=blur, args=(index,)) for index in range(4)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert failures == []
    for index in range(4):
        for round_ in range(5):
            assert (tmp_path / f"{index}-{round_}.bmp").read_bytes() == expected.read_bytes()
