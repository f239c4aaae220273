// One step of the wait for the transfer-busy flag: a processor pause hint,
// which eases the spin on the core and on a hyper-thread sibling.
#pragma once

#if defined(_MSC_VER)
#include <intrin.h>
#endif

namespace ZorekInterface {

inline void WaitForTransfer() {
#if defined(_MSC_VER) && (defined(_M_IX86) || defined(_M_X64))
    _mm_pause();
#elif defined(__i386__) || defined(__x86_64__)
    __builtin_ia32_pause();
#elif defined(__aarch64__)
    asm volatile("yield");
#endif
}

}  // namespace ZorekInterface
