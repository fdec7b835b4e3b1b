"""Reference-leak check for the test suite, in the manner of regrtest's -R.

Load it into a debug build of CPython (one that has sys.gettotalrefcount):

    PYTHONPATH=.ci python3.11-dbg -m pytest -p refleak_plugin

Before each test is run and reported as usual, the plugin runs it
(setup, call, teardown of its function-scoped fixtures) WARMUPS + REPEATS
times without reporting; around each run it clears the interpreter's caches,
collects garbage and reads sys.gettotalrefcount(). A test whose count grows
on every one of the last REPEATS runs leaks; its report is turned into a
failure that names the deltas, e.g. "leaked [1, 1, 1] references".
A test that passes once and then fails when run again fails too.

Not repeated: tests marked @pytest.mark.no_refleak_repeat, tests that start
a process (seen through audit events), tests that fail or skip on their first
run, and tests whose first run takes longer than --refleak-max-seconds.

The closing line is "refleak check: N tests repeated, M leaking".
"""

from __future__ import annotations

import functools
import gc
import os
import re
import sys
import time
import warnings

import pytest
from _pytest.runner import runtestprotocol

_SPAWN_EVENTS = frozenset(
    {"subprocess.Popen", "os.system", "os.posix_spawn", "os.fork", "os.forkpty", "os.exec"}
)


def _env_number(name, default, kind):
    value = os.environ.get(name)
    return kind(value) if value else default


def pytest_addoption(parser):
    group = parser.getgroup("refleak", "reference-leak check (debug interpreters)")
    group.addoption(
        "--refleak-warmups", type=int,
        default=_env_number("PELM_REFLEAK_WARMUPS", 3, int),
        help="runs before the counted ones (default 3, env PELM_REFLEAK_WARMUPS)",
    )
    group.addoption(
        "--refleak-repeats", type=int,
        default=_env_number("PELM_REFLEAK_REPEATS", 3, int),
        help="counted runs; a test leaks when the total reference count grows on "
        "every one of them (default 3, env PELM_REFLEAK_REPEATS)",
    )
    group.addoption(
        "--refleak-max-seconds", type=float,
        default=_env_number("PELM_REFLEAK_MAX_SECONDS", 0.5, float),
        help="repeat only tests whose first run's call phase takes less "
        "(default 0.5, env PELM_REFLEAK_MAX_SECONDS)",
    )


def pytest_configure(config):
    config.addinivalue_line(
        "markers",
        "no_refleak_repeat: the reference-leak check runs this test once only",
    )
    if not hasattr(sys, "gettotalrefcount"):
        raise pytest.UsageError(
            "refleak_plugin needs a debug build of CPython (sys.gettotalrefcount); "
            f"{sys.executable} is not one"
        )
    if config.option.refleak_repeats < 1 or config.option.refleak_warmups < 1:
        raise pytest.UsageError("--refleak-warmups and --refleak-repeats must be >= 1")
    _derandomize_hypothesis()
    checker = RefleakChecker(config)
    config.pluginmanager.register(checker, "refleak-checker")
    sys.addaudithook(checker.audit)


def _derandomize_hypothesis():
    # The same examples on every run, no database, no deadline (a debug
    # interpreter is slow): a run differs from the previous one only by
    # what the code under test leaves behind.
    try:
        from hypothesis import settings
    except ImportError:
        return
    settings.register_profile(
        "pelm-refleak", derandomize=True, database=None, deadline=None, print_blob=False
    )
    settings.load_profile("pelm-refleak")


def _clear_caches():
    """What regrtest's dash_R_cleanup clears, less the costly parts."""
    sys._clear_type_cache()
    re.purge()
    typing = sys.modules.get("typing")
    if typing is not None:
        for cleanup in getattr(typing, "_cleanups", ()):
            cleanup()
    linecache = sys.modules.get("linecache")
    if linecache is not None:
        linecache.clearcache()
    struct = sys.modules.get("struct")
    if struct is not None:
        struct._clearcache()
    gc.collect()


class RefleakChecker:
    def __init__(self, config):
        self.warmups = config.option.refleak_warmups
        self.repeats = config.option.refleak_repeats
        self.max_seconds = config.option.refleak_max_seconds
        self.recording = False
        self.spawned = False
        self.repeated = 0
        self.seconds = 0.0
        self.not_repeated = {"marked": 0, "slow": 0, "spawns processes": 0,
                             "failed or skipped": 0, "hypothesis": 0}
        self.findings = {}  # nodeid -> text
        self.costliest = []  # (seconds, nodeid), the five costliest checks

    def audit(self, event, args):
        if self.recording and event in _SPAWN_EVENTS:
            self.spawned = True

    def _run_once(self, item):
        sections = list(getattr(item, "_report_sections", ()))
        fixture_defs = _fixture_defs(item)
        finalizer_counts = _finalizer_counts(fixture_defs)
        self.spawned = False
        self.recording = True
        try:
            # Warnings of the silent runs are not reported (pytest would keep
            # them, and the kept list would grow on every run).
            with warnings.catch_warnings(record=True):
                reports = runtestprotocol(item, log=False, nextitem=item.parent)
        finally:
            self.recording = False
            if hasattr(item, "_report_sections"):
                item._report_sections[:] = sections
            _prune_finalizers(fixture_defs, finalizer_counts)
        passed = all(report.passed for report in reports)
        call_seconds = sum(r.duration for r in reports if r.when == "call")
        failure = None
        if not passed:
            failed = [r for r in reports if r.failed]
            if failed:
                failure = f"{failed[0].when}: {_first_line(failed[0])}"
        return passed, call_seconds, failure

    @pytest.hookimpl(tryfirst=True)
    def pytest_runtest_protocol(self, item, nextitem):
        # Runs before pytest's own protocol, which then runs and reports the
        # test once more; returning None lets it go on.
        if not isinstance(item, pytest.Function):
            return None
        if item.get_closest_marker("no_refleak_repeat") is not None:
            self.not_repeated["marked"] += 1
            return None
        if getattr(item.obj, "is_hypothesis_test", False):
            # Each run draws new examples, and Hypothesis keeps what it learns
            # from them: its own objects grow from run to run.
            self.not_repeated["hypothesis"] += 1
            return None
        started = time.perf_counter()
        # What exists before the test's runs is left out of the collections
        # between them, which then only look at the runs' own objects: a
        # fraction of the time. (Garbage that the runs make of older objects
        # waits for gc.unfreeze(); it cannot recur on every run.)
        gc.collect()
        gc.freeze()
        try:
            self._check(item)
        finally:
            gc.unfreeze()
            spent = time.perf_counter() - started
            self.seconds += spent
            self.costliest = sorted([*self.costliest, (spent, item.nodeid)], reverse=True)[:5]
        return None

    def _check(self, item):
        runs = self.warmups + self.repeats
        # Filled in place: appending would add a reference on every run.
        counts = [0] * (runs + 1)
        _clear_caches()
        counts[0] = sys.gettotalrefcount()
        for run in range(runs):
            passed, call_seconds, failure = self._run_once(item)
            if self.spawned:
                self.not_repeated["spawns processes"] += 1
                return
            if not passed:
                if run == 0:
                    self.not_repeated["failed or skipped"] += 1
                elif failure is not None:
                    self.findings[item.nodeid] = (
                        f"passed once, then failed when run again (run {run + 1}): {failure}"
                    )
                    self.repeated += 1
                else:
                    self.not_repeated["failed or skipped"] += 1
                return
            if run == 0 and call_seconds > self.max_seconds:
                self.not_repeated["slow"] += 1
                return
            _clear_caches()
            counts[run + 1] = sys.gettotalrefcount()
        self.repeated += 1
        deltas = [after - before for before, after in zip(counts, counts[1:])]
        counted = deltas[self.warmups:]
        if all(delta > 0 for delta in counted):
            self.findings[item.nodeid] = (
                f"leaked {counted} references, sum={sum(counted)} "
                f"(all runs: {deltas})"
            )

    @pytest.hookimpl(wrapper=True)
    def pytest_runtest_makereport(self, item, call):
        report = yield
        finding = self.findings.get(item.nodeid)
        if finding is not None and report.when == "call" and report.passed:
            report.outcome = "failed"
            report.longrepr = f"refleak check: {item.nodeid} {finding}"
        return report

    def pytest_terminal_summary(self, terminalreporter):
        write = terminalreporter.write_line
        terminalreporter.section("reference-leak check")
        for nodeid, finding in self.findings.items():
            write(f"LEAK {nodeid}: {finding}")
        skipped = ", ".join(f"{n} {why}" for why, n in self.not_repeated.items() if n)
        write(
            f"{self.warmups} warm-up + {self.repeats} counted runs per test, "
            f"{self.seconds:.1f} s; not repeated: {skipped or 'none'}"
        )
        for spent, nodeid in self.costliest:
            write(f"  {spent:6.2f} s  {nodeid}")
        failing = sum(1 for text in self.findings.values() if text.startswith("passed once"))
        if failing:
            write(f"{failing} tests passed once and failed when run again")
        write(
            f"refleak check: {self.repeated} tests repeated, "
            f"{len(self.findings) - failing} leaking"
        )


def _fixture_defs(item):
    info = getattr(item, "_fixtureinfo", None)
    if info is None:
        return []
    return [d for defs in info.name2fixturedefs.values() for d in defs]


def _finalizer_counts(fixture_defs):
    return {
        id(d): len(d._finalizers)
        for d in fixture_defs
        if d.cached_result is not None and isinstance(getattr(d, "_finalizers", None), list)
    }


def _is_finished_dependent(finalizer):
    # pytest's FixtureDef.execute adds `partial(dependent.finish, request=...)`
    # to each fixture that a fixture requests. A cached module- or
    # session-scoped fixture collects one for each test that runs a dependent
    # function-scoped fixture (tmp_path -> tmp_path_factory, for one), and only
    # drops them when it is torn down itself: pytest's own growth, not the
    # test's. Once the dependent has been torn down they are no-ops.
    if not isinstance(finalizer, functools.partial):
        return False
    dependent = getattr(finalizer.func, "__self__", None)
    return (
        getattr(finalizer.func, "__name__", "") == "finish"
        and dependent is not None
        and getattr(dependent, "cached_result", True) is None
    )


def _prune_finalizers(fixture_defs, counts):
    for d in fixture_defs:
        before = counts.get(id(d))
        if before is None or d.cached_result is None:
            continue
        added = d._finalizers[before:]
        if added:
            d._finalizers[before:] = [f for f in added if not _is_finished_dependent(f)]


def _first_line(report):
    text = str(report.longrepr) if report.longrepr is not None else ""
    lines = [line for line in text.splitlines() if line.startswith("E ")]
    return (lines[0][1:].strip() if lines else text.splitlines()[-1] if text else "?")[:200]
