"""Builds the extension dorvane._dorvane through the project's CMake build.

The codec and the pipeline are built with the project's own flags (exact floating point, the
vector copies chosen at run time), so the module computes what the tool computes. Needs cmake,
a C++20 compiler, pybind11 (Debian: pybind11-dev) and Python's headers (python3-dev).
"""

import importlib.util
import pathlib
import re
import shutil
import subprocess
import sys

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

PROJECT = pathlib.Path(__file__).resolve().parent.parent
# The version is the project's, said once, in its CMakeLists.txt; the module gets it from CMake.
VERSION = re.search(r"project\(DorvaneBMPBlur VERSION ([0-9.]+)",
                    (PROJECT / "CMakeLists.txt").read_text()).group(1)


def missing_build_tools() -> list:
    """What an offline build (pip's --no-build-isolation) needs and this Python lacks: a wheel
    builder (setuptools from 70.1 on has its own, older ones need the package wheel) and numpy,
    which the package imports."""
    missing = []
    if importlib.util.find_spec("setuptools.command.bdist_wheel") is None and \
            importlib.util.find_spec("wheel") is None:
        missing.append("wheel")
    if importlib.util.find_spec("numpy") is None:
        missing.append("numpy")
    return missing


# Said at once, instead of pip's "invalid command 'bdist_wheel'" or an import error after the build.
if missing_build_tools():
    sys.exit(f"dorvane: {sys.executable} lacks {' and '.join(missing_build_tools())}, which the "
             "offline build needs; use Debian's /usr/bin/python3 (python3-numpy, python3-wheel) "
             "or install them into this Python first")


class CMakeBuild(build_ext):
    def build_extension(self, ext: Extension) -> None:
        destination = pathlib.Path(self.get_ext_fullpath(ext.name)).resolve().parent
        build = pathlib.Path(self.build_temp).resolve() / "cmake"
        configure = [
            "cmake", "-S", str(PROJECT), "-B", str(build),
            "-DCMAKE_BUILD_TYPE=Release",
            "-DDORVANE_BUILD_TESTS=OFF",
            "-DDORVANE_BUILD_PYTHON=ON",
            f"-DPython_EXECUTABLE={sys.executable}",
            f"-DCMAKE_LIBRARY_OUTPUT_DIRECTORY={destination}",
        ]
        try:  # pybind11 from a package index keeps its CMake files in the Python package
            import pybind11

            configure.append(f"-Dpybind11_DIR={pybind11.get_cmake_dir()}")
        except ImportError:
            pass  # Debian's pybind11-dev puts them where CMake looks
        if shutil.which("ninja"):
            configure += ["-G", "Ninja"]
        subprocess.run(configure, check=True)
        # CMAKE_BUILD_PARALLEL_LEVEL, when set, says how many compilers run at once.
        subprocess.run(["cmake", "--build", str(build), "--target", "_dorvane"], check=True)


# Everything the build makes goes into the project's build folder, so that the checkout keeps only
# its own files.
BUILD = PROJECT / "build" / "python"
BUILD.mkdir(parents=True, exist_ok=True)
setup(version=VERSION, ext_modules=[Extension("dorvane._dorvane", sources=[])],
      cmdclass={"build_ext": CMakeBuild},
      options={"build": {"build_base": str(BUILD)}, "egg_info": {"egg_base": str(BUILD)}})
