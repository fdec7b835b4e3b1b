"""pelm.multikeysort: arguments, columns, cell values, order and results."""

import collections
import datetime
import decimal
import functools
import math
import random
import sys

import pytest

import models
from pelm import multikeysort

NAN = float("nan")


def sort(items, columns, inplace):
    """multikeysort as a new list, or in place; returns the resulting order."""
    if inplace:
        assert multikeysort(items, columns, True) is None
        return items
    result = multikeysort(items, columns)
    assert type(result) is list
    assert result is not items
    return result


def same_objects(actual, expected):
    return len(actual) == len(expected) and all(a is e for a, e in zip(actual, expected))


both_modes = pytest.mark.parametrize("inplace", [False, True], ids=["new", "inplace"])


# --- arguments ------------------------------------------------------------------


@pytest.mark.parametrize(
    "call, message, note",
    [
        (lambda: multikeysort((1,), "a"), "'tuple' object is not an instance of 'list'", "items"),
        (lambda: multikeysort(None, "a"), "'None' is not an instance of 'list'", "items"),
        # items is checked first: a bad inplace is not looked at
        (
            lambda: multikeysort((1,), "a", 1),
            "'tuple' object is not an instance of 'list'",
            "items",
        ),
        (lambda: multikeysort([], "a", 1), "'int' object is not an instance of 'bool'", "inplace"),
        (lambda: multikeysort([], "a", 0), "'int' object is not an instance of 'bool'", "inplace"),
        (lambda: multikeysort([], "a", None), "'None' is not an instance of 'bool'", "inplace"),
        (
            lambda: multikeysort([], None, inplace="yes"),
            "'str' object is not an instance of 'bool'",
            "inplace",
        ),
    ],
)
def test_argument_conversion_errors(call, message, note):
    with pytest.raises(TypeError) as info:
        call()
    assert str(info.value) == message
    assert info.value.__notes__ == [f"while processing '{note}'"]


@pytest.mark.parametrize(
    "call, message",
    [
        (
            lambda: multikeysort([]),
            "multikeysort() missing 1 required positional argument: 'columns'",
        ),
        (
            lambda: multikeysort([], [], True, 1),
            "multikeysort() takes from 2 to 3 positional arguments but 4 were given",
        ),
        (
            lambda: multikeysort([], "a", reverse=True),
            "multikeysort() got an unexpected keyword argument 'reverse'",
        ),
        (
            lambda: multikeysort([], "a", items=[]),
            "multikeysort() got multiple values for argument 'items'",
        ),
    ],
)
def test_binding_errors(call, message):
    with pytest.raises(TypeError) as info:
        call()
    assert str(info.value) == message
    assert not hasattr(info.value, "__notes__")


def test_keywords_and_list_subclass():
    class MyList(list):
        pass

    d0, d1 = {"a": 2}, {"a": 1}
    items = MyList([d0, d1])
    result = multikeysort(columns="a", items=items, inplace=False)
    assert type(result) is list and same_objects(result, [d1, d0])
    assert multikeysort(items=items, columns="a", inplace=True) is None
    assert same_objects(items, [d1, d0])


# --- columns --------------------------------------------------------------------

d0 = {"a": 2, "b": "x"}
d1 = {"a": 1, "b": "y"}
d2 = {"a": 2, "b": "w"}

GIVEN = [0, 1, 2]


class StrSub(str):
    pass


class ListSub(list):
    pass


class Names:
    """A sequence by __getitem__, whose __len__ fails."""

    def __init__(self, *names):
        self.names = names

    def __getitem__(self, i):
        return self.names[i]

    def __len__(self):
        raise RuntimeError("no length")


class BrokenIteration:
    def __getitem__(self, i):
        if i == 0:
            return "a"
        raise ValueError("stop here")


COLUMN_CASES = [
    (None, GIVEN),
    ("", GIVEN),
    ("-", GIVEN),
    ("a", [1, 0, 2]),
    ("-a", [0, 2, 1]),
    (["-a", "b"], [2, 0, 1]),
    (("a",), [1, 0, 2]),
    (("a", 1), GIVEN),
    (["a", 1], [1, 0, 2]),
    ({"a"}, GIVEN),
    ({"a": 1}, GIVEN),
    (5, GIVEN),
    ("z", GIVEN),
    (["z"], GIVEN),
    (["z", "a"], [1, 0, 2]),
    # beyond the basic table
    (StrSub("-a"), [0, 2, 1]),
    (ListSub(["b"]), [2, 0, 1]),
    (["\ud800", "-b"], [1, 0, 2]),  # an element without UTF-8 form is skipped
    ("\ud800", GIVEN),  # a str without UTF-8 form names nothing
    (("a", "\ud800"), GIVEN),  # in a tuple it spoils every name
    (["a", "a", "-b"], [1, 0, 2]),  # duplicates stay separate columns
    (["b", "a"], [2, 0, 1]),
    ("--a", GIVEN),  # descending, named "-a": no dict has it
    (Names("-a"), [0, 2, 1]),  # a failing __len__ only costs the reservation
    (BrokenIteration(), GIVEN),  # a failing iteration leaves no columns
    (iter(["a"]), GIVEN),  # an iterator is no sequence
    ((c for c in ["a"]), GIVEN),  # nor is a generator
    (b"a", GIVEN),  # bytes iterate as ints
    ([], GIVEN),
]


@both_modes
@pytest.mark.parametrize("columns, expected", COLUMN_CASES)
def test_columns(columns, expected, inplace):
    items = [d0, d1, d2]
    result = sort(items, columns, inplace)
    assert same_objects(result, [[d0, d1, d2][i] for i in expected])


def test_descending_column_with_hyphenated_name():
    a, b = {"-a": 1}, {"-a": 2}
    assert same_objects(multikeysort([a, b], "--a"), [b, a])
    e0, e1 = {"": 1}, {"": 0}
    assert same_objects(multikeysort([e0, e1], ""), [e1, e0])
    assert same_objects(multikeysort([e1, e0], "-"), [e0, e1])


def test_none_columns_in_place_leaves_list_untouched():
    items = [d0, d1, d2]
    assert multikeysort(items, None, True) is None
    assert same_objects(items, [d0, d1, d2])


def test_columns_not_a_sequence_names_sequence_abc():
    # The first such call in a process looks the type up; collections.abc is
    # then imported, and the call still just returns the given order.
    assert same_objects(multikeysort([d0, d1], {"a"}), [d0, d1])
    assert "collections.abc" in sys.modules


# --- items ----------------------------------------------------------------------


class Subscriptable:
    """Not a dict, but answers every subscript; counts them."""

    calls = 0

    def __getitem__(self, key):
        Subscriptable.calls += 1
        return 1


@both_modes
@pytest.mark.parametrize(
    "items, columns, expected",
    [
        ([{"a": 2}, [5], {"a": 1}], "a", [1, 2, 0]),  # the list's cell is Null
        ([{"a": 2}, 7, {"a": 1}], "-a", [0, 2, 1]),
        ([{1: 2}, {2: 1}], "a", [0, 1]),  # no str keys: nothing to sort by
        ([], "a", []),
        ([{"a": 1}], "a", [0]),
    ],
)
def test_items(items, columns, expected, inplace):
    original = list(items)
    result = sort(list(items), columns, inplace)  # a copy: in place it is rearranged
    assert same_objects(result, [original[i] for i in expected])


def test_keys_only_in_non_dict_items_give_no_columns():
    items = [Subscriptable(), Subscriptable()]
    Subscriptable.calls = 0
    assert same_objects(multikeysort(items, "a"), items)
    # the column was dropped before any row was built
    assert Subscriptable.calls == 0


def test_non_dict_items_are_subscripted_once_dict_keys_exist():
    s = Subscriptable()
    Subscriptable.calls = 0
    result = multikeysort([{"a": 2}, s, {"a": 0}], ["a", "a"])
    assert Subscriptable.calls == 2
    assert result[1] is s


def test_defaultdict_supplies_and_stores_its_default():
    lacking = collections.defaultdict(lambda: 0)
    having = {"a": 5}
    negative = {"a": -1}
    assert same_objects(multikeysort([having, lacking, negative], "a"), [negative, lacking, having])
    assert lacking == {"a": 0}


def test_dict_subclass_keys_are_its_own_storage():
    class Masked(dict):
        def keys(self):
            return []

        def __getitem__(self, key):
            return -dict.__getitem__(self, key)

    x, y = Masked(a=1), Masked(a=2)
    # the overridden keys() plays no part; the subscript does
    assert same_objects(multikeysort([x, y], "a"), [y, x])


def test_every_cell_is_fetched_once_in_order_with_a_new_key_each_time():
    log = []

    class Logged(dict):
        def __getitem__(self, key):
            log.append((self.id, key))
            return dict.__getitem__(self, key)

    items = []
    for i in range(30):
        item = Logged(alpha=random.random(), beta=i % 3)
        item.id = i
        items.append(item)
    multikeysort(items, ["beta", "-alpha", "gamma"])  # gamma is dropped
    assert [(i, str(k)) for i, k in log] == [(i, k) for i in range(30) for k in ("beta", "alpha")]
    keys = [k for _, k in log]
    assert all(type(k) is str for k in keys)
    assert len({id(k) for k in keys}) == len(keys)  # never one key object twice


class RecordingKey(str):
    """A dict key that records every other key compared with it."""

    seen = []

    def __eq__(self, other):
        RecordingKey.seen.append(other)
        return str.__eq__(self, other)

    __hash__ = str.__hash__


@pytest.mark.parametrize("name", ["ab", "é", "日", "日本語", "\U0001f600x", "", "a", "ÿ"])
def test_keys_are_new_equal_strs_found_by_their_hash(name):
    # Each cell's key is a new str equal to the name, with the name's hash
    # (a wrong hash would miss the exact dicts' entries). The interpreter
    # shares its object for the empty str and for one character below U+0100.
    shared = len(name) == 0 or (len(name) == 1 and ord(name[0]) < 0x100)
    exact = [{name: 3}, {name: 1}, {name: 2}]
    assert multikeysort(exact, name) == [{name: 1}, {name: 2}, {name: 3}]

    RecordingKey.seen = []
    stored = RecordingKey(name)
    items = [{stored: v} for v in (3, 1, 2)]
    result = multikeysort(items, name)
    keys = RecordingKey.seen
    assert same_objects(result, [items[1], items[2], items[0]])
    assert len(keys) == 3
    assert all(type(k) is str and k == name and hash(k) == hash(name) for k in keys)
    assert len({id(k) for k in keys}) == (1 if shared else 3)


# --- inplace as a numpy boolean -------------------------------------------------


def numpy_named(name, **namespace):
    namespace.setdefault("__module__", "numpy")
    cls = type(name, (), namespace)
    cls.__qualname__ = name
    return cls


NumpyBool = numpy_named(
    "bool_", __bool__=lambda self: self.flag, __init__=lambda self, f: setattr(self, "flag", f)
)
NumpyBool2 = numpy_named(
    "bool", __bool__=lambda self: self.flag, __init__=lambda self, f: setattr(self, "flag", f)
)


@pytest.mark.parametrize("flag_type", [NumpyBool, NumpyBool2], ids=["bool_", "bool"])
@pytest.mark.parametrize("flag", [True, False])
def test_numpy_boolean_by_name(flag_type, flag):
    a, b = {"a": 2}, {"a": 1}
    items = [a, b]
    result = multikeysort(items, "a", flag_type(flag))
    if flag:
        assert result is None and same_objects(items, [b, a])
    else:
        assert same_objects(result, [b, a]) and same_objects(items, [a, b])


def test_numpy_named_type_without_bool():
    cls = numpy_named("bool_")
    with pytest.raises(TypeError) as info:
        multikeysort([], "a", cls())
    assert (
        str(info.value)
        == "object of type '<class 'numpy.bool_'>' does not define a '__bool__' conversion"
    )
    assert info.value.__notes__ == ["while processing 'inplace'"]


@pytest.mark.parametrize(
    "namespace, exception, message",
    [
        ({"__bool__": lambda self: 1 / 0}, ZeroDivisionError, "division by zero"),
        ({"__bool__": lambda self: 1}, TypeError, "__bool__ should return bool, returned int"),
    ],
)
def test_numpy_named_type_whose_truth_fails(namespace, exception, message):
    cls = numpy_named("bool_", **namespace)
    with pytest.raises(exception) as info:
        multikeysort([], "a", cls())
    assert str(info.value) == message
    assert info.value.__notes__ == ["while processing 'inplace'"]


@pytest.mark.parametrize(
    "name, module",
    [("bool_", "numpy.core"), ("Bool", "numpy"), ("bool8", "numpy"), ("bool_", "numpyx")],
)
def test_not_quite_numpy_names_are_refused(name, module):
    cls = numpy_named(name, __module__=module, __bool__=lambda self: True)
    with pytest.raises(TypeError) as info:
        multikeysort([], "a", cls())
    assert str(info.value) == f"'{name}' object is not an instance of 'bool'"


def module_attribute_metaclass(module):
    """A metaclass whose `__module__` property gives `module` for every class, whatever the
    class itself records."""

    class ClaimsModule(type):
        @property
        def __module__(cls):
            return module

    return ClaimsModule


@pytest.mark.parametrize(
    "own_module, claimed_module, accepted",
    [("numpy", "elsewhere", True), (__name__, "numpy", False)],
    ids=["own-entry-numpy", "only-metaclass-says-numpy"],
)
def test_numpy_module_name_is_the_types_own_entry(own_module, claimed_module, accepted):
    # The test reads the module the type records, as the interpreter's own type-name query
    # does; attribute lookup, which would run the metaclass's property, plays no part.
    namespace = {"__module__": own_module, "__qualname__": "bool_", "__bool__": lambda self: True}
    cls = module_attribute_metaclass(claimed_module)("bool_", (), namespace)
    assert cls.__module__ == claimed_module and cls.__dict__["__module__"] == own_module
    a, b = {"a": 2}, {"a": 1}
    items = [a, b]
    if accepted:
        assert multikeysort(items, "a", inplace=cls()) is None
        assert same_objects(items, [b, a])
        return
    with pytest.raises(TypeError) as info:
        multikeysort(items, "a", inplace=cls())
    assert str(info.value) == "'bool_' object is not an instance of 'bool'"
    assert info.value.__notes__ == ["while processing 'inplace'"]
    assert same_objects(items, [a, b])


def test_numpy_named_type_with_unprintable_type(monkeypatch):
    # Only the exceptions are kept: the hook's argument object holds a frame.
    unraisable = []
    monkeypatch.setattr("sys.unraisablehook", lambda hook: unraisable.append(hook.exc_value))

    class Meta(type):
        def __repr__(cls):
            raise RuntimeError("no repr")

    cls = Meta("bool_", (), {"__module__": "numpy"})
    with pytest.raises(TypeError) as info:
        multikeysort([], "a", cls())
    assert (
        str(info.value)
        == "object of type '<unprintable Meta object>' does not define a '__bool__' conversion"
    )
    assert len(unraisable) == 1 and isinstance(unraisable[0], RuntimeError)
    unraisable.clear()


def test_module_name_that_is_not_a_str_is_no_numpy():
    cls = numpy_named("bool_", __bool__=lambda self: True)
    cls.__module__ = 5
    with pytest.raises(TypeError, match="'bool_' object is not an instance of 'bool'"):
        multikeysort([], "a", cls())


def test_real_numpy_booleans():
    np = pytest.importorskip("numpy")
    a, b = {"a": 2}, {"a": 1}
    items = [a, b]
    assert same_objects(multikeysort(items, "a", np.False_), [b, a])
    assert same_objects(items, [a, b])
    assert multikeysort(items, "a", np.True_) is None
    assert same_objects(items, [b, a])
    with pytest.raises(TypeError, match="is not an instance of 'bool'"):
        multikeysort(items, "a", np.int64(1))


# --- cell values ----------------------------------------------------------------


class Index:
    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


class FloatSub(float):
    pass


class Recorder:
    """An Other cell that records the comparisons it is asked for."""

    def __init__(self, log, lt=False, gt=False, lt_raises=None):
        self.log, self.lt, self.gt, self.lt_raises = log, lt, gt, lt_raises

    def __lt__(self, other):
        self.log.append(("lt", other))
        if self.lt_raises:
            raise self.lt_raises
        return self.lt

    def __gt__(self, other):
        self.log.append(("gt", other))
        return self.gt


MISSING = object()  # the key is absent from the dict


def row(value):
    return {} if value is MISSING else {"a": value}


@pytest.mark.parametrize(
    "a, b, expected",
    [
        (MISSING, MISSING, "Equal"),
        (None, MISSING, "Equal"),
        (MISSING, 0, "Less"),
        (None, 0, "Less"),
        ("", None, "Greater"),
        (1, 1.0, "Equal"),
        (2, 1.5, "Greater"),
        (2**53 + 1, float(2**53), "Equal"),
        (2**53 + 1, 2**53, "Greater"),  # two Ints compare as integers
        (NAN, 1.0, "Equal"),
        (1.0, NAN, "Equal"),
        (NAN, 5, "Equal"),
        (-0.0, 0.0, "Equal"),
        (-2, 3, "Less"),
        ("B", "a", "Less"),
        ("ab", "abc", "Less"),
        ("\u00e9", "z", "Greater"),
        ("\U0001f600", "\uffff", "Greater"),  # code-point order, not UTF-16
        ("1", 1, "Equal"),  # '1' < 1 raises TypeError, discarded
        ((1, 2), (1, 3), "Less"),
        ((1, 2), 1, "Equal"),
        (True, 1, "Equal"),
        (False, -1, "Greater"),
        (Index(7), 6.5, "Greater"),
        (Index(2**53 + 1), 2**53, "Greater"),  # __index__ gives an Int, not a Float
        (2**63, float(2**63), "Equal"),  # beyond Int: Float
        (10**400, 10**400 + 1, "Less"),  # beyond Float: Other, compared by Python
        (10**400, float("inf"), "Less"),
        (1.5, 1.5, "Equal"),
        (float("-inf"), -1e308, "Less"),
        (FloatSub(-1.0), -1, "Equal"),
        (-1.0, -1, "Equal"),
        (decimal.Decimal("2.5"), 2.5, "Equal"),
        (decimal.Decimal("2.5"), 3, "Less"),
        ("3", "4", "Less"),
        ("3", 3.0, "Equal"),
        ("\ud800", "a", "Greater"),  # Other str against a Str: Python's order
        (b"a", b"b", "Less"),
        (datetime.date(2020, 1, 1), datetime.date(2021, 1, 1), "Less"),
        ((1,), "a", "Equal"),
    ],
)
def test_compare_cells(a, b, expected):
    ra, rb = row(a), row(b)
    ascending = multikeysort([rb, ra], "a")[0] is ra
    descending = multikeysort([rb, ra], "-a")[0] is ra
    observed = "Less" if ascending else "Greater" if descending else "Equal"
    assert not (ascending and descending)
    assert observed == expected


@pytest.mark.parametrize(
    "make, log_expected, expected",
    [
        (lambda log: Recorder(log, lt_raises=ValueError("no")), [("lt", 1)], "Equal"),
        (lambda log: Recorder(log, lt=True, gt=True), [("lt", 1)], "Less"),
        (lambda log: Recorder(log, gt=True), [("lt", 1), ("gt", 1)], "Greater"),
        (lambda log: Recorder(log), [("lt", 1), ("gt", 1)], "Equal"),
    ],
)
def test_other_cell_comparisons(make, log_expected, expected):
    log = []
    cell = make(log)
    ra, rb = {"a": cell}, {"a": 1}
    moved = multikeysort([rb, ra], "a")[0] is ra
    assert log == log_expected
    assert moved == (expected == "Less")


def test_truth_of_a_comparison_result_that_fails_counts_as_equal():
    class Unbool:
        def __bool__(self):
            raise ArithmeticError("no truth")

    class Weird:
        def __lt__(self, other):
            return Unbool()

        def __gt__(self, other):
            raise AssertionError("not asked after a failed truth test")

    w = {"a": Weird()}
    one = {"a": 1}
    assert same_objects(multikeysort([one, w], "a"), [one, w])


def test_interpreter_sees_plain_rebuilt_values():
    seen = []

    class Probe:
        def __gt__(self, other):
            seen.append((type(other), other))
            return False

        __lt__ = __gt__

    class S(str):
        pass

    # An Int/Str/Float cell against an Other: the cell's side is rebuilt as a
    # plain int, float or str and is the left operand (so the Other's
    # reflected method answers).
    for value, plain in [(True, (int, 1)), (S("x"), (str, "x")), (FloatSub(2.5), (float, 2.5))]:
        seen.clear()
        multikeysort([{"a": Probe()}, {"a": value}], "a")
        assert seen[0] == plain


def refusing(base):
    """A subclass of `base` whose comparison methods must never be called."""

    def refuse(self, other):
        raise AssertionError("the interpreter was asked")

    return type("Refusing" + base.__name__, (base,), {"__lt__": refuse, "__gt__": refuse})


@pytest.mark.parametrize(
    "low, high",
    [
        (1, refusing(int)(3)),
        (1.0, refusing(float)(3.0)),
        ("1", refusing(str)("3")),
        (refusing(int)(1), 2.5),
    ],
)
def test_subclass_comparison_methods_play_no_part(low, high):
    x, y = {"a": low}, {"a": high}
    assert same_objects(multikeysort([y, x], "a"), [x, y])
    assert same_objects(multikeysort([x, y], "-a"), [y, x])


def test_conversions_run_once_per_cell():
    calls = collections.Counter()

    class Counted:
        def __init__(self, value):
            self.value = value

        def __index__(self):
            calls["index"] += 1
            return self.value

    items = [{"a": Counted(i % 7)} for i in range(100)]
    result = multikeysort(items, "a")
    assert calls["index"] == 100
    assert [r["a"].value for r in result] == sorted(i % 7 for i in range(100))


@both_modes
def test_unsubscriptable_and_raising_cells_are_null(inplace):
    class Raising(dict):
        def __getitem__(self, key):
            raise LookupError(key)

    r = Raising(a=0)
    items = [{"a": 1}, r, 5, {"a": -5}, [1]]
    expected = [r, items[2], items[4], items[3], items[0]]
    assert same_objects(sort(list(items), "a", inplace), expected)


# --- rows -----------------------------------------------------------------------


@pytest.mark.parametrize(
    "x, y, x_first",
    [
        ((1, 2), (1, 5), False),
        ((1, 5), (1, 2), True),
        ((None, 9), (0, 1), True),
        ((0, 1), (None, 9), False),
        ((3, 3), (3, 3), False),
    ],
)
def test_row_order_ascending_then_descending(x, y, x_first):
    rx, ry = dict(zip("ab", x)), dict(zip("ab", y))
    assert (multikeysort([ry, rx], ["a", "-b"])[0] is rx) == x_first


def test_nan_with_few_rows_keeps_insertion_order():
    items = [{"a": 1.0}, {"a": NAN}, {"a": 0.5}]
    assert same_objects(multikeysort(items, "a"), items)


def test_single_item_makes_no_comparison():
    log = []
    item = {"a": Recorder(log)}
    assert same_objects(multikeysort([item], "a"), [item])
    assert multikeysort([item], "a", True) is None
    assert log == []


@pytest.mark.parametrize("n", [2, 20, 21, 33, 64, 65, 1000])
@pytest.mark.parametrize("pattern", ["ascending", "descending", "constant", "sawtooth", "random"])
def test_stability_around_the_insertion_limit(n, pattern):
    rng = random.Random(n)
    keys = {
        "ascending": list(range(n)),
        "descending": list(range(n, 0, -1)),
        "constant": [7] * n,
        "sawtooth": [i % 5 for i in range(n)],
        "random": [rng.randrange(n // 3 + 1) for _ in range(n)],
    }[pattern]
    items = [{"a": k, "i": i} for i, k in enumerate(keys)]
    for columns, key in [("a", lambda d: d["a"]), ("-a", lambda d: -d["a"])]:
        assert same_objects(multikeysort(items, columns), sorted(items, key=key))


class Tiebreak:
    """A second-column cell that logs which rows the sort compared by it."""

    def __init__(self, log, first):
        self.log, self.first = log, first

    def __lt__(self, other):
        self.log.append((self.first, other.first))
        return False

    __gt__ = __lt__


@pytest.mark.parametrize(
    "firsts",
    [
        [NAN, 1.0, 2, NAN, -3.5],  # a NaN ties with every number
        ["1", 1, "b", 2.5, "a"],  # a Str against a number is Equal (TypeError)
        [(1,), 1, "x", (2,), 0.5],  # an Other against anything native
    ],
    ids=["nan", "str-number", "other"],
)
@pytest.mark.parametrize("n", [10, 200])
def test_ties_in_the_first_column_go_to_the_next(firsts, n):
    # Whatever shortcut the sort takes, each comparison must give the answer
    # of the rows: a pair that is Equal in the first column is decided by the
    # second. Here such pairs are those of rows of different kinds, and every
    # pair that the second column decides must be Equal in the first.
    log = []
    rng = random.Random(n)
    items = [{"a": v, "b": Tiebreak(log, v)} for v in (rng.choice(firsts) for _ in range(n))]
    multikeysort(items, ["a", "b"])

    def kind(v):
        if isinstance(v, (int, float)):
            return "number" if v == v else "nan"
        return type(v).__name__

    assert any(kind(x) != kind(y) for x, y in log)
    for x, y in log:
        if kind(x) == kind(y) and kind(x) in ("number", "str"):
            assert x == y


# --- differential test against a Python model -----------------------------------


def model_cell(item, name):
    value = item.get(name)
    if value is None:
        return (0, None)
    if isinstance(value, str):
        return (3, value)
    return (1, value)  # int or float: compared as in Python (values are small)


def model_compare(x, y):
    (kx, vx), (ky, vy) = x, y
    if kx == 0 or ky == 0:
        return (kx != 0) - (ky != 0)
    return (vx > vy) - (vx < vy)


def model_sort(items, columns):
    parsed = [(c[1:], True) if c.startswith("-") else (c, False) for c in columns]
    parsed = [(n, d) for n, d in parsed if any(n in item for item in items)]

    def compare(p, q):
        for name, descending in parsed:
            order = model_compare(model_cell(p, name), model_cell(q, name))
            if order:
                return -order if descending else order
        return 0

    return sorted(items, key=functools.cmp_to_key(compare))


def random_items(rng, n):
    kinds = {name: rng.choice(["int", "float", "number", "str"]) for name in "abcd"}
    pool = [rng.randrange(-5, 6) for _ in range(4)]

    def value(kind):
        roll = rng.random()
        if roll < 0.1:
            return None
        if kind == "int":
            return rng.choice(pool) if roll < 0.5 else rng.randrange(-(10**6), 10**6)
        if kind == "float":
            return rng.choice([0.0, -0.0, 1.5, -math.inf, math.inf, rng.uniform(-10, 10)])
        if kind == "number":
            return rng.choice([rng.randrange(-3, 4), rng.randrange(-3, 4) + 0.5, 2.0, True])
        return rng.choice(
            ["", "a", "ab", "abc", "B", "\u00e9", "\U0001f600", "abcdefghij", "abcdefghik"]
        )

    items = []
    for _ in range(n):
        item = {}
        for name, kind in kinds.items():
            if rng.random() < 0.85:
                item[name] = value(kind)
        items.append(item)
    return items


@pytest.mark.parametrize("seed", range(60))
def test_matches_python_model(seed):
    rng = random.Random(seed)
    n = rng.choice([0, 1, 2, 5, 19, 20, 21, 40, 100, 200])
    items = random_items(rng, n)
    columns = [rng.choice(["", "-"]) + rng.choice("abcdz") for _ in range(rng.randint(1, 4))]
    expected = model_sort(items, columns)
    assert same_objects(multikeysort(items, columns), expected)
    in_place = list(items)
    assert multikeysort(in_place, columns, True) is None
    assert same_objects(in_place, expected)


@pytest.mark.parametrize("columns", [["a", "b", "c"], ["-a", "b", "-c"], ["a", "-b"], ["-b", "a"]])
@pytest.mark.parametrize("spread", [3, 2**40, 2**63 - 1])
def test_matches_python_model_with_many_ties(columns, spread):
    # Few distinct values in the leading columns, strs that share long
    # prefixes, the extreme ints: the later columns decide most comparisons.
    rng = random.Random(spread)
    ints = [-spread - 1, -1, 0, 1, spread] if spread < 2**63 - 1 else [-(2**63), 0, 2**63 - 1]
    texts = ["prefix-long-" + s for s in ["", "a", "b", "ab", "\u00e9"]] + ["prefix", ""]
    items = []
    for _ in range(300):
        item = {"a": rng.choice(ints + [None]), "b": rng.choice(texts), "c": rng.random()}
        if rng.random() < 0.1:
            del item[rng.choice("abc")]
        items.append(item)
    assert same_objects(multikeysort(items, columns), model_sort(items, columns))


@both_modes
@pytest.mark.parametrize("seed", range(10))
def test_mixed_kinds_and_nan_return_every_item_once(seed, inplace):
    rng = random.Random(seed)
    values = [NAN, 1, 2.5, "x", "", b"b", (1,), None, -math.inf, 10**400]
    items = [
        {"a": rng.choice(values), "b": rng.choice(values)} for _ in range(rng.choice([15, 150]))
    ]
    result = sort(list(items), ["a", "-b"], inplace)
    assert sorted(map(id, result)) == sorted(map(id, items))


# --- columns ordered without the interpreter, against the model ---------------
#
# Sorts whose every column holds only Null, numbers or texts (no NaN, no
# Other, no text beside a number) may take any algorithm that gives the
# stable order; the model's answer is that order. Each shape stresses a way in
# which such a column is keyed: few distinct texts (ranks) or many (their
# bytes after a shared prefix, in rests of up to seven bytes or of exactly
# eight, or longer rests whose ties the full row comparison decides), NUL
# bytes and empty texts (zero padding), non-ASCII, one value only, the integer
# and double extremes.

LABELS = ["north-east", "north-west", "south-east", "south-west"]
TEXT_SHAPES = {
    "iso dates": lambda rng: f"{rng.choice((2023, 2024))}-{rng.randint(1, 12):02d}-{rng.randint(1, 28):02d}",
    "prefixed ids": lambda rng: f"ord-{rng.randrange(10**7):07d}",
    "few long labels": lambda rng: rng.choice(LABELS),
    "rests of eight bytes": lambda rng: "k-" + "".join(rng.choice("ab") for _ in range(8)),
    "long rests": lambda rng: "customer-account-"
    + rng.choice(["", "a", "ab", "b", "abcdefghij", "abcdefghi", "abcdefghij\0", "abcdefghik"]),
    "many long rests": lambda rng: "customer-account-"
    + "".join(rng.choice("ab\0") for _ in range(rng.randrange(5, 16))),
    "ties over many windows": lambda rng: rng.choice(["ab", "ac"])
    + "-" * rng.randrange(8, 30)
    + rng.choice(["", "x", "y", "\0"]),
    "nul bytes and empty": lambda rng: rng.choice(["", "\0", "\0\0", "a", "a\0", "a\0\0", "a\0b", "\0a", "ab"]),
    "non-ascii": lambda rng: rng.choice(["é", "e", "ü", "z", "\U0001f600", "日本", "日", "éa", "ea", "\x7f"]),
    "surnames": lambda rng: rng.choice(["Williams", "Williamson", "Will", "Wilson", "Smith", "Smithers"]),
    "one text": lambda rng: "same",
    # few distinct texts longer than the sixteen bytes kept in a table slot
    "few long texts": lambda rng: "warehouse-section-"
    + rng.choice(["north", "north-annex", "south", "south\0", "east-upper-floor", ""]),
    "texts of 15 to 18 bytes": lambda rng: rng.choice(
        ["abcdefghijklmno", "abcdefghijklmnop", "abcdefghijklmnopq", "abcdefghijklmnoq", "abcdefghijklmnopr"]
    ),
    # a shared prefix past sixteen bytes, rests longer than one window
    "prefix past sixteen bytes": lambda rng: "https://example.com/items/"
    + str(rng.randrange(10 ** rng.randrange(1, 14))),
}
NUMBER_SHAPES = {
    "small ints": lambda rng: rng.randrange(-3, 4),
    "int extremes": lambda rng: rng.choice(
        [-(2**63), 2**63 - 1, 0, -1, 1, 2**53 + 1, True, rng.randrange(-(2**62), 2**62)]
    ),
    "floats": lambda rng: rng.choice(
        [0.0, -0.0, 1.5, -1.5, math.inf, -math.inf, 5e-324, -5e-324, rng.uniform(-1e6, 1e6)]
    ),
    "ints and floats": lambda rng: rng.choice([1, 2, 1.0, 1.5, -0.0, 0, 2**53, float(2**53), -(2**53), False]),
    "one number": lambda rng: 7,
    # few values whose keys still differ in most bits
    "few distinct floats": lambda rng: rng.choice([9.99, 19.99, 0.1, 1e300, -2.5]),
}
VALUE_SHAPES = {**TEXT_SHAPES, **NUMBER_SHAPES}


def shaped_items(rng, n, shapes, null_share):
    """n dicts with one field per shape ('a', 'b', ...); a field is None or
    missing in about `null_share` of them."""
    items = []
    for i in range(n):
        item = {"i": i}
        for name, shape in zip("abc", shapes):
            roll = rng.random()
            if roll >= null_share:
                item[name] = VALUE_SHAPES[shape](rng)
            elif roll < null_share / 2:
                item[name] = None
        items.append(item)
    return items


def check_against_model(items, columns):
    expected = models.multikeysort(items, columns)
    assert same_objects(multikeysort(items, columns), expected)
    in_place = list(items)
    assert multikeysort(in_place, columns, True) is None
    assert same_objects(in_place, expected)


@pytest.mark.parametrize("shape", sorted(VALUE_SHAPES))
@pytest.mark.parametrize("n", [21, 33, 300, 3000])
def test_one_plain_column_matches_the_model(shape, n):
    rng = random.Random(f"{shape}/{n}")
    for null_share in (0.0, 0.2):
        items = shaped_items(rng, n, [shape], null_share)
        for columns in (["a"], ["-a"]):
            check_against_model(items, columns)


@pytest.mark.parametrize(
    "shapes",
    [
        ("iso dates", "floats"),
        ("few long labels", "iso dates", "prefixed ids"),
        ("surnames", "non-ascii"),
        ("ties over many windows", "iso dates"),
        ("small ints", "long rests"),
        ("many long rests", "surnames"),
        ("one text", "nul bytes and empty", "ints and floats"),
        ("rests of eight bytes", "int extremes"),
        ("floats", "one number", "surnames"),
        # keys too long for one word: two words, the last field cut
        ("floats", "int extremes", "floats"),
        ("few distinct floats", "prefixed ids", "small ints"),
        ("few long texts", "prefix past sixteen bytes"),
    ],
)
def test_plain_columns_tie_into_the_next_one(shapes):
    rng = random.Random(str(shapes))
    items = shaped_items(rng, 600, shapes, 0.1)
    names = "abc"[: len(shapes)]
    for directions in ("+" * len(shapes), "-" * len(shapes), "+-+"[: len(shapes)], "-+-"[: len(shapes)]):
        columns = [("-" if d == "-" else "") + n for d, n in zip(directions, names)]
        check_against_model(items, columns)
    # a column given twice, and the same column twice in opposite directions
    check_against_model(items, ["a", "-a", "b"])


class PlainDict(dict):
    """A dict subclass that changes nothing: its cells are fetched by the
    generic subscript and converted the long way."""


@pytest.mark.parametrize("n", [21, 320, 3000])
@pytest.mark.parametrize("extra, where", [(0, None), (1, "first"), (1, "last")])
def test_distinct_texts_at_the_limit_of_few(n, extra, where):
    # A text column with at most max(16, n // 16) distinct texts is ranked;
    # one more, seen first or only in the last row, keys it by its bytes.
    # Some items are dict subclasses, whose texts reach the same column.
    rng = random.Random(f"{n}/{extra}/{where}")
    limit = max(16, n // 16)
    texts = [f"label-{rng.randrange(10**6):06d}-{i}" for i in range(limit)]
    values = [rng.choice(texts) for _ in range(n)]
    values[: len(texts)] = texts  # each of them present
    rng.shuffle(values)
    if extra:
        values[0 if where == "first" else -1] = "label-extra"
    items = []
    for i, value in enumerate(values):
        item = {"a": value, "b": rng.randrange(3), "i": i}
        items.append(PlainDict(item) if i % 7 == 0 else item)
    for columns in (["a"], ["-a"], ["b", "a"], ["a", "-b"]):
        check_against_model(items, columns)


def chained_python_sorts(items, columns):
    """The stable order of columns of Null, numbers or texts, by Python's own
    sort: one pass per column, least significant first, Null before values."""
    result = list(items)
    for column in reversed(columns):
        descending = column.startswith("-")
        name = column[1:] if descending else column
        result.sort(key=lambda item: (item.get(name) is not None, item.get(name)), reverse=descending)
    return result


@pytest.mark.parametrize(
    "columns",
    [["id"], ["-qty", "id"], ["surname", "-amount"], ["amount", "id", "qty"], ["-date", "surname"]],
)
def test_large_lists_match_python_sorts(columns):
    # Past 65536 rows the radix sort takes wider digits and more passes at
    # once; the model is too slow here, Python's sort gives the same order.
    rng = random.Random(str(columns))
    surnames = ["Smith", "Jones", "Williamson", "Brown", None, "Taylor", "O'Neil"]
    items = [
        {
            "id": f"ord-{rng.randrange(10**7):07d}",
            "qty": rng.choice([None, *range(1, 50)]),
            "surname": rng.choice(surnames),
            "amount": round(rng.uniform(-5000, 5000), rng.randrange(3)),
            "date": f"2024-{rng.randint(1, 12):02d}-{rng.randint(1, 28):02d}",
        }
        for _ in range(70_000)
    ]
    assert same_objects(multikeysort(items, columns), chained_python_sorts(items, columns))


# --- the merging sort's own order where no order is consistent -----------------


@pytest.mark.parametrize("n", [21, 40, 97, 300])
@pytest.mark.parametrize(
    "values",
    [
        [NAN, 1.0, 0.5, -2.0, math.inf, None],  # NaN equals every number
        [NAN, 3, 2**53 + 1, float(2**53), 2**53, None],  # wide ints beside floats
        ["x", 1, 2.5, "", None, (1,), b"b"],  # texts beside numbers, objects
    ],
    ids=["nan", "wide ints beside floats", "interpreter"],
)
def test_inconsistent_orders_keep_the_merging_sort(values, n):
    # The model transcribes the merging sort comparison for comparison, so it
    # gives the very order also where the row order is no strict weak order.
    rng = random.Random(n)
    items = [{"a": rng.choice(values), "b": rng.randrange(3), "i": i} for i in range(n)]
    for columns in (["a"], ["-a", "b"], ["b", "a"], ["-b", "-a"]):
        check_against_model(items, columns)
