#!/usr/bin/env bash
# Fuzzing: the atheris targets of fuzz/fuzz_pelm.py, one per function, each
# replaying its seed corpus (fuzz/corpus/<target>/) and then fuzzing for a
# fixed time, against an extension built by clang (installed here when
# missing) with AddressSanitizer, UndefinedBehaviorSanitizer and libFuzzer's
# coverage instrumentation, run under atheris's own ASan+libFuzzer runtime, so
# that the extension's branches guide the fuzzer.
#
# The stage fails when the instrumented build cannot be made, when a target
# crashes, and when a target reports no coverage: libFuzzer's INITED or DONE
# line without a non-zero "cov:", or no counters of the extension loaded
# ("cov:" alone also counts the Python code that atheris instruments). A
# fuzzer that cannot see the extension's branches only throws random bytes at
# it. It closes with a table of each
# target's executions and its coverage, features and corpus size at the start
# (after replaying the seeds) and at the end.
#
#   bash .ci/fuzz.sh [REPO_ROOT]           (default: the parent of .ci/)
#
# Knobs: PELM_FUZZ_SECONDS (per target, default 20), PELM_FUZZ_TARGETS
# (space-separated, default all), PELM_FUZZ_PYTHON (default python3),
# PELM_FUZZ_WORK (default $PELM_CI_CACHE/fuzz).
set -euo pipefail

CI_DIR="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
ROOT="$(cd "${1:-$CI_DIR/..}" && pwd)"
CACHE="${PELM_CI_CACHE:-/var/cache/pelm-ci}"
WORK="${PELM_FUZZ_WORK:-$CACHE/fuzz}"
SECONDS_PER_TARGET="${PELM_FUZZ_SECONDS:-20}"

CHECK=fuzz
# shellcheck source=.ci/checks.sh
source "$CI_DIR/checks.sh"

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# A clang++ of version 16 or older on PATH, the newest first: the versions
# whose coverage instrumentation atheris's libFuzzer runtime reads.
find_clang() {
    local c
    for c in clang++-16 clang++-15 clang++-14 clang++; do
        if command -v "$c" >/dev/null && (($("$c" -dumpversion | cut -d. -f1) <= 16)); then
            echo "$c"
            return 0
        fi
    done
    return 1
}

# Whether clang links a shared object with the sanitizers and the coverage
# instrumentation (it needs clang's libclang_rt.asan_static).
clang_links_instrumented() {
    local probe rc=0
    probe="$(mktemp -d)"
    echo 'int f(int* p) { return *p; }' >"$probe/probe.cpp"
    "$1" -shared -fPIC -fsanitize=address,undefined,fuzzer-no-link -fno-sanitize=vptr,function \
        -o "$probe/probe.so" "$probe/probe.cpp" 2>"$probe/err" || { rc=1; cat "$probe/err"; }
    rm -rf "$probe"
    return "$rc"
}

# ------------------------------------------------------------------ packages
stage "system packages and the compiler"
need=()
for p in g++ pkg-config libre2-dev; do deb_installed "$p" || need+=("$p"); done
if ((${#need[@]})); then apt_install --no-install-recommends "${need[@]}"; fi
CLANG="$(find_clang || true)"
if [[ -z "$CLANG" ]]; then
    echo "no clang++ 14..16; installing clang-16 (Debian 12 has it; clang-14 is the fallback)"
    apt_install --no-install-recommends clang-16 libclang-rt-16-dev ||
        apt_install --no-install-recommends clang || true
    CLANG="$(find_clang || true)"
fi
[[ -n "$CLANG" ]] || fail "no clang++ 14..16 could be had for the instrumented build"
if ! clang_links_instrumented "$CLANG"; then
    version="$("$CLANG" -dumpversion | cut -d. -f1)"
    echo "clang's sanitizer runtime missing; installing libclang-rt-$version-dev"
    apt_install --no-install-recommends "libclang-rt-$version-dev" || true
    clang_links_instrumented "$CLANG" || fail "$CLANG cannot link a sanitized, coverage-instrumented shared object"
fi
BASE_PY="$("${PELM_FUZZ_PYTHON:-python3}" -c 'import sys; print(sys.executable)')"
echo "interpreter: $BASE_PY ($("$BASE_PY" -c 'import sys; print(sys.version.split()[0])'))"
echo "compiler: $(command -v "$CLANG") ($("$CLANG" -dumpversion))"
use_ccache
stage_done

# --------------------------------------------------------------------- build
stage "build pelm with the sanitizers and coverage"
rm -rf "$WORK"
mkdir -p "$WORK/crashes" "$WORK/logs"
"$BASE_PY" -m venv "$WORK/venv"
PY="$WORK/venv/bin/python"
"$PY" -m pip install atheris
# atheris's asan_with_fuzzer.so brings the ASan, UBSan and libFuzzer
# runtimes; it has no handlers for -fsanitize=vptr and =function.
flags="-fsanitize=address,undefined,fuzzer-no-link;-fno-sanitize=vptr,function;-fno-sanitize-recover=undefined;-fno-omit-frame-pointer"
(
    cd "$ROOT"
    "$PY" -m pip install --config-settings=build-dir="$WORK/build" \
        --config-settings=cmake.build-type=RelWithDebInfo \
        --config-settings=cmake.define.CMAKE_CXX_COMPILER="$(command -v "$CLANG")" \
        --config-settings=cmake.define.PELM_EXTRA_FLAGS="$flags" .
)
SO="$(find "$WORK/venv" -name '_pelm*.so' | head -n 1)"
[[ -n "$SO" ]] || fail "no extension was installed into $WORK/venv"
echo "built: $SO"
# The coverage instrumentation registers the extension's counters and branch
# table with libFuzzer when the module is loaded.
undefined="$(nm -D --undefined-only "$SO")"
for symbol in __sanitizer_cov_8bit_counters_init __sanitizer_cov_pcs_init; do
    grep -qw "$symbol" <<<"$undefined" || fail "$SO has no coverage instrumentation (no reference to $symbol)"
done
ATHERIS_DIR="$("$PY" -c 'import atheris, os; print(os.path.dirname(os.path.dirname(atheris.__file__)))')"
PRELOAD="$ATHERIS_DIR/asan_with_fuzzer.so"
[[ -f "$PRELOAD" ]] || fail "atheris brought no $PRELOAD"
echo "preload: $PRELOAD"
stage_done

# The figure after "KEY: " in a libFuzzer log's last status line of the given
# event (INITED: the seeds replayed; DONE: the run's end), e.g. the 865 of
# "#52110 DONE cov: 865 ft: 2576 corp: 372/18Kb ..."; empty when missing.
status_figure() {
    local log="$1" event="$2" key="$3"
    grep -aE "^#[0-9]+[[:space:]]+$event([[:space:]]|$)" "$log" | tail -n 1 |
        sed -n "s/.*[[:space:]]$key: \([0-9][0-9]*\).*/\1/p"
}

# ------------------------------------------------------------------- targets
HARNESS="$ROOT/fuzz/fuzz_pelm.py"
read -r -a TARGETS <<<"${PELM_FUZZ_TARGETS:-$("$PY" "$HARNESS" --list | sed -n 's/^targets: //p')}"
((${#TARGETS[@]})) || fail "no fuzz targets (python $HARNESS --list)"
echo "targets: ${TARGETS[*]}"

export PYTHONMALLOC=malloc
# Leaks are the other stages' business: the interpreter's caches look like
# leaks to libFuzzer's per-input check.
export ASAN_OPTIONS="detect_leaks=0:abort_on_error=1:halt_on_error=1:detect_stack_use_after_return=1:allocator_may_return_null=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:abort_on_error=1"

declare -A EXECS=() STATUS=() FIGURES=() COUNTERS=()
crashes=0
blind=0
total_execs=0
for t in "${TARGETS[@]}"; do
    stage "target $t: replay the seed corpus, then fuzz ${SECONDS_PER_TARGET} s"
    corpus="$WORK/corpus/$t"
    seeds="$ROOT/fuzz/corpus/$t"
    mkdir -p "$corpus" "$seeds"
    log="$WORK/logs/$t.log"
    rc=0
    # New inputs go to the work copy; the seeds in the repository stay as
    # they are. -timeout: one input may take at most 10 s.
    LD_PRELOAD="$PRELOAD" "$PY" "$HARNESS" "$t" \
        -max_total_time="$SECONDS_PER_TARGET" -timeout=10 -rss_limit_mb=4096 \
        -max_len=4096 -print_final_stats=1 -detect_leaks=0 \
        -artifact_prefix="$WORK/crashes/$t-" "$corpus" "$seeds" >"$log" 2>&1 || rc=$?
    n="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)"
    n="${n:-0}"
    EXECS[$t]="$n"
    total_execs=$((total_execs + n))
    # cov, ft and corp at the start and at the end ("-" where missing)
    figures=()
    for event in INITED DONE; do
        for key in cov ft corp; do
            value="$(status_figure "$log" "$event" "$key")"
            figures+=("${value:--}")
        done
    done
    FIGURES[$t]="${figures[*]}"
    # "INFO: Loaded 1 modules   (5819 inline 8-bit counters): ...": the
    # extension's counters, registered when it is imported
    counters="$(sed -n 's/^INFO: Loaded [0-9]* modules *(\([0-9]*\) inline 8-bit counters).*/\1/p' "$log" |
        awk '{ s += $1 } END { print s + 0 }')"
    COUNTERS[$t]="$counters"
    if ((rc != 0)) || grep -qE '^==[0-9]+==ERROR|runtime error:|Uncaught Python exception|deadly signal' "$log"; then
        STATUS[$t]="CRASH (exit $rc)"
        crashes=$((crashes + 1))
        echo "--- $t failed; the end of its log ($log):"
        tail -n 60 "$log"
        find "$WORK/crashes" -name "$t-*" -printf 'artifact: %f\n'
    elif [[ "${figures[0]}" == - || "${figures[0]}" == 0 || "${figures[3]}" == - || "${figures[3]}" == 0 ]] ||
        ((counters == 0)); then
        STATUS[$t]="NO COVERAGE"
        blind=$((blind + 1))
        echo "--- $t: libFuzzer saw no coverage; its status lines ($log):"
        grep -aE '^(INFO: |#[0-9]+[[:space:]]+(INITED|DONE))' "$log" | tail -n 8 || true
    else
        STATUS[$t]=ok
        grep -aE '^(INFO: seed corpus|#[0-9]+[[:space:]]+(INITED|DONE))' "$log" | tail -n 3 || true
    fi
    echo "$t: $n executions, $counters counters of the extension loaded," \
        "cov ${figures[0]} -> ${figures[3]}, corpus ${figures[2]} -> ${figures[5]}, ${STATUS[$t]}"
    stage_done
done

# The closing table: counters = the extension's coverage counters that
# libFuzzer loaded; start = after the seed corpus was replayed (INITED), end =
# when the time was up (DONE); corpus sizes are numbers of inputs.
echo
row='%-24s %11s %9s %14s %14s %16s  %s\n'
# shellcheck disable=SC2059
printf "$row" target executions counters "cov start/end" "ft start/end" "corpus start/end" result
min_execs="" min_cov="" max_cov=""
for t in "${TARGETS[@]}"; do
    read -r cov0 ft0 corp0 cov1 ft1 corp1 <<<"${FIGURES[$t]}"
    # shellcheck disable=SC2059
    printf "$row" "$t" "${EXECS[$t]}" "${COUNTERS[$t]}" "$cov0 / $cov1" "$ft0 / $ft1" "$corp0 / $corp1" "${STATUS[$t]}"
    if [[ -z "$min_execs" ]] || ((EXECS[$t] < min_execs)); then min_execs="${EXECS[$t]}"; fi
    if [[ "$cov1" =~ ^[0-9]+$ ]]; then
        if [[ -z "$min_cov" ]] || ((cov1 < min_cov)); then min_cov="$cov1"; fi
        if [[ -z "$max_cov" ]] || ((cov1 > max_cov)); then max_cov="$cov1"; fi
    fi
done
echo "fuzz: total $((SECONDS - T_ALL)) s, $total_execs executions, ${#TARGETS[@]} targets, compiler $CLANG with coverage"
echo "fuzzing: ${min_execs:-0} executions per target (at least), $crashes crashes," \
    "$blind targets without coverage, cov ${min_cov:--}..${max_cov:--} at the end"
((crashes == 0 && blind == 0))
