#include "dictsort/bit_extract.hpp"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <cpuid.h>
#endif

namespace pelm::dictsort {
namespace {

bool detect_fast_bit_extract() noexcept {
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
    unsigned eax = 0;
    unsigned ebx = 0;
    unsigned ecx = 0;
    unsigned edx = 0;
    if (__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx) == 0 || (ebx & bit_BMI2) == 0) {
        return false;
    }
    if (__get_cpuid(0, &eax, &ebx, &ecx, &edx) == 0) return false;
    if (ebx == signature_INTEL_ebx && ecx == signature_INTEL_ecx && edx == signature_INTEL_edx) {
        return true;
    }
    if (ebx != signature_AMD_ebx || ecx != signature_AMD_ecx || edx != signature_AMD_edx) {
        return false;
    }
    if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0) return false;
    const unsigned base_family = (eax >> 8) & 0xf;
    const unsigned family = base_family == 0xf ? base_family + ((eax >> 20) & 0xff) : base_family;
    return family >= 0x19;  // Zen 3 and later
#else
    return false;
#endif
}

// Asked once, when the module's code is loaded: a function-local static
// would take a guard lock at its first use, which a fork() at that moment
// would leave held in the child.
const bool FAST_BIT_EXTRACT = detect_fast_bit_extract();

}  // namespace

bool fast_bit_extract() noexcept { return FAST_BIT_EXTRACT; }

}  // namespace pelm::dictsort
