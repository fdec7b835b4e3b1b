"""The built-in Unicode tables agree with the UCD extracts on every code point.

Each property is probed through the public functions, many code points to a
call: the probes of a batch are built so that no probe changes the outcome of
its neighbours, and the whole output is compared with the expected one built
from the extracts. A failing batch is probed again code point by code point to
name the culprits.
"""

import subprocess
import sys
from pathlib import Path

import pytest

import pelm

REPO_ROOT = Path(__file__).resolve().parent.parent
UCD_DIR = REPO_ROOT.parent / "shared" / "ucd"

if not UCD_DIR.is_dir():
    pytest.skip(f"no UCD extracts at {UCD_DIR}", allow_module_level=True)

CASE_DIR = UCD_DIR / "17.0.0"
CLASS_DIR = UCD_DIR / "16.0.0"

CODE_POINTS = [c for c in range(0x110000) if not 0xD800 <= c <= 0xDFFF]
BATCH = 16384

FRACTION_TEXT = {
    "\u00bc": "0.25", "\u00bd": "0.5", "\u00be": "0.75",
    "\u2153": "0.333333", "\u2154": "0.666667", "\u2155": "0.2", "\u2156": "0.4",
    "\u2157": "0.6", "\u2158": "0.8", "\u2159": "0.166667", "\u215a": "0.833333",
    "\u215b": "0.125", "\u215c": "0.375", "\u215d": "0.625", "\u215e": "0.875",
}  # fmt: skip


def _entries(path):
    for line in path.read_text(encoding="utf-8").splitlines():
        line = line.split("#", 1)[0].strip()
        if line:
            yield [field.strip() for field in line.split(";")]


def _code_point_set(path):
    members = set()
    for fields in _entries(path):
        first, _, last = fields[0].partition("..")
        members.update(range(int(first, 16), int(last or first, 16) + 1))
    return frozenset(members)


def _full_mapping(simple_path, special_path):
    mapping = {}
    for path in (simple_path, special_path):  # SpecialCasing wins
        for source, target in _entries(path):
            mapping[int(source, 16)] = "".join(chr(int(t, 16)) for t in target.split())
    return mapping


UPPERCASE = _code_point_set(CASE_DIR / "Uppercase.txt")
LOWERCASE = _code_point_set(CASE_DIR / "Lowercase.txt")
LOWER_MAP = _full_mapping(
    CASE_DIR / "Simple_Lowercase_Mapping.txt", CASE_DIR / "SpecialCasing-Lowercase.txt"
)
UPPER_MAP = _full_mapping(
    CASE_DIR / "Simple_Uppercase_Mapping.txt", CASE_DIR / "SpecialCasing-Uppercase.txt"
)
DECIMAL_DIGITS = _code_point_set(CLASS_DIR / "Nd.txt")
WHITE_SPACE = _code_point_set(CLASS_DIR / "White_Space.txt")


def lower(c):
    return LOWER_MAP.get(c, chr(c))


def upper(c):
    return UPPER_MAP.get(c, chr(c))


def _sweep(function, probe, expected, code_points=CODE_POINTS):
    failures = []
    for start in range(0, len(code_points), BATCH):
        batch = code_points[start : start + BATCH]
        if function("".join(map(probe, batch))) == "".join(map(expected, batch)):
            continue
        culprits = [c for c in batch if function(probe(c)) != expected(c)]
        failures.extend(culprits or [f"batch at U+{batch[0]:04X}"])
    shown = [f"U+{c:04X}" if isinstance(c, int) else c for c in failures[:20]]
    assert not failures, f"{len(failures)} failures: {shown}"


def test_uppercase_property_and_its_lowercase_mapping():
    # After a lower-case letter, an upper-case code point gets '_' and is
    # lowercased; anything else is copied. The ' ' ends each probe.
    _sweep(
        pelm.uncamel,
        lambda c: "a" + chr(c) + " ",
        lambda c: "a" + ("_" + lower(c) if c in UPPERCASE else chr(c)) + " ",
    )


def test_lowercase_property():
    # 'A' gets '_' after a lower-case code point or an ASCII digit only; the
    # probed code point itself follows ' ', so it never gets one.
    def expected(c):
        head = lower(c) if c in UPPERCASE else chr(c)
        boundary = c in LOWERCASE or 0x30 <= c <= 0x39
        return head + ("_" if boundary else "") + "a "

    _sweep(pelm.uncamel, lambda c: chr(c) + "A ", expected)


NOT_UNDERSCORE = [c for c in CODE_POINTS if c != ord("_")]


def test_full_lowercase_mapping():
    _sweep(
        pelm.underscore_to_camelcase,
        lambda c: chr(c) + " ",
        lambda c: lower(c) + " ",
        NOT_UNDERSCORE,
    )


def test_full_uppercase_mapping():
    _sweep(
        pelm.underscore_to_camelcase,
        lambda c: "a_" + chr(c),
        lambda c: "a" + upper(c),
        NOT_UNDERSCORE,
    )


def test_decimal_digit_and_white_space_classes():
    # 'x' + c + '½': a digit before the fraction joins the number (a non-ASCII
    # one makes it 0), white space joins the match, anything else stays.
    def expected(c):
        ch = chr(c)
        if ch in FRACTION_TEXT:
            return "x " + FRACTION_TEXT[ch] + " 0.5"
        if 0x30 <= c <= 0x39:
            return "x" + ch + ".5"
        if c in DECIMAL_DIGITS:
            return "x0.5"
        if c in WHITE_SPACE:
            return "x 0.5"
        return "x" + ch + " 0.5"

    _sweep(pelm.sanitize_vulgar_string, lambda c: "x" + chr(c) + "\u00bd", expected)


def test_generated_tables_are_current():
    generator = REPO_ROOT / "tools" / "gen_unicode_tables.py"
    result = subprocess.run(
        [sys.executable, str(generator), str(UCD_DIR), "--check"],
        capture_output=True,
        text=True,
    )
    assert result.returncode == 0, result.stderr
