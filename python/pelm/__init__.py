"""Fast text, number and sequence utilities, implemented in C++."""

from pelm._pelm import (
    __all__,
    backfill,
    backfill_iterdict,
    collapse,
    multikeysort,
    normalize_numeric_str,
    parse,
    same_order,
    sanitize_vulgar_string,
    uncamel,
    underscore_to_camelcase,
)

