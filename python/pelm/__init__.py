"""Fast text, number and sequence utilities, implemented in C++."""

# Each name is re-exported explicitly (`name as name`), so that type checkers
# in strict mode treat the functions as the package's public interface.
from pelm._pelm import __all__ as __all__
from pelm._pelm import backfill as backfill
from pelm._pelm import backfill_iterdict as backfill_iterdict
from pelm._pelm import collapse as collapse
from pelm._pelm import multikeysort as multikeysort
from pelm._pelm import normalize_numeric_str as normalize_numeric_str
from pelm._pelm import parse as parse
from pelm._pelm import same_order as same_order
from pelm._pelm import sanitize_vulgar_string as sanitize_vulgar_string
from pelm._pelm import uncamel as uncamel
from pelm._pelm import underscore_to_camelcase as underscore_to_camelcase
