// A scratch byte buffer for one call: 64 bytes inside the object, so short texts need no heap,
// and an OwnedText for longer ones.
#pragma once

#include <array>
#include <cstddef>

#include "frame/text.hpp"

namespace pelm::numparse {

class ScratchText {
public:
    static constexpr std::size_t inline_capacity = 64;

    ScratchText() noexcept = default;
    ScratchText(const ScratchText&) = delete;
    ScratchText& operator=(const ScratchText&) = delete;

    // A buffer of at least `size` bytes, holding whatever was left there; it is valid until
    // the next call or the end of the object.
    char* buffer(std::size_t size) {
        if (size <= inline_capacity) return inline_.data();
        heap_.resize(size);
        return heap_.data();
    }

private:
    std::array<char, inline_capacity> inline_;
    OwnedText heap_;
};

}  // namespace pelm::numparse
