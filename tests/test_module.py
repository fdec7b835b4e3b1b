"""The module object, its functions' metadata, argument binding and the
execution step that publishes the functions."""

import gc
import importlib.util
import os
import shutil
import subprocess
import sys

import pytest

import pelm
import pelm._pelm as native

NAMES = [
    "parse",
    "normalize_numeric_str",
    "multikeysort",
    "sanitize_vulgar_string",
    "uncamel",
    "underscore_to_camelcase",
    "collapse",
    "backfill",
    "backfill_iterdict",
    "same_order",
]

DOC_BYTES = {
    "parse": 237,
    "normalize_numeric_str": 610,
    "multikeysort": 408,
    "sanitize_vulgar_string": 463,
    "uncamel": 302,
    "underscore_to_camelcase": 340,
    "collapse": 294,
    "backfill": 288,
    "backfill_iterdict": 400,
    "same_order": 439,
}

DOCSTRINGS = {
    'parse': "parse(s)\n--\n\nExtract number from string.\n\nArgs:\n    s: String to parse.\n\nReturns:\n    Parsed int or float, or None if parsing fails.\n\nExamples:\n    >>> parse('1,200m')\n    1200\n    >>> parse('100.0')\n    100.0\n    >>> parse('(1)')\n    -1",
    'normalize_numeric_str': "normalize_numeric_str(s)\n--\n\nStrip accounting and thousands formatting from a numeric string.\n\nApplies the shared formatting rules without coercing to a type, so the\ncaller keeps its own int/float policy. Commas are dropped, surrounding\nparentheses become a leading minus, and a trailing percent sign is\nremoved rather than divided by 100.\n\nArgs:\n    s: String to normalize.\n\nReturns:\n    The normalized string, or None when nothing is left to convert.\n\nExamples:\n    >>> normalize_numeric_str('1,234.56')\n    '1234.56'\n    >>> normalize_numeric_str('(50%)')\n    '-50'\n    >>> normalize_numeric_str('  (  )  ')",
    'multikeysort': "multikeysort(items, columns, inplace=False)\n--\n\nSort list of dictionaries by multiple keys.\n\nUses pre-extracted values for O(n) extraction instead of O(n log n).\n\nArgs:\n    items: List of dictionaries to sort.\n    columns: List of column names (prefix with '-' for descending).\n    inplace: If True, sort in place; otherwise return new sorted list.\n\nReturns:\n    Sorted list if inplace=False, otherwise None.",
    'sanitize_vulgar_string': 'sanitize_vulgar_string(s)\n--\n\nReplace vulgar fractions with decimal equivalents.\n\nConverts number and vulgar fraction combinations to number and decimal.\n\nArgs:\n    s: String containing vulgar fractions.\n\nReturns:\n    String with fractions converted to decimals.\n\nExamples:\n    >>> sanitize_vulgar_string("Foo-Bar+Baz: 17s 4¾ 1 ⅛ 20 93¾ - 94⅛")\n    \'Foo-Bar+Baz: 17s 4.75 1.125 20 93.75 - 94.125\'\n    >>> sanitize_vulgar_string("⅓ cup")\n    \'0.333333 cup\'',
    'uncamel': "uncamel(camel)\n--\n\nConvert camelCase to snake_case.\n\nArgs:\n    camel: CamelCase string.\n\nReturns:\n    snake_case string.\n\nExamples:\n    >>> uncamel('CamelCase')\n    'camel_case'\n    >>> uncamel('CamelCamelCase')\n    'camel_camel_case'\n    >>> uncamel('getHTTPResponseCode')\n    'get_http_response_code'",
    'underscore_to_camelcase': "underscore_to_camelcase(s)\n--\n\nConvert underscore_delimited_text to camelCase.\n\nArgs:\n    s: Underscore-delimited string.\n\nReturns:\n    camelCase string.\n\nExamples:\n    >>> underscore_to_camelcase('foo_bar_baz')\n    'fooBarBaz'\n    >>> underscore_to_camelcase('FOO_BAR')\n    'fooBar'\n    >>> underscore_to_camelcase('_foo_bar')\n    'fooBar'",
    'collapse': "collapse(*args)\n--\n\nRecursively flatten nested lists/tuples into a single list.\n\nArgs:\n    args: Items to collapse (can be nested lists/tuples).\n\nReturns:\n    Flattened list of items.\n\nExamples:\n    >>> collapse([['a', ['b', ('c', 'd')]], -2, -1, [0, 1]])\n    ['a', 'b', 'c', 'd', -2, -1, 0, 1]",
    'backfill': 'backfill(values)\n--\n\nBack-fill a sorted array with the latest value.\n\nArgs:\n    values: List of values (may contain None).\n\nReturns:\n    List with None values replaced by the most recent non-None value.\n\nExamples:\n    >>> backfill([None, None, 1, 2, 3, None, 4])\n    [1, 1, 1, 2, 3, 3, 4]',
    'backfill_iterdict': "backfill_iterdict(iterdict)\n--\n\nBack-fill a sorted iterdict with the latest values.\n\nArgs:\n    iterdict: List of dicts with possibly None values.\n\nReturns:\n    List of dicts with None values replaced by most recent non-None values per key.\n\nExamples:\n    >>> backfill_iterdict([{'a': 1, 'b': None}, {'a': 4, 'b': 2}, {'a': None, 'b': None}])\n    [{'a': 1, 'b': 2}, {'a': 4, 'b': 2}, {'a': 4, 'b': 2}]",
    'same_order': "same_order(ref_list, comp)\n--\n\nCompare two lists and check if elements in ref appear in same order in comp.\n\nArgs:\n    ref_list: Reference list of elements.\n    comp: Comparison list to check order against.\n\nReturns:\n    True if all ref elements appear in comp in the same relative order.\n\nExamples:\n    >>> same_order(['x', 'y', 'z'], ['x', 'a', 'b', 'y', 'd', 'z'])\n    True\n    >>> same_order(['x', 'y', 'z'], ['x', 'z', 'y'])\n    False",
}


def test_all_lists_the_ten_functions_in_order():
    assert native.__all__ == NAMES
    assert pelm.__all__ == NAMES
    assert {name for name in dir(native) if not name.startswith("__")} == set(NAMES)


def test_module_docstring():
    assert native.__doc__ == "Python module definition."


@pytest.mark.parametrize("name", NAMES)
def test_function_metadata(name):
    function = getattr(native, name)
    full = DOCSTRINGS[name]
    signature_line, rest = full.split("\n--\n\n", 1)
    assert function.__doc__ == rest
    assert function.__text_signature__ == signature_line[len(name):]
    assert len(full.encode("utf-8")) == DOC_BYTES[name]
    assert function.__name__ == name
    assert function.__module__ == "pelm._pelm"
    assert function.__self__ is None
    assert getattr(pelm, name) is function


def test_sanitize_docstring_holds_its_non_ascii_characters():
    doc = DOCSTRINGS["sanitize_vulgar_string"]
    assert len(doc) == 455
    assert {"\u00be", "\u215b", "\u2153"} <= set(doc)


@pytest.mark.parametrize(
    "call, message",
    [
        (lambda: pelm.parse(), "parse() missing 1 required positional argument: 's'"),
        (
            lambda: pelm.same_order(),
            "same_order() missing 2 required positional arguments: 'ref_list' and 'comp'",
        ),
        (
            lambda: pelm.same_order([1]),
            "same_order() missing 1 required positional argument: 'comp'",
        ),
        (
            lambda: pelm.same_order(comp=[1]),
            "same_order() missing 1 required positional argument: 'ref_list'",
        ),
        (
            lambda: pelm.multikeysort([]),
            "multikeysort() missing 1 required positional argument: 'columns'",
        ),
        (
            lambda: pelm.multikeysort(inplace=True),
            "multikeysort() missing 2 required positional arguments: 'items' and 'columns'",
        ),
        (lambda: pelm.parse("1", "2"), "parse() takes 1 positional arguments but 2 were given"),
        (
            lambda: pelm.same_order(1, 2, 3),
            "same_order() takes 2 positional arguments but 3 were given",
        ),
        (
            lambda: pelm.multikeysort([], [], True, 1),
            "multikeysort() takes from 2 to 3 positional arguments but 4 were given",
        ),
        (lambda: pelm.parse(t="1"), "parse() got an unexpected keyword argument 't'"),
        (lambda: pelm.parse(S="1"), "parse() got an unexpected keyword argument 'S'"),
        (lambda: pelm.parse("1", s="2"), "parse() got multiple values for argument 's'"),
        (
            lambda: pelm.multikeysort([], [], inplace=True, columns=[]),
            "multikeysort() got multiple values for argument 'columns'",
        ),
        (lambda: pelm.parse("1", 2, t=3), "parse() takes 1 positional arguments but 2 were given"),
        (lambda: pelm.collapse(1, x=2), "collapse() got an unexpected keyword argument 'x'"),
        (lambda: pelm.collapse(x=1), "collapse() got an unexpected keyword argument 'x'"),
        (lambda: pelm.collapse([1], key=2), "collapse() got an unexpected keyword argument 'key'"),
        (
            lambda: pelm.normalize_numeric_str(),
            "normalize_numeric_str() missing 1 required positional argument: 's'",
        ),
        (
            lambda: pelm.sanitize_vulgar_string("a", "b"),
            "sanitize_vulgar_string() takes 1 positional arguments but 2 were given",
        ),
        (lambda: pelm.uncamel(), "uncamel() missing 1 required positional argument: 'camel'"),
        (lambda: pelm.uncamel(s="x"), "uncamel() got an unexpected keyword argument 's'"),
        (
            lambda: pelm.underscore_to_camelcase(camel="x"),
            "underscore_to_camelcase() got an unexpected keyword argument 'camel'",
        ),
        (lambda: pelm.backfill(), "backfill() missing 1 required positional argument: 'values'"),
        (
            lambda: pelm.backfill([], []),
            "backfill() takes 1 positional arguments but 2 were given",
        ),
        (
            lambda: pelm.backfill_iterdict(),
            "backfill_iterdict() missing 1 required positional argument: 'iterdict'",
        ),
        (
            lambda: pelm.backfill_iterdict(items=[]),
            "backfill_iterdict() got an unexpected keyword argument 'items'",
        ),
    ],
)
def test_binding_errors(call, message):
    with pytest.raises(TypeError) as caught:
        call()
    assert str(caught.value) == message
    assert getattr(caught.value, "__notes__", None) is None


def test_unprintable_keyword_name_is_named_by_its_type(monkeypatch):
    class Name(str):
        def __str__(self):
            raise RuntimeError("no text")

    # Only the exceptions are kept: the hook's argument object holds a frame.
    unraisable = []
    monkeypatch.setattr(sys, "unraisablehook", lambda hook: unraisable.append(hook.exc_value))
    with pytest.raises(TypeError) as caught:
        pelm.parse(**{Name("odd"): 1})
    assert str(caught.value) == "parse() got an unexpected keyword argument '<unprintable Name object>'"
    assert len(unraisable) == 1 and isinstance(unraisable[0], RuntimeError)
    unraisable.clear()


class Text(str):
    pass


class Items(list):
    pass


class Outer:
    class Inner:
        pass


@pytest.mark.parametrize(
    "call, message, note",
    [
        (lambda: pelm.parse(1), "'int' object is not an instance of 'str'", "s"),
        (lambda: pelm.parse(None), "'None' is not an instance of 'str'", "s"),
        (lambda: pelm.parse(b"1"), "'bytes' object is not an instance of 'str'", "s"),
        (
            lambda: pelm.parse(Outer.Inner()),
            "'Outer.Inner' object is not an instance of 'str'",
            "s",
        ),
        (
            lambda: pelm.normalize_numeric_str(5),
            "'int' object is not an instance of 'str'",
            "s",
        ),
        (lambda: pelm.uncamel(None), "'None' is not an instance of 'str'", "camel"),
        (
            lambda: pelm.underscore_to_camelcase(b"a_b"),
            "'bytes' object is not an instance of 'str'",
            "s",
        ),
        (
            lambda: pelm.sanitize_vulgar_string(5),
            "'int' object is not an instance of 'str'",
            "s",
        ),
        (lambda: pelm.backfill((1, 2)), "'tuple' object is not an instance of 'list'", "values"),
        (lambda: pelm.backfill(None), "'None' is not an instance of 'list'", "values"),
        (
            lambda: pelm.backfill_iterdict(({"a": 1},)),
            "'tuple' object is not an instance of 'list'",
            "iterdict",
        ),
        (lambda: pelm.same_order(1, 2), "'int' object is not an instance of 'list'", "ref_list"),
        (lambda: pelm.same_order([1], (1,)), "'tuple' object is not an instance of 'list'", "comp"),
        (
            lambda: pelm.multikeysort((), "a", inplace=1),
            "'tuple' object is not an instance of 'list'",
            "items",
        ),
        (
            lambda: pelm.multikeysort([], "a", inplace=1),
            "'int' object is not an instance of 'bool'",
            "inplace",
        ),
        (
            lambda: pelm.multikeysort([], "a", None),
            "'None' is not an instance of 'bool'",
            "inplace",
        ),
    ],
)
def test_conversion_errors_carry_the_parameter_note(call, message, note):
    with pytest.raises(TypeError) as caught:
        call()
    assert str(caught.value) == message
    assert caught.value.__notes__ == [f"while processing '{note}'"]


@pytest.mark.parametrize(
    "call, note",
    [
        (lambda s: pelm.parse(s), "s"),
        (lambda s: pelm.normalize_numeric_str(s), "s"),
        (lambda s: pelm.uncamel(s), "camel"),
        (lambda s: pelm.underscore_to_camelcase(s), "s"),
        (lambda s: pelm.sanitize_vulgar_string(s), "s"),
    ],
)
def test_lone_surrogate_gives_the_interpreters_error_with_the_note(call, note):
    with pytest.raises(UnicodeEncodeError) as caught:
        call("a\ud800b")
    assert caught.value.__notes__ == [f"while processing '{note}'"]
    assert caught.value.reason == "surrogates not allowed"


def test_subclasses_are_accepted():
    assert pelm.parse(Text("(1)")) == -1
    assert pelm.uncamel(s := Text("aB")) == "a_b" and type(pelm.uncamel(s)) is str
    assert pelm.backfill(Items([None, 2])) == [2, 2]
    assert pelm.same_order(Items([1]), Items([1]))


def test_keywords_bind_by_name():
    assert pelm.parse(s="7") == 7
    assert pelm.same_order(comp=[1, 2], ref_list=[2]) is True
    assert pelm.backfill(values=[None, 5]) == [5, 5]


def fresh_module():
    spec = importlib.util.find_spec("pelm._pelm")
    return spec, importlib.util.module_from_spec(spec)


def test_execution_step_appends_to_an_existing_all_list():
    spec, module = fresh_module()
    module.__all__ = ["existing"]
    spec.loader.exec_module(module)
    assert module.__all__ == ["existing", *NAMES]
    assert module.parse is not native.parse
    assert module.parse("(1)") == -1


def test_execution_step_refuses_an_all_that_is_not_a_list():
    spec, module = fresh_module()
    module.__all__ = ("existing",)
    with pytest.raises(TypeError) as caught:
        spec.loader.exec_module(module)
    assert str(caught.value) == "'tuple' object is not an instance of 'list'"
    assert module.__all__ == ("existing",)
    assert not any(hasattr(module, name) for name in NAMES)


def test_execution_step_accepts_a_list_subclass_for_all():
    spec, module = fresh_module()
    module.__all__ = Items()
    spec.loader.exec_module(module)
    assert list(module.__all__) == NAMES


def test_the_module_entry_is_the_only_exported_symbol():
    nm = shutil.which("nm")
    if nm is None:
        pytest.skip("nm is not installed")
    listing = subprocess.run(
        [nm, "-D", "--defined-only", native.__file__], capture_output=True, text=True, check=True
    ).stdout
    assert [line.split()[-1] for line in listing.splitlines() if line.strip()] == ["PyInit__pelm"]


def test_panic_exception_type(panic_exception):
    assert panic_exception.__module__ == "pyo3_runtime"
    assert panic_exception.__name__ == "PanicException"
    assert panic_exception.__bases__ == (BaseException,)
    assert not issubclass(panic_exception, Exception)
    doc = panic_exception.__doc__
    assert len(doc.encode()) == 235 and doc.startswith("\n") and doc.endswith("\n")
    assert not hasattr(pelm, "PanicException") and not hasattr(native, "PanicException")


def test_an_interpreter_exception_is_raised_unchanged():
    raised = ValueError("mine")

    class Bad:
        def __eq__(self, other):
            raise raised

    with pytest.raises(ValueError) as caught:
        pelm.same_order([1], [Bad()])
    assert caught.value is raised
    assert caught.value.__traceback__ is not None


# --- Error paths neither leak nor grow -------------------------------------------------


def _rss_kib():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE") // 1024


ERROR_PATHS = [
    lambda o: pelm.parse(o),
    lambda o: pelm.normalize_numeric_str(o),
    lambda o: pelm.uncamel(o),
    lambda o: pelm.underscore_to_camelcase(o),
    lambda o: pelm.sanitize_vulgar_string(o),
    lambda o: pelm.backfill(o),
    lambda o: pelm.backfill_iterdict(o),
    lambda o: pelm.same_order(o, []),
    lambda o: pelm.same_order([], o),
    lambda o: pelm.multikeysort(o, "a"),
    lambda o: pelm.multikeysort([], "a", o),
    lambda o: pelm.parse(o, o),
    lambda o: pelm.collapse(o, k=o),
    lambda o: pelm.parse(**{"x" * 3: o}),
]


@pytest.mark.parametrize("call", ERROR_PATHS)
def test_error_paths_do_not_leak(call):
    def run(count):
        for _ in range(count):
            # A fresh mortal object each time: floats are never cached.
            argument = float(len(str(count)))
            try:
                call(argument)
            except (TypeError, UnicodeEncodeError):
                pass

    probe = 1.5 + float(len(NAMES))
    before = sys.getrefcount(probe)
    for _ in range(3):
        try:
            call(probe)
        except TypeError:
            pass
    gc.collect()
    assert sys.getrefcount(probe) == before

    run(20_000)
    gc.collect()
    start = _rss_kib()
    run(100_000)
    gc.collect()
    assert _rss_kib() - start < 2048
