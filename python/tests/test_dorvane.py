"""dorvane against the bmpblur tool and the C++ codec's files, and its failures, memory and
threads."""

import builtins
import contextlib
import ctypes
import errno
import functools
import io
import json
import os
import random
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
import typing
import warnings

import numpy as np
import pytest

import dorvane
from conftest import READ_FAULTS, SAMPLE, run_tool, suite_files

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
        assert refusal.value.filename == str(source)
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
    quietly(functools.partial(dorvane.edges_file, sync=True), source, ours)
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
    # A file object that hands the bytes over 7 at a time, as a pipe or socket may, reads alike.
    for kind in (data, bytearray(data), memoryview(data), io.BytesIO(data), Pieces(data),
                 str(source)):
        assert np.array_equal(quietly(dorvane.read_bmp, kind), rgb)
    assert dorvane.header(io.BytesIO(data)) == fields
    assert dorvane.header(Pieces(data)) == fields
    # Blue first, as OpenCV keeps pixels: the same picture, its gray and its files.
    bgr = quietly(functools.partial(dorvane.read_bmp, channels="bgr"), source)
    assert np.array_equal(bgr, rgb[..., ::-1])
    assert np.array_equal(dorvane.gray(bgr, channels="bgr"), dorvane.gray(rgb))

    for depth in DEPTHS:
        written = tmp_path / f"{depth}.bmp"
        dorvane.write_bmp(rgb, written, depth)
        again = dorvane.read_bmp(written)
        if depth >= 24:
            assert np.array_equal(again, rgb)
        # What a depth keeps, it keeps: the pixels read back, written into memory, read back
        # alike; a numpy integer is a depth as an int is.
        buffer = io.BytesIO()
        dorvane.write_bmp(again, buffer, np.int64(depth))
        assert np.array_equal(dorvane.read_bmp(buffer.getvalue()), again)
        assert dorvane.header(written)["biBitCount"] == depth
        blue_first = io.BytesIO()
        dorvane.write_bmp(bgr, blue_first, depth, channels="bgr")
        assert blue_first.getvalue() == written.read_bytes()
        dorvane.write_bmp(bgr, written, depth, channels="bgr")
        assert blue_first.getvalue() == written.read_bytes()
        # A gray array, too, is one file whether it goes to a path or into memory.
        gray_bytes = io.BytesIO()
        dorvane.write_bmp(dorvane.gray(rgb), gray_bytes, depth)
        dorvane.write_bmp(dorvane.gray(rgb), written, depth)
        assert gray_bytes.getvalue() == written.read_bytes()

    # The C++ codec's own 24 bpp file of the scaled picture, which keeps the source's
    # resolution where write_bmp writes 96 dpi (bytes 38 to 45).
    tool_scaled = tmp_path / "tool-scaled.bmp"
    assert run_tool("scale", source, tool_scaled, "P", 50).returncode == 0
    scaled = dorvane.scale(rgb, "p", np.int64(50))
    ours = tmp_path / "scaled.bmp"
    dorvane.write_bmp(scaled, ours)
    expected, actual = tool_scaled.read_bytes(), ours.read_bytes()
    assert actual[:38] + actual[46:] == expected[:38] + expected[46:]


@pytest.mark.parametrize("source", READABLE, ids=lambda path: path.name)
def test_header_gives_the_fields_that_info_lists_in_their_order(source):
    listed = [line.split()[:2] for line in run_tool("info", source).stdout.splitlines()
              if line.startswith("    ")]
    assert [(name.rstrip(":"), int(value)) for name, value in listed] == \
        list(dorvane.header(source).items())


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


def png(folder):
    (folder / "photo.png").write_bytes(b"\x89PNG\r\n\x1a\n\0\0\0\rIHDR")
    dorvane.read_bmp(folder / "photo.png")


def text_mode_source(folder):
    with open(SAMPLE, encoding="utf-8") as text:
        dorvane.read_bmp(text)


def short_of_memory(statement, headroom_mib):
    """Runs statement on picture, a 4096 x 4096 gray, and data, its file, in a fresh interpreter
    whose address space is held to what it holds and headroom_mib MiB more, and raises here what
    it raised there: the library runs out of memory, not Python."""

    def run(folder):
        path = folder / "picture.bmp"
        dorvane.write_bmp(np.zeros((4096, 4096), np.uint8), path, 8)
        program = "\n".join([
            "import io, os, resource, numpy as np, dorvane",
            "picture = np.zeros((4096, 4096), np.uint8)",
            f"data = open({str(path)!r}, 'rb').read()",
            "held = int(open('/proc/self/statm').read().split()[0]) * os.sysconf('SC_PAGE_SIZE')",
            "hard = resource.getrlimit(resource.RLIMIT_AS)[1]",
            f"resource.setrlimit(resource.RLIMIT_AS, (held + ({headroom_mib} << 20), hard))",
            "try:",
            f"    {statement}",
            "except Exception as error:",
            "    print(type(error).__name__, error, sep=':', end='')",
        ])
        child = subprocess.run([sys.executable, "-c", program], capture_output=True, text=True)
        name, _, message = child.stdout.partition(":")
        if name:
            raise getattr(builtins, name)(message)

    return run


def failing_disk(folder):
    """read_bmp in a child whose reads of the sample fail with EIO past its first rows; the child's
    exception is raised here."""
    if not os.path.exists(READ_FAULTS):
        pytest.skip("no read faults to preload: build the release preset")
    code = ("import json, dorvane\ntry:\n    dorvane.read_bmp(%r)\nexcept OSError as e:\n"
            "    print(json.dumps([e.errno, e.strerror, e.filename]))" % str(SAMPLE))
    env = dict(os.environ, LD_PRELOAD=READ_FAULTS, DORVANE_READ_FAULT=f"EIO 20000 {SAMPLE}")
    child = subprocess.run([sys.executable, "-c", code], env=env, capture_output=True, text=True)
    raise OSError(*json.loads(child.stdout))


CASES = [
    # name, call, exception, message
    ("read error", failing_disk, OSError, "read failed: Input/output error"),
    # bytes are a file's contents throughout, never a path.
    ("bytes as an output path", lambda folder: dorvane.write_bmp(
        np.zeros((2, 2), np.uint8), os.fsencode(folder / "o.bmp")), TypeError, "file's contents"),
    ("bytes as a job's path", lambda folder: dorvane.blur_file(
        os.fsencode(SAMPLE), folder / "o.bmp"), TypeError, "os.fsdecode"),
    ("a path in bytes read as contents", lambda folder: dorvane.read_bmp(os.fsencode(SAMPLE)),
     dorvane.FormatError, "not a BMP file"),
    ("text file written", lambda folder: dorvane.write_bmp(
        np.zeros((2, 2), np.uint8), open(folder / "t.txt", "w")), TypeError, "binary mode"),
    ("text file read", lambda folder: dorvane.read_bmp(open(SAMPLE, encoding="latin-1")),
     TypeError, "binary mode"),
    ("missing", missing, FileNotFoundError, "No such file or directory"),
    ("folder", folder_source, IsADirectoryError, "Is a directory"),
    ("missing folder", output_in_missing_folder, FileNotFoundError, "No such file or directory"),
    ("another user's link", another_users_link, PermissionError,
     r"Permission denied \(a symbolic link of another user in a shared folder; not followed\)"),
    ("not BMP", not_bmp, dorvane.FormatError, "not a BMP file"),
    ("PNG", png, dorvane.FormatError, "a PNG file, not a BMP file"),
    ("empty", lambda folder: dorvane.header(b""), dorvane.FormatError, "empty file"),
    ("text-mode source", text_mode_source, TypeError, "binary mode"),
    ("text-mode output", lambda folder: dorvane.write_bmp(np.zeros((2, 2), np.uint8),
                                                          io.StringIO()), TypeError, "binary mode"),
    ("channels", lambda folder: dorvane.gray(np.zeros((2, 2, 3), np.uint8), channels="BGRA"),
     ValueError, "channels"),
    ("bool threads", lambda folder: dorvane.blur_file(SAMPLE, folder / "o.bmp", threads=True),
     TypeError, "threads"),
    ("float value", lambda folder: dorvane.scale(np.zeros((2, 2, 3), np.uint8), "P", 50.0),
     TypeError, "value"),
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
    ("no pixels", lambda folder: dorvane.write_bmp(np.zeros((0, 2), np.uint8), folder / "o.bmp"),
     ValueError, "pixels"),
    ("mode", lambda folder: dorvane.scale(np.zeros((2, 2, 3), np.uint8), "Q", 5), ValueError,
     "mode"),
    ("null byte", lambda folder: dorvane.read_bmp("a\0b"), ValueError, "null"),
    # Memory running out is one failure, whether reading, writing or in a stage.
    ("memory reading", short_of_memory("dorvane.read_bmp(data)", 4), MemoryError,
     "not enough memory for a 4096 x 4096 image"),
    ("memory writing", short_of_memory("dorvane.write_bmp(picture, io.BytesIO(), 8)", 4),
     MemoryError, "^not enough memory$"),
    ("memory blurring", short_of_memory("dorvane.blur_gray(picture, out=picture)", 4),
     MemoryError, "not enough memory for a 4096 x 4096 image"),
    ("memory finding edges", short_of_memory("dorvane.edges(picture)", 24), MemoryError,
     "not enough memory for a 4096 x 4096 image"),
    ("header bomb", lambda folder: dorvane.read_bmp(
        SAMPLE.read_bytes()[:18] + (16777216).to_bytes(4, "little") + (16).to_bytes(4, "little")
        + SAMPLE.read_bytes()[26:54]), dorvane.FormatError,
     r"image too large: 16777216 x 16 pixels is more than max_pixels \(89478485\)"),
    ("pixel limit", lambda folder: dorvane.read_bmp(SAMPLE, max_pixels=384 * 256 - 1),
     dorvane.FormatError, "384 x 256 pixels is more than max_pixels"),
    ("threads beyond 32 bits", lambda folder: dorvane.blur_file(SAMPLE, folder / "o.bmp",
                                                                threads=2**32),
     ValueError, "threads must be from 1 to 4294967295, not 4294967296"),
    ("bit depth beyond 32 bits", lambda folder: dorvane.write_bmp(
        np.zeros((2, 2), np.uint8), folder / "o.bmp", 2**40), ValueError,
     r"^bit_depth must be 1, 4, 8, 16, 24 or 32, not 1099511627776$"),
]


@pytest.mark.parametrize("name, call, exception, message", CASES, ids=[c[0] for c in CASES])
def test_each_failure_raises_its_exception(name, call, exception, message, tmp_path):
    with pytest.raises(exception, match=message) as raised:
        call(tmp_path)
    if issubclass(exception, OSError):
        assert raised.value.errno is not None and raised.value.filename is not None
    if exception is dorvane.FormatError:
        # As an OSError's: the file's name, None for bytes; the message is the reason alone.
        assert raised.value.filename in (None, str(tmp_path / "text.bmp"),
                                         str(tmp_path / "photo.png"), str(SAMPLE))
        assert str(raised.value) == raised.value.args[0]
    assert not (tmp_path / "o.bmp").exists()


def test_the_version_is_the_tools_and_the_stubs_take_either_case():
    assert run_tool("--version").stdout.split()[1] == dorvane.__version__
    mode = typing.get_type_hints(dorvane.scale)["mode"]
    assert set(typing.get_args(mode)) == set("PWHFpwhf")


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


# --- File objects: every byte is written and read, however the object takes and gives them


class Pieces(io.RawIOBase):
    """A file object that takes and gives at most 7 bytes a call, as a pipe or socket may."""

    def __init__(self, data=b""):
        self.data = bytearray(data)

    def readable(self):
        return True

    def writable(self):
        return True

    def read(self, size=-1):
        size = 7 if size < 0 else min(size, 7)
        piece, self.data[:size] = bytes(self.data[:size]), b""
        return piece

    def write(self, data):
        self.data += bytes(data[:7])
        return min(len(data), 7)


def socket_in_two_parts(first, size=None):
    """The reading end of a socket that gets the sample's first bytes, and the rest (up to size)
    later."""
    ours, theirs = socket.socketpair()
    data = SAMPLE.read_bytes()[:size]

    def send():
        theirs.sendall(data[:first])
        time.sleep(0.05)
        theirs.sendall(data[first:])
        theirs.close()

    threading.Thread(target=send, daemon=True).start()
    return ours.makefile("rb", buffering=0)


def interrupted_fifo(folder):
    """A FIFO fed in pieces while a signal handler interrupts the reads every millisecond."""
    fifo = folder / "fifo"
    os.mkfifo(fifo)
    data = SAMPLE.read_bytes()

    def feed():
        with open(fifo, "wb") as writer:
            for start in range(0, len(data), 4096):
                writer.write(data[start:start + 4096])
                writer.flush()
                time.sleep(0.0005)

    threading.Thread(target=feed, daemon=True).start()
    previous = signal.signal(signal.SIGALRM, lambda *_: None)
    signal.setitimer(signal.ITIMER_REAL, 0.001, 0.001)
    try:
        return dorvane.read_bmp(fifo)
    finally:
        signal.setitimer(signal.ITIMER_REAL, 0)
        signal.signal(signal.SIGALRM, previous)


READS = [
    # name, read of the sample: each gives the whole picture
    ("pieces", lambda folder: dorvane.read_bmp(Pieces(SAMPLE.read_bytes()))),
    ("socket in two parts", lambda folder: dorvane.read_bmp(socket_in_two_parts(20))),
    ("header from a socket in two parts",
     lambda folder: dorvane.header(socket_in_two_parts(20, 54))["biWidth"]),
    ("FIFO under signals", interrupted_fifo),
]


@pytest.mark.parametrize("name, read", READS, ids=[c[0] for c in READS])
def test_file_objects_give_every_byte(name, read, tmp_path):
    with warnings.catch_warnings():
        warnings.simplefilter("error", UserWarning)
        result = read(tmp_path)
    if name.startswith("header"):
        assert result == 384
    else:
        assert (result == dorvane.read_bmp(SAMPLE)).all()


class RandomPieces(io.RawIOBase):
    """A file object that gives bytes in pieces of random sizes, 1 to 64 bytes a call."""

    def __init__(self, data, chance):
        self.data = memoryview(data)
        self.chance = chance

    def readable(self):
        return True

    def read(self, size=-1):
        size = self.chance.randint(1, 64) if size < 0 else min(size, self.chance.randint(1, 64))
        piece, self.data = bytes(self.data[:size]), self.data[size:]
        return piece


def outcome(read):
    """What a read gives: its array, or its exception's type and message; warnings ignored."""
    try:
        return quietly(read)
    except (dorvane.FormatError, MemoryError, ValueError) as error:
        return type(error), str(error)


def test_mutated_files_read_in_random_pieces_as_from_bytes():
    """A fuzzer's round: suite files with bytes changed, cut or left whole, read from a file object
    that hands them over in random pieces, give what the same bytes give read at once."""
    chance = random.Random(20261208)
    sources = [path.read_bytes() for path in READABLE]
    for _ in range(300):
        data = bytearray(chance.choice(sources))
        for _ in range(chance.randint(0, 8)):
            data[chance.randrange(len(data))] = chance.randrange(256)
        if chance.random() < 0.3:
            del data[chance.randrange(len(data)):]
        expected = outcome(lambda: dorvane.read_bmp(bytes(data)))
        actual = outcome(lambda: dorvane.read_bmp(RandomPieces(data, chance)))
        if isinstance(expected, np.ndarray):
            assert isinstance(actual, np.ndarray) and np.array_equal(actual, expected)
        else:
            assert actual == expected
        header = outcome(lambda: dorvane.header(RandomPieces(data, chance)))
        assert header == outcome(lambda: dorvane.header(bytes(data)))


def test_file_objects_take_every_byte_or_say_they_cannot():
    picture = dorvane.read_bmp(SAMPLE)
    expected = io.BytesIO()
    dorvane.write_bmp(picture, expected)
    pieces = Pieces()
    dorvane.write_bmp(picture, pieces)
    assert bytes(pieces.data) == expected.getvalue()
    # A non-blocking pipe that nobody reads takes 64 KiB, then nothing.
    reader, writer = os.pipe()
    os.set_blocking(writer, False)
    os.set_blocking(reader, False)
    with open(writer, "wb", buffering=0) as raw, open(reader, "rb") as buffered:
        with pytest.raises(BlockingIOError, match="non-blocking") as raised:
            dorvane.write_bmp(picture, raw)
        assert 0 < raised.value.characters_written < len(expected.getvalue())
        os.read(reader, 1 << 20)
        with pytest.raises(BlockingIOError, match="non-blocking"):
            dorvane.read_bmp(buffered)


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


def test_small_results_take_the_address_space_of_their_pixels():
    # 2,000 kept results of 64 x 64 in a child with 1 GiB of address space to spare: small
    # arrays are not aligned to large pages.
    code = """
import resource, dorvane, numpy as np
with open("/proc/self/statm") as statm:
    used = int(statm.read().split()[0]) * resource.getpagesize()
resource.setrlimit(resource.RLIMIT_AS, (used + (1 << 30), resource.RLIM_INFINITY))
rgb = np.zeros((64, 64, 3), np.uint8)
kept = [dorvane.gray(rgb) for _ in range(2000)]
kept += [dorvane.blur_gray(kept[0]) for _ in range(2000)]
"""
    child = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True)
    assert child.returncode == 0, child.stderr


def test_four_threads_blurring_at_once_give_the_right_files(tmp_path):
    expected = tmp_path / "tool.bmp"
    assert run_tool(SAMPLE, expected).returncode == 0
    failures = []

    def blur(index):
        try:
            for round_ in range(5):
                dorvane.blur_file(SAMPLE, tmp_path / f"{index}-{round_}.bmp", threads=np.int64(2))
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
