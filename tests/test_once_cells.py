"""One-time values under re-entry and fork().

The lookup of the Sequence type (the first call of multikeysort whose
columns are not a sequence) imports collections.abc, which runs Python code:
an import hook can ask for the type again on the same thread, and a process
can fork while another thread is in the middle of the lookup. Neither may
hang. Each scenario runs in a fresh interpreter, where the type has not been
looked up yet, and under a timeout, so that a hang fails its test instead of
stalling the suite. (The other one-time values are made at import or run no
Python code of their own; the C++ frame test re-enters them.)"""

import subprocess
import sys
import textwrap

import pytest

TIMEOUT = 60


def run_fresh(code):
    dev_mode = ["-X", "dev"] if sys.flags.dev_mode else []
    try:
        result = subprocess.run(
            [sys.executable, "-I", *dev_mode, "-c", textwrap.dedent(code)],
            capture_output=True, text=True, timeout=TIMEOUT,
        )
    except subprocess.TimeoutExpired as expired:
        pytest.fail(f"the scenario hung; it printed: {expired.stdout!r}")
    assert result.returncode == 0, result.stdout + result.stderr
    return result.stdout.splitlines()


# An __import__ hook sees every lookup of the Sequence type (the first call
# of multikeysort whose columns are not a sequence). During the first
# lookup it makes that same call again, on the same thread. Either lookup
# can be made to fail, which fails its own call only.
NESTED_SEQUENCE_LOOKUP = """
    import builtins
    from pelm import _pelm as M

    real_import = builtins.__import__
    NESTED_FAILS, OUTER_FAILS = {nested_fails}, {outer_fails}
    lookups = []

    def outcome(call):
        try:
            return repr(call())
        except BaseException as e:
            return type(e).__name__

    def hook(name, *args, **kwargs):
        if name == "collections.abc":
            lookups.append(name)
            if len(lookups) == 1:
                print("nested", outcome(lambda: M.multikeysort([{{"a": 1}}], 5)))
                if OUTER_FAILS:
                    raise ImportError("the first lookup is refused")
            elif len(lookups) == 2 and NESTED_FAILS:
                raise ImportError("the nested lookup is refused")
        return real_import(name, *args, **kwargs)

    builtins.__import__ = hook
    print("outer", outcome(lambda: M.multikeysort([{{"a": 2}}, {{"a": 1}}], 5)))
    print("later", outcome(lambda: M.multikeysort([{{"a": 3}}], {{"a"}})))
    print("lookups", len(lookups))
"""


@pytest.mark.parametrize("nested_fails", [False, True], ids=["nested-ok", "nested-fails"])
@pytest.mark.parametrize("outer_fails", [False, True], ids=["outer-ok", "outer-fails"])
def test_sequence_lookup_asked_again_by_its_own_import(nested_fails, outer_fails):
    lines = run_fresh(NESTED_SEQUENCE_LOOKUP.format(nested_fails=nested_fails,
                                                    outer_fails=outer_fails))
    assert lines == [
        "nested " + ("PanicException" if nested_fails else "[{'a': 1}]"),
        "outer " + ("PanicException" if outer_fails else "[{'a': 2}, {'a': 1}]"),
        "later [{'a': 3}]",
        # Whichever lookup succeeds first is kept: only when both failed does
        # the later call look the type up again.
        f"lookups {3 if nested_fails and outer_fails else 2}",
    ]


# A thread makes the first lookup of the Sequence type behind an import hook
# that holds it there until the main thread has forked. The child, where that
# thread does not exist, makes its own first call.
FORK_DURING_SEQUENCE_LOOKUP = """
    import builtins, os, signal, threading, warnings
    from pelm import _pelm as M

    # Forking a process that runs threads is what this scenario is about.
    warnings.filterwarnings("ignore", message=".*fork", category=DeprecationWarning)

    real_import = builtins.__import__
    in_lookup, forked = threading.Event(), threading.Event()

    def held_hook(name, *args, **kwargs):
        if name == "collections.abc" and threading.current_thread() is not threading.main_thread():
            in_lookup.set()
            forked.wait()
        return real_import(name, *args, **kwargs)

    builtins.__import__ = held_hook
    results = []
    thread = threading.Thread(target=lambda: results.append(M.multikeysort([{"a": 1}], {"a"})))
    thread.start()
    in_lookup.wait()
    pid = os.fork()
    if pid == 0:
        signal.alarm(20)  # a hung child ends by itself
        result = M.multikeysort([{"a": 2}, {"a": 1}], {"a"})
        os._exit(0 if result == [{"a": 2}, {"a": 1}] else 3)
    forked.set()
    _, status = os.waitpid(pid, 0)
    thread.join()
    print("child", os.waitstatus_to_exitcode(status), "thread", results)
"""


def test_fork_while_another_thread_looks_up_the_sequence_type():
    assert run_fresh(FORK_DURING_SEQUENCE_LOOKUP) == ["child 0 thread [[{'a': 1}]]"]


# Daemon threads are still there when the process exits: one holds the first
# lookup of the Sequence type for good, another waits for it. The exit must
# not wait for them.
EXIT_WHILE_A_THREAD_WAITS_FOR_THE_LOOKUP = """
    import builtins, threading, time
    from pelm import _pelm as M

    real_import = builtins.__import__
    in_lookup, never = threading.Event(), threading.Event()

    def stuck_hook(name, *args, **kwargs):
        if name == "collections.abc" and threading.current_thread().name == "looks up":
            in_lookup.set()
            never.wait()
        return real_import(name, *args, **kwargs)

    builtins.__import__ = stuck_hook
    call = lambda: M.multikeysort([{"a": 1}], {"a"})
    threading.Thread(target=call, name="looks up", daemon=True).start()
    in_lookup.wait()
    threading.Thread(target=call, name="waits", daemon=True).start()
    time.sleep(0.5)  # lets the second thread start waiting
    print("exiting")
"""


def test_exit_while_a_daemon_thread_waits_for_the_lookup():
    assert run_fresh(EXIT_WHILE_A_THREAD_WAITS_FOR_THE_LOOKUP) == ["exiting"]
