// Text types shared by every subsystem.
//   BorrowedText: UTF-8 bytes borrowed from a str object for the call.
//   OwnedText:    an owned, growable UTF-8 string; an empty one owns no buffer.
#pragma once

#include <string>
#include <string_view>

#include "frame/alloc.hpp"

namespace pelm {

using BorrowedText = std::string_view;
using OwnedText = std::basic_string<char, std::char_traits<char>, FatalAllocator<char>>;

inline std::string_view view(const OwnedText& t) noexcept { return {t.data(), t.size()}; }

}  // namespace pelm
