"""The package's typed interface: its explicit exports and the stub of the
extension, which must describe the functions that the extension really has.
(`mypy --strict` on tests/typecheck/example.py is a CI stage of its own.)"""

import ast
import inspect
from pathlib import Path

import pytest

import pelm
import pelm._pelm as native

STUB = Path(native.__file__).with_name("_pelm.pyi")


def stub_tree():
    return ast.parse(STUB.read_text(encoding="utf-8"), filename=str(STUB))


def stub_functions(tree):
    """name -> the stub's definitions of it (several for overloads)."""
    functions = {}
    for node in tree.body:
        if isinstance(node, ast.FunctionDef):
            functions.setdefault(node.name, []).append(node)
    return functions


def test_package_exports_exactly_the_extensions_functions():
    assert pelm.__all__ == native.__all__
    namespace = {}
    exec("from pelm import *", namespace)
    del namespace["__builtins__"]
    assert namespace.keys() == set(native.__all__)
    assert all(namespace[name] is getattr(native, name) for name in native.__all__)


def test_stub_defines_the_extensions_functions_in_order():
    assert list(stub_functions(stub_tree())) == native.__all__


@pytest.mark.parametrize("name", native.__all__)
def test_stub_parameters_match_the_functions(name):
    """Names, kinds and defaults of every stub definition (each overload of
    multikeysort too) are those of the function's text signature."""
    runtime = list(inspect.signature(getattr(native, name)).parameters.values())
    definitions = stub_functions(stub_tree())[name]
    defaulted = set()
    for definition in definitions:
        args = definition.args
        assert not args.posonlyargs and not args.kwonlyargs and not args.kwarg
        stubbed = [(a.arg, inspect.Parameter.POSITIONAL_OR_KEYWORD) for a in args.args]
        if args.vararg:
            stubbed.append((args.vararg.arg, inspect.Parameter.VAR_POSITIONAL))
        assert stubbed == [(p.name, p.kind) for p in runtime]
        for arg, default in zip(args.args[len(args.args) - len(args.defaults):], args.defaults):
            expected = next(p.default for p in runtime if p.name == arg.arg)
            value = ast.literal_eval(default)
            assert (type(value), value) == (type(expected), expected)
            defaulted.add(arg.arg)
    assert defaulted == {p.name for p in runtime if p.default is not inspect.Parameter.empty}

