#!/usr/bin/env bash
# AddressSanitizer + UndefinedBehaviorSanitizer: the extension is built with
# -fsanitize=address,undefined and the whole test suite runs on the default
# python3 with the sanitizer runtimes preloaded, PYTHONMALLOC=malloc (so that
# every object lives in memory ASan watches) and leak detection on. Reports go
# to log files, which are then scanned: any ASan error, any UBSan "runtime
# error", and every direct leak whose allocation stack passes through the
# extension is a finding; the interpreter's own exit-time leaks are not.
#
#   bash .ci/sanitizers.sh [REPO_ROOT]     (default: the parent of .ci/)
#
# Knobs: PELM_SAN_PYTHON (interpreter, default python3), PELM_SAN_WORK
# (venv, build dir and logs, default $PELM_CI_CACHE/sanitizers),
# PELM_SAN_PYTEST_ARGS (extra pytest arguments), PELM_SAN_FULL_STACKS=1
# (full allocation stacks; see below).
set -euo pipefail

CI_DIR="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
ROOT="$(cd "${1:-$CI_DIR/..}" && pwd)"
CACHE="${PELM_CI_CACHE:-/var/cache/pelm-ci}"
WORK="${PELM_SAN_WORK:-$CACHE/sanitizers}"
read -r -a PYTEST_EXTRA <<<"${PELM_SAN_PYTEST_ARGS:-}"
# Deselected here: the tests that judge memory by the process's resident size,
# which ASan's shadow memory and quarantine of freed blocks make grow.
DESELECT=(--deselect tests/test_module.py::test_error_paths_do_not_leak)
SAN_FLAGS="-fsanitize=address,undefined;-fno-sanitize-recover=undefined;-fno-omit-frame-pointer"

CHECK=sanitizers
# shellcheck source=.ci/checks.sh
source "$CI_DIR/checks.sh"

# ------------------------------------------------------------------ packages
stage "system packages"
need=()
for p in g++ pkg-config libre2-dev; do deb_installed "$p" || need+=("$p"); done
if ((${#need[@]})); then
    echo "installing: ${need[*]}"
    apt_install "${need[@]}"
fi
ASAN_SO="$(g++ -print-file-name=libasan.so)"
UBSAN_SO="$(g++ -print-file-name=libubsan.so)"
for so in "$ASAN_SO" "$UBSAN_SO"; do
    [[ -e "$so" ]] || { echo "FAIL: no sanitizer runtime $so" >&2; exit 1; }
done
BASE_PY="$("${PELM_SAN_PYTHON:-python3}" -c 'import sys; print(sys.executable)')"
echo "interpreter: $BASE_PY ($("$BASE_PY" -c 'import sys; print(sys.version.split()[0])'))"
echo "runtimes: $ASAN_SO $UBSAN_SO"
use_ccache
stage_done

# --------------------------------------------------------------------- build
stage "build pelm with -fsanitize=address,undefined"
rm -rf "$WORK"
mkdir -p "$WORK/logs"
"$BASE_PY" -m venv "$WORK/venv"
PY="$WORK/venv/bin/python"
(
    cd "$ROOT"
    "$PY" -m pip install \
        --config-settings=build-dir="$WORK/build" \
        --config-settings=cmake.build-type=RelWithDebInfo \
        --config-settings=cmake.define.PELM_EXTRA_FLAGS="$SAN_FLAGS" \
        '.[test]'
)
SO="$("$PY" -c 'import pelm._pelm as m; print(m.__file__)' 2>/dev/null ||
    find "$WORK/venv" -name '_pelm*.so' | head -n 1)"
echo "built: $SO"
needed="$(ldd "$SO")"
if ! grep -q libasan <<<"$needed" || ! grep -q libubsan <<<"$needed"; then
    echo "FAIL: $SO is not linked with the sanitizer runtimes" >&2
    exit 1
fi
stage_done

# --------------------------------------------------------------------- tests
stage "test suite with ASan + UBSan preloaded"
LOGS="$WORK/logs"
LOG="$WORK/pytest.log"
rc=0
(
    cd "$ROOT"
    export LD_PRELOAD="$ASAN_SO $UBSAN_SO"
    export PYTHONMALLOC=malloc
    # exitcode=0: the interpreter's exit-time leaks must not change pytest's
    # status (the logs are judged below); errors abort the process.
    # PELM_SAN_FULL_STACKS=1 (fast_unwind_on_malloc=0): the interpreter has no
    # frame pointers, and the fast unwinder stops in it, so the allocation
    # stacks of leaked Python objects rarely reach pelm's frames; the full
    # unwinder finds them but makes the suite take about 11 minutes, not 1.
    export ASAN_OPTIONS="detect_leaks=1:exitcode=0:abort_on_error=1:halt_on_error=1:detect_stack_use_after_return=1:check_initialization_order=1:strict_init_order=1:detect_odr_violation=0:print_suppressions=0:fast_unwind_on_malloc=$((${PELM_SAN_FULL_STACKS:-0} ? 0 : 1)):malloc_context_size=12:log_path=$LOGS/asan"
    export LSAN_OPTIONS="report_objects=0:max_leaks=0"
    # UBSan reports go to standard error, into the stage's log, which the
    # scan below reads too: a report that aborts the process is kept there.
    export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:abort_on_error=1"
    # The tests' child processes inherit all this: the Python ones import the
    # instrumented extension; the others (cmake, g++) only add leak logs of
    # their own, which the scan below ignores, and exit as they would.
    "$PY" -m pytest -p no:cacheprovider "${DESELECT[@]}" "${PYTEST_EXTRA[@]}"
) 2>&1 | tee "$LOG" || rc=$?
stage_done

# ---------------------------------------------------------------- the logs
stage "scan the sanitizer logs"
cp "$LOG" "$LOGS/test-output"
scan_rc=0
"$BASE_PY" - "$LOGS" <<'PYEOF' || scan_rc=$?
import re
import sys
from pathlib import Path

OURS = re.compile(r"_pelm\.cpython|_pelm[.-]|\bpelm::|/src/(frame|numparse|text|iter|dictsort)/")
FRAME = re.compile(r"^\s+#\d+ ")
logs = sorted(Path(sys.argv[1]).glob("*"))
findings = []
interpreter_leaks = 0
for path in logs:
    text = path.read_text(errors="replace")
    # UBSan: "file:line:col: runtime error: ..." and its stack
    for match in re.finditer(r"^.*runtime error:.*$(?:\n\s+#\d+ .*$)*", text, re.M):
        findings.append((path.name, "UBSan", match.group(0)))
    # ASan errors other than leaks: everything up to the ABORTING line
    for match in re.finditer(
        r"^==\d+==ERROR: AddressSanitizer: .*?(?=^==\d+==ABORTING|\Z)", text, re.M | re.S
    ):
        findings.append((path.name, "ASan", match.group(0)))
    # LeakSanitizer: one block per leaked allocation stack
    for match in re.finditer(
        r"^(Direct|Indirect) leak of .*?(?=^\S|\n\n|\Z)", text, re.M | re.S
    ):
        block = match.group(0)
        frames = [line for line in block.splitlines() if FRAME.match(line)]
        if match.group(1) == "Direct" and any(OURS.search(line) for line in frames):
            findings.append((path.name, "LSan", block))
        else:
            interpreter_leaks += 1

FRAME_NUMBER = re.compile(r"^\s+#(\d+) ")
for name, kind, report in findings[:20]:
    print(f"--- {kind} report in {name}:")
    skipped = 0
    for line in report.rstrip().splitlines():
        if line.startswith("Shadow bytes around"):
            break
        number = FRAME_NUMBER.match(line)
        if number and int(number.group(1)) >= 10:  # the top 10 frames of each stack
            skipped += 1
            continue
        if skipped:
            print(f"    ... {skipped} more frames")
            skipped = 0
        print(line)
    if skipped:
        print(f"    ... {skipped} more frames")
print(
    f"sanitizer logs: {len(logs)} files, {len(findings)} reports in pelm's code, "
    f"{interpreter_leaks} leak blocks of the interpreter's own ignored"
)
Path(sys.argv[1], "..", "reports").write_text(str(len(findings)))
sys.exit(1 if findings else 0)
PYEOF
stage_done

reports="$(cat "$WORK/reports" 2>/dev/null || echo '?')"
passed="$(grep -E '^=+ .*[0-9]+ passed.* in [0-9.]+s' "$LOG" | tail -n 1 | grep -oE '[0-9]+ passed' | grep -oE '[0-9]+' || echo 0)"
summary="$(grep -E '^=+ .* in [0-9.]+s' "$LOG" | tail -n 1 || true)"
echo
echo "sanitizers: total $((SECONDS - T_ALL)) s, pytest exit status $rc${summary:+, pytest: $summary}"
if ((rc == 5)); then
    echo "FAIL: pytest collected no tests"
    rc=1
elif ((rc > 128)) || [[ -z "$summary" ]]; then
    echo "FAIL: the test process died (status $rc) before pytest could finish; see the reports above"
    rc=1
fi
echo "ASan+UBSan: $passed passed, $reports reports"
if ((scan_rc != 0)); then exit 1; fi
exit "$rc"
