"""python_calls.py N ROUNDS SOURCE OUTPUT LIBRARY: the Python row of bench/compare.

In each of ROUNDS processes, alternately, N times after a warm-up each: the job through dorvane
(read_bmp, gray, blur_gray, write_bmp at 24 bpp) against the same job through OpenCV's cv2
(imread, cvtColor to gray, GaussianBlur 5 x 5, back to three channels, imwrite), and
dorvane.blur_file against the C entry BMPBlur of the shared library LIBRARY called through
ctypes; the edge map from file to file (dorvane.edges_file against the cv2 job with Canny 65/80
after the blur, inverted), on a gray array (dorvane.edges against cv2.GaussianBlur and cv2.Canny)
and scaling of the RGB array at 50 and 150 per cent (dorvane.scale "P" against cv2.resize with
INTER_LINEAR to the same size). Prints the median and 90th percentile of each over all the calls
in milliseconds, and the ratios of the medians. Several processes, as a process keeps where the system placed its
threads and memory: two runs of one job differ by more than its calls within one run do.
"""

import ctypes
import json
import os
import statistics
import subprocess
import sys
import time

import cv2
import dorvane

# Each of our jobs beside its peer, for the ratios.
PAIRS = [("dorvane", "cv2"), ("blur_file", "BMPBlur"), ("edges_file", "cv2 edges file"),
         ("edges", "cv2 edges"), ("scale 50", "cv2 resize 50"), ("scale 150", "cv2 resize 150")]


def ours(source, output):
    dorvane.write_bmp(dorvane.blur_gray(dorvane.gray(dorvane.read_bmp(source))), output, 24)


def opencv(source, output):
    gray = cv2.cvtColor(cv2.imread(source, cv2.IMREAD_COLOR), cv2.COLOR_BGR2GRAY)
    blurred = cv2.GaussianBlur(gray, (5, 5), 0)
    cv2.imwrite(output, cv2.cvtColor(blurred, cv2.COLOR_GRAY2BGR))


def opencv_edges(gray):
    return cv2.bitwise_not(cv2.Canny(cv2.GaussianBlur(gray, (5, 5), 0), 65, 80))


def opencv_edges_file(source, output):
    gray = cv2.cvtColor(cv2.imread(source, cv2.IMREAD_COLOR), cv2.COLOR_BGR2GRAY)
    cv2.imwrite(output, cv2.cvtColor(opencv_edges(gray), cv2.COLOR_GRAY2BGR))


def opencv_resize(rgb, percent):
    """cv2.resize to the size that scale's "P" mode gives."""
    height, width = rgb.shape[:2]
    size = (max(1, int(width * percent * 0.01)), max(1, int(height * percent * 0.01)))
    return cv2.resize(rgb, size, interpolation=cv2.INTER_LINEAR)


def one_round(calls, source, output, library):
    """The times of every call of one process, by job."""
    entry = ctypes.CDLL(library).BMPBlur
    entry.argtypes = [ctypes.c_char_p, ctypes.c_char_p]
    entry.restype = ctypes.c_int32

    def utf16(path):
        return (path + "\0").encode("utf-16-le")

    def c_call(source_, output_):
        if entry(utf16(source_), utf16(output_)) != 0:
            raise RuntimeError("BMPBlur failed")

    rgb = dorvane.read_bmp(source)
    gray = dorvane.gray(rgb)
    jobs = {"dorvane": ours, "cv2": opencv, "blur_file": dorvane.blur_file, "BMPBlur": c_call,
            "edges_file": dorvane.edges_file, "cv2 edges file": opencv_edges_file,
            "edges": lambda *_: dorvane.edges(gray), "cv2 edges": lambda *_: opencv_edges(gray),
            "scale 50": lambda *_: dorvane.scale(rgb, "P", 50),
            "cv2 resize 50": lambda *_: opencv_resize(rgb, 50),
            "scale 150": lambda *_: dorvane.scale(rgb, "P", 150),
            "cv2 resize 150": lambda *_: opencv_resize(rgb, 150)}
    times = {name: [] for name in jobs}
    for call in range(calls + 1):
        for name, job in jobs.items():
            if os.path.exists(output):
                os.unlink(output)  # a new file every call, as the C programs do
            start = time.perf_counter()
            job(source, output)
            if call > 0:
                times[name].append((time.perf_counter() - start) * 1000)
    return times


def main():
    if sys.argv[1] == "--round":
        calls, source, output, library = int(sys.argv[2]), *sys.argv[3:6]
        print(json.dumps(one_round(calls, source, output, library)))
        return
    calls, rounds = sys.argv[1], int(sys.argv[2])
    times = {}
    for _ in range(rounds):
        run = subprocess.run([sys.executable, __file__, "--round", calls, *sys.argv[3:6]],
                             check=True, capture_output=True, text=True)
        for name, values in json.loads(run.stdout).items():
            times.setdefault(name, []).extend(values)
    for name, values in times.items():
        values.sort()
        p90 = values[max(0, -(-9 * len(values) // 10) - 1)]
        print(f"{name:15} {statistics.median(values):8.1f} {p90:8.1f}")
    for ours_, theirs in PAIRS:
        ratio = statistics.median(times[ours_]) / statistics.median(times[theirs])
        print(f"{ours_} / {theirs} {ratio:.2f}")


if __name__ == "__main__":
    main()
