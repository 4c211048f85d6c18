// Millisecond clock and sleep.
#pragma once

#include <cstdint>

// Milliseconds from an arbitrary start, monotonic (wraps like a 32-bit tick count).
uint32_t GetTickCount();
// Milliseconds since an arbitrary start, monotonic, without wrapping.
int64_t MonotonicMilliseconds();
void Sleep(uint32_t milliseconds);
