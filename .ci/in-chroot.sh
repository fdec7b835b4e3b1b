#!/bin/bash
# Runs inside the Debian sid chroot (copied to /build/in-chroot.sh by .ci/run).
set -euo pipefail
cd /build/main

if ! command -v python3.14 >/dev/null; then
    echo "[ci] python3.14 not found in the chroot" >&2
    exit 1
fi
echo "[ci] $(python3.14 -VV)"
echo "[ci] default python3 here: $(python3 -V 2>&1 || echo none)"

if ! python3.14 -c 'import pytest, hypothesis' 2>/dev/null; then
    echo "[ci] pytest/hypothesis not importable for python3.14; installing with pip"
    python3.14 -m pip install --break-system-packages pytest hypothesis
fi
python3.14 -c 'import pytest, hypothesis, scikit_build_core as s; print("[ci] pytest", pytest.__version__, "hypothesis", hypothesis.__version__, "scikit-build-core", s.__version__)'

if command -v ccache >/dev/null; then
    export CMAKE_C_COMPILER_LAUNCHER=ccache CMAKE_CXX_COMPILER_LAUNCHER=ccache
    export CCACHE_DIR=/var/cache/pelm-ccache CCACHE_MAXSIZE=2G
fi
g++ --version | head -n1
if command -v ccache >/dev/null; then ccache -z >/dev/null 2>&1 || true; fi

read -r -a extra <<<"${PELM_CI_PYTEST_ARGS:-}"
echo "[ci] + python3.14 -m pip install --no-build-isolation --break-system-packages ."
python3.14 -m pip install --no-build-isolation --break-system-packages .
echo "[ci] + python3.14 -X dev -m pytest ${extra[*]:-}"
rc=0
python3.14 -X dev -m pytest "${extra[@]}" 2>&1 | tee /build/pytest.log || rc=$?
if ((rc == 5)); then
    echo "[ci] pytest collected no tests"
    exit 1
fi
if command -v ccache >/dev/null; then
    echo "[ci] ccache: $(ccache --show-stats 2>/dev/null | grep -iE '^ *(hits|misses):' | head -n 2 | tr -s ' ' | tr '\n' ' ')"
fi
exit "$rc"
