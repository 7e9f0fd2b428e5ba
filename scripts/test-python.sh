#!/usr/bin/env bash
# The Python leg of the test command: builds the module dr with pip from this checkout (no
# package index) into a virtual environment of Debian's own interpreter, then runs its
# pytest suite there. A machine that cannot get the packages skips the leg with a message.
# DRTOOL names the drtool whose bytes the suite compares with (default: build/release).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
source "$root/scripts/packages.sh"

# Debian's interpreter, not whatever python3 comes first on the PATH.
python=/usr/bin/python3
if ! (ensure_packages python3=$python python3-venv=/usr/share/doc/python3-venv \
    python3-dev=/usr/bin/python3-config python3-setuptools=/usr/share/doc/python3-setuptools \
    python3-wheel=/usr/share/doc/python3-wheel python3-pip=/usr/share/doc/python3-pip \
    python3-pybind11=/usr/share/doc/python3-pybind11 pybind11-dev=/usr/include/pybind11/pybind11.h \
    python3-pytest=/usr/share/doc/python3-pytest python3-hypothesis=/usr/share/doc/python3-hypothesis \
    libexpat1-dev=/usr/include/expat.h rapidjson-dev=/usr/include/rapidjson/reader.h); then
  echo "== Python leg skipped: its Debian packages could not be installed"
  exit 0
fi

venv="$root/build/python-venv"
# setuptools judges its objects by their sources' times alone, not the headers they include:
# build afresh.
rm -rf "$venv" "$root/python/build"
mkdir -p "$root/build"
"$python" -m venv --system-site-packages "$venv"
echo "== Python: pip install ./python into $venv"
(cd "$root/build" && DR_BUILD_JOBS=$(nproc 2>/dev/null || echo 2) \
  "$venv/bin/pip" install --no-index --no-build-isolation --quiet "$root/python")
echo "== Python: pytest"
# From outside the checkout, so that the installed module is the one imported.
cd "$root/build"
DRTOOL=${DRTOOL:-$root/build/release/tools/drtool} \
  "$venv/bin/python" -m pytest -q -p no:cacheprovider "$root/python/tests"
