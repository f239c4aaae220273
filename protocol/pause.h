// Waiting for the transfer-busy flag. The build selects one strategy (for
// measurement; the default is the one kept):
//   ZOREK_TRB_WAIT_SPIN   test again at once
//   ZOREK_TRB_WAIT_PAUSE  a processor pause hint between tests
//   ZOREK_TRB_WAIT_YIELD  the pause hint, and after a bounded number of tries
//                         the rest of the time slice to the thread that holds
//                         the flag (the default)
#pragma once

#include <atomic>
#include <thread>

#if defined(_MSC_VER)
#include <intrin.h>
#endif

#if !defined(ZOREK_TRB_WAIT_SPIN) && !defined(ZOREK_TRB_WAIT_PAUSE) && !defined(ZOREK_TRB_WAIT_YIELD)
#define ZOREK_TRB_WAIT_YIELD
#endif

namespace ZorekInterface {

inline void PauseHint() {
#if defined(_MSC_VER) && (defined(_M_IX86) || defined(_M_X64))
    _mm_pause();
#elif defined(__i386__) || defined(__x86_64__)
    __builtin_ia32_pause();
#elif defined(__aarch64__)
    asm volatile("yield");
#endif
}

// Takes the flag: an atomic test-and-set with acquire ordering, repeated until
// it finds the flag clear. No fairness: whichever waiter finds it clear wins.
inline void TakeFlag(std::atomic<bool>& flag) {
    [[maybe_unused]] unsigned tries = 0;
    while (flag.exchange(true, std::memory_order_acquire)) {
#if defined(ZOREK_TRB_WAIT_PAUSE)
        PauseHint();
#elif defined(ZOREK_TRB_WAIT_YIELD)
        // Wait on a plain load so the cache line is not written while held.
        while (flag.load(std::memory_order_relaxed)) {
            if (++tries < 64) {
                PauseHint();
            } else {
                std::this_thread::yield();
            }
        }
#endif
    }
}

}  // namespace ZorekInterface
