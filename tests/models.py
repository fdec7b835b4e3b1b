"""Small pure-Python models of the ten pelm functions, written from their
described behaviour, for the property tests to compare against.

The models favour plainness over speed. Case conversion is modelled only for
ASCII and for a fixed set of non-ASCII characters whose properties and
mappings are spelled out below, since Python's own str methods follow the
Unicode version of the running interpreter."""

from __future__ import annotations

import functools
import math
import operator
import re

# ---------------------------------------------------------------- white space

WHITE_SPACE = frozenset(
    chr(c)
    for c in [
        *range(0x09, 0x0E),
        0x20,
        0x85,
        0xA0,
        0x1680,
        *range(0x2000, 0x200B),
        0x2028,
        0x2029,
        0x202F,
        0x205F,
        0x3000,
    ]
)
assert len(WHITE_SPACE) == 25


def trim_white_space(text: str) -> str:
    start, end = 0, len(text)
    while start < end and text[start] in WHITE_SPACE:
        start += 1
    while end > start and text[end - 1] in WHITE_SPACE:
        end -= 1
    return text[start:end]


# ----------------------------------------------------------- numeric text


def normalize_numeric_str(text: str) -> str | None:
    trimmed = trim_white_space(text)
    if not trimmed:
        return None
    negative = False
    if trimmed[0] == "(" and trimmed[-1] == ")" and len(trimmed) >= 2:
        inner = trim_white_space(trimmed[1:-1])
        if not inner:
            return None
        trimmed, negative = inner, True
    text = trimmed.replace(",", "")
    if not text:
        return None
    if text[-1] == "%":
        text = trim_white_space(text[:-1])
        if not text:
            return None
    return "-" + text if negative else text


# Written so that no text can be split between two digit runs in more than one
# way: "[0-9]+\.?[0-9]*" backtracks quadratically on a long run of digits that
# ends in a character outside the grammar.
_DECIMAL = re.compile(r"[+-]?(?:[0-9]+(?:\.[0-9]*)?|\.[0-9]+)(?:[eE][+-]?[0-9]+)?")
_WORD = re.compile(r"[+-]?(?:inf|infinity|nan)", re.IGNORECASE)
_INTEGER = re.compile(r"[+-]?[0-9]+")

INT64_MIN = -(2**63)
INT64_MAX = 2**63 - 1


def decimal_conversion(text: str) -> float | None:
    """The grammar of the decimal conversion; its value is float()'s."""
    if _DECIMAL.fullmatch(text) or _WORD.fullmatch(text):
        return float(text)
    return None


def to_number(kept: str) -> int | None:
    text = normalize_numeric_str(kept)
    if text is None:
        return None
    if _INTEGER.fullmatch(text):
        value = int(text)
        if INT64_MIN <= value <= INT64_MAX:
            return value
    x = decimal_conversion(text)
    if x is None or math.isinf(x) or math.isnan(x) or abs(x) > 2.0**63:
        return None
    if x == 2.0**63:
        return INT64_MAX
    return int(x)


KEPT = frozenset("0123456789()-.")


def parse(text: str) -> int | float | None:
    kept = "".join(ch for ch in text if ch in KEPT)
    if not kept:
        return None
    if "." in kept:
        normalised = normalize_numeric_str(kept)
        return None if normalised is None else decimal_conversion(normalised)
    return to_number(kept)


# ------------------------------------------------------------ case mapping

# character: (upper case, lower case, full lowercase mapping, full uppercase
# mapping). Every character here has had these properties and mappings in
# every Unicode version that a supported interpreter may carry.
_NON_ASCII_CASES = {
    "\u00c0": (True, False, "\u00e0", "\u00c0"),  # À
    "\u00e0": (False, True, "\u00e0", "\u00c0"),  # à
    "\u00c9": (True, False, "\u00e9", "\u00c9"),  # É
    "\u00e9": (False, True, "\u00e9", "\u00c9"),  # é
    "\u00df": (False, True, "\u00df", "SS"),  # ß
    "\u0130": (True, False, "i\u0307", "\u0130"),  # İ
    "\u0131": (False, True, "\u0131", "I"),  # ı
    "\u01c4": (True, False, "\u01c6", "\u01c4"),  # Ǆ
    "\u01c5": (False, False, "\u01c6", "\u01c4"),  # ǅ (titlecase)
    "\u01c6": (False, True, "\u01c6", "\u01c4"),  # ǆ
    "\u03a3": (True, False, "\u03c3", "\u03a3"),  # Σ
    "\u03c3": (False, True, "\u03c3", "\u03a3"),  # σ
    "\u03c2": (False, True, "\u03c2", "\u03a3"),  # ς
    "\u0416": (True, False, "\u0436", "\u0416"),  # Ж
    "\u0436": (False, True, "\u0436", "\u0416"),  # ж
    "\u00aa": (False, True, "\u00aa", "\u00aa"),  # ª (Other_Lowercase)
    "\u2161": (True, False, "\u2171", "\u2161"),  # Ⅱ (Other_Uppercase)
    "\u2171": (False, True, "\u2171", "\u2161"),  # ⅱ
    "\u24b6": (True, False, "\u24d0", "\u24b6"),  # Ⓐ
    "\u24d0": (False, True, "\u24d0", "\u24b6"),  # ⓐ
    "\ufb03": (False, True, "\ufb03", "FFI"),  # ﬃ
    "\u1fb3": (False, True, "\u1fb3", "\u0391\u0399"),  # ᾳ
    "\U00010400": (True, False, "\U00010428", "\U00010400"),  # 𐐀
    "\U00010428": (False, True, "\U00010428", "\U00010400"),  # 𐐨
    "\u0663": (False, False, "\u0663", "\u0663"),  # Arabic-Indic three
    "\u4e2d": (False, False, "\u4e2d", "\u4e2d"),  # an uncased letter
    "\u0307": (False, False, "\u0307", "\u0307"),  # a combining mark
    "\u00a0": (False, False, "\u00a0", "\u00a0"),
    "\uff3f": (False, False, "\uff3f", "\uff3f"),  # full-width low line
}

CASE_ALPHABET = (
    "abcxyzABCXYZ0123456789_ -."
    + "".join(_NON_ASCII_CASES)
)


def _case_entry(ch: str):
    if "A" <= ch <= "Z":
        return True, False, chr(ord(ch) + 32), ch
    if "a" <= ch <= "z":
        return False, True, ch, chr(ord(ch) - 32)
    if ch in _NON_ASCII_CASES:
        return _NON_ASCII_CASES[ch]
    if ord(ch) < 0x80:
        return False, False, ch, ch
    raise KeyError(f"no case data for {ch!r} in the model")


def is_upper(ch: str) -> bool:
    return _case_entry(ch)[0]


def is_lower(ch: str) -> bool:
    return _case_entry(ch)[1]


def to_lower(ch: str) -> str:
    return _case_entry(ch)[2]


def to_upper(ch: str) -> str:
    return _case_entry(ch)[3]


def uncamel(text: str) -> str:
    out = []
    n = len(text)
    for i, ch in enumerate(text):
        if not is_upper(ch):
            out.append(ch)
            continue
        if i > 0:
            prev = text[i - 1]
            if (
                is_lower(prev)
                or "0" <= prev <= "9"
                or (is_upper(prev) and i + 1 < n and is_lower(text[i + 1]))
            ):
                out.append("_")
        out.append(to_lower(ch))
    return "".join(out)


def underscore_to_camelcase(text: str) -> str:
    out = []
    after_underscore = False
    for ch in text:
        if ch == "_":
            after_underscore = True
            continue
        out.append(to_upper(ch) if after_underscore and out else to_lower(ch))
        after_underscore = False
    return "".join(out)


# -------------------------------------------------------- vulgar fractions

VULGAR_FRACTIONS = {
    "\u00bc": 1 / 4,
    "\u00bd": 1 / 2,
    "\u00be": 3 / 4,
    "\u2153": 1 / 3,
    "\u2154": 2 / 3,
    "\u2155": 1 / 5,
    "\u2156": 2 / 5,
    "\u2157": 3 / 5,
    "\u2158": 4 / 5,
    "\u2159": 1 / 6,
    "\u215a": 5 / 6,
    "\u215b": 1 / 8,
    "\u215c": 3 / 8,
    "\u215d": 5 / 8,
    "\u215e": 7 / 8,
}

# Python's \d and \s agree with the module's sets on the characters that the
# property tests generate: ASCII digits, U+0663, and the white space listed
# in the tests (Python's \s also takes U+001C..U+001F, which they avoid).
FRACTION_PATTERN = re.compile(r"(\d*)\s*([" + "".join(VULGAR_FRACTIONS) + "])")


def format_decimal(x: float) -> str:
    product = x * 1000000.0
    if math.isinf(product):
        y = product
    else:
        whole = math.floor(abs(product))
        if abs(product) - whole >= 0.5:
            whole += 1
        y = math.copysign(float(whole), product) / 1000000.0
    if math.isinf(y):
        return "inf" if y > 0 else "-inf"
    return ("%.6f" % y).rstrip("0").rstrip(".")


def _read_digits(digits: str) -> float:
    if all("0" <= ch <= "9" for ch in digits):
        return float(digits)
    return 0.0


def sanitize_vulgar_string(text: str) -> str:
    out = text
    for match in reversed(list(FRACTION_PATTERN.finditer(text))):
        value = VULGAR_FRACTIONS[match.group(2)]
        digits = match.group(1)
        if digits:
            replacement = format_decimal(_read_digits(digits) + value)
        else:
            replacement = format_decimal(value)
            if match.start() != 0:
                replacement = " " + replacement
        out = out[: match.start()] + replacement + out[match.end() :]
    return out


# ------------------------------------------------------- sequence utilities


def backfill(values: list) -> list:
    if not values:
        return []
    first = next((v for v in values if v is not None), None)
    if first is None:
        return values
    out = []
    last = first
    for v in values:
        if v is not None:
            last = v
        out.append(last)
    return out


def backfill_iterdict(items: list) -> tuple[list, bool]:
    """The result, and whether it is fully determined by the behaviour (the
    leading None values of every key stood in the first items)."""
    last: dict = {}
    pending: dict = {}
    result: list = []
    determined = True
    for i, item in enumerate(items):
        out = {}
        for key, value in item.items():
            if value is not None:
                last[key] = value
                if key in pending:
                    where = pending.pop(key)
                    if where != list(range(len(where))):
                        determined = False
                    for p in range(len(where)):
                        if p < len(result):
                            result[p][key] = value
                out[key] = value
            elif key in last:
                out[key] = last[key]
            else:
                pending.setdefault(key, []).append(i)
        result.append(out)
    return result, determined


def collapse(*args) -> list:
    out: list = []
    opening: list = []

    def walk(x):
        if isinstance(x, (list, tuple)):
            if any(x is o for o in opening):
                raise ValueError("Circular reference detected")
            opening.append(x)
            for item in x:
                walk(item)
            opening.pop()
        else:
            out.append(x)

    for a in args:
        walk(a)
    return out


def same_order(ref_list: list, comp: list) -> bool:
    if len(comp) < len(ref_list):
        return False
    positions = []
    for item in ref_list:
        for j, candidate in enumerate(comp):
            if item == candidate:
                positions.append(j)
                break
        else:
            return False
    return all(a <= b for a, b in zip(positions, positions[1:]))


# ----------------------------------------------------------- multikeysort

NULL, INT, FLOAT, STR, OTHER = range(5)


def _utf8_ok(text: str) -> bool:
    try:
        str.encode(text, "utf-8")
    except UnicodeEncodeError:
        return False
    return True


def _as_int(value):
    """What PyLong_AsLong makes of the value: an int, or None."""
    if not isinstance(value, int) and not hasattr(type(value), "__index__"):
        return None
    try:
        number = operator.index(value)
    except Exception:
        return None
    return number if INT64_MIN <= number <= INT64_MAX else None


def _as_double(value):
    """What PyFloat_AsDouble makes of the value: a float, or None."""
    if isinstance(value, float):
        return float.__float__(value)
    kind = type(value)
    try:
        if hasattr(kind, "__float__"):
            result = kind.__float__(value)
            return result if isinstance(result, float) else None
        if hasattr(kind, "__index__"):
            return float(operator.index(value))
    except Exception:
        return None
    return None


def sort_value(item, name: str):
    try:
        value = item[name]
    except Exception:
        return (NULL, None)
    if value is None:
        return (NULL, None)
    number = _as_int(value)
    if number is not None:
        return (INT, number)
    double = _as_double(value)
    if double is not None:
        return (FLOAT, double)
    if isinstance(value, str) and _utf8_ok(value):
        return (STR, str.__str__(value))
    return (OTHER, value)


def py_compare(left, right) -> int:
    try:
        if left < right:
            return -1
    except Exception:
        return 0
    try:
        if left > right:
            return 1
    except Exception:
        return 0
    return 0


def compare_sort_values(a, b) -> int:
    (ka, va), (kb, vb) = a, b
    if ka == NULL:
        return 0 if kb == NULL else -1
    if kb == NULL:
        return 1
    if ka == INT and kb == INT:
        return (va > vb) - (va < vb)
    if ka in (INT, FLOAT) and kb in (INT, FLOAT):
        x, y = float(va), float(vb)
        return (x > y) - (x < y)
    if ka == STR and kb == STR:
        return (va > vb) - (va < vb)
    return py_compare(va, vb)


def parse_columns(columns) -> list[tuple[str, bool]] | None:
    """(name, descending) pairs; None for columns=None. Handles the str,
    list and tuple forms; anything else gives no columns."""
    if columns is None:
        return None
    if isinstance(columns, str):
        names = [columns] if _utf8_ok(columns) else []
    elif isinstance(columns, list):
        names = [c for c in list.__iter__(columns) if isinstance(c, str) and _utf8_ok(c)]
    elif isinstance(columns, tuple):
        names = list(tuple.__iter__(columns))
        if not all(isinstance(c, str) and _utf8_ok(c) for c in names):
            names = []
    else:
        names = []
    names = [str.__str__(n) for n in names]
    return [(n[1:], True) if n.startswith("-") else (n, False) for n in names]


INSERTION_SORT_LIMIT = 20
MERGE_RUN_LENGTH = 32


def _insertion_sort(handles: list, less) -> None:
    for i in range(1, len(handles)):
        moving = handles[i]
        position = i
        while position > 0 and less(moving, handles[position - 1]):
            handles[position] = handles[position - 1]
            position -= 1
        handles[position] = moving


def _binary_insertion_sort(handles: list, start: int, end: int, less) -> None:
    for i in range(start + 1, end):
        moving = handles[i]
        if not less(moving, handles[i - 1]):
            continue
        low, high = start, i - 1
        while low < high:
            middle = low + (high - low) // 2
            if less(moving, handles[middle]):
                high = middle
            else:
                low = middle + 1
        handles[low + 1 : i + 1] = handles[low:i]
        handles[low] = moving


def _merge_neighbours(handles: list, low: int, middle: int, high: int, less) -> None:
    if not less(handles[middle], handles[middle - 1]):
        return
    if middle - low <= high - middle:
        left, right, out = handles[low:middle], middle, low
        taken = 0
        while taken < len(left) and right < high:
            if less(handles[right], left[taken]):
                handles[out] = handles[right]
                right += 1
            else:
                handles[out] = left[taken]
                taken += 1
            out += 1
        handles[out : out + len(left) - taken] = left[taken:]
    else:
        right_run = handles[middle:high]
        left, kept, out = middle, len(right_run), high
        while left != low and kept != 0:
            out -= 1
            if less(right_run[kept - 1], handles[left - 1]):
                left -= 1
                handles[out] = handles[left]
            else:
                kept -= 1
                handles[out] = right_run[kept]
        handles[low : low + kept] = right_run[:kept]


def stable_sort(handles: list, less) -> list:
    """The sort of multikeysort, comparison for comparison: an insertion for
    up to 20 handles; for more, runs of 32 by binary insertion, then
    bottom-up merges of neighbouring runs. With a strict weak order any
    stable sort gives its result; with NaN cells or inconsistent Python
    comparisons this one also gives the very order and the very calls."""
    handles = list(handles)
    if len(handles) <= INSERTION_SORT_LIMIT:
        _insertion_sort(handles, less)
        return handles
    count = len(handles)
    for start in range(0, count, MERGE_RUN_LENGTH):
        _binary_insertion_sort(handles, start, min(start + MERGE_RUN_LENGTH, count), less)
    width = MERGE_RUN_LENGTH
    while width < count:
        for low in range(0, count - width, 2 * width):
            _merge_neighbours(handles, low, low + width, min(low + 2 * width, count), less)
        width *= 2
    return handles


def multikeysort(items: list, columns) -> list:
    parsed = parse_columns(columns)
    if parsed is None:
        return list(list.__iter__(items))
    keys = {str.__str__(k) for item in list.__iter__(items) if isinstance(item, dict) for k in dict.keys(item)
            if isinstance(k, str) and _utf8_ok(k)}
    parsed = [c for c in parsed if c[0] in keys]
    if not parsed:
        return list(list.__iter__(items))
    rows = [([sort_value(item, name) for name, _ in parsed], item) for item in list.__iter__(items)]

    def less(x, y) -> bool:
        for (_, descending), a, b in zip(parsed, x[0], y[0]):
            r = compare_sort_values(a, b)
            if descending:
                r = -r
            if r:
                return r < 0
        return False

    ordered = stable_sort(rows, less)
    return [item for _, item in ordered]
