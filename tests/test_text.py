"""Identifier case conversion and vulgar fraction replacement."""

import pytest

import pelm


class StrSubclass(str):
    pass


UNCAMEL_CASES = [
    # ASCII words, acronyms and digits
    ("", ""),
    ("a", "a"),
    ("A", "a"),
    ("aB", "a_b"),
    ("CamelCase", "camel_case"),
    ("getHTTPResponseCode", "get_http_response_code"),
    ("HTTPServer", "http_server"),
    ("ABC", "abc"),
    ("getID", "get_id"),
    ("ABc", "a_bc"),
    ("ABCDef", "abc_def"),
    ("version2Beta", "version2_beta"),
    ("3D", "3_d"),
    ("ABC123", "abc123"),
    ("A1B2", "a1_b2"),
    ("already_snake", "already_snake"),
    ("foo_Bar", "foo_bar"),
    ("_Private", "_private"),
    ("foo Bar", "foo bar"),
    ("foo-Bar", "foo-bar"),
    # only ASCII digits count as digits
    ("x\u0663A", "x\u0663a"),
    # non-ASCII letters: properties and full lowercase mappings
    ("\u00e0B", "\u00e0_b"),
    ("\u00c0B", "\u00e0b"),
    ("\u24d0B", "\u24d0_b"),
    ("a\u2161", "a_\u2171"),
    ("\u00dfA", "\u00df_a"),
    ("\u0130stanbul", "i\u0307stanbul"),
    ("foo\u0130x", "foo_i\u0307x"),
    ("\u0130Ab", "i\u0307_ab"),
    # titlecase letters are neither upper nor lower case
    ("\u01c5A", "\u01c5a"),
    ("a\u01c5", "a\u01c5"),
    # no final sigma
    ("\u03a3\u0391\u03a3", "\u03c3\u03b1\u03c3"),
    # outside the BMP
    ("\U00010400\U00010428", "\U00010428\U00010428"),
    ("a\U00010400", "a_\U00010428"),
    # a letter that is neither upper nor lower case
    ("\u0295A", "\u0295a"),
    # a letter new in Unicode 17
    ("a\ua7ce", "a_\ua7cf"),
]

CAMELCASE_CASES = [
    ("", ""),
    ("foo_bar_baz", "fooBarBaz"),
    ("FOO_BAR", "fooBar"),
    ("_foo_bar", "fooBar"),
    ("___", ""),
    ("__init__", "init"),
    ("foo__bar", "fooBar"),
    ("foo_", "foo"),
    ("fooBar", "foobar"),
    ("A_B_C", "aBC"),
    ("foo_1bar", "foo1bar"),
    ("foo bar", "foo bar"),
    ("a _b", "a B"),
    # full mappings that expand
    ("foo_\u00dfar", "fooSSar"),
    ("_\u00dfa", "\u00dfa"),
    ("\u0130_x", "i\u0307X"),
    ("x_\u1fb3", "x\u0391\u0399"),
    ("foo_\ufb03", "fooFFI"),
    ("foo_\u0149", "foo\u02bcN"),
    ("a_\u0390", "a\u0399\u0308\u0301"),
    # no titlecase, no final sigma
    ("foo_\u01c6", "foo\u01c4"),
    ("\u01c5x", "\u01c6x"),
    ("\u03a3\u0391\u03a3_\u03c3", "\u03c3\u03b1\u03c3\u03a3"),
    ("a_\u24d0", "a\u24b6"),
    ("x_\U00010428", "x\U00010400"),
    ("\U00010400_\U00010400", "\U00010428\U00010400"),
]

FRACTION_CASES = [
    (
        "Foo-Bar+Baz: 17s 4\u00be 1 \u215b 20 93\u00be - 94\u215b",
        "Foo-Bar+Baz: 17s 4.75 1.125 20 93.75 - 94.125",
    ),
    ("", ""),
    ("no fractions here 1 2 3", "no fractions here 1 2 3"),
    ("\u2153 cup", "0.333333 cup"),
    ("1 \u215b", "1.125"),
    ("\u00bd", "0.5"),
    ("\t\u2153", "0.333333"),
    ("ab\u00bdcd", "ab 0.5cd"),
    ("x\t\t\u2153", "x 0.333333"),
    ("a\u00a0\u2153", "a 0.333333"),
    ("a\u3000\u2153", "a 0.333333"),
    ("1\n\u00bc", "1.25"),
    ("\u00bd\u00bd", "0.5 0.5"),
    ("1\u00bd\u00bd", "1.5 0.5"),
    ("\u00bd1\u2153", "0.51.333333"),
    ("-\u00bd", "- 0.5"),
    ("-1\u00bd", "-1.5"),
    ("1.5\u00bd", "1.5.5"),
    ("007\u00bd", "7.5"),
    ("1 2\u00bd", "1 2.5"),
    # a run holding any non-ASCII digit counts as 0
    ("\u0663\u00bd", "0.5"),
    ("x \u0663\u00bd", "x 0.5"),
    ("1\u0663\u00bd", "0.5"),
    ("\U0001d7ce\u00bd", "0.5"),
    # not decimal digits, not white space
    ("\u00b9\u00bd", "\u00b9 0.5"),
    ("1\u200b\u00bd", "1\u200b 0.5"),
    # large numbers: rounding to a double, and beyond the double range
    ("12345678901234567890\u00bd", "12345678901234565120"),
    ("1" * 400 + "\u00bd", "inf"),
    ("9" * 304 + "\u00bd", "inf"),
    ("0" * 400 + "3\u00bd", "3.5"),
    # vulgar fraction characters outside the table
    ("\u215f \u2189 \u2150 \u2151 \u2152", "\u215f \u2189 \u2150 \u2151 \u2152"),
    # the fifteen fractions alone
    ("\u00bc", "0.25"),
    ("\u00be", "0.75"),
    ("\u2153", "0.333333"),
    ("\u2154", "0.666667"),
    ("\u2155", "0.2"),
    ("\u2156", "0.4"),
    ("\u2157", "0.6"),
    ("\u2158", "0.8"),
    ("\u2159", "0.166667"),
    ("\u215a", "0.833333"),
    ("\u215b", "0.125"),
    ("\u215c", "0.375"),
    ("\u215d", "0.625"),
    ("\u215e", "0.875"),
    # whole numbers lose the point
    ("2\u00bd + 1\u00bd", "2.5 + 1.5"),
    ("\U0001f600\u00bd\U0001f600", "\U0001f600 0.5\U0001f600"),
]


def _check(function, argument, expected):
    result = function(argument)
    assert type(result) is str
    assert result == expected
    subclass_result = function(StrSubclass(argument))
    assert type(subclass_result) is str
    assert subclass_result == expected


@pytest.mark.parametrize(("text", "expected"), UNCAMEL_CASES)
def test_uncamel(text, expected):
    _check(pelm.uncamel, text, expected)


@pytest.mark.parametrize(("text", "expected"), CAMELCASE_CASES)
def test_underscore_to_camelcase(text, expected):
    _check(pelm.underscore_to_camelcase, text, expected)


@pytest.mark.parametrize(("text", "expected"), FRACTION_CASES)
def test_sanitize_vulgar_string(text, expected):
    _check(pelm.sanitize_vulgar_string, text, expected)


@pytest.mark.parametrize(
    ("function", "unit", "expected_first", "expected_rest"),
    [
        # Word boundaries across repetitions: "zf" and "rB" decide nothing new.
        (pelm.uncamel, "fooBarBaz", "foo_bar_baz", "foo_bar_baz"),
        (pelm.uncamel, "HTTPServer", "http_server", "_http_server"),
        (pelm.uncamel, "\u00c0b\u0130", "\u00e0b_i\u0307", "_\u00e0b_i\u0307"),
        (pelm.underscore_to_camelcase, "foo_bar_", "fooBar", "FooBar"),
        (pelm.underscore_to_camelcase, "_\u00df\u0390", "\u00df\u0390", "SS\u0390"),
    ],
)
def test_case_conversion_of_a_megabyte(function, unit, expected_first, expected_rest):
    count = (1 << 20) // len(unit.encode()) + 1
    result = function(unit * count)
    assert type(result) is str
    assert result == expected_first + expected_rest * (count - 1)


@pytest.mark.parametrize(
    ("unit", "expected_first", "expected_rest"),
    [
        ("\u00bd", "0.5", " 0.5"),
        ("1\u00bd ", "1.5 ", "1.5 "),
        ("x\u2153", "x 0.333333", "x 0.333333"),
        ("12 \u215e,", "12.875,", "12.875,"),
    ],
)
def test_hundred_thousand_fractions(unit, expected_first, expected_rest):
    count = 100_000
    result = pelm.sanitize_vulgar_string(unit * count)
    assert type(result) is str
    assert result == expected_first + expected_rest * (count - 1)


def test_megabyte_of_text_with_and_without_fractions():
    filler = "Lorem ipsum 123 dolor sit amet, \u00e9t\u00e9 \u20ac 42.\n" * 24_000
    assert len(filler.encode()) > 1 << 20
    assert pelm.sanitize_vulgar_string(filler) == filler
    text = filler + "3\u00bc" + filler
    assert pelm.sanitize_vulgar_string(text) == filler + "3.25" + filler


def test_long_digit_run_before_a_fraction():
    digits = "1" * 1_000_000
    assert pelm.sanitize_vulgar_string("x" + digits + "\u00bd") == "xinf"
    assert pelm.sanitize_vulgar_string("0" * 1_000_000 + "5\u00bd") == "5.5"
