#!/usr/bin/env python3
"""Generate src/text/unicode_tables.cpp from the Unicode Character Database extracts.

Usage: python tools/gen_unicode_tables.py [UCD_DIR] [--output PATH] [--check]

UCD_DIR defaults to ../shared/ucd relative to the repository root and must hold
the folders 17.0.0 (case properties and mappings) and 16.0.0 (Nd, White_Space).
With --check nothing is written: the exit status tells whether the file on disk
matches what would be generated.

The tables are small sorted arrays searched with binary search:
  * CASE_CLASSES: disjoint ranges carrying the Uppercase / Lowercase flags;
  * LOWERCASE_RUNS / UPPERCASE_RUNS: disjoint runs of code points whose full
    mapping is one code point at a constant offset (every code point of the run,
    or every other one), or a single code point whose mapping is an expansion
    of two or three code points kept in a side array;
  * DECIMAL_DIGIT_RANGES / WHITE_SPACE_RANGES: the Nd and White_Space sets.
"""

from __future__ import annotations

import argparse
import re
import sys
from dataclasses import dataclass
from pathlib import Path

REPO_ROOT = Path(__file__).resolve().parent.parent
DEFAULT_UCD_DIR = REPO_ROOT.parent / "shared" / "ucd"
DEFAULT_OUTPUT = REPO_ROOT / "src" / "text" / "unicode_tables.cpp"

CASE_VERSION = "17.0.0"
CLASS_VERSION = "16.0.0"
CASE_FILES = (
    "Uppercase.txt",
    "Lowercase.txt",
    "Simple_Lowercase_Mapping.txt",
    "Simple_Uppercase_Mapping.txt",
    "SpecialCasing-Lowercase.txt",
    "SpecialCasing-Uppercase.txt",
)
CLASS_FILES = ("Nd.txt", "White_Space.txt")

# Set sizes that the regex classes are known to have in 16.0.0.
EXPECTED_DECIMAL_DIGITS = 760
EXPECTED_WHITE_SPACE = 25

MAX_CODE_POINT = 0x10FFFF
FLAG_UPPERCASE = 1
FLAG_LOWERCASE = 2

class UcdError(Exception):
    pass


# --------------------------------------------------------------------------- parsing


def _data_lines(path: Path):
    """Yields (line number, content) for the non-empty, non-comment lines."""
    for number, raw in enumerate(path.read_text(encoding="utf-8").splitlines(), 1):
        content = raw.split("#", 1)[0].strip()
        if content:
            yield number, content


def _header_text(path: Path) -> str:
    lines = []
    for raw in path.read_text(encoding="utf-8").splitlines():
        if not raw.startswith("#"):
            break
        lines.append(raw)
    return "\n".join(lines)


def _code_point(text: str, path: Path, number: int) -> int:
    try:
        value = int(text, 16)
    except ValueError:
        raise UcdError(f"{path}:{number}: bad code point {text!r}") from None
    if not 0 <= value <= MAX_CODE_POINT:
        raise UcdError(f"{path}:{number}: code point {text} out of range")
    return value


def parse_ranges(path: Path) -> list[tuple[int, int]]:
    """Reads a range file; returns merged, sorted, inclusive ranges."""
    ranges = []
    for number, content in _data_lines(path):
        field = content.split(";", 1)[0].strip()
        if ".." in field:
            first_text, last_text = field.split("..", 1)
            first = _code_point(first_text.strip(), path, number)
            last = _code_point(last_text.strip(), path, number)
        else:
            first = last = _code_point(field, path, number)
        if first > last:
            raise UcdError(f"{path}:{number}: empty range {field}")
        ranges.append((first, last))
    ranges.sort()
    merged: list[tuple[int, int]] = []
    for first, last in ranges:
        if merged and first <= merged[-1][1]:
            raise UcdError(f"{path}: overlapping ranges at {first:04X}")
        if merged and first == merged[-1][1] + 1:
            merged[-1] = (merged[-1][0], last)
        else:
            merged.append((first, last))
    stated = re.search(r"(\d+) code points", _header_text(path))
    counted = sum(last - first + 1 for first, last in merged)
    if stated and int(stated.group(1)) != counted:
        raise UcdError(f"{path}: header says {stated.group(1)} code points, found {counted}")
    return merged


def parse_mapping(path: Path) -> dict[int, tuple[int, ...]]:
    mapping: dict[int, tuple[int, ...]] = {}
    for number, content in _data_lines(path):
        fields = [f.strip() for f in content.split(";")]
        if len(fields) < 2 or not fields[1]:
            raise UcdError(f"{path}:{number}: expected 'XXXX ; YYYY ...'")
        source = _code_point(fields[0], path, number)
        target = tuple(_code_point(t, path, number) for t in fields[1].split())
        if not 1 <= len(target) <= 3:
            raise UcdError(f"{path}:{number}: mapping of {len(target)} code points")
        if source in mapping:
            raise UcdError(f"{path}:{number}: second entry for {source:04X}")
        mapping[source] = target
    stated = re.search(r"(\d+) entries", _header_text(path))
    if stated and int(stated.group(1)) != len(mapping):
        raise UcdError(f"{path}: header says {stated.group(1)} entries, found {len(mapping)}")
    return mapping


def full_mapping(simple: dict[int, tuple[int, ...]], special: dict[int, tuple[int, ...]]):
    """SpecialCasing entry if present, else the simple mapping; identity left out."""
    for source, target in simple.items():
        if len(target) != 1:
            raise UcdError(f"simple mapping of {source:04X} has {len(target)} code points")
    full = dict(simple)
    full.update(special)
    return {source: target for source, target in full.items() if target != (source,)}


@dataclass
class UnicodeData:
    uppercase: list[tuple[int, int]]
    lowercase: list[tuple[int, int]]
    full_lowercase: dict[int, tuple[int, ...]]
    full_uppercase: dict[int, tuple[int, ...]]
    decimal_digits: list[tuple[int, int]]
    white_space: list[tuple[int, int]]


def load(ucd_dir: Path) -> UnicodeData:
    case_dir = ucd_dir / CASE_VERSION
    class_dir = ucd_dir / CLASS_VERSION
    for folder, names in ((case_dir, CASE_FILES), (class_dir, CLASS_FILES)):
        for name in names:
            if not (folder / name).is_file():
                raise UcdError(f"missing {folder / name}")
    data = UnicodeData(
        uppercase=parse_ranges(case_dir / "Uppercase.txt"),
        lowercase=parse_ranges(case_dir / "Lowercase.txt"),
        full_lowercase=full_mapping(
            parse_mapping(case_dir / "Simple_Lowercase_Mapping.txt"),
            parse_mapping(case_dir / "SpecialCasing-Lowercase.txt"),
        ),
        full_uppercase=full_mapping(
            parse_mapping(case_dir / "Simple_Uppercase_Mapping.txt"),
            parse_mapping(case_dir / "SpecialCasing-Uppercase.txt"),
        ),
        decimal_digits=parse_ranges(class_dir / "Nd.txt"),
        white_space=parse_ranges(class_dir / "White_Space.txt"),
    )
    for name, ranges, expected in (
        ("Nd", data.decimal_digits, EXPECTED_DECIMAL_DIGITS),
        ("White_Space", data.white_space, EXPECTED_WHITE_SPACE),
    ):
        count = sum(last - first + 1 for first, last in ranges)
        if count != expected:
            raise UcdError(f"{name} has {count} code points, expected {expected}")
    return data


def _utf8_length(cp: int) -> int:
    return 1 if cp < 0x80 else 2 if cp < 0x800 else 3 if cp < 0x10000 else 4


def _members(ranges: list[tuple[int, int]]) -> set[int]:
    members: set[int] = set()
    for first, last in ranges:
        members.update(range(first, last + 1))
    return members


def growth_factor(data: UnicodeData) -> int:
    """Output bytes per input byte that the case converters may need at most.

    uncamel writes '_' plus the lowercase mapping for an upper-case code point,
    else the lowercase mapping (or the code point itself); underscore_to_camelcase
    writes the uppercase mapping of a code point only after at least one '_'
    that itself wrote nothing, else the lowercase mapping.
    """
    uppercase = _members(data.uppercase)

    def mapped_length(mapping, cp):
        return sum(_utf8_length(t) for t in mapping.get(cp, (cp,)))

    needed = 1
    for cp in uppercase | data.full_lowercase.keys() | data.full_uppercase.keys():
        width = _utf8_length(cp)
        lower = mapped_length(data.full_lowercase, cp) + (1 if cp in uppercase else 0)
        upper = mapped_length(data.full_uppercase, cp)
        needed = max(needed, -(-lower // width), -(-upper // (width + 1)))
    return needed


# --------------------------------------------------------------------------- table building


def case_classes(data: UnicodeData) -> list[tuple[int, int, int, int]]:
    """Disjoint sorted runs (first, last, even flags, odd flags).

    A code point c of [first, last] has the even flags when c - first is even,
    else the odd flags. Alternating runs fold the upper/lower pairs of the
    Latin, Greek and Cyrillic blocks into one row each.
    """
    upper = _members(data.uppercase)
    lower = _members(data.lowercase)

    def flags(cp: int) -> int:
        return (FLAG_UPPERCASE if cp in upper else 0) | (FLAG_LOWERCASE if cp in lower else 0)

    flagged = sorted(upper | lower)
    runs: list[tuple[int, int, int, int]] = []
    index = 0
    while index < len(flagged):
        first = flagged[index]
        even, odd = flags(first), flags(first + 1)
        last = first
        while flags(last + 1) == (odd if (last + 1 - first) % 2 else even):
            last += 1
        while flags(last) == 0:
            last -= 1
        if odd == 0 and last == first:
            odd = even
        runs.append((first, last, even, odd))
        while index < len(flagged) and flagged[index] <= last:
            index += 1
    return runs


@dataclass
class CaseRun:
    first: int
    last: int
    kind: str  # "Offset", "AlternateOffset" or "Expansion"
    value: int  # the offset, or the index into the expansion array


def case_runs(mapping: dict[int, tuple[int, ...]]):
    """Groups a mapping (identity entries removed) into disjoint runs."""
    runs: list[CaseRun] = []
    expansions: list[tuple[int, ...]] = []
    sources = sorted(mapping)
    i = 0
    while i < len(sources):
        source = sources[i]
        target = mapping[source]
        if len(target) > 1:
            runs.append(CaseRun(source, source, "Expansion", len(expansions)))
            expansions.append(target)
            i += 1
            continue
        offset = target[0] - source

        def continues(j: int, step: int) -> bool:
            if j >= len(sources) or sources[j] != sources[j - 1] + step:
                return False
            follow = mapping[sources[j]]
            return len(follow) == 1 and follow[0] - sources[j] == offset

        step = 1 if continues(i + 1, 1) else 2 if continues(i + 1, 2) else 1
        j = i + 1
        while continues(j, step):
            j += 1
        kind = "Offset" if step == 1 else "AlternateOffset"
        runs.append(CaseRun(source, sources[j - 1], kind, offset))
        i = j
    return runs, expansions


# --------------------------------------------------------------------------- output

HEADER = """\
// GENERATED by tools/gen_unicode_tables.py from the Unicode Character Database extracts \
({case_version}: {case_files}; {class_version}: {class_files}); DO NOT EDIT.
// Regenerate with: python tools/gen_unicode_tables.py <ucd-dir>
//
// Sorted, disjoint tables searched with binary search. Code points absent from
// CASE_CLASSES have neither property; code points absent from a *_RUNS table
// map to themselves.
// clang-format off
#include "text/unicode_tables.hpp"

#include <algorithm>
#include <cstdint>
#include <span>

namespace pelm::text {{
namespace {{

enum class RunKind : std::uint8_t {{
    Offset,           // every code point of [first, last] maps to itself + value
    AlternateOffset,  // first, first + 2, ... map to themselves + value
    Expansion,        // the one code point first maps to EXPANSIONS[value]
}};

struct CaseRun {{
    char32_t first;
    char32_t last;
    std::int32_t value;
    RunKind kind;
}};

// The code points of [first, last] at an even distance from first have the
// flags even_flags, the others odd_flags.
struct CaseClassRun {{
    char32_t first;
    char32_t last;
    std::uint8_t even_flags;
    std::uint8_t odd_flags;
}};

static_assert(uppercase_flag == {flag_upper} && lowercase_flag == {flag_lower});

static_assert(case_growth_factor >= {growth}, "case mappings grow beyond the reserved output");
"""

FOOTER = """\
template <class Row>
const Row* find_row(std::span<const Row> rows, char32_t c) noexcept {
    auto after = std::upper_bound(rows.begin(), rows.end(), c,
                                  [](char32_t value, const Row& row) { return value < row.first; });
    if (after == rows.begin()) return nullptr;
    const Row& row = *(after - 1);
    return c <= row.last ? &row : nullptr;
}

CaseMapping shifted(char32_t c, std::int32_t offset) noexcept {
    return {1, {static_cast<char32_t>(static_cast<std::int32_t>(c) + offset), 0, 0}};
}

CaseMapping map_case(std::span<const CaseRun> runs, std::span<const CaseMapping> expansions,
                     char32_t c) noexcept {
    const CaseRun* run = find_row(runs, c);
    if (run != nullptr) {
        switch (run->kind) {
            case RunKind::Offset:
                return shifted(c, run->value);
            case RunKind::AlternateOffset:
                if ((c - run->first) % 2 == 0) return shifted(c, run->value);
                break;
            case RunKind::Expansion:
                return expansions[static_cast<std::size_t>(run->value)];
        }
    }
    return {1, {c, 0, 0}};
}

}  // namespace

std::uint8_t case_flags(char32_t c) noexcept {
    const CaseClassRun* run = find_row<CaseClassRun>(CASE_CLASSES, c);
    if (run == nullptr) return 0;
    return (c - run->first) % 2 == 0 ? run->even_flags : run->odd_flags;
}

bool is_uppercase(char32_t c) noexcept { return (case_flags(c) & uppercase_flag) != 0; }

bool is_lowercase(char32_t c) noexcept { return (case_flags(c) & lowercase_flag) != 0; }

CaseMapping full_lowercase(char32_t c) noexcept {
    return map_case(LOWERCASE_RUNS, LOWERCASE_EXPANSIONS, c);
}

CaseMapping full_uppercase(char32_t c) noexcept {
    return map_case(UPPERCASE_RUNS, UPPERCASE_EXPANSIONS, c);
}

std::span<const CodePointRange> decimal_digit_ranges() noexcept { return DECIMAL_DIGIT_RANGES; }

std::span<const CodePointRange> white_space_ranges() noexcept { return WHITE_SPACE_RANGES; }

}  // namespace pelm::text
"""

LINE_LIMIT = 100


def _hex(cp: int) -> str:
    return f"0x{cp:04X}"


def _expansion_row(target: tuple[int, ...]) -> str:
    padded = target + (0,) * (3 - len(target))
    return f"{{{len(target)}, {{{', '.join(_hex(c) for c in padded)}}}}}"


def _array(declaration: str, rows: list[str], comment: str) -> str:
    """Lays the row initialisers out several to a line, within LINE_LIMIT columns."""
    lines = [f"// {comment}", f"{declaration} = {{"]
    current = "   "
    for row in rows:
        piece = f" {row},"
        if len(current) + len(piece) > LINE_LIMIT and current.strip():
            lines.append(current)
            current = "   "
        current += piece
    if current.strip():
        lines.append(current)
    lines.append("};")
    return "\n".join(lines) + "\n"


def render(data: UnicodeData) -> str:
    parts = [
        HEADER.format(
            case_version=CASE_VERSION,
            case_files=", ".join(CASE_FILES),
            class_version=CLASS_VERSION,
            class_files=", ".join(CLASS_FILES),
            flag_upper=FLAG_UPPERCASE,
            flag_lower=FLAG_LOWERCASE,
            growth=growth_factor(data),
        )
    ]
    classes = case_classes(data)
    parts.append(
        _array(
            "constexpr CaseClassRun CASE_CLASSES[]",
            [f"{{{_hex(a)}, {_hex(b)}, {e}, {o}}}" for a, b, e, o in classes],
            f"Uppercase ({FLAG_UPPERCASE}) and Lowercase ({FLAG_LOWERCASE}), "
            f"{CASE_VERSION}: {len(classes)} runs.",
        )
    )
    for name, mapping in (("LOWERCASE", data.full_lowercase), ("UPPERCASE", data.full_uppercase)):
        runs, expansions = case_runs(mapping)
        parts.append(
            _array(
                f"constexpr CaseRun {name}_RUNS[]",
                [
                    f"{{{_hex(r.first)}, {_hex(r.last)}, {r.value}, RunKind::{r.kind}}}"
                    for r in runs
                ],
                f"Full {name.lower()} mapping, {CASE_VERSION}: {len(mapping)} code points "
                f"that do not map to themselves, in {len(runs)} runs.",
            )
        )
        parts.append(
            _array(
                f"constexpr CaseMapping {name}_EXPANSIONS[]",
                [_expansion_row(t) for t in expansions],
                f"Full {name.lower()} mappings of more than one code point.",
            )
        )
    for name, ranges, label in (
        ("DECIMAL_DIGIT_RANGES", data.decimal_digits, "General_Category Nd"),
        ("WHITE_SPACE_RANGES", data.white_space, "White_Space"),
    ):
        count = sum(last - first + 1 for first, last in ranges)
        parts.append(
            _array(
                f"constexpr CodePointRange {name}[]",
                [f"{{{_hex(a)}, {_hex(b)}}}" for a, b in ranges],
                f"{label}, {CLASS_VERSION}: {count} code points in {len(ranges)} ranges.",
            )
        )
    parts.append(FOOTER)
    return "\n".join(parts)


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("ucd_dir", nargs="?", type=Path, default=DEFAULT_UCD_DIR)
    parser.add_argument("--output", type=Path, default=DEFAULT_OUTPUT)
    parser.add_argument("--check", action="store_true", help="compare instead of writing")
    args = parser.parse_args(argv)
    try:
        text = render(load(args.ucd_dir))
    except (UcdError, OSError) as error:
        print(f"gen_unicode_tables: {error}", file=sys.stderr)
        return 2
    if args.check:
        current = args.output.read_text(encoding="utf-8") if args.output.exists() else None
        if current != text:
            print(f"gen_unicode_tables: {args.output} is out of date", file=sys.stderr)
            return 1
        return 0
    args.output.write_text(text, encoding="utf-8")
    return 0


if __name__ == "__main__":
    sys.exit(main())
