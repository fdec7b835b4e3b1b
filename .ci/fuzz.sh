#!/usr/bin/env bash
# Fuzzing: the atheris targets of fuzz/fuzz_pelm.py, one per function, each
# replaying its seed corpus (fuzz/corpus/<target>/) and then fuzzing for a
# fixed time, against an extension built with AddressSanitizer and
# UndefinedBehaviorSanitizer. With clang (installed here when missing) the
# extension also carries libFuzzer's coverage instrumentation and runs under
# atheris's own ASan+libFuzzer runtime; without clang it is built with g++'s
# sanitizers and only the Python side guides the fuzzer.
#
#   bash .ci/fuzz.sh [REPO_ROOT]           (default: the parent of .ci/)
#
# Knobs: PELM_FUZZ_SECONDS (per target, default 20), PELM_FUZZ_TARGETS
# (space-separated, default all), PELM_FUZZ_COMPILER (clang or gcc, default
# clang when it can be had), PELM_FUZZ_PYTHON (default python3),
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

# ------------------------------------------------------------------ packages
stage "system packages and the compiler"
need=()
for p in g++ pkg-config libre2-dev; do deb_installed "$p" || need+=("$p"); done
if ((${#need[@]})); then apt_install --no-install-recommends "${need[@]}"; fi
COMPILER="${PELM_FUZZ_COMPILER:-clang}"
CLANG=""
if [[ "$COMPILER" == clang ]]; then
    CLANG="$(find_clang || true)"
    if [[ -z "$CLANG" ]]; then
        echo "no clang++ 14..16; installing clang-16 (Debian 12 has it; clang-14 is the fallback)"
        apt_install --no-install-recommends clang-16 libclang-rt-16-dev ||
            apt_install --no-install-recommends clang || true
        CLANG="$(find_clang || true)"
    fi
    # A sanitized shared object links clang's libclang_rt.asan_static.
    probe="$(mktemp -d)"
    echo 'int f(int* p) { return *p; }' >"$probe/probe.cpp"
    link_probe() {
        "$CLANG" -shared -fPIC -fsanitize=address,undefined,fuzzer-no-link -fno-sanitize=vptr,function \
            -o "$probe/probe.so" \
            "$probe/probe.cpp" 2>"$probe/err"
    }
    if [[ -n "$CLANG" ]] && ! link_probe; then
        version="$("$CLANG" -dumpversion | cut -d. -f1)"
        echo "clang's sanitizer runtime missing; installing libclang-rt-$version-dev"
        apt_install --no-install-recommends "libclang-rt-$version-dev" || true
        link_probe || { cat "$probe/err"; CLANG=""; }
    fi
    rm -rf "$probe"
    if [[ -z "$CLANG" ]]; then
        echo "WARNING: no clang could be had; fuzzing the g++ sanitizer build without native coverage"
        COMPILER=gcc
    fi
fi
BASE_PY="$("${PELM_FUZZ_PYTHON:-python3}" -c 'import sys; print(sys.executable)')"
echo "interpreter: $BASE_PY ($("$BASE_PY" -c 'import sys; print(sys.version.split()[0])'))"
echo "compiler: ${CLANG:-g++} ($COMPILER)"
use_ccache
stage_done

# --------------------------------------------------------------------- build
stage "build pelm with the sanitizers (and coverage)"
rm -rf "$WORK"
mkdir -p "$WORK/crashes" "$WORK/logs"
"$BASE_PY" -m venv "$WORK/venv"
PY="$WORK/venv/bin/python"
"$PY" -m pip install atheris
config=(--config-settings=build-dir="$WORK/build" --config-settings=cmake.build-type=RelWithDebInfo)
if [[ "$COMPILER" == clang ]]; then
    # atheris's asan_with_fuzzer.so brings the ASan, UBSan and libFuzzer
    # runtimes; it has no handlers for -fsanitize=vptr and =function.
    flags="-fsanitize=address,undefined,fuzzer-no-link;-fno-sanitize=vptr,function;-fno-sanitize-recover=undefined;-fno-omit-frame-pointer"
    config+=(--config-settings=cmake.define.CMAKE_CXX_COMPILER="$(command -v "$CLANG")")
else
    flags="-fsanitize=address,undefined;-fno-sanitize-recover=undefined;-fno-omit-frame-pointer"
fi
config+=(--config-settings=cmake.define.PELM_EXTRA_FLAGS="$flags")
(cd "$ROOT" && "$PY" -m pip install "${config[@]}" .)
ATHERIS_DIR="$("$PY" -c 'import atheris, os; print(os.path.dirname(os.path.dirname(atheris.__file__)))')"
if [[ "$COMPILER" == clang ]]; then
    PRELOAD="$ATHERIS_DIR/asan_with_fuzzer.so"
else
    PRELOAD="$(g++ -print-file-name=libasan.so) $(g++ -print-file-name=libubsan.so)"
fi
echo "preload: $PRELOAD"
stage_done

# ------------------------------------------------------------------- targets
HARNESS="$ROOT/fuzz/fuzz_pelm.py"
read -r -a TARGETS <<<"${PELM_FUZZ_TARGETS:-$("$PY" "$HARNESS" --list | sed -n 's/^targets: //p')}"
if ((${#TARGETS[@]} == 0)); then
    echo "FAIL: no fuzz targets (python $HARNESS --list)" >&2
    exit 1
fi
echo "targets: ${TARGETS[*]}"

export PYTHONMALLOC=malloc
# Leaks are the other stages' business: the interpreter's caches look like
# leaks to libFuzzer's per-input check.
export ASAN_OPTIONS="detect_leaks=0:abort_on_error=1:halt_on_error=1:detect_stack_use_after_return=1:allocator_may_return_null=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:abort_on_error=1"

declare -A EXECS=() STATUS=()
crashes=0
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
    if ((rc != 0)) || grep -qE '^==[0-9]+==ERROR|runtime error:|Uncaught Python exception|deadly signal' "$log"; then
        STATUS[$t]="CRASH (exit $rc)"
        crashes=$((crashes + 1))
        echo "--- $t failed; the end of its log ($log):"
        tail -n 60 "$log"
        ls -1 "$WORK/crashes" | sed -n "/^$t-/s/^/artifact: /p"
    else
        STATUS[$t]=ok
        grep -E '^(INFO: seed corpus|#[0-9]+[[:space:]]+(INITED|DONE))' "$log" | tail -n 2 || true
    fi
    echo "$t: $n executions, ${STATUS[$t]}"
    stage_done
done

echo
printf '%-26s %12s  %s\n' target executions result
min_execs=""
for t in "${TARGETS[@]}"; do
    printf '%-26s %12s  %s\n' "$t" "${EXECS[$t]}" "${STATUS[$t]}"
    if [[ -z "$min_execs" ]] || ((EXECS[$t] < min_execs)); then min_execs="${EXECS[$t]}"; fi
done
echo "fuzz: total $((SECONDS - T_ALL)) s, $total_execs executions, ${#TARGETS[@]} targets, compiler $COMPILER"
echo "fuzzing: ${min_execs:-0} executions per target (at least), $crashes crashes"
((crashes == 0))
