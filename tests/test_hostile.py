"""Hostile callbacks and hostile subclasses.

A table of cases: each runs one function on input whose callbacks (the
__eq__ and __bool__ that same_order reaches; the __getitem__, __index__,
__float__, __lt__, __gt__ and __bool__ that multikeysort reaches; the
iteration of a column sequence; the truth of a numpy-like inplace flag)
clear, grow, shrink or replace the containers being worked on, raise, return
objects whose __bool__ raises, or raise pyo3_runtime.PanicException. The
functions that run no user code get subclasses whose overridden methods fail
the case when called. Each case checks its result or exception and what the
caller's containers hold afterwards, and is run a few hundred times with the
reference counts of its objects (and of its classes, which count their live
instances) compared before and after."""

import gc
import sys
import weakref

import pytest

import pelm
import models

REPEAT = 200
CASES = []
completed = set()


def case(*variants):
    """Registers a case maker: make(P, variant) -> (run, objects), where P is
    the PanicException type. run() makes the call with fresh containers and
    checks it; objects are the long-lived objects whose reference counts must
    not change."""

    def register(make):
        name = make.__name__.replace("_", "-")
        for variant in variants or (None,):
            CASES.append(pytest.param(make, variant, id=name if variant is None else f"{name}-{variant}"))
        return make

    return register


class Boom(Exception):
    """The exception the callbacks raise; its reference count shows leaked
    instances."""


class Holder:
    """Remembers the last exception a callback raised."""

    def __init__(self):
        self.last = None

    def raise_new(self, kind=Boom, text="boom"):
        self.last = kind(text)
        raise self.last

    def take(self):
        last, self.last = self.last, None
        return last


class Token:
    """A plain object: compared by identity, with no Python-level methods."""

    def __init__(self, name="t"):
        self.name = name

    def __repr__(self):
        return f"Token({self.name})"


def expect(kind, call, *args, check=None):
    try:
        call(*args)
    except kind as e:
        if check is not None:
            check(e)
        return
    raise AssertionError(f"{call.__name__} did not raise {kind.__name__}")


def same_objects(got, expected):
    got = list.__iter__(got)
    got = list(got)
    assert len(got) == len(expected), (got, expected)
    assert all(a is b for a, b in zip(got, expected)), (got, expected)


def permutation_of(got, expected):
    got = list(list.__iter__(got))
    assert sorted(map(id, got)) == sorted(map(id, expected))


def forbidden(name):
    def method(self, *args, **kwargs):
        raise AssertionError(f"{type(self).__name__}.{name} was called")

    method.__name__ = name
    return method


def spy_type(base, names):
    return type("Spy" + base.__name__.capitalize(), (base,), {n: forbidden(n) for n in names})


LIST_METHODS = ["__getitem__", "__setitem__", "__delitem__", "__len__", "__iter__", "__reversed__",
                "__contains__", "index", "count", "copy", "sort", "append", "extend", "insert",
                "pop", "remove", "clear", "__eq__", "__lt__", "__add__", "__mul__"]
ListSpy = spy_type(list, LIST_METHODS)
TupleSpy = spy_type(tuple, ["__getitem__", "__len__", "__iter__", "__contains__", "index", "count",
                            "__eq__", "__add__"])
DictSpy = spy_type(dict, ["__getitem__", "__iter__", "__len__", "__contains__", "keys", "items",
                          "values", "get", "copy", "__eq__", "__or__", "__reversed__"])
# multikeysort looks its cells up through the subscript: that one may run.
SortDictSpy = spy_type(dict, ["__iter__", "__len__", "__contains__", "keys", "items", "values", "get",
                              "copy", "__eq__", "__or__", "__reversed__"])
StrSpy = spy_type(str, ["__str__", "__len__", "__getitem__", "__iter__", "__contains__", "encode",
                        "__eq__", "__ne__", "__lt__", "__gt__", "__le__", "__ge__", "__hash__",
                        "__format__", "__add__", "__mul__", "__mod__", "lower", "upper", "replace",
                        "strip", "split", "isdigit", "isspace"])


class KeySpy(str):
    """A str key whose hash and equality work while the test builds its
    dicts and fail the case once `armed`."""

    armed = False

    def __hash__(self):
        if KeySpy.armed:
            raise AssertionError("KeySpy.__hash__ was called")
        return str.__hash__(self)

    def __eq__(self, other):
        if KeySpy.armed:
            raise AssertionError("KeySpy.__eq__ was called")
        return str.__eq__(self, other)


# ================================================================ same_order


class Eq:
    """An item whose __eq__ runs `action(self, other)` and returns its result."""

    def __init__(self, action):
        self.action = action
        self.calls = 0

    def __eq__(self, other):
        self.calls += 1
        return self.action(self, other)

    __hash__ = object.__hash__


class Truth:
    """A comparison result whose truth runs `action()`."""

    def __init__(self, action):
        self.action = action

    def __bool__(self):
        return self.action()


def panic_raiser(P, text):
    def action(*_):
        raise P(text)

    return action


@case()
def same_order_eq_raises(P, _):
    h = Holder()
    a = Eq(lambda self, other: h.raise_new())
    t = Token()

    def run():
        expect(Boom, pelm.same_order, [a], [t, t], check=lambda e: _is(e, h.take()))

    return run, [a, t, h, Eq, Boom]


def _is(got, expected):
    assert got is expected


@case()
def same_order_reflected_eq_raises(P, _):
    # 'a' == x: str's __eq__ gives way, and x's reflected __eq__ raises
    h = Holder()
    x = Eq(lambda self, other: h.raise_new(ValueError))
    a = "a" * 3

    def run():
        expect(ValueError, pelm.same_order, [a], [x, a], check=lambda e: _is(e, h.take()))
        assert x.calls and pelm.same_order([a], [a, x]) is True

    return run, [x, a, h, Eq]


@case()
def same_order_bool_of_result_raises(P, _):
    h = Holder()
    a = Eq(lambda self, other: Truth(h.raise_new))
    t = Token()

    def run():
        expect(Boom, pelm.same_order, [a], [t], check=lambda e: _is(e, h.take()))

    return run, [a, t, h, Eq, Truth, Boom]


@case()
def same_order_bool_of_result_is_not_a_bool(P, _):
    a = Eq(lambda self, other: Truth(lambda: 2))
    t = Token()

    def run():
        expect(TypeError, pelm.same_order, [a], [t])

    return run, [a, t, Eq, Truth]


@case("eq", "bool")
def same_order_panics(P, which):
    raise_panic = panic_raiser(P, f"panic in {which}")
    if which == "eq":
        a = Eq(raise_panic)
    else:
        a = Eq(lambda self, other: Truth(raise_panic))
    t = Token()

    def run():
        expect(P, pelm.same_order, [t, a], [t, t, t], check=_panics(P, f"panic in {which}"))

    return run, [a, t, Eq, Truth, P]


@case()
def same_order_eq_clears_comp(P, _):
    ts = [Token(i) for i in range(3)]

    def clear(self, other):
        comp.clear()
        return False

    a = Eq(clear)
    comp = []

    def run():
        comp[:] = ts
        expect(IndexError, pelm.same_order, [a], comp)
        assert comp == []

    return run, [a, *ts, Eq, Token]


@case()
def same_order_eq_shrinks_comp(P, _):
    ts = [Token(i) for i in range(3)]

    def pop(self, other):
        comp.pop()
        return False

    a = Eq(pop)
    comp = []

    def run():
        comp[:] = ts
        a.calls = 0
        expect(IndexError, pelm.same_order, [a], comp)
        assert a.calls == 2 and comp == ts[:1]

    return run, [a, *ts, Eq, Token]


@case()
def same_order_eq_grows_comp(P, _):
    ts = [Token(i) for i in range(2)]
    extra = Token("extra")

    def grow(self, other):
        comp.append(extra)
        return other is extra

    a = Eq(grow)
    comp = []

    def run():
        comp[:] = ts
        a.calls = 0
        # items appended past the size comp had at the start are never compared
        assert pelm.same_order([a], comp) is False
        assert a.calls == 2 and len(comp) == 4 and comp[2] is extra and comp[3] is extra

    return run, [a, *ts, extra, Eq, Token]


@case("clear", "replace")
def same_order_eq_changes_ref_list(P, which):
    t, u = Token("t"), Token("u")

    def change(self, other):
        if which == "clear":
            ref.clear()
        else:
            ref[1] = u  # read afresh: the replacement is searched
        return True

    ref = []

    def run():
        # the list holds the only reference to the item being compared
        ref[:] = [Eq(change), Token("missing")]
        alive = weakref.ref(ref[0])
        if which == "clear":
            expect(IndexError, pelm.same_order, ref, [t, t])
            assert ref == []
        else:
            assert pelm.same_order(ref, [t, u]) is True
            ref[0] = None
        assert alive() is None

    return run, [t, u, Eq, Token]


@case()
def same_order_eq_replaces_the_compared_item(P, _):
    t = Token()
    target = Token("target")

    def replace(self, other):
        if other is target:
            return True
        if comp[1] is not target:
            comp[0] = t  # drops the list's reference to `other`
            comp[1] = target
        return False

    a = Eq(replace)
    comp = []

    def run():
        comp[:] = [Token("fresh"), Token("fresh"), t]
        first = weakref.ref(comp[0])
        # comp is read afresh by index: the replacement at index 1 is found
        assert pelm.same_order([a], comp) is True
        assert first() is None and comp == [t, target, t]

    return run, [a, t, target, Eq, Token]


@case()
def same_order_list_subclass_methods_unused(P, _):
    ts = [Token(i) for i in range(4)]

    def run():
        ref = ListSpy([ts[1], ts[3]])
        comp = ListSpy([ts[0], ts[1], ts[2], ts[3]])
        assert pelm.same_order(ref, comp) is True
        assert pelm.same_order(comp, ref) is False
        assert pelm.same_order(ListSpy([ts[3], ts[1]]), comp) is False

    return run, [*ts, ListSpy, Token]


# ============================================================== multikeysort


class Row(dict):
    """A dict whose subscript runs `action(row, key)` before the lookup."""

    def __init__(self, data, action):
        super().__init__(data)
        self.action = action

    def __getitem__(self, key):
        self.action(self, key)
        return dict.__getitem__(self, key)


class Subscriptable:
    """Not a dict: adds no keys, but its cells are still looked up."""

    def __init__(self, action):
        self.action = action

    def __getitem__(self, key):
        return self.action(key)


class Index:
    """A cell value that converts through __index__."""

    def __init__(self, action):
        self.action = action

    def __index__(self):
        return self.action()


class Float:
    """A cell value that converts through __float__."""

    def __init__(self, action):
        self.action = action

    def __float__(self):
        return self.action()


class Other:
    """A cell of kind Other whose comparisons run callbacks."""

    def __init__(self, value, lt=None, gt=None):
        self.value = value
        self.lt = lt
        self.gt = gt
        self.lt_calls = self.gt_calls = 0

    def __lt__(self, other):
        self.lt_calls += 1
        if self.lt is not None:
            return self.lt(self, other)
        return self.value < _value(other)

    def __gt__(self, other):
        self.gt_calls += 1
        if self.gt is not None:
            return self.gt(self, other)
        return self.value > _value(other)

    def __repr__(self):
        return f"Other({self.value})"


def _value(x):
    return x.value if isinstance(x, Other) else x


def both_ways(make_items, columns, check):
    """Runs the sort into a new list and in place, with fresh items each time."""
    for inplace in (False, True):
        items = make_items()
        check(items, inplace, lambda: pelm.multikeysort(items, columns, inplace))


@case()
def multikeysort_getitem_raises(P, _):
    h = Holder()
    row = Row({"a": 2}, lambda row, key: h.raise_new(KeyError))
    d1, d3 = {"a": 1}, {"a": 3}
    sub = Subscriptable(lambda key: h.raise_new())

    def check(items, inplace, call):
        got = call()
        # a cell whose subscript raises is Null, which sorts first
        same_objects(items if inplace else got, [row, sub, d1, d3])

    def run():
        both_ways(lambda: [d3, row, d1, sub], ["a"], check)
        h.take()

    return run, [row, d1, d3, sub, h, Row, Subscriptable, Boom]


@case("many", "one", "missing")
def multikeysort_subscript_appends(P, which):
    extra = {"a": 0}
    holder = []

    def append(row, key):
        holder[0].append(extra)

    class Missing(dict):
        def __missing__(self, key):
            holder[0].append(extra)
            return 5

    if which == "missing":
        row = Missing(b=1)
    else:
        row = Row({"a": 2}, append)
    d1 = {"a": 1}
    originals = [row, d1] if which != "one" else [row]

    def check(items, inplace, call):
        holder[:] = [items]
        expect(ValueError, call, check=lambda e: _msg(e, "list modified during sort"))
        # not written: the list keeps its order plus what the callback added
        same_objects(items, originals + [extra])

    def run():
        both_ways(lambda: list(originals), "a", check)
        holder.clear()

    return run, [row, d1, extra, Row]


def _msg(e, text):
    assert str(e) == text


@case()
def multikeysort_getitem_pops_the_last_item(P, _):
    holder = []
    row = Row({"a": 2}, lambda row, key: holder[0].pop())
    d1, d2 = {"a": 1}, {"a": 0}

    def check(items, inplace, call):
        holder[:] = [items]
        expect(IndexError, call)
        same_objects(items, [row, d1])

    def run():
        both_ways(lambda: [row, d1, d2], "a", check)
        holder.clear()

    return run, [row, d1, d2, Row]


@case()
def multikeysort_getitem_clears(P, _):
    holder = []
    ds = [{"a": i} for i in range(3)]
    row = Row({"a": 2}, lambda row, key: holder[0].clear())

    def check(items, inplace, call):
        holder[:] = [items]
        expect(IndexError, call)
        assert list.__len__(items) == 0

    def run():
        both_ways(lambda: [ds[0], row, *ds[1:]], "a", check)
        holder.clear()

    return run, [row, *ds, Row]


@case()
def multikeysort_getitem_replaces_an_item(P, _):
    holder = []
    x = {"a": 99}
    d2 = {"a": 2}

    def replace(row, key):
        holder[0][0] = x  # same length: no error

    row = Row({"a": 1}, replace)

    def check(items, inplace, call):
        holder[:] = [items]
        got = call()
        # x takes the sorted place of the row built from position 0 (a=2)
        same_objects(items if inplace else got, [row, x])
        if not inplace:
            same_objects(items, [x, row])

    def run():
        both_ways(lambda: [d2, row], "a", check)
        holder.clear()

    return run, [row, x, d2, Row]


def _panics(P, text):
    def check(e):
        assert type(e) is P and e.args == (text,)

    return check


@case("getitem", "index", "float", "lt", "bool", "gt", "key")
def multikeysort_panics(P, which):
    text = f"panic in {which}"
    raise_panic = panic_raiser(P, text)
    d1, d3 = {"a": 1}, {"a": 3}
    objects = [d1, d3, P]
    if which == "getitem":
        odd = Row({"a": 2}, raise_panic)
    elif which == "index":
        odd = {"a": Index(raise_panic)}
    elif which == "float":
        odd = {"a": Float(raise_panic)}
    elif which == "lt":
        odd = {"a": Other(2, lt=raise_panic)}
    elif which == "bool":
        odd = {"a": Other(2, lt=lambda self, other: Truth(raise_panic))}
    elif which == "gt":
        odd = {"a": Other(2, lt=lambda self, other: False, gt=raise_panic)}
    else:

        class PanicKey(str):
            __hash__ = str.__hash__

            def __eq__(self, other):
                raise_panic()

        odd = {PanicKey("a"): 2}
    objects.append(odd)

    def check(items, inplace, call):
        expect(P, call, check=_panics(P, text))
        same_objects(items, [d1, odd, d3])

    def run():
        both_ways(lambda: [d1, odd, d3], ["a"], check)

    return run, objects


@case("index", "float", "lt", "bool", "gt", "nonbool")
def multikeysort_failures_are_discarded(P, which):
    h = Holder()
    make = {
        # no conversion works: the cell is an Other
        "index": lambda v: Index(h.raise_new),
        "float": lambda v: Float(h.raise_new),
        # the comparisons of Others fail: Equal
        "lt": lambda v: Other(v, lt=lambda self, other: h.raise_new()),
        "bool": lambda v: Other(v, lt=lambda self, other: Truth(h.raise_new)),
        "gt": lambda v: Other(v, gt=lambda self, other: h.raise_new()),
        "nonbool": lambda v: Other(v, lt=lambda self, other: Truth(lambda: "yes")),
    }[which]
    # an Other among ints and among its own kind, ascending and descending
    cells = [make(v) for v in (5, 1, 4)]
    rows = [{"a": 3, "b": cells[0]}, {"a": 1, "b": 2}, {"b": cells[1]}, {"a": 2, "b": cells[2]},
            {"a": 0, "b": None}, {"a": 1, "b": 7}]

    def run():
        for columns in (["b"], ["-b"], ["b", "-a"], ("a", "-b")):
            expected = models.multikeysort(rows, columns)
            h.take()
            for inplace in (False, True):
                items = list(rows)
                got = pelm.multikeysort(items, columns, inplace)
                same_objects(items if inplace else got, expected)
                assert h.last is None or isinstance(h.take(), Boom)
        if which in ("lt", "bool", "nonbool"):
            # an Other on the left whose less-than fails: Equal, and its
            # __gt__ is never asked
            lone = make(2)
            pair = [{"a": 1}, {"a": lone}]
            same_objects(pelm.multikeysort(list(pair), "a"), pair)
            assert lone.lt_calls == 1 and lone.gt_calls == 0
            h.take()

    return run, [*cells, *rows, h, Boom, type(cells[0]), Truth]


@case("clear", "append", "replace")
def multikeysort_lt_mutates(P, which):
    holder = []
    extra = {"a": -1}
    x = {"a": "x"}

    def lt(self, other):
        items = holder[0]
        if which == "clear":
            items.clear()
        elif which == "append":
            items.append(extra)
        elif list.__getitem__(items, 0) is not x:
            items[0] = x
        return self.value < _value(other)

    rows = [{"a": Other(v, lt=lt)} for v in (3, 1, 2)]

    def check(items, inplace, call):
        holder[:] = [items]
        if which == "clear":
            expect(ValueError, call, check=lambda e: _msg(e, "list modified during sort"))
            assert list.__len__(items) == 0
        elif which == "append":
            expect(ValueError, call, check=lambda e: _msg(e, "list modified during sort"))
            same_objects(items[: len(rows)], rows)
            assert all(e is extra for e in items[len(rows):]) and len(items) > len(rows)
        else:
            got = call()
            # x stands where the row built from position 0 (value 3) sorts
            same_objects(items if inplace else got, [rows[1], rows[2], x])

    def run():
        both_ways(lambda: list(rows), "a", check)
        holder.clear()

    return run, [*rows, extra, x, Other]


@case()
def multikeysort_key_eq_appends(P, _):
    # An exact dict whose str-subclass key runs __eq__ when the cell is looked
    # up with a plain str key.
    holder = []
    extra = {"a": 0}

    class Key(str):
        __hash__ = str.__hash__

        def __eq__(self, other):
            holder[0].append(extra)
            return str.__eq__(self, other)

    d = {Key("a"): 2}
    d1 = {"a": 1}

    def check(items, inplace, call):
        holder[:] = [items]
        expect(ValueError, call, check=lambda e: _msg(e, "list modified during sort"))
        same_objects(items, [d, d1, extra])

    def run():
        both_ways(lambda: [d, d1], ["a"], check)
        holder.clear()

    return run, [d, d1, extra, Key]


class Columns:
    """A sequence of column names (it has __len__ and __getitem__) whose
    iteration and size run callbacks."""

    def __init__(self, names, on_iter=None, on_len=None):
        self.names = names
        self.on_iter = on_iter
        self.on_len = on_len

    def __len__(self):
        if self.on_len is not None:
            self.on_len()
        return len(self.names)

    def __getitem__(self, i):
        return self.names[i]

    def __iter__(self):
        if self.on_iter is not None:
            self.on_iter()
        return iter(self.names)


class GenColumns(Columns):
    def __init__(self, names, gen):
        super().__init__(names)
        self.gen = gen

    def __iter__(self):
        return self.gen()


@case("iter-raises", "len-raises", "iter-clears-items", "iter-panics", "next-panics")
def multikeysort_columns(P, which):
    which = which.split("-")[0]
    h = Holder()
    holder = []
    d0, d1, d2 = {"a": 2, "b": "x"}, {"a": 1, "b": "y"}, {"a": 2, "b": "w"}

    def gen():
        yield "a"
        raise P("panic in next")

    if which == "iter":
        columns = Columns(["a"], on_iter=h.raise_new)
    elif which == "len":
        columns = Columns(["-a", "b"], on_len=h.raise_new)
    elif which == "clear":
        columns = Columns(["a"], on_iter=lambda: holder[0].clear())
    elif which == "panic":
        columns = Columns(["a"], on_iter=panic_raiser(P, "panic in iter"))
    else:
        columns = GenColumns(["a"], gen)

    def check(items, inplace, call):
        holder[:] = [items]
        if which in ("panic", "next"):
            expect(P, call, check=_panics(P, f"panic in {'next' if which == 'next' else 'iter'}"))
            same_objects(items, [d0, d1, d2])
            return
        got = call()
        result = items if inplace else got
        if which == "iter":
            same_objects(result, [d0, d1, d2])  # no columns: the given order
        elif which == "len":
            same_objects(result, [d2, d0, d1])  # the size only reserves room
        else:
            assert (got is None) if inplace else (got == [] and got is not items)
            assert list.__len__(items) == 0

    def run():
        both_ways(lambda: [d0, d1, d2], columns, check)
        holder.clear()
        h.take()

    return run, [columns, d0, d1, d2, h, Columns, Boom]


@case("raise", "panic", "true", "mutate")
def multikeysort_numpy_like_inplace(P, which):
    h = Holder()
    holder = []
    d0, d1 = {"a": 2}, {"a": 1}

    def truth(self):
        if which == "raise":
            h.raise_new(ValueError)
        if which == "panic":
            raise P("panic in bool")
        if which == "mutate":
            holder[0].append(d0)
        return True

    bool_ = type("bool_", (), {"__module__": "numpy", "__bool__": truth})
    flag = bool_()

    def run():
        items = [d0, d1]
        holder[:] = [items]
        if which == "raise":

            def check(e):
                assert e is h.take() and e.__notes__ == ["while processing 'inplace'"]

            expect(ValueError, pelm.multikeysort, items, "a", flag, check=check)
        elif which == "panic":
            expect(P, pelm.multikeysort, items, "a", flag, check=_panics(P, "panic in bool"))
        elif which == "true":
            assert pelm.multikeysort(items, "a", flag) is None
            same_objects(items, [d1, d0])
        else:
            # the flag is read before the sort: the appended item takes part
            assert pelm.multikeysort(items, "a", flag) is None
            same_objects(items, [d1, d0, d0])
        holder.clear()

    return run, [flag, d0, d1, h, bool_]


@case()
def multikeysort_inconsistent_order_keeps_every_row(P, _):
    # More than 20 rows whose cells claim to be less than everything: the
    # result holds each row once, or the sort reports the contradiction.
    always = Other(0, lt=lambda self, other: True, gt=lambda self, other: True)
    rows = [{"a": always if i % 3 else i} for i in range(30)]

    def check(items, inplace, call):
        try:
            got = call()
        except P as e:
            assert e.args == ("user-provided comparison function does not correctly implement a total order",)
            same_objects(items, rows)
            return
        permutation_of(items if inplace else got, rows)

    def run():
        both_ways(lambda: list(rows), "a", check)

    return run, [always, *rows, Other]


@case()
def multikeysort_subclass_methods_unused(P, _):
    S = StrSpy
    ds = [SortDictSpy({"a": v, "b": S(t)}) for v, t in ((2, "x"), (1, "y"), (2, "w"), (None, "z"))]

    def run():
        items = ListSpy(ds)
        for columns in ("a", ["-a", "b"], ("b",), ListSpy(["a", "-b"])):
            expected = models.multikeysort(items, columns)
            same_objects(pelm.multikeysort(items, columns), expected)
        assert pelm.multikeysort(items, ["a", "b"], True) is None
        same_objects(items, [ds[3], ds[1], ds[2], ds[0]])
        # a str subclass cell against an int: the interpreter sees a plain str
        mixed = ListSpy([{"a": S("1")}, {"a": 1}, {"a": S("0")}])
        same_objects(pelm.multikeysort(mixed, "a"), list(list.__iter__(mixed)))

    return run, [*ds, ListSpy, SortDictSpy, StrSpy]


# ======================================= functions that run no user code


@case()
def backfill_subclass_methods_unused(P, _):
    t = Token()

    def run():
        values = ListSpy([None, t, None])
        same_objects(pelm.backfill(values), [t, t, t])
        nones = ListSpy([None, None])
        assert pelm.backfill(nones) is nones

    return run, [t, ListSpy]


@case()
def collapse_subclass_methods_unused(P, _):
    ts = [Token(i) for i in range(4)]

    def run():
        args = ListSpy([ts[0], TupleSpy((ts[1], ListSpy([ts[2]]))), TupleSpy(())])
        same_objects(pelm.collapse(args, ts[3], args), [*ts, *ts[:3]])
        looped = ListSpy([ts[0]])
        list.append(looped, TupleSpy((looped,)))
        expect(ValueError, pelm.collapse, looped, check=lambda e: _msg(e, "Circular reference detected"))
        list.clear(looped)

    return run, [*ts, ListSpy, TupleSpy]


@case()
def backfill_iterdict_subclass_methods_unused(P, _):
    a, b = KeySpy("a"), KeySpy("b")
    v1, v2 = Token(1), Token(2)
    dicts = [DictSpy({a: None, b: v1}), DictSpy({b: None, a: v2}), DictSpy({a: None})]

    def run():
        KeySpy.armed = True
        try:
            got = pelm.backfill_iterdict(ListSpy(dicts))
        finally:
            KeySpy.armed = False
        assert [list(d.items()) for d in got] == [[("b", v1), ("a", v2)], [("b", v1), ("a", v2)], [("a", v2)]]
        assert all(type(k) is str for d in got for k in d)

    return run, [a, b, v1, v2, *dicts, ListSpy, DictSpy, KeySpy]


@case()
def text_functions_ignore_str_subclass_methods(P, _):
    calls = [
        (pelm.parse, "$(1,234.50)", -1234.5),
        (pelm.normalize_numeric_str, " (1,234%) ", "-1234"),
        (pelm.uncamel, "getHTTPResponseCode", "get_http_response_code"),
        (pelm.underscore_to_camelcase, "_foo_bar", "fooBar"),
        (pelm.sanitize_vulgar_string, "1 \u215b cup", "1.125 cup"),
    ]
    args = [StrSpy(text) for _, text, _ in calls]

    def run():
        for (function, _, expected), arg in zip(calls, args):
            got = function(arg)
            assert type(got) is type(expected) and got == expected

    return run, [*args, StrSpy]


# ================================================= finalisers inside a call
# backfill and backfill_iterdict run no user code, but the containers they
# allocate can start a garbage collection, whose finalisers run Python code
# in the middle of the call (Python 3.11 collects at the allocation; later
# versions at the next bytecode after the call, when the finaliser changes
# nothing the call sees). Either way: a result or the documented exception.


class Garbage:
    """Cyclic garbage whose finaliser runs `action` once."""

    def __init__(self, action):
        self.action = action
        self.cycle = self

    def __del__(self):
        action, self.action = self.action, None
        if action is not None:
            action()


def during_collection(action, call):
    """Makes an unreachable cycle with a finaliser and calls `call` with the
    collector set to run at the first container allocation."""
    was_enabled = gc.isenabled()
    threshold = gc.get_threshold()
    gc.disable()
    try:
        # empty the free lists of lists and dicts, which would otherwise give
        # the call its containers without the collector's allocation
        spare = [[[], {}, tuple([i]), tuple([i, i]), tuple([i, i, i])] for i in range(100)]
        Garbage(action)
        gc.set_threshold(1)
        gc.enable()
        return call()
    finally:
        gc.set_threshold(*threshold)
        del spare
        gc.collect(0)  # the finaliser has run by now, inside the call or not
        if not was_enabled:
            gc.disable()


@case("clear", "replace")
def backfill_finaliser_changes_the_list(P, which):
    a, b, x = Token("a"), Token("b"), Token("x")

    def run():
        values = [None, a, None, b]

        def action():
            if which == "clear":
                values.clear()
            else:
                values[3] = x

        try:
            got = during_collection(action, lambda: pelm.backfill(values))
        except IndexError:
            assert which == "clear" and values == []
            return
        if which == "replace" and got[3] is x:
            same_objects(got, [a, a, a, x])  # read afresh after the change
        else:
            same_objects(got, [a, a, a, b])

    return run, [a, b, x, Token, Garbage]


@case("clear", "add-key")
def backfill_iterdict_finaliser_changes_the_input(P, which):
    v1, v2, v3 = Token(1), Token(2), Token(3)

    def run():
        items = [{"a": v1, "b": None}, {"a": None, "b": v2}]

        def action():
            if which == "clear":
                items.clear()
            else:
                items[0]["c"] = v3

        try:
            got = during_collection(action, lambda: pelm.backfill_iterdict(items))
        except IndexError:
            assert which == "clear" and items == []
            return
        rows = [list(d.items()) for d in got]
        plain = [[("a", v1), ("b", v2)], [("a", v1), ("b", v2)]]
        if which == "add-key" and len(rows[0]) == 3:
            assert rows == [[("a", v1), ("c", v3), ("b", v2)], plain[1]]
        else:
            assert rows == plain

    return run, [v1, v2, v3, Token, Garbage]


@case()
def collapse_finaliser_changes_the_input(P, _):
    ts = [Token(i) for i in range(4)]

    def run():
        inner = [ts[1], ts[2]]
        args = ([ts[0], inner], (ts[3],))
        got = during_collection(inner.clear, lambda: pelm.collapse(*args))
        # emptied before the walk, or after the leaves were taken
        assert inner == []
        if len(got) == 2:
            same_objects(got, [ts[0], ts[3]])
        else:
            same_objects(got, ts)

    return run, [*ts, Token, Garbage]


# ===================================================================== runner


@pytest.mark.parametrize(("make", "variant"), CASES)
def test_hostile(make, variant, panic_exception, capfd):
    try:
        run, objects = make(panic_exception, variant)
        run()
        run()  # one-time values are made by now
        gc.collect()
        before = [sys.getrefcount(o) for o in objects]
        for _ in range(REPEAT):
            run()
        gc.collect()
        after = [sys.getrefcount(o) for o in objects]
        changed = [(repr(o)[:60], b, a) for o, b, a in zip(objects, before, after) if a != b]
        assert not changed, f"reference counts changed (object, before, after): {changed}"
    finally:
        completed.add((make, variant))
    capfd.readouterr()


def test_hostile_summary(capsys):
    # Reached only when no case brought the interpreter down.
    with capsys.disabled():
        print(f"\nhostile input: {len(completed)} cases, 0 crashes")
