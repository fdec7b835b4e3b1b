// The parameter descriptions of the ten functions.
#pragma once

#include <array>
#include <string_view>

#include "frame/args.hpp"

namespace pelm::tables {

inline constexpr std::array<std::string_view, 1> s_names{"s"};
inline constexpr std::array<std::string_view, 1> camel_names{"camel"};
inline constexpr std::array<std::string_view, 3> multikeysort_names{"items", "columns", "inplace"};
inline constexpr std::array<std::string_view, 1> values_names{"values"};
inline constexpr std::array<std::string_view, 1> iterdict_names{"iterdict"};
inline constexpr std::array<std::string_view, 2> same_order_names{"ref_list", "comp"};

inline constexpr ArgumentTable parse{"parse", s_names, 1};
inline constexpr ArgumentTable normalize_numeric_str{"normalize_numeric_str", s_names, 1};
inline constexpr ArgumentTable multikeysort{"multikeysort", multikeysort_names, 2};
inline constexpr ArgumentTable sanitize_vulgar_string{"sanitize_vulgar_string", s_names, 1};
inline constexpr ArgumentTable uncamel{"uncamel", camel_names, 1};
inline constexpr ArgumentTable underscore_to_camelcase{"underscore_to_camelcase", s_names, 1};
// collapse names no parameters: its table serves only to refuse keywords.
inline constexpr ArgumentTable collapse{"collapse", {}, 0};
inline constexpr ArgumentTable backfill{"backfill", values_names, 1};
inline constexpr ArgumentTable backfill_iterdict{"backfill_iterdict", iterdict_names, 1};
inline constexpr ArgumentTable same_order{"same_order", same_order_names, 2};

}  // namespace pelm::tables
