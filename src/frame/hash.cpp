// HASH_SEED and SipHash-1-3 (one compression round per block, three
// finalisation rounds), the keyed hash of pelm's own maps and sets.
#include "frame/hash.hpp"

#include <sys/random.h>

#include <cerrno>
#include <optional>

#include "frame/fault.hpp"

namespace pelm {
namespace {

thread_local std::optional<HashKeys> HASH_SEED;

HashKeys draw_seed() {
    unsigned char bytes[16];
    size_t filled = 0;
    while (filled < sizeof bytes) {
        ssize_t got = getrandom(bytes + filled, sizeof bytes - filled, 0);
        if (got < 0) {
            if (errno == EINTR) continue;
            fault("failed to generate random data");
        }
        filled += static_cast<size_t>(got);
    }
    HashKeys keys;
    std::memcpy(&keys.k0, bytes, 8);
    std::memcpy(&keys.k1, bytes + 8, 8);
    return keys;
}

constexpr std::uint64_t rotl(std::uint64_t x, int b) { return (x << b) | (x >> (64 - b)); }

struct SipState {
    std::uint64_t v0, v1, v2, v3;
    void round() {
        v0 += v1;
        v1 = rotl(v1, 13);
        v1 ^= v0;
        v0 = rotl(v0, 32);
        v2 += v3;
        v3 = rotl(v3, 16);
        v3 ^= v2;
        v0 += v3;
        v3 = rotl(v3, 21);
        v3 ^= v0;
        v2 += v1;
        v1 = rotl(v1, 17);
        v1 ^= v2;
        v2 = rotl(v2, 32);
    }
    void absorb(std::uint64_t m) {
        v3 ^= m;
        round();
        v0 ^= m;
    }
};

}  // namespace

HashKeys next_hash_keys() {
    if (!HASH_SEED) HASH_SEED = draw_seed();
    HashKeys current = *HASH_SEED;
    HASH_SEED->k0 += 1;
    return current;
}

std::uint64_t siphash13(HashKeys keys, const void* data, std::size_t length) noexcept {
    SipState s{keys.k0 ^ 0x736f6d6570736575ULL, keys.k1 ^ 0x646f72616e646f6dULL,
               keys.k0 ^ 0x6c7967656e657261ULL, keys.k1 ^ 0x7465646279746573ULL};
    const auto* bytes = static_cast<const unsigned char*>(data);
    std::size_t whole = length & ~std::size_t(7);
    for (std::size_t i = 0; i < whole; i += 8) {
        std::uint64_t m;
        std::memcpy(&m, bytes + i, 8);
        s.absorb(m);
    }
    std::uint64_t last = std::uint64_t(length & 0xff) << 56;
    for (std::size_t i = 0; i < (length & 7); ++i) last |= std::uint64_t(bytes[whole + i]) << (8 * i);
    s.absorb(last);
    s.v2 ^= 0xff;
    s.round();
    s.round();
    s.round();
    return s.v0 ^ s.v1 ^ s.v2 ^ s.v3;
}

}  // namespace pelm
