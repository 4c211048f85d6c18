#include "FloatingPoint.h"

#include <cfenv>

void ClearFloatingPointFaults()
{
    std::feclearexcept(FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW | FE_UNDERFLOW);
}

bool FloatingPointFaultRaised()
{
    return std::fetestexcept(FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW) != 0;
}

const char* FloatingPointFaultText()
{
    if (std::fetestexcept(FE_INVALID))
        return "invalid floating-point operation";
    if (std::fetestexcept(FE_DIVBYZERO))
        return "floating-point division by zero";
    if (std::fetestexcept(FE_OVERFLOW))
        return "floating-point overflow";
    return "";
}
