"""pelm.parse and pelm.normalize_numeric_str against the stdlib code people write instead.

Data: 10,000 realistic numeric strings ("$(1,234.50)", "12%", "1,200m", "  -5 ", "1.5e3",
plain integers and floats), a fixed seeded mix. The floor is list(map(float, clean)) over
the plain numeric forms of the same values: no Python-level function can beat it.

Goals (reported, not asserted): pelm at least 6x faster than the fastest stdlib idiom and
within 1.5x of the float() floor.
"""

from __future__ import annotations

import random
import re
import time

import pelm

ANCHORS: list[str] = []  # stdlib only

N_STRINGS = 10_000
IDIOM_GOAL = 6.0
FLOOR_GOAL = 1.5


def make_data(n: int = N_STRINGS, seed: int = 1234) -> tuple[list[str], list[str]]:
    """Returns (messy, clean): messy strings and the plain numeric form of each."""
    rng = random.Random(seed)
    messy: list[str] = []
    clean: list[str] = []
    for _ in range(n):
        kind = rng.randrange(9)
        whole = rng.choice(
            [rng.randint(0, 99), rng.randint(100, 9_999), rng.randint(10_000, 9_999_999)]
        )
        cents = rng.randint(0, 99)
        if kind == 0:  # accounting negative with currency
            messy.append(f"$({whole:,}.{cents:02d})")
            clean.append(f"-{whole}.{cents:02d}")
        elif kind == 1:  # percentage
            messy.append(f"{whole % 100}%")
            clean.append(f"{whole % 100}")
        elif kind == 2:  # thousands separators and a unit
            messy.append(f"{whole:,}m")
            clean.append(f"{whole}")
        elif kind == 3:  # padded negative
            messy.append(f"  -{whole} ")
            clean.append(f"-{whole}")
        elif kind == 4:  # exponent form
            messy.append(f"{whole % 10}.{cents % 10}e{rng.randint(1, 9)}")
            clean.append(messy[-1])
        elif kind == 5:  # negative percentage in parentheses
            messy.append(f"({whole % 100}.{cents % 10}%)")
            clean.append(f"-{whole % 100}.{cents % 10}")
        elif kind == 6:  # currency code and a signed amount
            messy.append(f"USD -{whole:,}.{cents:02d}")
            clean.append(f"-{whole}.{cents:02d}")
        elif kind == 7:  # plain integer
            messy.append(str(rng.randint(-(10**9), 10**9)))
            clean.append(messy[-1])
        else:  # plain float
            messy.append(f"{rng.uniform(-1e6, 1e6):.{rng.randint(1, 6)}f}")
            clean.append(messy[-1])
    return messy, clean


# --- what users write instead -------------------------------------------------------------

# Delete every Latin-1 character that is not a digit, a sign or the point.
_KEEP = set("0123456789+-.")
_DELETE_NON_NUMERIC = str.maketrans(
    "", "", "".join(chr(c) for c in range(256) if chr(c) not in _KEEP)
)


def parse_translate(s: str):
    negative = "(" in s and ")" in s
    t = s.translate(_DELETE_NON_NUMERIC)
    if not t:
        return None
    if negative:
        t = "-" + t
    try:
        return float(t) if "." in t else int(t)
    except ValueError:
        return None


_NON_NUMERIC = re.compile(r"[^0-9+\-.]")


def parse_re(s: str):
    negative = "(" in s and ")" in s
    t = _NON_NUMERIC.sub("", s)
    if not t:
        return None
    if negative:
        t = "-" + t
    try:
        return float(t) if "." in t else int(t)
    except ValueError:
        return None


_NO_COMMAS = str.maketrans("", "", ",")


def normalize_str_methods(s: str):
    s = s.strip()
    negative = s.startswith("(") and s.endswith(")")
    if negative:
        s = s[1:-1].strip()
    s = s.translate(_NO_COMMAS)
    if s.endswith("%"):
        s = s[:-1].strip()
    if not s:
        return None
    return "-" + s if negative else s


_PARENS = re.compile(r"\s*\(\s*(.*?)\s*\)\s*")
_PERCENT = re.compile(r"\s*%\s*$")


def normalize_re(s: str):
    m = _PARENS.fullmatch(s)
    negative = m is not None
    s = m.group(1) if negative else s.strip()
    s = _PERCENT.sub("", s.replace(",", ""))
    if not s:
        return None
    return "-" + s if negative else s


# --- timing -------------------------------------------------------------------------------


def ns_per_item(func, data: list[str], repeat: int) -> float:
    """Best of `repeat` passes of list(map(func, data)), in ns per string."""
    best = float("inf")
    for _ in range(repeat):
        start = time.perf_counter_ns()
        list(map(func, data))
        best = min(best, time.perf_counter_ns() - start)
    return best / len(data)


def run(quick: bool = False) -> list[dict]:
    repeat = 5 if quick else 25
    messy, clean = make_data()
    n = len(messy)
    floor = ns_per_item(float, clean, repeat)
    floor_note = f"goal: pelm within {FLOOR_GOAL}x"
    idiom_note = f"goal: >= {IDIOM_GOAL}x"
    rows = []
    for group, pelm_impl, idioms in (
        (
            "parse",
            pelm.parse,
            [("str.translate + int/float", parse_translate), ("re.sub + int/float", parse_re)],
        ),
        (
            "normalize_numeric_str",
            pelm.normalize_numeric_str,
            [("str methods + translate", normalize_str_methods), ("re", normalize_re)],
        ),
    ):
        name = f"pelm.{group}"
        rows.append(
            {
                "group": group,
                "impl": name,
                "n": n,
                "ns_per_item": ns_per_item(pelm_impl, messy, repeat),
            }
        )
        for label, idiom in idioms:
            rows.append(
                {
                    "group": group,
                    "impl": label,
                    "n": n,
                    "ns_per_item": ns_per_item(idiom, messy, repeat),
                    "note": idiom_note,
                }
            )
        rows.append(
            {
                "group": group,
                "impl": "float() floor, clean",
                "n": n,
                "ns_per_item": floor,
                "note": floor_note,
            }
        )
        clean_group = f"{group} (clean strings)"
        rows.append(
            {
                "group": clean_group,
                "impl": name,
                "n": n,
                "ns_per_item": ns_per_item(pelm_impl, clean, repeat),
            }
        )
        rows.append(
            {
                "group": clean_group,
                "impl": "float() floor",
                "n": n,
                "ns_per_item": floor,
                "note": floor_note,
            }
        )
    return rows


def summary(rows: list[dict]) -> list[str]:
    """One line per pelm function: the two goal ratios."""
    lines = []
    for group in ("parse", "normalize_numeric_str"):
        members = [r for r in rows if r["group"] == group]
        ours = next(r["ns_per_item"] for r in members if r["impl"].startswith("pelm"))
        fastest_idiom = min(r["ns_per_item"] for r in members if "goal: >=" in r.get("note", ""))
        floor = next(r["ns_per_item"] for r in members if r["impl"].startswith("float()"))
        speedup = fastest_idiom / ours
        vs_floor = ours / floor
        lines.append(
            f"{group}: {speedup:.1f}x faster than the fastest idiom (goal {IDIOM_GOAL}x, "
            f"{'met' if speedup >= IDIOM_GOAL else 'NOT met'}); {vs_floor:.2f}x the float() floor "
            f"(goal <= {FLOOR_GOAL}x, {'met' if vs_floor <= FLOOR_GOAL else 'NOT met'})"
        )
    return lines


if __name__ == "__main__":
    import sys

    result = run(quick="--quick" in sys.argv)
    for row in result:
        print(f"{row['group']:<36} {row['impl']:<28} {row['ns_per_item']:8.1f} ns")
    print("\n".join(summary(result)))
