"""Benchmarks of the text functions: identifier case conversion and vulgar
fraction replacement, beside the usual pure-Python ways of doing the same.

run() returns rows {"case", "impl", "ns_per_item", "items", "unit"}; the
floor row (str.lower over the same identifiers) is what the case converters
aim to stay within 3x of. The linearity rows give ns per byte of text at
growing sizes: flat figures mean the cost is linear.
"""

from __future__ import annotations

import random
import re
import time
import unicodedata

IDENTIFIER_COUNT = 10_000
TEXT_COUNT = 10_000
REPEATS = 5
SEED = 20240601

WORDS = (
    "get set user name value count index item list total first last file path "
    "size order time date status result error message buffer config parse load "
    "save update create delete find check is has max min page offset token"
).split()
ACRONYMS = ["HTTP", "URL", "ID", "XML", "JSON", "API", "UTF8", "SQL", "IO", "UUID"]
NON_ASCII_WORDS = ["stra\u00dfe", "\u00fcber", "caf\u00e9", "na\u00efve", "\u00e9t\u00e9",
                   "\u03c9mega", "\u0434\u0430\u043d\u043d\u044b\u0435",
                   "gr\u00f6\u00dfe"]  # fmt: skip
FRACTIONS = "\u00bc\u00bd\u00be" + "".join(chr(c) for c in range(0x2153, 0x215F))


# --------------------------------------------------------------------------- data


def _words(rng: random.Random) -> list[str]:
    words = [rng.choice(WORDS) for _ in range(rng.randint(1, 4))]
    roll = rng.random()
    if roll < 0.15:
        words.insert(rng.randint(0, len(words)), rng.choice(ACRONYMS))
    elif roll < 0.20:
        words.insert(rng.randint(0, len(words)), rng.choice(NON_ASCII_WORDS))
    if rng.random() < 0.12:
        words[-1] += str(rng.randint(0, 99))
    return words


def camel_identifiers(count: int = IDENTIFIER_COUNT, seed: int = SEED) -> list[str]:
    """Names like getHTTPResponse, userId2, parseXMLFile, \u00fcberCount."""
    rng = random.Random(seed)
    names = []
    for _ in range(count):
        words = _words(rng)
        head = words[0] if words[0].isupper() else words[0].lower()
        names.append(head + "".join(w if w.isupper() else w.capitalize() for w in words[1:]))
    return names


def snake_identifiers(count: int = IDENTIFIER_COUNT, seed: int = SEED + 1) -> list[str]:
    """Names like get_http_response, user_id2, _private_name, __init__."""
    rng = random.Random(seed)
    names = []
    for _ in range(count):
        name = "_".join(w.lower() for w in _words(rng))
        roll = rng.random()
        if roll < 0.05:
            name = "_" + name
        elif roll < 0.07:
            name = "__" + name + "__"
        names.append(name)
    return names


def fraction_texts(count: int = TEXT_COUNT, seed: int = SEED + 2) -> list[str]:
    """Recipe-like lines; half hold one or two vulgar fractions."""
    rng = random.Random(seed)
    plain = ["Bake for 20 minutes at 180 degrees", "Season to taste", "Serves 4 people",
             "Stir well and let it rest overnight", "Chop the onions finely"]  # fmt: skip
    units = ["cup", "tsp", "tbsp", "kg", "inch", "lb"]
    texts = []
    for i in range(count):
        if i % 2:
            texts.append(rng.choice(plain))
            continue
        parts = []
        for _ in range(rng.randint(1, 2)):
            whole = rng.choice(["", "1", "2 ", "12", "3 "])
            parts.append(f"add {whole}{rng.choice(FRACTIONS)} {rng.choice(units)}")
        texts.append(" and ".join(parts))
    return texts


# --------------------------------------------------------------------------- pure Python


def python_uncamel(text: str) -> str:
    out = []
    last = len(text) - 1
    for i, ch in enumerate(text):
        if not ch.isupper():
            out.append(ch)
            continue
        if i > 0:
            before = text[i - 1]
            if (
                before.islower()
                or "0" <= before <= "9"
                or (before.isupper() and i < last and text[i + 1].islower())
            ):
                out.append("_")
        out.append(ch.lower())
    return "".join(out)


def python_underscore_to_camelcase(text: str) -> str:
    out = []
    after_underscore = False
    for ch in text:
        if ch == "_":
            after_underscore = True
            continue
        out.append(ch.upper() if after_underscore and out else ch.lower())
        after_underscore = False
    return "".join(out)


_PY_FRACTION = re.compile(r"(\d*)\s*([%s])" % FRACTIONS)


def _python_decimal(value: float) -> str:
    return f"{round(value * 1e6) / 1e6:.6f}".rstrip("0").rstrip(".")


def _python_fraction_replacement(match: re.Match) -> str:
    digits, fraction = match.groups()
    value = unicodedata.numeric(fraction)
    if digits:
        whole = int(digits) if digits.isascii() else 0
        return _python_decimal(whole + value)
    return (" " if match.start() else "") + _python_decimal(value)


def python_sanitize_vulgar_string(text: str) -> str:
    return _PY_FRACTION.sub(_python_fraction_replacement, text)


# --------------------------------------------------------------------------- timing


def best_ns(function, data, repeats: int = REPEATS) -> int:
    best = None
    for _ in range(repeats):
        start = time.perf_counter_ns()
        function(data)
        elapsed = time.perf_counter_ns() - start
        best = elapsed if best is None else min(best, elapsed)
    return best


def _row(case: str, impl: str, total_ns: int, items: int, unit: str = "item") -> dict:
    return {
        "case": case,
        "impl": impl,
        "ns_per_item": total_ns / items,
        "items": items,
        "unit": unit,
    }


def _per_item(function):
    return lambda data: list(map(function, data))


def _inflection():
    try:
        import inflection
    except ImportError:
        return None
    return inflection


def identifier_rows(pelm) -> list[dict]:
    camel = camel_identifiers()
    snake = snake_identifiers()
    inflection = _inflection()
    rows = [_row("str.lower floor", "str.lower", best_ns(_per_item(str.lower), camel), len(camel))]
    uncamel_impls = {"pelm": pelm.uncamel, "python loop": python_uncamel}
    camelcase_impls = {
        "pelm": pelm.underscore_to_camelcase,
        "python loop": python_underscore_to_camelcase,
    }
    if inflection is not None:
        uncamel_impls["inflection"] = inflection.underscore
        camelcase_impls["inflection"] = lambda word: inflection.camelize(word, False)
    for case, data, impls in (
        ("uncamel", camel, uncamel_impls),
        ("underscore_to_camelcase", snake, camelcase_impls),
    ):
        for impl, function in impls.items():
            rows.append(_row(case, impl, best_ns(_per_item(function), data), len(data)))
    return rows


def fraction_rows(pelm) -> list[dict]:
    texts = fraction_texts()
    rows = [
        _row(
            "sanitize_vulgar_string",
            impl,
            best_ns(_per_item(function), texts),
            len(texts),
        )
        for impl, function in (
            ("pelm", pelm.sanitize_vulgar_string),
            ("re.sub + unicodedata", python_sanitize_vulgar_string),
        )
    ]
    # The texts without fractions, against the str.lower floor on the same texts.
    plain = [text for text in texts if pelm.sanitize_vulgar_string(text) == text]
    rows += [
        _row("sanitize, texts without fractions", impl, best_ns(_per_item(function), plain), len(plain))
        for impl, function in (
            ("pelm", pelm.sanitize_vulgar_string),
            ("str.lower floor", str.lower),
        )
    ]
    return rows


def linearity_rows(pelm) -> list[dict]:
    """ns per byte of text at growing sizes, up to 1 MiB and 100,000 fractions."""
    rows = []
    shapes = {
        # one fraction every nine bytes: over 100,000 fractions at 1 MiB
        "sanitize, dense fractions": ("ab 12\u00bd x", pelm.sanitize_vulgar_string),
        "sanitize, no fractions": ("plain text 12 ", pelm.sanitize_vulgar_string),
        "uncamel": ("getHTTPResponse", pelm.uncamel),
        "underscore_to_camelcase": ("get_http_response_", pelm.underscore_to_camelcase),
    }
    for case, (unit, function) in shapes.items():
        unit_size = len(unit.encode())
        for size in (1 << 16, 1 << 18, 1 << 20):
            text = unit * (size // unit_size)
            total = best_ns(function, text, repeats=3)
            size_in_bytes = len(text.encode())
            rows.append(_row(f"{case}, {size >> 10} KiB", "pelm", total, size_in_bytes, "byte"))
    return rows


def run() -> list[dict]:
    import pelm

    return identifier_rows(pelm) + fraction_rows(pelm) + linearity_rows(pelm)


if __name__ == "__main__":
    for row in run():
        print(f"{row['case']:<40} {row['impl']:<22} {row['ns_per_item']:>10.1f} ns/{row['unit']}")
