"""Builds intset._intset with CMake (the library compiled in, the Python module only) for setuptools.

The project's metadata is in pyproject.toml; this adds the extension module, which CMake configures with
NUMBRELLE_BUILD_PYTHON on, everything else off, for the interpreter that runs the build.
"""

import subprocess
import sys
from pathlib import Path

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

SOURCE = Path(__file__).resolve().parent


class CMakeExtension(Extension):
    def __init__(self, name):
        super().__init__(name, sources=[])


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        target = Path(self.get_ext_fullpath(ext.name)).resolve()
        build = Path(self.build_temp).resolve() / "cmake"
        subprocess.run(["cmake", "-S", str(SOURCE), "-B", str(build), "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Release",
                        "-DNUMBRELLE_BUILD_PYTHON=ON", "-DNUMBRELLE_BUILD_TESTS=OFF",
                        "-DNUMBRELLE_BUILD_BENCHMARKS=OFF", "-DNUMBRELLE_BUILD_APP=OFF",
                        "-DNUMBRELLE_BUILD_TOOLS=OFF", "-DNUMBRELLE_INSTALL=OFF", "-DBUILD_SHARED_LIBS=OFF",
                        f"-DPython_EXECUTABLE={sys.executable}"], check=True)
        subprocess.run(["cmake", "--build", str(build), "--target", "_intset"], check=True)
        built = build / "python" / "intset" / target.name
        target.parent.mkdir(parents=True, exist_ok=True)
        self.copy_file(str(built), str(target))


setup(ext_modules=[CMakeExtension("intset._intset")], cmdclass={"build_ext": CMakeBuild})
