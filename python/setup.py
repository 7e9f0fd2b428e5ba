"""Builds the Python module dr from a checkout: `pip install --no-index --no-build-isolation ./python`.

The extension is compiled together with the library sources it uses (dr, the typelib
compiler and the JSON records), so nothing but Debian's pybind11, setuptools, expat and
RapidJSON is needed: no CMake run and no package index.
"""
import glob
import os

from pybind11.setup_helpers import ParallelCompile, Pybind11Extension, build_ext
from setuptools import setup

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)


def library_sources():
    """Every source of the library but the other platform's, sorted."""
    sources = glob.glob(os.path.join(ROOT, "dr", "**", "*.cc"), recursive=True)
    return sorted(s for s in sources if not s.endswith(os.path.join("platform", "windows.cc")))


if not os.path.exists(os.path.join(ROOT, "dr", "dr.h")):
    raise SystemExit("setup.py builds from a checkout: the library sources are not beside python/")

ParallelCompile("DR_BUILD_JOBS").install()

module = Pybind11Extension(
    "dr._dr",
    [os.path.join(HERE, "src", "module.cc"), os.path.join(HERE, "src", "records.cc")] + library_sources(),
    include_dirs=[ROOT],
    libraries=["expat"],
    cxx_std=20,
    extra_compile_args=["-O3", "-Wall", "-Wextra"],
)

setup(
    name="dr",
    version="1.0",
    description="Records of typelib-described types: encode, decode and render them",
    packages=["dr"],
    package_dir={"dr": os.path.join("dr")},
    package_data={"dr": ["__init__.pyi", "py.typed"]},
    ext_modules=[module],
    cmdclass={"build_ext": build_ext},
    python_requires=">=3.9",
    zip_safe=False,
)
