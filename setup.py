"""Builds the extension kel._kel from kel's sources and python/*.cpp: the
library's source list is read from kel/CMakeLists.txt (kel_core), so that
the two builds cannot drift apart. Configuration is in pyproject.toml."""

import os
import re

from setuptools import Extension, setup

ROOT = os.path.dirname(os.path.abspath(__file__))


def read(path):
    with open(os.path.join(ROOT, path)) as f:
        return f.read()


def core_sources():
    block = re.search(r"add_library\(kel_core\s+([^)]*)\)", read("kel/CMakeLists.txt")).group(1)
    return ["kel/" + name for name in block.split()]


def version():
    header = read("kel/kel.h")
    parts = [re.search(r"#define KEL_VERSION_%s (\d+)" % p, header).group(1) for p in ("MAJOR", "MINOR", "PATCH")]
    return ".".join(parts)


def pybind11_include():
    try:
        import pybind11

        return [pybind11.get_include()]
    except ImportError:  # Debian's pybind11-dev puts the headers in /usr/include
        return []


module = Extension(
    "kel._kel",
    sources=core_sources() + ["python/%s.cpp" % n for n in ("arrays", "glb", "load", "model", "module")],
    include_dirs=[ROOT, os.path.join(ROOT, "python")] + pybind11_include(),
    # As python/CMakeLists.txt: one layout of pybind11's classes in every source.
    define_macros=[("PYBIND11_DETAILED_ERROR_MESSAGES", None)],
    extra_compile_args=["-std=c++17", "-O2", "-fvisibility=hidden", "-pthread"],
    extra_link_args=["-pthread"],
    language="c++",
)

# Kept apart from the CMake build directories.
setup(version=version(), ext_modules=[module], options={"build": {"build_base": "build-python"}})
