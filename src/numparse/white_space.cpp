// Trimming of White_Space code points.
#include "numparse/white_space.hpp"

#include "numparse/numparse.hpp"

namespace pelm::numparse {

std::string_view trim_white_space(std::string_view utf8) noexcept {
    return detail::trim(utf8, false);
}

}  // namespace pelm::numparse
