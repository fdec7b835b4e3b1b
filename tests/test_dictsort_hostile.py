"""pelm.multikeysort against callbacks that misbehave: comparisons and
subscripts that change the list, raise, answer at random or raise
pyo3_runtime.PanicException. Every call must end with a result or the
specified exception, with every item exactly once and nothing leaked."""

import gc
import random
import subprocess
import sys
import textwrap

import pytest

from pelm import multikeysort

both_modes = pytest.mark.parametrize("inplace", [False, True], ids=["new", "inplace"])

# Kept in every item and cell of the leak checks: an item or a cell that the
# call fails to release keeps a count on it.
MARKER = object()


def run_sort(items, columns, inplace):
    if inplace:
        assert multikeysort(items, columns, True) is None
        return items
    return multikeysort(items, columns)


def is_permutation(result, items):
    return sorted(map(id, result)) == sorted(map(id, items))


class Cell:
    """An Other cell whose comparisons run `hook(self, other)`, answering
    less-than with `lt` and greater-than with `gt` (callables or values)."""

    def __init__(self, hook=None, lt=False, gt=False):
        self.hook, self.lt, self.gt = hook, lt, gt

    def _answer(self, answer, other):
        if self.hook is not None:
            self.hook(self, other)
        return answer() if callable(answer) else answer

    def __lt__(self, other):
        return self._answer(self.lt, other)

    def __gt__(self, other):
        return self._answer(self.gt, other)


def cells_with(hook, n, **answers):
    return [{"a": Cell(hook, **answers), "i": i, "m": MARKER} for i in range(n)]


# --- comparisons that change the list --------------------------------------------


@both_modes
@pytest.mark.parametrize("n", [3, 50])
def test_comparison_that_appends_fails_after_the_sort(n, inplace):
    extra = {"a": 0}
    items = cells_with(None, n)
    given = list(items)
    appended = []

    def append_once(self, other):
        if not appended:
            appended.append(extra)
            items.append(extra)

    for item in items:
        item["a"].hook = append_once
    with pytest.raises(ValueError, match="^list modified during sort$"):
        run_sort(items, "a", inplace)
    # the list keeps its order plus what the callback appended
    assert items == given + [extra] and all(a is b for a, b in zip(items, given))


@both_modes
@pytest.mark.parametrize("n", [3, 50])
def test_comparison_that_pops_fails_after_the_sort(n, inplace):
    items = cells_with(None, n)
    given = list(items)

    def pop_once(self, other):
        if len(items) == n:
            items.pop(0)

    for item in items:
        item["a"].hook = pop_once
    with pytest.raises(ValueError, match="^list modified during sort$"):
        run_sort(items, "a", inplace)
    assert all(a is b for a, b in zip(items, given[1:]))


@both_modes
def test_comparison_that_replaces_an_item(inplace):
    replacement = {"a": "X"}
    items = []

    def replace_first(self, other):
        if items[0] is not replacement:
            items[0] = replacement

    # The Cell is greater than every number, so its row (built from position
    # 0) sorts last; the object now at position 0 takes that place.
    i0 = {"a": Cell(replace_first, lt=False, gt=True)}
    i1, i2 = {"a": 1}, {"a": 2}
    items.extend([i0, i1, i2])
    result = run_sort(items, "a", inplace)
    assert [id(x) for x in result] == [id(i1), id(i2), id(replacement)]


@both_modes
@pytest.mark.parametrize("n", [5, 10_000])
def test_random_answers_return_every_item_once(n, inplace):
    rng = random.Random(n)
    answer = lambda: rng.random() < 0.5  # noqa: E731
    items = cells_with(None, n, lt=answer, gt=answer)
    given = list(items)
    result = run_sort(items, "a", inplace)
    assert is_permutation(result, given)


@both_modes
def test_random_answers_mixed_with_native_cells(inplace):
    rng = random.Random(7)
    answer = lambda: rng.random() < 0.5  # noqa: E731
    values = [1, 2.5, "s", None, float("nan")]
    items = [
        {
            "a": Cell(lt=answer, gt=answer) if rng.random() < 0.3 else rng.choice(values),
            "b": rng.choice(values),
        }
        for _ in range(3000)
    ]
    given = list(items)
    assert is_permutation(run_sort(items, ["a", "-b"], inplace), given)


@both_modes
def test_comparisons_that_raise_count_as_equal(inplace):
    def boom(self, other):
        raise RuntimeError("comparison failed")

    items = cells_with(boom, 40)
    given = list(items)
    # every comparison is Equal: the stable sort keeps the given order
    assert [x["i"] for x in run_sort(items, "a", inplace)] == [x["i"] for x in given]


@both_modes
def test_comparison_that_reenters_multikeysort(inplace):
    def reenter(self, other):
        multikeysort(items, "i", True)

    items = cells_with(reenter, 30, lt=True)
    given = list(items)
    assert is_permutation(run_sort(items, "a", inplace), given)


# --- subscripts that change the list ---------------------------------------------


class Hooked(dict):
    """A dict item whose subscript runs `hook` first."""

    def __init__(self, hook, **fields):
        super().__init__(fields)
        self.hook = hook

    def __getitem__(self, key):
        self.hook(self)
        return dict.__getitem__(self, key)


@both_modes
@pytest.mark.parametrize("n", [1, 2, 30])
def test_subscript_that_appends_fails(n, inplace):
    extra = {"a": -1}
    items = []

    def append_once(item):
        if extra not in items:
            items.append(extra)

    items.extend(Hooked(append_once, a=i) for i in range(n))
    given = list(items)
    with pytest.raises(ValueError, match="^list modified during sort$"):
        run_sort(items, "a", inplace)
    assert items[:n] == given and items[n] is extra


@both_modes
def test_subscript_that_removes_the_last_item_gives_index_error(inplace):
    items = []
    items.extend([Hooked(lambda item: items.pop(), a=1), {"a": 0}])
    with pytest.raises(IndexError):
        run_sort(items, "a", inplace)
    assert len(items) == 1


@both_modes
def test_subscript_that_replaces_a_later_item(inplace):
    replacement = {"a": -5}
    items = []

    def replace_second(item):
        items[1] = replacement

    first = Hooked(replace_second, a=3)
    items.extend([first, {"a": 1}])
    # the row of position 1 is built from the object there at that time
    assert [id(x) for x in run_sort(items, "a", inplace)] == [id(replacement), id(first)]


class Finalised:
    """A cell value, greater than every number, that runs `on_release` when
    its last reference goes."""

    def __init__(self, on_release):
        self.on_release = on_release

    def __lt__(self, other):
        return False

    def __gt__(self, other):
        return True

    def __del__(self):
        self.on_release()


class FreshCell(dict):
    """A dict item whose subscript returns a new Finalised each time, so its
    cell holds the only reference."""

    def __init__(self, on_release):
        super().__init__(a=None)
        self.on_release = on_release

    def __getitem__(self, key):
        return Finalised(self.on_release)


@both_modes
@pytest.mark.parametrize("change", ["append", "replace first"])
def test_cell_values_live_until_the_result_is_made(change, inplace):
    # The rows, and the values that only their cells hold, are released when
    # the call ends: a finaliser that changes the list then neither fails the
    # length check nor puts its object into the result.
    two, one, extra = {"a": 2}, {"a": 1}, {"a": 0}
    items = []

    def on_release():
        if change == "append":
            items.append(extra)
        else:
            items[0] = extra

    fresh = FreshCell(on_release)
    items.extend([two, fresh, one])
    result = run_sort(items, "a", inplace)
    sorted_ids = [id(one), id(two), id(fresh)]
    if not inplace:
        assert [id(x) for x in result] == sorted_ids
    # The finaliser ran after the sorted order was complete.
    if change == "append":
        expected = [*sorted_ids, id(extra)] if inplace else [id(two), id(fresh), id(one), id(extra)]
    else:
        expected = [id(extra), *sorted_ids[1:]] if inplace else [id(extra), id(fresh), id(one)]
    assert [id(x) for x in items] == expected


@both_modes
def test_subscript_that_raises_gives_null(inplace):
    def boom(item):
        raise KeyError("nope")

    raising = Hooked(boom, a=0)
    one, minus = {"a": 1}, {"a": -1}
    result = run_sort([one, raising, minus], "a", inplace)
    assert [id(x) for x in result] == [id(raising), id(minus), id(one)]


# --- pyo3_runtime.PanicException ----------------------------------------------------


@pytest.fixture(scope="module")
def panic_type(request):
    # The module makes the type the first time it takes an exception from the
    # interpreter; a failing comparison of multikeysort takes one.
    class Raises:
        def __lt__(self, other):
            raise LookupError("make the module take an exception")

    multikeysort([{"a": 1}, {"a": Raises()}], "a")
    return request.getfixturevalue("panic_exception")


def raise_panic(panic_type):
    def hook(*args):
        raise panic_type("boom from Python")

    return hook


@pytest.mark.parametrize(
    "make_items",
    [
        pytest.param(lambda hook: [{"a": 1}, {"a": Cell(hook)}], id="__lt__"),
        pytest.param(lambda hook: cells_with(hook, 40), id="__lt__ in merge"),
        pytest.param(lambda hook: [Hooked(hook, a=1), {"a": 2}], id="__getitem__"),
        pytest.param(
            lambda hook: [{"a": type("I", (), {"__index__": lambda self: hook()})()}, {"a": 1}],
            id="__index__",
        ),
        pytest.param(
            lambda hook: [{"a": type("F", (), {"__float__": lambda self: hook()})()}, {"a": 1}],
            id="__float__",
        ),
    ],
)
@both_modes
def test_panic_exception_from_a_callback_becomes_a_new_one(panic_type, make_items, inplace, capfd):
    raised = []

    def hook(*args):
        raised.append(panic_type("boom from Python"))
        raise raised[-1]

    items = make_items(hook)
    given = list(items)
    with pytest.raises(panic_type) as info:
        run_sort(items, "a", inplace)
    assert info.value.args == ("boom from Python",)
    assert raised and info.value is not raised[0]
    assert (
        "--- PyO3 is resuming a panic after fetching a PanicException from Python. ---"
        in capfd.readouterr().err
    )
    # the list was not written
    assert all(a is b for a, b in zip(items, given)) and len(items) == len(given)


def test_panic_exception_from_numpy_bool_truth(panic_type, capfd):
    def truth(self):
        raise panic_type("truth panicked")

    cls = type("bool_", (), {"__module__": "numpy", "__bool__": truth})
    with pytest.raises(panic_type) as info:
        multikeysort([], "a", cls())
    assert info.value.args == ("truth panicked",)
    capfd.readouterr()


def test_panic_exception_is_not_caught_as_exception(panic_type, capfd):
    items = [{"a": 1}, {"a": Cell(raise_panic(panic_type))}]
    with pytest.raises(BaseException) as info:
        try:
            multikeysort(items, "a")
        except Exception:  # pragma: no cover - the test fails if this catches it
            pytest.fail("PanicException derives from BaseException only")
    assert type(info.value) is panic_type
    capfd.readouterr()


def test_failed_sequence_lookup_is_a_fault_and_is_retried():
    # A fresh interpreter, so that the one-time lookup has not happened yet.
    script = textwrap.dedent("""
        import sys
        import pelm
        saved = sys.modules.get("collections.abc")
        sys.modules["collections.abc"] = None
        try:
            pelm.multikeysort([{"a": 1}], {"a"})
        except BaseException as e:
            print(type(e).__module__, type(e).__name__)
            print(e.args[0])
        else:
            print("no fault")
        if saved is None:
            del sys.modules["collections.abc"]
        else:
            sys.modules["collections.abc"] = saved
        print(pelm.multikeysort([{"a": 2}, {"a": 1}], {"a"}))
        """)
    done = subprocess.run(
        [sys.executable, "-c", script], capture_output=True, text=True, timeout=60
    )
    lines = done.stdout.splitlines()
    assert len(lines) == 3, done.stdout + done.stderr
    assert lines[0] == "pyo3_runtime PanicException"
    assert lines[1].startswith("called `Result::unwrap()` on an `Err` value: ")
    assert "ModuleNotFoundError" in lines[1] or "ImportError" in lines[1]
    # not remembered: the second call looks the type up again and succeeds
    assert lines[2] == "[{'a': 2}, {'a': 1}]"
    assert "panicked at src/dictsort/" in done.stderr


# --- nothing leaks -------------------------------------------------------------------


def leak_scenarios():
    replacement = {"a": MARKER, "m": MARKER}

    def append_in_lt():
        items = cells_with(None, 30)
        for item in items:
            item["a"].hook = lambda self, other, items=items: len(items) < 31 and items.append(
                {"m": MARKER}
            )
        with pytest.raises(ValueError):
            multikeysort(items, ["a", "m"])

    def pop_in_getitem():
        items = []
        items.extend(
            [Hooked(lambda item: items.pop(), a=MARKER, m=MARKER), {"a": MARKER, "m": MARKER}]
        )
        with pytest.raises(IndexError):
            multikeysort(items, ["m", "a"], True)

    def replace_in_lt():
        items = cells_with(None, 25)
        for item in items:
            item["a"].hook = lambda self, other, items=items: items.__setitem__(3, replacement)
        multikeysort(items, ["a", "m"])
        multikeysort(items, ["a", "m"], True)

    def raise_in_lt():
        def boom(self, other):
            raise RuntimeError(MARKER)

        multikeysort(cells_with(boom, 25), ["a", "m"])

    def random_answers():
        rng = random.Random(3)
        answer = lambda: rng.random() < 0.5  # noqa: E731
        items = cells_with(None, 200, lt=answer, gt=answer)
        multikeysort(items, ["a", "-m"])
        multikeysort(items, "a", True)

    def mixed_cells():
        items = [
            {"a": v, "b": MARKER, "m": MARKER}
            for v in [MARKER, "s", 1, 2.5, None, "\ud800", 10**400] * 5
        ]
        multikeysort(items, ["a", "-b", "c"])
        multikeysort(items, ["b", "a"], True)

    return [append_in_lt, pop_in_getitem, replace_in_lt, raise_in_lt, random_answers, mixed_cells]


@pytest.mark.parametrize("scenario", leak_scenarios(), ids=lambda f: f.__name__)
def test_no_references_leak(scenario):
    scenario()  # warm up: one-time values, caches
    gc.collect()  # the hooks make cycles through the items
    before = sys.getrefcount(MARKER)
    for _ in range(30):
        scenario()
    gc.collect()
    assert sys.getrefcount(MARKER) == before


def test_no_references_leak_with_panic(panic_type, capfd):
    def scenario():
        items = cells_with(raise_panic(panic_type), 30)
        with pytest.raises(panic_type):
            multikeysort(items, ["m", "a"])

    scenario()
    gc.collect()
    before = sys.getrefcount(MARKER)
    for _ in range(10):
        scenario()
    gc.collect()
    capfd.readouterr()
    assert sys.getrefcount(MARKER) == before
