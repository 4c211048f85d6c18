// Floating-point fault checks in place of hardware traps: a computation clears
// the flags when it starts and tests them after each phase.
#pragma once

// Clears the invalid, divide-by-zero, overflow and underflow flags of this thread.
void ClearFloatingPointFaults();
// True when invalid, divide-by-zero or overflow was raised since the last clear
// (underflow is not a fault).
bool FloatingPointFaultRaised();
// A short text naming the raised faults ("invalid operation", ...), empty when none.
const char* FloatingPointFaultText();
