// The docstrings of the ten functions (docstrings.cpp).
#pragma once

namespace pelm {

extern const char parse_doc[];
extern const char normalize_numeric_str_doc[];
extern const char multikeysort_doc[];
extern const char sanitize_vulgar_string_doc[];
extern const char uncamel_doc[];
extern const char underscore_to_camelcase_doc[];
extern const char collapse_doc[];
extern const char backfill_doc[];
extern const char backfill_iterdict_doc[];
extern const char same_order_doc[];

}  // namespace pelm
