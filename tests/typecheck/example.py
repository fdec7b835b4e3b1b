"""A typed user of pelm: calls every function as an application would and
states the type that each call gives.

CI runs `mypy --strict` on this file against the installed package (a
missing re-export, a wrong stub or a return type that does not follow
`inplace` is an error), then runs it with python, so that every call shown
here is also a valid call. pytest does not collect it.
"""

from typing import Any, assert_type

import pelm
from pelm import (
    backfill,
    backfill_iterdict,
    collapse,
    multikeysort,
    normalize_numeric_str,
    parse,
    same_order,
    sanitize_vulgar_string,
    uncamel,
    underscore_to_camelcase,
)


def numbers(text: str) -> float:
    value = parse(text)
    assert_type(value, int | float | None)
    cleaned = normalize_numeric_str(text)
    assert_type(cleaned, str | None)
    return 0.0 if value is None else float(value)


def names(column: str) -> str:
    snake = uncamel(column)
    camel = underscore_to_camelcase(snake)
    plain = sanitize_vulgar_string("1\u00bd cups")
    assert_type(snake, str)
    assert_type(camel, str)
    assert_type(plain, str)
    return camel


def sequences(rows: list[dict[str, Any]]) -> bool:
    flat = collapse([1, [2, (3, 4)]], 5)
    filled = backfill([None, 1, None, 2])
    filled_rows = backfill_iterdict(rows)
    assert_type(flat, list[Any])
    assert_type(filled, list[Any])
    assert_type(filled_rows, list[dict[str, Any]])
    return same_order(["a", "b"], ["a", "x", "b"])


def sorting(rows: list[dict[str, Any]], in_place: bool) -> list[dict[str, Any]]:
    # The result follows `inplace`: a new list when it is left out or False,
    # None when it is True, either one for a bool known only at run time.
    by_age: list[dict[str, Any]] = multikeysort(rows, ["age", "-name"])
    by_name: list[dict[str, Any]] = multikeysort(rows, ["name"], inplace=False)
    assert_type(multikeysort(rows, ["name"], False), list[Any])
    assert_type(multikeysort(rows, ["-age"], True), None)
    assert_type(multikeysort(rows, ["-age"], inplace=True), None)
    either = multikeysort(rows, ["age"], in_place)
    assert_type(either, list[Any] | None)
    return by_age if either is None else by_name


def main() -> None:
    rows: list[dict[str, Any]] = [{"name": "b", "age": 2}, {"name": "a", "age": 1}]
    assert numbers("1,200m") == 1200.0
    assert names("getHTTPResponseCode") == "getHttpResponseCode"
    assert sequences(rows)
    assert sorting(rows, in_place=False)[0]["age"] == 1
    assert rows[0]["age"] == 2
    assert sorting(rows, in_place=True)[0]["age"] == 1
    assert rows[0]["age"] == 1
    assert_type(pelm.__all__, list[str])


if __name__ == "__main__":
    main()
