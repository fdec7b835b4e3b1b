"""Benchmarks of pelm.multikeysort.

run() returns rows (dicts with "group", "impl", "ns_per_item", "cpu_ns_per_item"
and "n") that
compare multikeysort with the pure-Python ways of sorting dicts by several
keys: chained stable list.sort passes, one sort with functools.cmp_to_key,
and pandas' sort_values when pandas is installed. The floor is the one-key
sort sorted(items, key=itemgetter('a')), which no multi-key sort can beat by
much. Timings are the best of several runs with time.perf_counter_ns (wall)
and time.thread_time_ns (CPU).

    python bench/bench_dictsort.py          # prints the table and the ratios
"""

import functools
import gc
import random
import time
from operator import itemgetter

import pelm

ANCHORS = ["pandas"]

COLUMNS = ["a", "-b", "c"]
NEW = "pelm.multikeysort new list"
INPLACE = "pelm.multikeysort inplace"
CHAINED = "chained stable list.sort passes"
FLOOR = "floor: sorted(key=itemgetter('a'))"
WORDS = [f"w{i:04d}" for i in range(1000)]


def make_items(n, seed=1234):
    """n dicts with an int, a str and a float field; 'a' repeats, so the later
    columns decide often."""
    rng = random.Random(seed)
    return [
        {"a": rng.randrange(n // 100 + 1), "b": rng.choice(WORDS), "c": rng.random()}
        for _ in range(n)
    ]


def chained_sorts(items):
    # One stable pass per column, least significant first.
    result = sorted(items, key=itemgetter("c"))
    result.sort(key=itemgetter("b"), reverse=True)
    result.sort(key=itemgetter("a"))
    return result


def _cmp(x, y):
    return (x > y) - (x < y)


def compare_rows(p, q):
    return _cmp(p["a"], q["a"]) or -_cmp(p["b"], q["b"]) or _cmp(p["c"], q["c"])


def cmp_to_key_sort(items):
    return sorted(items, key=functools.cmp_to_key(compare_rows))


def one_key_floor(items):
    return sorted(items, key=itemgetter("a"))


def time_once(function, data):
    """Wall and thread CPU time of one call, in ns."""
    gc.collect()
    gc.disable()
    try:
        wall, cpu = time.perf_counter_ns(), time.thread_time_ns()
        function(data)
        return time.perf_counter_ns() - wall, time.thread_time_ns() - cpu
    finally:
        gc.enable()


def best_ns(impls, rounds):
    """Best wall time and best thread CPU time of each (name, function,
    make_input) over `rounds` rounds. The implementations take turns within a
    round, in an order that rotates from round to round, so neither a change
    in the machine's load nor the memory left by the previous call favours
    one; each input is made outside the timed region. On a busy machine the
    CPU time is the steadier figure."""
    best = {}
    for r in range(rounds):
        shift = r % len(impls)
        for name, function, make_input in impls[shift:] + impls[:shift]:
            wall, cpu = time_once(function, make_input())
            old_wall, old_cpu = best.get(name, (wall, cpu))
            best[name] = (min(old_wall, wall), min(old_cpu, cpu))
    return best


def _pandas_impls():
    try:
        import pandas
    except ImportError:
        return []

    def sort_frame(frame):
        frame.sort_values(["a", "b", "c"], ascending=[True, False, True], kind="stable")

    def round_trip(items):
        frame = pandas.DataFrame(items)
        sort_frame(frame)
        frame.to_dict("records")

    return [
        ("pandas sort_values (frame prebuilt)", sort_frame, pandas.DataFrame),
        ("pandas DataFrame + sort_values + to_dict", round_trip, None),
    ]


def _group(n, rounds, with_slow):
    group = f"{n} dicts by {COLUMNS}"
    items = make_items(n)
    assert pelm.multikeysort(items, COLUMNS) == chained_sorts(items)

    def same():
        return items

    def copy():
        # The in-place call needs a fresh copy per run; the new-list call gets
        # one too, so that the two see the same input.
        return list(items)

    impls = [
        (NEW, lambda data: pelm.multikeysort(data, COLUMNS), copy),
        (INPLACE, lambda data: pelm.multikeysort(data, COLUMNS, True), copy),
        (CHAINED, chained_sorts, same),
        (FLOOR, one_key_floor, same),
    ]
    if with_slow:
        impls.append(("functools.cmp_to_key", cmp_to_key_sort, same))
        for name, function, prepare in _pandas_impls():
            prepared = prepare(items) if prepare else items
            impls.append((name, function, lambda prepared=prepared: prepared))
    best = best_ns(impls, rounds)
    return [
        {
            "group": group,
            "impl": name,
            "ns_per_item": best[name][0] / n,
            "cpu_ns_per_item": best[name][1] / n,
            "n": n,
        }
        for name, _, _ in impls
    ]


def run(quick=False):
    rows = _group(100_000, rounds=3 if quick else 9, with_slow=not quick)
    rows += _group(1_000, rounds=50 if quick else 300, with_slow=False)
    return rows


def summary(rows):
    """The goals as ratios, by wall time and by thread CPU time."""
    return _ratios(rows, "ns_per_item") + _ratios(rows, "cpu_ns_per_item")


def _ratios(rows, field):
    by_key = {(r["group"], r["impl"]): r[field] for r in rows}
    lines = []
    for group in dict.fromkeys(r["group"] for r in rows):
        new = by_key[(group, NEW)]
        chained = by_key[(group, CHAINED)]
        floor = by_key[(group, FLOOR)]
        inplace = by_key[(group, INPLACE)]
        lines += [
            f"{group} ({field}):",
            f"  chained passes / multikeysort = {chained / new:.2f}x (goal >= 2)",
            f"  multikeysort / one-key floor   = {new / floor:.2f}x (goal <= 3)",
            f"  inplace / new list             = {inplace / new:.2f}x (goal <= 1)",
        ]
    return lines


if __name__ == "__main__":
    results = run()
    print(f"{'group':<36} {'impl':<42} {'wall ns/item':>12} {'cpu ns/item':>12}")
    for row in results:
        print(
            f"{row['group']:<36} {row['impl']:<42} "
            f"{row['ns_per_item']:12.1f} {row['cpu_ns_per_item']:12.1f}"
        )
    print()
    print("\n".join(summary(results)))
