// Keyed hashing for pelm's own maps and sets.
//
// HASH_SEED: 16 random bytes per thread, drawn from the system (getrandom)
// the first time the thread needs them. Each new map or set takes the
// thread's current seed, after which the seed's first word is raised by one,
// so no two maps of a thread share their keys. The hash is SipHash-1-3.
// Iteration order of these containers never reaches a result.
#pragma once

#include <cstdint>
#include <cstring>
#include <functional>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include "frame/alloc.hpp"
#include "frame/text.hpp"

namespace pelm {

struct HashKeys {
    std::uint64_t k0;
    std::uint64_t k1;
};

// The calling thread's current seed; raises its first word by one. A failure
// to draw the seed is the internal fault "failed to generate random data".
HashKeys next_hash_keys();

std::uint64_t siphash13(HashKeys keys, const void* data, std::size_t length) noexcept;

struct TextHasher {
    using is_transparent = void;
    HashKeys keys;
    std::size_t operator()(std::string_view text) const noexcept {
        return static_cast<std::size_t>(siphash13(keys, text.data(), text.size()));
    }
    std::size_t operator()(const OwnedText& text) const noexcept { return (*this)(view(text)); }
};

struct TextEqual {
    using is_transparent = void;
    bool operator()(std::string_view a, std::string_view b) const noexcept { return a == b; }
};

template <class V>
using TextKeyMapBase = std::unordered_map<OwnedText, V, TextHasher, TextEqual,
                                          FatalAllocator<std::pair<const OwnedText, V>>>;

// A hash map keyed by OwnedText, seeded from HASH_SEED.
template <class V>
class TextKeyMap : public TextKeyMapBase<V> {
public:
    TextKeyMap() : TextKeyMapBase<V>(0, TextHasher{next_hash_keys()}) {}
};

using TextKeySetBase = std::unordered_set<OwnedText, TextHasher, TextEqual, FatalAllocator<OwnedText>>;

// A hash set of OwnedText, seeded from HASH_SEED.
class TextKeySet : public TextKeySetBase {
public:
    TextKeySet() : TextKeySetBase(0, TextHasher{next_hash_keys()}) {}
};

// Hash of one Unicode scalar value, for maps keyed by characters.
struct CharHasher {
    HashKeys keys;
    std::size_t operator()(char32_t c) const noexcept {
        std::uint32_t v = c;
        return static_cast<std::size_t>(siphash13(keys, &v, sizeof v));
    }
};

}  // namespace pelm
