"""Runs every bench/bench_*.py module and prints one table.

    python bench/run.py [--quick] [--only NAME]

Each module exposes run() (or run(quick=False)) returning rows: dicts with "group" (or
"case"), "impl" and "ns_per_item", and optionally "n" (or "items": items per pass), "unit"
(what an item is, default "item") and "note". Within a group the ratio column is each impl's
time over the time of the group's pelm impl (the first impl whose name starts with "pelm"):
above 1 means pelm is faster.

A module may list in ANCHORS the PyPI distributions it compares with, and may have
summary(rows) returning lines printed under the table. Versions are printed for pelm, for
every declared anchor and for every package of bench/requirements.txt that a module imported.
A module that fails is reported and the others still run; the exit status is then 1.
"""

from __future__ import annotations

import argparse
import importlib
import importlib.metadata
import inspect
import platform
import re
import sys
import traceback
from pathlib import Path

BENCH_DIR = Path(__file__).resolve().parent


def discover(only: str | None) -> list[str]:
    names = sorted(p.stem for p in BENCH_DIR.glob("bench_*.py"))
    if only is not None:
        wanted = only if only.startswith("bench_") else "bench_" + only
        names = [n for n in names if n == wanted]
        if not names:
            raise SystemExit(f"no benchmark module {only!r} in {BENCH_DIR}")
    return names


def call_run(module, quick: bool) -> list[dict]:
    run = module.run
    if "quick" in inspect.signature(run).parameters:
        return list(run(quick=quick))
    return list(run())


def requirement_names() -> list[str]:
    path = BENCH_DIR / "requirements.txt"
    if not path.exists():
        return []
    names = []
    for line in path.read_text().splitlines():
        match = re.match(r"\s*([A-Za-z0-9][A-Za-z0-9._-]*)", line.split("#", 1)[0])
        if match:
            names.append(match.group(1))
    return names


def canonical(name: str) -> str:
    return re.sub(r"[-_.]+", "-", name).lower()


def imported_distributions() -> set[str]:
    top_level = {name.partition(".")[0] for name in sys.modules}
    found = set()
    for module, distributions in importlib.metadata.packages_distributions().items():
        if module in top_level:
            found.update(canonical(d) for d in distributions)
    return found


def version_of(distribution: str) -> str:
    try:
        return importlib.metadata.version(distribution)
    except importlib.metadata.PackageNotFoundError:
        pass
    if distribution == "pelm":
        try:
            module = importlib.import_module("pelm")
        except ImportError:
            return "not importable"
        return (
            f"{getattr(module, '__version__', 'unknown')} (not installed, from {module.__file__})"
        )
    return "not installed"


def row_group(row: dict) -> str:
    return str(row.get("group", row.get("case", "")))


def format_table(rows: list[dict]) -> str:
    groups: dict[str, list[dict]] = {}
    for row in rows:
        groups.setdefault(row_group(row), []).append(row)
    header = ("group", "impl", "n", "ns", "per", "vs pelm", "note")
    numeric = {2, 3, 5}
    lines: list[tuple[str, ...] | None] = []
    for group, members in groups.items():
        base = next((r for r in members if str(r["impl"]).startswith("pelm")), None)
        for row in members:
            ratio = ""
            if base is not None and base["ns_per_item"] > 0:
                ratio = f"{row['ns_per_item'] / base['ns_per_item']:.2f}x"
            lines.append(
                (
                    group,
                    str(row["impl"]),
                    str(row.get("n", row.get("items", ""))),
                    f"{row['ns_per_item']:.1f}",
                    str(row.get("unit", "item")),
                    ratio,
                    str(row.get("note", "")),
                )
            )
        lines.append(None)
    widths = [max([len(h)] + [len(l[i]) for l in lines if l]) for i, h in enumerate(header)]

    def fmt(cells) -> str:
        return "  ".join(
            c.rjust(w) if i in numeric else c.ljust(w)
            for i, (c, w) in enumerate(zip(cells, widths))
        ).rstrip()

    out = [fmt(header), fmt(["-" * w for w in widths])]
    out.extend("" if line is None else fmt(line) for line in lines[:-1])
    return "\n".join(out)


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description="Runs the benchmarks of bench/.")
    parser.add_argument("--quick", action="store_true", help="fewer repetitions")
    parser.add_argument("--only", metavar="NAME", help="run only bench_NAME.py")
    args = parser.parse_args(argv)

    sys.path.insert(0, str(BENCH_DIR))
    rows: list[dict] = []
    anchors: list[str] = []
    summaries: list[str] = []
    failed: list[str] = []
    for name in discover(args.only):
        print(f"running {name} ...", file=sys.stderr, flush=True)
        try:
            module = importlib.import_module(name)
            module_rows = call_run(module, args.quick)
            if hasattr(module, "summary"):
                summaries.extend(module.summary(module_rows))
        except Exception:
            traceback.print_exc()
            print(f"{name} failed; going on with the others", file=sys.stderr)
            failed.append(name)
            continue
        rows.extend(module_rows)
        anchors.extend(a for a in getattr(module, "ANCHORS", ()) if a not in anchors)

    imported = imported_distributions()
    anchors.extend(r for r in requirement_names() if canonical(r) in imported and r not in anchors)

    print(
        f"Python {platform.python_version()} ({platform.python_implementation()}, {sys.platform})"
    )
    for distribution in ["pelm", *anchors]:
        print(f"{distribution} {version_of(distribution)}")
    print()
    print(format_table(rows) if rows else "no benchmark rows")
    if summaries:
        print()
        print("\n".join(summaries))
    if failed:
        print(f"\nfailed: {', '.join(failed)}")
        return 1
    return 0


if __name__ == "__main__":
    raise SystemExit(main())
