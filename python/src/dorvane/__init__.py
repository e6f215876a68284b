"""BMP files and the exact gray blur and edge map of DorvaneBMPBlur, on numpy arrays.

Arrays are numpy ``uint8``, C-contiguous, row 0 at the top: ``(H, W, 3)`` for red, green and
blue, ``(H, W)`` for gray. Every result is byte for byte what the ``bmpblur`` tool computes.
The GIL is released while pixels are worked on, so threads calling these functions run at once.

Arrays from OpenCV, whose colour pixels come blue first, are taken and given as they are with
``channels="bgr"`` on :func:`gray`, :func:`read_bmp` and :func:`write_bmp`: that is a BMP file's
own order, so it costs no copy (``bgr[..., ::-1]`` is not C-contiguous and is refused).

Failures raise ``FileNotFoundError``, ``PermissionError``, ``IsADirectoryError`` or another
``OSError`` (with ``errno`` set) for the system's, :class:`FormatError` (a ``ValueError``) for a
file that the format's rules reject, ``MemoryError`` when memory runs out (reading, writing or in
a stage alike), and ``TypeError`` or ``ValueError`` for an unusable argument; the message is the
library's reason, and ``filename`` of an ``OSError`` or a ``FormatError`` names the file. A file
whose rows stop short of what its header says is still read, its missing rows white, with a
``UserWarning`` that says how many rows arrived. Wherever an ``int`` is taken, any integer that
``operator.index`` takes will do, numpy's among them.
"""

from __future__ import annotations

import errno
import io
import operator
import os
from typing import BinaryIO, Literal, Optional, Union

import numpy as np

from . import _dorvane
from ._dorvane import FormatError

__version__: str = _dorvane.__version__

__all__ = [
    "FormatError",
    "blur_file",
    "edges_file",
    "read_bmp",
    "write_bmp",
    "header",
    "gray",
    "blur_gray",
    "edges",
    "scale",
]

# bytes are a file's contents throughout the package, never a path: a bytes path is given as
# os.fsdecode(path), which keeps every byte of it.
PathType = Union[str, "os.PathLike[str]", "os.PathLike[bytes]"]
Source = Union[PathType, bytes, bytearray, memoryview, BinaryIO]
Channels = Literal["rgb", "bgr"]


def _path(path: PathType, what: str) -> bytes:
    if not _is_path(path):
        raise TypeError(f"{what} must be a path, str or os.PathLike; bytes are a file's contents "
                        "here (os.fsdecode turns a bytes path into a str)")
    return os.fsencode(path)


def _int(value: object, name: str) -> int:
    """value as an int: an int, or an integer of another kind (numpy's); never a bool."""
    if isinstance(value, (bool, np.bool_)):
        raise TypeError(f"{name} must be an int")
    try:
        return operator.index(value)  # type: ignore[arg-type]
    except TypeError:
        raise TypeError(f"{name} must be an int") from None


def _threads(threads: Optional[int]) -> int:
    if threads is None:
        return 0
    count = _int(threads, "threads")
    if count < 1 or count > 2**32 - 1:
        raise ValueError(f"threads must be from 1 to {2**32 - 1}, not {count}")
    return count


def _blue_first(channels: str) -> bool:
    if channels not in ("rgb", "bgr"):
        raise ValueError("channels must be 'rgb' or 'bgr'")
    return channels == "bgr"


def _is_path(source: object) -> bool:
    return isinstance(source, (str, os.PathLike))


def _text_refused(file: object, chunk: object = b"") -> None:
    if isinstance(file, io.TextIOBase) or isinstance(chunk, str):
        raise TypeError("the file object is in text mode; open it in binary mode ('rb', 'wb')")


def _read_from(source: BinaryIO, size: Optional[int] = None) -> bytes:
    """The bytes of a file object up to its end, or its first ``size`` bytes: a pipe, a socket or
    an object of one's own may hand them over in pieces."""
    _text_refused(source)
    pieces = []
    count = 0
    while size is None or count < size:
        piece = source.read(-1 if size is None else size - count)
        _text_refused(source, piece)
        if piece is None:
            raise BlockingIOError(errno.EAGAIN, "the file object is non-blocking and has no "
                                  "bytes ready; read the file into bytes first")
        if not piece:
            break
        pieces.append(piece)
        count += len(piece)
    return b"".join(pieces)


def _write_to(output: BinaryIO, data: bytes) -> None:
    """Every byte of data into a file object, which may take fewer than it is given at a time."""
    _text_refused(output)
    view = memoryview(data)
    while view:
        taken = output.write(view)
        if taken is None:
            # An unbuffered non-blocking file that takes nothing now; other objects that return
            # nothing predate the io module and took everything.
            if isinstance(output, io.RawIOBase):
                raise BlockingIOError(errno.EAGAIN, "the file object is non-blocking and takes "
                                      "no more bytes now", len(data) - len(view))
            return
        view = view[taken:]


def blur_file(
    source: PathType, output: PathType, *, threads: Optional[int] = None, sync: bool = False
) -> None:
    """Blur the BMP file ``source`` into ``output``, as ``bmpblur SOURCE OUTPUT`` does.

    The output is the source's gray picture smoothed by the 5 x 5 Gaussian, at the source's size
    and bit depth. ``threads`` caps the threads of the call (``None``: as many as pay, ``1``: the
    calling thread alone, as a worker among many should run). With ``sync`` the new file reaches
    the disk before it replaces the old one. An existing output is replaced whole or not at all.
    Paths are ``str`` or path-like, of any length the system takes (``bytes`` are a file's
    contents everywhere in the package; ``os.fsdecode`` turns a bytes path into a ``str``).
    """
    _dorvane.blur_file(_path(source, "source"), _path(output, "output"), _threads(threads), bool(sync))


def edges_file(
    source: PathType, output: PathType, *, threads: Optional[int] = None, sync: bool = False
) -> None:
    """Write the edge map of the BMP file ``source`` to ``output``, as ``bmpblur edges`` does.

    Edges are black (0), everything else white (255), at the source's size and bit depth.
    ``threads`` and ``sync`` as for :func:`blur_file`.
    """
    _dorvane.edges_file(_path(source, "source"), _path(output, "output"), _threads(threads), bool(sync))


# Pillow's limit for a picture that a small file may claim (its MAX_IMAGE_PIXELS).
MAX_PIXELS = 89_478_485


def read_bmp(source: Source, *, channels: Channels = "rgb",
             max_pixels: Optional[int] = MAX_PIXELS) -> np.ndarray:
    """Read a BMP file at 1, 4, 8, 16, 24 or 32 bits per pixel into an ``(H, W, 3)`` RGB array.

    ``source`` is a path (``str`` or path-like), the file's bytes (a bytes-like object) or a
    binary file object, which is read to its end, however many pieces it gives them in. With
    ``channels="bgr"`` each pixel comes blue first, as OpenCV keeps it. A header that claims more
    than ``max_pixels`` pixels (Pillow's limit by default; ``None`` for none) raises
    :class:`FormatError` before anything is allocated: a few bytes may claim gigabytes.
    """
    bgr = _blue_first(channels)
    if max_pixels is None:
        limit = 2**64 - 1
    else:
        limit = _int(max_pixels, "max_pixels")
        if limit < 0:
            raise ValueError(f"max_pixels must be at least 0, not {limit}")
        limit = min(limit, 2**64 - 1)
    if _is_path(source):
        return _dorvane.read_bmp_path(_path(source, "source"), bgr, limit)
    if hasattr(source, "read"):
        return _dorvane.read_bmp_bytes(_read_from(source), bgr, limit)  # type: ignore[arg-type]
    if isinstance(source, (bytes, bytearray, memoryview)):
        return _dorvane.read_bmp_bytes(source, bgr, limit)
    raise TypeError("source must be a path, a bytes-like object or a binary file object")


def write_bmp(
    array: np.ndarray,
    output: Union[PathType, BinaryIO],
    bit_depth: Literal[1, 4, 8, 16, 24, 32] = 24,
    *,
    channels: Channels = "rgb",
) -> None:
    """Write an ``(H, W, 3)`` RGB or ``(H, W)`` gray array as a BMP file at ``bit_depth``.

    At 1, 4 and 8 bits per pixel the file has the standard palette of its depth and each pixel
    the nearest entry; 16 bits keep the top 5, 6 and 5 bits of red, green and blue. ``output``
    is a path, whose file is replaced whole or not at all, or a binary file object, which is
    written until it has taken every byte (a non-blocking one that takes no more raises
    ``BlockingIOError``, whose ``characters_written`` says how many it took). With
    ``channels="bgr"`` the array's pixels are blue first, as OpenCV keeps them.
    """
    depth = _int(bit_depth, "bit_depth")
    if depth not in (1, 4, 8, 16, 24, 32):
        raise ValueError(f"bit_depth must be 1, 4, 8, 16, 24 or 32, not {depth}")
    bgr = _blue_first(channels)
    if _is_path(output):
        _dorvane.write_bmp_path(array, _path(output, "output"), depth, bgr)
    elif hasattr(output, "write"):
        _write_to(output, _dorvane.encode_bmp(array, depth, bgr))  # type: ignore[arg-type]
    else:
        raise TypeError("output must be a path (str or os.PathLike) or a binary file object; "
                        "bytes are a file's contents here")


def header(source: Source) -> dict[str, int]:
    """Both headers of a BMP file, field by field under their published names.

    ``bfType`` ... ``bfOffBits`` of the file header, ``biSize`` ... ``biClrImportant`` of the
    info header, as the file holds them. ``source`` as for :func:`read_bmp`; a file object is
    read for the 54 bytes of the headers only.
    """
    if _is_path(source):
        return _dorvane.header_path(_path(source, "source"))
    if hasattr(source, "read"):
        return _dorvane.header_bytes(_read_from(source, 54))  # type: ignore[arg-type]
    if isinstance(source, (bytes, bytearray, memoryview)):
        return _dorvane.header_bytes(source)
    raise TypeError("source must be a path, a bytes-like object or a binary file object")


def gray(rgb: np.ndarray, *, channels: Channels = "rgb") -> np.ndarray:
    """The ``(H, W)`` gray picture of an RGB array: floor(0.587 G + 0.299 R + 0.114 B).

    With ``channels="bgr"`` the array's pixels are blue first, as OpenCV keeps them; an array
    that is, given as RGB, would have red and blue weighed the other way round.
    """
    return _dorvane.gray(rgb, _blue_first(channels))


def blur_gray(gray: np.ndarray, *, out: Optional[np.ndarray] = None) -> np.ndarray:
    """The tool's 5 x 5 Gaussian blur of an ``(H, W)`` gray array, exactly.

    The blur runs in place, column by column and down each column, each window seeing the cells
    already smoothed before it; a frame two pixels wide keeps its values. The result goes into
    ``out`` when given (``out=gray`` blurs in place) or a new array, and is returned.
    """
    return _dorvane.blur_gray(gray, out)


def edges(gray: np.ndarray) -> np.ndarray:
    """The tool's edge map of an ``(H, W)`` gray array: 0 on edges, 255 elsewhere.

    The same stages as ``bmpblur edges``, the blur included, so that
    ``edges(gray(read_bmp(f)))`` holds the pixels of the tool's edge map of ``f``.
    """
    return _dorvane.edges(gray)


def scale(
    rgb: np.ndarray, mode: Literal["P", "W", "H", "F", "p", "w", "h", "f"], value: int
) -> np.ndarray:
    """Resize an RGB array by bilinear resampling, as ``bmpblur scale`` does.

    ``mode``, in either case: ``'P'`` takes ``value`` as a percentage, ``'W'`` as the new width,
    ``'H'`` as the new height, ``'F'`` as the new length of the longer side. The other side keeps
    the aspect ratio; sides are floored and at least 1.
    """
    if not isinstance(mode, str) or len(mode) != 1 or mode.upper() not in "PWHF":
        raise ValueError("mode must be one of 'P', 'W', 'H' and 'F'")
    number = _int(value, "value")
    if not -(2**31) <= number < 2**31:
        raise ValueError("value must fit in 32 bits")
    return _dorvane.scale(rgb, mode, number)
