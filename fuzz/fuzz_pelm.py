"""Atheris fuzz targets for the ten functions of pelm, one per function.

    python fuzz/fuzz_pelm.py TARGET [libFuzzer options] [CORPUS_DIR ...]
    python fuzz/fuzz_pelm.py --list

Each target builds structured input from the fuzzer's bytes with
atheris.FuzzedDataProvider (numeric, case and fraction text, nested lists and
tuples with shared and cyclic containers, lists of dicts with cells of mixed
types, column specs, hostile objects whose __eq__ / __lt__ / __gt__ /
__bool__ / __index__ / __float__ / __getitem__ raise or change the containers
being worked on) and checks what must always hold: the result's type, that
only the documented exceptions come out (an exception raised by the input's
own objects comes back as the very same object), that the input is left as it
was, and, where tests/models.py models the input exactly, the model's answer.
A broken check raises; atheris reports it as a crash with the input saved.
"""

from __future__ import annotations

import copy
import math
import os
import sys
from pathlib import Path

import atheris

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parent / "tests"))

with atheris.instrument_imports():
    try:
        import models  # the pure-Python models of the property tests
    except Exception:  # noqa: BLE001 - fuzzing goes on without them
        models = None

pelm = None  # imported by main(): --list works without the sanitizer runtime


class Boom(Exception):
    """What the hostile objects raise."""


class BoomBool(Boom):
    """Raised by the __bool__ of an object returned by a comparison."""


def panic_type():
    for cls in BaseException.__subclasses__():
        if cls.__module__ == "pyo3_runtime" and cls.__name__ == "PanicException":
            return cls
    return None


# ---------------------------------------------------------------- alphabets

NUMERIC_PIECES = list("0123456789(),.-%+eE $mk") + [
    " ", "\t", "\n", "\u00a0", "\u2003", "\u3000", "\u0663", "\u200b", "n/a", "inf", "nan",
    "1e309", "9223372036854775807", "9223372036854775808", "-9223372036854775809", "0.", ".5",
    "1,234", "(1)", "()", "( )", "%", "--", "..", "0" * 40, "9" * 400,
]
VULGAR = "\u00bc\u00bd\u00be\u2153\u2154\u2155\u2156\u2157\u2158\u2159\u215a\u215b\u215c\u215d\u215e"
# The characters on which models.sanitize_vulgar_string is exact.
VULGAR_SAFE = set("0123456789abcxyz -+:.,\t\n\u0663\u00a0\u2003" + VULGAR)
VULGAR_PIECES = list(VULGAR_SAFE) + ["93\u00be", "1 \u215b", "4\u00be", "9" * 30, "\u00bd\u00bd"]
CASE_PIECES = list(getattr(models, "CASE_ALPHABET", "abcXYZ_09 ")) + [
    "HTTP", "Http", "ID", "Id", "__", "_", "getHTTPResponseCode", "\u0130", "\u00df",
]
CASE_SAFE = set(getattr(models, "CASE_ALPHABET", ""))
SURROGATES = ["\ud800", "\udfff", "\udc80"]


def text(fdp, pieces, limit=40):
    """A str: pieces of the target's alphabet, free Unicode, a lone surrogate
    now and then, or one piece repeated into a long text."""
    mode = fdp.ConsumeIntInRange(0, 9)
    if mode <= 5:
        return "".join(fdp.PickValueInList(pieces) for _ in range(fdp.ConsumeIntInRange(0, limit)))
    if mode <= 7:
        return fdp.ConsumeUnicodeNoSurrogates(fdp.ConsumeIntInRange(0, limit * 2))
    if mode == 8:
        base = "".join(fdp.PickValueInList(pieces) for _ in range(fdp.ConsumeIntInRange(0, 8)))
        where = fdp.ConsumeIntInRange(0, len(base))
        return base[:where] + fdp.PickValueInList(SURROGATES) + base[where:]
    piece = "".join(fdp.PickValueInList(pieces) for _ in range(fdp.ConsumeIntInRange(1, 4)))
    return piece * fdp.ConsumeIntInRange(1, 20000 // max(1, len(piece)))


def has_surrogate(s):
    return any("\ud800" <= ch <= "\udfff" for ch in s)


class Text(str):
    """A str subclass: the functions read its storage, never its methods."""

    def __str__(self):
        raise AssertionError("Text.__str__ was called")

    def __eq__(self, other):
        raise AssertionError("Text.__eq__ was called")

    __hash__ = str.__hash__


def maybe_subclass(fdp, s):
    return Text(s) if fdp.ConsumeIntInRange(0, 7) == 0 else s


# ------------------------------------------------------- hostile objects


class Context:
    """What the hostile objects may change, and the exceptions they raised."""

    def __init__(self):
        self.lists = []
        self.dicts = []
        self.raised = []
        self.fdp = None
        self.hostile = 0

    def boom(self, kind=Boom):
        error = kind("boom")
        self.raised.append(error)
        raise error

    def mutate(self, op):
        if op == 0 or not (self.lists or self.dicts):
            return
        if self.dicts and op >= 6:
            d = self.dicts[op % len(self.dicts)]
            if op == 6:
                d.clear()
            else:
                d["a"] = op
            return
        lst = self.lists[op % len(self.lists)] if self.lists else None
        if lst is None:
            return
        if op == 1:
            lst.clear()
        elif op == 2:
            lst.append({"a": op})
        elif op == 3 and lst:
            lst.pop()
        elif op == 4:
            lst.insert(0, None)
        elif op == 5:
            lst[:] = lst[::-1]


class Answer:
    """An object returned by a comparison, whose truth raises."""

    def __init__(self, ctx):
        self.ctx = ctx

    def __bool__(self):
        self.ctx.boom(BoomBool)


class Hostile:
    """Compares by a value, or raises, or changes the containers, as drawn."""

    def __init__(self, ctx, fdp):
        ctx.hostile += 1
        self.ctx = ctx
        self.value = fdp.ConsumeIntInRange(-3, 3)
        self.eq = fdp.ConsumeIntInRange(0, 11)
        self.order = fdp.ConsumeIntInRange(0, 11)
        self.op = fdp.ConsumeIntInRange(0, 7)
        self.calls = 0

    def _act(self, mode, result):
        self.calls += 1
        if self.calls > 10_000:  # a bound on the work one call can cause
            return result
        if mode == 0:
            self.ctx.boom()
        if mode == 1:
            return Answer(self.ctx)
        if mode == 2:
            return NotImplemented
        if mode == 3:
            self.ctx.mutate(self.op)
        if mode == 4:
            return self.calls % 2 == 0  # inconsistent answers
        return result

    def __eq__(self, other):
        return self._act(self.eq, isinstance(other, Hostile) and other.value == self.value)

    def __lt__(self, other):
        return self._act(self.order, isinstance(other, Hostile) and self.value < other.value)

    def __gt__(self, other):
        return self._act(self.order, isinstance(other, Hostile) and self.value > other.value)

    def __hash__(self):
        return self.value

    def __repr__(self):
        return f"Hostile({self.value}, eq={self.eq}, order={self.order}, op={self.op})"


class IndexLike:
    """Has __index__: read as an int; it may raise or give a huge number."""

    def __init__(self, ctx, fdp):
        ctx.hostile += 1
        self.ctx, self.mode = ctx, fdp.ConsumeIntInRange(0, 3)
        self.number = fdp.PickValueInList([0, -1, 2**63 - 1, 2**63, -(2**63) - 1, 2**200])

    def __index__(self):
        if self.mode == 0:
            self.ctx.boom()
        if self.mode == 1:
            self.ctx.mutate(2)
        return self.number


class FloatLike:
    """Has __float__: it may raise or return what is not a float."""

    def __init__(self, ctx, fdp):
        ctx.hostile += 1
        self.ctx, self.mode = ctx, fdp.ConsumeIntInRange(0, 3)
        self.number = fdp.ConsumeFloat()

    def __float__(self):
        if self.mode == 0:
            self.ctx.boom()
        if self.mode == 1:
            return "not a float"
        if self.mode == 2:
            self.ctx.mutate(1)
        return self.number


class Row(dict):
    """A dict subclass whose subscript may raise or change the list."""

    def __init__(self, ctx, mode, *args):
        super().__init__(*args)
        ctx.hostile += 1
        self.ctx, self.mode = ctx, mode

    def __getitem__(self, key):
        if self.mode == 0:
            raise KeyError(key)
        if self.mode == 1:
            self.ctx.boom()
        if self.mode == 2:
            self.ctx.mutate(3)
        return dict.__getitem__(self, key)


class Token:
    """A plain object, compared by identity."""

    __slots__ = ("n",)

    def __init__(self, n):
        self.n = n

    def __repr__(self):
        return f"Token({self.n})"


# ---------------------------------------------------------------- values

FLOATS = [0.0, -0.0, 1.5, -2.25, 1e308, -1e308, 5e-324, math.inf, -math.inf, math.nan, 2.0**63]
INTS = [0, 1, -1, 7, 2**31, 2**63 - 1, 2**63, -(2**63), -(2**63) - 1, 2**100, -(2**100), True, False]


def scalar(fdp, ctx, hostile=True):
    kind = fdp.ConsumeIntInRange(0, 12 if hostile else 8)
    if kind == 0:
        return None
    if kind == 1:
        return fdp.PickValueInList(INTS)
    if kind == 2:
        return fdp.ConsumeIntInRange(-5, 5)
    if kind == 3:
        return fdp.PickValueInList(FLOATS)
    if kind == 4:
        return fdp.ConsumeFloat()
    if kind in (5, 6):
        return fdp.PickValueInList(["", "a", "b", "A", "ab", "-a", "\u00e9", "\U0001f600", "1", "10"])
    if kind == 7:
        return fdp.ConsumeUnicodeNoSurrogates(fdp.ConsumeIntInRange(0, 6))
    if kind == 8:
        return Token(fdp.ConsumeIntInRange(0, 3))
    if kind == 9:
        return Hostile(ctx, fdp)
    if kind == 10:
        return IndexLike(ctx, fdp)
    if kind == 11:
        return FloatLike(ctx, fdp)
    return fdp.PickValueInList([b"x", (1, 2), frozenset(), 1j, "\ud800"])


# --------------------------------------------------------------- checking


def call(function, *args, allowed=(), ctx=None, **kwargs):
    """Runs the function. Returns (True, result) or (False, exception) for an
    allowed exception; anything else propagates and is a crash."""
    try:
        return True, function(*args, **kwargs)
    except Boom as e:
        if ctx is None or not any(e is r for r in ctx.raised):
            raise AssertionError(f"a Boom that the input did not raise came out: {e!r}") from e
        return False, e
    except allowed as e:
        return False, e
    except BaseException as e:
        p = panic_type()
        if p is not None and isinstance(e, p):
            raise AssertionError(f"internal fault (PanicException): {e}") from e
        raise


def check(condition, message, *details):
    if not condition:
        raise AssertionError(message + "".join(f"\n  {d!r}"[:2000] for d in details))


def same_number(a, b):
    if isinstance(a, float) and isinstance(b, float) and math.isnan(a) and math.isnan(b):
        return True
    return type(a) is type(b) and a == b and (
        not isinstance(a, float) or math.copysign(1, a) == math.copysign(1, b)
    )


def identical(xs, ys):
    return len(xs) == len(ys) and all(x is y for x, y in zip(xs, ys))


# ----------------------------------------------------------------- targets

TARGETS = {}


def target(function):
    TARGETS[function.__name__] = function
    return function


def text_target(fdp, function, pieces, model, safe=None):
    s = text(fdp, pieces)
    arg = maybe_subclass(fdp, s)
    ok, result = call(function, arg, allowed=(UnicodeEncodeError,))
    if has_surrogate(s):
        check(not ok and isinstance(result, UnicodeEncodeError), "a lone surrogate must raise", s, result)
        return None
    check(ok, "unexpected exception", s, result)
    if model is not None and (safe is None or set(s) <= safe):
        expected = model(s)
        check(type(result) is type(expected), "type differs from the model", s, result, expected)
        if isinstance(expected, (int, float)):
            check(same_number(result, expected), "value differs from the model", s, result, expected)
        else:
            check(result == expected, "value differs from the model", s, result, expected)
    return result


@target
def parse(fdp):
    result = text_target(fdp, pelm.parse, NUMERIC_PIECES, getattr(models, "parse", None))
    check(result is None or type(result) in (int, float), "parse returned", result)
    if type(result) is int:
        check(-(2**63) <= result < 2**63, "parse int out of the 64-bit range", result)


@target
def normalize_numeric_str(fdp):
    result = text_target(fdp, pelm.normalize_numeric_str, NUMERIC_PIECES,
                         getattr(models, "normalize_numeric_str", None))
    check(result is None or (type(result) is str and result), "normalize_numeric_str returned", result)


@target
def uncamel(fdp):
    result = text_target(fdp, pelm.uncamel, CASE_PIECES, getattr(models, "uncamel", None), CASE_SAFE)
    check(result is None or type(result) is str, "uncamel returned", result)


@target
def underscore_to_camelcase(fdp):
    result = text_target(fdp, pelm.underscore_to_camelcase, CASE_PIECES,
                         getattr(models, "underscore_to_camelcase", None), CASE_SAFE)
    check(result is None or (type(result) is str and "_" not in result), "camelcase returned", result)


@target
def sanitize_vulgar_string(fdp):
    s = text(fdp, VULGAR_PIECES)
    result = sanitize_check(fdp, s)
    if result is not None and not set(s) & set(VULGAR):
        check(result == s, "text without fractions changed", s, result)


def sanitize_check(fdp, s):
    ok, result = call(pelm.sanitize_vulgar_string, maybe_subclass(fdp, s), allowed=(UnicodeEncodeError,))
    if has_surrogate(s):
        check(not ok and isinstance(result, UnicodeEncodeError), "a lone surrogate must raise", s)
        return None
    check(ok and type(result) is str, "sanitize_vulgar_string failed", s, result)
    model = getattr(models, "sanitize_vulgar_string", None)
    if model is not None and set(s) <= VULGAR_SAFE:
        check(result == model(s), "differs from the model", s, result, model(s))
    return result


def tree(fdp, ctx, depth, made):
    """Nested lists and tuples that may share containers and, rarely, hold
    themselves."""
    kind = fdp.ConsumeIntInRange(0, 13)
    if depth <= 0 or kind <= 4:
        return scalar(fdp, ctx, hostile=False)
    if kind == 5 and made:
        return fdp.PickValueInList(made)  # shared
    if kind == 6:  # a deep chain
        node = scalar(fdp, ctx, hostile=False)
        for _ in range(fdp.ConsumeIntInRange(1, 3000)):
            node = [node]
        return node
    children = [tree(fdp, ctx, depth - 1, made) for _ in range(fdp.ConsumeIntInRange(0, 5))]
    if kind == 7:
        node = tuple(children)
    elif kind == 8:
        node = type("Sub", (list,), {})(children)
    else:
        node = children
    made.append(node)
    if kind == 9 and isinstance(node, list) and fdp.ConsumeIntInRange(0, 3) == 0:
        node.append(node)  # a cycle
    return node


def height(root):
    """The longest chain of nested containers below root (a back edge of a
    cycle counts nothing), without recursion."""
    memo, on_path, stack = {}, set(), [(root, False)]
    while stack:
        node, done = stack.pop()
        if not isinstance(node, (list, tuple)):
            continue
        key = id(node)
        if done:
            on_path.discard(key)
            memo[key] = 1 + max((memo.get(id(c), 0) for c in node if id(c) not in on_path), default=0)
        elif key not in memo and key not in on_path:
            on_path.add(key)
            stack.append((node, True))
            stack.extend((child, False) for child in node)
    return memo.get(id(root), 0)


@target
def collapse(fdp):
    ctx = Context()
    made = []
    args = [tree(fdp, ctx, 5, made) for _ in range(fdp.ConsumeIntInRange(0, 4))]
    before = [list(node) if isinstance(node, list) else node for node in made]
    ok, result = call(pelm.collapse, *args, allowed=(ValueError,))
    cyclic = False
    model = getattr(models, "collapse", None)
    if model is not None and height(args) < 500:
        try:
            expected = model(*args)
        except ValueError:
            cyclic = True
        if not cyclic:
            check(ok and identical(result, expected), "differs from the model", args, result)
    if not ok:
        check(str(result) == "Circular reference detected", "wrong ValueError", result)
        if model is not None and height(args) < 500:
            check(cyclic, "ValueError without a cycle", args)
        return
    check(type(result) is list, "collapse returned", type(result))
    check(not any(isinstance(x, (list, tuple)) for x in result), "collapse left a container")
    for node, kept in zip(made, before):
        if isinstance(node, list):
            check(identical(node, kept), "collapse changed its input", node)


@target
def backfill(fdp):
    ctx = Context()
    values = [None if fdp.ConsumeIntInRange(0, 2) == 0 else scalar(fdp, ctx)
              for _ in range(fdp.ConsumeIntInRange(0, 64))]
    if fdp.ConsumeIntInRange(0, 7) == 0:
        values = type("Values", (list,), {})(values)
    given = list(values)
    ok, result = call(pelm.backfill, values)
    # A list of None only comes back as it is (a subclass included).
    check(ok and (type(result) is list or result is values), "backfill returned", result)
    check(len(result) == len(values), "backfill changed the length", values, result)
    check(identical(values, given), "backfill changed its input")
    model = getattr(models, "backfill", None)
    if model is not None:
        check(identical(result, model(given)), "differs from the model", given, result)
    check(all(x is not None for x in result) or all(x is None for x in given), "a None left", result)


def key(fdp):
    return fdp.PickValueInList(["a", "b", "c", "-a", "", "\u00e9", "a" * 40, "k1", "k2", "\ud800"])


def rows(fdp, ctx, hostile):
    out = []
    for _ in range(fdp.ConsumeIntInRange(0, 40)):
        cells = {key(fdp): scalar(fdp, ctx, hostile) for _ in range(fdp.ConsumeIntInRange(0, 4))}
        mode = fdp.ConsumeIntInRange(0, 30) if hostile else 30
        if mode < 4:
            out.append(Row(ctx, mode, cells))
        elif mode == 4:
            out.append(fdp.PickValueInList([None, 1, "a", ["a"], ()]))  # not a dict
        else:
            out.append(cells)
    return out


@target
def backfill_iterdict(fdp):
    ctx = Context()
    items = rows(fdp, ctx, hostile=fdp.ConsumeIntInRange(0, 3) == 0)
    snapshot = [list(d.items()) if isinstance(d, dict) else d for d in items]
    ok, result = call(pelm.backfill_iterdict, items, allowed=(TypeError, UnicodeEncodeError), ctx=ctx)
    for d, kept in zip(items, snapshot):
        if isinstance(d, dict):
            now = list(d.items())
            check(len(now) == len(kept) and all(a[0] == b[0] and a[1] is b[1] for a, b in zip(now, kept)),
                  "backfill_iterdict changed an input dict", kept, now)
    if not ok:
        return
    check(type(result) is list and len(result) == len(items), "backfill_iterdict returned", result)
    check(all(type(d) is dict for d in result), "not dicts", result)
    check(all(r is not d for r, d in zip(result, items)), "an input dict was returned")
    model = getattr(models, "backfill_iterdict", None)
    plain = all(type(d) is dict and all(type(k) is str and not has_surrogate(k) for k in d) for d in items)
    if model is not None and plain:
        expected, determined = model([dict(d) for d in items])
        if determined:
            got = [[(k, v) for k, v in d.items()] for d in result]
            want = [[(k, v) for k, v in d.items()] for d in expected]
            check(len(got) == len(want) and all(
                sorted(map(lambda kv: kv[0], g)) == sorted(map(lambda kv: kv[0], w))
                and all(dict(g)[k] is dict(w)[k] for k, _ in w) for g, w in zip(got, want)),
                "differs from the model", items, result, expected)


@target
def same_order(fdp):
    ctx = Context()
    hostile = fdp.ConsumeIntInRange(0, 2) == 0
    pool = [scalar(fdp, ctx, hostile) for _ in range(fdp.ConsumeIntInRange(1, 8))]
    ref = [fdp.PickValueInList(pool) for _ in range(fdp.ConsumeIntInRange(0, 12))]
    if fdp.ConsumeBool():
        comp = [fdp.PickValueInList(pool) for _ in range(fdp.ConsumeIntInRange(0, 24))]
    else:  # items that only comp holds: a callback that empties comp frees them
        comp = [scalar(fdp, ctx, hostile) for _ in range(fdp.ConsumeIntInRange(0, 24))]
    ctx.lists = [ref, comp]
    kept_ref, kept_comp = list(ref), list(comp)
    # A comparison that shrinks comp makes the next read fail with IndexError;
    # a truth that is not a bool is a TypeError.
    ok, result = call(pelm.same_order, ref, comp, allowed=(IndexError, TypeError), ctx=ctx)
    if not ok and ctx.hostile == 0:
        raise AssertionError(f"same_order raised without a hostile object: {result!r}")
    if not ok:
        return
    check(type(result) is bool, "same_order returned", result)
    model = getattr(models, "same_order", None)
    if model is not None and ctx.hostile == 0 and not any(
        isinstance(x, float) and math.isnan(x) for x in pool
    ):
        check(identical(ref, kept_ref) and identical(comp, kept_comp), "same_order changed its input")
        check(result == model(ref, comp), "differs from the model", ref, comp, result)


def columns(fdp):
    kind = fdp.ConsumeIntInRange(0, 9)
    names = [key(fdp) for _ in range(fdp.ConsumeIntInRange(0, 4))]
    if kind <= 4:
        return names
    if kind == 5:
        return tuple(names)
    if kind == 6:
        return names[0] if names else ""
    if kind == 7:
        return None
    if kind == 8:
        return iter(names)
    return fdp.PickValueInList([1, b"a", {"a": 1}, ["a", 1], ("a", None)])


def totally_ordered(items, parsed):
    """Whether the model's order is a total one here: every column holds
    numbers (no NaN) and None only, or strs and None only."""
    for name, _ in parsed:
        kinds = set()
        for item in items:
            kind, value = models.sort_value(item, name)
            if kind == models.FLOAT and math.isnan(value):
                return False
            if kind == models.OTHER:
                return False
            if kind in (models.INT, models.FLOAT):
                kinds.add("number")
            elif kind == models.STR:
                kinds.add("str")
        if len(kinds) > 1:
            return False
    return True


@target
def multikeysort(fdp):
    ctx = Context()
    hostile = fdp.ConsumeIntInRange(0, 2) == 0
    items = rows(fdp, ctx, hostile)
    spec = columns(fdp)
    inplace = fdp.ConsumeIntInRange(0, 2) == 0
    ctx.lists = [items]
    ctx.dicts = [d for d in items if isinstance(d, dict)][:3] if hostile else []
    given = list(items)
    allowed = (TypeError, ValueError, IndexError, KeyError, UnicodeEncodeError)
    if inplace:
        ok, result = call(pelm.multikeysort, items, spec, True, allowed=allowed, ctx=ctx)
    else:
        ok, result = call(pelm.multikeysort, items, spec, allowed=allowed, ctx=ctx)
    if not ok:
        if isinstance(result, ValueError) and ctx.hostile == 0:
            raise AssertionError(f"ValueError without a hostile object: {result}")
        return
    if inplace:
        check(result is None, "inplace sort returned", result)
        result = items
    else:
        check(type(result) is list and result is not items, "multikeysort returned", type(result))
        if ctx.hostile == 0:
            check(identical(items, given), "multikeysort changed its input")
    if ctx.hostile == 0:
        check(sorted(map(id, result)) == sorted(map(id, given)), "not a permutation", given, result)
        model = getattr(models, "multikeysort", None)
        if model is not None and isinstance(spec, (str, list, tuple, type(None))):
            parsed = models.parse_columns(spec)
            if parsed is None or totally_ordered(given, parsed):
                expected = model(given, spec)
                check(identical(result, expected), "differs from the model", given, spec, result, expected)


# ------------------------------------------------------------------- driver


def make_one_input(function):
    def one_input(data):
        function(atheris.FuzzedDataProvider(data))

    return one_input


def main():
    if len(sys.argv) < 2 or sys.argv[1] in ("-h", "--help", "--list"):
        print("targets:", " ".join(TARGETS))
        print(__doc__.strip().splitlines()[2])
        return 0 if len(sys.argv) >= 2 else 2
    name = sys.argv.pop(1)
    if name not in TARGETS:
        print(f"unknown target {name!r}; targets: {' '.join(TARGETS)}", file=sys.stderr)
        return 2
    global pelm
    import pelm as module

    pelm = module
    sys.setrecursionlimit(20000)
    sys.set_int_max_str_digits(0)  # the models read long digit runs with int()
    atheris.instrument_all()
    atheris.Setup(sys.argv, make_one_input(TARGETS[name]))
    atheris.Fuzz()
    return 0


if __name__ == "__main__":
    sys.exit(main())
