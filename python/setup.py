"""Builds the wheel: the pure-Python binding plus its own copies of the
self-contained libquenfold_log.so.0 and libquenfold_log_ext.so.0, which the
binding loads first.

The library comes from an existing CMake build directory when
QUENFOLD_LOG_BUILD_DIR names one (its quenfold_log target is brought up to
date), otherwise from a fresh release build of the checkout this directory
belongs to, configured as scripts/run-tests does (scripts/setup-deps.sh
installs what is missing).
"""

import os
import pathlib
import re
import shutil
import subprocess

from setuptools import setup
from setuptools.command.build_py import build_py
try:
    from wheel.bdist_wheel import bdist_wheel
except ImportError:  # setuptools before 70.1 builds wheels through the wheel package
    import sys
    raise SystemExit(
        f"building quenfold_log needs the 'wheel' package, which {sys.executable} cannot import. "
        "On Debian, make the virtual environment with Debian's own interpreter, whose python3-wheel "
        "it then sees: /usr/bin/python3 -m venv --system-site-packages .venv "
        "(or install 'wheel' into this interpreter where PyPI is reachable).") from None

HERE = pathlib.Path(__file__).resolve().parent
ROOT = HERE.parent
SONAME = "libquenfold_log.so.0"
EXT_SONAME = "libquenfold_log_ext.so.0"


def project_version() -> str:
    text = (ROOT / "CMakeLists.txt").read_text()
    match = re.search(r"project\(\s*quenfold_log\s+VERSION\s+([0-9.]+)", text)
    if not match:
        raise SystemExit(f"no project(quenfold_log VERSION ...) in {ROOT / 'CMakeLists.txt'}")
    return match.group(1)


def built_libraries():
    build_dir = os.environ.get("QUENFOLD_LOG_BUILD_DIR")
    if build_dir:
        build = pathlib.Path(build_dir).resolve()
    else:
        build = HERE / "build" / "cmake"
        subprocess.run(
            ["bash", "-c", 'source scripts/common.sh && configure_build "$1" '
             "-DCMAKE_BUILD_TYPE=Release -DQUENFOLD_BUILD_TESTS=OFF -DQUENFOLD_BUILD_BENCH=OFF",
             "configure", str(build)], cwd=ROOT, check=True)
    subprocess.run(["cmake", "--build", str(build), "--target", "quenfold_log", "quenfold_log_ext"], check=True)
    libraries = {}
    for soname in (SONAME, EXT_SONAME):
        library = build / soname
        if not library.exists():
            raise SystemExit(f"{library} was not built")
        libraries[soname] = library.resolve()
    return libraries


class BuildWithLibrary(build_py):
    """Adds the libraries and the version to the package being built."""

    def run(self):
        super().run()
        package = pathlib.Path(self.build_lib) / "quenfold_log"
        (package / "_lib").mkdir(parents=True, exist_ok=True)
        for soname, library in built_libraries().items():
            shutil.copyfile(library, package / "_lib" / soname)
        (package / "_version.py").write_text(
            f'"""The package\'s version: the library\'s, from its CMake project()."""\n\n'
            f'__version__ = "{project_version()}"\n')


class PlatformWheel(bdist_wheel):
    """A wheel for this platform (it carries a shared library) that any
    Python 3 can use (the binding itself is pure Python over ctypes)."""

    def finalize_options(self):
        super().finalize_options()
        self.root_is_pure = False

    def get_tag(self):
        _, _, platform = super().get_tag()
        return "py3", "none", platform


setup(version=project_version(), cmdclass={"build_py": BuildWithLibrary, "bdist_wheel": PlatformWheel})
