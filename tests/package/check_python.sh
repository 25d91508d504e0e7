#!/usr/bin/env bash
# The Python package as a user gets it: `pip install` of the python folder
# and `python3 -m build --wheel` then `pip install` of the wheel, each into a
# fresh virtual environment (with the system's numpy), offline; then, with a
# clean environment and away from the sources, the package imports, loads
# the libraries it ships and works.  The libraries come from BUILD_DIR
# (KXPRE_BUILD_DIR) so that CMake does not build them a second time.
#   check_python.sh BUILD_DIR SOURCE_DIR VERSION PYTHON [PRELOAD]
set -euo pipefail
build=$1 src=$2 version=$3 python=$4 preload=${5:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "check_python: $*" >&2; exit 1; }

# A copy of the package sources, so that the build leaves nothing in the tree.
mkdir "$work/src"
cp -rL "$src/python/pyproject.toml" "$src/python/setup.py" "$src/python/kxpre" "$work/src/"
tool=(env -i PATH=/usr/bin:/bin HOME="$work" KXPRE_BUILD_DIR="$build" PIP_NO_CACHE_DIR=1 PIP_NO_INDEX=1
      PIP_DISABLE_PIP_VERSION_CHECK=1)
run=(env -i PATH=/usr/bin:/bin)
if [ -n "$preload" ]; then  # a sanitizer build: its runtime goes first into the interpreter
  run+=(LD_PRELOAD="$preload" ASAN_OPTIONS=detect_leaks=0)
fi

cat >"$work/smoke.py" <<PY
import importlib.metadata, os, sys
import numpy as np
import kxpre
here = os.path.dirname(kxpre.__file__)
assert kxpre.lib._name.startswith(os.path.join(here, "_lib")), kxpre.lib._name
assert importlib.metadata.version("kxpre") == "$version", importlib.metadata.version("kxpre")
a = np.full((20, 30), 200, np.uint8)
np.testing.assert_array_equal(kxpre.invert(a), 55)
kxpre.write("page.tif", [a, a > 100])
np.testing.assert_array_equal(kxpre.read("page.tif", page=1), 1)
import subprocess
from kxpre import batch
assert batch.find_kxpipe() == os.path.join(here, "_lib", "kxpipe"), batch.find_kxpipe()
subprocess.run([batch.find_kxpipe(), "--page", "1", "page.tif", "inverted.png", "invert"], check=True)
# The companion library, its manifest-built functions and its kxpipe steps.
import kxpre.extra as kx
assert kx.lib._name.startswith(os.path.join(here, "_lib")), kx.lib._name
np.testing.assert_array_equal(kx.despeckle(np.eye(5, dtype=np.uint8), 8, 6), 0)
subprocess.run([batch.find_kxpipe(), "--page", "1", "page.tif", "levelled.png", "bin", "deskew", "0.5", "1"], check=True)
print("kxpre", importlib.metadata.version("kxpre"), "from", here)
PY

check() {  # check VENV: the smoke test from a folder without sources
  (cd "$work" && "${run[@]}" "$1/bin/python" smoke.py)
}

# 1. pip install of the folder.
"$python" -m venv --system-site-packages "$work/venv1"
"${tool[@]}" "$work/venv1/bin/pip" install -q --no-build-isolation "$work/src"
check "$work/venv1"

# 2. A wheel, installed into another environment.
"${tool[@]}" "$python" -m build --no-isolation --wheel --outdir "$work/dist" "$work/src" >/dev/null
wheel=$(ls "$work"/dist/*.whl)
case "$(basename "$wheel")" in
  kxpre-"$version"-py3-none-linux_*.whl) ;;
  *) fail "unexpected wheel name $(basename "$wheel")" ;;
esac
"$python" -m venv --system-site-packages "$work/venv2"
"${tool[@]}" "$work/venv2/bin/pip" install -q "$wheel"
check "$work/venv2"
echo "python package works from pip install and from the wheel"
