"""same_order: answers, the exact comparisons it makes, agreement of its quick
paths with Python's ==, and callbacks that change the lists, raise, or raise
a PanicException."""

import gc
import sys

import pytest

import pelm
from guarded import GuardedList


def assert_no_leak(call, *objects, rounds=300):
    call()
    gc.collect()
    before = [sys.getrefcount(o) for o in objects]
    for _ in range(rounds):
        call()
    gc.collect()
    assert [sys.getrefcount(o) for o in objects] == before


class Logged:
    """Equal by name; every comparison it runs is written to `log`."""

    def __init__(self, name, log):
        self.name, self.log = name, log

    def __eq__(self, other):
        self.log.append((self.name, other.name))
        return self.name == other.name

    __hash__ = object.__hash__


class EqualsAnything:
    def __eq__(self, other):
        return True

    __hash__ = object.__hash__


class EqRaises:
    def __eq__(self, other):
        raise ValueError("no comparison")

    __hash__ = object.__hash__


NAN = float("nan")


@pytest.mark.parametrize(
    "ref_list, comp, expected",
    [
        ([], [], True),
        ([], [1, 2], True),
        ([1], [], False),
        ([1, 1], [1], False),
        (["x", "y", "z"], ["x", "a", "b", "y", "d", "z"], True),
        (["x", "y", "z"], ["x", "z", "y"], False),
        ([1, 1], [1, 2], True),
        (["b", "a"], ["a", "b"], False),
        ([3, 9, 1], [1, 2, 3], False),
        ([1, 2], [1.0, 2.0, "x"], True),
        ([NAN], [NAN], False),
        ([EqualsAnything()], [5, 6], True),
        (GuardedList(["a", "c"]), GuardedList(["a", "b", "c"]), True),
        (GuardedList(["c", "a"]), ["a", "b", "c"], False),
    ],
)
def test_same_order(ref_list, comp, expected):
    assert pelm.same_order(ref_list, comp) is expected
    assert pelm.same_order(ref_list=ref_list, comp=comp) is expected


class Str(str):
    def __eq__(self, other):
        return True

    __hash__ = str.__hash__


class Int(int):
    def __eq__(self, other):
        return True

    __hash__ = int.__hash__


class Float(float):
    def __eq__(self, other):
        return True

    __hash__ = float.__hash__


@pytest.mark.parametrize(
    "left, right",
    [
        ("abc", "".join(["ab", "c"])),
        ("abc", "abd"),
        ("abc", "ab"),
        ("", ""),
        ("é", "e\u0301"),
        ("\u20ac", "\u20ac"),
        ("a\U0001f600", "a\U0001f600"),
        ("\xe9", "\u20ac"),
        ("1", 1),
        (5, 5),
        (-1, -2),
        (2**63 - 1, 2**63 - 1),
        (2**64, 2**64),
        (2**64, 2**64 + 1),
        (-(2**63), -(2**63)),
        (1, 1.0),
        (1.0, 1),
        (2**53 + 1, float(2**53)),
        (float(2**53), 2**53 + 1),
        (1, True),
        (True, 1),
        (0.0, -0.0),
        (0.1, 0.1 + 0.0),
        (NAN, NAN),
        (float("inf"), float("inf")),
        ("a", Str("b")),
        (Str("b"), "a"),
        (3, Int(4)),
        (3.0, Float(4.0)),
        (1, Float(2.0)),
    ],
)
def test_same_order_compares_as_python_does(left, right):
    assert pelm.same_order([left], [right]) is bool(left == right)


def outcome_at_depth(depth, call):
    """call() run `depth` Python frames below the caller: its result, or the RecursionError
    that it raised."""
    if depth > 0:
        return outcome_at_depth(depth - 1, call)
    try:
        return call()
    except RecursionError as error:
        return error


COMPARISON_RECURSION_ERROR = "maximum recursion depth exceeded in comparison"


def outcomes_at_the_comparison_limit(call):
    """The outcomes of call() one frame above, and at, the least depth at which the rich
    comparison that same_order makes of an int and a float meets the recursion limit. Skips
    where no depth of Python frames brings that comparison to the limit."""
    frames, frame = 0, sys._getframe()
    while frame is not None:
        frames, frame = frames + 1, frame.f_back

    def full_comparison():
        return pelm.same_order([1], [1.0])  # an int and a float: the interpreter compares

    old_limit = sys.getrecursionlimit()
    sys.setrecursionlimit(frames + 100)
    try:
        for depth in range(1, 200):
            try:
                outcome = outcome_at_depth(depth, full_comparison)
            except RecursionError:
                break  # the Python frames themselves met the limit first
            if isinstance(outcome, RecursionError):
                if str(outcome) != COMPARISON_RECURSION_ERROR:
                    break
                return outcome_at_depth(depth - 1, call), outcome_at_depth(depth, call)
    finally:
        sys.setrecursionlimit(old_limit)
    pytest.skip(
        "the recursion limit of Python frames does not reach the depth check of a comparison "
        "made from C on this interpreter"
    )


@pytest.mark.parametrize(
    "ref_list, comp, expected",
    [
        ([1], [1], True),
        (["x"], ["x"], True),
        ([1.5], [1.5], True),
        ([1], [2], False),
        (["x", "y"], ["y", "x"], False),
    ],
)
def test_quick_comparisons_meet_the_recursion_limit_as_full_ones_do(ref_list, comp, expected):
    above, at_limit = outcomes_at_the_comparison_limit(lambda: pelm.same_order(ref_list, comp))
    assert above is expected
    assert type(at_limit) is RecursionError and str(at_limit) == COMPARISON_RECURSION_ERROR


def test_same_order_makes_exactly_the_listed_comparisons():
    log = []
    ref_list = [Logged(name, log) for name in "391"]
    comp = [Logged(name, log) for name in "123"]
    assert pelm.same_order(ref_list, comp) is False
    assert log == [("3", "1"), ("3", "2"), ("3", "3"), ("9", "1"), ("9", "2"), ("9", "3")]

    log.clear()
    assert pelm.same_order([Logged(n, log) for n in "ba"], [Logged(n, log) for n in "ab"]) is False
    assert log == [("b", "a"), ("b", "b"), ("a", "a")]


def test_same_order_has_the_ref_list_item_on_the_left():
    with pytest.raises(ValueError, match="no comparison"):
        pelm.same_order(["a"], [EqRaises(), "a"])
    assert pelm.same_order([EqualsAnything()], [EqRaises()]) is True


class Hostile:
    """Runs `action(self)` on each comparison, then answers `answer`, or
    `answer(other)` when that is callable."""

    def __init__(self, action, answer=False):
        self.action, self.answer = action, answer
        self.lists = None

    def __eq__(self, other):
        self.action(self)
        return self.answer(other) if callable(self.answer) else self.answer

    __hash__ = object.__hash__


class RaisingBool:
    def __bool__(self):
        raise ZeroDivisionError("no truth")


def clear_ref(h):
    h.lists[0].clear()


def clear_comp(h):
    h.lists[1].clear()


def shrink_comp(h):
    del h.lists[1][1:]


def grow_comp(h):
    h.lists[1].extend(["found", "found"])


def is_found(other):
    return other == "found"


def grow_ref(h):
    h.lists[0].append("late")


def raise_error(h):
    raise KeyError("from __eq__")


@pytest.mark.parametrize(
    "action, answer, ref_tail, comp_items, outcome",
    [
        # item 0 is found, item 1 is gone when it is fetched
        (clear_ref, True, ["b"], ["x", "b"], IndexError),
        # the next item of comp is gone
        (clear_comp, False, [], ["x", "y"], IndexError),
        (shrink_comp, False, [], ["x", "y", "z"], IndexError),
        # found at 0, the next search reads comp[0] again, which is gone
        (clear_comp, True, ["x"], ["x", "y"], IndexError),
        # what is appended to comp is never compared: the search ends at the old size
        (grow_comp, is_found, [], ["x"], False),
        (grow_comp, is_found, [], ["x", "y"], False),
        # nor are the items appended to ref_list searched
        (grow_ref, True, [], ["x", "x"], True),
        (raise_error, False, [], ["x"], KeyError),
        (lambda h: None, RaisingBool(), [], ["x"], ZeroDivisionError),
    ],
)
def test_same_order_survives_hostile_comparisons(action, answer, ref_tail, comp_items, outcome):
    hostile = Hostile(action, answer)
    kept = [hostile, *ref_tail, *comp_items]
    if not isinstance(answer, bool):
        kept.append(answer)

    def call():
        ref_list = [hostile, *ref_tail]
        comp = list(comp_items)
        hostile.lists = (ref_list, comp)
        if isinstance(outcome, bool):
            assert pelm.same_order(ref_list, comp) is outcome
        else:
            with pytest.raises(outcome):
                pelm.same_order(ref_list, comp)
        hostile.lists = None

    assert_no_leak(call, *kept)


def test_same_order_raises_the_exception_object_of_the_comparison():
    raised = ValueError("this one")

    class Raises:
        def __eq__(self, other):
            raise raised

    with pytest.raises(ValueError) as excinfo:
        pelm.same_order([Raises()], [1])
    assert excinfo.value is raised


def test_same_order_turns_a_panic_into_a_new_panic(panic_exception, capfd):
    raised = []

    class Panics:
        def __eq__(self, other):
            raised.append(panic_exception("broken in a callback"))
            raise raised[-1]

        __hash__ = object.__hash__

    item, other = Panics(), object()
    with pytest.raises(panic_exception) as excinfo:
        pelm.same_order([item], [other])
    assert excinfo.value is not raised[0]
    assert type(excinfo.value) is panic_exception
    assert excinfo.value.args == ("broken in a callback",)
    err = capfd.readouterr().err
    assert "--- PyO3 is resuming a panic after fetching a PanicException from Python. ---" in err
    assert "Python stack trace below:" in err
    del excinfo

    def call():
        try:
            pelm.same_order([item], [other])
        except panic_exception:
            pass
        raised.clear()

    assert_no_leak(call, item, other, rounds=50)
    capfd.readouterr()


def test_same_order_keeps_reference_counts():
    a, b, c = object(), "text", 12345678
    log = []
    logged = [Logged(n, log) for n in "xyz"]
    ref_list, comp = [a, b, c], [c, b, a, b]
    assert_no_leak(lambda: pelm.same_order(ref_list, comp), a, b, c, ref_list, comp)
    assert_no_leak(lambda: pelm.same_order(logged[::-1], logged), *logged)


@pytest.mark.parametrize(
    "args, text, note",
    [
        (((1,), [1]), "'tuple' object is not an instance of 'list'", "ref_list"),
        (([1], (1,)), "'tuple' object is not an instance of 'list'", "comp"),
        ((1, 2), "'int' object is not an instance of 'list'", "ref_list"),
        (([], None), "'None' is not an instance of 'list'", "comp"),
    ],
)
def test_same_order_refuses_what_is_not_a_list(args, text, note):
    with pytest.raises(TypeError) as excinfo:
        pelm.same_order(*args)
    assert str(excinfo.value) == text
    assert excinfo.value.__notes__ == [f"while processing '{note}'"]


def test_same_order_without_arguments():
    with pytest.raises(TypeError) as excinfo:
        pelm.same_order()
    assert str(excinfo.value) == (
        "same_order() missing 2 required positional arguments: 'ref_list' and 'comp'"
    )
