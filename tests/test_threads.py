"""Thread stress and cold start.

Many threads call all ten functions at once with a tiny switch interval:
on private inputs every result is checked exactly; on shared inputs, which
other threads mutate meanwhile, every call must give a result or a
documented exception, and no item may be lost or duplicated. Items with
Python-level __eq__ and __lt__ make the interpreter switch threads inside
the calls that run user code.

The cold-start test runs fresh interpreters in which many threads make their
first call at the same moment, racing for the one-time values: the
PanicException type, the interned attribute names, the Sequence lookup of
multikeysort and the vulgar-fraction table and pattern."""

import os
import random
import subprocess
import sys
import textwrap
import threading
import time
import traceback

import pytest

import pelm

CALLERS = 16
CALLS = 200


@pytest.fixture
def tiny_switch_interval():
    old = sys.getswitchinterval()
    sys.setswitchinterval(1e-6)
    try:
        yield
    finally:
        sys.setswitchinterval(old)


class Token:
    __slots__ = ("n", "__weakref__")

    def __init__(self, n):
        self.n = n

    def __repr__(self):
        return f"Token({self.n})"


_ticks = [0]


def now_and_then_let_others_run():
    # A tiny switch interval alone seldom stops a thread inside a call; a
    # sleep lets the other threads run in the middle of the call for sure.
    _ticks[0] += 1
    if _ticks[0] % 16 == 0:
        time.sleep(0)


class Cell:
    """A sort cell of kind Other: comparing two runs Python code."""

    __slots__ = ("v",)

    def __init__(self, v):
        self.v = v

    def __lt__(self, other):
        now_and_then_let_others_run()
        return self.v < other.v

    def __gt__(self, other):
        return self.v > other.v

    def __repr__(self):
        return f"Cell({self.v})"


class SlowEq:
    """An item whose equality runs Python code."""

    def __init__(self, v):
        self.v = v

    def __eq__(self, other):
        now_and_then_let_others_run()
        return self.v == getattr(other, "v", other)

    __hash__ = object.__hash__


class Lookup(Exception):
    pass


class RaisingEq:
    def __eq__(self, other):
        raise Lookup("no")

    __hash__ = object.__hash__


# ------------------------------------------------------------ private jobs
# Each job makes its own fresh input, calls one function and checks the
# result exactly. `P` is the PanicException type.

TEXT_CASES = [
    (pelm.parse, "1,200m", 1200),
    (pelm.parse, "(1)", -1),
    (pelm.parse, "$(1,234.50)", -1234.5),
    (pelm.parse, "9223372036854775808", 9223372036854775807),
    (pelm.parse, "abc", None),
    (pelm.normalize_numeric_str, "(50%)", "-50"),
    (pelm.normalize_numeric_str, "  (  )  ", None),
    (pelm.normalize_numeric_str, "1,234%,", "1234"),
    (pelm.uncamel, "getHTTPResponseCode", "get_http_response_code"),
    (pelm.uncamel, "\u0130Ab", "i\u0307_ab"),
    (pelm.underscore_to_camelcase, "foo_\u00dfar", "fooSSar"),
    (pelm.underscore_to_camelcase, "__init__", "init"),
    (pelm.sanitize_vulgar_string, "Foo-Bar+Baz: 17s 4\u00be 1 \u215b 20 93\u00be - 94\u215b",
     "Foo-Bar+Baz: 17s 4.75 1.125 20 93.75 - 94.125"),
    (pelm.sanitize_vulgar_string, "\u2153 cup", "0.333333 cup"),
    (pelm.sanitize_vulgar_string, "\u00bd\u00bd", "0.5 0.5"),
]


def job_text(rng, P):
    function, arg, expected = rng.choice(TEXT_CASES)
    got = function(arg)
    assert type(got) is type(expected) and got == expected, (function.__name__, arg, got)


def job_type_error(rng, P):
    function = rng.choice([pelm.parse, pelm.uncamel, pelm.sanitize_vulgar_string])
    try:
        function(5)
    except TypeError as e:
        assert str(e) == "'int' object is not an instance of 'str'"
        assert e.__notes__ == [f"while processing '{'camel' if function is pelm.uncamel else 's'}'"]
    else:
        raise AssertionError("no TypeError")


def job_backfill(rng, P):
    a, b = Token(1), Token(2)
    got = pelm.backfill([None, a, None, None, b, None])
    assert len(got) == 6 and all(x is y for x, y in zip(got, [a, a, a, a, b, b]))


def job_collapse(rng, P):
    ts = [Token(i) for i in range(5)]
    inner = [ts[1], (ts[2], [ts[3]])]
    got = pelm.collapse(ts[0], inner, (), inner, [[ts[4]]])
    expected = [ts[0], ts[1], ts[2], ts[3], ts[1], ts[2], ts[3], ts[4]]
    assert len(got) == len(expected) and all(x is y for x, y in zip(got, expected))
    looped = [ts[0]]
    looped.append((looped,))
    try:
        pelm.collapse(looped)
    except ValueError as e:
        assert str(e) == "Circular reference detected"
    else:
        raise AssertionError("no ValueError")
    finally:
        looped.pop()


def job_backfill_iterdict(rng, P):
    got = pelm.backfill_iterdict([{"a": 1, "b": None}, {"a": 4, "b": 2}, {"a": None, "b": None}])
    assert [list(d.items()) for d in got] == [[("a", 1), ("b", 2)], [("a", 4), ("b", 2)], [("a", 4), ("b", 2)]]


def job_same_order(rng, P):
    comp = [SlowEq(v) for v in range(8)]
    ref = [SlowEq(1), SlowEq(4), SlowEq(6)]
    assert pelm.same_order(ref, comp) is True
    assert pelm.same_order(ref[::-1], comp) is False
    try:
        pelm.same_order([RaisingEq()], comp)
    except Lookup:
        pass
    else:
        raise AssertionError("no Lookup")


def job_multikeysort(rng, P):
    values = list(range(25))
    rng.shuffle(values)
    rows = [{"k": Cell(v), "n": v % 3} for v in values]
    by_k = sorted(rows, key=lambda r: r["k"].v)
    got = pelm.multikeysort(rows, ["k"])
    assert all(x is y for x, y in zip(got, by_k)) and len(got) == len(rows)
    expected = sorted(rows, key=lambda r: (-r["n"], r["k"].v))
    assert pelm.multikeysort(rows, ("-n", "k"), True) is None
    assert all(x is y for x, y in zip(rows, expected))
    # columns that are not a sequence: the given order
    same = pelm.multikeysort(rows, {"k"})
    assert all(x is y for x, y in zip(same, rows))


class PanicCell(Cell):
    """Its less-than raises the PanicException type given to it."""

    __slots__ = ("P",)

    def __init__(self, v, P):
        super().__init__(v)
        self.P = P

    def __lt__(self, other):
        raise self.P("panic in a thread")


def job_panic(rng, P):
    rows = [{"k": Cell(1)}, {"k": PanicCell(0, P)}]
    try:
        pelm.multikeysort(rows, "k")
    except P as e:
        assert e.args == ("panic in a thread",)
    else:
        raise AssertionError("no PanicException")


PRIVATE_JOBS = [job_text, job_type_error, job_backfill, job_collapse, job_backfill_iterdict,
                job_same_order, job_multikeysort, job_panic]


# ------------------------------------------------------------- shared state


class Shared:
    """Pool: distinct dicts, each in the list `moving` or in one mutator's
    hand at any moment (mutators move them with single, atomic list
    operations), so `moving` never holds an item twice and, once every
    thread is done, holds every item in no hand. `sorted_only` is only ever
    rearranged by in-place sorts, so it is always a permutation of its
    first content."""

    def __init__(self, rng):
        self.pool = [{"id": i, "k": Cell(rng.random()), "v": None if i % 4 == 0 else i % 5} for i in range(40)]
        self.ids = {id(d) for d in self.pool}
        self.moving = list(self.pool[:30])
        self.hands = [self.pool[30:35], self.pool[35:]]
        self.sorted_only = [{"id": i, "k": Cell(rng.random())} for i in range(30)]
        self.sorted_ids = sorted(map(id, self.sorted_only))
        self.refs = [SlowEq(0.5), SlowEq(2)]
        self.stop = threading.Event()


def no_foreign_or_twice(shared, items):
    seen = set()
    for item in items:
        assert id(item) in shared.ids, f"foreign item {item!r}"
        assert id(item) not in seen, f"item twice: {item!r}"
        seen.add(id(item))


MODIFIED = "list modified during sort"


def shared_read(shared, rng, P):
    lst = shared.moving
    choice = rng.randrange(7)
    if choice == 0:
        try:
            got = pelm.multikeysort(lst, rng.choice(["k", ["-k"], ("v", "k")]))
        except ValueError as e:
            assert str(e) == MODIFIED
        except IndexError:
            pass  # the list became shorter while its rows were built
        else:
            no_foreign_or_twice(shared, got)
    elif choice == 1:
        try:
            assert pelm.multikeysort(lst, rng.choice(["k", "-k"]), True) is None
        except ValueError as e:
            assert str(e) == MODIFIED
        except IndexError:
            pass
    elif choice == 2:
        try:
            assert pelm.same_order(shared.refs, lst) in (True, False)
        except IndexError:
            pass  # a comparison let another thread shrink comp
    elif choice == 3:
        got = pelm.collapse(lst, (lst,))
        half = len(got) // 2
        assert len(got) % 2 == 0 and all(a is b for a, b in zip(got[:half], got[half:]))
        no_foreign_or_twice(shared, got[:half])
    elif choice == 4:
        got = pelm.backfill(lst)
        no_foreign_or_twice(shared, got)
    elif choice == 5:
        got = pelm.backfill_iterdict(lst)
        assert all(type(d) is dict and None not in d.values() for d in got)
        assert all(set(d) <= {"id", "k", "v", "extra"} for d in got)
    else:
        target = shared.sorted_only
        assert pelm.multikeysort(target, rng.choice(["k", "-k", ["-id"]]), True) is None
        assert sorted(map(id, list(target))) == shared.sorted_ids
        got = pelm.multikeysort(target, "k")
        assert sorted(map(id, got)) == shared.sorted_ids


def mutate_list(shared, rng, hand):
    lst = shared.moving
    op = rng.randrange(3)
    try:
        if op == 0 and hand:
            lst.insert(rng.randrange(len(lst) + 1), hand.pop())
        elif op == 1 and len(hand) < 10:
            hand.append(lst.pop(rng.randrange(len(lst))))
        elif hand:
            # replace: pop one out, put one in at the same place
            where = rng.randrange(len(lst))
            taken = lst.pop(where)
            lst.insert(where, hand.pop())
            hand.append(taken)
    except (IndexError, ValueError):
        pass  # the list changed between the choice of an index and its use


def mutate_dicts(shared, rng):
    d = rng.choice(shared.pool + shared.sorted_only)
    op = rng.randrange(4)
    if op == 0:
        d["k"] = Cell(rng.random())
    elif op == 1:
        d["v"] = rng.choice([None, 1, 2.5, -3])  # one kind of value: numbers
    elif op == 2:
        d["extra"] = 1
    else:
        d.pop("extra", None)


# ------------------------------------------------------------------ threads


def test_threads_call_all_functions_at_once(tiny_switch_interval, panic_exception, capfd):
    P = panic_exception
    shared = Shared(random.Random(1))
    failures = []
    calls = [0] * CALLERS
    barrier = threading.Barrier(CALLERS)

    def record(role, error):
        failures.append(f"{role}: {''.join(traceback.format_exception(error)).strip()}")

    def private_worker(n):
        rng = random.Random(n)
        barrier.wait()
        for _ in range(CALLS):
            job = PRIVATE_JOBS[rng.randrange(len(PRIVATE_JOBS))]
            try:
                job(rng, P)
            except BaseException as e:  # a PanicException is a BaseException
                record(f"private {n} {job.__name__}", e)
            calls[n] += 1

    def shared_reader(n):
        rng = random.Random(n)
        barrier.wait()
        for _ in range(CALLS):
            try:
                shared_read(shared, rng, P)
            except BaseException as e:
                record(f"shared reader {n}", e)
            calls[n] += 1

    def mutator(n, hand):
        # mutates the shared lists or dicts, and calls the functions too
        rng = random.Random(n)
        barrier.wait()
        for i in range(CALLS):
            if hand is None:
                mutate_dicts(shared, rng)
            else:
                mutate_list(shared, rng, hand)
            try:
                shared_read(shared, rng, P) if i % 2 else PRIVATE_JOBS[i % len(PRIVATE_JOBS)](rng, P)
            except BaseException as e:
                record(f"mutator {n}", e)
            calls[n] += 1

    roles = [private_worker] * 8 + [shared_reader] * 4
    threads = [threading.Thread(target=role, args=(n,)) for n, role in enumerate(roles)]
    threads += [threading.Thread(target=mutator, args=(12, shared.hands[0])),
                threading.Thread(target=mutator, args=(13, shared.hands[1])),
                threading.Thread(target=mutator, args=(14, None)),
                threading.Thread(target=mutator, args=(15, None))]
    assert len(threads) == CALLERS
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    capfd.readouterr()  # the fault reports of the PanicException jobs

    # every item is back in exactly one place
    everything = list(shared.moving) + shared.hands[0] + shared.hands[1]
    assert sorted(map(id, everything)) == sorted(shared.ids)
    assert sorted(map(id, shared.sorted_only)) == shared.sorted_ids
    with capfd.disabled():
        print(f"\nthreads: {CALLERS} threads \u00d7 {CALLS} calls, {len(failures)} failures")
    assert not failures, "\n\n".join(failures[:5])
    assert calls == [CALLS] * CALLERS


# --------------------------------------------------------------- cold start

COLD_START = textwrap.dedent(
    r"""
    import sys, threading
    sys.setswitchinterval(1e-6)
    import pelm

    THREADS = int(sys.argv[1])
    barrier = threading.Barrier(THREADS)
    ok = []
    problems = []

    class Lookup(Exception):
        pass

    class RaisingEq:
        def __eq__(self, other):
            raise Lookup("first exception")
        __hash__ = object.__hash__

    def panic_types():
        return [c for c in BaseException.__subclasses__()
                if c.__module__ == "pyo3_runtime" and c.__name__ == "PanicException"]

    ROWS = [{"a": 2, "b": "x"}, {"a": 1, "b": "y"}, {"a": 2, "b": "w"}]

    def first_exception():
        try:
            pelm.same_order([RaisingEq()], [1])
        except Lookup as e:
            assert str(e) == "first exception"
        else:
            raise AssertionError("no Lookup")

    def first_note():
        try:
            pelm.parse(5)
        except TypeError as e:
            assert e.__notes__ == ["while processing 's'"], e.__notes__
        else:
            raise AssertionError("no TypeError")

    def first_sequence_lookup():
        got = pelm.multikeysort(ROWS, {"a"})
        assert got == ROWS and all(x is y for x, y in zip(got, ROWS))

    def first_fraction():
        assert pelm.sanitize_vulgar_string("4\u00be 1 \u215b cup") == "4.75 1.125 cup"

    def first_plain_fraction():
        assert pelm.sanitize_vulgar_string("no fraction") == "no fraction"

    def first_sort():
        got = pelm.multikeysort(ROWS, ["-a", "b"])
        assert [r["b"] for r in got] == ["w", "x", "y"]

    def first_panic():
        # the type may not exist yet: the first exception taken makes it
        first_exception()
        (P,) = panic_types()
        class Bad:
            def __lt__(self, other):
                raise P("panic at start")
            __gt__ = __lt__
        try:
            pelm.multikeysort([{"a": 1}, {"a": Bad()}], "a")
        except P as e:
            assert e.args == ("panic at start",)
        else:
            raise AssertionError("no PanicException")

    FIRSTS = [first_exception, first_note, first_sequence_lookup, first_fraction,
              first_sort, first_panic, first_plain_fraction]

    def later_calls():
        for _ in range(20):
            first_note()
            first_sequence_lookup()
            first_fraction()
            first_sort()
            first_exception()
            assert pelm.uncamel("getHTTPResponseCode") == "get_http_response_code"
            assert pelm.parse("$(1,234.50)") == -1234.5
            assert pelm.collapse([1, (2, [3])]) == [1, 2, 3]
            assert pelm.backfill([None, 1]) == [1, 1]

    def worker(n):
        try:
            first = FIRSTS[n % len(FIRSTS)]
            barrier.wait()
            first()
            later_calls()
            first_panic()
            ok.append(n)
        except BaseException as e:
            import traceback
            problems.append(f"thread {n} ({FIRSTS[n % len(FIRSTS)].__name__}): "
                            + "".join(traceback.format_exception(e)))

    threads = [threading.Thread(target=worker, args=(n,)) for n in range(THREADS)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert len(panic_types()) == 1, panic_types()
    for p in problems:
        print(p, file=sys.stdout)
    print(f"threads ok: {len(ok)} of {THREADS}")
    sys.exit(0 if len(ok) == THREADS else 1)
    """
)

PROCESSES = 8
COLD_THREADS = 16


def test_cold_start_many_threads_make_their_first_call_at_once(capsys):
    env = dict(os.environ)
    env["PYTHONPATH"] = os.pathsep.join(p for p in sys.path if p)
    children = [
        subprocess.Popen([sys.executable, "-c", COLD_START, str(COLD_THREADS)], env=env,
                         stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        for _ in range(PROCESSES)
    ]
    passed = 0
    reports = []
    for child in children:
        out, err = child.communicate(timeout=120)
        if child.returncode == 0 and f"threads ok: {COLD_THREADS} of {COLD_THREADS}" in out:
            passed += 1
        else:
            reports.append(f"exit {child.returncode}\n{out}\n{err[-3000:]}")
    with capsys.disabled():
        print(f"\ncold start {passed} of {PROCESSES}")
    assert passed == PROCESSES, "\n---\n".join(reports[:2])
