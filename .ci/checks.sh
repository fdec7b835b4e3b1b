# What the hardening checks (refleak.sh, sanitizers.sh, fuzz.sh) share: the
# environment of their builds, stage headers with their times, apt installs
# and the compiler cache. Sourced after the script sets CHECK (its name in
# the headers) and CACHE.
export DEBIAN_FRONTEND=noninteractive
export CMAKE_BUILD_PARALLEL_LEVEL="${CMAKE_BUILD_PARALLEL_LEVEL:-2}"
export PIP_DISABLE_PIP_VERSION_CHECK=1 PIP_NO_INPUT=1 PIP_PROGRESS_BAR=off
export PIP_ROOT_USER_ACTION=ignore PYTHONUNBUFFERED=1

T_ALL=$SECONDS
T_STAGE=$SECONDS
stage() {
    T_STAGE=$SECONDS
    echo
    echo "=== $CHECK: $* ==="
}
stage_done() { echo "=== $CHECK: done in $((SECONDS - T_STAGE)) s"; }

deb_installed() { dpkg-query -W -f='${db:Status-Status}' "$1" 2>/dev/null | grep -qx installed; }
APT_UPDATED=0
# apt-get install with the given arguments, after one update per run.
apt_install() {
    if ((APT_UPDATED == 0)); then
        apt-get -o DPkg::Lock::Timeout=600 update
        APT_UPDATED=1
    fi
    apt-get -o DPkg::Lock::Timeout=600 install -y "$@"
}

use_ccache() {
    if command -v ccache >/dev/null; then
        export CMAKE_CXX_COMPILER_LAUNCHER="${CMAKE_CXX_COMPILER_LAUNCHER:-ccache}"
        export CCACHE_DIR="${CCACHE_DIR:-$CACHE/ccache}"
        export CCACHE_NOHASHDIR=1 CCACHE_MAXSIZE="${CCACHE_MAXSIZE:-3G}"
    fi
    # A ccache base directory makes ccache pass source paths relative, and the
    # fault reports (std::source_location) that the tests read then name
    # "../../main/tests/..." instead of "tests/...".
    unset CCACHE_BASEDIR
}
