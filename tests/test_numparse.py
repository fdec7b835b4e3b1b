"""pelm.parse and pelm.normalize_numeric_str: numeric text from free text."""

import decimal
import math
import random
import re

import pytest

import pelm

INT64_MIN = -(2**63)
INT64_MAX = 2**63 - 1

NORMALIZE_CASES = [
    # plain, commas, percent
    ("1,234.56", "1234.56"),
    ("abc", "abc"),
    ("1 000", "1 000"),
    ("$1,000", "$1000"),
    ("12 %", "12"),
    ("5%%", "5%"),
    ("%5", "%5"),
    ("1,234%,", "1234"),
    (", 1", " 1"),
    ("1\uff0c000\uff05", "1\uff0c000\uff05"),  # full-width comma and percent are not ours
    # parentheses: exactly one enclosing pair, inner text trimmed
    ("(50%)", "-50"),
    ("( 1,234 )", "-1234"),
    (" ( 5 % ) ", "-5"),
    ("(1,234.50)", "-1234.50"),
    ("(-5)", "--5"),
    ("((5))", "-(5)"),
    ("(1)(2)", "-1)(2"),
    ("-(5)", "-(5)"),
    ("(5)%", "(5)"),
    ("(5", "(5"),
    ("(1 ,)", "-1 "),
    # white space is exactly White_Space
    ("\u2003 7 \u00a0", "7"),
    ("\x1c7", "\x1c7"),
    ("\u200b7", "\u200b7"),
    ("\ufeff7\ufeff", "\ufeff7\ufeff"),
    ("\x1f7\x1d", "\x1f7\x1d"),
    ("\u00857\u1680", "7"),
    ("\u205f\u202f7\u2029\u200a", "7"),
    # a step that leaves nothing
    ("", None),
    (" \t\n", None),
    ("\u00a0\u3000\u2028", None),
    ("  (  )  ", None),
    ("()", None),
    (",,,", None),
    ("(,)", None),
    ("%", None),
    ("(%)", None),
    (" , % ", None),
    ("(\u3000%\u2000)", None),
]

ALL_WHITE_SPACE = (
    [chr(c) for c in range(0x09, 0x0E)]
    + ["\x20", "\x85", "\xa0", "\u1680"]
    + [chr(c) for c in range(0x2000, 0x200B)]
    + ["\u2028", "\u2029", "\u202f", "\u205f", "\u3000"]
)
NOT_WHITE_SPACE = ["\x1c", "\x1d", "\x1e", "\x1f", "\u200b", "\u180e", "\ufeff", "\x00"]


@pytest.mark.parametrize(("text", "expected"), NORMALIZE_CASES)
def test_normalize_numeric_str(text, expected):
    result = pelm.normalize_numeric_str(text)
    assert result == expected
    if expected is not None:
        assert type(result) is str


@pytest.mark.parametrize("ws", ALL_WHITE_SPACE)
def test_every_white_space_code_point_is_trimmed(ws):
    assert pelm.normalize_numeric_str(ws * 2 + "(" + ws + "7" + ws + ")" + ws) == "-7"
    assert pelm.normalize_numeric_str(ws) is None


@pytest.mark.parametrize("other", NOT_WHITE_SPACE)
def test_other_code_points_are_not_white_space(other):
    assert pelm.normalize_numeric_str(other + "7" + other) == other + "7" + other


def test_normalize_long_text():
    # longer than any inline buffer: exercises the heap path
    digits = "1,234," * 50 + "5"
    assert pelm.normalize_numeric_str(" (" + digits + "%) ") == "-" + digits.replace(",", "")
    assert pelm.normalize_numeric_str("x" * 1000) == "x" * 1000


PARSE_CASES = [
    # integers
    ("1,200m", 1200),
    ("(1)", -1),
    ("(1,234)", -1234),
    ("12%", 12),
    ("1e5", 15),  # 'e' is dropped
    ("3 1/2", 312),
    ("-5", -5),
    ("- 5", -5),
    ("+5", 5),
    ("\u22125", 5),  # MINUS SIGN is not '-'
    ("007", 7),
    ("-0", 0),
    # floats
    ("100.0", 100.0),
    ("1.5e3", 1.53),
    ("$(1,234.50)", -1234.5),
    ("USD -1,234.50", -1234.5),
    ("(12.5%)", -12.5),
    ("1.234,56", 1.23456),
    (".5", 0.5),
    ("5.", 5.0),
    ("9007199254740993.0", 9007199254740992.0),  # tie rounds to even
    ("0." + "0" * 400 + "1", 0.0),
    ("1" * 400 + ".0", math.inf),
    ("(" + "1" * 400 + ".0)", -math.inf),
    # nothing
    ("", None),
    ("abc", None),
    ("   ", None),
    ("inf", None),
    ("nan", None),
    ("-inf", None),
    ("1e-5", None),
    (".", None),
    ("-.", None),
    ("(.)", None),
    ("1.2.3", None),
    ("-", None),
    ("()", None),
    ("(-)", None),
    ("\u0663", None),  # non-ASCII digits are dropped
    ("\uff15", None),
    ("(-5)", None),
    ("(-5.0)", None),
    ("-(5)", None),
    ("((5))", None),
    ("(5", None),
    ("5-", None),
    ("1-2", None),
    ("1" * 400, None),
]


@pytest.mark.parametrize(("text", "expected"), PARSE_CASES)
def test_parse(text, expected):
    result = pelm.parse(text)
    if expected is None:
        assert result is None
    else:
        assert type(result) is type(expected)
        assert result == expected


@pytest.mark.parametrize("text", ["-0.0", "(0.0)", "-.0", "(0.)", "-0." + "0" * 400 + "1"])
def test_parse_negative_zero(text):
    result = pelm.parse(text)
    assert type(result) is float
    assert result == 0.0 and math.copysign(1.0, result) == -1.0


@pytest.mark.parametrize(
    ("text", "expected"),
    [
        (str(INT64_MAX), INT64_MAX),
        (str(2**63), INT64_MAX),
        (str(2**63 + 1), INT64_MAX),
        (str(2**63 + 1024), INT64_MAX),  # halfway to the next double: ties to 2^63
        (str(2**63 + 1025), None),
        (str(2**64), None),
        ("99999999999999999999", None),
        ("(" + str(2**63 + 1024) + ")", INT64_MIN),
        (str(INT64_MIN), INT64_MIN),
        (str(INT64_MIN + 1), INT64_MIN + 1),
        (str(INT64_MIN - 1), INT64_MIN),
        ("(" + str(2**63 + 1) + ")", INT64_MIN),
        (str(INT64_MIN - 1024), INT64_MIN),
        (str(INT64_MIN - 1025), None),
        ("0" * 100 + str(INT64_MAX), INT64_MAX),
    ],
)
def test_parse_int64_saturation(text, expected):
    result = pelm.parse(text)
    assert result == expected
    if expected is not None:
        assert type(result) is int


def _decimal_reference(text):
    # float() on what the float road converts: kept characters, "(x)" -> "-x".
    kept = re.sub(r"[^0-9().\-]", "", text)
    if kept.startswith("(") and kept.endswith(")"):
        kept = "-" + kept[1:-1]
    if not re.fullmatch(r"-?(\d+\.?\d*|\.\d+)", kept):
        return None
    return float(kept)


def _random_float_texts(rng, count):
    for _ in range(count):
        length = rng.choice([rng.randint(1, 17), rng.randint(1, 40), rng.randint(300, 800)])
        digits = "".join(rng.choice("0123456789") for _ in range(length))
        if rng.random() < 0.25:
            digits = "0" * rng.randint(1, 30) + digits
        point = rng.randint(0, len(digits))
        text = digits[:point] + "." + digits[point:]
        shape = rng.random()
        if shape < 0.2:
            text = "-" + text
        elif shape < 0.4:
            text = "(" + text + ")"
        elif shape < 0.5:
            text = " $" + text[:point] + "," + text[point:] + "% "
        yield text


def test_parse_float_road_matches_float():
    rng = random.Random(20240611)
    for text in _random_float_texts(rng, 20000):
        expected = _decimal_reference(text)
        result = pelm.parse(text)
        assert type(result) is float, text
        assert result == expected and math.copysign(1.0, result) == math.copysign(
            1.0, expected
        ), text


def test_parse_float_road_near_halfway():
    # Exact midpoints between neighbouring doubles, and texts a hair above and below them,
    # written out in full: the cases where correct rounding needs every digit.
    rng = random.Random(7)
    with decimal.localcontext() as context:
        context.prec = 2000
        for _ in range(1500):
            x = math.ldexp(rng.random(), rng.randint(-1074, 1024))
            if not 0.0 < x < math.inf:
                continue
            midpoint = (decimal.Decimal(x) + decimal.Decimal(math.nextafter(x, math.inf))) / 2
            exact = format(midpoint, "f")
            if "." not in exact:
                exact += ".0"
            for text in (exact, exact + "1", exact.rstrip("0") + "0" * 30):
                assert pelm.parse(text) == float(text), text
            below = format(midpoint - decimal.Decimal(10) ** (midpoint.adjusted() - 1100), "f")
            assert pelm.parse(below) == float(below), below


def written_out(number):
    """The decimal without an exponent (parse drops the letter 'e'), every digit spelt out."""
    with decimal.localcontext(prec=2000):
        return format(decimal.Decimal(number), "f")


SMALLEST_SUBNORMAL = decimal.Decimal(math.ulp(0.0))  # exact: 2^-1074


@pytest.mark.parametrize(
    "text",
    [
        pytest.param(written_out("5e-324"), id="smallest"),
        # Half the smallest, 2.4703282292062327208...e-324, and around it.
        pytest.param(written_out("2.4703282292062328e-324"), id="above-half-smallest"),
        pytest.param(written_out("2.4703282292062327e-324"), id="below-half-smallest"),
        pytest.param(written_out(SMALLEST_SUBNORMAL / 2), id="half-smallest-to-even-zero"),
        pytest.param(written_out(SMALLEST_SUBNORMAL / 2) + "1", id="digit-past-half-smallest"),
        pytest.param(written_out(SMALLEST_SUBNORMAL * 3 / 2), id="one-and-a-half-to-even-two"),
        pytest.param(written_out("1e-310"), id="1e-310"),
        pytest.param("(" + written_out("1e-310") + ")", id="negative-in-parentheses"),
        pytest.param("$ (" + written_out("4.9406564584124654e-324") + ")", id="negative-smallest"),
        # The smallest normal is 2.2250738585072013830...e-308.
        pytest.param(written_out("2.2250738585072013e-308"), id="below-smallest-normal"),
        pytest.param(written_out("2.2250738585072011e-308"), id="largest-subnormal"),
        pytest.param(written_out("2.2250738585072014e-308"), id="smallest-normal"),
        pytest.param(written_out("4.4501477170144023e-308"), id="near-twice-smallest-normal"),
        pytest.param("0." + "0" * 320 + "1" + "0" * 2000 + "1", id="long-tail"),
    ],
)
def test_parse_subnormal_results_match_float(text):
    expected = _decimal_reference(text)
    result = pelm.parse(text)
    assert type(result) is float
    assert result == expected and math.copysign(1.0, result) == math.copysign(1.0, expected)


def test_parse_subnormal_midpoints():
    # Below 2^-1021 doubles are whole multiples q of 2^-1074. The midpoints between neighbours,
    # written out in full, and texts a hair above and below them, for q at the ends of that
    # range and at random.
    rng = random.Random(1074)
    multiples = [0, 1, 2, 3, 2**52 - 1, 2**52, 2**53 - 2, 2**53 - 1]
    multiples += [rng.randrange(2**53) for _ in range(300)]
    multiples += [rng.randrange(2**20) for _ in range(100)]
    with decimal.localcontext(prec=2000):
        for q in multiples:
            midpoint = SMALLEST_SUBNORMAL * q + SMALLEST_SUBNORMAL / 2
            exact = format(midpoint, "f")
            hair = decimal.Decimal(10) ** (midpoint.adjusted() - 1100)
            texts = [exact, exact + "1", format(midpoint - hair, "f"), "-" + exact]
            for text in texts:
                assert pelm.parse(text) == float(text), text


def test_parse_integer_road_matches_int():
    rng = random.Random(99)
    for _ in range(5000):
        value = rng.randint(INT64_MIN, INT64_MAX)
        assert pelm.parse(f"{value:,}") == value
        assert pelm.parse(f"({abs(value)})") == -abs(value)


@pytest.mark.parametrize("func", [pelm.parse, pelm.normalize_numeric_str])
def test_keyword_and_str_subclass(func):
    class Text(str):
        pass

    assert func(s="7") == func("7")
    assert func(Text(" (7) ")) == func(" (7) ")
    if func is pelm.normalize_numeric_str:
        assert type(func(Text("7"))) is str
        assert type(func(Text("(7)"))) is str


@pytest.mark.parametrize("func", [pelm.parse, pelm.normalize_numeric_str])
@pytest.mark.parametrize(
    ("arg", "error", "message"),
    [
        (5, TypeError, "'int' object is not an instance of 'str'"),
        (None, TypeError, "'None' is not an instance of 'str'"),
        (b"5", TypeError, "'bytes' object is not an instance of 'str'"),
        ("\ud800", UnicodeEncodeError, None),
        ("5\udfff", UnicodeEncodeError, None),
    ],
)
def test_wrong_argument(func, arg, error, message):
    with pytest.raises(error) as info:
        func(arg)
    if message is not None:
        assert str(info.value) == message
    assert info.value.__notes__ == ["while processing 's'"]
