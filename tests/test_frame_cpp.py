"""Runs the C++ test program of the call frame, which embeds the interpreter
and reaches what Python code cannot: fault reports, deferred releases,
dropped error recipes, one-time cells and the execution step run twice."""

import os
import shutil
import signal
import subprocess
import sys
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parent.parent


@pytest.fixture(scope="session")
def frame_test(tmp_path_factory):
    if shutil.which("cmake") is None or not (ROOT / "CMakeLists.txt").exists():
        pytest.skip("the C++ test program needs cmake and the source tree")
    build = tmp_path_factory.mktemp("frame-test-build")
    generator = ["-G", "Ninja"] if shutil.which("ninja") else []
    subprocess.run(
        ["cmake", "-S", str(ROOT), "-B", str(build), *generator, "-DCMAKE_BUILD_TYPE=Release",
         "-DPELM_FRAME_TESTS=ON", f"-DPython_EXECUTABLE={sys.executable}"],
        check=True, capture_output=True,
    )
    built = subprocess.run(
        ["cmake", "--build", str(build), "--target", "frame_test"], capture_output=True, text=True
    )
    assert built.returncode == 0, built.stdout + built.stderr
    return build / "frame_test"


def run_scenario(program, name, **env):
    environment = {k: v for k, v in os.environ.items() if k != "PELM_BACKTRACE"}
    environment.update(env)
    try:
        return subprocess.run([str(program), name], capture_output=True, text=True,
                              env=environment, timeout=60)
    except subprocess.TimeoutExpired as expired:
        pytest.fail(f"scenario {name} hung; it printed: {expired.stdout!r}")


REPORT_NOTE = "note: run with `PELM_BACKTRACE=1` environment variable to display a backtrace"


@pytest.mark.parametrize(
    "scenario",
    ["panic_resumed", "pending_releases_drained", "pending_releases_locked_at_fork",
     "dropped_recipes", "lazy_cell_poisoning",
     "module_exec_twice", "fault_report", "fractions_built_on_first_use",
     "fractions_poisoned_by_a_failed_build",
     # A one-time value asked for again, on the same thread, by Python code
     # that its own build runs.
     "once_cell_nested_builds", "reentered_panic_type", "reentered_interned_name",
     "reentered_sequence_type",
     "bit_compaction_gathers_the_kept_bits"],
)
def test_scenario_passes(frame_test, scenario):
    result = run_scenario(frame_test, scenario)
    if result.returncode == 77:
        pytest.skip(result.stdout.strip())
    assert result.returncode == 0, result.stdout + result.stderr
    assert result.stdout.strip() == "ok"


def test_fault_report_format_and_note_once(frame_test):
    stderr = run_scenario(frame_test, "fault_report").stderr
    header = f"\nthread '<unnamed>' ("
    assert stderr.count(header) == 2
    first = stderr.split(header)[1]
    tid, location = first.split(") panicked at ", 1)
    assert tid.isdigit()
    place, message = location.split(":\n", 1)
    path, line, column = place.rsplit(":", 2)
    assert path == "tests/cpp/frame_test.cpp" and line.isdigit() and column.isdigit()
    assert message.startswith("frame test fault\n")
    assert stderr.count(REPORT_NOTE) == 1
    assert stderr.index(REPORT_NOTE) < stderr.index(header, 2)


def test_backtrace_setting_replaces_the_note(frame_test):
    stderr = run_scenario(frame_test, "fault_report", PELM_BACKTRACE="1").stderr
    assert REPORT_NOTE not in stderr
    assert stderr.count("stack backtrace:") == 2


def test_resumed_panic_writes_the_two_lines_and_the_traceback(frame_test):
    stderr = run_scenario(frame_test, "panic_resumed").stderr
    assert stderr.startswith(
        "--- PyO3 is resuming a panic after fetching a PanicException from Python. ---\n"
        "Python stack trace below:\n"
        "Traceback (most recent call last):\n"
    )
    assert "pyo3_runtime.PanicException: raised from Python" in stderr
    assert "panicked at" not in stderr  # resumed without a new report


def test_poisoned_cell_reports_every_use(frame_test):
    stderr = run_scenario(frame_test, "lazy_cell_poisoning").stderr
    assert stderr.count("\nthe build failed\n") == 1
    assert stderr.count("\nLazy instance has previously been poisoned\n") == 2


def test_negative_attach_count_ends_the_process(frame_test):
    result = run_scenario(frame_test, "negative_attach_refused")
    assert result.returncode == -signal.SIGABRT
    assert (
        "Attaching a thread to the interpreter is prohibited while a __traverse__ "
        "implementation is running.\n" in result.stderr
    )
    assert "\nuncaught panic at ffi boundary\nstack backtrace:\n" in result.stderr
    assert "ok" not in result.stdout
