#!/usr/bin/env bash
# Reference-leak check: the whole test suite on Debian's debug build of
# CPython 3.11 (python3.11-dbg, which has sys.gettotalrefcount), with every
# quick test run 3 + 3 times by .ci/refleak_plugin.py; a test whose total
# reference count grows on each of the last 3 runs fails.
#
#   bash .ci/refleak.sh [REPO_ROOT]        (default: the parent of .ci/)
#
# Knobs: PELM_REFLEAK_PYTHON (debug interpreter, default python3.11-dbg),
# PELM_REFLEAK_WORK (venv and build dir, default $PELM_CI_CACHE/refleak),
# PELM_REFLEAK_WARMUPS / _REPEATS / _MAX_SECONDS (see the plugin),
# PELM_REFLEAK_PYTEST_ARGS (extra pytest arguments).
set -euo pipefail

CI_DIR="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
ROOT="$(cd "${1:-$CI_DIR/..}" && pwd)"
CACHE="${PELM_CI_CACHE:-/var/cache/pelm-ci}"
WORK="${PELM_REFLEAK_WORK:-$CACHE/refleak}"
DBG_PY="${PELM_REFLEAK_PYTHON:-python3.11-dbg}"
read -r -a PYTEST_EXTRA <<<"${PELM_REFLEAK_PYTEST_ARGS:-}"

CHECK=refleak
# shellcheck source=.ci/checks.sh
source "$CI_DIR/checks.sh"

# ------------------------------------------------------------------ packages
stage "system packages"
need=()
for p in g++ pkg-config libre2-dev binutils; do deb_installed "$p" || need+=("$p"); done
if [[ "$DBG_PY" == python3.11-dbg ]]; then
    for p in python3.11-dbg python3.11-dev python3.11-venv; do deb_installed "$p" || need+=("$p"); done
fi
if ((${#need[@]})); then
    echo "installing: ${need[*]}"
    apt_install "${need[@]}"
fi
DBG_PY="$(command -v "$DBG_PY")"
"$DBG_PY" -c 'import sys; assert hasattr(sys, "gettotalrefcount"), sys.executable + " is no debug build"'
echo "debug interpreter: $DBG_PY ($("$DBG_PY" -c 'import sys, sysconfig; print(sys.version.split()[0], sysconfig.get_config_var("EXT_SUFFIX"))'))"
use_ccache
stage_done

# --------------------------------------------------------------------- build
stage "build pelm for the debug interpreter"
rm -rf "$WORK"
mkdir -p "$WORK"
"$DBG_PY" -m venv "$WORK/venv"
PY="$WORK/venv/bin/python"
# Debian's /usr/include/python3.11d/*.h are symlinks into python3.11/, and
# GCC canonicalises system-header paths: Python.h's `#include "pyconfig.h"`
# then finds the RELEASE pyconfig.h, Py_DEBUG is unset, and the extension's
# Py_INCREF/Py_DECREF never touch the total reference count. Keeping the
# paths as given fixes it (CXXFLAGS also reaches the C++ test program that
# tests/test_frame_cpp.py builds).
export CXXFLAGS="${CXXFLAGS:-} -fno-canonical-system-headers"
(cd "$ROOT" && "$PY" -m pip install --config-settings=build-dir="$WORK/build" '.[test]')
SO="$("$PY" -c 'import pelm._pelm as m; print(m.__file__)')"
echo "built: $SO"
undefined="$(nm -D --undefined-only "$SO")"
if ! grep -q '_Py_NegativeRefcount' <<<"$undefined"; then
    echo "FAIL: $SO was not compiled with Py_DEBUG (it never checks for negative reference counts)" >&2
    exit 1
fi
stage_done

# --------------------------------------------------------------------- tests
stage "test suite under the reference-leak plugin"
LOG="$WORK/pytest.log"
rc=0
(
    cd "$ROOT"
    PYTHONPATH="$CI_DIR${PYTHONPATH:+:$PYTHONPATH}" "$PY" -m pytest -p refleak_plugin \
        -p no:cacheprovider "${PYTEST_EXTRA[@]}"
) 2>&1 | tee "$LOG" || rc=$?
stage_done

figure="$(grep -E '^refleak check: [0-9]+ tests repeated, [0-9]+ leaking' "$LOG" | tail -n 1 || true)"
if [[ -z "$figure" ]]; then
    echo "FAIL: the plugin printed no figure (pytest exit status $rc)"
    exit 1
fi
if ((rc == 5)); then
    echo "FAIL: pytest collected no tests"
    exit 1
fi
echo
echo "refleak: total $((SECONDS - T_ALL)) s, pytest exit status $rc"
echo "$figure"
exit "$rc"
