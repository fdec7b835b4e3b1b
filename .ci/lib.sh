# Helpers for .ci/run (sourced, not run directly).

declare -A STAGE_STATUS=() STAGE_TIME=() STAGE_DESC=()
STAGE_ORDER=()
CI_RC=0
CI_PID=$$
STAGE_LOG=/dev/null

log() { echo "[ci] $*"; }

deb_installed() {
    dpkg-query -W -f='${db:Status-Status}' "$1" 2>/dev/null | grep -qx installed
}

apt_update_once() {
    local flag="/tmp/pelm-ci-apt-updated.$CI_PID"
    [[ -f "$flag" ]] && return 0
    apt-get -o DPkg::Lock::Timeout=600 update || return 1
    : >"$flag"
}

apt_install() {
    apt-get -o DPkg::Lock::Timeout=600 install -y "$@"
}

# Use ccache for the C/C++ compiles CMake runs, if ccache exists.
setup_ccache() {
    command -v ccache >/dev/null || return 0
    export CMAKE_C_COMPILER_LAUNCHER="${CMAKE_C_COMPILER_LAUNCHER:-ccache}"
    export CMAKE_CXX_COMPILER_LAUNCHER="${CMAKE_CXX_COMPILER_LAUNCHER:-ccache}"
    export CCACHE_DIR="${CCACHE_DIR:-$CACHE/ccache}"
    export CCACHE_MAXSIZE="${CCACHE_MAXSIZE:-3G}"
}

ccache_zero() {
    if command -v ccache >/dev/null; then ccache -z >/dev/null 2>&1 || true; fi
}

ccache_report() {
    command -v ccache >/dev/null || return 0
    log "ccache: $(ccache --show-stats 2>/dev/null | grep -iE '^ *(hits|misses):' | head -n 2 | tr -s ' ' | tr '\n' ' ' || true)"
}

# "py311" for a given interpreter
py_tag() {
    "$1" -c 'import sys; print("py%d%d" % sys.version_info[:2])'
}

# Newest patch release of each CPython minor >= 3.11 known to pyenv,
# one interpreter path per line, oldest minor first.
pyenv_pythons() {
    local d v minor
    [[ -d "$PYENV_ROOT/versions" ]] || return 0
    for d in "$PYENV_ROOT"/versions/3.*; do
        v="${d##*/}"
        [[ "$v" =~ ^3\.([0-9]+)\.([0-9]+)$ ]] || continue # skips 3.13.0t, -dev, ...
        minor="${BASH_REMATCH[1]}"
        ((minor >= 11)) || continue
        [[ -x "$d/bin/python3" ]] || continue
        echo "$v $d/bin/python3"
    done | sort -V -r | awk '{ split($1, p, "."); if (!(p[2] in seen)) { seen[p[2]] = 1; print } }' |
        sort -V | awk '{ print $2 }'
}

# Copy a source tree (tracked + untracked-but-not-ignored files when it is a
# git checkout; otherwise everything but the usual build clutter).
copy_tree() {
    local from="$1" to="$2"
    if command -v git >/dev/null && git -C "$from" rev-parse --is-inside-work-tree >/dev/null 2>&1; then
        (
            cd "$from"
            git ls-files -z --cached --others --exclude-standard |
                while IFS= read -r -d '' f; do
                    case "/$f" in
                        /build/* | /_skbuild/* | /dist/* | /.venv/* | */__pycache__/* | *.egg-info/*) continue ;;
                    esac
                    if [[ -e "$f" || -L "$f" ]]; then printf '%s\0' "$f"; fi
                done |
                tar --null --no-recursion -T - -cf - |
                tar -xf - -C "$to"
        )
    else
        tar -C "$from" -cf - \
            --exclude=./.git --exclude=./build --exclude=./_skbuild --exclude=./dist \
            --exclude='*.egg-info' --exclude=__pycache__ --exclude=.pytest_cache \
            --exclude=.hypothesis --exclude=./.venv --exclude='*.so' . |
            tar -xf - -C "$to"
    fi
}

# Run pytest (the given command line), tee its output to $STAGE_LOG,
# and treat "no tests collected" as a failure.
run_pytest() {
    local rc=0
    "$@" 2>&1 | tee "$STAGE_LOG" || rc=$?
    if ((rc == 5)); then
        echo "[ci] pytest collected no tests"
        return 1
    fi
    return "$rc"
}

# run_stage NAME DESCRIPTION FUNCTION [ARGS...]
run_stage() {
    local name="$1" desc="$2" fn="$3" rc t
    shift 3
    STAGE_ORDER+=("$name")
    STAGE_DESC[$name]="$desc"
    mkdir -p "$CACHE/logs"
    STAGE_LOG="$CACHE/logs/$name.pytest.log"
    rm -f "$STAGE_LOG"
    echo
    echo "=================================================================="
    echo "=== stage $name: $desc"
    echo "=================================================================="
    t=$SECONDS
    set +e
    (
        set -e
        "$fn" "$@"
    )
    rc=$?
    set -e
    STAGE_TIME[$name]=$((SECONDS - t))
    if ((rc == 0)); then
        STAGE_STATUS[$name]=PASS
    else
        STAGE_STATUS[$name]="FAIL(rc=$rc)"
        CI_RC=1
    fi
    echo "=== stage $name: ${STAGE_STATUS[$name]} in ${STAGE_TIME[$name]} s"
}

# "N passed", "N failed", ... counts from pytest's closing line in a log
pytest_count() {
    local file="$1" word="$2" line
    [[ -f "$file" ]] || { echo 0; return; }
    line="$(grep -E '^=+ .* in [0-9.]+s' "$file" | tail -n 1 || true)"
    { echo "$line" | grep -oE "[0-9]+ $word" || true; } | awk '{ s += $1 } END { print s + 0 }'
}

print_summary() {
    local total="$1" s p f e k all_p=0 all_f=0 all_k=0
    rm -f "/tmp/pelm-ci-apt-updated.$CI_PID"
    echo
    echo "=================================================================="
    echo "=== summary"
    echo "=================================================================="
    printf '%-8s %-12s %8s   %s\n' stage result seconds tests
    for s in "${STAGE_ORDER[@]}"; do
        p=$(pytest_count "$CACHE/logs/$s.pytest.log" passed)
        f=$(pytest_count "$CACHE/logs/$s.pytest.log" failed)
        e=$(pytest_count "$CACHE/logs/$s.pytest.log" 'errors?')
        k=$(pytest_count "$CACHE/logs/$s.pytest.log" skipped)
        f=$((f + e))
        all_p=$((all_p + p)) all_f=$((all_f + f)) all_k=$((all_k + k))
        if [[ "$s" == sys ]]; then
            printf '%-8s %-12s %8s   %s\n' "$s" "${STAGE_STATUS[$s]}" "${STAGE_TIME[$s]}" "-"
        elif [[ "$s" == mypy ]]; then
            # no tests: mypy's own closing line
            printf '%-8s %-12s %8s   %s\n' "$s" "${STAGE_STATUS[$s]}" "${STAGE_TIME[$s]}" \
                "$(grep -aE '^(Success: |Found [0-9]+ errors? )' "$CACHE/logs/$s.pytest.log" 2>/dev/null | tail -n 1 || true)"
        else
            printf '%-8s %-12s %8s   %s passed, %s failed, %s skipped\n' \
                "$s" "${STAGE_STATUS[$s]}" "${STAGE_TIME[$s]}" "$p" "$f" "$k"
        fi
    done
    printf '%-8s %-12s %8s\n' total "$([[ $CI_RC == 0 ]] && echo PASS || echo FAIL)" "$total"
    echo
    echo "reliability figures:"
    for s in "${STAGE_ORDER[@]}"; do cat "$CACHE/logs/$s.pytest.log" 2>/dev/null || true; done |
        grep -aE '^(refleak check: [0-9]+ tests|ASan\+UBSan: [0-9]|threads: [0-9]|cold start [0-9]|hostile input: [0-9]|fuzzing: [0-9])' |
        sed 's/[[:space:]]*$//' | sort | uniq -c | sed 's/^/  /' || true
    echo
    echo "tests: $all_p passed, $all_f failed, $all_k skipped"
}
