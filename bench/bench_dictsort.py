"""Benchmarks of pelm.multikeysort.

run() returns rows (dicts with "group", "impl", "ns_per_item", "cpu_ns_per_item"
and "n") that compare multikeysort with the pure-Python ways of sorting dicts
by several keys: chained stable list.sort passes (one per column, least
significant first, reverse=True for a descending column), one sort with
functools.cmp_to_key, and pandas' sort_values when pandas is installed. A
one-column sort is compared with sorted(items, key=itemgetter(column)).

Timings are warm, as a program that sorts sees them: each timing makes calls
back to back on the same records (at least 20 ms of them, so timer noise
vanishes), the garbage collector off during the timing only and no collection
forced between timings; the implementations take turns, and each figure is
the best timing of several rounds, by time.perf_counter_ns (wall) and by
time.thread_time_ns (CPU).

The records are shaped like real data: ids with a common prefix, ISO dates of
two years, amounts with two decimals, customer names of one pattern, a few
long region labels, surnames and first names drawn from short lists, small
quantities; plus the int-led sort of small-range ints, words and floats.

    python bench/bench_dictsort.py                      # 1,000 and 100,000 rows
    python bench/bench_dictsort.py --sizes 1000,100000,1000000
    PELM_BENCH_DICTSORT_SIZES=1000,100000,1000000 python bench/run.py --only dictsort

summary() prints each ratio with its goal, and the peak memory per row of
multikeysort beside that of its idiom (Linux: the growth of the peak resident
size, reset before each call through /proc/self/clear_refs after free memory
is handed back with glibc's malloc_trim; a rough figure, since the
interpreter keeps some freed memory for reuse).
"""

import functools
import gc
import os
import random
import sys
import time
from operator import itemgetter

import pelm

ANCHORS = ["pandas"]

NEW = "pelm.multikeysort new list"
INPLACE = "pelm.multikeysort inplace"
CHAINED = "chained stable list.sort passes"
ITEMGETTER = "sorted(key=itemgetter(column))"
CMP_TO_KEY = "functools.cmp_to_key"
DEFAULT_SIZES = (1_000, 100_000)
SIZES_VARIABLE = "PELM_BENCH_DICTSORT_SIZES"

WORDS = [f"w{i:04d}" for i in range(1000)]
SURNAMES = (
    "Smith Johnson Williams Brown Jones Garcia Miller Davis Rodriguez Martinez Hernandez Lopez "
    "Gonzalez Wilson Anderson Thomas Taylor Moore Jackson Martin Lee Perez Thompson White Harris "
    "Sanchez Clark Ramirez Lewis Robinson Walker Young Allen King Wright Scott Torres Nguyen Hill "
    "Flores Green Adams Nelson Baker Hall Rivera Campbell Mitchell Carter Roberts Williamson "
    "Richardson Richards"
).split()
FIRST_NAMES = (
    "James Mary John Patricia Robert Jennifer Michael Linda William Elizabeth David Barbara "
    "Richard Susan Joseph Jessica Thomas Sarah Charles Karen"
).split()
REGIONS = ["north-east", "north-west", "south-east", "south-west"]

# (columns, goal): multi-column sorts against the chained passes, one-column
# str sorts against sorted(key=itemgetter).
RECORD_SORTS = [
    (["date", "-amount"], 2.0),
    (["region", "date", "id"], 2.0),
    (["surname", "first"], 2.0),
    (["-qty", "name"], 2.0),
    (["amount", "id"], 2.0),
    (["id"], 1.5),
    (["name"], 1.5),
    (["date"], 1.5),
    (["surname"], 1.5),
]
INT_LED = ["a", "-b", "c"]
INT_LED_GOAL_AT_100K = 4.0


def make_records(n, seed=1234):
    rng = random.Random(seed)
    ids = list(range(n))
    rng.shuffle(ids)
    return [
        {
            "id": f"ord-{ids[i]:07d}",
            "date": f"{rng.choice((2023, 2024))}-{rng.randint(1, 12):02d}-{rng.randint(1, 28):02d}",
            "amount": round(rng.uniform(1, 5000), 2),
            "name": f"customer-{rng.randrange(10**8):08d}",
            "region": rng.choice(REGIONS),
            "surname": rng.choice(SURNAMES),
            "first": rng.choice(FIRST_NAMES),
            "qty": rng.randrange(1, 50),
        }
        for i in range(n)
    ]


def make_int_led(n, seed=1234):
    """n dicts with an int, a str and a float field; 'a' repeats, so the later
    columns decide often."""
    rng = random.Random(seed)
    return [
        {"a": rng.randrange(n // 100 + 1), "b": rng.choice(WORDS), "c": rng.random()}
        for _ in range(n)
    ]


def chained_sorts(items, columns):
    # One stable pass per column, least significant first.
    result = list(items)
    for column in reversed(columns):
        descending = column.startswith("-")
        result.sort(key=itemgetter(column.lstrip("-")), reverse=descending)
    return result


def cmp_to_key_sort(items, columns):
    def compare(p, q):
        for column in columns:
            name = column.lstrip("-")
            x, y = p[name], q[name]
            order = (x > y) - (x < y)
            if order:
                return -order if column.startswith("-") else order
        return 0

    return sorted(items, key=functools.cmp_to_key(compare))


def time_calls(function, inputs):
    """Wall and thread CPU time of calling `function` on each of `inputs`, back
    to back, in ns. The garbage collector is off during the timing only, and
    no collection is forced before it: a forced collection walks the whole
    heap and leaves every later call to start from cold caches, which is not
    what a program that sorts sees."""
    was_enabled = gc.isenabled()
    gc.disable()
    try:
        wall, cpu = time.perf_counter_ns(), time.thread_time_ns()
        for data in inputs:
            function(data)
        return time.perf_counter_ns() - wall, time.thread_time_ns() - cpu
    finally:
        if was_enabled:
            gc.enable()


# A timing lasts at least this long, so that the timer's resolution and the
# cost of the loop around the calls vanish beside it.
TIMING_NS = 20_000_000
MAX_CALLS_PER_TIMING = 1_000


def calls_per_timing(function, make_inputs):
    """Calls per timing: enough to fill TIMING_NS, gauged by one warming call."""
    wall, _ = time_calls(function, make_inputs(1))
    return max(1, min(MAX_CALLS_PER_TIMING, -(-TIMING_NS // max(wall, 1))))


def best_ns(impls, rounds):
    """Best wall time and best thread CPU time per call of each (name,
    function, make_inputs) over `rounds` rounds, measured warm: each timing
    makes its calls back to back on data that earlier calls have already
    touched, as timeit does. The implementations take turns within a round,
    in an order that rotates from round to round, so neither a change in the
    machine's load nor what the previous call left in the caches favours one.
    make_inputs(count) returns the inputs of `count` calls; it runs outside
    the timed region."""
    calls = {name: calls_per_timing(function, make_inputs) for name, function, make_inputs in impls}
    best = {}
    for r in range(rounds):
        shift = r % len(impls)
        for name, function, make_inputs in impls[shift:] + impls[:shift]:
            wall, cpu = time_calls(function, make_inputs(calls[name]))
            old_wall, old_cpu = best.get(name, (wall, cpu))
            best[name] = (min(old_wall, wall), min(old_cpu, cpu))
    return {name: (wall / calls[name], cpu / calls[name]) for name, (wall, cpu) in best.items()}


def _resident_kib(field):
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith(field + ":"):
                return int(line.split()[1])
    raise OSError(field)


def _release_free_memory():
    """Hands the memory that malloc keeps free back to the system (glibc), so
    that the peak resident size grows with what a call allocates."""
    try:
        import ctypes

        ctypes.CDLL(None).malloc_trim(0)
    except (OSError, AttributeError):
        pass


def peak_bytes(function, data):
    """The growth of the peak resident size during one call (Linux only; None
    elsewhere)."""
    gc.collect()
    _release_free_memory()
    try:
        with open("/proc/self/clear_refs", "w") as clear:
            clear.write("5")  # the peak is reset to the current size
        before = _resident_kib("VmRSS")
        function(data)
        return (_resident_kib("VmHWM") - before) * 1024
    except OSError:
        return None


def _pandas_impls(columns):
    try:
        import pandas
    except ImportError:
        return []
    names = [c.lstrip("-") for c in columns]
    ascending = [not c.startswith("-") for c in columns]

    def sort_frame(frame):
        frame.sort_values(names, ascending=ascending, kind="stable")

    def round_trip(items):
        frame = pandas.DataFrame(items)
        sort_frame(frame)
        frame.to_dict("records")

    return [
        ("pandas sort_values (frame prebuilt)", sort_frame, pandas.DataFrame),
        ("pandas DataFrame + sort_values + to_dict", round_trip, None),
    ]


def _group(label, items, columns, rounds, with_slow=False, goal=None):
    n = len(items)
    group = f"{n} {label} by {columns}"
    assert pelm.multikeysort(items, columns) == chained_sorts(items, columns)

    def same(calls):
        # Every call sorts the very same list, as a program that sorts its
        # records again would.
        return [items] * calls

    def copies(calls):
        # The in-place call needs a list of its own per call.
        return [list(items) for _ in range(calls)]

    idiom = (CHAINED, lambda data: chained_sorts(data, columns), same)
    if len(columns) == 1:
        getter = itemgetter(columns[0].lstrip("-"))
        idiom = (ITEMGETTER, lambda data: sorted(data, key=getter), same)
    impls = [
        (NEW, lambda data: pelm.multikeysort(data, columns), same),
        (INPLACE, lambda data: pelm.multikeysort(data, columns, True), copies),
        idiom,
    ]
    if with_slow:
        impls.append((CMP_TO_KEY, lambda data: cmp_to_key_sort(data, columns), same))
        for name, function, prepare in _pandas_impls(columns):
            prepared = prepare(items) if prepare else items
            impls.append((name, function, lambda calls, prepared=prepared: [prepared] * calls))
    best = best_ns(impls, rounds)
    rows = [
        {
            "group": group,
            "impl": name,
            "ns_per_item": best[name][0] / n,
            "cpu_ns_per_item": best[name][1] / n,
            "n": n,
            "goal": goal,
            "idiom": idiom[0],
        }
        for name, _, _ in impls
    ]
    memory = {
        name: peak_bytes(function, make_inputs(1)[0])
        for name, function, make_inputs in impls
        if name in (NEW, idiom[0])
    }
    for row in rows:
        if memory.get(row["impl"]) is not None:
            row["peak_bytes_per_item"] = memory[row["impl"]] / n
    return rows


def sizes_wanted(argv=()):
    text = os.environ.get(SIZES_VARIABLE, "")
    if "--sizes" in argv:
        text = argv[argv.index("--sizes") + 1]
    if not text:
        return DEFAULT_SIZES
    return tuple(int(size.replace("_", "")) for size in text.split(","))


def rounds_for(n, quick):
    if n >= 1_000_000:
        return 2 if quick else 3
    if n >= 100_000:
        return 3 if quick else 7
    return 5 if quick else 9


def run(quick=False, sizes=None):
    rows = []
    for n in sizes or sizes_wanted():
        rounds = rounds_for(n, quick)
        records = make_records(n)
        for columns, goal in RECORD_SORTS:
            rows += _group("records", records, columns, rounds, goal=goal)
        del records
        goal = INT_LED_GOAL_AT_100K if n == 100_000 else 2.0
        slow = not quick and n == 100_000
        rows += _group("dicts", make_int_led(n), INT_LED, rounds, with_slow=slow, goal=goal)
    return rows


def summary(rows):
    """The goals as ratios (wall and thread CPU time), and peak memory."""
    by_key = {(r["group"], r["impl"]): r for r in rows}
    lines = []
    missed = []
    for group in dict.fromkeys(r["group"] for r in rows):
        new = by_key[(group, NEW)]
        idiom = by_key[(group, new["idiom"])]
        inplace = by_key[(group, INPLACE)]
        wall = idiom["ns_per_item"] / new["ns_per_item"]
        cpu = idiom["cpu_ns_per_item"] / new["cpu_ns_per_item"]
        goal = new["goal"]
        verdict = ", ".join(
            f"{kind} {'met' if ratio >= goal else 'NOT MET'}" for kind, ratio in (("wall", wall), ("cpu", cpu))
        )
        if wall < goal and cpu < goal:
            missed.append(group)
        line = (
            f"{group}: {new['idiom']} / multikeysort = {wall:.2f}x wall, {cpu:.2f}x cpu "
            f"(goal >= {goal:g}: {verdict}); inplace / new = "
            f"{inplace['ns_per_item'] / new['ns_per_item']:.2f}"
        )
        if "peak_bytes_per_item" in new and "peak_bytes_per_item" in idiom:
            line += (
                f"; peak memory per row {new['peak_bytes_per_item']:.0f} B"
                f" vs {idiom['peak_bytes_per_item']:.0f} B"
            )
        lines.append(line)
    lines.append(f"groups whose goal neither wall nor cpu time meets: {len(missed)} of {len(lines)}")
    return lines


if __name__ == "__main__":
    results = run(sizes=sizes_wanted(sys.argv))
    print(f"{'group':<52} {'impl':<42} {'wall ns/item':>12} {'cpu ns/item':>12}")
    for row in results:
        print(
            f"{row['group']:<52} {row['impl']:<42} "
            f"{row['ns_per_item']:12.1f} {row['cpu_ns_per_item']:12.1f}"
        )
    print()
    print("\n".join(summary(results)))
