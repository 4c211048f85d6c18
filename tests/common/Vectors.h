// Small 3-vector helpers of the test builders.
#pragma once

namespace kestrelon::test {

// Scales v to length 1.
void Unit(double v[3]);

// out = a x b.
void Cross(const double a[3], const double b[3], double out[3]);

} // namespace kestrelon::test
