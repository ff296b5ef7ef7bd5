// The yardstick of the stall benchmark: an out-of-line call that does
// nothing, in its own translation unit so the compiler cannot inline it or
// see that it does nothing. The asm barrier keeps the call from being
// treated as free of side effects.
#include "bare_call.hpp"

extern "C" __attribute__((noinline)) void bare_call(unsigned us) {
    asm volatile("" : : "r"(us) : "memory");
}
