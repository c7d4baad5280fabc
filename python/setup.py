"""Builds the tavrine package: the extension module with the library compiled
into it from the repository's sources (src/, include/ and the xxHash header
in third_party/), so that no installed libtavrine is needed.

pip builds the package in place (pip install ./python from the top of the
repository), which is what lets this file reach the sources beside it.
"""

import os
import re
import sys
from pathlib import Path

from pybind11.setup_helpers import ParallelCompile, Pybind11Extension, build_ext
from setuptools import setup

HERE = Path(__file__).resolve().parent
ROOT = HERE.parent
# The library's stage directories (src/CMakeLists.txt): every source below them.
LIBRARY_DIRECTORIES = ("api", "container", "entropy", "interface", "platform", "stream", "transform")
NEEDED = ("include/tavrine.h", "include/tavrine_api.h", "src/api", "third_party/xxhash/xxhash.h")


def check_repository() -> None:
    missing = [path for path in NEEDED if not (ROOT / path).exists()]
    if missing:
        sys.exit(
            "tavrine's Python package compiles the library from the repository's sources, "
            f"which are not beside {HERE} (missing: {', '.join(missing)}). Build it from a "
            "complete checkout, in place: pip install ./python at the top of the repository "
            "(pip 21.3 or later builds in place; no sdist)."
        )


def library_version() -> str:
    header = (ROOT / "include" / "tavrine.h").read_text(encoding="utf-8")
    parts = [re.search(rf"#define TAVRINE_VERSION_{part} (\d+)", header) for part in ("MAJOR", "MINOR", "PATCH")]
    if not all(parts):
        sys.exit("include/tavrine.h states no TAVRINE_VERSION_MAJOR, _MINOR and _PATCH")
    return ".".join(match.group(1) for match in parts if match)


def library_sources() -> list:
    # Absolute paths: the objects then land inside the build directory.
    sources = []
    for directory in LIBRARY_DIRECTORIES:
        sources += sorted(str(path) for path in (ROOT / "src" / directory).rglob("*.cpp"))
    return sources


class BuildExtension(build_ext):
    """Compiles the library as its own release build does: -O3, and without
    the interpreter's -fwrapv, which would keep the compiler from some of the
    loop optimisations the codec's speed relies on."""

    DROPPED = re.compile(r"^(-O\d?|-Os|-g\d?|-fwrapv)$")

    def build_extensions(self) -> None:
        if self.compiler.compiler_type == "unix":
            self.compiler.compiler_so = [flag for flag in self.compiler.compiler_so if not self.DROPPED.match(flag)]
        super().build_extensions()


check_repository()
# The sources compile in parallel: TAVRINE_BUILD_JOBS processes, all cores by default.
ParallelCompile("TAVRINE_BUILD_JOBS", default=0).install()

extension = Pybind11Extension(
    "tavrine._tavrine",
    sorted(str(path) for path in (HERE / "ext").glob("*.cpp")) + library_sources(),
    include_dirs=[str(ROOT / "include"), str(ROOT / "src"), str(ROOT / "third_party" / "xxhash")],
    # The library's tavrine_ and ZOLT_ functions stay visible in the module,
    # so that ctypes can time them on the very code the module runs
    # (bench/); the module binds its own calls to them.
    define_macros=[("TAVRINE_BUILDING", "1"), ("NDEBUG", "1")],
    extra_compile_args=["-O3"] if os.name == "posix" else [],
    extra_link_args=["-Wl,-Bsymbolic"] if sys.platform.startswith("linux") else [],
    cxx_std=20,
)

setup(
    version=library_version(),
    ext_modules=[extension],
    cmdclass={"build_ext": BuildExtension},
)
