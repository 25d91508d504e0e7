"""Builds the kxpre Python package with the C libraries (and kxpipe) inside it.

`pip install ./python` (or `python3 -m build --no-isolation --wheel python`)
configures and builds the libraries with CMake from the source tree this
folder belongs to, installs them into a scratch prefix and copies them into
the package as kxpre/_lib.  The installed libraries find each other through
their relative runtime path ($ORIGIN), so the package needs no environment
variables.  KXPRE_BUILD_DIR=<a configured and built CMake build folder>
takes the libraries from that build instead of building them again.
"""

import glob
import os
import shutil
import subprocess
import tempfile

from setuptools import setup
from setuptools.command.build_py import build_py
from setuptools.dist import Distribution

try:
    from wheel.bdist_wheel import bdist_wheel
except ImportError:  # building without wheel: no wheel tag to adjust
    bdist_wheel = None

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.dirname(HERE)
# Libraries the package cannot work without; every other installed libkx*
# (threads, companion library, ...) is shipped too.
REQUIRED = ("kximage", "kxpre")


def run(*command):
    print("kxpre:", " ".join(command), flush=True)
    subprocess.check_call(command)


def built_tree(scratch):
    """A CMake build folder holding the libraries: the given one or a new build."""
    given = os.environ.get("KXPRE_BUILD_DIR")
    if given:
        if not os.path.isfile(os.path.join(given, "CMakeCache.txt")):
            raise SystemExit("kxpre: KXPRE_BUILD_DIR=%s is not a CMake build folder" % given)
        return given
    if not os.path.isfile(os.path.join(SOURCE, "CMakeLists.txt")):
        raise SystemExit("kxpre: the C sources are not next to this folder (%s); build from a source "
                         "checkout or set KXPRE_BUILD_DIR to a built CMake folder" % SOURCE)
    build = os.path.join(scratch, "build")
    run("cmake", "-S", SOURCE, "-B", build, "-DCMAKE_BUILD_TYPE=Release", "-DKX_BUILD_TESTS=OFF",
        "-DKX_BUILD_BENCH=OFF")
    run("cmake", "--build", build, "-j", os.environ.get("KXPRE_JOBS", str(min(os.cpu_count() or 1, 4))))
    return build


class BuildWithLibraries(build_py):
    """build_py that also puts the C libraries into kxpre/_lib."""

    def run(self):
        super().run()
        target = os.path.join(self.build_lib, "kxpre", "_lib")
        with tempfile.TemporaryDirectory(prefix="kxpre-build-") as scratch:
            prefix = os.path.join(scratch, "prefix")
            run("cmake", "--install", built_tree(scratch), "--prefix", prefix)
            shutil.rmtree(target, ignore_errors=True)
            os.makedirs(target)
            installed = {os.path.basename(p): p for p in glob.glob(os.path.join(prefix, "lib*", "libkx*.so.0"))}
            for name in REQUIRED:
                if "lib%s.so.0" % name not in installed:
                    raise SystemExit("kxpre: the build installed no lib%s.so.0" % name)
            for soname, path in sorted(installed.items()):
                # The soname the others link to, as a plain file (a wheel has no symbolic links).
                shutil.copyfile(os.path.realpath(path), os.path.join(target, soname))
            # kxpipe, which kxpre.batch runs, beside the libraries (its
            # runtime path includes its own folder).
            kxpipe = os.path.join(prefix, "bin", "kxpipe")
            if os.path.isfile(kxpipe):
                shutil.copy2(kxpipe, os.path.join(target, "kxpipe"))


class BinaryDistribution(Distribution):
    """The package carries machine code: its wheel is tied to the platform."""

    def has_ext_modules(self):
        return True


commands = {"build_py": BuildWithLibraries}
if bdist_wheel is not None:

    class Wheel(bdist_wheel):
        """Any Python 3 on this platform: the libraries are loaded with ctypes."""

        def get_tag(self):
            return ("py3", "none", super().get_tag()[2])

    commands["bdist_wheel"] = Wheel

setup(cmdclass=commands, distclass=BinaryDistribution)
