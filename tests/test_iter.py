"""backfill, collapse and backfill_iterdict: results, identity of the objects
they hand back, subclasses whose methods must not be called, deep and
self-containing input, errors, and references left behind."""

import collections
import copy
import gc
import random
import sys
import time

import pytest

import pelm
from guarded import GuardedDict, GuardedList, GuardedTuple


def assert_no_leak(call, *objects, rounds=300):
    """`call` run many times leaves the reference counts of `objects` as
    they were."""
    call()
    gc.collect()
    before = [sys.getrefcount(o) for o in objects]
    for _ in range(rounds):
        call()
    gc.collect()
    assert [sys.getrefcount(o) for o in objects] == before


def assert_type_error(excinfo, text, note):
    assert str(excinfo.value) == text
    assert getattr(excinfo.value, "__notes__", []) == ([note] if note else [])


class Key(str):
    pass


def nested(leaf, depth, wrap=list):
    for _ in range(depth):
        leaf = wrap([leaf])
    return leaf


# --- backfill ------------------------------------------------------------------


@pytest.mark.parametrize(
    "values, sources",
    [
        ([None, 7], [1, 1]),
        ([7, None], [0, 0]),
        ([1, None, 2], [0, 0, 2]),
        ([None, 1, None, None, 2, None], [1, 1, 1, 1, 4, 4]),
        ([None, None, 1, 2, 3, None, 4], [2, 2, 2, 3, 4, 4, 6]),
        ([1, 2, 3], [0, 1, 2]),
        ([0, None, False, None], [0, 0, 2, 2]),
        ([float("nan"), None, "", None], [0, 0, 2, 2]),
        ([[], None], [0, 0]),
        ([None, [None]], [1, 1]),
        ([(None, 1), None], [0, 0]),
    ],
)
def test_backfill_fills_with_the_callers_own_items(values, sources):
    before = list(values)
    result = pelm.backfill(values)
    assert type(result) is list and result is not values
    assert len(result) == len(sources)
    assert all(got is values[i] for got, i in zip(result, sources))
    assert all(now is then for now, then in zip(values, before))


@pytest.mark.parametrize("values", [[None], [None, None, None], GuardedList([None])])
def test_backfill_of_only_none_is_the_argument_itself(values):
    assert pelm.backfill(values) is values
    assert list.__len__(values) > 0 and all(v is None for v in list.__iter__(values))


def test_backfill_of_empty_list_is_a_new_list():
    values = []
    result = pelm.backfill(values)
    assert result == [] and result is not values


def test_backfill_reads_a_subclass_through_its_storage():
    values = GuardedList([None, 2, None])
    result = pelm.backfill(values)
    assert type(result) is list
    assert result == [2, 2, 2]


def test_backfill_by_keyword():
    assert pelm.backfill(values=[None, 5]) == [5, 5]


@pytest.mark.parametrize(
    "argument, text",
    [
        ("abc", "'str' object is not an instance of 'list'"),
        ({"a": None}, "'dict' object is not an instance of 'list'"),
        ((None, 1), "'tuple' object is not an instance of 'list'"),
        (None, "'None' is not an instance of 'list'"),
    ],
)
def test_backfill_refuses_what_is_not_a_list(argument, text):
    with pytest.raises(TypeError) as excinfo:
        pelm.backfill(argument)
    assert_type_error(excinfo, text, "while processing 'values'")


def test_backfill_without_argument():
    with pytest.raises(TypeError) as excinfo:
        pelm.backfill()
    assert_type_error(excinfo, "backfill() missing 1 required positional argument: 'values'", None)


def test_backfill_keeps_reference_counts():
    first, middle = object(), object()
    values = [None, first, None, middle, None]
    only_none = [None, None]
    assert_no_leak(lambda: pelm.backfill(values), first, middle, values)
    assert_no_leak(lambda: pelm.backfill(only_none), only_none)


# --- collapse ------------------------------------------------------------------

Point = collections.namedtuple("Point", "x y")


@pytest.mark.parametrize(
    "args, expected",
    [
        ((), []),
        (([],), []),
        (([], (), [[], ()]), []),
        ((1, 2, 3), [1, 2, 3]),
        (([["a", ["b", ("c", "d")]], -2, -1, [0, 1]],), ["a", "b", "c", "d", -2, -1, 0, 1]),
        (([1, [2, [3, [4]]]], 5), [1, 2, 3, 4, 5]),
        (((1, [2, (3,)]),), [1, 2, 3]),
        (("abc", b"de"), ["abc", b"de"]),
        ((None, [None]), [None, None]),
        ((Point(1, [2, 3]),), [1, 2, 3]),
        ((GuardedList([1, GuardedTuple((2, [3]))]), 4), [1, 2, 3, 4]),
    ],
)
def test_collapse_flattens_lists_and_tuples(args, expected):
    # repr reads the containers' storage without their Python-level methods.
    snapshot = repr(args)
    result = pelm.collapse(*args)
    assert type(result) is list
    assert result == expected
    assert repr(args) == snapshot


@pytest.mark.parametrize(
    "leaf", [{"a": [1]}, {1, 2}, range(3), "text", b"bytes", 2**80, object(), iter([1])]
)
def test_collapse_keeps_other_objects_whole(leaf):
    result = pelm.collapse([leaf], (leaf,), leaf)
    assert len(result) == 3 and all(item is leaf for item in result)


def test_collapse_opens_a_shared_container_each_time():
    a = [1, 2]
    assert pelm.collapse(a, a) == [1, 2, 1, 2]
    shared = [1, (2, [3])]
    assert pelm.collapse([shared, (shared, [shared])]) == [1, 2, 3] * 3


def reference_flatten(obj):
    """Recursive model of the flattening, for input of modest depth."""
    if isinstance(obj, (list, tuple)):
        return [leaf for item in obj for leaf in reference_flatten(item)]
    return [obj]


def random_tree(rng, shared, depth):
    """Lists and tuples up to `depth` deep that reuse small containers from
    `shared`: a DAG without cycles, many of whose containers sit deeper than
    a short scan of the open ones would reach."""
    if depth == 0 or rng.random() < 0.1:
        if shared and rng.random() < 0.5:
            return rng.choice(shared)
        return rng.randrange(1000)
    wrap = list if rng.random() < 0.6 else tuple
    node = wrap(random_tree(rng, shared, depth - 1) for _ in range(rng.choice((0, 1, 2, 3))))
    if len(reference_flatten(node)) <= 4:
        shared.append(node)
    return node


@pytest.mark.parametrize("seed", range(5))
def test_collapse_agrees_with_a_recursive_model_on_shared_deep_input(seed):
    rng = random.Random(seed)
    shared = []
    roots = [random_tree(rng, shared, 12) for _ in range(20)]
    chain = nested(roots, 40)  # everything below sits past the first links
    assert pelm.collapse(chain, *roots) == reference_flatten(roots) * 2


@pytest.mark.parametrize("wrap", [list, tuple, lambda x: [(x,)]], ids=["lists", "tuples", "mixed"])
def test_collapse_of_deep_nesting_uses_no_recursion(wrap):
    leaf = object()
    result = pelm.collapse(nested(leaf, 100_000, wrap))
    assert len(result) == 1 and result[0] is leaf


def test_collapse_of_deep_nesting_with_items_after_each_level():
    deep = "leaf"
    for level in range(100_000):
        deep = [deep, level] if level % 2 else (deep, level)
    assert pelm.collapse(deep) == ["leaf", *range(100_000)]


def test_collapse_of_a_million_levels_is_quick():
    deep = nested(1, 1_000_000)
    start = time.perf_counter()
    assert pelm.collapse(deep, deep) == [1, 1]
    assert time.perf_counter() - start < 1.0


def self_containing_list():
    a = [1, 2]
    a.append(a)
    return [0, a]


def self_containing_tuple():
    inner = []
    t = (1, inner)
    inner.append(t)
    return t


def cycle_through_other_containers():
    a = [1]
    a.append((2, [3, (a,)]))
    return a


def cycle_deep_below_its_start():
    top = [0]
    top.append(nested(top, 25))
    return nested(top, 12)


def cycle_deep_with_items_after_each_level():
    levels = [[level] for level in range(100)]
    for outer, inner in zip(levels, levels[1:]):
        outer.insert(0, inner)
    levels[-1].insert(0, levels[50])
    return levels[0]


def cycle_after_a_clean_argument():
    shared = [1, [2]]
    loop = [shared]
    loop.append([loop])
    return [shared, nested(shared, 20), loop]


@pytest.mark.parametrize(
    "make",
    [
        self_containing_list,
        self_containing_tuple,
        cycle_through_other_containers,
        cycle_deep_below_its_start,
        cycle_deep_with_items_after_each_level,
        cycle_after_a_clean_argument,
    ],
)
def test_collapse_refuses_input_that_contains_itself(make):
    root = make()
    with pytest.raises(ValueError, match="^Circular reference detected$"):
        pelm.collapse(root)
    with pytest.raises(ValueError, match="^Circular reference detected$"):
        pelm.collapse(1, [2], root)


def random_tree_with_a_loop(rng):
    """A random tree of lists (some behind one-item tuples) in which one list
    then gets one of its own ancestors, or itself, inserted among its items."""
    candidates = []

    def build(depth, path):
        node = []
        for _ in range(rng.choice((0, 1, 2, 3))):
            if depth > 0 and rng.random() < 0.7:
                child = build(depth - 1, path + [node])
                node.append(child if rng.random() < 0.7 else (child,))
            else:
                node.append(rng.randrange(100))
        candidates.append(path + [node])
        return node

    root = build(rng.choice((5, 15, 40)), [])
    path = rng.choice(candidates)
    path[-1].insert(rng.randrange(len(path[-1]) + 1), rng.choice(path))
    return root


@pytest.mark.parametrize("seed", range(4))
def test_collapse_finds_every_loop_at_any_depth(seed):
    rng = random.Random(seed)
    for _ in range(200):
        root = random_tree_with_a_loop(rng)
        with pytest.raises(ValueError, match="^Circular reference detected$"):
            pelm.collapse(root)


def test_collapse_keeps_reference_counts():
    leaf = object()
    inner = [leaf, (leaf,)]
    outer = [inner, inner, 3]
    loop = [leaf, inner]
    loop.append(loop)

    def refused():
        try:
            pelm.collapse(outer, loop)
        except ValueError:
            pass

    assert_no_leak(lambda: pelm.collapse(outer, leaf), leaf, inner, outer)
    assert_no_leak(refused, leaf, inner, outer, loop)


@pytest.mark.parametrize("args, keywords, name", [((), {"x": 1}, "x"), (([1],), {"key": 2}, "key")])
def test_collapse_takes_no_keywords(args, keywords, name):
    with pytest.raises(TypeError) as excinfo:
        pelm.collapse(*args, **keywords)
    assert_type_error(excinfo, f"collapse() got an unexpected keyword argument '{name}'", None)


# --- backfill_iterdict ---------------------------------------------------------


def entries(dicts):
    """Each dict as its list of items, so that key order is compared too."""
    return [list(d.items()) for d in dicts]


@pytest.mark.parametrize(
    "rows, expected",
    [
        (
            [{"a": 1, "b": None}, {"a": 4, "b": 2}, {"a": None, "b": None}],
            [[("a", 1), ("b", 2)], [("a", 4), ("b", 2)], [("a", 4), ("b", 2)]],
        ),
        ([{"a": 1, "b": None}, {"a": 2, "b": None}], [[("a", 1)], [("a", 2)]]),
        ([{"b": None}], [[]]),
        (
            [{"a": 1}, {"a": 2, "b": 3}, {"a": None, "b": None}],
            [[("a", 1)], [("a", 2), ("b", 3)], [("a", 2), ("b", 3)]],
        ),
        ([{"a": None}, {"a": None}, {"a": 3}, {"a": None}], [[("a", 3)]] * 4),
        ([{"a": None}, {}, {"a": 5}], [[("a", 5)], [], [("a", 5)]]),
        ([{"a": 1}, {}, {"a": None}], [[("a", 1)], [], [("a", 1)]]),
        ([{"b": None, "a": 1}, {"b": 2}], [[("a", 1), ("b", 2)], [("b", 2)]]),
        (
            [{"a": None, "b": None}, {"b": 1, "a": 2}],
            [[("b", 1), ("a", 2)], [("b", 1), ("a", 2)]],
        ),
        (
            [{"a": None, "b": 0}, {"a": "", "b": None}],
            [[("b", 0), ("a", "")], [("a", ""), ("b", 0)]],
        ),
        (
            [{"x": None, "y": None}, {"x": None, "y": 1}, {"x": 2, "y": None}],
            [[("y", 1), ("x", 2)], [("y", 1), ("x", 2)], [("x", 2), ("y", 1)]],
        ),
        ([{"é": None}, {"é": False}], [[("é", False)], [("é", False)]]),
    ],
)
def test_backfill_iterdict_fills_key_by_key(rows, expected):
    snapshot = copy.deepcopy(rows)
    result = pelm.backfill_iterdict(rows)
    assert type(result) is list
    assert entries(result) == expected
    assert entries(rows) == entries(snapshot)


def test_backfill_iterdict_of_empty_list_is_a_new_list():
    rows = []
    result = pelm.backfill_iterdict(rows)
    assert result == [] and result is not rows


def test_backfill_iterdict_shares_values_and_makes_new_dicts():
    value = [1, 2]
    rows = [{"a": value}, {"a": None}]
    result = pelm.backfill_iterdict(rows)
    assert result[0]["a"] is value and result[1]["a"] is value
    assert all(made is not given for made, given in zip(result, rows))
    assert rows[1] == {"a": None}


def test_backfill_iterdict_reads_subclasses_through_their_storage():
    value = object()
    rows = GuardedList(
        [GuardedDict({Key("k"): value, Key("n"): None}), GuardedDict({Key("k"): None})]
    )
    result = pelm.backfill_iterdict(rows)
    assert type(result) is list
    assert [type(d) for d in result] == [dict, dict]
    assert [list(d) for d in result] == [["k"], ["k"]]
    assert all(type(k) is str for d in result for k in d)
    assert result[0]["k"] is value and result[1]["k"] is value


def test_backfill_iterdict_keys_are_new_plain_strs():
    key = "".join(["long", "_key"])
    rows = [{key: 1}, {key: None}, {Key(key): 2}]
    result = pelm.backfill_iterdict(rows)
    assert entries(result) == [[(key, 1)], [(key, 1)], [(key, 2)]]
    assert all(type(k) is str and k is not key for d in result for k in d)
    # Every store gets a key object of its own, back-filled stores included.
    assert len({id(k) for d in result for k in d}) == 3


def made_from_text(text):
    """The str that the interpreter makes from the text's UTF-8 bytes."""
    return text.encode().decode()


class OwnHashKey(str):
    """A key with its own hash (not its text's) and equality, counting their
    calls: the str type's hash is never cached in it unless asked for."""

    calls = 0

    def __hash__(self):
        OwnHashKey.calls += 1
        return 7

    def __eq__(self, other):
        OwnHashKey.calls += 1
        return str.__eq__(self, other)

    def __ne__(self, other):
        OwnHashKey.calls += 1
        return str.__ne__(self, other)


@pytest.mark.parametrize(
    "text",
    [
        *["column_000", "colonne_é", "ĉolumn_000", "column_€", "𝔠olumn_000", "ab"],
        *["", "a", "é", "中", "𝔠"],
    ],
)
def test_backfill_iterdict_keys_are_made_as_from_the_text(text):
    """Each store, back-filled ones included, gets a str that is what the
    interpreter makes from the key's UTF-8 text: the same kind and size, the
    same hash (a wrong cached hash would break every lookup), and a new
    object unless the interpreter shares its object for that text."""
    rows = [{text: None}, {text: 1}, {text: None}, {made_from_text(text): None}]
    result = pelm.backfill_iterdict(rows)
    reference = made_from_text(text)
    keys = [key for made in result for key in made]
    assert len(keys) == 4
    for made, key in zip(result, keys):
        assert type(key) is str and key == reference
        assert hash(key) == hash(reference)
        assert sys.getsizeof(key) == sys.getsizeof(reference)
        assert key.isascii() == reference.isascii()
        assert made[made_from_text(text)] == 1
    if made_from_text(text) is made_from_text(text):
        assert all(key is reference for key in keys)
    else:
        assert len({id(key) for key in keys}) == 4
        assert not any(key is row_key for key in keys for row in rows for row_key in row)


@pytest.mark.parametrize("str_hash_cached", [False, True])
def test_backfill_iterdict_matches_keys_by_text_without_their_own_methods(str_hash_cached):
    """Keys of a str subclass with its own __hash__ and __eq__ match other keys
    by their text alone, whether or not the str type's hash of them is cached,
    and neither method is called."""
    own = [OwnHashKey("column_000"), OwnHashKey("column_001"), OwnHashKey("column_001")]
    if str_hash_cached:
        for key in own:
            str.__hash__(key)
    rows = [
        {"column_000": 1},
        {own[0]: None},
        {own[1]: 2},
        {"column_001": None, own[0]: 3},
        {own[2]: None, "column_000": None},
    ]
    OwnHashKey.calls = 0
    result = pelm.backfill_iterdict(rows)
    assert OwnHashKey.calls == 0
    assert entries(result) == [
        [("column_000", 1)],
        [("column_000", 1)],
        [("column_001", 2)],
        [("column_001", 2), ("column_000", 3)],
        [("column_001", 2), ("column_000", 3)],
    ]
    assert all(type(key) is str for made in result for key in made)


def test_backfill_iterdict_leaves_every_key_object_as_extracting_its_text_does():
    """Equal non-ASCII keys in distinct objects: each one, whichever way its
    text was found, ends the call with its UTF-8 form cached (which shows in
    its size), as the first one met does."""
    keys = ["".join(["ĉ", "olumn_", str(i // 2)]) for i in range(4)]
    rows = [{key: i} for i, key in enumerate(keys)] + [{keys[0]: None}, {keys[3]: None}]
    sizes = [sys.getsizeof(key) for key in keys]
    pelm.backfill_iterdict(rows)
    after = [sys.getsizeof(key) for key in keys]
    assert after == [after[0]] * len(keys) and after[0] > sizes[0]


def backfill_iterdict_model(rows):
    """The back-fill in plain Python; keys matched by their text."""
    last, pending, out = {}, {}, []
    for row in rows:
        filled = {}
        for key, value in row.items():
            text = str.__str__(key)
            if value is None:
                if text in last:
                    filled[text] = last[text]
                else:
                    pending[text] = pending.get(text, 0) + 1
                continue
            last[text] = value
            for earlier in out[: pending.pop(text, 0)]:
                earlier[text] = value
            filled[text] = value
        out.append(filled)
    return out


@pytest.mark.parametrize("stem", ["key", "ключ", "𝔨ey"])
@pytest.mark.parametrize("seed", range(4))
def test_backfill_iterdict_agrees_with_a_model(seed, stem):
    """Many key texts (more than any cache of recent keys holds), each met as
    shared objects, as equal but distinct objects and as str subclasses, with
    and without their own hash and equality."""
    rng = random.Random(seed)
    texts = [f"{stem}{i}" for i in range(150)]
    shared = {t: t for t in texts}

    def key_object(text):
        kind = rng.randrange(4)
        if kind == 0:
            return shared[text]
        if kind == 1:
            return "".join(list(text))
        return Key(text) if kind == 2 else OwnHashKey(text)

    values = [object() for _ in range(20)] + [0, "", False]
    rows = []
    for _ in range(300):
        row = {}
        for text in rng.sample(texts[: rng.choice((5, 40, 150))], rng.randrange(6)):
            row[key_object(text)] = None if rng.random() < 0.4 else rng.choice(values)
        rows.append(row)
    result = pelm.backfill_iterdict(rows)
    expected = backfill_iterdict_model(rows)
    assert entries(result) == entries(expected)
    assert all(
        got is want
        for made, model in zip(result, expected)
        for got, want in zip(made.values(), model.values())
    )


@pytest.mark.parametrize(
    "rows, text",
    [
        ([{"a": 1}, {1: 2}], "'int' object is not an instance of 'str'"),
        ([{1: None}], "'int' object is not an instance of 'str'"),
        ([{None: 1}], "'None' is not an instance of 'str'"),
        ([{"a": 1}, 5], "'int' object is not an instance of 'dict'"),
        ([None], "'None' is not an instance of 'dict'"),
        ([{"a": None}, {"a": 1, 2: 3}], "'int' object is not an instance of 'str'"),
    ],
)
def test_backfill_iterdict_refuses_wrong_items_and_keys(rows, text):
    with pytest.raises(TypeError) as excinfo:
        pelm.backfill_iterdict(rows)
    assert_type_error(excinfo, text, None)


def test_backfill_iterdict_refuses_a_key_without_utf8():
    with pytest.raises(UnicodeEncodeError):
        pelm.backfill_iterdict([{"\ud800": 1}])


def test_backfill_iterdict_refuses_what_is_not_a_list():
    with pytest.raises(TypeError) as excinfo:
        pelm.backfill_iterdict(({"a": 1},))
    assert_type_error(
        excinfo, "'tuple' object is not an instance of 'list'", "while processing 'iterdict'"
    )


@pytest.mark.parametrize(
    "make_key",
    [str, lambda text: "".join(["column_", text]), lambda text: OwnHashKey("ĉ" + text)],
    ids=["shared", "built per dict", "own-hash subclass"],
)
def test_backfill_iterdict_keeps_reference_counts(make_key):
    value, late = object(), object()
    a, b = make_key("a"), make_key("b")
    rows = [{a: None, b: value}, {make_key("a"): late, b: None}, {a: None}]
    failing = rows + [{a: value}, 7]

    def refused():
        try:
            pelm.backfill_iterdict(failing)
        except TypeError:
            pass

    assert_no_leak(lambda: pelm.backfill_iterdict(rows), value, late, a, b, *rows)
    assert_no_leak(refused, value, late, a, b, *rows)
