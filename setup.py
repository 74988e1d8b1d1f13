"""Builds the qelstats extension with the project's own CMake build and
packages it with the libraries it loads (beside it, found through $ORIGIN)."""

import glob
import os
import shutil
import subprocess
import sys

from setuptools import Distribution, setup
from setuptools.command.build_py import build_py

ROOT = os.path.dirname(os.path.abspath(__file__))


class CMakeBuild(build_py):
    def run(self):
        build = os.path.join(ROOT, "build-pip")
        subprocess.check_call(["cmake", "-S", ROOT, "-B", build, "-DCMAKE_BUILD_TYPE=Release",
                               "-DQEL_BUILD_TESTS=OFF", "-DQEL_BUILD_GUI=OFF", "-DQEL_PYTHON=ON",
                               "-DPython3_EXECUTABLE=" + sys.executable])
        subprocess.check_call(["cmake", "--build", build, "--target", "qelstats_ext", "qelstats_py",
                               "-j", str(os.cpu_count() or 2)])
        super().run()
        target = os.path.join(self.build_lib, "qelstats")
        for lib in glob.glob(os.path.join(build, "python", "qelstats", "*.so")) + \
                glob.glob(os.path.join(build, "bin", "lib*.so.*")):
            shutil.copy2(lib, target)


class BinaryDistribution(Distribution):
    """The wheel holds a compiled extension: tag it for this platform."""

    def has_ext_modules(self):
        return True


setup(packages=["qelstats"], package_dir={"qelstats": "python/qelstats"}, cmdclass={"build_py": CMakeBuild},
      distclass=BinaryDistribution, zip_safe=False)
